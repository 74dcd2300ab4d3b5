'use strict';
// Friendship on both sides, on a fake clock: every received control in every state, the
// buttons' refusals, crossing requests, blocking, and requests to usernames not seen yet.
const test = require('node:test');
const assert = require('node:assert/strict');
const { world, person, makeOwner } = require('./chat-world.js');

let owner;
let cy;
let ann;
let bo;
let dee;
test.before(async () => {
  owner = await makeOwner();
  [cy, ann, bo, dee] = await Promise.all(['cy', 'ann', 'bo', 'dee'].map((n) => person(owner, n)));
});

const make = async (people = [cy, ann, bo]) => {
  const w = await world({ owner, people, me: cy });
  await w.signIn();
  w.frames.length = 0;
  return w;
};

// The friend controls this client sent, opened by their recipient: [to, op].
async function controls(w) {
  const out = [];
  for (const f of w.sends()) {
    for (const p of [ann, bo, dee]) {
      if (!f.keys[p.id]) continue;
      const body = await w.open(p, f);
      if (body && body.k === 'friend') out.push([p.name, body.op]);
    }
  }
  return out;
}

const friendEnv = (w, from, op) => w.env(from, { k: 'friend', op, q: 'q' + op + Math.random(), at: w.clock.now() });

test('a control received in each state', async (t) => {
  const cases = [
    // [state before, op, state after, controls sent back, notification]
    [undefined, 'request', 'incoming', [], ['Friend request', 'ann wants to be your friend']],
    ['incoming', 'request', 'incoming', [], null],
    ['outgoing', 'request', 'friend', [['ann', 'accept']], ['New friend', 'You and ann are now friends']],
    ['friend', 'request', 'friend', [['ann', 'accept']], null],
    ['outgoing', 'accept', 'friend', [], ['Friend request accepted', 'ann accepted your friend request']],
    ['friend', 'accept', 'friend', [], null],
    [undefined, 'accept', undefined, [], null],
    ['incoming', 'accept', 'incoming', [], null],
    ['friend', 'remove', undefined, [], null],
    ['outgoing', 'decline', undefined, [], null],
    ['incoming', 'cancel', undefined, [], null],
    [undefined, 'remove', undefined, [], null],
    ['friend', 'shout', 'friend', [], null],
  ];
  for (const [before, op, after, sent, note] of cases) {
    await t.test(`${op} while ${before || 'none'} → ${after || 'none'}`, async () => {
      const w = await make();
      if (before) w.D.friends[ann.id] = before;
      await w.feed(await friendEnv(w, ann, op));
      assert.equal(w.D.friends[ann.id], after);
      assert.deepEqual(await controls(w), sent);
      assert.deepEqual(w.notes, note ? [note] : []);
    });
  }
});

test('the buttons', async (t) => {
  await t.test('refusals say why and send nothing', async () => {
    const w = await make();
    w.D.friends[bo.id] = 'friend';
    w.D.blocked[dee.id] = true;
    assert.equal(await w.app.friendAction('request', cy.id), "That's you!");
    assert.equal(await w.app.friendAction('request', bo.id), "You're already friends with bo");
    assert.equal(await w.app.friendAction('request', dee.id), 'Unblock someone first');
    assert.equal(await w.app.friendAction('request', ann.id), '');
    assert.equal(await w.app.friendAction('request', ann.id), 'Request already sent');
    assert.deepEqual(await controls(w), [['ann', 'request']]);
    assert.equal(w.D.friends[ann.id], 'outgoing');
    w.socket().onclose({ code: 1006, reason: '' });
    assert.equal(await w.app.friendAction('cancel', ann.id), 'Not connected right now');
    assert.equal(w.D.friends[ann.id], 'outgoing', 'nothing changes while offline');
  });

  await t.test('a request to someone who asked first accepts', async () => {
    const w = await make();
    w.D.friends[ann.id] = 'incoming';
    assert.equal(await w.app.friendAction('request', ann.id), '');
    assert.equal(w.D.friends[ann.id], 'friend');
    assert.deepEqual(await controls(w), [['ann', 'accept']]);
  });

  await t.test('crossing requests end as friends with one accept each', async () => {
    const w = await make();
    assert.equal(await w.app.friendAction('request', ann.id), '');
    await w.feed(await friendEnv(w, ann, 'request'));
    await w.feed(await friendEnv(w, ann, 'accept'));
    assert.equal(w.D.friends[ann.id], 'friend');
    assert.deepEqual(await controls(w), [['ann', 'request'], ['ann', 'accept']]);
  });

  await t.test('blocking a friend sends remove, works offline, and unblocking restores nothing', async () => {
    const w = await make();
    w.D.friends[ann.id] = 'friend';
    w.D.friends[bo.id] = 'outgoing';
    w.app.block(ann.id);
    w.app.block(bo.id);
    while (w.sends().length < 2) await w.clock.settle();
    // The two go out side by side; which is sealed first is the crypto's business.
    assert.deepEqual((await controls(w)).sort(), [['ann', 'remove'], ['bo', 'cancel']]);
    assert.deepEqual([w.D.friends[ann.id], w.D.blocked[ann.id]], [undefined, true]);
    w.socket().onclose({ code: 1006, reason: '' });
    w.D.friends[dee.id] = 'incoming';
    w.app.block(dee.id);
    assert.equal(w.D.blocked[dee.id], true);
    w.app.unblock(ann.id);
    assert.deepEqual([w.D.friends[ann.id], w.D.blocked[ann.id]], [undefined, undefined]);
  });

  await t.test('a blocked member\'s controls never arrive', async () => {
    const w = await make();
    w.D.blocked[ann.id] = true;
    await w.feed(await friendEnv(w, ann, 'request'));
    assert.equal(w.D.friends[ann.id], undefined);
    assert.deepEqual(w.notes, []);
  });
});

test('requests by username', async (t) => {
  await t.test('a username nobody has yet waits, then goes out once when that member joins', async () => {
    const w = await make([ann, bo]);
    const field = { value: '  Dee ' };
    w.app.addByName(field);
    assert.equal(field.value, '');
    assert.deepEqual(JSON.parse(JSON.stringify(w.D.wanted)), { dee: 'Dee' });
    assert.equal(w.app.fpage.note, "Dee isn't online right now. Your friend request will be sent when they come online (see Pending).");
    await w.feed({ t: 'member', cert: dee.cert });
    await w.clock.settle();
    assert.deepEqual(await controls(w), [['dee', 'request']]);
    assert.deepEqual(Object.keys(w.D.wanted), []);
    assert.equal(w.D.friends[dee.id], 'outgoing');
    await w.feed({ t: 'presence', id: dee.id, on: true }, { t: 'member', cert: dee.cert });
    await w.app.sendWanted();
    assert.equal((await controls(w)).length, 1, 'sent once');
  });

  await t.test('names that break the username rules are refused and not kept', async () => {
    const w = await make();
    for (const [typed, note] of [['x', 'Usernames need at least 2 characters'], ['no way', 'Usernames can only use letters, numbers, _ and .'],
      ['dée', 'Usernames can only use letters, numbers, _ and .']]) {
      const field = { value: typed };
      w.app.addByName(field);
      assert.equal(w.app.fpage.note, note);
      assert.equal(field.value, typed);
    }
    assert.deepEqual(Object.keys(w.D.wanted), []);
  });

  await t.test('a known name, any case, is asked at once', async () => {
    const w = await make();
    const field = { value: 'ANN' };
    w.app.addByName(field);
    while (!w.app.fpage.note) await w.clock.settle();
    assert.deepEqual(await controls(w), [['ann', 'request']]);
    assert.equal(w.app.fpage.note, 'Friend request sent to ann');
    assert.equal(field.value, '');
  });
});
