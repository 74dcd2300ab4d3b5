'use strict';
// Spoken-code entries: the owner's `spoken_put` (also handed on by members) and the
// lookup `spoken_get`, which a person about to join sends before having any identity.
const L = require('../limits.js');

async function onSpokenPut(relay, c, f) {
  let n = 0;
  for (const e of f.entries) {
    const taken = await relay.net.takeSpoken(e);
    if (!taken) continue;
    n++;
    relay.toMembers({ t: 'spoken', entry: taken }, c);
  }
  if (c.state === 'admin') {
    if (n === 0 && f.entries.length) return c.answer(f, "No spoken entry was taken: each must be signed by this network's owner, unexpired and new.");
    c.send({ t: 'ok', of: 'spoken_put', taken: n });
  }
}

async function onSpokenGet(relay, c) {
  c.send({ t: 'spoken_list', entries: relay.net ? relay.net.spokenList() : [], online: relay.online.size });
}

function checkPut(f) {
  if (!Array.isArray(f.entries) || f.entries.length > L.MAX_SPOKEN_PUT) {
    return 'entries must be a list of at most ' + L.MAX_SPOKEN_PUT + ' spoken entries.';
  }
  return null;
}

const FRAMES = {
  spoken_put: { who: 'signed', check: checkPut, run: onSpokenPut },
  spoken_get: { who: 'any', check: null, run: onSpokenGet },
};

module.exports = { FRAMES };
