'use strict';
// The relay: one HTTP server that answers /health and carries the WebSocket service
// every client connects to. It passes sealed envelopes between members and keeps the
// network's signed records while it runs; it cannot read a message.
//
// Each connection walks through: new (hello sent, waiting for auth or admin) -> member
// or admin. Its frames are handled one at a time, in arrival order, on a per-connection
// promise chain, so a sign-in finishes before the sends that follow it; different
// connections interleave freely. A frame is shape-checked before it touches anything,
// and a handler that throws is logged and never takes the process or another client down.
const http = require('http');
const crypto = require('crypto');
const { WebSocketServer, WebSocket } = require('ws');
const P = require('../web/protocol.js');
const L = require('./limits.js');
const C = require('./check.js');
const { Network } = require('./network.js');
const { Mailbox } = require('./mailbox.js');

const DENIED = {
  setup: "This server isn't set up yet: it has no owner key (OWNER_KEY).",
  bad: 'That sign-in was malformed.',
  cert: "That membership certificate doesn't belong to this server's network.",
  auth: "The sign-in signature didn't check out.",
  owner: "The owner key doesn't sign in as a member. Make an invite with node tools/owner.js invite and join with that.",
  member: 'This invite was already used by another member. Ask the owner for a new invite.',
  name: 'That username is already taken.',
  full: 'This network has reached the number of members this server holds.',
  admin: "That isn't the owner key of this network.",
};

const ROLE_MSG = {
  member: 'Sign in first.',
  admin: "Only the owner's tools can ask that.",
};

function hex(n) {
  return crypto.randomBytes(n).toString('hex');
}

// A token bucket: `burst` at once, then `rate` per second.
function bucket(burst, rate) {
  return { tokens: burst, burst, rate, last: Date.now() };
}
function take(b) {
  const now = Date.now();
  b.tokens = Math.min(b.burst, b.tokens + ((now - b.last) / 1000) * b.rate);
  b.last = now;
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

function createRelay(opts = {}) {
  const owner = opts.ownerKey || null;
  const log = opts.log || ((...a) => console.error(...a));
  const boot = hex(8);
  const net = owner ? new Network(owner) : null;
  const mail = new Mailbox();
  const online = new Map(); // member id -> connection
  const conns = new Set();
  let pendingCount = 0;

  const server = http.createServer(onHttp);
  const wss = new WebSocketServer({ server, maxPayload: L.MAX_FRAME });
  wss.on('connection', onConnection);
  wss.on('error', (e) => log('relay: websocket server error:', e.message));
  server.on('clientError', (e, socket) => socket.destroy());
  const sweeper = setInterval(() => {
    mail.sweep();
    if (net) net.sweepSpoken();
  }, L.SWEEP_EVERY);
  sweeper.unref();
  const heartbeat = setInterval(() => {
    for (const c of conns) {
      if (!c.alive) {
        c.ws.terminate();
        continue;
      }
      c.alive = false;
      try {
        c.ws.ping();
      } catch (e) {
        c.ws.terminate();
      }
    }
  }, L.HEARTBEAT);
  heartbeat.unref();

  function onHttp(req, res) {
    const path = (req.url || '/').split('?')[0];
    if (path !== '/health') {
      res.writeHead(404, { 'content-type': 'text/plain' });
      res.end('not found\n');
      return;
    }
    if (req.method !== 'GET' && req.method !== 'HEAD') {
      res.writeHead(405, { allow: 'GET, HEAD', 'content-type': 'text/plain' });
      res.end('method not allowed\n');
      return;
    }
    // Readable from any page (the network test page is opened from disk); it tells
    // nothing that the WebSocket's hello does not.
    res.writeHead(200, {
      'content-type': 'application/json',
      'cache-control': 'no-store',
      'access-control-allow-origin': '*',
    });
    res.end(req.method === 'HEAD' ? undefined : JSON.stringify({ ok: true, boot, net: !!owner }) + '\n');
  }

  // ---- sending

  function sendText(c, text) {
    const ws = c.ws;
    if (ws.readyState !== WebSocket.OPEN) return false;
    ws.send(text);
    if (ws.bufferedAmount > L.MAX_BUFFERED) ws.close(1013, 'too slow');
    return true;
  }
  function send(c, frame) {
    return sendText(c, JSON.stringify(frame));
  }
  function toMembers(frame, except) {
    const text = JSON.stringify(frame);
    for (const c of online.values()) if (c !== except) sendText(c, text);
  }
  function finish(c, code, reason) {
    c.state = 'closed';
    // After the frame already queued, so the client reads why before the close.
    if (c.ws.readyState === WebSocket.OPEN) c.ws.close(code, reason);
  }
  function deny(c, why, msg) {
    send(c, { t: 'denied', why, msg: msg || DENIED[why] || 'Sign-in refused.' });
    finish(c, 1000, 'denied');
  }
  function answer(c, f, msg) {
    const frame = { t: 'error', msg };
    if (f && C.checkRef(f.ref) === null && f.ref !== undefined) frame.ref = f.ref;
    send(c, frame);
  }

  // ---- connections

  function onConnection(ws) {
    ws.on('error', () => {}); // a broken socket only ends its own connection
    if (pendingCount >= L.MAX_PENDING) {
      ws.close(1013, 'busy, try again');
      return;
    }
    const c = {
      ws,
      nonce: hex(16),
      state: 'new',
      id: null,
      chain: Promise.resolve(),
      sends: bucket(L.SEND_BURST, L.SEND_RATE),
      frames: bucket(L.FRAME_BURST, L.FRAME_RATE),
      warned: 0,
      pending: true,
      alive: true,
    };
    pendingCount++;
    conns.add(c);
    c.timer = setTimeout(() => {
      if (c.pending) finish(c, 1008, 'sign in took too long');
    }, L.SIGNIN_TIMEOUT);
    ws.on('pong', () => {
      c.alive = true;
    });
    ws.on('message', (data) => onMessage(c, data));
    ws.on('close', () => onClose(c));
    send(c, { t: 'hello', net: owner || undefined, nonce: c.nonce, boot });
  }

  function leavePending(c) {
    if (!c.pending) return;
    c.pending = false;
    pendingCount--;
    clearTimeout(c.timer);
  }

  function onClose(c) {
    leavePending(c);
    conns.delete(c);
    const was = c.state;
    c.state = 'closed';
    if (was === 'member' && online.get(c.id) === c) {
      online.delete(c.id);
      toMembers({ t: 'presence', id: c.id, on: false });
    }
  }

  function onMessage(c, data) {
    if (c.state === 'closed') return;
    if (!take(c.frames)) {
      const now = Date.now();
      if (now - c.warned > 1000) {
        c.warned = now;
        answer(c, null, 'Too many frames. Slow down.');
      }
      return;
    }
    const { frame, bad } = C.parseFrame(data);
    if (bad) {
      answer(c, null, bad);
      return;
    }
    c.chain = c.chain
      .then(() => handle(c, frame))
      .catch((e) => {
        log('relay: frame ' + JSON.stringify(frame.t).slice(0, 40) + ' failed:', e && e.stack ? e.stack : e);
        // A sign-in cut short must not leave the connection half-admitted.
        if (c.state === 'busy') deny(c, 'bad', 'The server could not check that sign-in. Try again.');
        else answer(c, frame, 'The server could not handle that frame.');
      });
  }

  // Frame type -> handler and who may send it.
  const HANDLERS = {
    auth: { who: 'new', run: onAuth },
    admin: { who: 'new', run: onAdmin },
    send: { who: 'member', run: onSend },
    ack: { who: 'member', run: onAck },
    announce: { who: 'signed', run: onAnnounce },
    spoken_put: { who: 'signed', run: onSpokenPut },
    removals: { who: 'signed', run: onRemovals },
    spoken_get: { who: 'any', run: onSpokenGet },
    members: { who: 'admin', run: onMembers },
    stats: { who: 'admin', run: onStats },
  };

  function allowed(who, state) {
    if (who === 'any') return true;
    if (who === 'new') return state === 'new';
    if (who === 'signed') return state === 'member' || state === 'admin';
    return state === who;
  }

  async function handle(c, f) {
    if (c.state === 'closed') return;
    const h = Object.prototype.hasOwnProperty.call(HANDLERS, f.t) ? HANDLERS[f.t] : null;
    if (!h) return answer(c, f, 'Unknown frame type.');
    if (!allowed(h.who, c.state)) {
      if (h.who === 'new') return answer(c, f, 'Already signed in.');
      return answer(c, f, ROLE_MSG[h.who] || ROLE_MSG.member);
    }
    return h.run(c, f);
  }

  // ---- sign-in

  async function onAuth(c, f) {
    if (!net) return deny(c, 'setup');
    const bad = C.checkAuth(f);
    if (bad) return deny(c, 'bad', bad);
    c.state = 'busy';
    const info = await net.check(f.cert);
    if (!info) return deny(c, 'cert');
    if (!(await P.verify(info.sig, ['msw-auth', c.nonce], f.sig))) return deny(c, 'auth');
    if (c.state === 'closed') return;
    // What the member knows goes in before the admission decision: its removal list
    // may be newer than ours (after a restart we know none at all).
    await merge(f, info.id);
    if (c.state === 'closed') return;

    // From here to the end nothing awaits: the admission decision is atomic.
    const why = net.conflict(info);
    if (why === 'removed') {
      send(c, { t: 'removed' });
      return finish(c, 1000, 'removed');
    }
    if (why) return deny(c, why);
    const changed = net.admit(f.cert, info, true);
    leavePending(c);
    const old = online.get(info.id);
    if (old) {
      send(old, { t: 'replaced' });
      finish(old, 1000, 'replaced');
    }
    c.state = 'member';
    c.id = info.id;
    online.set(info.id, c);
    send(c, {
      t: 'welcome',
      dir: net.certs(),
      removals: net.removals,
      ann: net.annList(),
      spoken: net.spokenList(),
      online: [...online.keys()],
    });
    if (changed) toMembers({ t: 'member', cert: f.cert }, c);
    if (!old) toMembers({ t: 'presence', id: info.id, on: true }, c);
    for (const env of mail.pending(info.id)) send(c, env);
  }

  // Takes the records a signed-in client hands over and tells everybody online what
  // was new to the relay.
  async function merge(f, selfId) {
    await takeRemovals(f.removals);
    const fresh = await net.learnAll(C.listOf(f.dir, L.MAX_MEMBERS), selfId);
    for (const cert of fresh) toMembers({ t: 'member', cert });
    for (const a of C.listOf(f.ann, L.MAX_AUTH_ANN)) {
      const taken = await net.takeAnn(a);
      if (taken) toMembers({ t: 'ann', ann: taken });
    }
    for (const e of C.listOf(f.spoken, L.MAX_AUTH_SPOKEN)) {
      const taken = await net.takeSpoken(e);
      if (taken) toMembers({ t: 'spoken', entry: taken });
    }
  }

  async function takeRemovals(list) {
    if (list === undefined || list === null) return false;
    const gone = await net.takeRemovals(list);
    if (!gone) return false;
    for (const id of gone) {
      mail.forget(id);
      const c = online.get(id);
      if (c) {
        online.delete(id);
        send(c, { t: 'removed' });
        finish(c, 1000, 'removed');
      }
    }
    toMembers({ t: 'removals', removals: net.removals });
    for (const id of gone) toMembers({ t: 'presence', id, on: false });
    return true;
  }

  async function onAdmin(c, f) {
    if (!net) return deny(c, 'setup');
    if (!P.isB64(f.sig, P.SIG, P.SIG)) return deny(c, 'bad', 'sig must be ' + P.SIG + ' Base64 characters.');
    c.state = 'busy';
    if (!(await P.verify(owner, ['msw-admin', c.nonce], f.sig))) return deny(c, 'admin');
    if (c.state === 'closed') return;
    leavePending(c);
    c.state = 'admin';
    send(c, { t: 'admin_ok', boot, removals: net.removals });
  }

  // ---- members' frames

  async function onSend(c, f) {
    const bad = C.checkSend(f);
    if (bad) return answer(c, f, bad);
    if (!take(c.sends)) return answer(c, f, "You're sending too fast. Wait a moment and try again.");
    const ttl = typeof f.ttl === 'number' ? f.ttl : 0;
    let queued = 0;
    let refused = 0;
    for (const id of Object.keys(f.keys)) {
      if (!net.members.has(id)) continue;
      const env = mail.put(id, c.id, f.iv, f.ct, f.keys[id], ttl);
      if (!env) {
        refused++;
        continue;
      }
      queued++;
      const to = online.get(id);
      if (to) send(to, env);
    }
    if (queued === 0) {
      return answer(c, f, refused
        ? "The server can't take more messages for that member right now. Try again later."
        : 'None of the recipients is a member of this network.');
    }
    const ok = { t: 'sent' };
    if (f.ref !== undefined) ok.ref = f.ref;
    send(c, ok);
  }

  async function onAck(c, f) {
    const bad = C.checkAck(f);
    if (bad) return answer(c, f, bad);
    mail.ack(c.id, f.eids);
  }

  async function onAnnounce(c, f) {
    const taken = await net.takeAnn(f.ann);
    if (taken) {
      toMembers({ t: 'ann', ann: taken }, c);
      if (c.state === 'admin') send(c, { t: 'ok', of: 'announce', id: taken.id });
      return;
    }
    // Members hand over copies the relay may already hold; only the owner's tools are
    // told, since they report success or failure to a person.
    if (c.state === 'admin') answer(c, f, "That announcement wasn't taken: it isn't signed by this network's owner, or a newer version of it is already here.");
  }

  async function onSpokenPut(c, f) {
    if (!Array.isArray(f.entries) || f.entries.length > L.MAX_SPOKEN_PUT) {
      return answer(c, f, 'entries must be a list of at most ' + L.MAX_SPOKEN_PUT + ' spoken entries.');
    }
    let n = 0;
    for (const e of f.entries) {
      const taken = await net.takeSpoken(e);
      if (!taken) continue;
      n++;
      toMembers({ t: 'spoken', entry: taken }, c);
    }
    if (c.state === 'admin') {
      if (n === 0 && f.entries.length) return answer(c, f, "No spoken entry was taken: each must be signed by this network's owner, unexpired and new.");
      send(c, { t: 'ok', of: 'spoken_put', taken: n });
    }
  }

  async function onRemovals(c, f) {
    const taken = await takeRemovals(f.removals);
    if (c.state !== 'admin') return;
    if (!taken) return answer(c, f, "That removal list wasn't taken: it isn't signed by this network's owner, or its version isn't above " + (net.removals ? net.removals.v : 0) + '.');
    send(c, { t: 'ok', of: 'removals', v: net.removals.v });
  }

  async function onSpokenGet(c) {
    send(c, { t: 'spoken_list', entries: net ? net.spokenList() : [], online: online.size });
  }

  // ---- the owner's tools

  async function onMembers(c) {
    const members = [...net.members.values()].map((r) => ({
      id: r.info.id,
      name: r.info.name,
      at: r.info.at,
      online: online.has(r.info.id),
    }));
    send(c, { t: 'members', members, removals: net.removals });
  }

  async function onStats(c) {
    if (typeof global.gc === 'function') global.gc();
    const mem = process.memoryUsage();
    send(c, {
      t: 'stats',
      members: net.members.size,
      online: online.size,
      queued: mail.count,
      queuedBytes: mail.bytes,
      heapUsed: mem.heapUsed,
      rss: mem.rss,
    });
  }

  function listen(port, host) {
    return new Promise((resolve, reject) => {
      server.once('error', reject);
      server.listen(port, host, () => {
        server.off('error', reject);
        resolve(server.address());
      });
    });
  }

  function close() {
    clearInterval(sweeper);
    clearInterval(heartbeat);
    for (const c of conns) c.ws.terminate();
    return new Promise((resolve) => wss.close(() => server.close(() => resolve())));
  }

  return { boot, listen, close, server, net, mail, online };
}

module.exports = { createRelay, DENIED };
