#!/usr/bin/env node
'use strict';
// Load benchmark of the relay: 200 signed-in members on loopback.
//   node bench/relay-load.js [--members N] [--seconds S]
// Prints, for direct messages and for General (every message to every member):
//   the rate the relay sustains with every client keeping a few sends in flight,
//   delivery latency (send -> env at the recipient) p50/p99 at that load and at half of it,
// and the relay's heap per queued envelope (recipients offline, measured after a GC).
// The relay runs as its own process; this process plays all the clients, so on a small
// machine both share the cores and the figures are a lower bound for the relay.
// The send rate limit is lifted for the run (RELAY_SEND_RATE) so that it measures the
// relay rather than the limiter; everything else runs with its normal bounds.
const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');
const WebSocket = require('ws');
const P = require('../web/protocol.js');

const args = process.argv.slice(2);
function opt(name, fallback) {
  const i = args.indexOf(name);
  return i >= 0 ? Number(args[i + 1]) : fallback;
}
const MEMBERS = opt('--members', 200);
const SECONDS = opt('--seconds', 4);
const DM_WINDOW = 4; // sends in flight per member
const GENERAL_WINDOW = 1;
const QUEUED = 20000; // envelopes queued for the memory figure
const CT = crypto.randomBytes(300).toString('base64'); // a short chat message, sealed
const WRAPPED = crypto.randomBytes(40).toString('base64');

const hardStop = setTimeout(() => {
  console.error('relay-load: did not finish within 240 s');
  process.exit(1);
}, 240000);

function startRelay(ownerKey) {
  const stateDir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-bench-state-'));
  process.on('exit', () => fs.rmSync(stateDir, { recursive: true, force: true }));
  const env = Object.assign({}, process.env, {
    PORT: '0', HOST: '127.0.0.1', OWNER_KEY: ownerKey, STATE_DIR: stateDir,
    RELAY_SEND_RATE: '1000000', RELAY_SEND_BURST: '1000000', RELAY_FRAME_RATE: '1000000', RELAY_FRAME_BURST: '1000000',
  });
  const child = spawn(process.execPath, ['--expose-gc', path.join(__dirname, '..', 'relay', 'server.js')], { env, stdio: ['ignore', 'pipe', 'inherit'] });
  process.on('exit', () => child.kill('SIGKILL'));
  return new Promise((resolve, reject) => {
    let out = '';
    child.on('exit', (code) => reject(new Error('relay exited with ' + code)));
    child.stdout.on('data', (d) => {
      out += d;
      const m = /listening on [\d.]+:(\d+)/.exec(out);
      if (m) resolve({ child, url: 'ws://127.0.0.1:' + m[1] });
    });
  });
}

// CPU time the relay process has used so far, in ms (user + system; clock ticks of 10 ms).
// Per message it is the figure to compare between versions on a machine whose other load
// moves the rates.
function relayCpuMs(child) {
  try {
    const fields = fs.readFileSync('/proc/' + child.pid + '/stat', 'utf8').split(') ')[1].split(' ');
    return (Number(fields[11]) + Number(fields[12])) * 10;
  } catch (e) {
    return NaN;
  }
}

function percentile(sorted, p) {
  if (!sorted.length) return NaN;
  return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
}

function newIv() {
  return crypto.randomBytes(12).toString('base64');
}

// One simulated member: a WebSocket that acknowledges what it receives in batches, as
// the real client does.
class Member {
  constructor(rec, bench) {
    Object.assign(this, rec);
    this.bench = bench;
    this.acks = [];
    this.onSent = null;
  }

  connect(url) {
    return new Promise((resolve, reject) => {
      const ws = new WebSocket(url, { maxPayload: 64 * 1024 * 1024 });
      this.ws = ws;
      ws.on('error', reject);
      ws.on('message', async (data) => {
        const f = JSON.parse(data);
        if (f.t === 'hello') {
          ws.send(JSON.stringify({ t: 'auth', v: 'bench', cert: this.cert, sig: await P.sign(this.keys.sigPriv, ['msw-auth', f.nonce]), dir: [this.cert] }));
        } else if (f.t === 'welcome') resolve();
        else if (f.t === 'denied') reject(new Error('denied: ' + f.msg));
        else if (f.t === 'env') {
          this.acks.push(f.eid);
          this.bench.delivered(f);
        } else if (f.t === 'sent' && this.onSent) this.onSent();
        else if (f.t === 'error') this.bench.errors++;
      });
    });
  }

  flushAcks() {
    if (!this.acks.length || this.ws.readyState !== WebSocket.OPEN) return;
    this.ws.send(JSON.stringify({ t: 'ack', eids: this.acks }));
    this.acks = [];
  }

  send(to, iv) {
    const keys = {};
    for (const id of to) keys[id] = WRAPPED;
    this.ws.send(JSON.stringify({ t: 'send', ref: iv, iv, ct: CT, keys }));
  }
}

class Bench {
  constructor() {
    this.sentAt = new Map(); // iv -> time of send
    this.latencies = [];
    this.deliveries = 0;
    this.errors = 0;
  }

  delivered(env) {
    this.deliveries++;
    const t0 = this.sentAt.get(env.iv);
    if (t0 !== undefined) this.latencies.push(performance.now() - t0);
  }

  reset() {
    this.sentAt.clear();
    this.latencies = [];
    this.deliveries = 0;
  }
}

async function makeMembers(owner, n, bench) {
  const out = [];
  for (let i = 0; i < n; i++) {
    const inv = await P.makeInvite(owner.cert, owner.keys, 24);
    const keys = await P.generateKeys();
    const cert = await P.acceptInvite(inv, keys, 'load' + i);
    out.push(new Member({ keys, cert, id: await P.idOf(keys.sigPub) }, bench));
  }
  return out;
}

function sleep(ms) {
  return new Promise((r) => setTimeout(r, ms));
}

// Waits until deliveries stop arriving, so that one phase's backlog does not count in
// the next (at most 20 s).
async function settle(bench) {
  for (let i = 0; i < 100; i++) {
    const seen = bench.deliveries;
    await sleep(200);
    if (bench.deliveries === seen) return;
  }
}

// Every member keeps `window` sends in flight for `seconds`; gives sends and deliveries
// per second and the latency of the deliveries.
async function saturate(bench, members, window, recipientsOf, seconds) {
  bench.reset();
  let running = true;
  let sends = 0;
  const cpu0 = relayCpuMs(bench.relay.child);
  const t0 = performance.now();
  for (const m of members) {
    const fire = () => {
      if (!running) return;
      const iv = newIv();
      bench.sentAt.set(iv, performance.now());
      sends++;
      m.send(recipientsOf(m), iv);
    };
    m.onSent = fire;
    for (let i = 0; i < window; i++) fire();
  }
  await sleep(seconds * 1000);
  running = false;
  const elapsed = (performance.now() - t0) / 1000;
  const delivered = bench.deliveries;
  for (const m of members) m.onSent = null;
  const result = summary(bench, sends / elapsed, delivered / elapsed);
  await settle(bench);
  result.cpuPerMsg = (relayCpuMs(bench.relay.child) - cpu0) * 1000 / sends;
  return result;
}

// Sends at a fixed rate spread over the members; gives the latency at that load.
async function paced(bench, members, perSecond, recipientsOf, seconds) {
  bench.reset();
  const tick = 10;
  const perTick = perSecond / (1000 / tick);
  let owed = 0;
  let k = 0;
  let sends = 0;
  const t0 = performance.now();
  await new Promise((resolve) => {
    const timer = setInterval(() => {
      owed += perTick;
      for (; owed >= 1; owed--) {
        const m = members[k++ % members.length];
        const iv = newIv();
        bench.sentAt.set(iv, performance.now());
        sends++;
        m.send(recipientsOf(m), iv);
      }
      if (performance.now() - t0 >= seconds * 1000) {
        clearInterval(timer);
        resolve();
      }
    }, tick);
  });
  const elapsed = (performance.now() - t0) / 1000;
  await settle(bench);
  return summary(bench, sends / elapsed, bench.deliveries / elapsed);
}

function summary(bench, sendsPerSec, deliveriesPerSec) {
  const lat = bench.latencies.slice().sort((a, b) => a - b);
  return { sendsPerSec, deliveriesPerSec, p50: percentile(lat, 50), p99: percentile(lat, 99), samples: lat.length };
}

async function adminStats(url, owner) {
  const ws = new WebSocket(url);
  const frames = [];
  let wake = null;
  ws.on('message', (d) => {
    frames.push(JSON.parse(d));
    if (wake) wake();
  });
  const next = async (t) => {
    for (;;) {
      const i = frames.findIndex((f) => f.t === t);
      if (i >= 0) return frames.splice(i, 1)[0];
      await new Promise((r) => (wake = r));
    }
  };
  const hello = await next('hello');
  ws.send(JSON.stringify({ t: 'admin', sig: await P.sign(owner.keys.sigPriv, ['msw-admin', hello.nonce]) }));
  await next('admin_ok');
  return {
    stats: async () => {
      ws.send(JSON.stringify({ t: 'stats' }));
      return next('stats');
    },
    close: () => ws.close(),
  };
}

// Queues `count` envelopes for offline members from one sender and gives the relay's heap
// growth per envelope.
async function memoryPerEnvelope(admin, sender, offline, count, perSend) {
  const before = await admin.stats();
  let sent = 0;
  let confirmed = 0;
  await new Promise((resolve) => {
    const fire = () => {
      if (sent >= count / perSend) return;
      const to = [];
      for (let j = 0; j < perSend; j++) to.push(offline[(sent * perSend + j) % offline.length].id);
      sent++;
      sender.send(to, newIv());
    };
    sender.onSent = () => {
      confirmed++;
      if (confirmed >= count / perSend) resolve();
      else fire();
    };
    for (let i = 0; i < 32; i++) fire();
  });
  sender.onSent = null;
  await sleep(200);
  const after = await admin.stats();
  return { bytes: (after.heapUsed - before.heapUsed) / (after.queued - before.queued), queued: after.queued - before.queued };
}

function fmt(n, digits = 0) {
  return Number.isFinite(n) ? n.toFixed(digits) : '-';
}

async function main() {
  const ownerKeys = await P.generateKeys();
  const owner = { keys: ownerKeys, cert: await P.ownerCert(ownerKeys, 'owner') };
  const relay = await startRelay(ownerKeys.sigPub);
  const bench = new Bench();
  bench.relay = relay;
  process.stdout.write(`relay-load: ${MEMBERS} members on loopback, ${SECONDS} s per phase, node ${process.version}\n`);
  const members = await makeMembers(owner, MEMBERS, bench);
  const t0 = performance.now();
  for (let i = 0; i < members.length; i += 20) await Promise.all(members.slice(i, i + 20).map((m) => m.connect(relay.url)));
  process.stdout.write(`signed in ${MEMBERS} members in ${fmt(performance.now() - t0)} ms\n`);
  const acker = setInterval(() => members.forEach((m) => m.flushAcks()), 100);
  await sleep(500);

  const others = (m) => members.filter((x) => x !== m).map((x) => x.id);
  const everyone = new Map(members.map((m) => [m, others(m)]));
  const randomPeer = (m) => {
    let x;
    do x = members[Math.floor(Math.random() * members.length)];
    while (x === m);
    return [x.id];
  };

  const dm = await saturate(bench, members, DM_WINDOW, randomPeer, SECONDS);
  const dmHalf = await paced(bench, members, dm.sendsPerSec / 2, randomPeer, SECONDS);
  const gen = await saturate(bench, members, GENERAL_WINDOW, (m) => everyone.get(m), SECONDS);
  const genHalf = await paced(bench, members, gen.sendsPerSec / 2, (m) => everyone.get(m), SECONDS);

  const line = (name, r) =>
    `${name.padEnd(28)} ${fmt(r.sendsPerSec).padStart(8)} msgs/s ${fmt(r.deliveriesPerSec).padStart(9)} envs/s   p50 ${fmt(r.p50, 1).padStart(7)} ms   p99 ${fmt(r.p99, 1).padStart(7)} ms`;
  process.stdout.write('\n' + line('direct, saturated', dm) + `   relay CPU ${fmt(dm.cpuPerMsg)} us/msg\n`);
  process.stdout.write(line('direct, half load', dmHalf) + '\n');
  process.stdout.write(line('General, saturated', gen) + `   relay CPU ${fmt(gen.cpuPerMsg)} us/msg\n`);
  process.stdout.write(line('General, half load', genHalf) + '\n');

  clearInterval(acker);
  const half = members.slice(MEMBERS / 2);
  const sender = members[0];
  for (const m of half) m.ws.close();
  await sleep(500);
  const admin = await adminStats(relay.url, owner);
  const memDm = await memoryPerEnvelope(admin, sender, half, QUEUED, 1);
  const memGen = await memoryPerEnvelope(admin, sender, half, QUEUED, half.length);
  process.stdout.write(`\nrelay heap per queued envelope (${CT.length}-character ciphertext):\n`);
  process.stdout.write(`  direct messages: ${fmt(memDm.bytes)} bytes (${memDm.queued} envelopes)\n`);
  process.stdout.write(`  General fan-out: ${fmt(memGen.bytes)} bytes (${memGen.queued} envelopes, one ciphertext per ${half.length})\n`);
  process.stdout.write(`errors answered by the relay: ${bench.errors}\n`);
  admin.close();
  for (const m of members) m.ws.terminate();
  relay.child.kill('SIGTERM');
  clearTimeout(hardStop);
}

main().catch((e) => {
  console.error('relay-load:', e && e.stack ? e.stack : e);
  process.exit(1);
});
