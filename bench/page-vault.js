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

// Makes the vault (not timed), then times `saves` saveNow calls. Answers figures in ms.
async function pageBenchCreate(pin, rooms, per, saves) {
  const data = pageBenchData(rooms, per);
  const bytes = new TextEncoder().encode(JSON.stringify(data)).length;
  await Vault.load();
  await Vault.create(pin, data);
  const times = [];
  for (let i = 0; i < saves; i++) {
    Vault.data.settings.n = i;
    const t0 = performance.now();
    await Vault.saveNow();
    times.push(performance.now() - t0);
  }
  await Vault.lock();
  return { bytes, saves: times };
}

// On a fresh page load over that vault: times `runs` unlocks (each two PBKDF2 derivations
// and the decryption).
async function pageBenchUnlock(pin, runs) {
  await Vault.load();
  const times = [];
  for (let i = 0; i < runs; i++) {
    const t0 = performance.now();
    const r = await Vault.unlock(pin);
    times.push(performance.now() - t0);
    if (r !== 'ok') throw new Error('unlock answered ' + r);
    await Vault.lock();
  }
  return { unlocks: times };
}

module.exports = { pageBenchData, pageBenchCreate, pageBenchUnlock };
