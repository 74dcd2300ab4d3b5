'use strict';
// Announcements and spoken-code custody in the chat client's logic: the owner's signed
// posts in and out, their limits and deletions, the notification made from a post, and the
// spoken entries every client keeps and hands back to the relay at sign-in.
const test = require('node:test');
const assert = require('node:assert/strict');
const { P, world, person, makeOwner } = require('./chat-world.js');

const plain = (x) => JSON.parse(JSON.stringify(x));
const DAY = 24 * 3600000;
const EXPORTS = ['D', 'takeAnn', 'takeSpoken', 'postAnn', 'annFirstLine', 'ownerName', 'annShown'];

let owner;
let cy;
let ann;
let stranger;
test.before(async () => {
  owner = await makeOwner();
  stranger = await makeOwner();
  [cy, ann] = await Promise.all(['cy', 'ann'].map((n) => person(owner, n)));
});

let seq = 0;
const newId = () => (++seq).toString(16).padStart(16, '0');
const post = (text, at, id = newId(), keys = owner.keys) => P.signAnn(keys.sigPriv, id, at, text);

// A spoken entry of the right shape signed by `keys` (the real maker's key stretching is
// far too slow for hundreds of them, and the client never opens them).
async function spoken(exp, keys = owner.keys, id = newId()) {
  const iv = Buffer.alloc(12, 7).toString('base64');
  const ct = Buffer.alloc(48, 9).toString('base64');
  return { id, exp, iv, ct, s: await P.sign(keys.sigPriv, ['msw-spoken', id, exp, iv, ct]) };
}

async function signedIn(opts = {}) {
  const w = await world(Object.assign({ owner, people: [cy, ann], me: cy, exports: EXPORTS }, opts));
  await w.signIn();
  w.frames.length = 0;
  return w;
}

// Hands frames over and waits until the page's frame queue has handled all of them.
async function feed(w, ...frames) {
  await w.feed(...frames);
  await w.app.net.queue;
  await w.clock.settle();
}

// Runs `fn` with this client's clock set to `at`.
async function clockAt(w, at, fn) {
  const was = w.clock.Date.now;
  w.clock.Date.now = () => at;
  try {
    return await fn();
  } finally {
    w.clock.Date.now = was;
  }
}

const auths = (w) => w.frames.filter((f) => f.t === 'auth');

test('posts from the relay: checked, newest version wins, counted and announced once', async (t) => {
  const w = await signedIn();
  const now = w.clock.now();
  await t.test('bad signatures, wrong types and oversize texts are ignored without an error', async () => {
    const good = await post('hello', now);
    await feed(w,
      { t: 'ann', ann: await post('fake', now, newId(), stranger.keys) },
      { t: 'ann', ann: Object.assign({}, good, { at: String(now) }) },
      { t: 'ann', ann: Object.assign({}, good, { text: 'changed' }) },
      { t: 'ann', ann: { id: newId(), at: now, text: 'x'.repeat(6001), s: good.s } },
      { t: 'ann', ann: 'not a post' },
      { t: 'ann' });
    assert.deepEqual(Object.keys(w.D.ann), []);
    assert.deepEqual(w.errors, []);
    assert.equal(w.D.unread.announcements, undefined);
  });
  const id = newId();
  await t.test('a new live post counts as unread and notifies with its first line in plain words', async () => {
    await feed(w, { t: 'ann', ann: await post('\n## **Big** news: `v2` is out\n\nmore text', now, id) });
    assert.equal(w.D.ann[id].text.startsWith('\n## **Big**'), true);
    assert.equal(w.D.unread.announcements, 1);
    assert.deepEqual(w.notes, [['Announcement from owner', 'Big news: v2 is out']]);
  });
  await t.test('the same id and time again is ignored; an earlier one too', async () => {
    await feed(w, { t: 'ann', ann: await post('same time', now, id) }, { t: 'ann', ann: await post('older', now - 1, id) });
    assert.match(w.D.ann[id].text, /Big/);
    assert.equal(w.D.unread.announcements, 1);
    assert.equal(w.notes.length, 1);
  });
  await t.test('a later version replaces it quietly; a deletion is kept but not shown', async () => {
    await feed(w, { t: 'ann', ann: await post('fixed a typo', now + 5, id) });
    assert.equal(w.D.ann[id].text, 'fixed a typo');
    assert.equal(w.D.unread.announcements, 1);
    assert.equal(w.notes.length, 1);
    await feed(w, { t: 'ann', ann: await post('', now + 9, id) });
    assert.equal(w.D.ann[id].text, '');
    assert.deepEqual(plain(w.app.annShown()), []);
    assert.equal(w.notes.length, 1);
  });
  await t.test('the deletion goes back to the relay at the next sign-in', async () => {
    w.socket().onclose({ code: 1006, reason: '' });
    await w.signIn();
    const sent = auths(w).pop();
    assert.deepEqual(sent.ann.map((a) => [a.id, a.text]), [[id, '']]);
  });
  await t.test('previews off: the body is only "New announcement"; a welcome list never notifies', async () => {
    w.D.settings.previews = false;
    await feed(w, { t: 'ann', ann: await post('secret plans', now + 20) });
    assert.deepEqual(w.notes[1], ['Announcement from owner', 'New announcement']);
    await feed(w, { t: 'welcome', dir: [], ann: [await post('from the list', now + 30)], online: [] });
    assert.equal(w.notes.length, 2);
    assert.equal(w.D.unread.announcements, 3);
  });
});

test('at most the 100 newest signed posts are kept; release notes never count', async () => {
  const w = await signedIn();
  const now = w.clock.now();
  w.D.ann['rel-v1.0.0'] = { id: 'rel-v1.0.0', at: now - 400 * DAY, text: 'old notes', rel: '1.0.0' };
  const list = [];
  for (let i = 0; i < 100; i++) list.push(await post('post ' + i, now - DAY + i));
  await feed(w, { t: 'welcome', dir: [], ann: list, online: [] });
  assert.equal(Object.keys(w.D.ann).length, 101);
  await feed(w, { t: 'ann', ann: await post('newest', now) });
  const held = Object.values(w.D.ann);
  assert.equal(held.filter((a) => a.s).length, 100);
  assert.equal(held.some((a) => a.text === 'post 0'), false);
  assert.equal(held.some((a) => a.text === 'post 1'), true);
  assert.equal(w.D.ann['rel-v1.0.0'].text, 'old notes');
  // A post older than all hundred is dropped at once and raises nothing.
  const unread = w.D.unread.announcements;
  const notes = w.notes.length;
  const old = await post('too old', now - 2 * DAY);
  await feed(w, { t: 'ann', ann: old });
  assert.equal(w.D.ann[old.id], undefined);
  assert.equal(w.D.unread.announcements, unread);
  assert.equal(w.notes.length, notes);
  // Only signed posts are handed back to the relay.
  w.socket().onclose({ code: 1006, reason: '' });
  await w.signIn();
  assert.equal(auths(w).pop().ann.length, 100);
});

test('the owner posts and deletes from this computer', async (t) => {
  const secret = { key: null };
  const w = await signedIn({ natives: { msw_owner_secret: async () => secret.key } });
  const sent = () => w.frames.filter((f) => f.t === 'announce');
  const chatErr = () => w.app.$('chatErr').textContent;
  await t.test('without the owner key nothing is stored or sent', async () => {
    assert.equal(await w.app.postAnn('hi'), false);
    assert.equal(chatErr(), "This computer doesn't have this network's owner key, so it can't post here.");
    secret.key = stranger.keys.sigPriv;
    assert.equal(await w.app.postAnn('hi'), false);
    assert.equal(chatErr(), "This computer doesn't have this network's owner key, so it can't post here.");
    assert.deepEqual(Object.keys(w.D.ann), []);
    assert.deepEqual(sent(), []);
  });
  secret.key = owner.keys.sigPriv;
  let id;
  await t.test('a post is signed, kept, sent, and does not count as unread here', async () => {
    assert.equal(await w.app.postAnn('Server moves **tonight**'), true);
    assert.equal(chatErr(), '');
    const frame = sent()[0];
    id = frame.ann.id;
    assert.match(id, /^[0-9a-f]{16}$/);
    assert.ok(await P.checkAnn(frame.ann, owner.keys.sigPub));
    assert.deepEqual(plain(w.D.ann[id]), frame.ann);
    assert.equal(w.D.unread.announcements, undefined);
  });
  await t.test('a deletion is later than the post even when this clock went back', async () => {
    const at = w.D.ann[id].at;
    assert.equal(await clockAt(w, at - 60000, () => w.app.postAnn('', id)), true);
    const del = sent()[1].ann;
    assert.equal(del.id, id);
    assert.equal(del.text, '');
    assert.ok(del.at > at);
  });
  await t.test('offline, posting fails with its message and keeps nothing', async () => {
    w.socket().onclose({ code: 1006, reason: '' });
    const before = Object.keys(w.D.ann).length;
    assert.equal(await w.app.postAnn('later'), false);
    assert.equal(chatErr(), 'Not connected right now. Try again in a moment.');
    assert.equal(Object.keys(w.D.ann).length, before);
  });
});

test('spoken entries are checked, capped and handed back at every sign-in', async (t) => {
  const w = await signedIn();
  const now = w.clock.now();
  await t.test('expired, foreign and malformed entries are never stored', async () => {
    const good = await spoken(now + DAY);
    await feed(w, {
      t: 'welcome', dir: [], online: [],
      spoken: [await spoken(now - 1), await spoken(now + DAY, stranger.keys), Object.assign({}, good, { exp: now + 2 * DAY }),
        { id: 5 }, null, 'x', Object.assign({}, good, { ct: 'not base64!' })],
    });
    await feed(w, { t: 'spoken', entry: await spoken(now) }, { t: 'spoken' }, { t: 'spoken', entry: [] });
    assert.deepEqual(Object.keys(w.D.spoken), []);
    assert.deepEqual(w.errors, []);
  });
  await t.test('a good entry is kept once and goes back in the next auth', async () => {
    const e = await spoken(now + 7 * DAY);
    await feed(w, { t: 'spoken', entry: e }, { t: 'spoken', entry: e });
    assert.deepEqual(plain(w.D.spoken), { [e.id]: e });
    w.socket().onclose({ code: 1006, reason: '' });
    await w.signIn();
    assert.deepEqual(auths(w).pop().spoken, [e]);
  });
  await t.test('of more than 200 the ones expiring last stay, and expired ones are not handed back', async () => {
    const list = [];
    for (let i = 0; i < 210; i++) list.push(await spoken(now + DAY + i * 1000));
    await feed(w, { t: 'welcome', dir: [], online: [], spoken: list.slice(0, 200) });
    await feed(w, ...list.slice(200).map((entry) => ({ t: 'spoken', entry })));
    const exps = Object.values(w.D.spoken).map((e) => e.exp).sort((a, b) => a - b);
    assert.equal(exps.length, 200);
    assert.equal(exps[0], now + DAY + 11 * 1000);
    await clockAt(w, now + DAY + 100 * 1000 + 1, async () => {
      w.socket().onclose({ code: 1006, reason: '' });
      await w.signIn();
    });
    assert.equal(auths(w).pop().spoken.length, 110);
  });
});

test('notification titles and the owner name come from plain words', async () => {
  const w = await signedIn();
  const first = w.app.annFirstLine;
  assert.equal(first('## **Release** day'), 'Release day');
  assert.equal(first('\n   \n# \n- __Fixed__ the `menu`\nrest'), 'Fixed the menu');
  assert.equal(first('*not a list* but a *word*'), '*not a list* but a *word*');
  assert.equal(w.app.ownerName(), 'owner');
  w.D.cert = { m: w.D.cert.m };
  assert.equal(w.app.ownerName(), 'developer');
});
