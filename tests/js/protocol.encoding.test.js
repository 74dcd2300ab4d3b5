'use strict';
// Encodings, the canonical signing form, the name cleaner and the exported surface.
const test = require('node:test');
const assert = require('node:assert/strict');
const { P } = require('./interop/net.js');

test('the exported object holds exactly the public members, in order, and nothing private', () => {
  assert.deepEqual(Object.keys(P), [
    'PUB', 'SIG', 'WRAPPED', 'IV', 'MAX_NAME', 'MAX_TEXT', 'REPLY_TEXT', 'MAX_ROOM_NAME', 'b64url', 'fromB64url',
    'INVITE1', 'encodeInvite', 'decodeInvite', 'ID_RE', 'USERNAME_RE', 'toB64', 'fromB64',
    'isB64', 'canon', 'cleanName', 'randomHex', 'generateKeys', 'sign', 'verify', 'idOf', 'safetyNumber',
    'ownerCert', 'makeInvite', 'acceptInvite', 'verifyCert', 'isRemoved', 'signRemovals', 'checkRemovals',
    'createBox', 'INVITE2', 'makeShortInvite', 'readShortInvite', 'MAX_ANN', 'signAnn', 'checkAnn',
    'isSpoken', 'fmtSpoken', 'makeSpoken', 'checkSpoken', 'openSpoken',
  ]);
  assert.ok(Object.isFrozen(P), 'page scripts must not be able to swap protocol functions');
  assert.deepEqual(
    [P.PUB, P.SIG, P.WRAPPED, P.IV, P.MAX_NAME, P.MAX_TEXT, P.MAX_ANN, P.INVITE2, P.INVITE1, P.REPLY_TEXT, P.MAX_ROOM_NAME],
    [88, 88, 56, 16, 24, 2000, 6000, 'MSW2.', 'MSW1.', 140, 40]
  );
  assert.equal(P.ID_RE.source, '^[0-9a-f]{32}$');
  assert.equal(P.USERNAME_RE.source, '^[A-Za-z0-9_.]{2,24}$');
  assert.equal(P.ID_RE.flags + P.USERNAME_RE.flags, '', 'patterns are case-sensitive and stateless');
  assert.ok(P.USERNAME_RE.test('Maya.K_2') && !P.USERNAME_RE.test('m') && !P.USERNAME_RE.test('a'.repeat(25)));
  assert.ok(!P.USERNAME_RE.test('maya-k') && !P.USERNAME_RE.test('mäya'));
});

test('toB64 and fromB64 round-trip every byte value, views and large buffers', () => {
  const all = new Uint8Array(256).map((_, i) => i);
  const text = P.toB64(all);
  assert.equal(text, Buffer.from(all).toString('base64'));
  assert.deepEqual(P.fromB64(text), all);
  assert.ok(P.fromB64(text) instanceof Uint8Array);

  // A view into the middle of a buffer encodes only its own bytes.
  const view = new Uint8Array(all.buffer, 10, 5);
  assert.equal(P.toB64(view), Buffer.from([10, 11, 12, 13, 14]).toString('base64'));
  assert.equal(P.toB64(new DataView(all.buffer, 250, 6)), Buffer.from([250, 251, 252, 253, 254, 255]).toString('base64'));
  assert.equal(P.toB64(all.buffer), text, 'an ArrayBuffer is accepted as well');

  // Larger than one String.fromCharCode chunk, and large enough to break a naive spread.
  const big = new Uint8Array(300001);
  for (let i = 0; i < big.length; i++) big[i] = (i * 7919) & 255;
  assert.equal(P.toB64(big), Buffer.from(big).toString('base64'));
  assert.deepEqual(P.fromB64(P.toB64(big)), big);
  assert.equal(P.toB64(new Uint8Array(0)), '');
});

test('fromB64 throws on malformed text and on anything that is not text', () => {
  for (const bad of ['QQ=', 'Q', 'QUJD=', 'QU*D', '=QUJ', 'QQ-_']) {
    assert.throws(() => P.fromB64(bad), `${bad} must not decode`);
  }
  // atob would turn null into the text "null" and decode it to three bytes.
  for (const bad of [null, undefined, 42, {}, ['QUJD']]) assert.throws(() => P.fromB64(bad), TypeError);
});

test('isB64 checks the alphabet and the length range only', () => {
  assert.equal(P.isB64('abcd=', 5, 5), true, 'padding is not checked against the length');
  assert.equal(P.isB64('abcd=', 1, 100), true);
  assert.equal(P.isB64('abcd', 5, 5), false);
  assert.equal(P.isB64('A'.repeat(87), P.PUB, P.PUB), false);
  assert.equal(P.isB64('A'.repeat(88), P.PUB, P.PUB), true);
  assert.equal(P.isB64('A'.repeat(86) + '==', 88, 88), true);
  assert.equal(P.isB64('A'.repeat(85) + '===', 88, 88), false, 'at most two padding characters');
  assert.equal(P.isB64('AB=C', 4, 4), false, 'padding only at the end');
  assert.equal(P.isB64('ab-_', 4, 4), false, 'Base64url letters are not standard Base64');
  assert.equal(P.isB64('ab d', 4, 4), false);
  assert.equal(P.isB64('', 0, 4), false);
  assert.equal(P.isB64('abcd\n', 4, 5), false);
  for (const v of [null, undefined, 1234, ['abcd'], { length: 4 }]) assert.equal(P.isB64(v, 0, 100), false);
  assert.equal(P.isB64('abcd'), false, 'no range admits nothing');
});

test('randomHex gives lower-case hex of the asked size and does not repeat', () => {
  const seen = new Set();
  for (let i = 0; i < 200; i++) {
    const id = P.randomHex(8);
    assert.match(id, /^[0-9a-f]{16}$/);
    seen.add(id);
  }
  assert.equal(seen.size, 200);
  assert.match(P.randomHex(16), P.ID_RE);
  assert.match(P.randomHex(12), /^[0-9a-f]{24}$/);
});

test('canon sorts keys at every depth and ignores insertion order', () => {
  const a = { b: 1, a: { d: [{ z: 1, y: 2 }, [{ c: 3, b: null }]], c: 'x' } };
  const b = { a: { c: 'x', d: [{ y: 2, z: 1 }, [{ b: null, c: 3 }]] }, b: 1 };
  const want = '{"a":{"c":"x","d":[{"y":2,"z":1},[{"b":null,"c":3}]]},"b":1}';
  assert.equal(P.canon(a), want);
  assert.equal(P.canon(b), want);
  assert.equal(P.canon(['msw-invite', 'AB', 5]), '["msw-invite","AB",5]');
  // Plain string order is UTF-16 code unit order: upper case before lower, digits first,
  // "10" before "9", and an astral character (a surrogate) before U+FF5E.
  assert.equal(P.canon({ b: 1, B: 2, 10: 3, 9: 4, '\uff5e': 5, '\u{1f600}': 6 }),
    '{"10":3,"9":4,"B":2,"b":1,"\u{1f600}":6,"\uff5e":5}');
});

test('canon drops undefined members of objects but writes null, and fills arrays like JSON', () => {
  assert.equal(P.canon({ a: undefined, b: null, c: () => 1 }), '{"b":null}');
  assert.equal(P.canon([undefined, null, () => 1]), '[null,null,null]');
  const holey = [1];
  holey[2] = 3;
  assert.equal(P.canon(holey), JSON.stringify(holey));
  assert.equal(P.canon({}), '{}');
  assert.equal(P.canon([]), '[]');
});

test('canon writes leaves exactly as JSON.stringify does', () => {
  const leaves = [
    1793233993890, 0, -0, 1.5, -2.25, 0.1 + 0.2, 1e21, 1e-7, 123456789012345680000, Number.MAX_SAFE_INTEGER,
    NaN, Infinity, -Infinity, true, false, null,
    '', 'plain', 'quote " and \\ backslash', '\b\t\n\f\r', '\u0000\u0001\u001f\u007f', 'ünïcödé 漢字 😀',
    '\ud800', 'x\udfffy', '\u2028\u2029', '</script>', '\ufeff',
  ];
  for (const v of leaves) assert.equal(P.canon(v), JSON.stringify(v), `leaf ${JSON.stringify(v)}`);
  assert.equal(P.canon(1793233993890), '1793233993890', 'a millisecond time has no exponent');
  assert.equal(P.canon('\u001f'), '"\\u001f"', 'control characters use lower-case hex');
  assert.equal(P.canon('\ud83d'), '"\\ud83d"', 'a lone surrogate is escaped, so the UTF-8 bytes are lossless');
  assert.equal(P.canon({ 'k"\n': 'é' }), '{"k\\"\\n":"é"}', 'keys are written as JSON strings');
});

test('canon refuses cycles with an error instead of overflowing the stack', () => {
  const o = { a: 1 };
  o.self = o;
  assert.throws(() => P.canon(o), TypeError);
  const arr = [];
  arr.push({ back: arr });
  assert.throws(() => P.canon(arr), TypeError);
  // The same object twice side by side is not a cycle.
  const shared = { x: 1 };
  assert.equal(P.canon([shared, { s: shared }]), '[{"x":1},{"s":{"x":1}}]');
});

test('cleanName removes invisible and markup characters and folds white space', () => {
  assert.equal(P.cleanName('  Ma\u200Bya\u00A0\u00A0\u00A0Lee \t '), 'Maya Lee');
  assert.equal(P.cleanName('<b>bob</b>'), 'bbob/b');
  assert.equal(P.cleanName('\uFF1Cscript\uFF1E'), 'script', 'full-width brackets fold to ASCII and vanish');
  assert.equal(P.cleanName(null), '');
  assert.equal(P.cleanName(undefined), '');
  assert.equal(P.cleanName(12345), '12345');
  assert.equal(P.cleanName('a\u202Eb\u2066c\uFEFFd\u2060e\u007Ff'), 'ab\u2066cdef');
  assert.equal(P.cleanName('line\none\r\ntwo'), 'lineonetwo', 'control characters go before white space folds');
  assert.equal(P.cleanName('a\u3000\u2028\u205F b'), 'a b');
  // Full-width letters fold before the cut, so 30 of them still give 24 ASCII letters.
  assert.equal(P.cleanName('\uFF41'.repeat(30)), 'a'.repeat(24));
  assert.equal(P.cleanName('x'.repeat(50), 40).length, 40);
  assert.equal(P.cleanName('  spaced  ', 3), 'spa', 'trimmed before the cut');
  assert.equal(P.cleanName('\uFB01le'), 'file', 'ligatures are decomposed by NFKC');
});

test('cleanName cuts by UTF-16 code units, even inside a surrogate pair', () => {
  const name = 'a' + '😀'.repeat(12); // 1 + 24 code units
  const cut = P.cleanName(name);
  assert.equal(cut.length, 24);
  assert.equal(cut.charCodeAt(23), 0xd83d, 'the last unit is the high half of the twelfth emoji');
});

test('long invite codes: base64url round trip, wrapped or plain base64 read, junk refused', () => {
  const inv = { g: { ik: 'i+/=', exp: 5, from: { m: { name: 'ö' } }, s: 'x' }, k: 'K', extra: 1 };
  const code = P.encodeInvite(inv);
  assert.match(code, /^MSW1\.[A-Za-z0-9_-]+$/);
  assert.equal(code, 'MSW1.' + Buffer.from(JSON.stringify({ g: inv.g, k: inv.k })).toString('base64url'));
  assert.deepEqual(P.decodeInvite(code), { g: inv.g, k: 'K' });
  assert.deepEqual(P.decodeInvite(' ' + code.slice(0, 9) + '\n\t' + code.slice(9) + ' '), { g: inv.g, k: 'K' });
  assert.deepEqual(P.decodeInvite('MSW1.' + Buffer.from(JSON.stringify(inv)).toString('base64')), { g: inv.g, k: 'K' });
  assert.deepEqual(P.fromB64url(P.b64url(new Uint8Array([251, 255, 0]))), new Uint8Array([251, 255, 0]));
  for (const bad of [null, 5, '', 'MSW1.', 'MSW1.%%', 'msw1.' + code.slice(5), 'MSW1.' + Buffer.from('[1]').toString('base64url'),
    'MSW1.' + Buffer.from('{"g":1,"k":"K"}').toString('base64url'), 'MSW1.' + Buffer.from('{"g":{}}').toString('base64url')]) {
    assert.equal(P.decodeInvite(bad), null, String(bad));
  }
});
