'use strict';
// Shared by the relay's tests: real relay processes on loopback (any free port), real
// WebSocket clients, and real keys, certificates and invites from the protocol module.
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const P = require('../../web/protocol.js');
const { FrameSocket } = require('../../tools/frames.js');

const REPO = path.join(__dirname, '..', '..');
const live = new Set();
process.on('exit', () => {
  for (const child of live) child.kill('SIGKILL');
});

// A state folder of its own for each relay a test starts, removed when the tests end.
function stateDir() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-relay-state-'));
  process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// Starts `node relay/server.js` and resolves once it prints its address. `opts.stateDir`
// reuses a state folder (a restart); `opts.prefix` runs it through another command
// (prlimit with a lower descriptor limit).
function startRelay(opts = {}) {
  const dir = opts.stateDir || stateDir();
  const env = Object.assign({}, process.env, { PORT: String(opts.port || 0), HOST: '127.0.0.1', STATE_DIR: dir }, opts.env || {});
  if (opts.ownerKey) env.OWNER_KEY = opts.ownerKey;
  else delete env.OWNER_KEY;
  const argv = [process.execPath, path.join(REPO, 'relay', 'server.js')];
  const cmd = (opts.prefix || []).concat(argv);
  const child = spawn(cmd[0], cmd.slice(1), { env, stdio: ['ignore', 'pipe', 'pipe'] });
  live.add(child);
  let out = '';
  let err = '';
  child.stderr.on('data', (d) => {
    err += d;
  });
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('relay did not start: ' + err)), 10000);
    child.on('exit', (code) => {
      live.delete(child);
      clearTimeout(timer);
      reject(new Error('relay exited with ' + code + ': ' + err));
    });
    child.stdout.on('data', (d) => {
      out += d;
      const m = /listening on ([\d.]+):(\d+)/.exec(out);
      if (!m) return;
      clearTimeout(timer);
      const port = Number(m[2]);
      resolve({
        port,
        url: 'ws://127.0.0.1:' + port,
        http: 'http://127.0.0.1:' + port,
        child,
        stateDir: dir,
        stdout: () => out,
        stderr: () => err,
        alive: () => child.exitCode === null && child.signalCode === null,
        stop: () => stopChild(child),
      });
    });
  });
}

function stopChild(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) return resolve();
    child.once('exit', () => resolve());
    child.kill('SIGTERM');
    setTimeout(() => child.kill('SIGKILL'), 3000).unref();
  });
}

async function makeOwner(name = 'owner') {
  const keys = await P.generateKeys();
  const cert = await P.ownerCert(keys, name);
  return { keys, cert, key: keys.sigPub, id: await P.idOf(keys.sigPub) };
}

// A member joined with its own invite, or with `invite` when given (to reuse one).
async function makeMember(owner, name, invite) {
  const inv = invite || (await P.makeInvite(owner.cert, owner.keys, 24));
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(inv, keys, name);
  return { name, keys, cert, inv, id: await P.idOf(keys.sigPub) };
}

async function authFrame(member, hello, extra = {}) {
  return Object.assign(
    { t: 'auth', v: '1.1.8', cert: member.cert, sig: await P.sign(member.keys.sigPriv, ['msw-auth', hello.nonce]), dir: [member.cert] },
    extra,
  );
}

// Connects and signs in; resolves to the socket with `welcome` (or `denied`, `removed`)
// as its `answer`.
async function signIn(url, member, extra, opts) {
  const s = await FrameSocket.open(url, opts);
  s.hello = await s.next('hello');
  s.send(await authFrame(member, s.hello, extra));
  s.answer = await s.next(['welcome', 'denied', 'removed']);
  return s;
}

// Seals a payload from `from` to members and builds the send frame.
async function sealFor(from, payload, to, extra = {}) {
  const box = P.createBox(from.id, from.keys.ecdhPriv);
  const sealed = await box.seal(payload, to.map((m) => ({ id: m.id, ecdh: m.keys.ecdhPub })));
  return Object.assign({ t: 'send', iv: sealed.iv, ct: sealed.ct, keys: sealed.keys }, extra);
}

async function openEnv(me, env, from) {
  return P.createBox(me.id, me.keys.ecdhPriv).open(env, from.keys.ecdhPub);
}

// Resolves once the relay has handled every frame sent so far on this connection: it
// handles a connection's frames in order, so the answer to a lookup sent last is the mark.
async function barrier(s) {
  s.send({ t: 'spoken_get' });
  await s.next('spoken_list');
}

// Waits until nothing of the given types arrives for `ms`; gives what did arrive.
async function quiet(s, types, ms = 300) {
  await new Promise((r) => setTimeout(r, ms));
  return s.drain(types);
}

module.exports = { P, REPO, FrameSocket, startRelay, makeOwner, makeMember, authFrame, signIn, sealFor, openEnv, quiet, barrier };
