'use strict';
// The self-update carried by the real program under Xvfb: the installed copy finds a newer
// version on a stand-in release host, shows its notes, downloads and checks it, replaces its
// own file and starts the new one with "--after-update", which shows "What's new" once.
// Both programs are test builds (tests/linux/CMakeLists.txt) that ask the loopback port
// MOSSWIRE_TEST_RELEASE_PORT instead of the real release host and trust the tests' owner
// key (tests/keys), with which the release's lists are signed here.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('crypto');
const { execFileSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { unavailable, startHost, realWindow, needs } = require('./realhost.js');
const { makeOwner, longInvite } = require('./harness.js');
const O = require('../../tools/owner-lib.js');

const BUILD = path.join(__dirname, '..', '..', 'build');
const FROM = path.join(BUILD, 'update-test', 'mosswire_update_from');
const TO = path.join(BUILD, 'update-test', 'mosswire_update_to');
const ASSET = 'mosswire-linux-x86_64';
const NOTES = '## Faster rooms\r\n- Rooms open at once\r\n- **Bold** fixes\r\n';

function releasePort() {
  const cache = fs.readFileSync(path.join(BUILD, 'CMakeCache.txt'), 'utf8');
  return Number(/^MOSSWIRE_TEST_RELEASE_PORT:STRING=(\d+)$/m.exec(cache)[1]);
}

function why() {
  return unavailable(FROM) || unavailable(TO);
}

const sha = (file) => crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');

// The release's checksum list and the owner's signature of it, as the release command
// leaves them.
async function writeSignedList(folder, text) {
  const owner = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'keys', 'release-owner.json'), 'utf8'));
  fs.writeFileSync(path.join(folder, 'SHA256SUMS.txt'), text);
  fs.writeFileSync(path.join(folder, 'SHA256SUMS.txt.sig'), await O.signBytes(owner, Buffer.from(text)));
}

// A release host: `state.latest` is the version the list calls newest, the folder holds the
// files of release v9.9.9.
function releaseHost(port, folder, state) {
  const info = (v) => JSON.stringify({ tag_name: 'v' + v, body: v === '9.9.9' ? NOTES : 'Earlier notes.', published_at: '2026-12-01T10:00:00Z' });
  const server = http.createServer((req, res) => {
    // The page asks from its own origin, as it asks the real release host.
    res.setHeader('Access-Control-Allow-Origin', '*');
    let m;
    if (req.url === '/releases/latest') return res.end(info(state.latest));
    if ((m = /^\/releases\/tags\/v(\d+\.\d+\.\d+)$/.exec(req.url))) return res.end(info(m[1]));
    if ((m = /^\/releases\/download\/v9\.9\.9\/([\w.-]+)$/.exec(req.url)) && fs.existsSync(path.join(folder, m[1]))) {
      state.fetched.push(m[1]);
      return res.end(fs.readFileSync(path.join(folder, m[1])));
    }
    res.statusCode = 404;
    res.end();
  });
  // The port is fixed in the test programs, so another checkout's run of this test may
  // hold it for a while: wait for it rather than fail.
  const end = Date.now() + 300000;
  return new Promise((resolve, reject) => {
    server.on('error', (e) => {
      if (e.code !== 'EADDRINUSE' || Date.now() > end) return reject(e);
      setTimeout(() => server.listen(port, '127.0.0.1'), 500);
    });
    server.on('listening', () => resolve(server));
    server.listen(port, '127.0.0.1');
  });
}

// Processes started as `exe --after-update` (the copy the old one relaunched).
function relaunched(exe) {
  const out = [];
  for (const pid of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(pid)) continue;
    try {
      const args = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0');
      if (args[0] === exe && args[1] === '--after-update') out.push(Number(pid));
    } catch (e) { /* ended meanwhile */ }
  }
  return out;
}

// A process that ended but was not yet reaped (its parent quit) counts as ended.
function running(pid) {
  try { return !/^\d+ \(.*\) Z/.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8')); } catch (e) { return false; }
}

// Waits until none of pids runs any more (the single-instance lock goes with them).
function allGone(pids) {
  const end = Date.now() + 20000;
  return new Promise((resolve, reject) => {
    const look = () => {
      if (!pids.some(running)) return resolve();
      if (Date.now() > end) return reject(new Error('the relaunched copy did not end'));
      setTimeout(look, 150);
    };
    look();
  });
}

async function unlock(host, pin) {
  await host.waitScreen('sUnlock', 60000);
  await host.type('#unlockPin', pin);
  await host.click('#unlockGo');
  await host.waitScreen('sMain', 60000);
}

const modalTitle = (host) => host.run('const m = document.getElementById("modal"); return m.classList.contains("hidden") ? null : (m.querySelector("h2") || {}).textContent || null;');

const opts = realWindow(why(), { timeout: 600000 });

test('the real program updates itself from a release host and shows what is new once', opts, async () => {
  needs(opts);
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-upd-'));
  const install = path.join(work, 'installed');
  const rel = path.join(work, 'release');
  fs.mkdirSync(install);
  fs.mkdirSync(rel);
  const exe = path.join(install, 'mosswire');
  fs.copyFileSync(FROM, exe);
  fs.chmodSync(exe, 0o755);
  fs.copyFileSync(TO, path.join(rel, ASSET));
  const state = { latest: '1.1.8', fetched: [] };
  const server = await releaseHost(releasePort(), rel, state);
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-host-'));
  fs.chmodSync(home, 0o700);
  for (const d of ['config', 'data', 'run']) fs.mkdirSync(path.join(home, d), { mode: 0o700 });
  const strays = [];
  let host = null;
  try {
    // The installed copy, set up while nothing newer is out.
    const owner = await makeOwner();
    host = await startHost({ binary: exe, home });
    await host.waitScreen('sWelcome', 60000);
    await host.join(await longInvite(owner), 'river', '7391');
    await host.stop();
    host = null;

    // v9.9.9 is out, but its checksum list names another file: shown, fetched, refused.
    state.latest = '9.9.9';
    const before = sha(exe);
    await writeSignedList(rel, '0'.repeat(64) + '  ' + ASSET + '\n');
    host = await startHost({ binary: exe, home });
    await host.waitScreen('sUpdate', 60000);
    assert.equal(await host.run('return document.getElementById("updTitle").textContent'), 'Updating to mosswire 9.9.9');
    assert.match(await host.run('return document.getElementById("updNotes").textContent'), /Faster rooms.*Rooms open at once.*Bold fixes/);
    await host.waitFor(() => host.run('return !document.getElementById("updRow").classList.contains("hidden")'), 120000, 'the refused update');
    assert.equal(await host.run('return document.getElementById("updStatus").textContent'),
      "The download didn't match its checksum, so it wasn't installed. mosswire will try again next time it opens.");
    assert.ok(state.fetched.includes(ASSET), 'the asset was downloaded before it was refused');
    assert.equal(sha(exe), before, 'the installed file is untouched');
    assert.equal(fs.existsSync(exe + '.old'), false);
    await host.click('#updSkip');
    await unlock(host, '7391');
    await host.stop();
    host = null;

    // The right checksum list, made as the release command makes it.
    await writeSignedList(rel, execFileSync('sha256sum', [ASSET], { cwd: rel, encoding: 'utf8' }));
    state.fetched = [];
    host = await startHost({ binary: exe, home });
    // The old copy installs, starts the new file with "--after-update" and quits.
    const pids = await host.waitFor(() => { const p = relaunched(exe); return p.length ? p : null; }, 180000, 'the relaunched copy');
    strays.push(...pids);
    assert.equal(sha(exe), sha(TO), 'the new version is in place');
    assert.deepEqual(state.fetched, ['SHA256SUMS.txt', 'SHA256SUMS.txt.sig', ASSET]);
    // WebDriver can't take over a program it did not start: end the relaunched copy and start
    // the same file the same way under a new session.
    await host.stop();
    host = null;
    for (const pid of pids) try { process.kill(pid, 'SIGTERM'); } catch (e) { /* ended */ }
    await allGone(pids);

    host = await startHost({ binary: exe, args: ['--after-update'], home });
    await unlock(host, '7391');
    await host.waitFor(async () => (await modalTitle(host)) === "What's new in mosswire 9.9.9", 60000, "What's new");
    assert.match(await host.run('return document.getElementById("modalCard").textContent'), /Faster rooms.*Rooms open at once.*Bold fixes/);
    await host.waitFor(() => !fs.existsSync(exe + '.old'), 30000, 'the old copy removed');
    await host.stop();
    host = null;

    // Once: the next start opens straight to the chat, the notes kept in Announcements.
    host = await startHost({ binary: exe, home });
    await unlock(host, '7391');
    // The notes would come up within a moment of the unlock; give them time to.
    await new Promise((r) => setTimeout(r, 3000));
    assert.equal(await modalTitle(host), null);
  } finally {
    if (host) await host.stop();
    for (const pid of strays) try { process.kill(pid, 'SIGKILL'); } catch (e) { /* ended */ }
    server.close();
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(work, { recursive: true, force: true });
  }
});
