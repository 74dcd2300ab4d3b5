'use strict';
// One client connection and the states it walks through:
//
//   new ──auth/admin──> busy (its sign-in is being checked) ──> member | admin
//    │                   └──refused──> closed
//    └── spoken_get (answered, stays new), deadline, too many frames ──> closed
//
// While new the connection is one of the relay's unsigned connections (gate.js): it may
// send only the frames whose table row admits strangers (auth, admin, spoken_get), only
// a few of them, and must sign in before its deadline. Once signed in, its rate limits
// belong to its member id, so signing in again refills nothing.
//
// Frames are handled one at a time, in arrival order, on a promise chain, so a sign-in
// finishes before the sends that follow it; different connections interleave freely.
// A frame is size-checked, parsed and shape-checked (by its row of the frame table)
// before it touches anything, and a handler that throws is logged and never takes the
// process or another client down.
const crypto = require('crypto');
const { WebSocket } = require('ws');
const L = require('./limits.js');
const C = require('./check.js');
const { FRAMES, DENIED, allowed } = require('./frames.js');
const { bucket, take } = require('./bucket.js');

const ROLE_MSG = {
  new: 'Already signed in.',
  member: 'Sign in first.',
  signed: 'Sign in first.',
  admin: "Only the owner's tools can ask that.",
};

class Connection {
  constructor(relay, ws, addr) {
    this.relay = relay;
    this.ws = ws;
    this.addr = addr;
    this.nonce = crypto.randomBytes(16).toString('hex');
    this.state = 'new';
    this.id = null;
    this.chain = Promise.resolve();
    this.frames = bucket(L.MAX_PENDING_FRAMES, 1);
    this.rates = null; // the member's (or the owner's tools') buckets once signed in
    this.seen = 0; // frames received while new
    this.warned = 0;
    this.alive = true;
    this.timer = setTimeout(() => {
      if (this.state === 'new' || this.state === 'busy') this.finish(1008, 'sign in took too long');
    }, L.SIGNIN_TIMEOUT);
    ws.on('pong', () => {
      this.alive = true;
    });
    ws.on('message', (data) => this.onMessage(data));
  }

  busy() {
    return this.state === 'busy';
  }

  // ---- sending

  sendText(text) {
    const ws = this.ws;
    if (ws.readyState !== WebSocket.OPEN) return false;
    ws.send(text);
    if (ws.bufferedAmount > L.MAX_BUFFERED) ws.close(1013, 'too slow');
    return true;
  }

  send(frame) {
    return this.sendText(JSON.stringify(frame));
  }

  finish(code, reason) {
    this.state = 'closed';
    clearTimeout(this.timer);
    // After the frame already queued, so the client reads why before the close.
    if (this.ws.readyState === WebSocket.OPEN || this.ws.readyState === WebSocket.CONNECTING) this.ws.close(code, reason);
  }

  deny(why, msg) {
    this.send({ t: 'denied', why, msg: msg || DENIED[why] || 'Sign-in refused.' });
    this.finish(1000, 'denied');
  }

  answer(f, msg) {
    const frame = { t: 'error', msg };
    if (f && f.ref !== undefined && C.checkRef(f.ref) === null) frame.ref = f.ref;
    this.send(frame);
  }

  // Called by the sign-in handlers once the connection is admitted.
  signedIn(state, id, rates) {
    this.state = state;
    this.id = id;
    this.rates = rates;
    this.frames = rates.frames;
    clearTimeout(this.timer);
    this.relay.gate.leave(this);
  }

  // ---- receiving

  onMessage(data) {
    if (this.state === 'closed') return;
    const unsigned = this.state === 'new' || this.state === 'busy';
    if (unsigned && ++this.seen > L.MAX_PENDING_FRAMES) return this.finish(1008, 'sign in first');
    if (!take(this.frames)) {
      const now = Date.now();
      if (now - this.warned > 1000) {
        this.warned = now;
        this.answer(null, 'Too many frames. Slow down.');
      }
      return;
    }
    const { frame, bad, heavy } = C.parseFrame(data, unsigned);
    if (bad && heavy && unsigned) {
      // Dropped at once, without the closing handshake, so that the rest of what it
      // sent is not even read.
      this.state = 'closed';
      clearTimeout(this.timer);
      this.ws.terminate();
      return;
    }
    if (bad) {
      this.answer(null, bad);
      if (unsigned) this.finish(1008, 'bad frame');
      return;
    }
    this.chain = this.chain
      .then(() => this.handle(frame))
      .catch((e) => {
        this.relay.log('relay: frame ' + JSON.stringify(frame.t).slice(0, 40) + ' failed:', e && e.stack ? e.stack : e);
        // A sign-in cut short must not leave the connection half-admitted.
        if (this.state === 'busy') this.deny('bad', 'The server could not check that sign-in. Try again.');
        else this.answer(frame, 'The server could not handle that frame.');
      });
  }

  async handle(f) {
    if (this.state === 'closed') return;
    const row = Object.prototype.hasOwnProperty.call(FRAMES, f.t) ? FRAMES[f.t] : null;
    const unsigned = this.state === 'new';
    if (!row) {
      this.answer(f, 'Unknown frame type.');
      if (unsigned) this.finish(1008, 'sign in first');
      return;
    }
    if (!allowed(row.who, this.state)) {
      this.answer(f, ROLE_MSG[row.who] || ROLE_MSG.member);
      if (unsigned) this.finish(1008, 'sign in first');
      return;
    }
    const bad = row.check ? row.check(f) : null;
    if (bad) return row.refuse === 'deny' ? this.deny('bad', bad) : this.answer(f, bad);
    return row.run(this.relay, this, f);
  }

  onClose() {
    const was = this.state;
    this.state = 'closed';
    clearTimeout(this.timer);
    this.relay.gate.leave(this);
    return was;
  }
}

module.exports = { Connection };
