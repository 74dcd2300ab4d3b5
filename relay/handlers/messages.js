'use strict';
// Members' messages: `send` queues one envelope per recipient and delivers it to those
// online; `ack` lets envelopes go.
const C = require('../check.js');
const { take } = require('../bucket.js');

async function onSend(relay, c, f) {
  if (!take(c.rates.sends)) return c.answer(f, "You're sending too fast. Wait a moment and try again.");
  const { net, mail, online } = relay;
  const to = [];
  for (const id of Object.keys(f.keys)) if (net.members.has(id)) to.push([id, f.keys[id]]);
  if (to.length === 0) return c.answer(f, 'None of the recipients is a member of this network.');
  const { queued } = mail.putAll(c.id, f.iv, f.ct, to, typeof f.ttl === 'number' ? f.ttl : 0);
  if (queued.length === 0) {
    return c.answer(f, "The server can't take more messages for that member right now. Try again later.");
  }
  for (const [id, env] of queued) {
    const r = online.get(id);
    if (r) r.send(env);
  }
  const ok = { t: 'sent' };
  if (f.ref !== undefined) ok.ref = f.ref;
  c.send(ok);
}

async function onAck(relay, c, f) {
  relay.mail.ack(c.id, f.eids);
}

const FRAMES = {
  send: { who: 'member', check: C.checkSend, run: onSend },
  ack: { who: 'member', check: C.checkAck, run: onAck },
};

module.exports = { FRAMES };
