'use strict';
// Envelopes waiting for their recipients. Each member has one queue, in arrival order,
// from which an envelope leaves when the recipient acknowledges it or its time to live
// runs out; a restart empties everything (clients learn that from the new boot id).
//
// A General message to N members is N envelopes, but they share one ciphertext string,
// so the cost of a fan-out is one ciphertext plus N small records. The byte bounds
// still count the ciphertext once per envelope: a recipient's limit must not depend on
// how many others a message went to.
const crypto = require('crypto');
const L = require('./limits.js');

// Envelope ids: 12 random bytes, drawn from a pool so a fan-out does not ask the
// system for randomness once per recipient.
let pool = Buffer.alloc(0);
let poolAt = 0;
function newEid() {
  if (poolAt + 12 > pool.length) {
    pool = crypto.randomBytes(12 * 512);
    poolAt = 0;
  }
  const id = pool.toString('hex', poolAt, poolAt + 12);
  poolAt += 12;
  return id;
}

function sizeOf(env) {
  return env.ct.length + 200;
}

class Mailbox {
  constructor(opts = {}) {
    this.now = opts.now || Date.now;
    this.maxQueue = opts.maxQueue || L.MAX_QUEUE;
    this.maxQueueBytes = opts.maxQueueBytes || L.MAX_QUEUE_BYTES;
    this.maxTotalBytes = opts.maxTotalBytes || L.MAX_TOTAL_BYTES;
    this.queues = new Map(); // member id -> { items: Map eid -> entry, bytes }
    this.bytes = 0;
    this.count = 0;
  }

  queue(id) {
    let q = this.queues.get(id);
    if (!q) {
      q = { items: new Map(), bytes: 0 };
      this.queues.set(id, q);
    }
    return q;
  }

  // Why an envelope of this size cannot be queued for this recipient, or null.
  refuse(id, size) {
    if (this.bytes + size > this.maxTotalBytes) return 'full';
    const q = this.queues.get(id);
    if (!q) return null;
    if (q.items.size >= this.maxQueue || q.bytes + size > this.maxQueueBytes) return 'queue';
    return null;
  }

  // Queues one envelope and gives it, or gives null when a bound refuses it.
  put(to, from, iv, ct, key, ttl) {
    const at = this.now();
    const env = { t: 'env', eid: newEid(), from, at, iv, ct, key };
    const size = sizeOf(env);
    if (this.refuse(to, size)) return null;
    const q = this.queue(to);
    q.items.set(env.eid, { env, dies: ttl ? at + ttl : Infinity, size });
    q.bytes += size;
    this.bytes += size;
    this.count++;
    return env;
  }

  // The envelopes still alive for a recipient, oldest first.
  pending(id) {
    const q = this.queues.get(id);
    if (!q) return [];
    const now = this.now();
    const out = [];
    for (const [eid, e] of q.items) {
      if (e.dies <= now) this.drop(q, eid, e);
      else out.push(e.env);
    }
    return out;
  }

  ack(id, eids) {
    const q = this.queues.get(id);
    if (!q) return 0;
    let n = 0;
    for (const eid of eids) {
      if (typeof eid !== 'string') continue;
      const e = q.items.get(eid);
      if (e) {
        this.drop(q, eid, e);
        n++;
      }
    }
    if (q.items.size === 0) this.queues.delete(id);
    return n;
  }

  drop(q, eid, e) {
    q.items.delete(eid);
    q.bytes -= e.size;
    this.bytes -= e.size;
    this.count--;
  }

  forget(id) {
    const q = this.queues.get(id);
    if (!q) return;
    this.bytes -= q.bytes;
    this.count -= q.items.size;
    this.queues.delete(id);
  }

  sweep() {
    const now = this.now();
    for (const [id, q] of this.queues) {
      for (const [eid, e] of q.items) if (e.dies <= now) this.drop(q, eid, e);
      if (q.items.size === 0) this.queues.delete(id);
    }
  }
}

module.exports = { Mailbox, newEid };
