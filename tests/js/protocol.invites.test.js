'use strict';
// Short invite codes and spoken codes. Every spoken-code derivation costs 2,000,000
// PBKDF2 rounds (about half a second here), so the spoken cases share a few entries.
const test = require('node:test');
const assert = require('node:assert/strict');
const nodeCrypto = require('node:crypto');
const { P, makeOwner } = require('./interop/net.js');

const flipChar = (s, i) => s.slice(0, i) + (s[i] === 'A' ? 'B' : 'A') + s.slice(i + 1);

let owner;
test.before(async () => {
  owner = await makeOwner('Owner');
});

test('a short code is the prefix and 112 Base64url characters that read back into an invite', async () => {
  const code = await P.makeShortInvite(owner.keys.sigPriv, 24);
  assert.equal(code.length, 117);
  assert.match(code, /^MSW2\.[A-Za-z0-9_-]{112}$/);
  const inv = await P.readShortInvite(code, owner.cert);
  assert.deepEqual(Object.keys(inv), ['g', 'k']);
  assert.deepEqual(Object.keys(inv.g), ['ik', 'exp', 'from', 's']);
  assert.equal(inv.g.from, owner.cert);
  assert.equal(inv.k.length, 92);
  assert.ok(P.isB64(inv.g.ik, 88, 88) && P.isB64(inv.g.s, 88, 88));
  // The owner signed the derived invite key and the expiry the code carries.
  assert.equal(await P.verify(owner.pub, ['msw-invite', inv.g.ik, inv.g.exp], inv.g.s), true);

  // Joining with it gives the same kind of certificate as a long invite.
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(inv, keys, 'shorty');
  const info = await P.verifyCert(JSON.parse(JSON.stringify(cert)), owner.pub);
  assert.equal(info.by, owner.info.id);
  assert.deepEqual(info.chain, [owner.info.id]);
  assert.equal(info.ik, inv.g.ik);
});

test('the invite key of a short code is its seed turned into a P-256 key whose public half is ik', async () => {
  const code = await P.makeShortInvite(owner.keys.sigPriv, 1);
  const a = await P.readShortInvite(code, owner.cert);
  const b = await P.readShortInvite(code, owner.cert);
  assert.equal(a.k, b.k);
  assert.equal(a.g.ik, b.g.ik);

  const der = Buffer.from(a.k, 'base64');
  assert.equal(der.length, 67);
  assert.equal(der.subarray(0, 35).toString('hex'), '3041020100301306072a8648ce3d020106082a8648ce3d030107042730250201010420');
  const d = BigInt('0x' + der.subarray(35).toString('hex'));
  const n = BigInt('0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551');
  assert.ok(d >= 1n && d < n);
  // d is SHA-256("msw-invite-key|" || seed) reduced into [1, n-1].
  const seed = Buffer.from(code.slice(5), 'base64url').subarray(0, 16);
  const h = nodeCrypto.createHash('sha256').update(Buffer.concat([Buffer.from('msw-invite-key|'), seed])).digest('hex');
  assert.equal(d, (BigInt('0x' + h) % (n - 1n)) + 1n);
  // OpenSSL, through node:crypto, finds the same public key from the bare scalar.
  const jwk = nodeCrypto.createPublicKey(nodeCrypto.createPrivateKey({ key: der, format: 'der', type: 'pkcs8' })).export({ format: 'jwk' });
  const pub = Buffer.concat([Buffer.from([4]), Buffer.from(jwk.x, 'base64url'), Buffer.from(jwk.y, 'base64url')]);
  assert.equal(pub.toString('base64'), a.g.ik);
  // The key signs what the invite key must sign.
  const sig = await P.sign(a.k, ['msw-join', { x: 1 }]);
  assert.equal(await P.verify(a.g.ik, ['msw-join', { x: 1 }], sig), true);
});

test('white space anywhere in a short code is ignored', async () => {
  const code = await P.makeShortInvite(owner.keys.sigPriv, 1);
  const spaced = '  ' + code.slice(0, 3) + ' \n' + code.slice(3, 60) + '\r\n\t' + code.slice(60) + '\n';
  assert.deepEqual(await P.readShortInvite(spaced, owner.cert), await P.readShortInvite(code, owner.cert));
});

test('a short code of the wrong form, or read without an owner certificate, gives null', async () => {
  const code = await P.makeShortInvite(owner.keys.sigPriv, 1);
  const body = code.slice(5);
  const bad = [
    code.slice(0, -1), code + 'A', 'MSW1.' + body, 'msw2.' + body, 'MSW2' + body, 'MSW2.' + body.replace(/^./, '+'),
    'MSW2.' + body.slice(0, 111) + '=', '', 'MSW2.', null, undefined, 42, { code },
  ];
  for (const c of bad) assert.equal(await P.readShortInvite(c, owner.cert), null, String(c));
  for (const oc of [null, undefined, '', 'cert']) assert.equal(await P.readShortInvite(code, oc), null);
});

test('a short code expires at the start of the minute in which its validity ends', async () => {
  const before = Date.now();
  const code = await P.makeShortInvite(owner.keys.sigPriv, 90 * 24);
  const after = Date.now();
  const { g } = await P.readShortInvite(code, owner.cert);
  assert.equal(g.exp % 60000, 0);
  const days90 = 90 * 24 * 3600000;
  assert.ok(g.exp >= Math.floor((before + days90) / 60000) * 60000);
  assert.ok(g.exp <= Math.floor((after + days90) / 60000) * 60000);
  assert.ok(g.exp > after + days90 - 60000);
  const bytes = Buffer.from(code.slice(5), 'base64url');
  assert.equal(bytes.length, 84);
  assert.equal(bytes.readUInt32BE(16) * 60000, g.exp, 'minutes, big-endian, at offset 16');
});

test('a short code whose seed, expiry or signature was altered does not admit anybody', async () => {
  const code = await P.makeShortInvite(owner.keys.sigPriv, 1);
  const keys = await P.generateKeys();
  // Positions 5+0 (seed), 5+22 (expiry minutes) and 5+60 (signature) of the Base64url body.
  for (const at of [5, 27, 65]) {
    const inv = await P.readShortInvite(flipChar(code, at), owner.cert);
    assert.ok(inv, 'the reader does not check signatures');
    assert.equal(await P.verifyCert(await P.acceptInvite(inv, keys, 'forger'), owner.pub), null, `position ${at}`);
  }
  // Signed by somebody other than the configured owner.
  const stranger = await makeOwner('stranger');
  const foreign = await P.readShortInvite(await P.makeShortInvite(stranger.keys.sigPriv, 1), owner.cert);
  assert.equal(await P.verifyCert(await P.acceptInvite(foreign, keys, 'forger'), owner.pub), null);
});

test('makeShortInvite refuses a validity that four bytes of minutes cannot hold', async () => {
  for (const hours of [NaN, Infinity, -1e9, 2 ** 32 / 60 + 1e6, undefined]) {
    await assert.rejects(P.makeShortInvite(owner.keys.sigPriv, hours), RangeError, String(hours));
  }
  await assert.rejects(P.makeShortInvite('bad key', 1));
});

test('spoken codes: twelve digits, however they are grouped', () => {
  const forms = ['123456789012', '1234-5678-9012', '1234 5678 9012', '1234.5678.9012', ' 12-34.56 78\n9012 ', '1234\t5678\t9012'];
  for (const f of forms) {
    assert.equal(P.isSpoken(f), true, f);
    assert.equal(P.fmtSpoken(f), '1234 5678 9012', f);
  }
  for (const f of ['12345678901', '1234567890123', '1234 5678 901x', '', '１２３４５６７８９０１２', '1234_5678_9012', '+123456789012']) {
    assert.equal(P.isSpoken(f), false, f);
  }
  for (const v of [123456789012, null, undefined, {}, ['123456789012']]) assert.equal(P.isSpoken(v), false);
  assert.equal(P.fmtSpoken('12345'), '1234 5');
  assert.equal(P.fmtSpoken('12345678'), '1234 5678');
  assert.equal(P.fmtSpoken(null), '');
});

test('spoken entries: made, checked and opened, and only by the right twelve digits', async () => {
  const invite = await P.makeShortInvite(owner.keys.sigPriv, 168);
  const before = Date.now();
  const { code, entry } = await P.makeSpoken(owner.keys.sigPriv, owner.pub, invite, 168);
  assert.match(code, /^[0-9]{12}$/);
  assert.deepEqual(Object.keys(entry), ['id', 'exp', 'iv', 'ct', 's']);
  assert.match(entry.id, /^[0-9a-f]{16}$/);
  assert.ok(entry.exp >= before + 168 * 3600000 && entry.exp <= Date.now() + 168 * 3600000);
  assert.equal(Buffer.from(entry.iv, 'base64').length, 12);
  assert.equal(Buffer.from(entry.ct, 'base64').length, Buffer.byteLength(invite) + 16);
  assert.deepEqual(await P.checkSpoken(entry, owner.pub), entry);

  // Decoys in front: the same ciphertext under another id or expiry must not open, since
  // both are bound in as additional data.
  const decoys = [{ ...entry, id: 'ffffffffffffffff' }, { ...entry, exp: entry.exp + 1 }];
  const wrong = (i) => code.slice(0, i) + String((Number(code[i]) + 1) % 10) + code.slice(i + 1);
  const [found, first, last, foreign, none] = await Promise.all([
    P.openSpoken(P.fmtSpoken(code).replace(/ /g, '-'), owner.pub, [...decoys, entry]),
    P.openSpoken(wrong(0), owner.pub, [entry]),
    P.openSpoken(wrong(11), owner.pub, [entry]),
    P.openSpoken(code, (await makeOwner('x')).pub, [entry]),
    P.openSpoken(code, owner.pub, decoys),
  ]);
  assert.equal(found, invite);
  assert.equal(first, null);
  assert.equal(last, null);
  assert.equal(foreign, null, 'the key is salted with the owner key');
  assert.equal(none, null);
});

test('openSpoken answers null, without the slow derivation, for input that is no lookup', async (t) => {
  const subtle = globalThis.crypto.subtle;
  const derive = t.mock.method(subtle, 'deriveKey');
  for (const [c, o, e] of [['12345', 'o', []], ['123456789012', null, []], ['123456789012', 'o', null], [null, 'o', []]]) {
    assert.equal(await P.openSpoken(c, o, e), null);
  }
  assert.equal(derive.mock.callCount(), 0);
  derive.mock.restore();
  delete subtle.deriveKey; // back to the prototype's own method
});

test('checkSpoken enforces the entry form even when the owner signed it', async () => {
  const sign = async (e) => ({ ...e, s: await P.sign(owner.keys.sigPriv, ['msw-spoken', e.id, e.exp, e.iv, e.ct]) });
  const base = { id: '0123456789abcdef', exp: Date.now() + 3600000, iv: 'A'.repeat(16), ct: 'B'.repeat(24) };
  assert.ok(await P.checkSpoken(await sign(base), owner.pub));
  assert.ok(await P.checkSpoken(await sign({ ...base, ct: 'B'.repeat(2400) }), owner.pub));
  assert.ok(await P.checkSpoken(await sign({ ...base, exp: -5 }), owner.pub), 'expiry is the caller\'s check');
  const bad = [
    { exp: base.exp + 0.5 }, { exp: 2 ** 53 }, { exp: String(base.exp) }, { id: '0123456789ABCDEF' },
    { id: '0123456789abcde' }, { id: 12 }, { ct: 'B'.repeat(2401) }, { ct: 'B'.repeat(23) }, { iv: 'A'.repeat(15) },
    { iv: 'A'.repeat(14) + '==' + 'A' }, { ct: 'B'.repeat(23) + '*' },
  ];
  for (const change of bad) {
    assert.equal(await P.checkSpoken(await sign({ ...base, ...change }), owner.pub), null, JSON.stringify(change));
  }
  const good = await sign(base);
  const checked = await P.checkSpoken({ ...good, extra: 'dropped' }, owner.pub);
  assert.deepEqual(Object.keys(checked), ['id', 'exp', 'iv', 'ct', 's']);
  assert.equal(await P.checkSpoken({ ...good, ct: 'C' + good.ct.slice(1) }, owner.pub), null);
  assert.equal(await P.checkSpoken(good, (await makeOwner('y')).pub), null);
  for (const v of [null, 'entry', [], undefined]) assert.equal(await P.checkSpoken(v, owner.pub), null);
});

test('makeSpoken refuses what members would refuse: an oversized code or a mismatched owner key', async () => {
  await assert.rejects(P.makeSpoken(owner.keys.sigPriv, owner.pub, 'x'.repeat(1785), 1), RangeError);
  await assert.rejects(P.makeSpoken(owner.keys.sigPriv, owner.pub, '', 1), TypeError);
  await assert.rejects(P.makeSpoken(owner.keys.sigPriv, owner.pub, 'MSW1.x', NaN), RangeError);
  const other = await makeOwner('other');
  await assert.rejects(P.makeSpoken(owner.keys.sigPriv, other.pub, 'MSW1.x', 1));
});

test('spoken digits come from random bytes below 250 only, so every digit is equally likely', async (t) => {
  const real = crypto.getRandomValues.bind(crypto);
  const blocks = [
    [250, 251, 252, 253, 254, 255, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9],
    [249, 255, 12, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212],
  ];
  const mock = t.mock.method(crypto, 'getRandomValues', (arr) => {
    const next = arr.length === 16 && blocks.length ? blocks.shift() : null;
    if (!next) return real(arr);
    arr.set(next);
    return arr;
  });
  try {
    const { code } = await P.makeSpoken(owner.keys.sigPriv, owner.pub, 'MSW1.test', 1);
    assert.equal(code, '012345678992');
  } finally {
    mock.mock.restore();
  }
});
