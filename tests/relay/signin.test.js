'use strict';
const test = require('node:test');
const assert = require('node:assert');
const H = require('./helpers.js');
const { P } = H;

test('sign-in and admission', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  const open = [];
  t.after(() => open.forEach((s) => s.close()));
  const signIn = async (m, extra) => {
    const s = await H.signIn(relay.url, m, extra);
    open.push(s);
    return s;
  };

  await t.test('hello names the network, a fresh nonce per connection and the boot id', async () => {
    const a = await H.FrameSocket.open(relay.url);
    const b = await H.FrameSocket.open(relay.url);
    open.push(a, b);
    const ha = await a.next('hello');
    const hb = await b.next('hello');
    assert.strictEqual(ha.net, owner.key);
    assert.match(ha.boot, /^[0-9a-f]{16}$/);
    assert.strictEqual(ha.boot, hb.boot);
    assert.notStrictEqual(ha.nonce, hb.nonce);
  });

  const alice = await H.makeMember(owner, 'Alice');
  const bob = await H.makeMember(owner, 'bob');

  await t.test('a member is welcomed with the directory and the online set; others hear member and presence', async () => {
    const sa = await signIn(alice);
    assert.strictEqual(sa.answer.t, 'welcome');
    assert.deepStrictEqual(sa.answer.online, [alice.id]);
    assert.strictEqual(sa.answer.dir.length, 1);
    assert.strictEqual(sa.answer.removals, null);
    const sb = await signIn(bob);
    assert.strictEqual(sb.answer.t, 'welcome');
    assert.deepStrictEqual(sb.answer.online.sort(), [alice.id, bob.id].sort());
    assert.strictEqual(sb.answer.dir.length, 2);
    const m = await sa.next('member');
    assert.strictEqual(m.cert.m.name, 'bob');
    const p = await sa.next('presence');
    assert.deepStrictEqual([p.id, p.on], [bob.id, true]);
    sb.close();
    const off = await sa.next('presence');
    assert.deepStrictEqual([off.id, off.on], [bob.id, false]);
  });

  await t.test('signing in again keeps the id and sends replaced to the older connection', async () => {
    const first = await signIn(bob);
    const second = await signIn(bob);
    assert.strictEqual(second.answer.t, 'welcome');
    await first.next('replaced');
    await first.whenClosed();
    // The member stayed online throughout: no presence off for the swap.
    const watcher = await signIn(await H.makeMember(owner, 'watcher'));
    assert.ok(watcher.answer.online.includes(bob.id));
  });

  await t.test('a second member with the same invite is denied "member"', async () => {
    const intruder = await H.makeMember(owner, 'intruder', alice.inv);
    const s = await signIn(intruder);
    assert.strictEqual(s.answer.t, 'denied');
    assert.strictEqual(s.answer.why, 'member');
    assert.ok(s.answer.msg.length > 0);
    await s.whenClosed();
  });

  await t.test('a taken username, in any case, is denied "name"', async () => {
    const s = await signIn(await H.makeMember(owner, 'ALICE'));
    assert.deepStrictEqual([s.answer.t, s.answer.why], ['denied', 'name']);
  });

  await t.test('a re-chosen name with the kept invite and keys is accepted', async () => {
    const inv = await P.makeInvite(owner.cert, owner.keys, 24);
    const keys = await P.generateKeys();
    const taken = { keys, inv, cert: await P.acceptInvite(inv, keys, 'bob'), id: await P.idOf(keys.sigPub) };
    assert.strictEqual((await signIn(taken)).answer.why, 'name');
    const renamed = Object.assign({}, taken, { cert: await P.acceptInvite(inv, keys, 'bobby') });
    const s = await signIn(renamed);
    assert.strictEqual(s.answer.t, 'welcome');
  });

  await t.test('the owner certificate never signs in as a member', async () => {
    const s = await signIn({ cert: owner.cert, keys: owner.keys });
    assert.deepStrictEqual([s.answer.t, s.answer.why], ['denied', 'owner']);
  });

  await t.test('a certificate of another network is denied', async () => {
    const other = await H.makeOwner();
    const s = await signIn(await H.makeMember(other, 'stranger'));
    assert.deepStrictEqual([s.answer.t, s.answer.why], ['denied', 'cert']);
  });

  await t.test('forged signatures are denied', async () => {
    const carol = await H.makeMember(owner, 'carol');
    // Signed over somebody else's nonce (a replayed sign-in).
    const s1 = await H.FrameSocket.open(relay.url);
    open.push(s1);
    await s1.next('hello');
    s1.send(await H.authFrame(carol, { nonce: 'f'.repeat(32) }));
    assert.strictEqual((await s1.next('denied')).why, 'auth');
    // Signed by another key.
    const s2 = await H.FrameSocket.open(relay.url);
    open.push(s2);
    const hello = await s2.next('hello');
    const frame = await H.authFrame(carol, hello);
    frame.sig = await P.sign(bob.keys.sigPriv, ['msw-auth', hello.nonce]);
    s2.send(frame);
    assert.strictEqual((await s2.next('denied')).why, 'auth');
    // A certificate whose member record was changed after signing.
    const bent = JSON.parse(JSON.stringify(carol.cert));
    bent.m.name = 'caroline';
    const s3 = await signIn(Object.assign({}, carol, { cert: bent }));
    assert.strictEqual(s3.answer.why, 'cert');
    // A member-signed invite: every signature good, but only the owner invites.
    const inv = await P.makeInvite(carol.cert, carol.keys, 24);
    const s4 = await signIn(await H.makeMember(owner, 'dave', inv));
    assert.strictEqual(s4.answer.why, 'cert');
  });

  await t.test('a malformed auth is denied, and a second auth on a signed-in connection is refused', async () => {
    const s = await H.FrameSocket.open(relay.url);
    open.push(s);
    await s.next('hello');
    s.send({ t: 'auth', cert: 'nope', sig: 5 });
    assert.strictEqual((await s.next('denied')).why, 'bad');
    const ok = await signIn(await H.makeMember(owner, 'erin'));
    ok.send(await H.authFrame(alice, ok.hello));
    assert.match((await ok.next('error')).msg, /Already signed in/);
  });

  await t.test('certificates handed over in dir are learned and announced', async () => {
    const far = await H.makeMember(owner, 'faraway');
    const fay = await H.makeMember(owner, 'fay');
    const watcher = await signIn(await H.makeMember(owner, 'watcher2'));
    await H.quiet(watcher, ['member', 'presence'], 100);
    const s = await signIn(fay, { dir: { [fay.id]: fay.cert, [far.id]: far.cert, junk: { m: 1 } } });
    assert.ok(s.answer.dir.some((c) => c.m.name === 'faraway'));
    const names = [];
    for (let i = 0; i < 2; i++) names.push((await watcher.next('member')).cert.m.name);
    assert.deepStrictEqual(names.sort(), ['faraway', 'fay']);
  });
});

test('one invite admits one member under a race of two sign-ins', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  for (let round = 0; round < 5; round++) {
    const inv = await P.makeInvite(owner.cert, owner.keys, 24);
    const a = await H.makeMember(owner, 'racer' + round + 'a', inv);
    const b = await H.makeMember(owner, 'racer' + round + 'b', inv);
    const [sa, sb] = await Promise.all([H.FrameSocket.open(relay.url), H.FrameSocket.open(relay.url)]);
    const [ha, hb] = await Promise.all([sa.next('hello'), sb.next('hello')]);
    const [fa, fb] = await Promise.all([H.authFrame(a, ha), H.authFrame(b, hb)]);
    sa.send(fa);
    sb.send(fb);
    const answers = await Promise.all([sa.next(['welcome', 'denied']), sb.next(['welcome', 'denied'])]);
    const kinds = answers.map((x) => x.t + (x.why ? ':' + x.why : '')).sort();
    assert.deepStrictEqual(kinds, ['denied:member', 'welcome'], 'round ' + round);
    sa.close();
    sb.close();
  }
});

test('a member whose connection stops answering pings goes offline for the others', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key, env: { RELAY_HEARTBEAT_MS: '300' } });
  t.after(() => relay.stop());
  const [kai, lee] = await Promise.all([H.makeMember(owner, 'kai'), H.makeMember(owner, 'lee')]);
  const sk = await H.signIn(relay.url, kai);
  const sl = await H.signIn(relay.url, lee, undefined, { autoPong: false });
  t.after(() => [sk, sl].forEach((s) => s.close()));
  assert.strictEqual((await sk.next('presence')).on, true);
  const off = await sk.next('presence', 5000);
  assert.deepStrictEqual([off.id, off.on], [lee.id, false]);
  await sl.whenClosed(5000);
  // The one that answers stays.
  await new Promise((r) => setTimeout(r, 600));
  assert.strictEqual(sk.closed, null);
});

test('a relay without OWNER_KEY says no network and denies every sign-in with "setup"', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay();
  t.after(() => relay.stop());
  const s = await H.signIn(relay.url, await H.makeMember(owner, 'early'));
  t.after(() => s.close());
  assert.strictEqual(s.hello.net, undefined);
  assert.deepStrictEqual([s.answer.t, s.answer.why], ['denied', 'setup']);
  const look = await H.FrameSocket.open(relay.url);
  t.after(() => look.close());
  await look.next('hello');
  look.send({ t: 'spoken_get' });
  const list = await look.next('spoken_list');
  assert.deepStrictEqual([list.entries, list.online], [[], 0]);
});

test('a malformed OWNER_KEY stops the relay with a clear message', async () => {
  await assert.rejects(H.startRelay({ ownerKey: 'not-a-key' }), /OWNER_KEY must be the owner's signing public key/);
});
