// The sealed local store. Everything mosswire keeps on this computer is one JSON object
// (the vault data), encrypted with AES-GCM under a key that PBKDF2 derives from the PIN
// together with a device secret the operating system guards. A copied vault.json is
// therefore useless on another computer: the PIN alone is not enough to try guesses.
//
// The file is the vault header (compact JSON, fields in a fixed order):
//   v, iter, salt, wsalt, whash, iv, ct[, theme]
// whash is the hash of the wipe PIN, or random bytes when none is set, so the file never
// shows whether a wipe PIN exists. theme sits outside the encryption so the lock screen
// can already wear it.
var Vault = (function () {
  'use strict';

  var ITER = 600000;
  var SAVE_DELAY = 400;
  var subtle = crypto.subtle;

  var header = null;     // the parsed vault.json, or null when there is no vault
  var key = null;        // AES-GCM key of the blob, only while unlocked
  var pinHash = null;    // Base64 SHA-256 of the PIN-derived bytes, only while unlocked
  var secretAnswer = null; // the device secret answer, fetched once per page
  var data = null;       // the vault data, only while unlocked
  var timer = null;      // pending debounced save
  var chain = Promise.resolve(); // every write runs after the one before; never rejects

  function utf8(s) { return new TextEncoder().encode(s); }
  function text(buf) { return new TextDecoder().decode(buf); }

  function toB64(buf) {
    var bytes = buf instanceof Uint8Array ? buf : new Uint8Array(buf);
    var s = '';
    for (var i = 0; i < bytes.length; i += 0x8000) {
      s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    }
    return btoa(s);
  }

  function fromB64(s) {
    var bin = atob(s);
    var out = new Uint8Array(bin.length);
    for (var i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
    return out;
  }

  function random(n) { return crypto.getRandomValues(new Uint8Array(n)); }

  // Hash texts are compared without an early exit, so the time taken does not tell how
  // many leading characters of a guessed PIN's hash were right.
  function same(a, b) {
    if (typeof a !== 'string' || typeof b !== 'string' || a.length !== b.length) return false;
    var diff = 0;
    for (var i = 0; i < a.length; i++) diff |= a.charCodeAt(i) ^ b.charCodeAt(i);
    return diff === 0;
  }

  function isHeader(h) {
    return !!h && typeof h === 'object' && !Array.isArray(h) &&
      typeof h.salt === 'string' && typeof h.wsalt === 'string' && typeof h.whash === 'string';
  }

  async function deviceSecret() {
    if (secretAnswer) return secretAnswer;
    var got = await msw_device_secret();
    if (!got || typeof got !== 'object' || typeof got.secret !== 'string' || !got.secret) {
      throw new Error('keychain');
    }
    secretAnswer = { secret: got.secret, created: got.created === true };
    return secretAnswer;
  }

  async function derive(pin, salt, iter) {
    var sec = await deviceSecret();
    var material = await subtle.importKey('raw', utf8(String(pin) + '|' + sec.secret), 'PBKDF2', false, ['deriveBits']);
    var bits = await subtle.deriveBits(
      { name: 'PBKDF2', hash: 'SHA-256', salt: fromB64(salt), iterations: iter || ITER }, material, 256);
    return new Uint8Array(bits);
  }

  async function hashOf(bytes) {
    return toB64(await subtle.digest('SHA-256', bytes));
  }

  function blobKey(bytes) {
    return subtle.importKey('raw', bytes, { name: 'AES-GCM' }, false, ['encrypt', 'decrypt']);
  }

  async function isWipePin(pin, h) {
    return same(await hashOf(await derive(pin, h.wsalt, h.iter)), h.whash);
  }

  // One write: the data as it is now, under the key as it is now. If the key changes while
  // encrypting (a lock, a wipe, a PIN change), this write is stale and must not reach the
  // disk: after a wipe it would bring the deleted vault back.
  async function writeOnce() {
    var k = key;
    if (!k) return;
    var iv = random(12);
    var plain = utf8(JSON.stringify(data));
    var ct = await subtle.encrypt({ name: 'AES-GCM', iv: iv }, k, plain);
    if (key !== k) return;
    header.iv = toB64(iv);
    header.ct = toB64(ct);
    var ok = false;
    try { ok = await msw_write_vault(JSON.stringify(header)); } catch (e) { ok = false; }
    if (ok !== true) throw new Error("Couldn't save");
  }

  function queue() {
    var p = chain.then(writeOnce);
    chain = p.catch(function () {});
    return p;
  }

  var api = {
    ITER: ITER,

    async load() {
      var raw = await msw_read_vault();
      header = null;
      if (typeof raw !== 'string' || !raw) return false;
      var h;
      try { h = JSON.parse(raw); } catch (e) { return false; }
      if (!isHeader(h)) return false;
      header = h;
      return true;
    },

    // Rejects with "keychain" when the system refuses the device secret.
    async orphaned() {
      if (!header) return false;
      var sec = await deviceSecret();
      return sec.created;
    },

    async create(pin, initial) {
      var h = { v: 1, iter: ITER, salt: toB64(random(16)), wsalt: toB64(random(16)), whash: toB64(random(32)) };
      var bytes = await derive(pin, h.salt, h.iter);
      var k = await blobKey(bytes);
      var ph = await hashOf(bytes);
      header = h;
      key = k;
      pinHash = ph;
      data = initial;
      return api.saveNow();
    },

    async unlock(pin) {
      if (!header) return 'wrong';
      var h = header;
      var both = await Promise.all([derive(pin, h.salt, h.iter), isWipePin(pin, h)]);
      var bytes = both[0];
      var wipe = both[1];
      var k, opened;
      try {
        if (typeof h.iv !== 'string' || typeof h.ct !== 'string') throw new Error('no blob');
        k = await blobKey(bytes);
        var plain = await subtle.decrypt({ name: 'AES-GCM', iv: fromB64(h.iv) }, k, fromB64(h.ct));
        opened = JSON.parse(text(plain));
        if (!opened || typeof opened !== 'object' || Array.isArray(opened)) throw new Error('not a vault');
      } catch (e) {
        return wipe ? 'wipe' : 'wrong';
      }
      key = k;
      pinHash = await hashOf(bytes);
      data = opened;
      return 'ok';
    },

    async check(pin) {
      if (!header || !pinHash) return 'wrong';
      var h = header;
      var both = await Promise.all([derive(pin, h.salt, h.iter), isWipePin(pin, h)]);
      if (same(await hashOf(both[0]), pinHash)) return 'ok';
      return both[1] ? 'wipe' : 'wrong';
    },

    async setPin(pin) {
      if (!key) throw new Error('The vault is locked');
      if (await isWipePin(pin, header)) throw new Error("Your PIN can't be the same as your wipe PIN");
      var salt = toB64(random(16));
      var bytes = await derive(pin, salt, header.iter);
      var k = await blobKey(bytes);
      var ph = await hashOf(bytes);
      if (!key) throw new Error('The vault is locked');
      header.salt = salt;
      key = k;
      pinHash = ph;
      return api.saveNow();
    },

    async setWipePin(pin) {
      if (!key) throw new Error('The vault is locked');
      var wsalt = toB64(random(16));
      var whash = toB64(random(32));
      var given = pin !== null && pin !== undefined && pin !== '';
      if (given) {
        var both = await Promise.all([derive(pin, header.salt, header.iter), derive(pin, wsalt, header.iter)]);
        if (same(await hashOf(both[0]), pinHash)) throw new Error("Your wipe PIN can't be the same as your PIN");
        whash = await hashOf(both[1]);
      }
      if (!key) throw new Error('The vault is locked');
      header.wsalt = wsalt;
      header.whash = whash;
      if (!data.settings || typeof data.settings !== 'object') data.settings = {};
      data.settings.wipeSet = given;
      return api.saveNow();
    },

    setTheme(t) {
      if (!key || !header) return Promise.resolve();
      header.theme = String(t);
      return api.saveNow();
    },

    save() {
      if (!key) return;
      if (timer) clearTimeout(timer);
      timer = setTimeout(function () {
        timer = null;
        queue().catch(function (e) { console.error('mosswire: background save failed:', e && e.message); });
      }, SAVE_DELAY);
    },

    saveNow() {
      if (timer) { clearTimeout(timer); timer = null; }
      return queue();
    },

    lock() {
      if (timer) { clearTimeout(timer); timer = null; }
      key = null;
      pinHash = null;
      data = null;
      return chain.then(function () {});
    },

    get data() { return data; },
    get exists() { return !!header; },
    get theme() { return header && typeof header.theme === 'string' ? header.theme : undefined; },
  };
  return api;
})();
