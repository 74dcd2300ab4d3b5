'use strict';
// What the network remembers across a restart: names and who holds them, spent invites,
// the removal list and every member seen. Envelopes are not among them.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const Database = require('better-sqlite3');
const H = require('./helpers.js');
const { P } = H;

async function admin(url, owner) {
  const s = await H.FrameSocket.open(url);
  const hello = await s.next('hello');
  s.send({ t: 'admin', sig: await P.sign(owner.keys.sigPriv, ['msw-admin', hello.nonce]) });
  await s.next('admin_ok');
  return s;
}

async function memberNames(url, owner) {
  const s = await admin(url, owner);
  s.send({ t: 'members' });
  const list = await s.next('members');
  s.close();
  return { names: list.members.map((m) => m.name).sort(), removals: list.removals };
}

test('a restart keeps names, spent invites, removals and the member list, even from a damaged file', { timeout: 60000 }, async (t) => {
  const owner = await H.makeOwner();
  const first = await H.startRelay({ ownerKey: owner.key });
  const dir = first.stateDir;
  const running = [first];
  t.after(() => Promise.all(running.map((r) => r.stop())));
  const restart = async () => {
    await running[running.length - 1].stop();
    const next = await H.startRelay({ ownerKey: owner.key, stateDir: dir });
    running.push(next);
    return next;
  };
  const [alice, bob, carol] = await Promise.all(['alice', 'bob', 'carol'].map((n) => H.makeMember(owner, n)));
  const signIn = async (relay, m, extra) => {
    const s = await H.signIn(relay.url, m, extra);
    t.after(() => s.close());
    return s.answer;
  };

  await t.test('the state folder is made private', async () => {
    for (const m of [alice, bob, carol]) assert.strictEqual((await signIn(first, m)).t, 'welcome');
    const a = await admin(first.url, owner);
    a.send({ t: 'removals', removals: await P.signRemovals(owner.keys, 1, [bob.id]) });
    assert.strictEqual((await a.next(['ok', 'error'])).t, 'ok');
    a.close();
    assert.strictEqual(fs.statSync(dir).mode & 0o777, 0o700);
  });

  await t.test('after a restart nobody can take a name or a spent invite before its holder is back', async () => {
    const bootOf = async (relay) => {
      const s = await H.FrameSocket.open(relay.url);
      const hello = await s.next('hello');
      s.close();
      return hello.boot;
    };
    const before = await bootOf(first);
    const relay = await restart();
    assert.notStrictEqual(await bootOf(relay), before, 'a new boot: every envelope is gone');
    const thief = await signIn(relay, await H.makeMember(owner, 'Carol'));
    assert.deepStrictEqual([thief.t, thief.why], ['denied', 'name']);
    const back = await signIn(relay, await H.makeMember(owner, 'bobby', bob.inv));
    assert.deepStrictEqual([back.t, back.why], ['denied', 'member']);
    assert.strictEqual((await signIn(relay, bob)).t, 'removed');
    const seen = await memberNames(relay.url, owner);
    assert.deepStrictEqual(seen.names, ['alice', 'carol']);
    assert.strictEqual(seen.removals.v, 1);
  });

  await t.test('a damaged row is left out and reported; the rest is kept', async () => {
    await running[running.length - 1].stop();
    const db = new Database(path.join(dir, 'relay-state.sqlite'));
    db.prepare('UPDATE members SET info = ? WHERE id = ?').run('{not json', carol.id);
    db.close();
    const relay = await restart();
    assert.match(relay.stderr(), /left out 1 unreadable members rows/);
    assert.deepStrictEqual((await memberNames(relay.url, owner)).names, ['alice']);
    // Carol's name is still hers: the name claim survived on its own.
    const thief = await signIn(relay, await H.makeMember(owner, 'CAROL'));
    assert.deepStrictEqual([thief.t, thief.why], ['denied', 'name']);
    assert.strictEqual((await signIn(relay, carol)).t, 'welcome');
    assert.deepStrictEqual((await memberNames(relay.url, owner)).names, ['alice', 'carol']);
  });

  await t.test('a file of garbage is moved aside, reported, and the relay starts afresh', async () => {
    await running[running.length - 1].stop();
    const file = path.join(dir, 'relay-state.sqlite');
    fs.writeFileSync(file, Buffer.alloc(8192, 0x5a));
    for (const ext of ['-wal', '-shm']) fs.rmSync(file + ext, { force: true });
    const relay = await restart();
    assert.match(relay.stderr(), /is damaged/);
    assert.ok(fs.readdirSync(dir).some((f) => f.startsWith('relay-state.sqlite.damaged-')));
    assert.deepStrictEqual((await memberNames(relay.url, owner)).names, []);
    assert.strictEqual((await signIn(relay, alice)).t, 'welcome');
    // From here on it keeps state again.
    const again = await restart();
    assert.deepStrictEqual((await memberNames(again.url, owner)).names, ['alice']);
  });

  await t.test('a missing state folder is made anew', async () => {
    await running[running.length - 1].stop();
    fs.rmSync(dir, { recursive: true, force: true });
    const relay = await restart();
    assert.match(relay.stderr(), /no state file yet/);
    assert.strictEqual((await signIn(relay, carol)).t, 'welcome');
    assert.strictEqual(fs.statSync(dir).mode & 0o777, 0o700);
  });

  await t.test('a SQLite module that will not load leaves the file alone and says how to mend it', async () => {
    const hook = path.join(dir, '..', path.basename(dir) + '-hook.js');
    t.after(() => fs.rmSync(hook, { force: true }));
    const kept = () => fs.readdirSync(dir).sort().map((f) => [f, fs.readFileSync(path.join(dir, f)).toString('base64')]);
    // The module missing, and one built for another Node.js, which fails only when used.
    const faults = {
      missing: "if (request === 'better-sqlite3') { const e = new Error(\"Cannot find module 'better-sqlite3'\"); e.code = 'MODULE_NOT_FOUND'; throw e; }",
      'built for another Node.js': "if (request === 'bindings') throw new Error('was compiled against a different Node.js version using NODE_MODULE_VERSION 1');",
    };
    for (const [what, fault] of Object.entries(faults)) {
      await running[running.length - 1].stop();
      const before = kept();
      fs.writeFileSync(hook, "const M = require('module'); const load = M._load; M._load = function (request) { " + fault + ' return load.apply(this, arguments); };');
      const relay = await H.startRelay({ ownerKey: owner.key, stateDir: dir, env: { NODE_OPTIONS: '--require ' + hook } });
      running.push(relay);
      assert.match(relay.stderr(), /could not be loaded[\s\S]*npm rebuild better-sqlite3/, what);
      assert.doesNotMatch(relay.stderr(), /damaged|moved/, what);
      const health = await (await fetch(relay.http + '/health')).json();
      assert.deepStrictEqual([health.ok, health.state], [true, false], what);
      assert.strictEqual((await signIn(relay, alice)).t, 'welcome', what + ': it still runs, from memory');
      await relay.stop();
      assert.deepStrictEqual(kept(), before, what + ': the state file is as it was');
    }
    const relay = await restart();
    assert.deepStrictEqual((await memberNames(relay.url, owner)).names, ['carol']);
    assert.strictEqual((await (await fetch(relay.http + '/health')).json()).state, true);
  });
});
