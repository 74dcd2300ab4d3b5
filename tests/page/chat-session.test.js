'use strict';
// The connection and sending in the chat client's logic, on a fake clock: retry delays,
// refusals and their banners, the liveness check, a relay restart, pending and held
// messages, the relay's confirmations, and the outbox's resend schedule.
const test = require('node:test');
const assert = require('node:assert/strict');
const { P, world, person, makeOwner } = require('./chat-world.js');

const plain = (x) => JSON.parse(JSON.stringify(x));
const eq = (a, b, msg) => assert.deepEqual(plain(a), plain(b), msg);
const HOUR = 3600000;
const WAKING = 'Connecting… the server can take up to a minute to wake up.';

let owner;
let cy;
let ann;
let bo;
test.before(async () => {
  owner = await makeOwner();
  [cy, ann, bo] = await Promise.all(['cy', 'ann', 'bo'].map((n) => person(owner, n)));
});

const make = () => world({ owner, people: [cy, ann, bo], me: cy });
const banner = (w) => w.app.$('banner').shown;
const dot = (w) => w.app.$('netDot').className;

test('reconnecting', async (t) => {
  await t.test('attempts follow 1500, 2400, 3840, 6144, 9830.4 ms, then every 10 s; online restarts the sequence', async () => {
    const w = await make();
    w.refuse = true;
    w.app.connect();
    while (w.sockets.length < 8) await w.clock.runNext();
    const times = w.sockets.map((s) => s.at);
    const gaps = times.slice(1).map((x, i) => Math.round((x - times[i]) * 10) / 10);
    eq(gaps, [1500, 2400, 3840, 6144, 9830.4, 10000, 10000]);
    const seen = w.sockets.length;
    assert.match(banner(w), /^Disconnected \(1006\)\. Reconnecting…Reconnect now$/);
    w.refuse = false;
    w.app.reconnectNow();
    assert.equal(w.sockets.length, seen + 1, 'the window coming back connects at once');
    w.app.reconnectNow();
    assert.equal(w.sockets.length, seen + 1, 'but not twice');
    w.socket().onclose({ code: 1006, reason: '' });
    await w.clock.runNext();
    assert.equal(w.socket().at - w.sockets[seen].at, 1500, 'and the delays start again');
  });

  await t.test('a relay of another network: the setup banner stays between attempts', async () => {
    const w = await make();
    w.app.connect();
    await w.feed({ t: 'hello', net: 'B' + 'x'.repeat(87), nonce: 'n', boot: 'b' });
    assert.equal(banner(w), "Your invite doesn't match this server. Ask the developer for a new one.");
    w.socket().onclose({ code: 1000, reason: '' });
    assert.equal(banner(w), "Your invite doesn't match this server. Ask the developer for a new one.");
    assert.equal(dot(w), 'dot');
    assert.equal(w.frames.length, 0, 'no sign-in is sent to a stranger');
    await w.clock.advance(1500);
    assert.equal(w.sockets.length, 2);
    await w.feed({ t: 'hello', nonce: 'n' });
    assert.equal(banner(w), "The server isn't ready yet. Hang on, it keeps trying.");
  });
});

test('sign-in and refusals', async (t) => {
  await t.test('auth carries the certificate, a signature over the nonce and what the client knows', async () => {
    const w = await make();
    w.D.spoken = { old: { id: 'old', exp: 1 }, fresh: { id: 'fresh', exp: w.clock.now() + HOUR } };
    w.D.ann = { a: { id: 'a', s: 'sig' }, rel: { id: 'rel-v1', rel: '1' } };
    await w.signIn();
    const auth = w.frames.find((f) => f.t === 'auth');
    assert.equal(await P.verify(cy.keys.sigPub, ['msw-auth', 'n'], auth.sig), true);
    eq(auth.cert, cy.cert);
    assert.equal(auth.dir.length, 3);
    eq(auth.spoken.map((e) => e.id), ['fresh']);
    eq(auth.ann.map((a) => a.id), ['a']);
    assert.equal(dot(w), 'dot on');
    assert.equal(w.app.$('netDot').title, 'Connected');
    assert.equal(banner(w), '');
  });

  const cases = [
    ['name', 'The server is still catching up after a restart. Retrying…'],
    ['setup', 'The relay has no owner key.'],
    ['odd', 'Something else.'],
  ];
  for (const [why, text] of cases) {
    await t.test('denied ' + why, async () => {
      const w = await make();
      await w.signIn();
      await w.feed({ t: 'denied', why, msg: why === 'name' ? 'taken' : text });
      assert.equal(banner(w), text);
      assert.equal(w.app.net.stopped, true);
      w.socket().onclose && w.socket().onclose({ code: 1000, reason: '' });
      await w.clock.advance(59000);
      const n = w.sockets.length;
      await w.clock.advance(1000);
      assert.equal(w.sockets.length, why === 'name' ? n + 1 : n, why === 'name' ? 'tries again after a minute' : 'stays stopped');
    });
  }

  await t.test('denied name while the invite is still usable opens the username dialog', async () => {
    const w = await make();
    await w.signIn();
    w.D.pendingInvite = { g: {}, k: '' };
    await w.feed({ t: 'denied', why: 'name', msg: 'taken' });
    assert.equal(banner(w), 'That username is already taken.Pick another');
    assert.match(w.app.$('modalCard').shown, /^That username is takenSomeone in this network already has it\./);
    const kids = w.app.$('modalCard').children;
    const input = kids.find((k) => k.tagName === 'input');
    const line = kids.find((k) => k.className === 'err');
    const button = kids.at(-1).children[0];
    assert.equal(button.text, 'Use this username');
    for (const [typed, said] of [[' c ', 'Usernames need at least 2 characters'], ['cy-2', 'Usernames can only use letters, numbers, _ and .']]) {
      input.value = typed;
      await button.listeners.click[0]();
      assert.equal(line.text, said);
    }
    // The kept invite signs a certificate for the new name; it is stored before connecting.
    const inv = await P.makeInvite(owner.cert, owner.keys, 24);
    w.D.pendingInvite = { g: inv.g, k: inv.k };
    const before = w.sockets.length;
    input.value = ' cy2 ';
    await button.listeners.click[0]();
    await w.clock.settle();
    const info = await P.verifyCert(w.D.cert, owner.keys.sigPub);
    eq([info.name, info.id, w.D.dir[cy.id], w.writes > 0, w.sockets.length, w.app.net.stopped], ['cy2', cy.id, w.D.cert, true, before + 1, false]);
    assert.equal(w.app.$('modal').classList.contains('hidden'), true);
  });

  await t.test('denied member, removed, replaced: the gone screen or the banner, and no reconnect', async () => {
    for (const f of [{ t: 'denied', why: 'member', msg: 'Your certificate is not accepted.' }, { t: 'removed' }, { t: 'replaced' }]) {
      const w = await make();
      await w.signIn();
      await w.feed(f);
      if (f.t === 'replaced') assert.equal(banner(w), 'mosswire connected from somewhere else with this identity, so this window stopped.');
      else {
        assert.equal(w.app.$('goneTitle').textContent, f.t === 'removed' ? 'You were removed from this network' : "This device can't connect");
        assert.equal(w.app.$('goneMsg').textContent, f.t === 'removed' ? 'The owner removed you, so you can no longer send or receive messages here.' : f.msg);
      }
      await w.clock.advance(60000);
      assert.equal(w.sockets.length, 1);
      assert.equal(w.app.post('general', { text: 'x' }), false);
      assert.equal(w.app.$('chatErr').textContent, 'Not connected right now');
    }
  });

  await t.test('presence, members joining, and a removal list', async () => {
    const w = await world({ owner, people: [cy, ann], me: cy });
    await w.signIn();
    w.S.online.clear();
    await w.feed({ t: 'presence', id: bo.id, on: true }, { t: 'member', cert: bo.cert }, { t: 'member', cert: { junk: 1 } });
    assert.ok(w.S.online.has(bo.id));
    assert.equal(w.D.msgs.general.at(-1).text, 'bo joined the network');
    const list = await P.signRemovals(owner.keys, 3, [bo.id]);
    await w.feed({ t: 'removals', removals: list });
    assert.equal(w.S.info[bo.id], undefined);
    assert.equal(w.D.dir[bo.id], undefined);
    assert.equal(w.D.names[bo.id], 'bo', 'the name stays for old messages');
    const older = await P.signRemovals(owner.keys, 3, [ann.id]);
    await w.feed({ t: 'removals', removals: older });
    assert.ok(w.S.info[ann.id], 'a list whose version is not higher changes nothing');
  });
});

test('sending, holding and confirmations', async (t) => {
  await t.test('offline: held and pending, sent after sign-in with the time it was written; alone: nothing sent', async () => {
    const w = await make();
    w.S.view = 'general';
    assert.equal(w.app.post('general', { text: 'early' }), true);
    const m = w.D.msgs.general.at(-1);
    eq([m.st, m.at, w.app.heldCount()], ['pending', w.clock.now(), 1]);
    assert.equal(w.sockets.length, 1, 'holding woke the relay');
    await w.clock.advance(5000);
    const ws = w.socket();
    ws.onmessage({ data: JSON.stringify({ t: 'hello', net: owner.keys.sigPub, nonce: 'n', boot: 'boot1' }) });
    await w.clock.settle();
    ws.onmessage({ data: JSON.stringify({ t: 'welcome', dir: [], online: [] }) });
    await w.clock.settle();
    const send = w.sends()[0];
    assert.equal(send.ref, m.mid);
    const p = await w.open(ann, send);
    eq([p.k, p.room, p.mid, p.text], ['msg', 'general', m.mid, 'early']);
    assert.ok(p.at > m.at, 'the payload is stamped when sent');
    await w.feed({ t: 'sent', ref: m.mid }, { t: 'sent', ref: 'unknown' });
    assert.equal(m.st, undefined);
    const lonely = await world({ owner, people: [cy], me: cy });
    await lonely.signIn();
    lonely.app.post('general', { text: 'alone' });
    await lonely.clock.settle();
    eq([lonely.D.msgs.general.at(-1).st, lonely.sends().length], [undefined, 0]);
  });

  await t.test('an error marks it failed with the relay\'s words; Retry sends it again', async () => {
    const w = await make();
    await w.signIn();
    w.S.view = 'general';
    w.app.post('general', { text: 'nope' });
    await w.clock.settle();
    const m = w.D.msgs.general.at(-1);
    await w.feed({ t: 'error', ref: m.mid, msg: "You're sending too fast." });
    eq([m.st, w.app.$('chatErr').textContent], ['failed', "You're sending too fast."]);
    w.app.retry('general', m.mid);
    await w.clock.settle();
    assert.equal(m.st, 'pending');
    assert.equal(w.sends().length, 2);
  });

  await t.test('a DM to a non-friend is refused; to a friend it lives 24 hours at the relay', async () => {
    const w = await make();
    await w.signIn();
    const dm = 'dm:' + [cy.id, ann.id].sort().join(':');
    w.D.rooms[dm] = { id: dm, kind: 'dm', with: ann.id };
    assert.equal(w.app.post(dm, { text: 'hi' }), false);
    assert.equal(w.app.$('chatErr').textContent, 'You can only message friends');
    w.D.friends[ann.id] = 'friend';
    assert.equal(w.app.post(dm, { text: 'hi' }), true);
    await w.clock.settle();
    const f = w.sends()[0];
    eq([f.ttl, Object.keys(f.keys)], [24 * HOUR, [ann.id]]);
    assert.equal(Object.values(w.D.outbox)[0].ttl, 24 * HOUR);
  });

  await t.test('a silent connection is dropped 10 s after a send; the message is held and goes out on the next one', async () => {
    const w = await make();
    await w.signIn();
    w.S.view = 'general';
    w.app.post('general', { text: 'lost?' });
    await w.clock.settle();
    await w.clock.advance(9999);
    assert.equal(w.sockets.length, 1);
    await w.clock.advance(1);
    assert.equal(w.sockets.length, 2, 'dropped and reconnected at once');
    assert.equal(w.sockets[0].readyState, 3);
    assert.equal(banner(w), WAKING);
    const ws = w.socket();
    ws.onmessage({ data: JSON.stringify({ t: 'hello', net: owner.keys.sigPub, nonce: 'n', boot: 'boot1' }) });
    await w.clock.settle();
    ws.onmessage({ data: JSON.stringify({ t: 'welcome', dir: [], online: [] }) });
    await w.clock.settle();
    eq(w.sends().map((f) => f.ref), [w.D.msgs.general.at(-1).mid, w.D.msgs.general.at(-1).mid]);
  });

  await t.test('more than 10 held messages go out 300 ms apart', async () => {
    const w = await make();
    w.S.view = 'general';
    for (let i = 0; i < 12; i++) w.app.post('general', { text: 'm' + i });
    const ws = w.socket();
    ws.onmessage({ data: JSON.stringify({ t: 'hello', net: owner.keys.sigPub, nonce: 'n', boot: 'boot1' }) });
    await w.clock.settle();
    ws.onmessage({ data: JSON.stringify({ t: 'welcome', dir: [], online: [] }) });
    await w.clock.settle();
    assert.equal(w.sends().length, 1);
    await w.clock.advance(300);
    assert.equal(w.sends().length, 2);
    await w.clock.advance(3000);
    assert.equal(w.sends().length, 12);
  });
});

test('a relay restart', async () => {
  const w = await make();
  await w.signIn();
  w.S.view = 'general';
  w.D.msgs.general = [{ mid: 'x', from: ann.id, text: 'old', at: 1 }];
  w.D.unread.general = 4;
  w.D.outbox.q = { payload: {}, to: [ann.id], at: 1, ttl: 1, sent: 1, wait: 1, boot: 'boot1' };
  w.socket().onclose({ code: 1006, reason: '' });
  w.app.post('general', { text: 'kept' });
  await w.clock.advance(1500);
  w.boot = 'boot2';
  const ws = w.socket();
  ws.onmessage({ data: JSON.stringify({ t: 'hello', net: owner.keys.sigPub, nonce: 'n', boot: 'boot2' }) });
  await w.clock.settle();
  eq(w.D.msgs.general.map((m) => m.text), ['The server went offline, so every message was deleted. Messages only last while the server is running.', 'kept']);
  eq([w.D.unread, w.D.outbox, w.D.pings, w.D.serverBoot], [{}, {}, {}, 'boot2']);
  assert.equal(w.D.msgs.announcements, undefined);
  assert.ok(w.frames.some((f) => f.t === 'auth'), 'then it signs in');
});

test('the outbox resend schedule', async (t) => {
  const w = await make();
  await w.signIn();
  w.S.view = 'general';
  w.app.post('general', { text: 'confirm me' });
  await w.clock.settle();
  const q = Object.keys(w.D.outbox)[0];
  const resends = () => w.sends().filter((f) => f.ref === undefined);
  const run = async () => {
    let done = false;
    const r = w.app.resendOutbox().then(() => { done = true; });
    while (!done) await w.clock.advance(100);
    await r;
  };

  await t.test('under one boot: after 6 hours, then 12 more, same payload for those still missing', async () => {
    await w.feed(await w.env(ann, { k: 'rcpt', q: [q] }));
    await w.clock.advance(6 * HOUR - 1000);
    await run();
    assert.equal(resends().length, 0);
    await w.clock.advance(1000);
    await run();
    assert.equal(resends().length, 1);
    eq(Object.keys(resends()[0].keys), [bo.id]);
    const p = await w.open(bo, resends()[0]);
    eq([p.q, p.text], [q, 'confirm me']);
    assert.equal(w.D.outbox[q].wait, 12 * HOUR);
    await w.clock.advance(12 * HOUR - 1000);
    await run();
    assert.equal(resends().length, 1);
    await w.clock.advance(1000);
    await run();
    assert.equal(resends().length, 2);
  });

  await t.test('under a new boot it goes at once, without doubling', async () => {
    w.S.boot = 'boot9';
    await run();
    assert.equal(resends().length, 3);
    eq([w.D.outbox[q].wait, w.D.outbox[q].boot], [24 * HOUR, 'boot9']);
  });

  await t.test('an entry with under a minute left, or with no known recipient left, is deleted unsent', async () => {
    w.D.outbox.a = { payload: { k: 'msg' }, to: [bo.id], at: w.clock.now() - 14 * 24 * HOUR + 59000, ttl: 14 * 24 * HOUR, sent: 0, wait: 1, boot: null };
    w.D.outbox.b = { payload: { k: 'msg' }, to: ['f'.repeat(32)], at: w.clock.now(), ttl: 14 * 24 * HOUR, sent: 0, wait: 1, boot: null };
    await run();
    eq([w.D.outbox.a, w.D.outbox.b, resends().length], [undefined, undefined, 3]);
  });
});

test('group chats', async (t) => {
  const w = await make();
  await w.signIn();
  w.D.friends[ann.id] = 'friend';
  const gid = 'g:' + 'c'.repeat(32);
  const def = (over) => Object.assign({ id: gid, name: 'Team', members: [ann.id, cy.id], rv: 10 }, over);
  const apply = (d, from) => w.app.applyRoom(d, from.id);

  await t.test('a new group needs a friend who is in its own list; junk fields are cleaned', async () => {
    assert.equal(apply(def({ members: [cy.id] }), ann), false, 'sender outside its own list');
    assert.equal(apply(def({}), bo), false, 'not a friend');
    for (const bad of [def({ id: 'g:x' }), def({ rv: '10' }), def({ members: 'x' }), def({ name: ' \u200b ' }), null, [1]]) {
      assert.equal(apply(bad, ann), false);
    }
    const many = [ann.id, cy.id, ann.id, 7, 'nope'].concat(Array.from({ length: 250 }, (_, i) => i.toString(16).padStart(32, '0')));
    assert.equal(apply(def({ members: many, name: '  Team\u0000 <x> ', extra: { deep: 1 } }), ann), true);
    const r = w.D.rooms[gid];
    eq([r.name, r.members.length, r.members.slice(0, 3), Object.keys(r).sort()], ['Team x', 200, [ann.id, cy.id, '0'.repeat(32)], ['by', 'id', 'kind', 'members', 'name', 'rv']]);
    eq(w.D.msgs[gid].at(-1).text, 'ann added you to Team x');
  });

  await t.test('equal rv, or a sender outside a known group, changes nothing', async () => {
    assert.equal(apply(def({ name: 'Other', rv: 10 }), ann), false);
    w.D.friends[bo.id] = 'friend';
    assert.equal(apply(def({ name: 'Other', rv: 11, members: [bo.id, cy.id, ann.id] }), bo), false);
    assert.equal(apply(def({ name: 'Renamed', rv: 11, members: [ann.id, cy.id, bo.id] }), ann), true);
    eq(w.D.msgs[gid].at(-1).text, 'ann renamed the group to Renamed');
    assert.equal(apply(def({ name: 'Renamed', rv: 12, members: [ann.id, cy.id] }), ann), true);
    eq(w.D.msgs[gid].at(-1).text, "ann changed who's in the group");
  });


  await t.test('a group made here without a name is named after its members, and its definition goes out', async () => {
    w.frames.length = 0;
    const room = w.app.makeGroup('   ', [ann.id, bo.id]);
    await w.clock.settle();
    eq([room.name, room.members], ['cy, ann, bo', [cy.id, ann.id, bo.id]]);
    eq(w.D.msgs[room.id].map((m) => m.text), ['You made cy, ann, bo']);
    const p = await w.open(bo, w.sends()[0]);
    eq([p.k, p.room], ['room', { id: room.id, name: 'cy, ann, bo', members: [cy.id, ann.id, bo.id], rv: room.rv }]);
    w.app.changeGroup(room, { members: [ann.id, bo.id] }, null);
    await w.clock.settle();
    const leave = await w.open(ann, w.sends()[1]);
    eq([leave.room.members, leave.room.rv > room.rv, w.D.rooms[room.id]], [[ann.id, bo.id], true, undefined]);
  });
});

test('direct messages older than 24 hours go at the next check; own pending ones stay', async () => {
  const w = await make();
  const dm = 'dm:' + [cy.id, ann.id].sort().join(':');
  const now = w.clock.now();
  w.D.rooms[dm] = { id: dm, kind: 'dm', with: ann.id };
  w.D.msgs[dm] = [
    { mid: '1', from: ann.id, text: 'old', at: now - 25 * HOUR },
    { mid: '2', from: cy.id, text: 'mine, waiting', at: now - 25 * HOUR, st: 'pending' },
    { mid: '3', from: cy.id, text: 'mine, sent', at: now - 25 * HOUR },
    { mid: '4', from: ann.id, text: 'new', at: now - HOUR },
  ];
  w.D.unread[dm] = 4;
  w.app.pruneDms();
  eq(w.D.msgs[dm].map((m) => m.mid), ['2', '4']);
  assert.equal(w.D.unread[dm], 2);
});
