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
  // However often save() is called, a change is written at most this long after it was
  // made: a busy room that changes the data every few hundred ms must not keep it unsaved.
  var SAVE_MOST = 2000;
  // A save's work on the page runs in slices of about this many ms with a turn of the
  // event loop between them, so the window keeps drawing and taking keys while a large
  // vault is written.
  var SLICE_MS = 10;
  var CHUNK = 256; // list members written per piece
  var subtle = crypto.subtle;

  var header = null;     // the parsed vault.json, or null when there is no vault
  var key = null;        // AES-GCM key of the blob, only while unlocked
  var pinHash = null;    // Base64 SHA-256 of the PIN-derived bytes, only while unlocked
  var secretAnswer = null; // the device secret answer, fetched once per page
  var data = null;       // the vault data, only while unlocked
  var timer = null;      // pending debounced save
  var cap = null;        // the latest that pending save may run, from its first change
  var chain = Promise.resolve(); // every write runs after the one before; never rejects
  var sealed = null;     // { ct, bytes }: the header's ct text and its bytes, decoded once
  var lastTimes = null;  // how long the last write's steps took, in ms

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
    if (typeof Uint8Array.fromBase64 === 'function') return Uint8Array.fromBase64(s);
    var bin = atob(s);
    var out = new Uint8Array(bin.length);
    for (var i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
    return out;
  }

  // A turn of the event loop without a timer's clamping: a message to ourselves.
  var turns = new MessageChannel();
  var waiting = [];
  turns.port1.onmessage = function () { var go = waiting.shift(); if (go) go(); };
  function turn() {
    return new Promise(function (go) { waiting.push(go); turns.port2.postMessage(0); });
  }

  // The start of the running slice; a piece of work that finds it over SLICE_MS old
  // gives the event loop its turn and starts a new slice.
  function newSlice() { return { at: performance.now() }; }
  async function pause(slice) {
    if (performance.now() - slice.at < SLICE_MS) return;
    await turn();
    slice.at = performance.now();
  }

  // The same text as JSON.stringify(value), written in pieces: objects and lists in the
  // top `depth` levels (the data, its message lists) a member or CHUNK list members at a
  // time, with pauses between. Data that changes during a pause gives a text that mixes
  // before and after, as valid as either; the change's own save comes after this one.
  async function stringify(value, depth, out, slice) {
    if (depth <= 0 || !value || typeof value !== 'object' || typeof value.toJSON === 'function' ||
        (!Array.isArray(value) && Object.getPrototypeOf(value) !== Object.prototype &&
         Object.getPrototypeOf(value) !== null)) {
      var s = JSON.stringify(value);
      if (s === undefined) return false;
      out.push(s);
      return true;
    }
    if (Array.isArray(value)) {
      out.push('[');
      for (var i = 0; i < value.length; i += CHUNK) {
        var part = JSON.stringify(value.slice(i, i + CHUNK));
        out.push(i ? ',' : '', part.slice(1, -1));
        await pause(slice);
      }
      out.push(']');
      return true;
    }
    out.push('{');
    var keys = Object.keys(value), first = true;
    for (var k = 0; k < keys.length; k++) {
      var mark = out.length;
      out.push((first ? '' : ',') + JSON.stringify(keys[k]) + ':');
      if (await stringify(value[keys[k]], depth - 1, out, slice)) first = false;
      else out.length = mark;
      await pause(slice);
    }
    out.push('}');
    return true;
  }

  // toB64 in pieces of a multiple of 3 bytes, which join into the same Base64 text. The
  // pieces are only put side by side here; the text is laid out in one piece once, when
  // the whole header is (flat).
  async function toB64Sliced(bytes, slice) {
    var text = '';
    for (var i = 0; i < bytes.length; i += 0x30000) {
      var piece = bytes.subarray(i, i + 0x30000);
      text += typeof piece.toBase64 === 'function' ? piece.toBase64() : toB64(piece);
      await pause(slice);
    }
    return text;
  }

  // A text made by joining pieces is laid out in one piece by the first look at its
  // characters. The header's text is, in a task of its own: the bridge then copies it
  // once as it sends it, instead of joining and copying it in the same task.
  function flat(s) {
    if (s.length) s.charCodeAt(s.length - 1);
    return s;
  }

  // The UTF-8 bytes of the pieces of text, written a piece at a time into one buffer that
  // is kept from save to save: neither the whole text nor a fresh buffer of megabytes is
  // made for each save. Answers the bytes written (a view of the kept buffer).
  var plainBuffer = null;
  async function utf8Sliced(pieces, slice) {
    var units = 0;
    for (var i = 0; i < pieces.length; i++) units += pieces[i].length;
    // Mostly ASCII: about one byte a unit; the buffer grows when the text needs more.
    if (!plainBuffer || plainBuffer.length < units) plainBuffer = new Uint8Array(units + (units >> 3) + 1024);
    var coder = new TextEncoder(), at = 0;
    for (var p = 0; p < pieces.length; p++) {
      var piece = pieces[p];
      // A piece needs at most three bytes a unit.
      if (plainBuffer.length - at < piece.length * 3) {
        var more = new Uint8Array(Math.max(plainBuffer.length * 2, at + piece.length * 3));
        more.set(plainBuffer.subarray(0, at));
        plainBuffer.fill(0);
        plainBuffer = more;
      }
      at += coder.encodeInto(piece, plainBuffer.subarray(at)).written;
      await pause(slice);
    }
    return plainBuffer.subarray(0, at);
  }

  // The kept buffer holds the vault's plain text: it is cleared when the vault locks.
  function forgetPlain() {
    if (plainBuffer) plainBuffer.fill(0);
  }

  // The header's text, exactly as JSON.stringify would give it with this iv and ct, but
  // with the blob put in by hand: quoting a text of megabytes is slow in every engine,
  // and Base64 needs no escaping.
  function headerText(h, ivText, ctText) {
    var copy = Object.assign({}, h);
    copy.iv = ivText;
    copy.ct = '';
    var s = JSON.stringify(copy);
    var at = s.indexOf('"ct":""') + 6;
    return s.slice(0, at) + ctText + s.slice(at);
  }

  // The bytes of the header's blob. Decoded when the vault is read or written, before a
  // PIN is typed, so an unlock waits only for the derivations and the decryption.
  function sealedBytes(h) {
    if (!sealed || sealed.ct !== h.ct) sealed = { ct: h.ct, bytes: fromB64(h.ct) };
    return sealed.bytes;
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
    var t0 = performance.now(), times = {};
    var slice = newSlice();
    var iv = random(12);
    var parts = [];
    await stringify(data, 3, parts, slice);
    if (key !== k) return;
    var plain = await utf8Sliced(parts, slice);
    parts = null;
    if (key !== k) return;
    var t1 = performance.now();
    times.data = t1 - t0;
    // Chromium encrypts on the page's own thread and goes on with the answer in the same
    // task: without a turn on each side, the last slice before and the first after would
    // join it into one task that holds the window still for over 50 ms.
    await turn();
    var ct = new Uint8Array(await subtle.encrypt({ name: 'AES-GCM', iv: iv }, k, plain));
    await turn();
    var t2 = performance.now();
    times.seal = t2 - t1;
    slice = newSlice();
    var ctText = await toB64Sliced(ct, slice);
    if (key !== k) return;
    var ivText = toB64(iv);
    var out = headerText(header, ivText, ctText);
    await turn();
    out = flat(out);
    // The bridge quotes the text again when it is sent: that gets a task of its own.
    await turn();
    if (key !== k) return;
    header.iv = ivText;
    header.ct = ctText;
    sealed = { ct: ctText, bytes: ct };
    var t3 = performance.now();
    times.text = t3 - t2;
    var ok = false;
    try { ok = await msw_write_vault(out); } catch (e) { ok = false; }
    times.write = performance.now() - t3;
    lastTimes = times;
    if (ok !== true) throw new Error("Couldn't save");
  }

  function unschedule() {
    if (timer) { clearTimeout(timer); timer = null; }
    if (cap) { clearTimeout(cap); cap = null; }
  }

  function background() {
    unschedule();
    queue().catch(function (e) { console.error('mosswire: background save failed:', e && e.message); });
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
      try { if (typeof h.ct === 'string') sealedBytes(h); } catch (e) { sealed = null; }
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
      // The wipe PIN is derived on every attempt, but only once the blob's decryption has
      // been asked for: an engine that runs its crypto one operation at a time (WebKit does)
      // would otherwise make the right PIN wait for a derivation whose answer only matters
      // when the PIN does not open the vault.
      var wiping = null;
      function wipeCheck() {
        if (!wiping) {
          wiping = isWipePin(pin, h);
          wiping.catch(function () {});
        }
        return wiping;
      }
      var bytes = await derive(pin, h.salt, h.iter);
      var k, opened;
      try {
        if (typeof h.iv !== 'string' || typeof h.ct !== 'string') throw new Error('no blob');
        k = await blobKey(bytes);
        var opening = subtle.decrypt({ name: 'AES-GCM', iv: fromB64(h.iv) }, k, sealedBytes(h));
        var hashing = hashOf(bytes);
        opening.catch(function () {});
        hashing.catch(function () {});
        wipeCheck();
        opened = JSON.parse(text(await opening));
        if (!opened || typeof opened !== 'object' || Array.isArray(opened)) throw new Error('not a vault');
        var ph = await hashing;
      } catch (e) {
        return (await wipeCheck()) ? 'wipe' : 'wrong';
      }
      key = k;
      pinHash = ph;
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
      timer = setTimeout(background, SAVE_DELAY);
      if (!cap) cap = setTimeout(background, SAVE_MOST);
    },

    saveNow() {
      unschedule();
      return queue();
    },

    lock() {
      unschedule();
      key = null;
      pinHash = null;
      data = null;
      chain = chain.then(forgetPlain);
      return chain;
    },

    get data() { return data; },
    // The last write's steps in ms: data (serialising and encoding), seal (encryption),
    // text (Base64 and the header) and write (the native write, answered once durable).
    get lastSave() { return lastTimes && Object.assign({}, lastTimes); },
    get exists() { return !!header; },
    get theme() { return header && typeof header.theme === 'string' ? header.theme : undefined; },
  };
  return api;
})();
