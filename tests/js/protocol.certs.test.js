'use strict';
// Identity keys, signatures, member ids, safety numbers and the certificate chain check.
const test = require('node:test');
const assert = require('node:assert/strict');
const nodeCrypto = require('node:crypto');
const { P, makeOwner, makeMember, memberAt } = require('./interop/net.js');

const sha256hex = (bytes) => nodeCrypto.createHash('sha256').update(bytes).digest('hex');

let net;
test.before(async () => {
  const owner = await makeOwner('Owner');
  const maya = await makeMember(owner, 'maya');
  net = { owner, maya };
});

test('generateKeys gives two P-256 pairs in raw and PKCS#8 form', async () => {
  const k = await P.generateKeys();
  assert.deepEqual(Object.keys(k), ['sigPub', 'sigPriv', 'ecdhPub', 'ecdhPriv']);
  for (const pub of [k.sigPub, k.ecdhPub]) {
    assert.ok(P.isB64(pub, P.PUB, P.PUB));
    assert.equal(P.fromB64(pub)[0], 4, 'uncompressed point');
  }
  assert.notEqual(k.sigPub, k.ecdhPub);
  const priv = nodeCrypto.createPrivateKey({ key: Buffer.from(k.sigPriv, 'base64'), format: 'der', type: 'pkcs8' });
  assert.equal(priv.asymmetricKeyDetails.namedCurve, 'prime256v1');
  // The exported private key belongs to the exported public key.
  const spki = nodeCrypto.createPublicKey(priv).export({ format: 'jwk' });
  assert.equal(Buffer.concat([Buffer.from([4]), Buffer.from(spki.x, 'base64url'), Buffer.from(spki.y, 'base64url')]).toString('base64'), k.sigPub);
});

test('sign and verify cover the canonical form, whatever the key order', async () => {
  const { keys } = net.owner;
  const sig = await P.sign(keys.sigPriv, ['msw-auth', { b: 2, a: 1 }]);
  assert.ok(P.isB64(sig, P.SIG, P.SIG));
  assert.equal(P.fromB64(sig).length, 64, 'raw r||s, not DER');
  assert.equal(await P.verify(keys.sigPub, ['msw-auth', { a: 1, b: 2 }], sig), true);
  assert.equal(await P.verify(keys.sigPub, ['msw-auth', { a: 1, b: 3 }], sig), false);
  assert.equal(await P.verify(keys.sigPub, ['msw-join', { a: 1, b: 2 }], sig), false, 'the context is covered');
  assert.equal(await P.verify(net.maya.keys.sigPub, ['msw-auth', { a: 1, b: 2 }], sig), false, 'another key');
  // The ECDH key is no signing key, even though both are P-256 points.
  assert.equal(await P.verify(keys.ecdhPub, ['msw-auth', { a: 1, b: 2 }], sig), false);
});

test('verify answers false, never throws, for malformed keys and signatures', async () => {
  const { keys } = net.owner;
  const data = ['msw-auth', 'x'];
  const sig = await P.sign(keys.sigPriv, data);
  const flip = (s, i) => s.slice(0, i) + (s[i] === 'A' ? 'B' : 'A') + s.slice(i + 1);
  const cases = [
    [keys.sigPub.slice(1), sig], [keys.sigPub, sig.slice(1)], [null, sig], [keys.sigPub, null],
    [keys.sigPub, 12], [{}, sig], ['A'.repeat(88), sig], ['B'.repeat(86) + '==', sig],
    [keys.sigPub, 'A'.repeat(88)], [keys.sigPub, 'A'.repeat(86) + '=='], [keys.sigPub, flip(sig, 10)],
    [flip(keys.sigPub, 40), sig], [keys.sigPub.replace(/.$/, '-'), sig],
  ];
  for (const [pub, s] of cases) assert.equal(await P.verify(pub, data, s), false);
  const cyclic = {};
  cyclic.me = cyclic;
  assert.equal(await P.verify(keys.sigPub, cyclic, sig), false);
});

test('sign rejects a key that is not a P-256 PKCS#8 signing key', async () => {
  await assert.rejects(P.sign('not base64!', ['msw-auth']));
  await assert.rejects(P.sign(undefined, ['msw-auth']));
  await assert.rejects(P.sign(net.owner.keys.sigPub, ['msw-auth']), 'a public key');
  const p384 = nodeCrypto.generateKeyPairSync('ec', { namedCurve: 'secp384r1' }).privateKey;
  await assert.rejects(P.sign(p384.export({ format: 'der', type: 'pkcs8' }).toString('base64'), ['msw-auth']));
});

test('idOf is the first half of the SHA-256 of the raw key, and the safety number its 35-character digest', async () => {
  const { info, keys } = net.owner;
  const id = await P.idOf(keys.sigPub);
  assert.equal(id, sha256hex(Buffer.from(keys.sigPub, 'base64')).slice(0, 32));
  assert.match(id, P.ID_RE);
  assert.equal(info.id, id);

  const digest = nodeCrypto.createHash('sha256').update('msw-safety|' + keys.sigPub + '|' + keys.ecdhPub).digest();
  const groups = [0, 1, 2, 3, 4, 5].map((i) => String(digest.readUIntBE(3 * i, 3) % 100000).padStart(5, '0'));
  assert.equal(await P.safetyNumber({ sig: keys.sigPub, ecdh: keys.ecdhPub }), groups.join(' '));
  assert.equal(await P.safetyNumber(info), groups.join(' '), 'a certificate info works the same');
});

test('safety numbers keep leading zeros: always six groups of five digits', async () => {
  let sawLeadingZero = false;
  for (let i = 0; i < 60; i++) {
    const x = { sig: 'S' + i, ecdh: 'E' + i };
    const n = await P.safetyNumber(x);
    assert.match(n, /^\d{5}( \d{5}){5}$/);
    const d = nodeCrypto.createHash('sha256').update(`msw-safety|${x.sig}|${x.ecdh}`).digest();
    if (d.readUIntBE(0, 3) % 100000 < 10000) {
      sawLeadingZero = true;
      assert.equal(n[0], '0');
    }
  }
  assert.ok(sawLeadingZero, 'sixty samples include a first group below 10000');
});

test('an owner certificate checks only under its own key', async () => {
  const { owner } = net;
  assert.deepEqual(Object.keys(owner.cert), ['m', 's']);
  assert.deepEqual(Object.keys(owner.cert.m), ['name', 'sig', 'ecdh', 'at']);
  assert.deepEqual(owner.info, {
    id: await P.idOf(owner.pub), name: 'Owner', at: owner.cert.m.at, sig: owner.pub,
    ecdh: owner.keys.ecdhPub, ik: null, by: null, chain: [],
  });
  assert.ok(Math.abs(owner.cert.m.at - Date.now()) < 60000);
  // A good self-signed certificate of some other key is not this network's owner.
  const other = await makeOwner('Owner');
  assert.equal(await P.verifyCert(other.cert, owner.pub), null);
  assert.equal(await P.verifyCert(owner.cert, undefined), null);
  // Tampering with any signed field breaks it.
  for (const [k, v] of [['name', 'Owner2'], ['at', owner.cert.m.at + 1], ['ecdh', other.keys.ecdhPub]]) {
    assert.equal(await P.verifyCert({ m: { ...owner.cert.m, [k]: v }, s: owner.cert.s }, owner.pub), null, k);
  }
  // by: null is read as no inviter at all.
  assert.ok(await P.verifyCert({ ...owner.cert, by: null }, owner.pub));
});

test('a member certificate gives its info with the owner as inviter and chain', async () => {
  const { owner, maya } = net;
  assert.deepEqual(Object.keys(maya.cert), ['m', 'by', 's']);
  assert.deepEqual(maya.info, {
    id: await P.idOf(maya.keys.sigPub), name: 'maya', at: maya.cert.m.at, sig: maya.keys.sigPub,
    ecdh: maya.keys.ecdhPub, ik: maya.inv.g.ik, by: owner.info.id, chain: [owner.info.id],
  });
  // The certificate survives a JSON round trip, as it does on the wire.
  assert.deepEqual(await P.verifyCert(JSON.parse(JSON.stringify(maya.cert)), owner.pub), maya.info);
  assert.deepEqual(Object.keys(maya.inv.g), ['ik', 'exp', 'from', 's']);
  assert.equal(maya.inv.g.from, owner.cert);
});

test('an extra field in the member record is ignored and not carried into the info', async () => {
  const { owner, maya } = net;
  const cert = { ...maya.cert, m: { ...maya.cert.m, admin: true, name: maya.cert.m.name } };
  const info = await P.verifyCert(cert, owner.pub);
  assert.deepEqual(info, maya.info);
  assert.equal('admin' in info, false);
});

test('the member record must not be newer than the invite expiry', async () => {
  const { owner } = net;
  const inv = await P.makeInvite(owner.cert, owner.keys, 1);
  const keys = await P.generateKeys();
  assert.ok(await P.verifyCert(await memberAt(inv, keys, 'onTime', inv.g.exp), owner.pub), 'equal times pass');
  assert.equal(await P.verifyCert(await memberAt(inv, keys, 'late', inv.g.exp + 1), owner.pub), null);
  assert.equal(await P.verifyCert(await memberAt(inv, keys, 'nan', NaN), owner.pub), null);
  // An expired invite still checks: the clock is the joining client's business.
  const old = await P.makeInvite(owner.cert, owner.keys, -48);
  assert.ok(old.g.exp < Date.now());
  assert.ok(await P.verifyCert(await memberAt(old, keys, 'past', old.g.exp - 5), owner.pub));
});

test('only the owner can invite: a grant signed by a member fails even with good signatures', async () => {
  const { owner, maya } = net;
  const inv = await P.makeInvite(maya.cert, maya.keys, 24);
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(inv, keys, 'sneaky');
  assert.equal(await P.verify(maya.keys.sigPub, ['msw-invite', inv.g.ik, inv.g.exp], inv.g.s), true);
  assert.equal(await P.verify(inv.g.ik, ['msw-join', cert.m], cert.s), true);
  assert.equal(await P.verifyCert(cert, owner.pub), null);
});

test('a certificate whose member is the owner himself fails', async () => {
  const { owner } = net;
  const inv = await P.makeInvite(owner.cert, owner.keys, 24);
  const self = await P.acceptInvite(inv, owner.keys, 'owner2');
  assert.equal(await P.verifyCert(self, owner.pub), null);
});

test('forged grants and member signatures fail', async () => {
  const { owner, maya } = net;
  const stranger = await makeOwner('stranger');
  // A grant signed by a stranger but naming the real owner certificate as inviter.
  const fake = await P.makeInvite(owner.cert, stranger.keys, 24);
  assert.equal(await P.verifyCert(await P.acceptInvite(fake, await P.generateKeys(), 'fake'), owner.pub), null);
  // A member record signed by a key other than the grant's invite key.
  const inv = await P.makeInvite(owner.cert, owner.keys, 24);
  const other = await P.makeInvite(owner.cert, owner.keys, 24);
  const keys = await P.generateKeys();
  const wrong = await P.acceptInvite({ g: inv.g, k: other.k }, keys, 'wrong');
  assert.equal(await P.verifyCert(wrong, owner.pub), null);
  // A later expiry than the owner signed.
  const stretched = { ...maya.cert, by: { ...maya.cert.by, exp: maya.cert.by.exp + 1000 } };
  assert.equal(await P.verifyCert(stretched, owner.pub), null);
  // A renamed member.
  assert.equal(await P.verifyCert({ ...maya.cert, m: { ...maya.cert.m, name: 'maya2' } }, owner.pub), null);
});

test('names keep their case and a second name differing only in case still checks', async () => {
  const { owner } = net;
  const a = await makeMember(owner, 'Maya.K');
  const b = await makeMember(owner, 'maya.k');
  assert.equal(a.info.name, 'Maya.K');
  assert.equal(b.info.name, 'maya.k');
  for (const bad of ['m', 'has space', 'x'.repeat(25), 'émile', 'a<b']) {
    const inv = await P.makeInvite(owner.cert, owner.keys, 1);
    assert.equal(await P.verifyCert(await P.acceptInvite(inv, await P.generateKeys(), bad), owner.pub), null, bad);
  }
});

test('verifyCert answers null for any malformed certificate without throwing', async () => {
  const { owner, maya } = net;
  const m = maya.cert.m;
  const shapes = [
    null, undefined, 0, 'cert', [], {}, { m: null }, { m: 'x', s: maya.cert.s },
    { ...maya.cert, m: { ...m, sig: m.sig.slice(4) } },
    { ...maya.cert, m: { ...m, ecdh: 42 } },
    { ...maya.cert, m: { ...m, at: String(m.at) } },
    { ...maya.cert, m: { ...m, name: ['maya'] } },
    { ...maya.cert, by: 'owner' },
    { ...maya.cert, by: { ...maya.cert.by, exp: String(maya.cert.by.exp) } },
    { ...maya.cert, by: { ...maya.cert.by, from: null } },
    { ...maya.cert, by: { ...maya.cert.by, ik: 'A'.repeat(88) } },
    { ...maya.cert, by: { ...maya.cert.by, s: undefined } },
    { ...maya.cert, s: 12 },
  ];
  for (const c of shapes) assert.equal(await P.verifyCert(c, owner.pub), null, JSON.stringify(c));
  const cyclic = { ...maya.cert, by: { ...maya.cert.by } };
  cyclic.by.from = cyclic;
  assert.equal(await P.verifyCert(cyclic, owner.pub), null);
  // A getter that throws is just bad input too.
  const hostile = { get m() { throw new Error('boom'); } };
  assert.equal(await P.verifyCert(hostile, owner.pub), null);
});

test('verifyCert refuses to start deeper than the chain limit', async () => {
  const { owner, maya } = net;
  assert.ok(await P.verifyCert(owner.cert, owner.pub, 32));
  assert.equal(await P.verifyCert(owner.cert, owner.pub, 33), null);
  assert.equal(await P.verifyCert(maya.cert, owner.pub, 32), null, 'its inviter would sit at depth 33');
  assert.ok(await P.verifyCert(maya.cert, owner.pub, 31));
});

test('makeInvite signs the grant with the inviter key and refuses a validity that is no time', async () => {
  const { owner } = net;
  const before = Date.now();
  const inv = await P.makeInvite(owner.cert, { sigPriv: owner.keys.sigPriv }, 1.5);
  assert.ok(inv.g.exp >= before + 5400000 && inv.g.exp <= Date.now() + 5400000);
  assert.ok(Number.isInteger(inv.g.exp));
  assert.equal(await P.verify(owner.pub, ['msw-invite', inv.g.ik, inv.g.exp], inv.g.s), true);
  assert.ok(P.isB64(inv.g.ik, 88, 88));
  assert.equal(typeof inv.k, 'string');
  for (const h of [NaN, Infinity, undefined, 'soon']) {
    await assert.rejects(P.makeInvite(owner.cert, owner.keys, h), RangeError, String(h));
  }
});

test('isRemoved matches the member itself and everyone below a removed inviter', async () => {
  const { owner, maya } = net;
  assert.equal(P.isRemoved(maya.info, new Set([owner.info.id])), true);
  assert.equal(P.isRemoved(maya.info, new Set([maya.info.id])), true);
  assert.equal(P.isRemoved(owner.info, new Set([maya.info.id])), false, 'removal does not climb');
  assert.equal(P.isRemoved(maya.info, new Set()), false);
  assert.equal(P.isRemoved(maya.info, [owner.info.id]), true);
  assert.equal(P.isRemoved(maya.info, { [maya.info.id]: true }), true);
  assert.equal(P.isRemoved(maya.info, {}), false);
  assert.equal(P.isRemoved(maya.info, { toString: 1 }), false);
  for (const [i, r] of [[null, new Set()], [maya.info, null], [{}, new Set([undefined])], [{ id: 'x', chain: 'xy' }, new Set(['y'])]]) {
    assert.equal(P.isRemoved(i, r), false);
  }
});
