'use strict';
// The relay: one HTTP server that answers /health and carries the WebSocket service
// every client connects to. It passes sealed envelopes between members and keeps the
// network's signed records; it cannot read a message.
//
// This file wires the parts together: the HTTP server and its time-outs, the gate that
// bounds unsigned connections (gate.js), each connection's state machine
// (connection.js), the frame table with its handlers (frames.js, handlers/), the
// network's records (network.js, kept on disk by state.js), the mailbox (mailbox.js),
// the per-member rate limits, the heartbeat and the sweeps.
const http = require('http');
const crypto = require('crypto');
const { WebSocketServer } = require('ws');
const L = require('./limits.js');
const { Network } = require('./network.js');
const { Mailbox } = require('./mailbox.js');
const { Gate, requestAddress } = require('./gate.js');
const { Connection } = require('./connection.js');
const { DENIED } = require('./frames.js');
const { bucket, full } = require('./bucket.js');

// opts: ownerKey, log, state (an opened State, or null to keep nothing on disk),
// saved (what the state held), maxConnections.
function createRelay(opts = {}) {
  const owner = opts.ownerKey || null;
  const log = opts.log || ((...a) => console.error(...a));
  const boot = crypto.randomBytes(8).toString('hex');
  const net = owner ? new Network(owner, { store: opts.state || null, saved: opts.saved || null }) : null;
  const mail = new Mailbox();
  const online = new Map(); // member id -> connection
  const conns = new Set();
  const gate = new Gate();
  const rates = new Map(); // member id (or 'owner') -> its buckets, across its connections

  const relay = {
    owner, log, boot, net, mail, online, gate,
    toMembers(frame, except) {
      const text = JSON.stringify(frame);
      for (const c of online.values()) if (c !== except) c.sendText(text);
    },
    ratesFor(id) {
      let r = rates.get(id);
      if (!r) {
        r = {
          sends: bucket(L.SEND_BURST, L.SEND_RATE),
          frames: bucket(L.FRAME_BURST, L.FRAME_RATE),
          signins: bucket(L.SIGNIN_BURST, L.SIGNIN_RATE),
        };
        rates.set(id, r);
      }
      return r;
    },
  };

  // Slow senders of HTTP headers (a WebSocket upgrade is an HTTP request) are cut off
  // after a few seconds instead of Node's default minute or more, and the check runs
  // every second, so such sockets cannot pile up and use every descriptor.
  const server = http.createServer({
    headersTimeout: L.HEADERS_TIMEOUT,
    requestTimeout: 2 * L.HEADERS_TIMEOUT,
    keepAliveTimeout: L.HEADERS_TIMEOUT,
    connectionsCheckingInterval: 1000,
  }, onHttp);
  if (opts.maxConnections) server.maxConnections = opts.maxConnections;
  const wss = new WebSocketServer({ server, maxPayload: L.MAX_FRAME });
  wss.on('connection', onConnection);
  wss.on('error', (e) => log('relay: websocket server error:', e.message));
  server.on('clientError', (e, socket) => socket.destroy());

  const sweeper = setInterval(() => {
    mail.sweep();
    if (net) net.sweepSpoken();
    // Buckets that have refilled completely are the same as new ones.
    const now = Date.now();
    for (const [id, r] of rates) {
      if (!online.has(id) && full(r.sends, now) && full(r.frames, now) && full(r.signins, now)) rates.delete(id);
    }
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
    // `state` says whether names, spent invites and removals outlive a restart.
    res.end(req.method === 'HEAD' ? undefined : JSON.stringify({ ok: true, boot, net: !!owner, state: !!opts.state }) + '\n');
  }

  function onConnection(ws, req) {
    ws.on('error', () => {}); // a broken socket only ends its own connection
    const c = new Connection(relay, ws, requestAddress(req));
    for (const old of gate.enter(c)) old.finish(1013, 'busy, try again');
    conns.add(c);
    ws.on('close', () => onClose(c));
    c.send({ t: 'hello', net: owner || undefined, nonce: c.nonce, boot });
  }

  function onClose(c) {
    const was = c.onClose();
    conns.delete(c);
    if (was === 'member' && online.get(c.id) === c) {
      online.delete(c.id);
      relay.toMembers({ t: 'presence', id: c.id, on: false });
    }
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
