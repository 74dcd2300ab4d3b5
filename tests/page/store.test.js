'use strict';
// The store: the named changes write D and S, save, and announce topics; the views they
// wake run once a frame with every detail since, and on a timer where no frames come.
const test = require('node:test');
const assert = require('node:assert/strict');
const { loadApp } = require('./load-app.js');

const ME = 'a'.repeat(32);
// Values made inside the page's context compare by their JSON form.
const plain = (x) => JSON.parse(JSON.stringify(x === undefined ? null : x));
const BO = 'b'.repeat(32);

function store({ frames: withFrames = true } = {}) {
  const frames = [];
  const timers = [];
  let saves = 0;
  const app = loadApp({
    exports: ['S', 'section', 'initialData', 'storeMessage', 'setMessageState', 'replaceMessages', 'putRoom', 'dropRoom',
      'setView', 'setBlocked', 'setFriend', 'knowMember', 'countUnread', 'restartHistories'],
    globals: {
      Vault: { save() { saves++; } },
      requestAnimationFrame: withFrames ? (fn) => frames.push(fn) : undefined,
      setTimeout: (fn, ms) => timers.push({ fn, ms }),
    },
  });
  const d = app.initialData('OWNER', ME, {}, { m: {} }, { g: {}, k: '' });
  app.setD(d);
  app.S.unlocked = true;
  // A view that records what each of its runs was told.
  const runs = [];
  app.section('probe', { on: { 'messages unread rooms view blocked members': (due) => runs.push(JSON.parse(JSON.stringify(due))) } });
  const frame = () => { const due = frames.splice(0); due.forEach((fn) => fn(0)); };
  return { app, d, runs, frame, frames, timers, saves: () => saves };
}

test('a burst of changes wakes each view once, at the next frame, with every detail', () => {
  const s = store();
  for (let i = 0; i < 50; i++) s.app.storeMessage('general', { mid: 'm' + i, from: BO, text: 't' + i, at: i });
  for (let i = 0; i < 50; i++) s.app.countUnread('general', i === 7);
  assert.equal(s.runs.length, 0, 'nothing is drawn before the frame');
  assert.equal(s.frames.length, 1, 'one frame asked for, however many changes');
  assert.ok(s.saves() >= 50, 'each change is saved (the vault debounces)');
  s.frame();
  assert.equal(s.runs.length, 1);
  assert.equal(s.runs[0].messages.length, 50);
  assert.deepEqual(s.runs[0].messages.map((d) => d.kind), Array(50).fill('add'));
  assert.equal(s.runs[0].unread.length, 50);
  assert.equal(s.runs[0].rooms, undefined, 'only what was announced');
  assert.equal(s.d.unread.general, 50);
  assert.equal(s.d.pings.general, true);
  s.frame();
  assert.equal(s.runs.length, 1, 'no second run without new changes');
});

test('named changes: a repeat stores nothing, a mark changes one line, a list replaced is drawn whole', () => {
  const s = store();
  const m = { mid: 'x', from: ME, text: 'hi', at: 1, st: 'pending' };
  assert.equal(s.app.storeMessage('general', m), true);
  assert.equal(s.app.storeMessage('general', { mid: 'x', from: ME, text: 'again', at: 2 }), false);
  assert.equal(s.app.storeMessage('general', { mid: 'x', from: BO, text: 'same id, another sender', at: 3 }), true);
  s.app.setMessageState('general', m, null);
  s.app.replaceMessages('general', []);
  s.frame();
  assert.deepEqual(s.runs[0].messages.map((d) => d.kind), ['add', 'add', 'change', 'reset']);
  assert.equal('st' in m, false);
  assert.deepEqual(plain(s.d.msgs.general), []);
});

test('a room dropped while open opens the friends page; blocking and a renamed member are announced', () => {
  const s = store();
  const g = 'g:' + 'c'.repeat(32);
  s.app.putRoom({ id: g, kind: 'group', name: 'G', members: [ME, BO], rv: 1 });
  s.app.setView(g);
  s.frame();
  s.app.dropRoom(g);
  s.app.setBlocked(BO, true);
  assert.equal(s.app.knowMember({ id: BO, name: 'bo' }, { m: 1 }), true, 'new');
  s.frame();
  assert.equal(s.app.S.view, 'friends');
  assert.deepEqual(s.runs[1].rooms, [g]);
  assert.ok(s.runs[1].view.includes('friends'));
  assert.deepEqual(s.runs[1].blocked, [BO]);
  assert.equal(s.d.blocked[BO], true);
  assert.equal(s.app.knowMember({ id: BO, name: 'bo' }, { m: 1 }), false);
  s.frame();
  assert.equal(s.runs.length, 2, 'a member learned again, unchanged, redraws nothing');
  s.app.knowMember({ id: BO, name: 'bob' }, { m: 2 });
  s.frame();
  assert.deepEqual(s.runs[2].members, [BO]);
  assert.equal(s.d.names[BO], 'bob');
});

test('a relay restart keeps only what is held for sending, after the restart line, and empties the rest', () => {
  const s = store();
  s.d.msgs.general = [{ mid: 'a', from: ME, text: 'held', at: 1, st: 'pending' }, { mid: 'b', from: BO, text: 'gone', at: 2 }];
  s.d.outbox.q = { to: [BO] };
  s.d.unread.general = 3;
  s.app.restartHistories({ sys: true, text: 'restarted', at: 5 }, (m) => m.mid === 'a');
  assert.deepEqual(plain(s.d.msgs.general.map((m) => m.text)), ['restarted', 'held']);
  assert.deepEqual(plain([s.d.outbox, s.d.unread, s.d.msgs.announcements]), [{}, {}, null]);
  s.frame();
  assert.deepEqual(s.runs[0].messages.map((d) => [d.rid, d.kind]), [['general', 'reset']]);
});

test('where no frames come (a hidden window), the views run on a timer', () => {
  const s = store({ frames: false });
  s.app.setView('general');
  s.app.countUnread('general', false);
  assert.deepEqual(s.timers.map((t) => t.ms), [250], 'one timer for the lot');
  s.timers[0].fn();
  assert.equal(s.runs.length, 1);
  assert.deepEqual(Object.keys(s.runs[0]).sort(), ['unread', 'view']);
});
