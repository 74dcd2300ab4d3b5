'use strict';
// Keeps count of the connections that have not signed in yet, in all and per source
// address. Strangers can open such connections for free, so they must never be able to
// fill every slot and lock members out: when a newcomer finds its address's share or the
// whole pool taken, the oldest waiting connection that is not in the middle of a sign-in
// check is closed to make room, and the newcomer always gets its `hello`.
const net = require('net');
const L = require('./limits.js');

// The address a connection is counted under. IPv4 (also when mapped into IPv6) by its
// full address; IPv6 by its /64, which one machine usually holds in full.
function addressKey(addr) {
  if (typeof addr !== 'string' || addr === '') return '?';
  const v4 = /^::ffff:(\d+\.\d+\.\d+\.\d+)$/i.exec(addr);
  if (v4) return v4[1];
  if (!addr.includes(':')) return addr;
  const [head, tail] = addr.split('::');
  const left = head ? head.split(':') : [];
  const right = tail !== undefined && tail ? tail.split(':') : [];
  const fill = tail !== undefined ? 8 - left.length - right.length : 0;
  const groups = left.concat(new Array(Math.max(0, fill)).fill('0'), right);
  return groups.slice(0, 4).map((g) => (parseInt(g, 16) || 0).toString(16)).join(':') + '::/64';
}

function isLoopback(addr) {
  return typeof addr === 'string' && (/^(::ffff:)?127\./.test(addr) || addr === '::1');
}

// The address a WebSocket request is counted under: its peer's, or, when a proxy on this
// host is trusted, the one the proxy names (nginx: proxy_set_header X-Real-IP).
function requestAddress(req, trustProxy = L.TRUST_PROXY) {
  const peer = req && req.socket ? req.socket.remoteAddress : '';
  const named = req && req.headers ? req.headers['x-real-ip'] : undefined;
  if (trustProxy && isLoopback(peer) && typeof named === 'string' && net.isIP(named.trim())) return addressKey(named.trim());
  return addressKey(peer);
}

class Gate {
  constructor(opts = {}) {
    this.max = opts.max || L.MAX_PENDING;
    this.maxPerAddress = opts.maxPerAddress || L.MAX_PENDING_PER_ADDRESS;
    this.waiting = new Set(); // in arrival order (a Set keeps insertion order)
    this.byAddress = new Map(); // address key -> count
  }

  get size() {
    return this.waiting.size;
  }

  // Takes a new connection in; gives the connections that must be closed for it.
  // `c.addr` is its address key and `c.busy()` says whether a sign-in check is running.
  enter(c) {
    const evict = [];
    const pick = (same) => {
      let fallback = null;
      for (const o of this.waiting) {
        if (evict.includes(o) || (same && o.addr !== c.addr)) continue;
        if (!o.busy()) return o;
        if (!fallback) fallback = o;
      }
      return fallback;
    };
    const mine = this.byAddress.get(c.addr) || 0;
    while (mine - evict.filter((o) => o.addr === c.addr).length >= this.maxPerAddress) {
      const o = pick(true);
      if (!o) break;
      evict.push(o);
    }
    while (this.waiting.size - evict.length >= this.max) {
      const o = pick(false);
      if (!o) break;
      evict.push(o);
    }
    for (const o of evict) this.leave(o);
    this.waiting.add(c);
    this.byAddress.set(c.addr, (this.byAddress.get(c.addr) || 0) + 1);
    return evict;
  }

  leave(c) {
    if (!this.waiting.delete(c)) return false;
    const n = (this.byAddress.get(c.addr) || 1) - 1;
    if (n <= 0) this.byAddress.delete(c.addr);
    else this.byAddress.set(c.addr, n);
    return true;
  }
}

module.exports = { Gate, addressKey, requestAddress };
