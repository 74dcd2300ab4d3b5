'use strict';
// A small client for the relay's frames: opens a WebSocket, keeps every frame that
// arrives in order, and lets a caller wait for the next frame of given types. Used by
// the owner's tools, the live test, the load benchmark and the relay's tests.
const WebSocket = require('ws');

class FrameSocket {
  static open(url, opts = {}) {
    return new Promise((resolve, reject) => {
      const ws = new WebSocket(url, { maxPayload: 64 * 1024 * 1024, handshakeTimeout: opts.timeout || 10000, autoPong: opts.autoPong !== false, localAddress: opts.localAddress });
      const fs = new FrameSocket(ws);
      const onError = (e) => reject(new Error("Couldn't reach the relay at " + url + ': ' + e.message));
      ws.once('error', onError);
      ws.once('open', () => {
        ws.off('error', onError);
        ws.on('error', () => {});
        resolve(fs);
      });
    });
  }

  constructor(ws) {
    this.ws = ws;
    this.frames = [];
    this.waiters = [];
    this.closed = null;
    this.onFrame = null;
    ws.on('message', (data) => {
      let f;
      try {
        f = JSON.parse(data.toString('utf8'));
      } catch (e) {
        return;
      }
      if (this.onFrame && this.onFrame(f) === false) return;
      this.frames.push(f);
      this.wake();
    });
    ws.on('close', (code, reason) => {
      this.closed = { code, reason: reason.toString() };
      this.wake();
    });
  }

  wake() {
    const waiters = this.waiters;
    this.waiters = [];
    for (const w of waiters) w();
  }

  send(frame) {
    this.ws.send(typeof frame === 'string' ? frame : JSON.stringify(frame));
  }

  // The next frame whose t is one of `types` (frames of other types before it are
  // kept for later callers). Rejects on timeout or when the socket closes first.
  next(types, timeout = 5000) {
    const want = new Set([].concat(types));
    return new Promise((resolve, reject) => {
      let timer = null;
      const look = () => {
        const i = this.frames.findIndex((f) => want.has(f.t));
        if (i >= 0) {
          clearTimeout(timer);
          resolve(this.frames.splice(i, 1)[0]);
        } else if (this.closed) {
          clearTimeout(timer);
          reject(new Error('the relay closed the connection (' + this.closed.code + (this.closed.reason ? ' ' + this.closed.reason : '') + ') while waiting for ' + [...want].join('/')));
        } else this.waiters.push(look);
      };
      timer = setTimeout(() => {
        this.waiters = this.waiters.filter((w) => w !== look);
        reject(new Error('no ' + [...want].join('/') + ' from the relay within ' + timeout + ' ms'));
      }, timeout);
      look();
    });
  }

  // Resolves once the socket is closed (by either side).
  whenClosed(timeout = 5000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('the connection stayed open')), timeout);
      const look = () => {
        if (this.closed) {
          clearTimeout(timer);
          resolve(this.closed);
        } else this.waiters.push(look);
      };
      look();
    });
  }

  // Frames of the given types already received, taken out of the buffer.
  drain(types) {
    const want = new Set([].concat(types));
    const out = this.frames.filter((f) => want.has(f.t));
    this.frames = this.frames.filter((f) => !want.has(f.t));
    return out;
  }

  close() {
    if (this.ws.readyState === WebSocket.OPEN || this.ws.readyState === WebSocket.CONNECTING) this.ws.terminate();
  }
}

module.exports = { FrameSocket };
