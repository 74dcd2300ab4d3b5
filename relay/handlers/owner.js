'use strict';
// The owner's records and tools: owner-signed `announce` and `removals` (from the
// owner's tools or handed on by any member: the signature is what counts, not who
// delivers it), and the tools' own `members` and `stats`. Records are checked by their
// signatures in network.js, so these rows have no shape check of their own.
const { takeRemovals } = require('./signin.js');

async function onAnnounce(relay, c, f) {
  const taken = await relay.net.takeAnn(f.ann);
  if (taken) {
    relay.toMembers({ t: 'ann', ann: taken }, c);
    if (c.state === 'admin') c.send({ t: 'ok', of: 'announce', id: taken.id });
    return;
  }
  // Members hand over copies the relay may already hold; only the owner's tools are
  // told, since they report success or failure to a person.
  if (c.state === 'admin') c.answer(f, "That announcement wasn't taken: it isn't signed by this network's owner, or a newer version of it is already here.");
}

async function onRemovals(relay, c, f) {
  const taken = await takeRemovals(relay, f.removals);
  if (c.state !== 'admin') return;
  const net = relay.net;
  if (!taken) return c.answer(f, "That removal list wasn't taken: it isn't signed by this network's owner, or its version isn't above " + (net.removals ? net.removals.v : 0) + '.');
  c.send({ t: 'ok', of: 'removals', v: net.removals.v });
}

async function onMembers(relay, c) {
  const { net, online } = relay;
  const members = [...net.members.values()].map((r) => ({
    id: r.info.id,
    name: r.info.name,
    at: r.info.at,
    online: online.has(r.info.id),
  }));
  c.send({ t: 'members', members, removals: net.removals });
}

async function onStats(relay, c) {
  if (typeof global.gc === 'function') global.gc();
  const mem = process.memoryUsage();
  c.send({
    t: 'stats',
    members: relay.net.members.size,
    online: relay.online.size,
    queued: relay.mail.count,
    queuedBytes: relay.mail.bytes,
    heapUsed: mem.heapUsed,
    rss: mem.rss,
  });
}

const FRAMES = {
  announce: { who: 'signed', check: null, run: onAnnounce },
  removals: { who: 'signed', check: null, run: onRemovals },
  members: { who: 'admin', check: null, run: onMembers },
  stats: { who: 'admin', check: null, run: onStats },
};

module.exports = { FRAMES };
