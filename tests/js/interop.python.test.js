'use strict';
// Interoperability with an independent implementation of the same primitives: Python's
// `cryptography` package (tests/js/interop/peer.py). Whatever one side makes, the other
// must check, open or derive identically.
const test = require('node:test');
const assert = require('node:assert/strict');
const { P, makeOwner, makeMember } = require('./interop/net.js');
const { startPeer, unavailable } = require('./interop/python.js');

const why = unavailable();
if (why) throw new Error(why + ' (scripts/deps.sh installs it)');

let py, owner, maya;
test.before(async () => {
  py = startPeer();
  owner = await makeOwner('Owner');
  maya = await makeMember(owner, 'maya');
});
test.after(() => py.close());

const SAMPLE = [
  'msw-auth',
  { b: [1, { z: null, a: true }], a: 'ünïcode 漢字 😀 "quoted" \\ \n\t\u0001\u007f\u2028', c: 1793233993890, B: false, '': -42 },
  [],
  {},
];

test('both sides write the same canonical text', async () => {
  const { text } = await py.call('canon', { data: SAMPLE });
  assert.equal(text, P.canon(SAMPLE));
  assert.equal((await py.call('canon', { data: maya.cert })).text, P.canon(maya.cert));
});

test('a signature made here verifies there over the canonical bytes, and tampering shows', async () => {
  const sig = await P.sign(owner.keys.sigPriv, SAMPLE);
  assert.equal((await py.call('verify', { pub: owner.pub, data: SAMPLE, sig })).valid, true);
  const altered = JSON.parse(JSON.stringify(SAMPLE));
  altered[1].c += 1;
  assert.equal((await py.call('verify', { pub: owner.pub, data: altered, sig })).valid, false);
  assert.equal((await py.call('verify', { pub: maya.keys.sigPub, data: SAMPLE, sig })).valid, false);
  // The private key travels as PKCS#8 that the other side loads as the same key.
  assert.equal((await py.call('pub_of', { priv: owner.keys.sigPriv })).pub, owner.pub);
});

test('a signature made there verifies here, with keys from either side', async () => {
  const theirs = await py.call('keygen');
  assert.ok(P.isB64(theirs.sigPub, P.PUB, P.PUB));
  const { sig } = await py.call('sign', { priv: theirs.sigPriv, data: SAMPLE });
  assert.equal(P.fromB64(sig).length, 64);
  assert.equal(await P.verify(theirs.sigPub, SAMPLE, sig), true);
  assert.equal(await P.verify(theirs.sigPub, ['msw-auth'], sig), false);
  // A key Python generated signs here too, and the signature verifies there.
  const mine = await P.sign(theirs.sigPriv, SAMPLE);
  assert.equal((await py.call('verify', { pub: theirs.sigPub, data: SAMPLE, sig: mine })).valid, true);
  // And a signature of our key made there verifies here.
  const ours = await py.call('sign', { priv: owner.keys.sigPriv, data: ['msw-invite', 'x', 5] });
  assert.equal(await P.verify(owner.pub, ['msw-invite', 'x', 5], ours.sig), true);
});

test('member ids and safety numbers agree', async () => {
  for (const keys of [owner.keys, maya.keys, await py.call('keygen')]) {
    assert.equal((await py.call('id', { sigPub: keys.sigPub })).id, await P.idOf(keys.sigPub));
    const x = { sig: keys.sigPub, ecdh: keys.ecdhPub };
    assert.equal((await py.call('safety', x)).number, await P.safetyNumber(x));
  }
});

test('certificates made here pass the chain check written there, with the same info', async () => {
  assert.deepEqual((await py.call('verify_cert', { cert: owner.cert, owner: owner.pub })).info, owner.info);
  assert.deepEqual((await py.call('verify_cert', { cert: maya.cert, owner: owner.pub })).info, maya.info);
  const inv = await P.readShortInvite(await P.makeShortInvite(owner.keys.sigPriv, 2), owner.cert);
  const cert = await P.acceptInvite(inv, await P.generateKeys(), 'Short.One');
  assert.deepEqual((await py.call('verify_cert', { cert, owner: owner.pub })).info, await P.verifyCert(cert, owner.pub));
  // An invite signed by a member fails on both sides.
  const bad = await P.acceptInvite(await P.makeInvite(maya.cert, maya.keys, 1), await P.generateKeys(), 'bad');
  assert.equal((await py.call('verify_cert', { cert: bad, owner: owner.pub })).info, null);
  assert.equal(await P.verifyCert(bad, owner.pub), null);
});

test('a certificate chain signed entirely there checks here', async () => {
  const [ownerKeys, inviteKeys, memberKeys] = [await py.call('keygen'), await py.call('keygen'), await py.call('keygen')];
  const om = { name: 'pyOwner', sig: ownerKeys.sigPub, ecdh: ownerKeys.ecdhPub, at: 1793233993890 };
  const oc = { m: om, s: (await py.call('sign', { priv: ownerKeys.sigPriv, data: ['msw-owner', om] })).sig };
  const exp = 1793233999999;
  const g = { ik: inviteKeys.sigPub, exp, from: oc, s: (await py.call('sign', { priv: ownerKeys.sigPriv, data: ['msw-invite', inviteKeys.sigPub, exp] })).sig };
  const mm = { name: 'py_member', sig: memberKeys.sigPub, ecdh: memberKeys.ecdhPub, at: exp };
  const mc = { m: mm, by: g, s: (await py.call('sign', { priv: inviteKeys.sigPriv, data: ['msw-join', mm] })).sig };
  const info = await P.verifyCert(mc, ownerKeys.sigPub);
  assert.ok(info);
  assert.deepEqual(info, (await py.call('verify_cert', { cert: mc, owner: ownerKeys.sigPub })).info);
  assert.equal(info.by, await P.idOf(ownerKeys.sigPub));
});

test('a message sealed there for a recipient here opens here', async () => {
  const sender = await py.call('keygen');
  const senderId = (await py.call('id', { sigPub: sender.sigPub })).id;
  const payload = { k: 'msg', text: 'from python ✓ 😀', n: [1, 2, { deep: null }] };
  const sealed = await py.call('seal', {
    myId: senderId, myEcdhPriv: sender.ecdhPriv, payload,
    recipients: [{ id: owner.info.id, ecdh: owner.keys.ecdhPub }, { id: maya.info.id, ecdh: maya.keys.ecdhPub }],
  });
  for (const who of [owner, maya]) {
    assert.equal(sealed.keys[who.info.id].length, P.WRAPPED);
    const box = P.createBox(who.info.id, who.keys.ecdhPriv);
    const env = { from: senderId, key: sealed.keys[who.info.id], iv: sealed.iv, ct: sealed.ct };
    assert.deepEqual(await box.open(env, sender.ecdhPub), payload);
    assert.equal(await box.open({ ...env, from: owner.info.id }, sender.ecdhPub), null, 'the sender id is bound in');
  }
});

test('a message sealed here opens there', async () => {
  const them = await py.call('keygen');
  const theirId = (await py.call('id', { sigPub: them.sigPub })).id;
  const box = P.createBox(maya.info.id, maya.keys.ecdhPriv);
  for (const payload of [{ k: 'msg', text: 'to python ✓' }, 'plain', 42, null]) {
    const sealed = await box.seal(payload, [{ id: theirId, ecdh: them.ecdhPub }, { id: owner.info.id, ecdh: owner.keys.ecdhPub }]);
    const env = { from: maya.info.id, key: sealed.keys[theirId], iv: sealed.iv, ct: sealed.ct };
    assert.deepEqual((await py.call('open', { myEcdhPriv: them.ecdhPriv, fromEcdh: maya.keys.ecdhPub, env })).payload, payload);
  }
  const sealed = await box.seal('x', [{ id: theirId, ecdh: them.ecdhPub }]);
  const forged = { from: owner.info.id, key: sealed.keys[theirId], iv: sealed.iv, ct: sealed.ct };
  await assert.rejects(py.call('open', { myEcdhPriv: them.ecdhPriv, fromEcdh: maya.keys.ecdhPub, env: forged }), /InvalidTag/);
});

test('the invite key derived from a seed is the same key there', async () => {
  // Seeds at the ends of the range and random ones, read through a short code body.
  const seeds = [new Uint8Array(16), new Uint8Array(16).fill(255), crypto.getRandomValues(new Uint8Array(16)), crypto.getRandomValues(new Uint8Array(16))];
  for (const seed of seeds) {
    const body = Buffer.concat([seed, Buffer.alloc(4), Buffer.alloc(64)]).toString('base64url');
    const here = await P.readShortInvite('MSW2.' + body, owner.cert);
    const there = await py.call('invite_key', { seed: P.toB64(seed) });
    assert.equal(here.g.ik, there.ik);
    assert.equal(here.k, there.k);
    assert.equal((await py.call('pub_of', { priv: here.k })).pub, here.g.ik, 'the bare-scalar PKCS#8 loads there');
  }
});

test('short codes made on either side read the same and admit a member', async () => {
  const code = await P.makeShortInvite(owner.keys.sigPriv, 24);
  const read = await py.call('read_short', { code, owner: owner.pub });
  const inv = await P.readShortInvite(code, owner.cert);
  assert.deepEqual([read.ik, read.k, read.exp, read.sig, read.signed], [inv.g.ik, inv.k, inv.g.exp, inv.g.s, true]);

  const theirs = (await py.call('make_short', { ownerPriv: owner.keys.sigPriv, hours: 48 })).code;
  assert.equal(theirs.length, 117);
  const inv2 = await P.readShortInvite(theirs, owner.cert);
  assert.ok(inv2);
  const cert = await P.acceptInvite(inv2, await P.generateKeys(), 'via_python');
  assert.ok(await P.verifyCert(cert, owner.pub));
});

test('spoken entries made on either side open on the other', async () => {
  const invite = await P.makeShortInvite(owner.keys.sigPriv, 168);
  const digits = '093150274816';
  const exp = Date.now() + 3600000;
  const [mine, theirs] = await Promise.all([
    P.makeSpoken(owner.keys.sigPriv, owner.pub, invite, 168),
    py.call('make_spoken', { ownerPriv: owner.keys.sigPriv, owner: owner.pub, invite, digits, exp }),
  ]);
  assert.deepEqual(await P.checkSpoken(theirs.entry, owner.pub), theirs.entry);
  const [openedHere, openedThere] = await Promise.all([
    P.openSpoken('0931-5027-4816', owner.pub, [mine.entry, theirs.entry]),
    py.call('open_spoken', { code: P.fmtSpoken(mine.code), owner: owner.pub, entries: [theirs.entry, mine.entry] }),
  ]);
  assert.equal(openedHere, invite);
  assert.deepEqual(openedThere, { invite, signed: true });
});
