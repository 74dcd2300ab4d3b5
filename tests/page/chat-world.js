'use strict';
// A small network for the chat client's logic, run in Node: an owner, members with real
// keys and certificates, the app's sections loaded over the fake DOM with a fake clock, a
// fake relay socket that records every frame, and a vault double that counts writes.
const P = require('../../web/protocol.js');
const { loadApp } = require('./load-app.js');

const EXPORTS = ['S', 'net', 'FRAMES', 'receive', 'addMsg', 'applyRoom', 'makeGroup', 'changeGroup', 'resendOutbox', 'pruneDms',
  'connect', 'reconnectNow', 'onFrameText', 'learn', 'post', 'deliver', 'flushWaiting', 'sendPayload', 'heldCount',
  'awaitingCount', 'initialData', 'setStatus', 'openRoom', 'pingsMe', 'queuePending', 'sendAcks', '$', 'retry', 'sendMsg',
  'onFriend', 'friendAction', 'block', 'unblock', 'sendWanted', 'addByName', 'fpage',
  'hue', 'badge', 'fmtTime', 'promptPath', 'withPings', 'drawCounter', 'drawnName', 'drawSidebar', 'drawLog'];

// Timers and Date.now under the test's control. advance(ms) runs every timer due on the way,
// in time order, letting the page's promises (and the crypto they wait for) settle after each.
// The protocol module as the page sees it, counting the crypto work in flight, so a test can
// wait until the page's work has really ended instead of guessing how long it takes.
function trackedProto(track) {
  const wrap = (fn) => function (...args) {
    const out = fn.apply(this, args);
    if (out && typeof out.then === 'function') {
      track.busy++;
      out.then(() => track.busy--, () => track.busy--);
    }
    return out;
  };
  const T = {};
  for (const [k, v] of Object.entries(P)) {
    if (typeof v !== 'function') T[k] = v;
    else if (k === 'createBox') T[k] = (...a) => { const b = v(...a); return { seal: wrap(b.seal), open: wrap(b.open) }; };
    else T[k] = wrap(v);
  }
  return Object.freeze(T);
}

const SETTLE_HANG_MS = 180000;

function fakeClock(start, track = { busy: 0 }) {
  let now = start;
  let seq = 0;
  const timers = new Map();
  const turn = () => new Promise((r) => setImmediate(r));
  // Until no crypto is in flight and the page's promise chains have run out.
  // No deadline that lets a test go on while work is still running on a slow machine: only
  // a page that really hangs ends it, with an error saying so.
  const settle = async () => {
    const hung = Date.now() + SETTLE_HANG_MS;
    let quiet = 0;
    while (quiet < 3) {
      if (Date.now() > hung) throw new Error(`the page's work has not settled after ${SETTLE_HANG_MS / 1000} s (${track.busy} crypto calls running)`);
      await turn();
      if (track.busy) { quiet = 0; await new Promise((r) => setTimeout(r, 1)); } else quiet++;
    }
  };
  const clock = {
    now: () => now,
    settle,
    setTimeout: (fn, ms) => { timers.set(++seq, { fn, at: now + Math.max(0, ms || 0), every: 0 }); return seq; },
    setInterval: (fn, ms) => { timers.set(++seq, { fn, at: now + ms, every: ms }); return seq; },
    clearTimeout: (id) => { timers.delete(id); },
    async advance(ms) {
      const end = now + ms;
      for (;;) {
        let next = null;
        for (const [id, t] of timers) if (t.at <= end && (!next || t.at < next[1].at)) next = [id, t];
        if (!next) break;
        now = next[1].at;
        if (next[1].every) next[1].at += next[1].every; else timers.delete(next[0]);
        next[1].fn();
        await settle();
      }
      now = end;
      await settle();
    },
    // Jumps to the next timer and runs it.
    async runNext() {
      const next = Math.min(...[...timers.values()].map((t) => t.at));
      if (next !== Infinity) await clock.advance(next - now);
    },
    pending: () => [...timers.values()].map((t) => t.at - now).sort((a, b) => a - b),
  };
  const RealDate = Date;
  clock.Date = class extends RealDate {
    constructor(...a) { if (a.length) super(...a); else super(now); }
    static now() { return now; }
  };
  return clock;
}

// A socket double: open at once, keeps what the page sends; close() reports like a browser.
function socketClass(world) {
  return class FakeSocket {
    constructor(url) {
      this.url = url;
      this.readyState = 1;
      this.sent = [];
      this.at = world.clock.now();
      world.sockets.push(this);
      if (world.refuse) { this.readyState = 3; world.clock.setTimeout(() => this.onclose && this.onclose({ code: 1006, reason: '' }), 0); }
    }
    send(text) { this.sent.push(JSON.parse(text)); world.frames.push(JSON.parse(text)); }
    close() { this.readyState = 3; }
  };
}

async function person(owner, name) {
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(await P.makeInvite(owner.cert, owner.keys, 24), keys, name);
  const id = await P.idOf(keys.sigPub);
  return { name, keys, cert, id, box: P.createBox(id, keys.ecdhPriv) };
}

async function makeOwner() {
  const keys = await P.generateKeys();
  return { keys, cert: await P.ownerCert(keys, 'owner') };
}

// Loads the app for `me` (one of `people`), unlocked and signed in on a fake socket.
// `exports` and `natives` add to the defaults, for sections beyond the core.
async function world({ owner, people, me, start = Date.UTC(2026, 0, 10), exports = [], natives: more = {}, globals = {}, config }) {
  const w = { sockets: [], frames: [], writes: 0, failNow: false, notes: [], errors: [] };
  const track = { busy: 0 };
  const TP = trackedProto(track);
  w.clock = fakeClock(start, track);
  const vault = {
    save() {},
    async saveNow() {
      if (w.failNow) throw new Error('disk full');
      w.writes++;
    },
  };
  const natives = {
    msw_notify: async (title, body) => { w.notes.push([title, body]); return null; },
    msw_attention: async () => null,
    ...more,
  };
  const quiet = Object.assign(Object.create(console), { error: (...a) => w.errors.push(a.join(' ')), warn() {} });
  const app = loadApp({
    exports: EXPORTS.concat(exports),
    natives,
    config,
    globals: {
      setTimeout: w.clock.setTimeout, clearTimeout: w.clock.clearTimeout, setInterval: w.clock.setInterval,
      clearInterval: w.clock.clearTimeout, Date: w.clock.Date, MswProto: TP, Vault: vault, WebSocket: socketClass(w), console: quiet,
      // Frames come as soon as the page's work has settled, outside the fake clock.
      requestAnimationFrame: (fn) => setImmediate(() => fn(0)),
      ...globals,
    },
  });
  const D = app.initialData(owner.keys.sigPub, me.id, me.keys, me.cert, { g: {}, k: '' });
  delete D.pendingInvite;
  D.server = 'ws://relay.test';
  D.serverBoot = 'boot1';
  app.setD(D);
  app.S.unlocked = true;
  app.S.fg = false;
  app.S.box = TP.createBox(me.id, me.keys.ecdhPriv);
  for (const p of people) await app.learn(p.cert, true);
  w.app = app;
  w.D = D;
  w.S = app.S;
  w.me = me;
  // Brings the client online as a welcome would, on a fresh fake socket.
  w.signIn = async () => {
    app.connect();
    const ws = w.sockets[w.sockets.length - 1];
    ws.onmessage({ data: JSON.stringify({ t: 'hello', net: owner.keys.sigPub, nonce: 'n', boot: w.boot || 'boot1' }) });
    await w.clock.settle();
    ws.onmessage({ data: JSON.stringify({ t: 'welcome', dir: [], online: people.map((p) => p.id) }) });
    await w.clock.settle();
    return ws;
  };
  w.socket = () => w.sockets[w.sockets.length - 1];
  // An envelope from `from` carrying `payload`, as the relay hands it over.
  let eid = 0;
  w.env = async (from, payload, at = w.clock.now()) => {
    const sealed = await from.box.seal(payload, [{ id: me.id, ecdh: me.keys.ecdhPub }]);
    return { t: 'env', eid: 'e' + (++eid), from: from.id, at, iv: sealed.iv, ct: sealed.ct, key: sealed.keys[me.id] };
  };
  // Hands frames to the page through its socket, as text, and lets the queue run.
  w.feed = async (...frames) => {
    for (const f of frames) w.socket().onmessage({ data: typeof f === 'string' ? f : JSON.stringify(f) });
    await w.clock.settle();
    await w.clock.settle();
  };
  w.sends = () => w.frames.filter((f) => f.t === 'send');
  // Opens a send frame addressed to `p` with p's own box.
  w.open = (p, f) => p.box.open({ from: me.id, iv: f.iv, ct: f.ct, key: f.keys[p.id] }, me.keys.ecdhPub);
  return w;
}

// An owner and members with these names, made once for a test file.
async function cast(...names) {
  const owner = await makeOwner();
  return { owner, people: await Promise.all(names.map((n) => person(owner, n))) };
}

module.exports = { P, world, person, makeOwner, fakeClock, cast };
