'use strict';
// What the relay knows about its network: the member directory with the invite and name
// each member holds, the newest removal list, announcements and spoken-code entries.
// The directory, its claims and the removal list are also written to the state store
// (state.js), so that a restart cannot hand a name or a spent invite to somebody else;
// announcements and spoken entries come back from the clients at their next sign-in.
//
// Everything here is owner-signed or chained back to the owner, so the state takes
// records from anyone and believes only their signatures. Checking is asynchronous
// (Web Crypto), but every decision that depends on what is already known (who holds an
// invite, who holds a name) is made in one synchronous step after the last await, so
// two sign-ins racing for the same invite cannot both win.
const P = require('../web/protocol.js');
const L = require('./limits.js');
const { isObject, canonCert } = require('./check.js');

class Network {
  constructor(owner, opts = {}) {
    this.owner = owner;
    this.now = opts.now || Date.now;
    this.maxMembers = opts.maxMembers || L.MAX_MEMBERS;
    this.members = new Map(); // id -> { cert, info, text }
    this.inviteOf = new Map(); // invite key -> member id; never released, see remove()
    this.nameOf = new Map(); // lower-cased username -> member id
    this.removals = null;
    this.removed = new Set();
    this.ann = new Map(); // id -> announcement
    this.spoken = new Map(); // id -> spoken entry
    this.store = opts.store || null;
    if (opts.saved) this.restore(opts.saved);
  }

  // Takes what the state store kept from earlier runs.
  restore(saved) {
    for (const rec of saved.members) {
      this.members.set(rec.info.id, rec);
    }
    for (const [ik, id] of saved.invites) this.inviteOf.set(ik, id);
    for (const [name, id] of saved.names) this.nameOf.set(name, id);
    if (saved.removals) {
      this.removals = saved.removals;
      this.removed = new Set(saved.removals.ids);
    }
  }

  // Checks a certificate back to the owner. A certificate identical to a known one is
  // not checked again: every sign-in hands over the whole directory. Either way the
  // answer carries the certificate and its text, which admit() keeps and every `member`
  // frame and `welcome` hands on.
  async check(raw) {
    const c = canonCert(raw);
    if (!c) return null;
    const m = c.cert.m;
    if (P.isB64(m.sig, P.PUB, P.PUB)) {
      let id = null;
      try {
        id = await P.idOf(m.sig);
      } catch (e) {
        id = null;
      }
      const known = id && this.members.get(id);
      if (known && known.text === c.text) return Object.assign({}, known.info, { text: known.text, cert: known.cert });
    }
    let info = null;
    try {
      info = await P.verifyCert(c.cert, this.owner);
    } catch (e) {
      info = null;
    }
    return info ? Object.assign(info, { text: c.text, cert: c.cert }) : null;
  }

  isRemoved(info) {
    return this.removed.size > 0 && P.isRemoved(info, this.removed);
  }

  // Why this member may not take its place in the directory, or null when it may.
  // Synchronous on purpose (see the top of the file).
  conflict(info) {
    if (info.by === null) return 'owner';
    if (this.isRemoved(info)) return 'removed';
    const holder = this.inviteOf.get(info.ik);
    if (holder !== undefined && holder !== info.id) return 'member';
    const named = this.nameOf.get(info.name.toLowerCase());
    if (named !== undefined && named !== info.id) return 'name';
    if (!this.members.has(info.id) && this.members.size >= this.maxMembers) return 'full';
    return null;
  }

  // Records a checked member. `replace` lets a member's own sign-in swap in a new
  // certificate for its id (a re-chosen username); certificates learned from other
  // members' directories never replace what is known. Gives true when the directory
  // changed.
  admit(info, replace) {
    const known = this.members.get(info.id);
    if (known && (known.text === info.text || !replace)) return false;
    if (known) this.nameOf.delete(known.info.name.toLowerCase());
    const rec = { cert: info.cert, info: plainInfo(info), text: info.text };
    this.members.set(info.id, rec);
    this.inviteOf.set(info.ik, info.id);
    this.nameOf.set(info.name.toLowerCase(), info.id);
    if (this.store) this.store.putMember(rec, known ? known.info.name.toLowerCase() : null);
    return true;
  }

  // Learns certificates from a sign-in's directory. Gives the newly learned ones.
  async learnAll(certs, skipId) {
    const checked = [];
    for (const cert of certs) {
      const info = await this.check(cert);
      if (info && info.id !== skipId) checked.push(info);
    }
    const fresh = [];
    const admitAll = () => {
      for (const info of checked) {
        if (this.members.has(info.id) || this.conflict(info)) continue;
        if (this.admit(info, false)) fresh.push(info.cert);
      }
    };
    // One write for the lot: a client may hand over a whole directory the relay lacks.
    if (this.store) this.store.batch(admitAll);
    else admitAll();
    return fresh;
  }

  // Takes a removal list when it is valid and newer than the kept one. Gives the ids of
  // the members it removes from the directory, or null when the list was not taken.
  async takeRemovals(list) {
    if (!isObject(list)) return null;
    if (this.removals && !(typeof list.v === 'number' && list.v > this.removals.v)) return null;
    const r = await P.checkRemovals(list, this.owner);
    if (!r || (this.removals && r.v <= this.removals.v)) return null;
    this.removals = r;
    this.removed = new Set(r.ids);
    const gone = [];
    const names = [];
    for (const [id, rec] of this.members) {
      if (P.isRemoved(rec.info, this.removed)) {
        this.members.delete(id);
        // The name is free for somebody else, as it is in the clients' directories;
        // the invite stays spent so that it cannot bring a new identity back in.
        this.nameOf.delete(rec.info.name.toLowerCase());
        names.push(rec.info.name.toLowerCase());
        gone.push(id);
      }
    }
    if (this.store) this.store.putRemovals(r, gone, names);
    return gone;
  }

  // Takes an announcement when valid and newer than the kept version of its id.
  // Gives the checked copy, or null.
  async takeAnn(a) {
    if (!isObject(a)) return null;
    const kept = typeof a.id === 'string' ? this.ann.get(a.id) : undefined;
    if (kept && !(typeof a.at === 'number' && a.at > kept.at)) return null;
    const c = await P.checkAnn(a, this.owner);
    if (!c) return null;
    const now = this.ann.get(c.id);
    if (now && c.at <= now.at) return null;
    this.ann.set(c.id, c);
    if (this.ann.size > L.MAX_ANN_KEPT) {
      const oldest = [...this.ann.values()].sort((x, y) => x.at - y.at)[0];
      this.ann.delete(oldest.id);
      if (oldest.id === c.id) return null;
    }
    return c;
  }

  // Takes a spoken entry when valid, unexpired and not held yet. Gives the checked copy.
  async takeSpoken(e) {
    if (!isObject(e) || typeof e.id !== 'string' || this.spoken.has(e.id)) return null;
    if (typeof e.exp !== 'number' || e.exp <= this.now()) return null;
    const c = await P.checkSpoken(e, this.owner);
    if (!c || this.spoken.has(c.id) || c.exp <= this.now()) return null;
    this.spoken.set(c.id, c);
    if (this.spoken.size > L.MAX_SPOKEN_KEPT) {
      const first = [...this.spoken.values()].sort((x, y) => x.exp - y.exp)[0];
      this.spoken.delete(first.id);
      if (first.id === c.id) return null;
    }
    return c;
  }

  sweepSpoken() {
    const now = this.now();
    for (const [id, e] of this.spoken) if (e.exp <= now) this.spoken.delete(id);
  }

  certs() {
    return [...this.members.values()].map((r) => r.cert);
  }

  annList() {
    return [...this.ann.values()];
  }

  spokenList() {
    this.sweepSpoken();
    return [...this.spoken.values()].slice(0, L.MAX_SPOKEN_KEPT);
  }
}

// The checked facts about a member, without the certificate text kept beside them.
function plainInfo(info) {
  const { id, name, at, sig, ecdh, ik, by, chain } = info;
  return { id, name, at, sig, ecdh, ik, by, chain };
}

module.exports = { Network };
