// mosswire chat protocol: encodings, the canonical signing form, identity keys and
// membership certificates, invite and spoken codes, per-recipient message encryption,
// signed announcements and removal lists.
//
// One file for every place the protocol runs: the page loads it as a plain script (global
// MswProto), the relay server and the owner's tools require() it under Node. So it leans on
// nothing but what both sides share: Web Crypto (globalThis.crypto), TextEncoder/TextDecoder
// and atob/btoa. Crypto is looked up at call time, so loading the file never fails even
// where Web Crypto is missing; only the operations that need it do.
//
// Two kinds of function live here. Makers (sign, makeInvite, seal, ...) reject their promise
// when handed something they cannot turn into a valid record, rather than produce a record
// every checker would refuse. Checkers (verify, verifyCert, check*, read*, open*) take
// untrusted input and never throw: they answer null or false.
var MswProto = (function () {
  'use strict';

  // ---- constants ------------------------------------------------------------------------

  var PUB = 88; // Base64 of a raw uncompressed P-256 public key (65 bytes)
  var SIG = 88; // Base64 of a raw r||s P-256 ECDSA signature (64 bytes)
  var WRAPPED = 56; // Base64 of an AES-KW wrapped 256-bit key (40 bytes)
  var IV = 16; // Base64 of a 12-byte AES-GCM IV
  var MAX_NAME = 24;
  var MAX_DEPTH = 32;
  var MAX_TEXT = 2000;
  var MAX_ANN = 6000;
  var ID_RE = /^[0-9a-f]{32}$/;
  var ANN_ID = /^[0-9a-f]{16}$/;
  var USERNAME_RE = /^[A-Za-z0-9_.]{2,24}$/;
  var INVITE1 = 'MSW1.';
  var INVITE2 = 'MSW2.';
  var REPLY_TEXT = 140;
  var MAX_ROOM_NAME = 40;
  var SPOKEN_ITER = 2000000;

  var MAX_REMOVED = 5000;
  var SPOKEN_CT_MIN = 24;
  var SPOKEN_CT_MAX = 2400;
  var SHORT_BODY_RE = /^[A-Za-z0-9_-]{112}$/;
  var B64_RE = /^[A-Za-z0-9+/]+={0,2}$/;
  // What the page strips from names: controls, angle brackets (so a name can never read as
  // markup), zero-width characters, bidirectional overrides and invisible operators.
  var NAME_STRIP_RE = /[\u0000-\u001f\u007f<>\u200b-\u200f\u202a-\u202e\u2060-\u2064\ufeff]/g;

  var ECDSA = { name: 'ECDSA', namedCurve: 'P-256' };
  var ECDH = { name: 'ECDH', namedCurve: 'P-256' };
  var ECDSA_SHA256 = { name: 'ECDSA', hash: 'SHA-256' };

  // Order of the P-256 group, for deriving an invite key from a short code's seed.
  var P256_N = BigInt('0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551');
  // PrivateKeyInfo for an EC key on prime256v1 whose ECPrivateKey holds only the scalar.
  var PKCS8_P256_PREFIX = [
    0x30, 0x41, 0x02, 0x01, 0x00, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02,
    0x01, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x04, 0x27, 0x30, 0x25,
    0x02, 0x01, 0x01, 0x04, 0x20,
  ];

  var encoder = new TextEncoder();
  var decoder = new TextDecoder(); // UTF-8; bad bytes become U+FFFD, never an exception

  function subtle() {
    var c = globalThis.crypto;
    if (!c || !c.subtle) throw new Error('Web Crypto is not available here');
    return c.subtle;
  }

  function randomBytes(n) {
    return globalThis.crypto.getRandomValues(new Uint8Array(n));
  }

  function utf8(text) {
    return encoder.encode(text);
  }

  function isObj(v) {
    return typeof v === 'object' && v !== null;
  }

  function concatBytes(parts) {
    var len = 0;
    for (var i = 0; i < parts.length; i++) len += parts[i].length;
    var out = new Uint8Array(len);
    for (var j = 0, at = 0; j < parts.length; j++) {
      out.set(parts[j], at);
      at += parts[j].length;
    }
    return out;
  }

  // Milliseconds from now; a maker given hours it cannot turn into a time refuses rather
  // than sign a record whose expiry canon would write as null.
  function expiryAfter(hours) {
    var exp = Date.now() + Math.round(hours * 3600000);
    if (!Number.isSafeInteger(exp)) throw new RangeError('the validity must be a finite number of hours');
    return exp;
  }

  // ---- encodings ------------------------------------------------------------------------

  function bytesOf(buf) {
    if (buf instanceof Uint8Array) return buf;
    if (ArrayBuffer.isView(buf)) return new Uint8Array(buf.buffer, buf.byteOffset, buf.byteLength);
    return new Uint8Array(buf);
  }

  function toB64(buf) {
    var bytes = bytesOf(buf);
    var chunks = [];
    // fromCharCode.apply takes its arguments on the stack; keep each call well inside it.
    for (var i = 0; i < bytes.length; i += 0x8000) {
      chunks.push(String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000)));
    }
    return btoa(chunks.join(''));
  }

  // atob turns null into the 4-letter text "null" and decodes it; a non-string is refused
  // instead, so a missing field can never decode to bytes.
  function fromB64(s) {
    if (typeof s !== 'string') throw new TypeError('Base64 text expected');
    var bin = atob(s);
    var out = new Uint8Array(bin.length);
    for (var i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
    return out;
  }

  function isB64(s, min, max) {
    return typeof s === 'string' && s.length >= min && s.length <= max && B64_RE.test(s);
  }

  var HEX = [];
  for (var h = 0; h < 256; h++) HEX.push((h < 16 ? '0' : '') + h.toString(16));

  function hex(buf) {
    var bytes = bytesOf(buf);
    var out = '';
    for (var i = 0; i < bytes.length; i++) out += HEX[bytes[i]];
    return out;
  }

  function randomHex(n) {
    return hex(randomBytes(n));
  }

  function b64url(bytes) {
    return toB64(bytes).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }

  function fromB64url(s) {
    if (typeof s !== 'string') throw new TypeError('Base64url text expected');
    var t = s.replace(/-/g, '+').replace(/_/g, '/');
    return fromB64(t + '===='.slice(0, (4 - (t.length % 4)) % 4));
  }

  // The long invite code: the prefix and the invite's fields g and k as base64url JSON.
  function encodeInvite(inv) {
    return INVITE1 + b64url(utf8(JSON.stringify({ g: inv.g, k: inv.k })));
  }

  // Any text → { g, k } when it holds a long invite code's shape (white space anywhere is
  // ignored, as pasted codes often wrap), else null. The signatures are the caller's to check.
  function decodeInvite(text) {
    try {
      var s = String(text === null || text === undefined ? '' : text).replace(/\s+/g, '');
      if (s.indexOf(INVITE1) !== 0) return null;
      var body = s.slice(INVITE1.length);
      // Plain base64 (+ / =) is read too: some tools wrote codes that way.
      if (!/^[A-Za-z0-9_+\/-]+={0,2}$/.test(body)) return null;
      var inv = JSON.parse(decoder.decode(fromB64url(body)));
      if (!isObj(inv) || !isObj(inv.g) || typeof inv.k !== 'string') return null;
      return { g: inv.g, k: inv.k };
    } catch (e) {
      return null;
    }
  }

  // ---- canonical form -------------------------------------------------------------------

  // Leaves are written by JSON.stringify itself, so numbers, escapes and lone surrogates
  // come out byte for byte as every other JSON implementation of ECMAScript writes them;
  // only object key order is fixed here. `stack` catches cycles, which would otherwise end
  // in a stack overflow.
  function canonOf(v, stack) {
    if (!isObj(v)) return JSON.stringify(v);
    if (stack.indexOf(v) !== -1) throw new TypeError('canon: circular structure');
    stack.push(v);
    var parts = [];
    if (Array.isArray(v)) {
      for (var i = 0; i < v.length; i++) {
        var el = canonOf(v[i], stack);
        parts.push(el === undefined ? 'null' : el); // as JSON.stringify writes holes and undefined
      }
      stack.pop();
      return '[' + parts.join(',') + ']';
    }
    var keys = Object.keys(v).sort();
    for (var j = 0; j < keys.length; j++) {
      var val = canonOf(v[keys[j]], stack);
      if (val !== undefined) parts.push(JSON.stringify(keys[j]) + ':' + val);
    }
    stack.pop();
    return '{' + parts.join(',') + '}';
  }

  function canon(v) {
    return canonOf(v, []);
  }

  function cleanName(n, max) {
    if (max === undefined) max = MAX_NAME;
    var s = n === null || n === undefined ? '' : String(n);
    s = s.normalize('NFKC').replace(NAME_STRIP_RE, '').replace(/\s+/g, ' ').trim();
    return s.slice(0, max);
  }

  // ---- keys, signatures, ids ------------------------------------------------------------

  function exportB64(format, key) {
    return subtle().exportKey(format, key).then(toB64);
  }

  async function generateKeys() {
    var pairs = await Promise.all([
      subtle().generateKey(ECDSA, true, ['sign', 'verify']),
      subtle().generateKey(ECDH, true, ['deriveBits']),
    ]);
    var out = await Promise.all([
      exportB64('raw', pairs[0].publicKey),
      exportB64('pkcs8', pairs[0].privateKey),
      exportB64('raw', pairs[1].publicKey),
      exportB64('pkcs8', pairs[1].privateKey),
    ]);
    return { sigPub: out[0], sigPriv: out[1], ecdhPub: out[2], ecdhPriv: out[3] };
  }

  async function sign(pkcs8, data) {
    var key = await subtle().importKey('pkcs8', fromB64(pkcs8), ECDSA, false, ['sign']);
    var sig = await subtle().sign(ECDSA_SHA256, key, utf8(canon(data)));
    return toB64(sig);
  }

  async function verify(pub, data, sig) {
    if (!isB64(pub, PUB, PUB) || !isB64(sig, SIG, SIG)) return false;
    try {
      var key = await subtle().importKey('raw', fromB64(pub), ECDSA, false, ['verify']);
      return (await subtle().verify(ECDSA_SHA256, key, fromB64(sig), utf8(canon(data)))) === true;
    } catch (e) {
      return false;
    }
  }

  async function sha256(bytes) {
    return new Uint8Array(await subtle().digest('SHA-256', bytes));
  }

  async function idOf(sigPub) {
    return hex(await sha256(fromB64(sigPub))).slice(0, 32);
  }

  async function safetyNumber(x) {
    var d = await sha256(utf8('msw-safety|' + x.sig + '|' + x.ecdh));
    var groups = [];
    for (var i = 0; i < 6; i++) {
      var n = (d[3 * i] * 65536 + d[3 * i + 1] * 256 + d[3 * i + 2]) % 100000;
      groups.push(('0000' + n).slice(-5));
    }
    return groups.join(' ');
  }

  // ---- certificates ---------------------------------------------------------------------

  function newMember(keys, name) {
    return { name: String(name), sig: keys.sigPub, ecdh: keys.ecdhPub, at: Date.now() };
  }

  async function ownerCert(keys, name) {
    var m = newMember(keys, name);
    return { m: m, s: await sign(keys.sigPriv, ['msw-owner', m]) };
  }

  async function makeInvite(myCert, myKeys, hours) {
    var exp = expiryAfter(hours);
    var pair = await subtle().generateKey(ECDSA, true, ['sign', 'verify']);
    var ik = await exportB64('raw', pair.publicKey);
    var s = await sign(myKeys.sigPriv, ['msw-invite', ik, exp]);
    var k = await exportB64('pkcs8', pair.privateKey);
    return { g: { ik: ik, exp: exp, from: myCert, s: s }, k: k };
  }

  async function acceptInvite(inv, keys, name) {
    var m = newMember(keys, name);
    var s = await sign(inv.k, ['msw-join', m]);
    return { m: m, by: inv.g, s: s };
  }

  function certInfo(m, id, ik, by, chain) {
    return { id: id, name: m.name, at: m.at, sig: m.sig, ecdh: m.ecdh, ik: ik, by: by, chain: chain };
  }

  async function checkCert(cert, owner, depth) {
    if (!isObj(cert) || !(depth <= MAX_DEPTH)) return null;
    var m = cert.m;
    if (!isObj(m) || typeof m.name !== 'string' || !USERNAME_RE.test(m.name)) return null;
    if (!isB64(m.sig, PUB, PUB) || !isB64(m.ecdh, PUB, PUB) || typeof m.at !== 'number') return null;
    // Only these four fields are signed; anything else a sender added is left behind.
    var copy = { name: m.name, sig: m.sig, ecdh: m.ecdh, at: m.at };
    var id = await idOf(copy.sig);

    if (cert.by === undefined || cert.by === null) {
      if (typeof owner !== 'string' || copy.sig !== owner) return null;
      if (!(await verify(owner, ['msw-owner', copy], cert.s))) return null;
      return certInfo(copy, id, null, null, []);
    }

    var g = cert.by;
    // Written as "not at or before" so that a NaN time fails too.
    if (!isObj(g) || typeof g.exp !== 'number' || !(copy.at <= g.exp)) return null;
    if (!(await verify(g.ik, ['msw-join', copy], cert.s))) return null;
    var up = await checkCert(g.from, owner, depth + 1);
    if (!up || up.by !== null) return null; // only the owner invites
    if (!(await verify(up.sig, ['msw-invite', g.ik, g.exp], g.s))) return null;
    if (up.id === id || up.chain.indexOf(id) !== -1) return null;
    return certInfo(copy, id, g.ik, up.id, up.chain.concat([up.id]));
  }

  async function verifyCert(cert, owner, depth) {
    try {
      return await checkCert(cert, owner, depth === undefined ? 0 : depth);
    } catch (e) {
      return null;
    }
  }

  // `removed` is a Set of member ids; an array or an object keyed by id is taken too.
  function isRemoved(info, removed) {
    if (!isObj(info) || !isObj(removed)) return false;
    var holds;
    if (typeof removed.has === 'function') holds = function (id) { return removed.has(id) === true; };
    else if (Array.isArray(removed)) holds = function (id) { return removed.indexOf(id) !== -1; };
    else holds = function (id) { return Object.prototype.hasOwnProperty.call(removed, id); };
    var has = function (id) { return typeof id === 'string' && holds(id); };
    if (has(info.id)) return true;
    var chain = Array.isArray(info.chain) ? info.chain : [];
    for (var i = 0; i < chain.length; i++) if (has(chain[i])) return true;
    return false;
  }

  // ---- removal lists --------------------------------------------------------------------

  function removalsShapeOk(v, ids) {
    if (!Number.isInteger(v) || v < 1) return false;
    if (!Array.isArray(ids) || ids.length > MAX_REMOVED) return false;
    for (var i = 0; i < ids.length; i++) {
      if (typeof ids[i] !== 'string' || !ID_RE.test(ids[i])) return false;
    }
    return true;
  }

  async function signRemovals(keys, v, ids) {
    if (!removalsShapeOk(v, ids)) {
      throw new RangeError('a removal list needs a version of at least 1 and at most 5000 member ids');
    }
    var list = ids.slice();
    return { v: v, ids: list, s: await sign(keys.sigPriv, ['msw-removed', v, list]) };
  }

  async function checkRemovals(r, owner) {
    try {
      if (!isObj(r) || !removalsShapeOk(r.v, r.ids)) return null;
      var ids = r.ids.slice();
      if (!(await verify(owner, ['msw-removed', r.v, ids], r.s))) return null;
      return { v: r.v, ids: ids, s: r.s };
    } catch (e) {
      return null;
    }
  }

  // ---- message encryption ---------------------------------------------------------------

  var WRAP_SALT = new Uint8Array(32);
  var WRAP_INFO = utf8('msw-wrap-v1');

  // The box is returned at once; the private key import runs in the background and every
  // seal and open waits for it, so callers may use the box with or without awaiting it.
  function createBox(myId, myEcdhPriv) {
    if (typeof myId !== 'string' || !ID_RE.test(myId)) throw new TypeError('createBox needs the own member id');
    var myAad = utf8('msw-v1|' + myId);
    var priv = Promise.resolve().then(function () {
      return subtle().importKey('pkcs8', fromB64(myEcdhPriv), ECDH, false, ['deriveBits']);
    });
    priv.catch(function () {}); // reported by seal and open, not as an unhandled rejection
    // Peer key text -> promise of the AES-KW key shared with that peer. The promise goes in
    // before the derivation ends, so concurrent calls for one peer share one derivation.
    var cache = new Map();

    async function derive(pub) {
      var peer = await subtle().importKey('raw', fromB64(pub), ECDH, false, []);
      var bits = await subtle().deriveBits({ name: 'ECDH', public: peer }, await priv, 256);
      var ikm = await subtle().importKey('raw', bits, 'HKDF', false, ['deriveKey']);
      return subtle().deriveKey(
        { name: 'HKDF', hash: 'SHA-256', salt: WRAP_SALT, info: WRAP_INFO },
        ikm,
        { name: 'AES-KW', length: 256 },
        false,
        ['wrapKey', 'unwrapKey']
      );
    }

    function wrapKey(pub) {
      if (typeof pub !== 'string') return Promise.reject(new TypeError('ECDH public key text expected'));
      var p = cache.get(pub);
      if (!p) {
        p = derive(pub);
        cache.set(pub, p);
        // A failed derivation is not kept: the same text would only fail again, and keeping
        // it would let untrusted key texts pile up.
        p.catch(function () {
          if (cache.get(pub) === p) cache.delete(pub);
        });
      }
      return p;
    }

    async function seal(payload, recipients) {
      var text = JSON.stringify(payload);
      if (text === undefined) throw new TypeError('the payload has no JSON form');
      if (!Array.isArray(recipients)) throw new TypeError('recipients must be a list');
      for (var i = 0; i < recipients.length; i++) {
        var r = recipients[i];
        if (!isObj(r) || typeof r.id !== 'string' || !ID_RE.test(r.id) || typeof r.ecdh !== 'string') {
          throw new TypeError('every recipient needs a member id and an ECDH key');
        }
      }
      var key = await subtle().generateKey({ name: 'AES-GCM', length: 256 }, true, ['encrypt']);
      var iv = randomBytes(12);
      // One encryption, and the wraps for every recipient side by side.
      var done = await Promise.all([
        subtle().encrypt({ name: 'AES-GCM', iv: iv, additionalData: myAad, tagLength: 128 }, key, utf8(text)),
        Promise.all(
          recipients.map(function (r) {
            return wrapKey(r.ecdh).then(function (kw) {
              return subtle().wrapKey('raw', key, kw, 'AES-KW');
            });
          })
        ),
      ]);
      var keys = {};
      // In list order, so a repeated id keeps its last entry.
      for (var j = 0; j < recipients.length; j++) keys[recipients[j].id] = toB64(done[1][j]);
      return { iv: toB64(iv), ct: toB64(done[0]), keys: keys };
    }

    async function open(env, fromEcdh) {
      try {
        if (!isObj(env) || typeof env.from !== 'string') return null;
        if (typeof env.key !== 'string' || typeof env.iv !== 'string' || typeof env.ct !== 'string') return null;
        var kw = await wrapKey(fromEcdh);
        var key = await subtle().unwrapKey('raw', fromB64(env.key), kw, 'AES-KW', { name: 'AES-GCM' }, false, ['decrypt']);
        var pt = await subtle().decrypt(
          { name: 'AES-GCM', iv: fromB64(env.iv), additionalData: utf8('msw-v1|' + env.from), tagLength: 128 },
          key,
          fromB64(env.ct)
        );
        return JSON.parse(decoder.decode(pt));
      } catch (e) {
        return null;
      }
    }

    return { seal: seal, open: open };
  }

  // ---- short invite codes ---------------------------------------------------------------

  // The invite key pair of a short code is a function of its 16-byte seed, so the code
  // need not carry the key: d = SHA-256("msw-invite-key|" || seed) mod (n - 1) + 1.
  async function inviteKey(seed) {
    var h = await sha256(concatBytes([utf8('msw-invite-key|'), seed]));
    var d = (BigInt('0x' + hex(h)) % (P256_N - BigInt(1))) + BigInt(1);
    var dHex = d.toString(16);
    while (dHex.length < 64) dHex = '0' + dHex;
    var dBytes = new Uint8Array(32);
    for (var i = 0; i < 32; i++) dBytes[i] = parseInt(dHex.substr(2 * i, 2), 16);
    var pkcs8 = concatBytes([PKCS8_P256_PREFIX, dBytes]);
    var key = await subtle().importKey('pkcs8', pkcs8, ECDSA, true, ['sign']);
    var jwk = await subtle().exportKey('jwk', key);
    var pub = concatBytes([[4], fromB64url(jwk.x), fromB64url(jwk.y)]);
    if (pub.length !== 65) throw new Error('unexpected public key size');
    return { ik: toB64(pub), k: toB64(pkcs8) };
  }

  async function makeShortInvite(ownerPriv, hours) {
    var minutes = Math.floor((Date.now() + hours * 3600000) / 60000);
    // Four bytes hold the minutes; a time outside them would be signed as one time and
    // read back as another.
    if (!(minutes >= 0 && minutes <= 0xffffffff)) throw new RangeError('the validity does not fit a short code');
    var seed = randomBytes(16);
    var key = await inviteKey(seed);
    var sig = fromB64(await sign(ownerPriv, ['msw-invite', key.ik, minutes * 60000]));
    if (sig.length !== 64) throw new Error('unexpected signature size');
    var m = [(minutes / 16777216) & 255, (minutes >>> 16) & 255, (minutes >>> 8) & 255, minutes & 255];
    return INVITE2 + b64url(concatBytes([seed, m, sig]));
  }

  async function readShortInvite(code, ownerCert) {
    try {
      if (typeof code !== 'string' || !isObj(ownerCert)) return null;
      var text = code.replace(/\s+/g, '');
      if (text.slice(0, INVITE2.length) !== INVITE2) return null;
      var body = text.slice(INVITE2.length);
      if (!SHORT_BODY_RE.test(body)) return null;
      var b = fromB64url(body);
      var exp = (b[16] * 16777216 + b[17] * 65536 + b[18] * 256 + b[19]) * 60000;
      var key = await inviteKey(b.subarray(0, 16));
      return { g: { ik: key.ik, exp: exp, from: ownerCert, s: toB64(b.subarray(20, 84)) }, k: key.k };
    } catch (e) {
      return null;
    }
  }

  // ---- announcements --------------------------------------------------------------------

  function annShapeOk(id, at, text) {
    return (
      typeof id === 'string' && ANN_ID.test(id) &&
      Number.isSafeInteger(at) && at >= 0 &&
      typeof text === 'string' && text.length <= MAX_ANN
    );
  }

  async function signAnn(ownerPriv, id, at, text) {
    if (!annShapeOk(id, at, text)) {
      throw new RangeError('an announcement needs a 16-hex id, a time and at most 6000 characters');
    }
    return { id: id, at: at, text: text, s: await sign(ownerPriv, ['msw-ann', id, at, text]) };
  }

  async function checkAnn(a, owner) {
    try {
      if (!isObj(a) || !annShapeOk(a.id, a.at, a.text)) return null;
      if (!(await verify(owner, ['msw-ann', a.id, a.at, a.text], a.s))) return null;
      return { id: a.id, at: a.at, text: a.text, s: a.s };
    } catch (e) {
      return null;
    }
  }

  // ---- spoken codes ---------------------------------------------------------------------

  function spokenDigits(s) {
    return String(s).replace(/[\s.\-]/g, '');
  }

  function isSpoken(s) {
    return typeof s === 'string' && /^[0-9]{12}$/.test(spokenDigits(s));
  }

  function fmtSpoken(s) {
    if (s === null || s === undefined) return '';
    return spokenDigits(s).replace(/([0-9]{4})(?=[0-9])/g, '$1 ');
  }

  // 2,000,000 rounds make guessing the 12 digits from a stolen entry slow; the salt ties the
  // key to this network's owner.
  async function spokenKey(digits, owner) {
    var base = await subtle().importKey('raw', utf8(digits), 'PBKDF2', false, ['deriveKey']);
    return subtle().deriveKey(
      { name: 'PBKDF2', hash: 'SHA-256', salt: utf8('msw-spoken|' + owner), iterations: SPOKEN_ITER },
      base,
      { name: 'AES-GCM', length: 256 },
      false,
      ['encrypt', 'decrypt']
    );
  }

  function spokenAad(id, exp) {
    return utf8('msw-spoken|' + id + '|' + exp);
  }

  function drawSpokenDigits() {
    var digits = '';
    while (digits.length < 12) {
      var b = randomBytes(16);
      // Bytes from 250 up are dropped so that every digit is equally likely.
      for (var i = 0; i < b.length && digits.length < 12; i++) if (b[i] < 250) digits += b[i] % 10;
    }
    return digits;
  }

  function spokenShapeOk(e) {
    return (
      isObj(e) &&
      typeof e.id === 'string' && ANN_ID.test(e.id) &&
      Number.isSafeInteger(e.exp) &&
      isB64(e.iv, IV, IV) &&
      isB64(e.ct, SPOKEN_CT_MIN, SPOKEN_CT_MAX)
    );
  }

  async function checkSpoken(e, owner) {
    try {
      if (!spokenShapeOk(e)) return null;
      if (!(await verify(owner, ['msw-spoken', e.id, e.exp, e.iv, e.ct], e.s))) return null;
      return { id: e.id, exp: e.exp, iv: e.iv, ct: e.ct, s: e.s };
    } catch (x) {
      return null;
    }
  }

  async function makeSpoken(ownerPriv, owner, inviteCode, hours) {
    if (typeof inviteCode !== 'string' || !inviteCode) throw new TypeError('an invite code text is needed');
    var plain = utf8(inviteCode);
    // Checked before the slow derivation: an entry past the size every member accepts
    // would be refused everywhere.
    if (4 * Math.ceil((plain.length + 16) / 3) > SPOKEN_CT_MAX) throw new RangeError('the invite code is too long for a spoken code');
    var digits = drawSpokenDigits();
    var id = randomHex(8);
    var exp = expiryAfter(hours);
    var iv = randomBytes(12);
    var key = await spokenKey(digits, owner);
    var ct = toB64(
      await subtle().encrypt({ name: 'AES-GCM', iv: iv, additionalData: spokenAad(id, exp), tagLength: 128 }, key, plain)
    );
    var ivText = toB64(iv);
    var entry = { id: id, exp: exp, iv: ivText, ct: ct, s: await sign(ownerPriv, ['msw-spoken', id, exp, ivText, ct]) };
    // An entry that does not check under `owner` would be dropped by every member.
    if (!(await checkSpoken(entry, owner))) throw new Error('the signing key does not belong to the given owner key');
    return { code: digits, entry: entry };
  }

  async function openSpoken(code, owner, entries) {
    try {
      if (!isSpoken(code) || typeof owner !== 'string' || !Array.isArray(entries)) return null;
      var key = await spokenKey(spokenDigits(code), owner);
      for (var i = 0; i < entries.length; i++) {
        var e = entries[i];
        if (!isObj(e) || typeof e.iv !== 'string' || typeof e.ct !== 'string') continue;
        try {
          var pt = await subtle().decrypt(
            { name: 'AES-GCM', iv: fromB64(e.iv), additionalData: spokenAad(e.id, e.exp), tagLength: 128 },
            key,
            fromB64(e.ct)
          );
          return decoder.decode(pt);
        } catch (x) {
          // not this entry
        }
      }
      return null;
    } catch (x) {
      return null;
    }
  }

  return Object.freeze({
    PUB: PUB,
    SIG: SIG,
    WRAPPED: WRAPPED,
    IV: IV,
    MAX_NAME: MAX_NAME,
    MAX_TEXT: MAX_TEXT,
    REPLY_TEXT: REPLY_TEXT,
    MAX_ROOM_NAME: MAX_ROOM_NAME,
    b64url: b64url,
    fromB64url: fromB64url,
    INVITE1: INVITE1,
    encodeInvite: encodeInvite,
    decodeInvite: decodeInvite,
    ID_RE: ID_RE,
    USERNAME_RE: USERNAME_RE,
    toB64: toB64,
    fromB64: fromB64,
    isB64: isB64,
    canon: canon,
    cleanName: cleanName,
    randomHex: randomHex,
    generateKeys: generateKeys,
    sign: sign,
    verify: verify,
    idOf: idOf,
    safetyNumber: safetyNumber,
    ownerCert: ownerCert,
    makeInvite: makeInvite,
    acceptInvite: acceptInvite,
    verifyCert: verifyCert,
    isRemoved: isRemoved,
    signRemovals: signRemovals,
    checkRemovals: checkRemovals,
    createBox: createBox,
    INVITE2: INVITE2,
    makeShortInvite: makeShortInvite,
    readShortInvite: readShortInvite,
    MAX_ANN: MAX_ANN,
    signAnn: signAnn,
    checkAnn: checkAnn,
    isSpoken: isSpoken,
    fmtSpoken: fmtSpoken,
    makeSpoken: makeSpoken,
    checkSpoken: checkSpoken,
    openSpoken: openSpoken,
  });
})();

if (typeof module === 'object' && module && module.exports) module.exports = MswProto;
