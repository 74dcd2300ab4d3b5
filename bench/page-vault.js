'use strict';
// The in-page part of the vault benchmark, kept engine-neutral so Chromium (through
// playwright-core) and the real WebKitGTK window (through WebDriver) run the same code.
// It is sent to the page as text and run there; it uses only the page's own Vault.

// Vault data with `rooms` rooms of `per` messages each, shaped like real stored messages.
function pageBenchData(rooms, per) {
  const hex = (n) => Array.from(crypto.getRandomValues(new Uint8Array(n)), (b) => b.toString(16).padStart(2, '0')).join('');
  const words = 'the relay passes on ciphertext it cannot read so nobody but the members sees a word of it'.split(' ');
  const people = Array.from({ length: 12 }, () => hex(16));
  const d = {
    v: 1, server: 'ws://127.0.0.1:8787', owner: 'B'.repeat(88), me: people[0], keys: {}, cert: {}, dir: {}, names: {},
    removals: null, rooms: { general: { id: 'general', kind: 'general', name: 'General' } }, msgs: {}, unread: {},
    friends: {}, blocked: {}, settings: { panicCode: 'Escape', panicGlobal: false, notify: true, previews: true, wipeSet: false },
  };
  people.forEach((p, i) => { d.names[p] = 'member' + i; });
  const ids = ['general'];
  for (let r = 1; r < rooms; r++) {
    const id = 'g:' + hex(16);
    d.rooms[id] = { id, kind: 'group', name: 'room ' + r, members: people.slice(0, 6), rv: Date.now() };
    ids.push(id);
  }
  let at = Date.now() - rooms * per * 60000;
  for (const id of ids) {
    const list = [];
    for (let i = 0; i < per; i++) {
      const n = 4 + (i * 7) % 24;
      const text = Array.from({ length: n }, (_, j) => words[(i + j) % words.length]).join(' ');
      const m = { mid: hex(12), from: people[i % people.length], text, at: (at += 60000) };
      if (i % 10 === 0) m.re = { mid: list.length ? list[list.length - 1].mid : hex(12), from: people[(i + 1) % 12], text: text.slice(0, 140) };
      list.push(m);
    }
    d.msgs[id] = list;
  }
  return d;
}

// Watches the page's main thread while `work` runs: the longest gap between animation
// frames, and (where the engine reports them) the longest task. Answers the work's time.
async function pageBenchWatch(work) {
  let last = performance.now(), gap = 0, longTask = null, running = true;
  const frame = (t) => {
    const now = performance.now();
    gap = Math.max(gap, now - last);
    last = now;
    if (running) requestAnimationFrame(frame);
  };
  let observer = null, from = 0;
  if (typeof PerformanceObserver === 'function' && (PerformanceObserver.supportedEntryTypes || []).includes('longtask')) {
    longTask = 0;
    // A task that began before the watch (the one this call was made from can be reported
    // to an observer made inside it) is not the work's.
    from = performance.now();
    observer = new PerformanceObserver((list) => {
      for (const e of list.getEntries()) if (e.startTime >= from) longTask = Math.max(longTask, e.duration);
    });
    observer.observe({ entryTypes: ['longtask'] });
  }
  // Two frames first, so the gap measured is the save's and not the loop's start.
  await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
  last = performance.now();
  requestAnimationFrame(frame);
  const t0 = performance.now();
  await work();
  const ms = performance.now() - t0;
  // One more frame, so a stall at the very end is seen too.
  await new Promise((r) => requestAnimationFrame(r));
  gap = Math.max(gap, performance.now() - last);
  running = false;
  if (observer) {
    await new Promise((r) => setTimeout(r, 0));
    for (const e of observer.takeRecords()) if (e.startTime >= from) longTask = Math.max(longTask, e.duration);
    observer.disconnect();
  }
  return { ms, gap, longTask };
}

// Makes the vault (not timed), then times `saves` saveNow calls, watching the main thread
// during each. Answers figures in ms. With `standIn` (Chromium, whose "native" functions
// are the test double over localStorage) the timed writes are answered from memory, so
// the figures are the page's own; the last text is then stored through the double.
async function pageBenchCreate(pin, rooms, per, saves, standIn) {
  const data = pageBenchData(rooms, per);
  const bytes = new TextEncoder().encode(JSON.stringify(data)).length;
  await Vault.load();
  await Vault.create(pin, data);
  const times = [], gaps = [], longTasks = [], writes = [];
  // The native write's share of a save (the bridge both ways and the file work), timed
  // around the page's call.
  const native = window.msw_write_vault;
  let last = null;
  window.msw_write_vault = function (text) {
    const t0 = performance.now();
    last = text;
    const answer = standIn ? Promise.resolve(true) : native.apply(this, arguments);
    return answer.then((r) => { writes.push(performance.now() - t0); return r; });
  };
  const steps = { data: [], seal: [], text: [] };
  for (let i = 0; i < saves; i++) {
    Vault.data.settings.n = i;
    const w = await pageBenchWatch(() => Vault.saveNow());
    times.push(w.ms);
    gaps.push(w.gap);
    if (w.longTask !== null) longTasks.push(w.longTask);
    const t = Vault.lastSave;
    if (t) for (const k of Object.keys(steps)) steps[k].push(t[k]);
  }
  const timedWrites = writes.slice(-saves);
  // Saves as the debounced save makes them, after the page has been idle for a while: the
  // engines give memory back when idle, and a save that needs it again pays for that.
  const idle = [];
  for (let i = 0; i < saves; i++) {
    Vault.data.settings.n = saves + i;
    await new Promise((r) => setTimeout(r, 400));
    const t0 = performance.now();
    await Vault.saveNow();
    idle.push(performance.now() - t0);
  }
  await Vault.lock();
  window.msw_write_vault = native;
  // The bridge's share of the native write: the same text sent to a native function that
  // ignores its argument (no worker, no file), watched like a save.
  // Of that, the page's own part: the call message the bridge script makes of the text
  // (the rest is the engine carrying it to the native side, and the answer back).
  const bridge = [], bridgeGaps = [], quoting = [];
  if (!standIn && last !== null) {
    for (let i = 0; i < saves; i++) {
      const w = await pageBenchWatch(() => msw_focused(last));
      bridge.push(w.ms);
      bridgeGaps.push(w.gap);
      const t0 = performance.now();
      JSON.stringify({ id: String(i), method: 'msw_write_vault', params: [last] });
      quoting.push(performance.now() - t0);
      await new Promise((r) => setTimeout(r, 0));
    }
  }
  if (standIn && last !== null) await native(last);
  return { bytes, saves: times, idle, gaps, longTasks, writes: timedWrites, steps, bridge, bridgeGaps, quoting, fileBytes: last ? last.length : 0 };
}

// `count` (two unless told) parallel 600,000-round PBKDF2 derivations, as an unlock makes
// them: the engine's own floor for an unlock.
async function pageBenchFloor(pin, count = 2) {
  const s = crypto.subtle;
  const t0 = performance.now();
  const one = async () => {
    const material = await s.importKey('raw', new TextEncoder().encode(pin + '|secret'), 'PBKDF2', false, ['deriveBits']);
    return s.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt: crypto.getRandomValues(new Uint8Array(16)), iterations: Vault.ITER }, material, 256);
  };
  await Promise.all(Array.from({ length: count }, one));
  return performance.now() - t0;
}

// On a fresh page load over that vault: the read of the vault file, then `runs` rounds of
// the floor and an unlock (each two PBKDF2 derivations and the decryption), alternated so
// both see the same load on the machine.
async function pageBenchUnlock(pin, runs) {
  const l0 = performance.now();
  await Vault.load();
  const load = performance.now() - l0;
  const unlocks = [], floors = [], singles = [];
  await pageBenchFloor(pin);  // warms the engine's crypto up, not counted
  for (let i = 0; i < runs; i++) {
    floors.push(await pageBenchFloor(pin));
    singles.push(await pageBenchFloor(pin, 1));
    const t0 = performance.now();
    const r = await Vault.unlock(pin);
    unlocks.push(performance.now() - t0);
    if (r !== 'ok') throw new Error('unlock answered ' + r);
    await Vault.lock();
  }
  return { load, unlocks, floors, singles };
}

module.exports = { pageBenchData, pageBenchWatch, pageBenchCreate, pageBenchFloor, pageBenchUnlock };
