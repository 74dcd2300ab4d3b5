'use strict';
// A member with a valid certificate who seals hostile payloads with the real protocol:
// floods of friend requests and payloads to confirm, notifications, a queue that must let
// the window breathe, groups by the thousand, versions far ahead, words put in someone's
// mouth, lines forged inside a message, look-alike rooms, histories grown without end and
// a group taken away.
const test = require('node:test');
const assert = require('node:assert/strict');
const { world, person, cast } = require('./chat-world.js');

const plain = (x) => JSON.parse(JSON.stringify(x));
const eq = (a, b, msg) => assert.deepEqual(plain(a), plain(b), msg);
const DAY = 24 * 3600000;
const EXPORTS = ['normalise', 'lineOf', 'drawComposer', 'groupDialog', 'HISTORY_BUDGET', 'msgSize', 'RECEIPTS_KEPT', 'ANSWERS', 'dropReceipts', 'setView', '$'];

let owner, cy, ann, bo;
test.before(async () => ({ owner, people: [cy, ann, bo] } = await cast('cy', 'ann', 'bo')));

async function make(people = [cy, ann, bo], opts = {}) {
  const w = await world(Object.assign({ owner, people, me: cy, exports: EXPORTS }, opts));
  await w.signIn();
  w.frames.length = 0;
  return w;
}

const qOf = (i) => i.toString(16).padStart(16, '0');
const gidOf = (i) => 'g:' + i.toString(16).padStart(32, '0');
// What `p` was sent: every send frame addressed to p, opened.
async function sentTo(w, p) {
  const out = [];
  for (const f of w.sends()) if (f.keys[p.id]) out.push(await w.open(p, f));
  return out;
}
const friendEntries = (w, p) => Object.values(w.D.outbox).filter((e) => e.payload.k === 'friend' && e.to.includes(p.id));
const requests = (w, from, n) => Promise.all(Array.from({ length: n }, (_, i) => w.env(from, { k: 'friend', op: 'request', q: qOf(i), at: w.clock.now() })));

// The first button under `el` whose text is `text`, pressed.
function press(el, text) {
  const find = (e) => {
    if (!e || !e.children) return null;
    if (e.tagName === 'button' && e.text === text) return e;
    for (const c of e.children) { const b = find(c); if (b) return b; }
    return null;
  };
  const b = find(el);
  assert.ok(b, 'a button "' + text + '"');
  b.listeners.click.forEach((fn) => fn({}));
}

test('automatic answers: one per change of state, one control per member, within their own budget', async (t) => {
  await t.test("a friend's thousand requests get one accept and two receipts; the outbox keeps one control", async () => {
    const w = await make();
    w.D.friends[ann.id] = 'friend';
    await w.feed(...await requests(w, ann, 1000));
    await w.clock.advance(6000);
    const got = await sentTo(w, ann);
    eq(got.filter((p) => p.k === 'friend').map((p) => p.op), ['accept']);
    eq(got.filter((p) => p.k === 'rcpt').map((p) => p.q.length), [500, 500]);
    assert.equal(friendEntries(w, ann).length, 1);
    eq(w.notes, []);
  });

  await t.test("a stranger's thousand requests make one incoming request, one notification and no answer", async () => {
    const w = await make();
    await w.feed(...await requests(w, bo, 1000));
    await w.clock.advance(12000);
    assert.equal(w.D.friends[bo.id], 'incoming');
    eq(w.notes, [['Friend request', 'bo wants to be your friend']]);
    eq((await sentTo(w, bo)).filter((p) => p.k !== 'rcpt'), []);
  });

  await t.test('a control sent to a member takes the place of the one still waiting for them', async () => {
    const w = await make();
    assert.equal(await w.app.friendAction('request', ann.id), '');
    assert.equal(await w.app.friendAction('cancel', ann.id), '');
    eq(friendEntries(w, ann).map((e) => e.payload.op), ['cancel']);
  });

  await t.test('a vault from before keeps only the newest control waiting for each member', async () => {
    const w = await make();
    const entry = (p, at, op) => ({ payload: { k: 'friend', op, q: 'x', at }, to: [p.id], at, ttl: DAY, sent: at, wait: 1, boot: null });
    for (let i = 0; i < 300; i++) w.D.outbox['a' + i] = entry(ann, 1000 + ((i * 7) % 300), 'accept');
    w.D.outbox.b = entry(bo, 5, 'request');
    w.D.outbox.m = { payload: { k: 'msg' }, to: [ann.id], at: 1, ttl: DAY, sent: 1, wait: 1, boot: null };
    assert.equal(w.app.normalise(w.D, w.clock.now()), true);
    eq(Object.values(w.D.outbox).map((e) => [e.payload.k, e.to[0] === ann.id ? 'ann' : 'bo', e.at]).sort(),
      [['friend', 'ann', 1299], ['friend', 'bo', 5], ['msg', 'ann', 1]]);
  });

  await t.test('one sender keeps at most RECEIPTS_KEPT receipts waiting, the newest', async () => {
    const w = await make();
    const n = w.app.RECEIPTS_KEPT + 100;
    const envs = [];
    for (let i = 0; i < n; i++) envs.push(await w.env(bo, { k: 'room', room: null, q: qOf(i) }));
    await w.feed(...envs);
    const kept = w.D.receipts[bo.id];
    eq([kept.length, kept[0], kept.at(-1)], [w.app.RECEIPTS_KEPT, qOf(100), qOf(n - 1)]);
    // Again: one still waiting is not doubled, one pushed out comes back as the newest, and
    // the same holds for the list left after some were taken.
    await w.feed(await w.env(bo, { k: 'room', room: null, q: qOf(n - 1) }), await w.env(bo, { k: 'room', room: null, q: qOf(0) }));
    const again = w.D.receipts[bo.id];
    eq([again.length, again.filter((q) => q === qOf(n - 1)).length, again.at(-1)], [w.app.RECEIPTS_KEPT, 1, qOf(0)]);
    w.app.dropReceipts(bo.id, [qOf(0), qOf(101)]);
    await w.feed(await w.env(bo, { k: 'room', room: null, q: qOf(200) }), await w.env(bo, { k: 'room', room: null, q: qOf(101) }));
    const left = w.D.receipts[bo.id];
    eq([left.length, left.filter((q) => q === qOf(200)).length, left.at(-1)], [w.app.RECEIPTS_KEPT - 1, 1, qOf(101)]);
  });

  await t.test('a stream into the open room keeps its log near the newest 400 lines, drawn afresh as it grows', async () => {
    const w = await make();
    w.app.setView('general');
    await w.clock.settle();
    const log = w.app.$('log');
    let most = 0;
    for (let b = 0; b < 12; b++) {
      const envs = [];
      for (let i = 0; i < 60; i++) envs.push(await w.env(bo, { k: 'msg', room: 'general', mid: `s${b}-${i}`, text: `stream ${b} ${i}`, q: qOf(5000 + b * 60 + i) }));
      await w.feed(...envs);
      most = Math.max(most, log.childElementCount);
    }
    assert.ok(most <= 400 + 100 + 60, 'the log held ' + most + ' elements');
    assert.match(log.children.at(-1).shown, / bo stream 11 59/, 'the newest line is drawn last');
  });

  await t.test('receipts beyond their budget wait, while the member\'s own message goes at once', async () => {
    const extra = await Promise.all(Array.from({ length: 25 }, (_, i) => person(owner, 'm' + i)));
    const w = await make([cy, ann, bo, ...extra]);
    for (const p of extra) await w.feed(await w.env(p, { k: 'msg', room: 'general', mid: 'x', text: 'hi', q: qOf(1) }));
    await w.clock.advance(1500);
    const burst = w.app.ANSWERS.burst;
    assert.equal(w.sends().length, burst, 'as many receipts as the budget holds');
    assert.equal(w.app.post('general', { text: 'mine' }), true);
    await w.clock.settle();
    assert.equal(w.sends().length, burst + 1, 'the own message is not held back by them');
    await w.clock.advance(Math.ceil((25 - burst) / w.app.ANSWERS.rate) * 1000);
    assert.equal(w.sends().length, 26, 'the rest go as the budget refills');
    assert.equal(Object.keys(w.D.receipts).length, 25, 'kept until the relay says it took them');
    await w.feed(...w.sends().filter((f) => /^r/.test(f.ref || '')).map((f) => ({ t: 'sent', ref: f.ref })));
    eq(w.D.receipts, {});
  });
});

test('notifications from one member in one place come once, then once every few seconds with a count', async () => {
  const w = await make();
  w.D.friends[ann.id] = 'friend';
  w.D.friends[bo.id] = 'friend';
  const dm = (p) => 'dm:' + [cy.id, p.id].sort().join(':');
  const envs = [];
  for (let i = 0; i < 30; i++) envs.push(await w.env(ann, { k: 'msg', room: dm(ann), mid: 'a' + i, text: 'ping ' + i }));
  envs.push(await w.env(bo, { k: 'msg', room: dm(bo), mid: 'b', text: 'me too' }));
  await w.feed(...envs);
  eq(w.notes, [['ann', 'ping 0'], ['bo', 'me too']]);
  await w.clock.advance(5000);
  eq(w.notes.slice(2), [['ann', 'ping 29 (and 28 more)']]);
  await w.clock.advance(10000);
  assert.equal(w.notes.length, 3, 'nothing more once the member is quiet');
  await w.feed(await w.env(ann, { k: 'msg', room: dm(ann), mid: 'late', text: 'later' }));
  eq(w.notes.at(-1), ['ann', 'later']);
});

test('a long queue of envelopes gives the window a turn every few milliseconds', async () => {
  let turns = 0;
  let t = 0;
  class Channel {
    constructor() {
      this.port1 = { onmessage: null };
      this.port2 = { postMessage: () => { turns++; setImmediate(() => this.port1.onmessage({})); } };
    }
  }
  const w = await make([cy, ann, bo], { globals: { MessageChannel: Channel, performance: { now: () => (t += 1) } } });
  const envs = [];
  for (let i = 0; i < 200; i++) envs.push(await w.env(ann, { k: 'msg', room: 'general', mid: 'q' + i, text: 'n' + i }));
  await w.feed(...envs);
  while (w.D.msgs.general.length < 200) await w.clock.settle();
  assert.ok(turns >= 10, 'turns taken: ' + turns);
});

test('group versions: one beyond a day ahead is refused, and one stored before that is repaired', async () => {
  const w = await make();
  w.D.friends[ann.id] = 'friend';
  const now = w.clock.now();
  const gid = gidOf(1);
  const def = (rv, name) => w.env(ann, { k: 'room', room: { id: gid, name, members: [ann.id, cy.id], rv } });
  await w.feed(await def(now, 'Team'), await def(1e300, 'Frozen'), await def(now + 2 * DAY, 'Later'), await def(now + 3600000, 'Renamed'));
  eq([w.D.rooms[gid].name, w.D.rooms[gid].rv], ['Renamed', now + 3600000]);
  w.D.rooms[gid].rv = 1e300; // as a version taken before there was a bound
  assert.equal(w.app.normalise(w.D, now), true);
  assert.equal(w.D.rooms[gid].rv, now);
  await w.feed(await def(now + 1, 'Thawed'));
  assert.equal(w.D.rooms[gid].name, 'Thawed');
});

test("a quote shows the reader's own copy, or else the quoting member's words, marked", async () => {
  const w = await make();
  const lie = 'I agree to give you my password';
  await w.feed(
    await w.env(ann, { k: 'msg', room: 'general', mid: 'a1', text: 'see   you\nat 5' }),
    await w.env(bo, { k: 'msg', room: 'general', mid: 'b1', text: 'great', re: { mid: 'a1', from: ann.id, text: lie } }),
    await w.env(bo, { k: 'msg', room: 'general', mid: 'b2', text: 'great', re: { mid: 'nope', from: ann.id, text: lie } }));
  const [, real, forged] = w.D.msgs.general.filter((m) => !m.sys).map((m) => w.app.lineOf(m, null, 'general').children[0]);
  eq([real.className, real.shown], ['re', 'ann see you at 5']);
  eq([forged.className, forged.shown], ['re unsure', 'quoting ann (unverified) ' + lie]);
  assert.equal(forged.listeners.click, undefined, 'nothing to jump to');
});

test('group names that read as General or Announcements are refused', async () => {
  const w = await make();
  w.D.friends[ann.id] = 'friend';
  const names = ['General', '# General', 'gen-eral', 'Ｇｅｎｅｒａｌ', 'G\u0435n\u0435r\u0430l', 'Génér4l', 'ɢᴇɴᴇʀᴀʟ', 'ANNOUNCEMENTS!', 'Announcement',
    'General chat', 'Generals', 'News'];
  const envs = [];
  for (let i = 0; i < names.length; i++) envs.push(await w.env(ann, { k: 'room', room: { id: gidOf(i + 1), name: names[i], members: [ann.id, cy.id], rv: 1 } }));
  await w.feed(...envs);
  eq(Object.values(w.D.rooms).filter((r) => r.kind === 'group').map((r) => r.name), ['General chat', 'Generals', 'News']);
  w.D.rooms[gidOf(99)] = { id: gidOf(99), kind: 'group', name: 'Announcements', members: [cy.id], rv: 1 };
  w.app.normalise(w.D, w.clock.now());
  assert.equal(w.D.rooms[gidOf(99)].name, 'Announcements (group)', 'one stored before is renamed as a group');
});

test("nothing in a message's text draws as another line of the log", async () => {
  const w = await make();
  const forged = 'ok\n\n\n\n\n4:09 ann I agree\u2028\u2028\u2028\u2028again\r\n\r\n \r\n!';
  await w.feed(await w.env(bo, { k: 'msg', room: 'general', mid: 'f', text: forged }));
  const m = w.D.msgs.general.at(-1);
  assert.equal(m.text, forged, 'stored as received');
  const text = w.app.lineOf(m, null, 'general').children.find((c) => c.className === 'text');
  assert.equal(text.shown, 'ok\n\n4:09 ann I agree\n\nagain\n\n!');
});

test('what one member can make this member keep is bounded across rooms, the largest rooms\' oldest first', async () => {
  const w = await make();
  w.D.friends[bo.id] = 'friend';
  await w.feed(...await Promise.all(['one', 'two', 'three'].map((text, i) => w.env(ann, { k: 'msg', room: 'general', mid: 'g' + i, text }))));
  const mine = { mid: 'p', from: cy.id, text: 'waiting to go', at: w.clock.now(), st: 'pending' };
  const long = 'x'.repeat(2000);
  const envs = [];
  for (let g = 0; g < 10; g++) {
    const meta = { id: gidOf(g + 1), name: 'Pile ' + g, members: [bo.id, cy.id], rv: 1 };
    for (let i = 0; i < 220; i++) envs.push(await w.env(bo, { k: 'msg', room: meta.id, mid: 'm' + i, text: long, meta }));
  }
  await w.feed(...envs.splice(0, 1));
  w.D.msgs[gidOf(1)].unshift(mine);
  await w.feed(...envs);
  const total = Object.values(w.D.msgs).flat().reduce((n, m) => n + w.app.msgSize(m), 0);
  assert.ok(total <= w.app.HISTORY_BUDGET, 'all histories within the budget: ' + total);
  eq(w.D.msgs.general.filter((m) => !m.sys).map((m) => m.text), ['one', 'two', 'three']);
  const piles = Array.from({ length: 10 }, (_, g) => w.D.msgs[gidOf(g + 1)].filter((m) => !m.sys));
  for (const list of piles) assert.equal(list.at(-1).mid, 'm219', 'the newest kept');
  // The piles filled first were the largest when the budget ran out: they gave; the last,
  // filled after, was the smallest then and is whole.
  assert.ok(piles.slice(0, 6).every((l) => l.length < 220) && piles[9].length === 220, piles.map((l) => l.length).join(' '));
  assert.ok(w.D.msgs[gidOf(1)].includes(mine), 'an own message still to go out stays');
});

test('being added to groups by the thousand: fifty kept, one notification and a count', async () => {
  const w = await make();
  w.D.friends[bo.id] = 'friend';
  const members = [bo.id, cy.id].concat(Array.from({ length: 198 }, (_, i) => (i + 1).toString(16).padStart(32, 'a')));
  const envs = [];
  for (let g = 0; g < 60; g++) envs.push(await w.env(bo, { k: 'room', room: { id: gidOf(g + 1), name: 'G' + g, members, rv: 1 } }));
  await w.feed(...envs);
  assert.equal(Object.keys(w.D.rooms).filter((id) => id.startsWith('g:')).length, 50);
  await w.clock.advance(5000);
  eq(w.notes, [['G0', 'bo added you to a group chat'], ['G49', 'bo added you to a group chat (and 48 more)']]);
});

test('a member removed by someone else keeps the group, read-only, until deleting it', async () => {
  const w = await make();
  w.D.friends[ann.id] = 'friend';
  const gid = gidOf(7);
  const def = (rv, members, name = 'Team') => ({ k: 'room', room: { id: gid, name, members, rv } });
  const all = [ann.id, bo.id, cy.id];
  const without = [ann.id, bo.id];
  await w.feed(await w.env(ann, def(1, all)), await w.env(ann, { k: 'msg', room: gid, mid: 'a', text: 'history' }),
    await w.env(bo, def(2, without)));
  const room = w.D.rooms[gid];
  eq([room.removedBy, w.D.msgs[gid].map((m) => m.text)], [bo.id, ['ann added you to Team', 'history', 'bo removed you from the group']]);

  w.S.view = gid;
  w.app.drawComposer();
  const box = w.app.$('msg');
  eq([box.disabled, box.placeholder], [true, 'bo removed you from this group. You can read it until you delete it in Group settings.']);
  assert.equal(w.app.post(gid, { text: 'still here?' }), false);
  assert.equal(w.app.$('chatErr').text, "You're no longer in this group");

  await w.feed(await w.env(ann, { k: 'msg', room: gid, mid: 'b', text: 'written into' }), await w.env(ann, def(3, without, 'Renamed')),
    await w.env(ann, { k: 'msg', room: gid, mid: 'c', text: 'again', meta: { id: gid, name: 'Again', members: without, rv: 4 } }));
  eq([w.D.rooms[gid].name, w.D.msgs[gid].length], ['Team', 3], 'later definitions and messages change nothing');

  await w.feed(await w.env(ann, def(5, all)), await w.env(ann, { k: 'msg', room: gid, mid: 'd', text: 'welcome back' }));
  eq([w.D.rooms[gid].removedBy, w.D.msgs[gid].slice(3).map((m) => m.text)], [undefined, ['ann added you to Team', 'welcome back']]);

  await w.feed(await w.env(bo, def(6, without)));
  w.app.groupDialog();
  press(w.app.$('modalCard'), 'Delete this chat');
  press(w.app.$('modalCard'), 'Delete');
  eq([w.D.rooms[gid], w.D.msgs[gid], w.S.view], [undefined, undefined, 'friends']);
});
