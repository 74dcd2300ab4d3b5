'use strict';
// Owner-signed announcements and removal lists.
const test = require('node:test');
const assert = require('node:assert/strict');
const { P, makeOwner } = require('./interop/net.js');

let owner, stranger;
test.before(async () => {
  [owner, stranger] = await Promise.all([makeOwner('Owner'), makeOwner('Mallory')]);
});

// Signs with the owner key whatever shape it is given, as a careless or hostile signer could.
const rawAnn = async (a) => ({ ...a, s: await P.sign(owner.keys.sigPriv, ['msw-ann', a.id, a.at, a.text]) });
const rawRemovals = async (r) => ({ ...r, s: await P.sign(owner.keys.sigPriv, ['msw-removed', r.v, r.ids]) });
const ids = (n) => Array.from({ length: n }, (_, i) => i.toString(16).padStart(32, '0'));

test('an announcement is signed over its context, id, time and text and checks only under the owner', async () => {
  const at = Date.now();
  const a = await P.signAnn(owner.keys.sigPriv, 'a1b2c3d4e5f60718', at, '## News\n**bold** text');
  assert.deepEqual(Object.keys(a), ['id', 'at', 'text', 's']);
  assert.equal(await P.verify(owner.pub, ['msw-ann', a.id, a.at, a.text], a.s), true);
  assert.deepEqual(await P.checkAnn(a, owner.pub), a);
  assert.equal(await P.checkAnn(a, stranger.pub), null);
  const forged = await P.signAnn(stranger.keys.sigPriv, a.id, at + 1, 'fake');
  assert.equal(await P.checkAnn(forged, owner.pub), null);
  for (const change of [{ text: a.text + '!' }, { at: at + 1 }, { id: 'a1b2c3d4e5f60719' }]) {
    assert.equal(await P.checkAnn({ ...a, ...change }, owner.pub), null, JSON.stringify(change));
  }
  // A release-notes entry kept beside the posts has no signature and never checks.
  assert.equal(await P.checkAnn({ id: 'rel-v1.1.8', at, text: 'notes', rel: '1.1.8' }, owner.pub), null);
});

test('checkAnn keeps exactly the four fields and returns a fresh object', async () => {
  const a = await P.signAnn(owner.keys.sigPriv, P.randomHex(8), 5, 'x');
  const withExtra = { ...a, rel: '9.9.9', html: '<script>' };
  const checked = await P.checkAnn(withExtra, owner.pub);
  assert.deepEqual(Object.keys(checked), ['id', 'at', 'text', 's']);
  assert.notEqual(checked, withExtra);
});

test('announcement bounds: time a non-negative safe integer, text up to 6000 code units, id lower-case hex', async () => {
  const base = { id: '0123456789abcdef', at: 1793233993890, text: 'hi' };
  assert.ok(await P.checkAnn(await rawAnn({ ...base, text: 'x'.repeat(6000) }), owner.pub));
  assert.ok(await P.checkAnn(await rawAnn({ ...base, text: '' }), owner.pub), 'an empty text is a deletion');
  assert.ok(await P.checkAnn(await rawAnn({ ...base, at: 0 }), owner.pub));
  assert.ok(await P.checkAnn(await rawAnn({ ...base, text: '😀'.repeat(3000) }), owner.pub), '6000 code units');
  const bad = [
    { at: 1.5 }, { at: -1 }, { at: 2 ** 53 }, { at: '5' }, { at: NaN }, { text: 'x'.repeat(6001) },
    { text: '😀'.repeat(3000) + 'x' }, { text: 5 }, { text: null }, { id: '0123456789ABCDEF' }, { id: '0123456789abcde' },
    { id: '0123456789abcdef0' }, { id: 7 },
  ];
  for (const change of bad) {
    assert.equal(await P.checkAnn(await rawAnn({ ...base, ...change }), owner.pub), null, JSON.stringify(change));
  }
  for (const v of [null, undefined, 'ann', [], { ...base }]) assert.equal(await P.checkAnn(v, owner.pub), null);
});

test('signAnn refuses a post that no member would accept', async () => {
  for (const [id, at, text] of [['0123456789abcdef', 1.5, 'x'], ['0123456789abcdef', 1, 'x'.repeat(6001)], ['nothex', 1, 'x'], ['0123456789abcdef', 1, null]]) {
    await assert.rejects(P.signAnn(owner.keys.sigPriv, id, at, text), RangeError);
  }
  await assert.rejects(P.signAnn('no key', '0123456789abcdef', 1, 'x'));
});

test('a removal list is signed over its version and ordered ids', async () => {
  const list = ids(3);
  const r = await P.signRemovals(owner.keys, 2, list);
  assert.deepEqual(Object.keys(r), ['v', 'ids', 's']);
  assert.deepEqual(await P.checkRemovals(r, owner.pub), r);
  assert.equal(await P.checkRemovals(r, stranger.pub), null);
  assert.equal(await P.checkRemovals({ ...r, ids: [list[1], list[0], list[2]] }, owner.pub), null, 'order is signed');
  assert.equal(await P.checkRemovals({ ...r, ids: list.slice(1) }, owner.pub), null);
  assert.equal(await P.checkRemovals({ ...r, v: 3 }, owner.pub), null);
  // The signed ids are a copy: changing the caller's array later changes nothing.
  list.push(ids(4)[3]);
  assert.equal(r.ids.length, 3);
  assert.ok(await P.checkRemovals(r, owner.pub));
});

test('removal-list bounds: version an integer of at least 1, at most 5000 well-formed ids', async () => {
  assert.ok(await P.checkRemovals(await rawRemovals({ v: 1, ids: [] }), owner.pub));
  assert.ok(await P.checkRemovals(await rawRemovals({ v: 7, ids: ids(5000) }), owner.pub));
  const bad = [
    { v: 0, ids: [] }, { v: -1, ids: [] }, { v: 1.5, ids: [] }, { v: '2', ids: [] }, { v: 1, ids: ids(5001) },
    { v: 1, ids: ['0'.repeat(31)] }, { v: 1, ids: ['0'.repeat(33)] }, { v: 1, ids: ['A'.repeat(32)] },
    { v: 1, ids: [5] }, { v: 1, ids: 'x' }, { v: 1, ids: { 0: ids(1)[0], length: 1 } },
  ];
  for (const r of bad) assert.equal(await P.checkRemovals(await rawRemovals(r), owner.pub), null, JSON.stringify(r).slice(0, 80));
  // A sparse array must not slip past the id check.
  const holey = [ids(1)[0]];
  holey[2] = ids(3)[2];
  assert.equal(await P.checkRemovals(await rawRemovals({ v: 1, ids: holey }), owner.pub), null);
  for (const v of [null, undefined, [], 'list']) assert.equal(await P.checkRemovals(v, owner.pub), null);
});

test('checkRemovals returns a fresh copy without extra fields', async () => {
  const r = await P.signRemovals(owner.keys, 1, ids(2));
  const checked = await P.checkRemovals({ ...r, note: 'x' }, owner.pub);
  assert.deepEqual(Object.keys(checked), ['v', 'ids', 's']);
  assert.notEqual(checked.ids, r.ids);
});

test('signRemovals refuses a list that no member would accept', async () => {
  for (const [v, list] of [[0, []], [1.5, []], [1, ids(5001)], [1, ['short']], [1, null]]) {
    await assert.rejects(P.signRemovals(owner.keys, v, list), RangeError);
  }
});
