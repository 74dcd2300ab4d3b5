'use strict';
const test = require('node:test');
const assert = require('node:assert');
const H = require('./helpers.js');
const { P } = H;

async function admin(url, owner) {
  const s = await H.FrameSocket.open(url);
  const hello = await s.next('hello');
  s.send({ t: 'admin', sig: await P.sign(owner.keys.sigPriv, ['msw-admin', hello.nonce]) });
  s.answer = await s.next(['admin_ok', 'denied']);
  return s;
}

test('announcements', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  const [ann, bo] = await Promise.all([H.makeMember(owner, 'ann'), H.makeMember(owner, 'bo')]);
  const sa = await H.signIn(relay.url, ann);
  const sb = await H.signIn(relay.url, bo);
  t.after(() => [sa, sb].forEach((s) => s.close()));
  const id = P.randomHex(8);

  await t.test('a signed post from a member is passed to the others and kept for the next welcome', async () => {
    const post = await P.signAnn(owner.keys.sigPriv, id, 1000, 'first');
    sa.send({ t: 'announce', ann: Object.assign({ extra: 'dropped' }, post) });
    const got = await sb.next('ann');
    assert.deepStrictEqual(got.ann, post);
    assert.deepStrictEqual(await H.quiet(sa, ['ann'], 100), [], 'not echoed to the poster');
  });

  await t.test('the newest version per id wins, whatever the order of arrival', async () => {
    sa.send({ t: 'announce', ann: await P.signAnn(owner.keys.sigPriv, id, 3000, 'third') });
    assert.strictEqual((await sb.next('ann')).ann.text, 'third');
    sa.send({ t: 'announce', ann: await P.signAnn(owner.keys.sigPriv, id, 2000, 'second, late') });
    sa.send({ t: 'announce', ann: await P.signAnn(owner.keys.sigPriv, id, 3000, 'same time') });
    assert.deepStrictEqual(await H.quiet(sb, ['ann'], 200), []);
    // An older version handed over at sign-in does not win either.
    const cy = await H.makeMember(owner, 'cy');
    const sc = await H.signIn(relay.url, cy, { ann: [await P.signAnn(owner.keys.sigPriv, id, 1500, 'stale')] });
    t.after(() => sc.close());
    assert.deepStrictEqual(sc.answer.ann.map((a) => a.text), ['third']);
  });

  await t.test('posts not signed by the owner are refused; only the owner tools are told', async () => {
    const post = await P.signAnn(ann.keys.sigPriv, P.randomHex(8), 5000, 'fake');
    sa.send({ t: 'announce', ann: post });
    assert.deepStrictEqual(await H.quiet(sb, ['ann'], 200), []);
    assert.deepStrictEqual(sa.drain(['error']), []);
    const a = await admin(relay.url, owner);
    t.after(() => a.close());
    a.send({ t: 'announce', ann: post });
    assert.match((await a.next('error')).msg, /isn't signed by this network's owner/);
    a.send({ t: 'announce', ann: await P.signAnn(owner.keys.sigPriv, id, 2500, 'older') });
    assert.match((await a.next('error')).msg, /newer version/);
    assert.deepStrictEqual(await H.quiet(sb, ['ann'], 100), []);
  });

  await t.test('posts handed over at sign-in reach everyone online and survive a restart through the clients', async () => {
    const id2 = P.randomHex(8);
    const dot = await H.makeMember(owner, 'dot');
    const sd = await H.signIn(relay.url, dot, { ann: [await P.signAnn(owner.keys.sigPriv, id2, 4000, 'from dot')] });
    t.after(() => sd.close());
    assert.strictEqual((await sa.next('ann')).ann.text, 'from dot');
    assert.ok(sd.answer.ann.some((a) => a.id === id2));
  });
});

test('removal lists', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  const [kim, lou, max] = await Promise.all(['kim', 'lou', 'max'].map((n) => H.makeMember(owner, n)));
  const sk = await H.signIn(relay.url, kim);
  const sl = await H.signIn(relay.url, lou);
  const sm = await H.signIn(relay.url, max);
  t.after(() => [sk, sl, sm].forEach((s) => s.close()));

  await t.test('a valid list disconnects the removed member with removed and is passed to the rest', async () => {
    const list = await P.signRemovals(owner.keys, 1, [lou.id]);
    sk.send({ t: 'removals', removals: list });
    await sl.next('removed');
    await sl.whenClosed();
    assert.deepStrictEqual((await sm.next('removals')).removals, list);
    const off = await sm.next('presence');
    assert.deepStrictEqual([off.id, off.on], [lou.id, false]);
  });

  await t.test('a removed member is refused afterwards and envelopes for it are refused', async () => {
    const again = await H.signIn(relay.url, lou);
    t.after(() => again.close());
    assert.strictEqual(again.answer.t, 'removed');
    sk.send(await H.sealFor(kim, 'to lou', [lou], { ref: 'x' }));
    assert.strictEqual((await sk.next(['sent', 'error'])).t, 'error');
  });

  await t.test('an older or equal version, or a forged list, changes nothing', async () => {
    sk.send({ t: 'removals', removals: await P.signRemovals(owner.keys, 1, [max.id]) });
    sk.send({ t: 'removals', removals: await P.signRemovals(kim.keys, 9, [max.id]) });
    assert.deepStrictEqual(await H.quiet(sm, ['removed', 'removals'], 200), []);
  });

  await t.test('removing an inviter cascades down the invitation chain (the owner, here) to every member', async () => {
    const ned = await H.makeMember(owner, 'ned');
    // A newer list handed over in a sign-in is applied before that member is admitted.
    const s = await H.signIn(relay.url, ned, { removals: await P.signRemovals(owner.keys, 5, [lou.id, owner.id]) });
    t.after(() => s.close());
    assert.strictEqual(s.answer.t, 'removed');
    await sk.next('removed');
    await sm.next('removed');
  });
});

test('spoken entries and the unauthenticated lookup', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  const lookup = async () => {
    const s = await H.FrameSocket.open(relay.url);
    t.after(() => s.close());
    await s.next('hello');
    s.send({ t: 'spoken_get' });
    return s.next('spoken_list');
  };
  const made = await P.makeSpoken(owner.keys.sigPriv, owner.key, 'MSW1.inner-code', 24);

  await t.test('nobody online and nothing kept: an empty list and online 0', async () => {
    assert.deepStrictEqual(await lookup(), { t: 'spoken_list', entries: [], online: 0 });
  });

  const pia = await H.makeMember(owner, 'pia');
  const quin = await H.makeMember(owner, 'quin');
  const sp = await H.signIn(relay.url, pia);
  const sq = await H.signIn(relay.url, quin);
  t.after(() => [sp, sq].forEach((s) => s.close()));

  await t.test('an entry put by a member reaches the others and the lookup, which opens with the code', async () => {
    sp.send({ t: 'spoken_put', entries: [made.entry] });
    assert.deepStrictEqual((await sq.next('spoken')).entry, made.entry);
    const list = await lookup();
    assert.strictEqual(list.online, 2);
    assert.deepStrictEqual(list.entries, [made.entry]);
    assert.strictEqual(await P.openSpoken(made.code, owner.key, list.entries), 'MSW1.inner-code');
  });

  await t.test('forged, expired and repeated entries are not kept', async () => {
    const forged = await P.makeSpoken(pia.keys.sigPriv, pia.keys.sigPub, 'x'.repeat(30), 24);
    const expired = await P.makeSpoken(owner.keys.sigPriv, owner.key, 'y'.repeat(30), -1);
    sp.send({ t: 'spoken_put', entries: [forged.entry, expired.entry, made.entry, 'junk'] });
    assert.deepStrictEqual(await H.quiet(sq, ['spoken'], 200), []);
    assert.strictEqual((await lookup()).entries.length, 1);
  });

  await t.test('entries handed over at sign-in are kept and given out in welcome', async () => {
    const other = await P.makeSpoken(owner.keys.sigPriv, owner.key, 'MSW1.second', 24);
    const rae = await H.makeMember(owner, 'rae');
    const sr = await H.signIn(relay.url, rae, { spoken: [other.entry] });
    t.after(() => sr.close());
    assert.strictEqual(sr.answer.spoken.length, 2);
    assert.deepStrictEqual((await sp.next('spoken')).entry, other.entry);
  });
});

test('the owner sign-in', async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());

  await t.test('proves the owner key, lists members with their online state, and never appears as a member', async () => {
    const sam = await H.makeMember(owner, 'sam');
    const tia = await H.makeMember(owner, 'tia');
    const ss = await H.signIn(relay.url, sam);
    const st = await H.signIn(relay.url, tia);
    st.close();
    for (;;) {
      const p = await ss.next('presence');
      if (p.id === tia.id && !p.on) break;
    }
    ss.drain(['presence', 'member']);
    const a = await admin(relay.url, owner);
    t.after(() => [a, ss].forEach((s) => s.close()));
    assert.strictEqual(a.answer.t, 'admin_ok');
    a.send({ t: 'members' });
    const list = (await a.next('members')).members.map((m) => [m.name, m.online]).sort();
    assert.deepStrictEqual(list, [['sam', true], ['tia', false]]);
    assert.deepStrictEqual(await H.quiet(ss, ['presence', 'member'], 200), []);
  });

  await t.test('another key, or a member sign-in signature replayed, is denied', async () => {
    const other = await H.makeOwner();
    const a = await admin(relay.url, other);
    t.after(() => a.close());
    assert.deepStrictEqual([a.answer.t, a.answer.why], ['denied', 'admin']);
    const s = await H.FrameSocket.open(relay.url);
    t.after(() => s.close());
    const hello = await s.next('hello');
    s.send({ t: 'admin', sig: await P.sign(owner.keys.sigPriv, ['msw-auth', hello.nonce]) });
    assert.strictEqual((await s.next('denied')).why, 'admin');
  });

  await t.test('members cannot use the owner-only frames', async () => {
    const uma = await H.makeMember(owner, 'uma');
    const s = await H.signIn(relay.url, uma);
    t.after(() => s.close());
    s.send({ t: 'members' });
    assert.match((await s.next('error')).msg, /owner's tools/);
  });
});
