#!/usr/bin/env node
'use strict';
// Checks a live relay end to end: two test members join with fresh invites, swap a
// message both ways, and are removed again. Prints each step; exits 1 on the first
// failure. Needs the owner key (~/.mosswire/owner.json); the relay is MOSSWIRE_SERVER
// (default ws://127.0.0.1:8787).
const P = require('../web/protocol.js');
const O = require('./owner-lib.js');
const { FrameSocket } = require('./frames.js');

const STEP_TIMEOUT = 30000; // a sleeping relay host can take a while to wake

function say(line) {
  process.stdout.write(line + '\n');
}

async function step(what, fn) {
  const t0 = Date.now();
  try {
    const r = await fn();
    say('✓ ' + what + ' (' + (Date.now() - t0) + ' ms)');
    return r;
  } catch (e) {
    say('✗ ' + what + ': ' + (e && e.message ? e.message : e));
    throw Object.assign(e instanceof Error ? e : new Error(String(e)), { reported: true });
  }
}

async function join(url, owner, ownerCert, name) {
  const inv = await P.makeInvite(ownerCert, owner, 1);
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(inv, keys, name);
  const id = await P.idOf(keys.sigPub);
  const s = await FrameSocket.open(url, { timeout: STEP_TIMEOUT });
  const hello = await s.next('hello', STEP_TIMEOUT);
  if (hello.net !== owner.sigPub) {
    s.close();
    throw new Error(hello.net ? 'the relay belongs to another network' : 'the relay has no OWNER_KEY set');
  }
  s.send({ t: 'auth', v: 'livetest', cert, sig: await P.sign(keys.sigPriv, ['msw-auth', hello.nonce]), dir: [cert] });
  const r = await s.next(['welcome', 'denied', 'removed'], STEP_TIMEOUT);
  if (r.t !== 'welcome') {
    s.close();
    throw new Error('the relay answered ' + r.t + (r.msg ? ': ' + r.msg : ''));
  }
  return { name, keys, cert, id, s, box: P.createBox(id, keys.ecdhPriv) };
}

async function swap(from, to, text) {
  const ref = P.randomHex(12);
  const sealed = await from.box.seal({ k: 'livetest', text }, [{ id: to.id, ecdh: to.keys.ecdhPub }]);
  from.s.send({ t: 'send', ref, ttl: 60000, iv: sealed.iv, ct: sealed.ct, keys: sealed.keys });
  const r = await from.s.next(['sent', 'error'], STEP_TIMEOUT);
  if (r.t === 'error') throw new Error('the relay refused the message: ' + r.msg);
  if (r.ref !== ref) throw new Error('the relay confirmed another message');
  for (;;) {
    const env = await to.s.next('env', STEP_TIMEOUT);
    to.s.send({ t: 'ack', eids: [env.eid] });
    if (env.from !== from.id) continue;
    const got = await to.box.open(env, from.keys.ecdhPub);
    if (!got || got.text !== text) throw new Error('the message arrived but did not open to what was sent');
    return;
  }
}

async function main() {
  const url = O.serverUrl();
  say('Live test of ' + url);
  let owner;
  let ownerCert;
  try {
    owner = O.readOwner();
    ownerCert = await O.ownerCertOf(owner);
  } catch (e) {
    say('✗ ' + e.message);
    return 1;
  }
  const tag = P.randomHex(3);
  let a = null;
  let b = null;
  let admin = null;
  let removed = false;
  try {
    await step('the relay answers /health', async () => {
      const health = url.replace(/^ws/, 'http').replace(/\/*$/, '') + '/health';
      const res = await fetch(health, { cache: 'no-store', signal: AbortSignal.timeout(STEP_TIMEOUT) });
      if (res.status !== 200) throw new Error(health + ' answered ' + res.status);
    });
    a = await step('test member lt_' + tag + '_a joins with a fresh invite', () => join(url, owner, ownerCert, 'lt_' + tag + '_a'));
    b = await step('test member lt_' + tag + '_b joins with a fresh invite', () => join(url, owner, ownerCert, 'lt_' + tag + '_b'));
    await step('a → b: a message is delivered and opens', () => swap(a, b, 'hello from a ' + tag));
    await step('b → a: a message is delivered and opens', () => swap(b, a, 'hello from b ' + tag));
    admin = await step('the owner key signs in to the relay', () => O.adminSession(owner, url));
    await step('both test members are removed', async () => {
      await O.publishRemovals(admin, owner, [a.id, b.id]);
      removed = true;
      await a.s.next('removed', STEP_TIMEOUT);
      await b.s.next('removed', STEP_TIMEOUT);
    });
    say('Live test passed.');
    return 0;
  } catch (e) {
    if (!e.reported) say('✗ ' + (e.message || e));
    // Test members that got in are not left behind in the network.
    const joined = [a, b].filter(Boolean).map((m) => m.id);
    if (joined.length && !removed) {
      try {
        if (!admin) admin = await O.adminSession(owner, url);
        await O.publishRemovals(admin, owner, joined);
        say('  (the test members that joined were removed again)');
      } catch (e2) {
        say("  (couldn't remove the test members that joined: " + e2.message + ')');
      }
    }
    say('Live test FAILED.');
    return 1;
  } finally {
    for (const x of [a && a.s, b && b.s, admin]) if (x) x.close();
  }
}

if (require.main === module) main().then((code) => process.exit(code));
