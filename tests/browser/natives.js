// A test double of the 19 native functions the host binds into the page. It keeps the
// host's rules where the page depends on them: every call resolves (never rejects) with a
// value that went through JSON, as the bridge does; text arguments that are not strings
// arrive as their JSON text; booleans count only when their text is exactly true; the
// vault file is kept byte for byte; the device secret is made once and reported as new
// only by the call that made it; the PIN attempt record counts and waits as the native
// counter does; the wipe removes exactly the files the host removes.
//
// The files live in a store object (get/set/del of texts by name). Node tests pass a Map
// based store; the browser tests pass one over localStorage, so files survive reloads.
//
// Control entries in the same store (names starting "x."), set by tests:
//   x.failWrite    "1": msw_write_vault answers false
//   x.owner.json   text of the owner key file (read by msw_owner_key / msw_owner_secret)
//   x.clipboard    clipboard text ("" or absent: msw_paste answers null)
//   x.update.base  release download address: msw_update fetches SHA256SUMS.txt and the
//                  asset under BASE/releases/download/TAG/ and keeps the asset only when
//                  its SHA-256 is the listed one, as the host does (absent: no updates);
//                  the owner's signature the host also checks is left out: the page only
//                  shows what the host answers (the host's own tests check signatures)
// and written by the double for tests to read: x.panic, x.title, x.startup.
(function (root) {
  'use strict';

  var NAMES = [
    'msw_read_vault', 'msw_write_vault', 'msw_device_secret', 'msw_pin_start', 'msw_pin_result',
    'msw_wipe', 'msw_set_panic', 'msw_attention', 'msw_title', 'msw_copy', 'msw_paste',
    'msw_owner_key', 'msw_owner_secret', 'msw_startup', 'msw_focused', 'msw_notify_setup',
    'msw_notify', 'msw_update', 'msw_update_install',
  ];

  // The key names the host can register as a global key: exactly the bridge contract's
  // (tests/js/bridge_contract.test.js keeps the two the same).
  var KEYS = (function () {
    var k = {};
    for (var c = 65; c <= 90; c++) k['Key' + String.fromCharCode(c)] = 1;
    for (var d = 0; d <= 9; d++) k['Digit' + d] = 1;
    for (var f = 1; f <= 24; f++) k['F' + f] = 1;
    ['Escape', 'Tab', 'Space', 'Insert', 'Delete', 'Home', 'End', 'PageUp', 'PageDown',
      'ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown', 'Backquote', 'Minus', 'Equal',
      'BracketLeft', 'BracketRight', 'Backslash', 'Semicolon', 'Quote', 'Comma', 'Period', 'Slash',
      'Pause', 'ScrollLock'].forEach(function (n) { k[n] = 1; });
    return k;
  })();

  // Replies arrive as their own task, as the bridge's do; a message port rather than a
  // timer, so a browser's timer throttling can't slow the double down.
  var later = (function () {
    if (typeof setImmediate === 'function') return setImmediate; // Node
    if (typeof MessageChannel !== 'function') return function (fn) { setTimeout(fn, 0); };
    var ch = new MessageChannel();
    var queue = [];
    ch.port1.onmessage = function () { queue.shift()(); };
    return function (fn) { queue.push(fn); ch.port2.postMessage(0); };
  })();

  function b64(bytes) {
    var s = '';
    for (var i = 0; i < bytes.length; i++) s += String.fromCharCode(bytes[i]);
    return btoa(s);
  }

  function mswNativeDouble(opts) {
    var store = opts.store;
    var now = opts.now || function () { return Date.now(); };
    var calls = opts.calls || [];

    function readRecord() {
      var t = store.get('attempts.txt');
      var m = /^\s*([+-]?\d+)(?:\s+([+-]?\d+))?/.exec(t || '');
      return { count: m ? parseInt(m[1], 10) : 0, until: m && m[2] ? parseInt(m[2], 10) : 0 };
    }

    function ownerField(name, shortest, longest) {
      var content = (store.get('x.owner.json') || '').slice(0, 8191);
      var at = content.indexOf('"' + name + '"');
      if (at < 0) return null;
      var open = content.indexOf('"', at + name.length + 2);
      if (open < 0) return null;
      var close = content.indexOf('"', open + 1);
      if (close < 0) return null;
      var v = content.slice(open + 1, close);
      return v.length >= shortest && v.length <= longest ? v : null;
    }

    var ASSET = 'mosswire-linux-x86_64';

    function hexOf(buf) {
      return Array.prototype.map.call(new Uint8Array(buf), function (b) { return (b < 16 ? '0' : '') + b.toString(16); }).join('');
    }

    // The host's download and check: the list first, then the asset, kept only on a match.
    async function downloadRelease(base, tag) {
      var dir = base + '/releases/download/' + tag + '/';
      store.del('x.update.ready');
      var list;
      try {
        var r = await fetch(dir + 'SHA256SUMS.txt', { cache: 'no-store' });
        if (!r.ok) return { err: "Couldn't download the update." };
        list = await r.text();
      } catch (e) {
        return { err: "Couldn't download the update." };
      }
      var listed = null;
      list.split('\n').forEach(function (line) {
        var m = /^([0-9a-fA-F]{64}) [ *](.+?)\r?$/.exec(line);
        if (m && m[2] === ASSET && listed === null) listed = m[1].toLowerCase();
      });
      if (!listed) return { err: "That release has no checksum for this computer's download." };
      var bytes;
      try {
        var a = await fetch(dir + ASSET, { cache: 'no-store' });
        if (!a.ok) return { err: "Couldn't download the update." };
        bytes = await a.arrayBuffer();
      } catch (e) {
        return { err: "Couldn't download the update." };
      }
      if (hexOf(await crypto.subtle.digest('SHA-256', bytes)) !== listed) {
        return { err: "The download didn't match its checksum, so it wasn't installed." };
      }
      store.set('x.update.ready', tag + ' ' + listed);
      return { ok: true };
    }

    var impl = {
      msw_read_vault: function () {
        var t = store.get('vault.json');
        return t === null || t === undefined ? null : t;
      },
      msw_write_vault: function (text) {
        if (text === undefined) return false;
        if (store.get('x.failWrite') === '1') return false;
        store.set('vault.json', text);
        return true;
      },
      msw_device_secret: function () {
        var t = store.get('device.key');
        if (t !== null && t !== undefined) {
          // A blob that does not unseal (another computer, damaged): refused, kept as it is.
          var m = /^sealed:([A-Za-z0-9+/]{43}=)$/.exec(t);
          return m ? { secret: m[1], created: false } : null;
        }
        var secret = b64(crypto.getRandomValues(new Uint8Array(32)));
        store.set('device.key', 'sealed:' + secret);
        return { secret: secret, created: true };
      },
      msw_pin_start: function () {
        var wait = readRecord().until - now();
        return wait > 0 ? wait : 0;
      },
      msw_pin_result: function (ok) {
        var r = readRecord();
        if (ok === 'true') { r.count = 0; r.until = 0; } else {
          r.count += 1;
          if (r.count >= 5) r.until = now() + Math.min(30000 * Math.pow(2, Math.min(r.count - 5, 7)), 3600000);
        }
        store.set('attempts.txt', r.count + ' ' + r.until);
        return null;
      },
      msw_wipe: function () {
        store.del('x.panic');
        store.del('x.startup');
        ['device.key', 'vault.json', 'vault.json.tmp', 'attempts.txt'].forEach(function (n) { store.del(n); });
        return true;
      },
      msw_set_panic: function (code, global) {
        store.del('x.panic');
        if (code && global === 'true' && KEYS[code]) { store.set('x.panic', code); return true; }
        return false;
      },
      msw_attention: function () { return null; },
      msw_title: function (t) { if (t !== undefined) store.set('x.title', t); return null; },
      msw_copy: function (t) { if (t !== undefined) store.set('x.clipboard', t); return null; },
      msw_paste: function () {
        var t = store.get('x.clipboard');
        return t === null || t === undefined ? null : t;
      },
      msw_owner_key: function () { return ownerField('sigPub', 88, 88); },
      msw_owner_secret: function () { return ownerField('sigPriv', 100, 400); },
      msw_startup: function (on) {
        if (on === 'true') store.set('x.startup', '1'); else store.del('x.startup');
        return true;
      },
      msw_focused: function () { return opts.focused ? !!opts.focused() : true; },
      msw_notify_setup: function () { return null; },
      msw_notify: function () { return null; },
      msw_update: function (tag) {
        var base = store.get('x.update.base');
        if (!base) return { err: 'No updates in this test.' };
        return downloadRelease(base, tag);
      },
      msw_update_install: function () {
        var ready = store.get('x.update.ready');
        if (!ready) return 'none';
        store.del('x.update.ready');
        store.set('x.update.installed', ready);
        return 'quit';
      },
    };

    var bound = {};
    NAMES.forEach(function (name) {
      bound[name] = function () {
        // The bridge carries the arguments as one JSON array text; the host reads a string
        // element as its text and any other element as its raw JSON text.
        var args = JSON.parse(JSON.stringify(Array.prototype.slice.call(arguments)));
        args = args.map(function (a) { return typeof a === 'string' ? a : JSON.stringify(a); });
        calls.push({ name: name, args: args });
        return new Promise(function (resolve) {
          later(function () {
            Promise.resolve(impl[name].apply(null, args)).then(function (out) {
              resolve(out === undefined ? null : JSON.parse(JSON.stringify(out)));
            });
          });
        });
      };
    });
    return bound;
  }

  mswNativeDouble.NAMES = NAMES;
  mswNativeDouble.KEYS = Object.keys(KEYS);
  if (typeof module === 'object' && module && module.exports) module.exports = mswNativeDouble;
  else root.mswNativeDouble = mswNativeDouble;
})(typeof globalThis !== 'undefined' ? globalThis : this);
