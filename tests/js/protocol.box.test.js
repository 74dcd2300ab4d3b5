'use strict';
// Per-recipient message encryption: sealing, opening, tampering and the derivation cache.
const test = require('node:test');
const assert = require('node:assert/strict');
const { P } = require('./interop/net.js');

async function person() {
  const keys = await P.generateKeys();
  const id = await P.idOf(keys.sigPub);
  return { keys, id, box: P.createBox(id, keys.ecdhPriv), to: { id, ecdh: keys.ecdhPub } };
}

const envFor = (sealed, who, from) => ({ t: 'env', from: from.id, key: sealed.keys[who.id], iv: sealed.iv, ct: sealed.ct });
const flipChar = (s, i) => s.slice(0, i) + (s[i] === 'A' ? 'B' : 'A') + s.slice(i + 1);

let ann, bo, cy, dee;
test.before(async () => {
  [ann, bo, cy, dee] = await Promise.all([person(), person(), person(), person()]);
});

test('a message for three recipients carries three wrapped keys and opens for each', async () => {
  const payload = { k: 'msg', text: 'hello ünïcode 😀', at: 1793233993890, nested: [1, { a: null }] };
  const sealed = await ann.box.seal(payload, [bo.to, cy.to, ann.to]);
  assert.deepEqual(Object.keys(sealed), ['iv', 'ct', 'keys']);
  assert.deepEqual(Object.keys(sealed.keys), [bo.id, cy.id, ann.id]);
  for (const w of Object.values(sealed.keys)) assert.ok(P.isB64(w, P.WRAPPED, P.WRAPPED));
  assert.ok(P.isB64(sealed.iv, P.IV, P.IV));
  for (const who of [bo, cy, ann]) {
    assert.deepEqual(await who.box.open(envFor(sealed, who, ann), ann.keys.ecdhPub), payload);
  }
  // Somebody left out has no key, and another's key does not open for him.
  assert.equal(await dee.box.open(envFor(sealed, bo, ann), ann.keys.ecdhPub), null);
  assert.equal(await dee.box.open({ ...envFor(sealed, bo, ann), key: undefined }, ann.keys.ecdhPub), null);
});

test('the box may be used before its own key import has finished', async () => {
  const keys = await P.generateKeys();
  const id = await P.idOf(keys.sigPub);
  const sealed = await P.createBox(id, keys.ecdhPriv).seal('at once', [bo.to]);
  assert.equal(await bo.box.open({ from: id, key: sealed.keys[bo.id], iv: sealed.iv, ct: sealed.ct }, keys.ecdhPub), 'at once');
  // Awaiting createBox gives the same working box.
  const awaited = await P.createBox(id, keys.ecdhPriv);
  assert.equal(typeof awaited.seal, 'function');
});

test('an envelope claiming another sender does not open', async () => {
  const sealed = await ann.box.seal({ text: 'from ann' }, [bo.to]);
  const env = envFor(sealed, bo, ann);
  // Claimed as cy, opened with cy's key: both the wrapping key and the additional data differ.
  assert.equal(await bo.box.open({ ...env, from: cy.id }, cy.keys.ecdhPub), null);
  // Claimed as cy but opened with ann's key: the additional data alone stops it.
  assert.equal(await bo.box.open({ ...env, from: cy.id }, ann.keys.ecdhPub), null);
  // Right name, wrong key.
  assert.equal(await bo.box.open(env, cy.keys.ecdhPub), null);
  assert.deepEqual(await bo.box.open(env, ann.keys.ecdhPub), { text: 'from ann' });
});

test('changing one character of the ciphertext, IV or wrapped key makes open return null', async () => {
  const sealed = await ann.box.seal({ text: 'integrity' }, [bo.to]);
  const env = envFor(sealed, bo, ann);
  for (const field of ['ct', 'iv', 'key']) {
    // Characters that carry six whole bits (the last one before padding may carry fewer,
    // and changing only its spare bits changes no byte).
    for (const i of [0, 5, 13]) {
      assert.equal(await bo.box.open({ ...env, [field]: flipChar(env[field], i) }, ann.keys.ecdhPub), null, `${field}[${i}]`);
    }
    // And the last byte, which the tag and the key check cover as well.
    const bytes = P.fromB64(env[field]);
    bytes[bytes.length - 1] ^= 1;
    assert.equal(await bo.box.open({ ...env, [field]: P.toB64(bytes) }, ann.keys.ecdhPub), null, `${field} last byte`);
  }
  const truncated = { ...env, ct: P.toB64(P.fromB64(env.ct).subarray(0, 10)) };
  assert.equal(await bo.box.open(truncated, ann.keys.ecdhPub), null);
});

test('open answers null for every malformed envelope or sender key, without throwing', async () => {
  const sealed = await ann.box.seal('x', [bo.to]);
  const env = envFor(sealed, bo, ann);
  const envs = [
    null, undefined, 'env', [], {}, { ...env, from: undefined }, { ...env, iv: null }, { ...env, ct: 5 },
    { ...env, key: '***' }, { ...env, ct: '' }, { ...env, iv: '' }, { ...env, key: env.key.slice(0, 44) },
  ];
  for (const e of envs) assert.equal(await bo.box.open(e, ann.keys.ecdhPub), null, JSON.stringify(e));
  for (const k of [undefined, null, '', 'A'.repeat(88), ann.keys.sigPub.slice(1), 42, {}]) {
    assert.equal(await bo.box.open(env, k), null, String(k));
  }
  // A box whose own private key is unusable opens nothing, and says so by null too.
  const broken = P.createBox(bo.id, 'not a key');
  assert.equal(await broken.open(env, ann.keys.ecdhPub), null);
  await assert.rejects(broken.seal('x', [ann.to]));
});

test('payloads that are plain strings, numbers, null or arrays come back unchanged', async () => {
  for (const payload of ['just text', '', 0, -1.5, 1793233993890, null, true, [1, 'two', null], { '': '' }]) {
    const sealed = await ann.box.seal(payload, [bo.to]);
    assert.deepEqual(await bo.box.open(envFor(sealed, bo, ann), ann.keys.ecdhPub), payload);
  }
  // A BOM at the start of a string payload survives: it sits inside the JSON quotes.
  const sealed = await ann.box.seal('\ufeffbom', [bo.to]);
  assert.equal(await bo.box.open(envFor(sealed, bo, ann), ann.keys.ecdhPub), '\ufeffbom');
});

test('each message gets its own key and IV', async () => {
  const a = await ann.box.seal('same', [bo.to]);
  const b = await ann.box.seal('same', [bo.to]);
  assert.notEqual(a.iv, b.iv);
  assert.notEqual(a.ct, b.ct);
  assert.notEqual(a.keys[bo.id], b.keys[bo.id]);
});

test('a repeated recipient keeps the last entry, and an empty list seals for nobody', async () => {
  const sealed = await ann.box.seal('dup', [bo.to, cy.to, bo.to]);
  assert.deepEqual(Object.keys(sealed.keys), [bo.id, cy.id]);
  assert.equal(await bo.box.open(envFor(sealed, bo, ann), ann.keys.ecdhPub), 'dup');
  // The same id listed with another member's key: the last key is the one used.
  const swapped = await ann.box.seal('last', [bo.to, { id: bo.id, ecdh: cy.keys.ecdhPub }]);
  assert.equal(await bo.box.open(envFor(swapped, bo, ann), ann.keys.ecdhPub), null);
  assert.equal(await cy.box.open({ ...envFor(swapped, bo, ann) }, ann.keys.ecdhPub), 'last');
  const empty = await ann.box.seal('nobody', []);
  assert.deepEqual(empty.keys, {});
});

test('seal rejects what nobody could open instead of sending it', async () => {
  await assert.rejects(ann.box.seal(undefined, [bo.to]), TypeError);
  await assert.rejects(ann.box.seal(() => 1, [bo.to]), TypeError);
  await assert.rejects(ann.box.seal('x', null), TypeError);
  await assert.rejects(ann.box.seal('x', [{ id: bo.id, ecdh: 'A'.repeat(88) }]));
  await assert.rejects(ann.box.seal('x', [{ id: bo.id }]), TypeError);
  // A crafted id must not reach the keys object as a prototype key.
  await assert.rejects(ann.box.seal('x', [{ id: '__proto__', ecdh: bo.keys.ecdhPub }]), TypeError);
  await assert.rejects(ann.box.seal('x', [{ id: bo.id.toUpperCase(), ecdh: bo.keys.ecdhPub }]), TypeError);
  assert.throws(() => P.createBox('me', ann.keys.ecdhPriv), TypeError);
  assert.throws(() => P.createBox(undefined, ann.keys.ecdhPriv), TypeError);
});

test('concurrent seals and opens for one peer share one key agreement, and a failed one is retried', async (t) => {
  const keys = await P.generateKeys();
  const id = await P.idOf(keys.sigPub);
  const subtle = globalThis.crypto.subtle;
  const deriveBits = t.mock.method(subtle, 'deriveBits');
  try {
    const box = P.createBox(id, keys.ecdhPriv);
    const sealedByBo = await bo.box.seal('to fresh', [{ id, ecdh: keys.ecdhPub }]);
    const before = deriveBits.mock.callCount();
    const work = [];
    for (let i = 0; i < 5; i++) work.push(box.seal('m' + i, [bo.to, cy.to]));
    for (let i = 0; i < 3; i++) work.push(box.open({ from: bo.id, key: sealedByBo.keys[id], iv: sealedByBo.iv, ct: sealedByBo.ct }, bo.keys.ecdhPub));
    const out = await Promise.all(work);
    assert.deepEqual(out.slice(5), ['to fresh', 'to fresh', 'to fresh']);
    assert.equal(deriveBits.mock.callCount() - before, 2, 'one agreement with bo, one with cy');
    await box.seal('again', [bo.to, cy.to, bo.to]);
    assert.equal(deriveBits.mock.callCount() - before, 2, 'the cache stays warm');

    // A peer key that fails once is tried afresh next time rather than failing forever.
    let failNext = true;
    deriveBits.mock.mockImplementation(function (...args) {
      if (failNext) {
        failNext = false;
        return Promise.reject(new Error('transient'));
      }
      return Object.getPrototypeOf(subtle).deriveBits.apply(this, args);
    });
    await assert.rejects(box.seal('first', [dee.to]));
    const sealed = await box.seal('second', [dee.to]);
    assert.equal(await dee.box.open({ from: id, key: sealed.keys[dee.id], iv: sealed.iv, ct: sealed.ct }, keys.ecdhPub), 'second');
  } finally {
    deriveBits.mock.restore();
    delete subtle.deriveBits;
  }
});
