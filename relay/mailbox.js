'use strict';
// Envelopes waiting for their recipients. Each member has one queue, in arrival order,
// from which an envelope leaves when the recipient acknowledges it or its time to live
// runs out; a restart empties everything (clients learn that from the new boot id).
//
// A General message to N members is N envelopes sharing one ciphertext string. Each
// recipient's bound counts the ciphertext once per envelope (a recipient's limit must not
// depend on how many others a message went to), while the relay-wide bound and each
// sender's bound count what is really held: the shared ciphertext once, plus a record per
// envelope. So one member cannot fill the relay with a few large fan-outs, and the
// relay-wide bound stays out of reach of any single sender.
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

// What one envelope costs its recipient, and what its record costs in memory besides
// the ciphertext (measured by bench/relay-load.js: about 300 bytes).
function sizeOf(env) {
  return env.ct.length + 200;
}
const RECORD = 300;

class Mailbox {
  constructor(opts = {}) {
    this.now = opts.now || Date.now;
    this.maxQueue = opts.maxQueue || L.MAX_QUEUE;
    this.maxQueueBytes = opts.maxQueueBytes || L.MAX_QUEUE_BYTES;
    this.maxTotalBytes = opts.maxTotalBytes || L.MAX_TOTAL_BYTES;
    this.maxSenderBytes = opts.maxSenderBytes || L.MAX_SENDER_BYTES;
    this.maxTtl = opts.maxTtl || L.MAX_TTL;
    this.queues = new Map(); // member id -> { items: Map eid -> entry, bytes }
    this.senders = new Map(); // member id -> bytes held for its envelopes
    this.bytes = 0; // memory held, ciphertexts counted once
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

  // Queues one send for its recipients: `to` is a list of [member id, wrapped key].
  // Gives [recipient id, envelope] for each one queued, and how many a bound refused.
  putAll(from, iv, ct, to, ttl) {
    const at = this.now();
    const life = Math.min(ttl > 0 ? ttl : Infinity, this.maxTtl);
    const body = { from, ct, refs: 0 };
    const out = [];
    let refused = 0;
    let held = this.senders.get(from) || 0;
    for (const [id, key] of to) {
      const env = { t: 'env', eid: newEid(), from, at, iv, ct, key };
      const size = sizeOf(env);
      const cost = RECORD + (body.refs === 0 ? ct.length : 0);
      const q = this.queues.get(id);
      if (this.bytes + cost > this.maxTotalBytes || held + cost > this.maxSenderBytes ||
          (q && (q.items.size >= this.maxQueue || q.bytes + size > this.maxQueueBytes))) {
        refused++;
        continue;
      }
      const box = this.queue(id);
      box.items.set(env.eid, { env, dies: at + life, size, body });
      box.bytes += size;
      body.refs++;
      this.bytes += cost;
      held += cost;
      this.count++;
      out.push([id, env]);
    }
    if (out.length) this.senders.set(from, held);
    return { queued: out, refused };
  }

  // Queues one envelope; gives it, or null when a bound refuses it.
  put(to, from, iv, ct, key, ttl) {
    const [first] = this.putAll(from, iv, ct, [[to, key]], ttl).queued;
    return first ? first[1] : null;
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
    this.release(e.body);
    this.count--;
  }

  release(body) {
    body.refs--;
    const freed = RECORD + (body.refs === 0 ? body.ct.length : 0);
    this.bytes -= freed;
    const held = (this.senders.get(body.from) || 0) - freed;
    if (held > 0) this.senders.set(body.from, held);
    else this.senders.delete(body.from);
  }

  // Drops everything queued for a member (removed from the network).
  forget(id) {
    const q = this.queues.get(id);
    if (!q) return;
    for (const e of q.items.values()) {
      this.release(e.body);
      this.count--;
    }
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
