'use strict';
// The vault (web/vault.js) run against the native test double, in a fresh script context
// per case, so each case sees its own page load.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const vm = require('vm');
const mswNativeDouble = require('../browser/natives.js');

const SOURCE = fs.readFileSync(path.join(__dirname, '../../web/vault.js'), 'utf8');
const subtle = globalThis.crypto.subtle;
const enc = (s) => new TextEncoder().encode(s);
const b64 = (u) => Buffer.from(u).toString('base64');

function memoryStore(files = {}) {
  const m = new Map(Object.entries(files));
  return {
    map: m,
    get: (n) => (m.has(n) ? m.get(n) : null),
    set: (n, t) => m.set(n, String(t)),
    del: (n) => m.delete(n),
  };
}

// Timers under the test's control: advance(ms) fires what is due, in order.
function fakeTimers() {
  let now = 0;
  let seq = 0;
  const due = new Map();
  return {
    setTimeout(fn, ms) { const id = ++seq; due.set(id, { at: now + (ms || 0), fn }); return id; },
    clearTimeout(id) { due.delete(id); },
    pending() { return due.size; },
    advance(ms) {
      const end = now + ms;
      for (;;) {
        let next = null;
        for (const [id, t] of due) if (t.at <= end && (!next || t.at < next[1].at)) next = [id, t];
        if (!next) break;
        due.delete(next[0]);
        now = next[1].at;
        next[1].fn();
      }
      now = end;
    },
  };
}

// The page's MessageChannel, enough for the vault's turns of the event loop; `turns`
// counts the messages sent. Node's own would keep the test process alive.
function turnChannel(counter) {
  return class {
    constructor() {
      this.port1 = { onmessage: null };
      const port1 = this.port1;
      this.port2 = { postMessage: (m) => { counter.turns++; setImmediate(() => port1.onmessage({ data: m })); } };
    }
  };
}

// One page load: a fresh Vault over the given store. `hooks.encrypt` and `hooks.deriveBits`
// may wrap those operations (they get the call and its arguments) to pause them half-way;
// `hooks.clock` stands in for performance.
function page(store, hooks = {}) {
  const calls = [];
  const natives = mswNativeDouble({ store, calls });
  const timers = hooks.timers || { setTimeout, clearTimeout };
  const cryptoShim = {
    getRandomValues: (a) => globalThis.crypto.getRandomValues(a),
    subtle: new Proxy(subtle, {
      get(target, name) {
        if (name === 'encrypt' && hooks.encrypt) return (...a) => hooks.encrypt(() => target.encrypt(...a), a);
        if (name === 'deriveBits' && hooks.deriveBits) return (...a) => hooks.deriveBits(() => target.deriveBits(...a), a);
        const v = target[name];
        return typeof v === 'function' ? v.bind(target) : v;
      },
    }),
  };
  const errors = [];
  const counter = { turns: 0 };
  const ctx = vm.createContext(Object.assign({
    crypto: cryptoShim, TextEncoder, TextDecoder, atob, btoa, Promise, Uint8Array,
    performance: hooks.clock || performance, MessageChannel: turnChannel(counter),
    setTimeout: timers.setTimeout, clearTimeout: timers.clearTimeout,
    console: { error: (...a) => errors.push(a.join(' ')), log() {} },
  }, natives));
  vm.runInContext(SOURCE + '\nthis.Vault = Vault;', ctx);
  return { Vault: ctx.Vault, calls, errors, natives, counter };
}

const header = (store) => JSON.parse(store.get('vault.json'));
// Objects made inside the page context have that context's prototypes.
const plain = (x) => JSON.parse(JSON.stringify(x));
const tick = () => new Promise((r) => setImmediate(r));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// Waits for what the page does in the background, however slow a busy machine makes it; only
// a page that never gets there fails, and says so.
async function until(cond, what = 'the awaited condition') {
  const hung = Date.now() + 120000;
  while (!cond()) {
    if (Date.now() > hung) throw new Error(`${what} never came about`);
    await sleep(5);
  }
}

// A vault made by hand, independently of vault.js, with any iteration count: it pins the
// file format down and keeps cases fast where the count does not matter.
// A fresh page over the same files, with the vault header loaded: what the next start sees.
async function reopened(store) {
  const v = page(store).Vault;
  await v.load();
  return v;
}

async function handMade(store, { pin, wipe = null, iter, data, omitIter = false }) {
  if (!store.get('device.key')) store.set('device.key', 'sealed:' + b64(crypto.getRandomValues(new Uint8Array(32))));
  const secret = store.get('device.key').slice(7);
  const derive = async (p, salt) => {
    const m = await subtle.importKey('raw', enc(p + '|' + secret), 'PBKDF2', false, ['deriveBits']);
    return new Uint8Array(await subtle.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt, iterations: iter }, m, 256));
  };
  const salt = crypto.getRandomValues(new Uint8Array(16));
  const wsalt = crypto.getRandomValues(new Uint8Array(16));
  const iv = crypto.getRandomValues(new Uint8Array(12));
  const k = await subtle.importKey('raw', await derive(pin, salt), 'AES-GCM', false, ['encrypt']);
  const ct = await subtle.encrypt({ name: 'AES-GCM', iv }, k, enc(JSON.stringify(data)));
  const whash = wipe ? b64(await subtle.digest('SHA-256', await derive(wipe, wsalt)))
    : b64(crypto.getRandomValues(new Uint8Array(32)));
  const h = { v: 1, iter, salt: b64(salt), wsalt: b64(wsalt), whash, iv: b64(iv), ct: b64(new Uint8Array(ct)) };
  if (omitIter) delete h.iter;
  store.set('vault.json', JSON.stringify(h));
  return h;
}

test('loading: what counts as a vault', async (t) => {
  await t.test('no file, an empty file, text that is not JSON or not a header: no vault', async () => {
    for (const content of [null, '', '{"v":1', 'null', '[1,2]', '"text"', '{"v":1}']) {
      const store = memoryStore(content === null ? {} : { 'vault.json': content });
      const { Vault } = page(store);
      assert.equal(await Vault.load(), false, String(content));
      assert.equal(Vault.exists, false);
      assert.equal(await Vault.orphaned(), false);
    }
  });

  await t.test('a readable header is a vault and carries its theme', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1234', iter: 1000, data: { a: 1 } });
    const h = header(store);
    h.theme = 'matrix';
    store.set('vault.json', JSON.stringify(h));
    const { Vault } = page(store);
    assert.equal(await Vault.load(), true);
    assert.equal(Vault.exists, true);
    assert.equal(Vault.theme, 'matrix');
    assert.equal(Vault.data, null);
  });

  await t.test('a vault whose device secret was just made again is orphaned', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1234', iter: 1000, data: {} });
    store.del('device.key');
    const { Vault } = page(store);
    await Vault.load();
    assert.equal(await Vault.orphaned(), true);
    assert.equal(await Vault.unlock('1234'), 'wrong');
  });

  await t.test('a device secret the system refuses fails with "keychain"', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1234', iter: 1000, data: {} });
    store.set('device.key', 'a blob from another computer');
    const { Vault } = page(store);
    await Vault.load();
    await assert.rejects(Vault.orphaned(), /^Error: keychain$/);
    await assert.rejects(Vault.unlock('1234'), /^Error: keychain$/);
    assert.equal(store.get('device.key'), 'a blob from another computer');
  });
});

test('create, reload and unlock with the real iteration count', async () => {
  const store = memoryStore();
  const first = page(store);
  assert.equal(await first.Vault.load(), false);
  const initial = { v: 1, me: 'abc', text: 'héllo <b>' };
  await first.Vault.create('482916', initial);
  const h = header(store);
  assert.deepEqual(Object.keys(h), ['v', 'iter', 'salt', 'wsalt', 'whash', 'iv', 'ct']);
  assert.equal(h.v, 1);
  assert.equal(h.iter, 600000);
  assert.equal(Buffer.from(h.salt, 'base64').length, 16);
  assert.equal(Buffer.from(h.wsalt, 'base64').length, 16);
  assert.equal(h.whash.length, 44);
  assert.equal(Buffer.from(h.iv, 'base64').length, 12);
  assert.equal(store.get('vault.json'), JSON.stringify(h), 'compact JSON');
  assert.equal(first.Vault.data, initial);

  const second = page(store);
  assert.equal(await second.Vault.load(), true);
  assert.equal(await second.Vault.orphaned(), false);
  assert.equal(await second.Vault.unlock('000000'), 'wrong');
  assert.equal(second.Vault.data, null);
  assert.equal(await second.Vault.unlock('482916'), 'ok');
  assert.deepEqual(plain(second.Vault.data), initial);
  assert.equal(await second.Vault.check('482916'), 'ok');
  assert.equal(await second.Vault.check('4829'), 'wrong');
});

test('iteration count comes from the header', async (t) => {
  await t.test('another count is used as written', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '2468', iter: 1000, data: { n: 7 } });
    const { Vault } = page(store);
    await Vault.load();
    assert.equal(await Vault.unlock('2468'), 'ok');
    assert.deepEqual(plain(Vault.data), { n: 7 });
  });
  await t.test('no count means 600000', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '2468', iter: 600000, omitIter: true, data: { n: 8 } });
    const { Vault } = page(store);
    await Vault.load();
    assert.equal(await Vault.unlock('2468'), 'ok');
    assert.deepEqual(plain(Vault.data), { n: 8 });
  });
});

test('PINs and the wipe PIN', async (t) => {
  await t.test('the wipe PIN gives "wipe" at unlock and while unlocked', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', wipe: '9999', iter: 1000, data: {} });
    const { Vault } = page(store);
    await Vault.load();
    assert.equal(await Vault.unlock('9999'), 'wipe');
    assert.equal(Vault.data, null);
    assert.equal(await Vault.unlock('1111'), 'ok');
    assert.equal(await Vault.check('9999'), 'wipe');
    assert.equal(await Vault.check('1112'), 'wrong');
  });

  await t.test('the right PIN wins when it is also the wipe PIN', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', wipe: '1111', iter: 1000, data: { ok: true } });
    const { Vault } = page(store);
    await Vault.load();
    assert.equal(await Vault.unlock('1111'), 'ok');
    assert.equal(await Vault.check('1111'), 'ok');
  });

  await t.test('the right PIN opens without waiting for the wipe PIN, which is still derived', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', wipe: '9999', iter: 1000, data: { n: 1 } });
    let derived = 0;
    let release;
    const held = new Promise((r) => { release = r; });
    // The second derivation of an attempt (the wipe PIN's) is held until the test lets go.
    const { Vault } = page(store, { deriveBits: async (go) => { if (++derived % 2 === 0) await held; return go(); } });
    await Vault.load();
    assert.equal(await Vault.unlock('1111'), 'ok');
    assert.equal(derived, 2, 'the wipe PIN was derived as well');
    assert.equal(Vault.data.n, 1);
    // A PIN that does not open the vault waits for the wipe PIN's answer.
    await Vault.lock();
    let answer = null;
    const wrong = Vault.unlock('1234').then((a) => { answer = a; });
    await until(() => derived === 4, 'the wrong PIN\'s two derivations');
    await sleep(20);
    assert.equal(answer, null, 'no answer before the wipe PIN is known');
    release();
    await wrong;
    assert.equal(answer, 'wrong');
    assert.equal(await Vault.unlock('9999'), 'wipe');
  });

  await t.test('a damaged blob is "wrong" for the PIN and still "wipe" for the wipe PIN', async () => {
    const store = memoryStore();
    const h = await handMade(store, { pin: '1111', wipe: '2222', iter: 1000, data: {} });
    for (const damage of [(x) => { x.ct = x.ct.slice(0, -4) + 'AAAA'; }, (x) => { delete x.iv; }, (x) => { delete x.ct; }]) {
      const copy = JSON.parse(JSON.stringify(h));
      damage(copy);
      store.set('vault.json', JSON.stringify(copy));
      const { Vault } = page(store);
      await Vault.load();
      assert.equal(await Vault.unlock('1111'), 'wrong');
      assert.equal(await Vault.unlock('2222'), 'wipe');
    }
  });

  await t.test('changing the PIN re-encrypts; the old PIN is wrong, the wipe PIN still wipes', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', wipe: '2222', iter: 1000, data: { keep: 'me' } });
    const before = header(store);
    const { Vault } = page(store);
    await Vault.load();
    await Vault.unlock('1111');
    await assert.rejects(Vault.setPin('2222'), { message: "Your PIN can't be the same as your wipe PIN" });
    assert.deepEqual(header(store), before, 'a refused change writes nothing');
    await Vault.setPin('333333');
    const after = header(store);
    assert.notEqual(after.salt, before.salt);
    assert.notEqual(after.ct, before.ct);
    assert.equal(after.wsalt, before.wsalt);
    assert.equal(after.whash, before.whash);
    assert.equal(await Vault.check('333333'), 'ok');
    const again = await reopened(store);
    assert.equal(await again.unlock('1111'), 'wrong');
    assert.equal(await again.unlock('2222'), 'wipe');
    assert.equal(await again.unlock('333333'), 'ok');
    assert.deepEqual(plain(again.data), { keep: 'me' });
  });

  await t.test('setting and turning off the wipe PIN', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { settings: { wipeSet: false } } });
    const { Vault } = page(store);
    await Vault.load();
    await Vault.unlock('1111');
    const h0 = header(store);
    await assert.rejects(Vault.setWipePin('1111'), { message: "Your wipe PIN can't be the same as your PIN" });
    assert.deepEqual(header(store), h0);
    assert.equal(Vault.data.settings.wipeSet, false);

    await Vault.setWipePin('5555');
    const h1 = header(store);
    assert.notEqual(h1.wsalt, h0.wsalt);
    assert.equal(Vault.data.settings.wipeSet, true);
    assert.equal(await Vault.check('5555'), 'wipe');

    await Vault.setWipePin('');
    const h2 = header(store);
    assert.notEqual(h2.wsalt, h1.wsalt);
    assert.notEqual(h2.whash, h1.whash);
    assert.equal(h2.whash.length, 44);
    assert.deepEqual(Object.keys(h2), Object.keys(h1), 'an unset wipe PIN looks like a set one');
    assert.equal(Vault.data.settings.wipeSet, false);
    assert.equal(await Vault.check('5555'), 'wrong');
    const again = await reopened(store);
    assert.equal(await again.unlock('5555'), 'wrong');
    assert.equal(again.data, null);
  });
});

test('theme lives in the header, appended once and kept in place', async () => {
  const store = memoryStore();
  await handMade(store, { pin: '1111', iter: 1000, data: {} });
  const { Vault } = page(store);
  await Vault.load();
  await Vault.setTheme('amber');
  assert.equal(header(store).theme, undefined, 'nothing changes while locked');
  await Vault.unlock('1111');
  await Vault.setTheme('amber');
  await Vault.setTheme('midnight');
  await Vault.setPin('2222');
  const h = header(store);
  assert.deepEqual(Object.keys(h), ['v', 'iter', 'salt', 'wsalt', 'whash', 'iv', 'ct', 'theme']);
  assert.equal(h.theme, 'midnight');
  assert.equal(Vault.theme, 'midnight');
});

test('saving', async (t) => {
  // An unlocked vault on fake timers, counting its writes.
  const unlocked = async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { n: 0 } });
    const timers = fakeTimers();
    const { Vault, calls } = page(store, { timers });
    await Vault.load();
    await Vault.unlock('1111');
    return { store, timers, Vault, writes: () => calls.filter((c) => c.name === 'msw_write_vault').length };
  };

  await t.test('two save() calls 100 ms apart write once, 400 ms after the second', async () => {
    const { store, timers, Vault, writes } = await unlocked();
    Vault.data.n = 1;
    Vault.save();
    timers.advance(100);
    Vault.data.n = 2;
    Vault.save();
    timers.advance(399);
    await sleep(30);
    assert.equal(writes(), 0);
    timers.advance(1);
    await until(() => writes() > 0, 'the debounced write');
    await Vault.lock();
    assert.equal(writes(), 1);
    const again = await reopened(store);
    await again.unlock('1111');
    assert.deepEqual(plain(again.data), { n: 2 });
  });

  await t.test('changes every 250 ms are still written, each within 2 s of being made', async () => {
    const { store, timers, Vault, writes } = await unlocked();
    for (let n = 1; n <= 20; n++) {
      Vault.data.n = n;
      Vault.save();
      timers.advance(250);
      await sleep(5);
    }
    await until(() => writes() >= 2, 'writes during the trickle');
    await Vault.lock();
    const again = await reopened(store);
    await again.unlock('1111');
    assert.ok(plain(again.data).n >= 13, 'the newest write holds a change at most 2 s old, not ' + plain(again.data).n);
  });

  await t.test('saveNow cancels the pending save and settles with its own write', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { n: 0 } });
    const timers = fakeTimers();
    const { Vault, calls } = page(store, { timers });
    await Vault.load();
    await Vault.unlock('1111');
    Vault.save();
    Vault.data.n = 5;
    await Vault.saveNow();
    assert.equal(timers.pending(), 0);
    assert.equal(calls.filter((c) => c.name === 'msw_write_vault').length, 1);
  });

  await t.test('a refused write rejects saveNow with "Couldn\'t save"; later writes still run', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { n: 0 } });
    const { Vault } = page(store);
    await Vault.load();
    await Vault.unlock('1111');
    const before = store.get('vault.json');
    store.set('x.failWrite', '1');
    Vault.data.n = 1;
    const failed = Vault.saveNow();
    const next = Vault.saveNow();
    await assert.rejects(failed, { message: "Couldn't save" });
    await assert.rejects(next, { message: "Couldn't save" });
    assert.equal(store.get('vault.json'), before);
    assert.equal(Vault.data.n, 1, 'memory keeps the change');
    store.del('x.failWrite');
    await Vault.saveNow();
    const again = await reopened(store);
    await again.unlock('1111');
    assert.deepEqual(plain(again.data), { n: 1 });
  });

  await t.test('a failed background save goes to the console only', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: {} });
    const timers = fakeTimers();
    const { Vault, errors } = page(store, { timers });
    await Vault.load();
    await Vault.unlock('1111');
    store.set('x.failWrite', '1');
    Vault.save();
    timers.advance(400);
    await until(() => errors.length > 0, 'the failed save\'s console error');
    assert.equal(errors.length, 1);
    assert.match(errors[0], /Couldn't save/);
  });

  await t.test('a write encrypts the data as it is when the write starts', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { n: 0 } });
    let release;
    const gate = new Promise((r) => { release = r; });
    let first = true;
    const { Vault } = page(store, {
      encrypt: async (go) => { if (first) { first = false; await gate; } return go(); },
    });
    await Vault.load();
    await Vault.unlock('1111');
    const a = Vault.saveNow();
    Vault.data.n = 1; // queued behind a's write, which has not started yet
    const b = Vault.saveNow();
    await tick();
    Vault.data.n = 2;
    release();
    await a;
    await b;
    const again = await reopened(store);
    await again.unlock('1111');
    assert.deepEqual(plain(again.data), { n: 2 });
  });

  await t.test('lock while a write is encrypting: that write never reaches the file', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { n: 0 } });
    let release;
    let started;
    const inEncrypt = new Promise((r) => { started = r; });
    const gate = new Promise((r) => { release = r; });
    const { Vault, calls } = page(store, { encrypt: async (go) => { started(); await gate; return go(); } });
    await Vault.load();
    await Vault.unlock('1111');
    const before = store.get('vault.json');
    Vault.data.n = 9;
    const w = Vault.saveNow();
    await inEncrypt;
    let locked = false;
    const l = Vault.lock().then(() => { locked = true; });
    await tick();
    assert.equal(locked, false, 'lock waits for the running write');
    release();
    await w;
    await l;
    assert.equal(calls.filter((c) => c.name === 'msw_write_vault').length, 0);
    assert.equal(store.get('vault.json'), before);
    assert.equal(Vault.data, null);
    Vault.save();
    await Vault.saveNow();
    assert.equal(calls.filter((c) => c.name === 'msw_write_vault').length, 0, 'nothing is written while locked');
  });
});

// The stored blob's plain text, opened here without vault.js.
async function storedText(store, pin, iter) {
  const h = header(store);
  const secret = store.get('device.key').slice(7);
  const m = await subtle.importKey('raw', enc(pin + '|' + secret), 'PBKDF2', false, ['deriveBits']);
  const bits = await subtle.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt: Buffer.from(h.salt, 'base64'), iterations: iter }, m, 256);
  const k = await subtle.importKey('raw', bits, 'AES-GCM', false, ['decrypt']);
  const plainBytes = await subtle.decrypt({ name: 'AES-GCM', iv: Buffer.from(h.iv, 'base64') }, k, Buffer.from(h.ct, 'base64'));
  return new TextDecoder().decode(plainBytes);
}

test('a save written in slices', async (t) => {
  // A clock that jumps 50 ms at every look, so every piece of a save ends its slice.
  const jumping = () => { let now = 0; return { now: () => (now += 50) }; };
  const awkward = () => {
    const list = Array.from({ length: 700 }, (_, i) => ({ mid: 'm' + i, text: 'é "q" \\ \u2028 ' + i, at: i }));
    list[3] = undefined;
    const bare = Object.create(null);
    bare.x = [1, , 3];
    return {
      v: 1, msgs: { general: list, empty: [], 'g:"odd"': [{ a: undefined, b: null }] }, skip: undefined,
      fn() {}, when: new Date(0), bare, nested: { deep: { deeper: { list: [[1, [2]], {}] } } }, n: -0, big: 1e21,
    };
  };

  await t.test('stores exactly the text JSON.stringify gives, with turns between the pieces', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: {} });
    const { Vault, counter } = page(store, { clock: jumping() });
    await Vault.load();
    await Vault.unlock('1111');
    const data = awkward();
    Object.keys(data).forEach((k) => { Vault.data[k] = data[k]; });
    await Vault.setTheme('"ct":"" \\');
    await Vault.saveNow();
    assert.ok(counter.turns > 5, 'the save gave the event loop turns: ' + counter.turns);
    assert.equal(await storedText(store, '1111', 1000), JSON.stringify(Vault.data));
    assert.equal(store.get('vault.json'), JSON.stringify(header(store)), 'the header is compact JSON');
    assert.equal(header(store).theme, '"ct":"" \\');
    const again = await reopened(store);
    assert.equal(await again.unlock('1111'), 'ok');
    assert.equal(JSON.stringify(again.data), JSON.stringify(Vault.data));
  });

  await t.test('text of several bytes a character, then a smaller vault: each file holds exactly its own text', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: {} });
    const { Vault } = page(store, { clock: jumping() });
    await Vault.load();
    await Vault.unlock('1111');
    const wide = Array.from({ length: 900 }, (_, i) => ({ mid: 'm' + i, text: '\u6f22\u5b57 \ud83d\ude00 \u00e9'.repeat(20) + i }));
    Vault.data.msgs = { general: wide };
    await Vault.saveNow();
    assert.equal(await storedText(store, '1111', 1000), JSON.stringify(Vault.data));
    Vault.data.msgs = { general: [{ mid: 'x', text: 'short' }] };
    await Vault.saveNow();
    assert.equal(await storedText(store, '1111', 1000), JSON.stringify(Vault.data));
  });

  await t.test('the plain text a save encoded is cleared when the vault locks', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { secret: 'x'.repeat(5000) } });
    let seen = null;
    const { Vault } = page(store, { encrypt: (go, a) => { seen = a[2]; return go(); } });
    await Vault.load();
    await Vault.unlock('1111');
    await Vault.saveNow();
    assert.ok(seen && seen.length > 5000 && seen.some((b) => b !== 0), 'the save encrypted its text');
    await Vault.lock();
    assert.ok(new Uint8Array(seen.buffer).every((b) => b === 0), 'nothing of the text is left');
  });

  await t.test('a message added during a turn is kept by the save after it', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { msgs: { general: Array.from({ length: 600 }, (_, i) => ({ i })) } } });
    const { Vault } = page(store, { clock: jumping() });
    await Vault.load();
    await Vault.unlock('1111');
    const first = Vault.saveNow();
    await tick();
    Vault.data.msgs.general.push({ i: 600 });
    Vault.data.msgs.general.shift();
    const second = Vault.saveNow();
    await first;
    await second;
    const again = await reopened(store);
    await again.unlock('1111');
    assert.deepEqual(plain(again.data.msgs.general).map((m) => m.i), Array.from({ length: 600 }, (_, i) => i + 1));
  });

  await t.test('lock during a turn of the serialization: that write never reaches the file', async () => {
    const store = memoryStore();
    await handMade(store, { pin: '1111', iter: 1000, data: { msgs: { general: Array.from({ length: 600 }, (_, i) => ({ i })) } } });
    const { Vault, calls, counter } = page(store, { clock: jumping() });
    await Vault.load();
    await Vault.unlock('1111');
    const before = store.get('vault.json');
    Vault.data.n = 1;
    const w = Vault.saveNow();
    await tick();
    assert.ok(counter.turns > 0, 'the write is between two pieces');
    const l = Vault.lock();
    await w;
    await l;
    assert.equal(calls.filter((c) => c.name === 'msw_write_vault').length, 0);
    assert.equal(store.get('vault.json'), before);
  });
});
