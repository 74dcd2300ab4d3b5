'use strict';
// The relay's directory holds every member's whole certificate however often and in
// whatever order members sign in: a member who signs in again, one learned from another
// member's directory and one who re-chose a name are handed on complete in `member` frames
// and in every `welcome`, and are on disk for the next start.
const test = require('node:test');
const assert = require('node:assert');
const path = require('path');
const Database = require('better-sqlite3');
const H = require('./helpers.js');
const { P } = H;

const byId = async (certs) => {
  const out = {};
  for (const c of certs) out[await P.idOf(c.m.sig)] = c;
  return out;
};

test('members who sign in again, are learned second-hand or re-choose a name keep their whole certificate', { timeout: 60000 }, async (t) => {
  const owner = await H.makeOwner();
  let relay = await H.startRelay({ ownerKey: owner.key });
  const dir = relay.stateDir;
  t.after(() => relay.stop());
  const open = [];
  t.after(() => open.forEach((s) => s.close()));
  const signIn = async (m, extra) => {
    const s = await H.signIn(relay.url, m, extra);
    open.push(s);
    assert.strictEqual(s.answer.t, 'welcome', m.name + ' is let in');
    return s;
  };

  const watcher = await H.makeMember(owner, 'watcher');
  const watch = await signIn(watcher);
  // Member k signs in k times, each time on a new connection, as a restarted program does.
  const members = [];
  for (let k = 1; k <= 4; k++) {
    const m = await H.makeMember(owner, 'member' + k);
    members.push(m);
    for (let i = 0; i < k; i++) {
      const s = await signIn(m);
      await H.barrier(s);
      s.close();
    }
  }
  // Someone whose certificate the relay first hears of from another member's directory.
  const secondHand = await H.makeMember(owner, 'secondhand');
  await H.barrier(await signIn(members[0], { dir: [members[0].cert, secondHand.cert] }));
  // Someone who signs in, then again with a re-chosen name under the same identity.
  const renamer = await H.makeMember(owner, 'firstname');
  await H.barrier(await signIn(renamer));
  renamer.cert = await P.acceptInvite(renamer.inv, renamer.keys, 'secondname');
  await H.barrier(await signIn(renamer));
  await H.barrier(await signIn(secondHand));

  const everyone = [watcher, ...members, secondHand, renamer];
  const expected = await byId(everyone.map((m) => m.cert));

  const frames = await H.quiet(watch, ['member']);
  assert.ok(frames.length >= members.length + 1, 'the watcher heard of every newcomer');
  for (const f of frames) {
    assert.ok(f.cert && f.cert.m, 'a member frame carries a certificate');
    const id = await P.idOf(f.cert.m.sig);
    if (id !== renamer.id) assert.deepStrictEqual(f.cert, expected[id]);
  }

  const checkWelcome = async (welcome, who) => {
    assert.ok(welcome.dir.every((c) => c && c.m), who + ': no empty entries in welcome.dir');
    assert.deepStrictEqual(await byId(welcome.dir), expected, who + ': welcome.dir holds every whole certificate');
  };
  const newcomer = await H.makeMember(owner, 'newcomer');
  const late = await signIn(newcomer);
  expected[newcomer.id] = newcomer.cert;
  await checkWelcome(late.answer, 'a newcomer');
  assert.doesNotMatch(relay.stderr(), /could not write/);

  open.forEach((s) => s.close());
  await relay.stop();
  const db = new Database(path.join(dir, 'relay-state.sqlite'), { readonly: true });
  const rows = db.prepare('SELECT id, cert FROM members').all();
  db.close();
  assert.deepStrictEqual(Object.fromEntries(rows.map((r) => [r.id, JSON.parse(r.cert)])), expected, 'the state file holds every member');

  relay = await H.startRelay({ ownerKey: owner.key, stateDir: dir });
  const after = await H.makeMember(owner, 'after');
  const s = await signIn(after);
  expected[after.id] = after.cert;
  await checkWelcome(s.answer, 'after a restart');
});
