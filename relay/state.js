'use strict';
// What the network must remember across a restart, in one SQLite file in the state
// folder: every member seen (its certificate cut to the signed fields, and what checking
// it found), the invite key each member used, the username each holds, and the newest
// removal list. Without it a restarted relay would let a newcomer take a username before
// its holder reconnects, and a removed member back in with an unexpired old invite.
// Envelopes are never written here: a restart still forgets every undelivered message.
//
// Writes are rare (a new member, a new name, a new removal list) and synchronous, so a
// fact is on disk before the relay acts on it. A damaged or missing file never keeps the
// relay from starting: what can be read is kept, the rest is reported in the log, and a
// file that SQLite itself cannot open is moved aside and started afresh. A SQLite module
// that cannot be loaded (missing, or built for another Node.js) says nothing about the
// file, so then the file is not touched at all (see binding()).
const fs = require('fs');
const path = require('path');

const FILE = 'relay-state.sqlite';
const SCHEMA = `
  CREATE TABLE IF NOT EXISTS members (id TEXT PRIMARY KEY, cert TEXT NOT NULL, info TEXT NOT NULL);
  CREATE TABLE IF NOT EXISTS invites (ik TEXT PRIMARY KEY, id TEXT NOT NULL);
  CREATE TABLE IF NOT EXISTS names (name TEXT PRIMARY KEY, id TEXT NOT NULL);
  CREATE TABLE IF NOT EXISTS removals (k INTEGER PRIMARY KEY CHECK (k = 1), list TEXT NOT NULL);
  CREATE TABLE IF NOT EXISTS network (k INTEGER PRIMARY KEY CHECK (k = 1), owner TEXT NOT NULL);
`;
const ID = /^[0-9a-f]{32}$/;
const REBUILD = 'npm rebuild better-sqlite3';

// The SQLite module, proven to load by opening a database in memory: its compiled part is
// only loaded on first use, and one built for another Node.js fails only then. Throws an
// error with `unloadable` set, and a message that says how to mend it.
function binding() {
  let Database;
  try {
    Database = require('better-sqlite3');
    new Database(':memory:').close();
  } catch (e) {
    const err = new Error('the SQLite module (better-sqlite3) could not be loaded: ' + e.message.split('\n')[0] +
      '. Rebuild it for this Node.js with "' + REBUILD + '" in ' + path.join(__dirname, '..'));
    err.unloadable = true;
    throw err;
  }
  return Database;
}

function isObject(v) {
  return v !== null && typeof v === 'object' && !Array.isArray(v);
}

// A stored member is taken only when its fields hang together; a row that does not is
// reported and left out, and its holder is learned again at its next sign-in.
function memberOf(row) {
  const cert = JSON.parse(row.cert);
  const info = JSON.parse(row.info);
  if (!isObject(cert) || !isObject(info) || info.id !== row.id || !ID.test(row.id)) return null;
  if (typeof info.name !== 'string' || !Array.isArray(info.chain)) return null;
  return { cert, info, text: JSON.stringify(cert) };
}

class State {
  // Opens (or creates) the state file of the network of `owner` (its key) in `dir`;
  // `log` gets every problem found.
  constructor(dir, owner, log) {
    this.dir = dir;
    this.owner = owner;
    this.file = path.join(dir, FILE);
    this.log = log;
    this.db = null;
    this.problems = 0;
  }

  // Gives what could be read: { members, invites, names, removals }.
  open() {
    this.Database = binding();
    fs.mkdirSync(this.dir, { recursive: true, mode: 0o700 });
    try {
      fs.chmodSync(this.dir, 0o700);
    } catch (e) {
      this.warn('could not make ' + this.dir + ' private: ' + e.message);
    }
    const existed = fs.existsSync(this.file);
    let saved = empty();
    this.damaged = false;
    try {
      this.db = this.connect();
      const check = this.db.pragma('quick_check', { simple: true });
      if (check !== 'ok') {
        this.warn('the state file ' + this.file + ' fails its check (' + check + ')');
        this.damaged = true;
      }
      const kept = this.keptOwner();
      if (kept && kept !== this.owner) {
        // Another network's names and invites mean nothing here and must not block anyone.
        this.warn('the state file ' + this.file + ' belongs to another owner key');
        this.damaged = true;
      } else {
        saved = this.read(saved);
      }
      if (!this.damaged) {
        this.db.exec(SCHEMA);
        this.db.prepare('INSERT OR REPLACE INTO network (k, owner) VALUES (1, ?)').run(this.owner);
      }
    } catch (e) {
      this.warn('the state file ' + this.file + ' is damaged (' + e.message + ')');
      this.damaged = true;
    }
    if (this.damaged) {
      this.closeQuietly();
      const aside = this.file + '.damaged-' + Date.now();
      for (const ext of ['', '-wal', '-shm']) {
        try {
          if (fs.existsSync(this.file + ext)) fs.renameSync(this.file + ext, aside + ext);
        } catch (err) {
          this.warn('could not move ' + this.file + ext + ' aside: ' + err.message);
        }
      }
      this.warn('moved it to ' + aside + ' and started a new one with what could be read: ' +
        saved.members.length + ' members, ' + saved.invites.length + ' used invites, ' + saved.names.length + ' names, ' +
        (saved.removals ? 'removal list ' + saved.removals.v : 'no removal list'));
      this.db = this.connect();
      this.db.exec(SCHEMA);
      this.db.prepare('INSERT OR REPLACE INTO network (k, owner) VALUES (1, ?)').run(this.owner);
      this.writeAll(saved);
    }
    try {
      fs.chmodSync(this.file, 0o600);
    } catch (e) {
      this.warn('could not make ' + this.file + ' private: ' + e.message);
    }
    if (!existed) this.log('relay: no state file yet; starting one at ' + this.file);
    this.prepare();
    return saved;
  }

  connect() {
    const db = new this.Database(this.file);
    db.pragma('journal_mode = WAL');
    db.pragma('synchronous = FULL');
    return db;
  }

  warn(msg) {
    this.problems++;
    this.log('relay: ' + msg);
  }

  keptOwner() {
    const has = this.db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'network'").get();
    return has ? this.db.prepare('SELECT owner FROM network WHERE k = 1').pluck().get() || null : null;
  }

  // Reads each table on its own, so a damaged one costs only what it held.
  read(saved) {
    const tables = new Set(this.db.prepare("SELECT name FROM sqlite_master WHERE type = 'table'").pluck().all());
    const each = (table, sql, take) => {
      if (!tables.has(table)) return;
      let bad = 0;
      try {
        for (const row of this.db.prepare(sql).iterate()) {
          try {
            if (!take(row)) bad++;
          } catch (e) {
            bad++;
          }
        }
      } catch (e) {
        this.warn('could not read all the ' + table + ' kept in ' + this.file + ': ' + e.message);
        this.damaged = true;
      }
      if (bad) this.warn('left out ' + bad + ' unreadable ' + table + ' rows of ' + this.file);
    };
    each('members', 'SELECT id, cert, info FROM members', (row) => {
      const rec = memberOf(row);
      if (rec) saved.members.push(rec);
      return !!rec;
    });
    const pair = (a, b) => typeof a === 'string' && a.length > 0 && a.length <= 200 && ID.test(b);
    each('invites', 'SELECT ik, id FROM invites', (row) => pair(row.ik, row.id) && saved.invites.push([row.ik, row.id]));
    each('names', 'SELECT name, id FROM names', (row) => pair(row.name, row.id) && saved.names.push([row.name, row.id]));
    each('removals', 'SELECT list FROM removals WHERE k = 1', (row) => {
      const r = JSON.parse(row.list);
      if (!isObject(r) || !Number.isInteger(r.v) || !Array.isArray(r.ids)) return false;
      saved.removals = r;
      return true;
    });
    // A name or an invite whose holder is not among the members is still a claim: the
    // holder may have been removed (invites stay spent) or its row lost.
    if (saved.members.length || tables.size) {
      this.log('relay: state read: ' + saved.members.length + ' members, ' + saved.invites.length + ' used invites, ' +
        (saved.removals ? 'removal list ' + saved.removals.v : 'no removal list'));
    }
    return saved;
  }

  prepare() {
    this.q = {
      member: this.db.prepare('INSERT OR REPLACE INTO members (id, cert, info) VALUES (?, ?, ?)'),
      invite: this.db.prepare('INSERT OR REPLACE INTO invites (ik, id) VALUES (?, ?)'),
      name: this.db.prepare('INSERT OR REPLACE INTO names (name, id) VALUES (?, ?)'),
      dropName: this.db.prepare('DELETE FROM names WHERE name = ? AND id = ?'),
      dropMember: this.db.prepare('DELETE FROM members WHERE id = ?'),
      removals: this.db.prepare('INSERT OR REPLACE INTO removals (k, list) VALUES (1, ?)'),
    };
    this.putMemberTx = this.db.transaction((rec, oldName) => {
      const id = rec.info.id;
      if (oldName) this.q.dropName.run(oldName, id);
      this.q.member.run(id, rec.text, JSON.stringify(rec.info));
      this.q.invite.run(rec.info.ik, id);
      this.q.name.run(rec.info.name.toLowerCase(), id);
    });
    this.putRemovalsTx = this.db.transaction((r, gone, names) => {
      this.q.removals.run(JSON.stringify(r));
      gone.forEach((id, i) => {
        this.q.dropMember.run(id);
        this.q.dropName.run(names[i], id);
      });
    });
  }

  writeAll(saved) {
    this.db.transaction(() => {
      const ins = (sql, rows) => {
        const st = this.db.prepare(sql);
        for (const r of rows) st.run(...r);
      };
      ins('INSERT OR REPLACE INTO members (id, cert, info) VALUES (?, ?, ?)', saved.members.map((m) => [m.info.id, m.text, JSON.stringify(m.info)]));
      ins('INSERT OR REPLACE INTO invites (ik, id) VALUES (?, ?)', saved.invites);
      ins('INSERT OR REPLACE INTO names (name, id) VALUES (?, ?)', saved.names);
      if (saved.removals) ins('INSERT OR REPLACE INTO removals (k, list) VALUES (1, ?)', [[JSON.stringify(saved.removals)]]);
    })();
  }

  // A failed write is logged, never thrown: the relay goes on with what it holds in
  // memory, which is what it would have had without the file.
  guard(what, fn) {
    try {
      fn();
    } catch (e) {
      this.warn('could not write ' + what + ' to ' + this.file + ': ' + e.message);
    }
  }

  // Runs `fn` with every write it makes in one transaction (one sync to disk).
  batch(fn) {
    let ran = false;
    this.guard('members', () => this.db.transaction(() => {
      ran = true;
      fn();
    })());
    if (!ran) fn();
  }

  putMember(rec, oldName) {
    this.guard('a member', () => this.putMemberTx(rec, oldName));
  }

  putRemovals(r, gone, names) {
    this.guard('the removal list', () => this.putRemovalsTx(r, gone, names));
  }

  closeQuietly() {
    try {
      if (this.db) this.db.close();
    } catch (e) {
      // already unusable; nothing to keep
    }
    this.db = null;
  }
}

function empty() {
  return { members: [], invites: [], names: [], removals: null };
}

module.exports = { State, FILE, REBUILD };
