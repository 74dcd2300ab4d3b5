'use strict';
// Sign-in: a member's `auth` and the owner's tools' `admin`, both answering the nonce
// of this connection's `hello`.
const P = require('../../web/protocol.js');
const L = require('../limits.js');
const C = require('../check.js');
const { take } = require('../bucket.js');

const DENIED = {
  setup: "This server isn't set up yet: it has no owner key (OWNER_KEY).",
  bad: 'That sign-in was malformed.',
  cert: "That membership certificate doesn't belong to this server's network.",
  auth: "The sign-in signature didn't check out.",
  owner: "The owner key doesn't sign in as a member. Make an invite with node tools/owner.js invite and join with that.",
  member: 'This invite was already used by another member. Ask the owner for a new invite.',
  name: 'That username is already taken.',
  full: 'This network has reached the number of members this server holds.',
  admin: "That isn't the owner key of this network.",
};

// Checked after the signature, so nobody can spend another member's sign-ins with its
// public certificate. The close is not a `denied`: the client reconnects on its own,
// after its growing delay, instead of stopping.
function tooOften(c, rates) {
  if (take(rates.signins)) return false;
  c.finish(1013, 'signing in too often, try again later');
  return true;
}

async function onAuth(relay, c, f) {
  const { net, mail, online } = relay;
  if (!net) return c.deny('setup');
  c.state = 'busy';
  const info = await net.check(f.cert);
  if (!info) return c.deny('cert');
  if (!(await P.verify(info.sig, ['msw-auth', c.nonce], f.sig))) return c.deny('auth');
  if (c.state === 'closed') return;
  const rates = relay.ratesFor(info.id);
  if (tooOften(c, rates)) return;
  // What the member knows goes in before the admission decision: its removal list
  // may be newer than ours.
  await merge(relay, f, info.id);
  if (c.state === 'closed') return;

  // From here to the end nothing awaits: the admission decision is atomic.
  const why = net.conflict(info);
  if (why === 'removed') {
    c.send({ t: 'removed' });
    return c.finish(1000, 'removed');
  }
  if (why) return c.deny(why);
  const changed = net.admit(info, true);
  const old = online.get(info.id);
  if (old) {
    old.send({ t: 'replaced' });
    old.finish(1000, 'replaced');
  }
  c.signedIn('member', info.id, rates);
  online.set(info.id, c);
  c.send({
    t: 'welcome',
    dir: net.certs(),
    removals: net.removals,
    ann: net.annList(),
    spoken: net.spokenList(),
    online: [...online.keys()],
  });
  if (changed) relay.toMembers({ t: 'member', cert: info.cert }, c);
  if (!old) relay.toMembers({ t: 'presence', id: info.id, on: true }, c);
  for (const env of mail.pending(info.id)) c.send(env);
}

// Takes the records a signed-in client hands over and tells everybody online what
// was new to the relay.
async function merge(relay, f, selfId) {
  const { net } = relay;
  await takeRemovals(relay, f.removals);
  const fresh = await net.learnAll(C.listOf(f.dir, L.MAX_MEMBERS), selfId);
  for (const cert of fresh) relay.toMembers({ t: 'member', cert });
  for (const a of C.listOf(f.ann, L.MAX_AUTH_ANN)) {
    const taken = await net.takeAnn(a);
    if (taken) relay.toMembers({ t: 'ann', ann: taken });
  }
  for (const e of C.listOf(f.spoken, L.MAX_AUTH_SPOKEN)) {
    const taken = await net.takeSpoken(e);
    if (taken) relay.toMembers({ t: 'spoken', entry: taken });
  }
}

// Takes a removal list from anyone (the owner's signature is what counts), closes the
// connections of the members it removes and tells the others. Gives whether it was new.
async function takeRemovals(relay, list) {
  if (list === undefined || list === null) return false;
  const { net, mail, online } = relay;
  const gone = await net.takeRemovals(list);
  if (!gone) return false;
  for (const id of gone) {
    mail.forget(id);
    const c = online.get(id);
    if (c) {
      online.delete(id);
      c.send({ t: 'removed' });
      c.finish(1000, 'removed');
    }
  }
  relay.toMembers({ t: 'removals', removals: net.removals });
  for (const id of gone) relay.toMembers({ t: 'presence', id, on: false });
  return true;
}

async function onAdmin(relay, c, f) {
  const { net, owner } = relay;
  if (!net) return c.deny('setup');
  c.state = 'busy';
  if (!(await P.verify(owner, ['msw-admin', c.nonce], f.sig))) return c.deny('admin');
  if (c.state === 'closed') return;
  // The owner's tools sign in once per command, and a script may run many: only the
  // owner holds the key, so its sign-ins are not counted.
  c.signedIn('admin', null, relay.ratesFor('owner'));
  c.send({ t: 'admin_ok', boot: relay.boot, removals: net.removals });
}

function checkAdmin(f) {
  return P.isB64(f.sig, P.SIG, P.SIG) ? null : 'sig must be ' + P.SIG + ' Base64 characters.';
}

const FRAMES = {
  auth: { who: 'new', check: C.checkAuth, refuse: 'deny', run: onAuth },
  admin: { who: 'new', check: checkAdmin, refuse: 'deny', run: onAdmin },
};

module.exports = { FRAMES, DENIED, takeRemovals };
