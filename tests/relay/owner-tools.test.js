'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFile } = require('node:child_process');
const H = require('./helpers.js');
const { P } = H;

const OWNER_JS = path.join(H.REPO, 'tools', 'owner.js');
const LIVETEST_JS = path.join(H.REPO, 'tools', 'livetest.js');

function fromB64url(s) {
  return Buffer.from(s.replace(/-/g, '+').replace(/_/g, '/'), 'base64');
}

test('the owner tools against a running relay', async (t) => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-owner-'));
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const certFile = path.join(home, 'config', 'owner-cert.json');
  let server = 'ws://127.0.0.1:1';
  const run = (script, args) =>
    new Promise((resolve) => {
      const env = Object.assign({}, process.env, { HOME: home, MOSSWIRE_OWNER_CERT_FILE: certFile, MOSSWIRE_SERVER: server });
      execFile(process.execPath, [script, ...args], { env, timeout: 60000 }, (err, stdout, stderr) => {
        resolve({ code: err ? (typeof err.code === 'number' ? err.code : -1) : 0, out: stdout, err: stderr });
      });
    });
  const owner = (...args) => run(OWNER_JS, args);
  const keyFile = path.join(home, '.mosswire', 'owner.json');

  await t.test('without a key file the commands say how to make one', async () => {
    const r = await owner('key');
    assert.strictEqual(r.code, 1);
    assert.match(r.err, /node tools\/owner.js init/);
    assert.strictEqual((await owner('frobnicate')).code, 2);
  });

  await t.test('init makes a private key file and the certificate for the build, and refuses to run twice', async () => {
    const r = await owner('init', 'boss');
    assert.strictEqual(r.code, 0, r.err);
    // A program built before this certificate is of no use to this network: said plainly.
    assert.match(r.out, /mosswire has to be built again with this certificate/);
    const st = fs.statSync(keyFile);
    assert.strictEqual(st.mode & 0o777, 0o600);
    assert.strictEqual(fs.statSync(path.dirname(keyFile)).mode & 0o077, 0);
    const k = JSON.parse(fs.readFileSync(keyFile, 'utf8'));
    assert.ok(P.isB64(k.sigPub, 88, 88) && typeof k.sigPriv === 'string');
    const cert = JSON.parse(fs.readFileSync(certFile, 'utf8'));
    assert.strictEqual(cert.m.name, 'boss');
    assert.ok(await P.verifyCert(cert, k.sigPub));
    const before = fs.readFileSync(keyFile, 'utf8');
    const again = await owner('init');
    assert.strictEqual(again.code, 1);
    assert.match(again.err, /already exists/);
    assert.strictEqual(fs.readFileSync(keyFile, 'utf8'), before);
  });

  const keys = JSON.parse(fs.readFileSync(keyFile, 'utf8'));
  const ownerCert = JSON.parse(fs.readFileSync(certFile, 'utf8'));

  await t.test('key prints OWNER_KEY', async () => {
    assert.strictEqual((await owner('key')).out.trim(), keys.sigPub);
  });

  await t.test('invite makes short codes while the build carries this owner certificate', async () => {
    const r = await owner('invite', '3', '30');
    assert.strictEqual(r.code, 0, r.err);
    const codes = r.out.trim().split('\n');
    assert.strictEqual(codes.length, 3);
    assert.strictEqual(new Set(codes).size, 3);
    for (const code of codes) {
      assert.strictEqual(code.length, 117);
      const inv = await P.readShortInvite(code, ownerCert);
      const days = (inv.g.exp - Date.now()) / 86400000;
      assert.ok(days > 29.9 && days <= 30, 'expires in ' + days + ' days');
      assert.ok(await P.verify(keys.sigPub, ['msw-invite', inv.g.ik, inv.g.exp], inv.g.s));
    }
    const one = (await owner('invite')).out.trim().split('\n');
    assert.strictEqual(one.length, 1);
    const inv = await P.readShortInvite(one[0], ownerCert);
    assert.ok(Math.abs((inv.g.exp - Date.now()) / 86400000 - 90) < 0.01);
  });

  await t.test('invite makes long codes when no certificate, or another network\'s, is configured', async () => {
    const saved = fs.readFileSync(certFile);
    const other = await H.makeOwner();
    for (const setup of [() => fs.rmSync(certFile), () => fs.writeFileSync(certFile, JSON.stringify(other.cert))]) {
      setup();
      const r = await owner('invite', '1', '2');
      assert.strictEqual(r.code, 0, r.err);
      const code = r.out.trim();
      assert.ok(code.startsWith('MSW1.'));
      const inv = JSON.parse(fromB64url(code.slice(5)).toString('utf8'));
      assert.deepStrictEqual(Object.keys(inv), ['g', 'k']);
      assert.ok(await P.verifyCert(inv.g.from, keys.sigPub));
      const member = await P.acceptInvite(inv, await P.generateKeys(), 'longjoiner');
      assert.ok(await P.verifyCert(member, keys.sigPub));
      assert.ok(Math.abs((inv.g.exp - Date.now()) / 86400000 - 2) < 0.01);
    }
    fs.writeFileSync(certFile, saved);
  });

  await t.test('cert writes the owner certificate for the build again from the key file', async () => {
    const saved = fs.readFileSync(certFile, 'utf8');
    fs.rmSync(certFile);
    const r = await owner('cert');
    assert.strictEqual(r.code, 0, r.err);
    assert.strictEqual(fs.readFileSync(certFile, 'utf8'), saved);
    assert.match(r.out, /built again/);
    const same = await owner('cert');
    assert.doesNotMatch(same.out, /built again/);
  });

  await t.test('sign writes FILE.sig: one line anyone can check with the key that key prints', async () => {
    const list = path.join(home, 'SHA256SUMS.txt');
    const bytes = Buffer.from('0'.repeat(64) + '  mosswire.exe\r\n\u00e9\n');
    fs.writeFileSync(list, bytes);
    const r = await owner('sign', list);
    assert.strictEqual(r.code, 0, r.err);
    const text = fs.readFileSync(list + '.sig', 'utf8');
    assert.match(text, /^[A-Za-z0-9+/]{86}==\n$/);
    const pub = (await owner('key')).out.trim();
    const subtle = globalThis.crypto.subtle;
    const key = await subtle.importKey('raw', Buffer.from(pub, 'base64'), { name: 'ECDSA', namedCurve: 'P-256' }, false, ['verify']);
    const ecdsa = { name: 'ECDSA', hash: 'SHA-256' };
    const sig = Buffer.from(text.trim(), 'base64');
    assert.strictEqual(await subtle.verify(ecdsa, key, sig, bytes), true);
    assert.strictEqual(await subtle.verify(ecdsa, key, sig, Buffer.concat([bytes, Buffer.from('\n')])), false);
    assert.strictEqual((await owner('sign', path.join(home, 'missing.txt'))).code, 1);
    assert.strictEqual((await owner('sign')).code, 1);
  });

  await t.test('invite refuses counts and days that are not sensible', async () => {
    for (const args of [['0'], ['x'], ['1', '-5'], ['1', '2.5'], ['101']]) {
      const r = await owner('invite', ...args);
      assert.strictEqual(r.code, 1, args.join(' '));
      assert.match(r.err, /must be a whole number/);
      assert.strictEqual(r.out, '');
    }
  });

  await t.test('commands that need the relay say so when it is unreachable', async () => {
    const r = await owner('members');
    assert.strictEqual(r.code, 1);
    assert.match(r.err, /Couldn't reach the relay/);
  });

  const relay = await H.startRelay({ ownerKey: keys.sigPub });
  t.after(() => relay.stop());
  server = relay.url;
  const ownerRec = { keys, cert: ownerCert, key: keys.sigPub };
  const [ida, jo] = await Promise.all([H.makeMember(ownerRec, 'ida'), H.makeMember(ownerRec, 'jo')]);
  const si = await H.signIn(relay.url, ida);
  const sj = await H.signIn(relay.url, jo);
  t.after(() => [si, sj].forEach((s) => s.close()));
  sj.close();

  await t.test('members lists everyone with ● online and ○ offline', async () => {
    for (;;) {
      const p = await si.next('presence');
      if (p.id === jo.id && !p.on) break;
    }
    const r = await owner('members');
    assert.strictEqual(r.code, 0, r.err);
    assert.deepStrictEqual(r.out.trim().split('\n'), ['● ida', '○ jo', '2 members, 1 online']);
  });

  await t.test('spoken puts an entry on the relay whose 12 digits open a 7-day invite', async () => {
    const r = await owner('spoken');
    assert.strictEqual(r.code, 0, r.err);
    const shown = r.out.split('\n')[0];
    assert.match(shown, /^\d{4} \d{4} \d{4}$/);
    const entry = (await si.next('spoken')).entry;
    const look = await H.FrameSocket.open(relay.url);
    t.after(() => look.close());
    await look.next('hello');
    look.send({ t: 'spoken_get' });
    const list = await look.next('spoken_list');
    assert.deepStrictEqual(list.entries, [entry]);
    assert.ok(Math.abs((entry.exp - Date.now()) / 86400000 - 7) < 0.01);
    const code = await P.openSpoken(shown, keys.sigPub, list.entries);
    const inv = await P.readShortInvite(code, ownerCert);
    assert.ok(inv && Math.abs((inv.g.exp - Date.now()) / 86400000 - 7) < 0.01);
  });

  await t.test('announce posts a file to everyone online; bad files are refused', async () => {
    const file = path.join(home, 'news.md');
    fs.writeFileSync(file, '## Hello\n\nNews for **everyone**.\n\n');
    const r = await owner('announce', file);
    assert.strictEqual(r.code, 0, r.err);
    const a = (await si.next('ann')).ann;
    assert.strictEqual(a.text, '## Hello\n\nNews for **everyone**.');
    assert.ok(await P.checkAnn(a, keys.sigPub));
    fs.writeFileSync(file, 'x'.repeat(6001));
    const long = await owner('announce', file);
    assert.strictEqual(long.code, 1);
    assert.match(long.err, /at most 6000/);
    assert.strictEqual((await owner('announce', path.join(home, 'missing.md'))).code, 1);
    // With the id of a post and an empty file: deletes it.
    fs.writeFileSync(file, '');
    assert.strictEqual((await owner('announce', file, a.id)).code, 0);
    const gone = (await si.next('ann')).ann;
    assert.deepStrictEqual([gone.id, gone.text], [a.id, '']);
  });

  await t.test('remove disconnects the member; the next list beats the last one even after a relay restart', async () => {
    const r = await owner('remove', 'IDA');
    assert.strictEqual(r.code, 0, r.err);
    assert.match(r.out, /Removed ida \(removal list version 1\)/);
    await si.next('removed');
    const unknown = await owner('remove', 'nobody');
    assert.strictEqual(unknown.code, 1);
    assert.match(unknown.err, /No member called nobody/);

    await relay.stop();
    const fresh = await H.startRelay({ ownerKey: keys.sigPub });
    t.after(() => fresh.stop());
    server = fresh.url;
    const back = await H.signIn(fresh.url, jo);
    t.after(() => back.close());
    const r2 = await owner('remove', 'jo');
    assert.strictEqual(r2.code, 0, r2.err);
    assert.match(r2.out, /version 2/);
    const list = (await back.next('removals').catch(() => null)) || null;
    await back.next('removed');
    const kept = JSON.parse(fs.readFileSync(path.join(home, '.mosswire', 'removals.json'), 'utf8'));
    assert.deepStrictEqual([kept.v, kept.ids.sort()], [2, [ida.id, jo.id].sort()]);
    assert.strictEqual(list, null, 'the removed member gets removed, not the list');
  });

  await t.test('the live test passes against a working relay and fails against none', async () => {
    const ok = await run(LIVETEST_JS, []);
    assert.strictEqual(ok.code, 0, ok.out + ok.err);
    assert.match(ok.out, /Live test passed/);
    assert.strictEqual((ok.out.match(/✓/g) || []).length, 7);
    server = 'ws://127.0.0.1:1';
    const bad = await run(LIVETEST_JS, []);
    assert.strictEqual(bad.code, 1);
    assert.match(bad.out, /✗/);
  });

  await t.test('a relay of another network is recognised as such', async () => {
    const other = await H.makeOwner();
    const foreign = await H.startRelay({ ownerKey: other.key });
    t.after(() => foreign.stop());
    server = foreign.url;
    const r = await owner('members');
    assert.strictEqual(r.code, 1);
    assert.match(r.err, /another network/);
  });
});
