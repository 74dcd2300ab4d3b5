'use strict';
// Receiving in the chat client's logic: envelopes in, messages stored by their rules, bad
// input ignored but acknowledged, acknowledgements and receipts batched after the vault write.
const test = require('node:test');
const assert = require('node:assert/strict');
const { world, person, makeOwner } = require('./chat-world.js');

const plain = (x) => JSON.parse(JSON.stringify(x));
// Values made inside the page's context compare by their JSON form.
const eq = (a, b, msg) => assert.deepEqual(plain(a), plain(b), msg);
const HOUR = 3600000;

let owner;
let cy;
let ann;
let bo;
test.before(async () => {
  owner = await makeOwner();
  [cy, ann, bo] = await Promise.all(['cy', 'ann', 'bo'].map((n) => person(owner, n)));
});

async function signedIn() {
  const w = await world({ owner, people: [cy, ann, bo], me: cy });
  await w.signIn();
  w.frames.length = 0;
  return w;
}

const general = (w) => (w.D.msgs.general || []).filter((m) => !m.sys);

test('what is stored from General, and when', async (t) => {
  const w = await signedIn();
  const now = w.clock.now();
  await t.test('times: an earlier first-send time is kept, a later or too old one is not', async () => {
    await w.feed(
      await w.env(ann, { k: 'msg', room: 'general', mid: 'a1', text: 'resent', q: '1'.repeat(16), at: now - HOUR }),
      await w.env(ann, { k: 'msg', room: 'general', mid: 'a2', text: 'future', q: '2'.repeat(16), at: now + HOUR }),
      await w.env(ann, { k: 'msg', room: 'general', mid: 'a3', text: 'ancient', at: now - 14 * 24 * HOUR }));
    eq(general(w).map((m) => [m.mid, m.at - now]), [['a1', -HOUR], ['a2', 0], ['a3', 0]]);
  });

  await t.test('the same envelope twice stores one message; a long text is cut; bad quotes and GIFs are left out', async () => {
    const env = await w.env(bo, {
      k: 'msg', room: 'general', mid: 'b1', text: 'x'.repeat(2100), gif: 'nope', re: { mid: 'a1', from: ann.id, text: 'q'.repeat(300) },
    });
    await w.feed(env, env, await w.env(bo, { k: 'msg', room: 'general', mid: 'b2', text: 'hi', gif: 'wave', re: { mid: 5, from: ann.id, text: '' } }));
    const [b1, b2] = general(w).slice(3);
    assert.equal(general(w).length, 5);
    assert.equal(b1.text.length, 2000);
    assert.equal(b1.gif, undefined);
    eq(b1.re, { mid: 'a1', from: ann.id, text: 'q'.repeat(140) });
    eq([b2.gif, b2.re], ['wave', undefined]);
  });

  await t.test('an id another member already used does not hide a message; the same sender repeating it does', async () => {
    const before = general(w).length;
    await w.feed(await w.env(ann, { k: 'msg', room: 'general', mid: 'b1', text: 'squatted id' }),
      await w.env(bo, { k: 'msg', room: 'general', mid: 'b1', text: 'repeat' }));
    eq(general(w).slice(before).map((m) => [m.from === ann.id ? 'ann' : 'bo', m.text]), [['ann', 'squatted id']]);
  });

  await t.test('junk is ignored without an error, and still acknowledged', async () => {
    const before = general(w).length;
    const stranger = await person(owner, 'zed'); // a member this client never accepted
    const good = await w.env(ann, { k: 'msg', room: 'general', mid: 'ok', text: 'fine' });
    await w.feed('not json', '[1]', { t: 'no-such-frame' }, { t: 'env' },
      Object.assign({}, good, { ct: good.ct.slice(0, -4) + 'AAAA', eid: 'bad-ct' }),
      await w.env(stranger, { k: 'msg', room: 'general', mid: 's', text: 'who am i' }),
      await w.env(ann, [1, 2]), await w.env(ann, 'text'),
      await w.env(ann, { k: 'msg', room: 'general', mid: 'x', text: '   \n' }),
      await w.env(ann, { k: 'msg', room: 'general', mid: 'y'.repeat(41), text: 'long id' }),
      await w.env(ann, { k: 'msg', room: 'general', text: 'no id' }),
      await w.env(ann, { k: 'what', room: 'general', mid: 'z', text: 'kind' }),
      await w.env(ann, { k: 'msg', room: 'g:' + 'f'.repeat(32), mid: 'g', text: 'unknown group' }),
      await w.env(ann, { k: 'msg', room: 'dm:nonsense', mid: 'd', text: 'bad dm' }),
      good);
    eq(general(w).slice(before).map((m) => m.text), ['fine']);
    eq(w.errors, []);
    await w.clock.advance(300);
    const acks = w.frames.filter((f) => f.t === 'ack');
    assert.equal(acks.length, 1, 'one ack frame for the batch');
    assert.ok(acks[0].eids.includes('bad-ct'));
    assert.equal(acks[0].eids.length, 8 + 11, 'every envelope fed in this test, good or bad');
  });
});

test('acknowledgements and receipts', async (t) => {
  const w = await signedIn();
  await t.test('a burst costs one vault write and one ack; a failed write holds the ack back', async () => {
    const envs = [];
    for (let i = 0; i < 40; i++) envs.push(await w.env(ann, { k: 'msg', room: 'general', mid: 'm' + i, text: 't' + i, q: i.toString(16).padStart(16, '0') }));
    w.failNow = true;
    await w.feed(...envs);
    await w.clock.advance(300);
    assert.equal(w.frames.filter((f) => f.t === 'ack').length, 0, 'nothing acknowledged before the vault holds it');
    w.failNow = false;
    await w.clock.advance(5000);
    const acks = w.frames.filter((f) => f.t === 'ack');
    assert.equal(acks.length, 1);
    assert.equal(acks[0].eids.length, 40);
  });

  await t.test('the receipt goes to the author once, with every id, after its own write', async () => {
    await w.clock.advance(1500);
    const sends = w.sends();
    assert.equal(sends.length, 1);
    eq(Object.keys(sends[0].keys), [ann.id]);
    const p = await w.open(ann, sends[0]);
    assert.equal(p.k, 'rcpt');
    assert.equal(p.q.length, 40);
    assert.equal(p.at, undefined, 'a receipt carries no id or time of its own');
    eq(Object.keys(w.D.outbox), [], 'receipts are never kept for resending');
  });

  await t.test('a receipt from a recipient takes it off the entry; the last one deletes it', async () => {
    w.frames.length = 0;
    w.S.view = 'general';
    assert.equal(w.app.post('general', { text: 'to both' }), true);
    await w.clock.settle();
    const [q] = Object.keys(w.D.outbox);
    eq(w.D.outbox[q].to.sort(), [ann.id, bo.id].sort());
    await w.feed(await w.env(ann, { k: 'rcpt', q: [q, 'f'.repeat(16), 7] }));
    eq(w.D.outbox[q].to, [bo.id]);
    await w.feed(await w.env(ann, { k: 'rcpt', q: [q] }), await w.env(bo, { k: 'rcpt', q: 'not a list' }));
    eq(w.D.outbox[q].to, [bo.id]);
    await w.feed(await w.env(bo, { k: 'rcpt', q: [q] }));
    assert.equal(w.D.outbox[q], undefined);
  });
});

test('envelopes every 250 ms still get their acks and receipts within a bounded time', async () => {
  const w = await signedIn();
  for (let i = 0; i < 24; i++) {
    await w.feed(await w.env(bo, { k: 'msg', room: 'general', mid: 't' + i, text: 'tick', q: (1000 + i).toString(16).padStart(16, '0') }));
    await w.clock.advance(250);
  }
  const acks = w.frames.filter((f) => f.t === 'ack');
  assert.ok(acks.length >= 4, 'acknowledged every second during the trickle, not ' + acks.length + ' times');
  assert.ok(acks[0].eids.length <= 5, 'the first ack waited no more than about a second');
  assert.ok(w.sends().length >= 1, 'a receipt went out during the trickle');
});

test('a sender with more than 500 unconfirmed payloads gets them all confirmed, 500 to a receipt', async () => {
  const w = await signedIn();
  const envs = [];
  for (let i = 0; i < 620; i++) envs.push(await w.env(bo, { k: 'room', room: null, q: i.toString(16).padStart(16, '0') }));
  await w.feed(...envs);
  await w.clock.advance(1500);
  const got = await Promise.all(w.sends().map((f) => w.open(bo, f)));
  eq(got.map((p) => p.q.length), [500, 120]);
  eq(new Set(got.flatMap((p) => p.q)).size, 620);
});

test('notifications, unread counts and mentions', async (t) => {
  const w = await signedIn();
  w.D.friends[ann.id] = 'friend';
  w.D.friends[bo.id] = 'friend';
  const group = { id: 'g:' + 'a'.repeat(32), name: 'Team', members: [ann.id, cy.id, bo.id], rv: 5 };
  await w.feed(
    await w.env(ann, { k: 'msg', room: 'general', mid: '1', text: 'plain' }),
    await w.env(ann, { k: 'msg', room: 'general', mid: '2', text: 'hey @cy.' }),
    await w.env(ann, { k: 'msg', room: 'general', mid: '3', text: 'sure', re: { mid: 'x', from: cy.id, text: 'mine' } }),
    await w.env(bo, { k: 'msg', room: group.id, mid: '4', text: 'in the group', meta: group }));
  w.D.settings.previews = false;
  const dm = 'dm:' + [cy.id, ann.id].sort().join(':');
  await w.feed(await w.env(ann, { k: 'msg', room: dm, mid: '5', text: 'psst' }));
  await w.clock.advance(5000);
  await t.test('titles and bodies; a second one from the same member and room waits for the first to settle', () => {
    eq(w.notes, [
      ['ann mentioned you in General', 'hey @cy.'],
      ['Team', 'bo added you to a group chat'],
      ['bo in Team', 'in the group'],
      ['ann', 'Sent you a message'],
      ['ann replied to you in General', 'sure'],
    ]);
  });
  await t.test('unread counts and the mention mark', () => {
    eq(w.D.unread, { general: 3, [group.id]: 1, [dm]: 1 });
    eq(w.D.pings, { general: true });
  });
  await t.test('nothing is raised while the window is in use, and nothing counted for the open room', async () => {
    w.notes.length = 0;
    w.S.fg = true;
    w.S.view = 'general';
    await w.feed(await w.env(ann, { k: 'msg', room: 'general', mid: '6', text: '@cy look' }));
    eq(w.notes, []);
    assert.equal(w.D.unread.general, 3);
  });
  await t.test('the 3001st message drops the oldest', () => {
    const list = w.D.msgs.general;
    while (list.length < 3000) list.unshift({ mid: 'old' + list.length, from: ann.id, text: 'o', at: 1 });
    const first = list[0].mid;
    w.app.addMsg('general', { mid: 'new', from: ann.id, text: 'n', at: 2 });
    assert.equal(list.length, 3000);
    assert.notEqual(list[0].mid, first);
    assert.equal(list[2999].mid, 'new');
  });
});

test('direct messages only between friends, and only for 24 hours', async () => {
  const w = await signedIn();
  const dm = 'dm:' + [cy.id, ann.id].sort().join(':');
  await w.feed(await w.env(ann, { k: 'msg', room: dm, mid: 'nf', text: 'not yet friends', q: 'a'.repeat(16) }));
  assert.equal(w.D.msgs[dm], undefined);
  w.D.friends[ann.id] = 'friend';
  const now = w.clock.now();
  await w.feed(
    await w.env(ann, { k: 'msg', room: dm, mid: 'old', text: 'too old', at: now - 25 * HOUR }, now),
    await w.env(ann, { k: 'msg', room: dm, mid: 'ok', text: 'fresh' }));
  eq(w.D.msgs[dm].map((m) => m.mid), ['ok']);
  await w.clock.advance(1500);
  const rc = await w.open(ann, w.sends()[0]);
  eq(rc.q, ['a'.repeat(16)], 'the refused one is still receipted');

  w.D.blocked[bo.id] = true;
  w.frames.length = 0;
  await w.feed(await w.env(bo, { k: 'msg', room: 'general', mid: 'bl', text: 'blocked', q: 'b'.repeat(16) }));
  await w.clock.advance(2000);
  assert.ok(!general(w).some((m) => m.mid === 'bl'));
  assert.equal(w.sends().length, 0, 'a blocked sender gets no receipt');
  assert.equal(w.frames.filter((f) => f.t === 'ack').length, 1, 'but the envelope is acknowledged');
});

test('a receipt whose connection closed before the relay took it goes out again after the next sign-in', async () => {
  const w = await signedIn();
  const q = 'c'.repeat(16);
  await w.feed(await w.env(ann, { k: 'msg', room: 'general', mid: 'r1', text: 'hi', q }));
  await w.clock.advance(1500);
  const first = w.sends().filter((f) => f.ref);
  assert.equal(first.length, 1, 'the receipt went out');
  w.socket().onclose({ code: 1006, reason: '' });
  eq(w.D.receipts[ann.id], [q], 'no answer from the relay: still kept');
  await w.clock.advance(1500);
  await w.signIn();
  await w.clock.advance(1500);
  const again = w.sends().filter((f) => f.ref && f.ref !== first[0].ref);
  assert.equal(again.length, 1, 'sent again on the new connection');
  eq((await w.open(ann, again[0])).q, [q]);
  await w.feed({ t: 'sent', ref: again[0].ref });
  eq(w.D.receipts, {});
});
