// The persisted record D: its creation at first run, its defaults, the repair of vaults
// written by earlier versions or damaged on the way, and the read helpers all sections share.
// No other section builds or reshapes D.

var DEFAULT_SETTINGS = {
  panicCode: 'Escape',
  panicGlobal: false,
  notify: true,
  previews: true,
  wipeSet: false,
  startup: true,
};

function isPlainObject(v) { return !!v && typeof v === 'object' && !Array.isArray(v); }

function generalRoom() { return { id: 'general', kind: 'general', name: 'General' }; }
function annRoom() { return { id: 'announcements', kind: 'ann', name: 'Announcements' }; }

// D for a member who has just joined with `invite` and signed `cert`.
function initialData(owner, me, keys, cert, invite) {
  var dir = {};
  dir[me] = cert;
  var settings = Object.assign({}, DEFAULT_SETTINGS, { seenVersion: C.VERSION });
  return {
    v: 1,
    server: C.SERVER,
    owner: owner,
    me: me,
    keys: keys,
    cert: cert,
    dir: dir,
    names: {},
    removals: null,
    pendingInvite: { g: invite.g, k: invite.k },
    rooms: { general: generalRoom(), announcements: annRoom() },
    msgs: {},
    unread: {},
    pings: {},
    friends: {},
    blocked: {},
    wanted: {},
    outbox: {},
    receipts: {},
    ann: {},
    spoken: {},
    settings: settings,
  };
}

var ROOM_ID = /^(general|announcements|dm:[0-9a-f]{32}:[0-9a-f]{32}|g:[0-9a-f]{32})$/;

// A group's version may be at most this far ahead of the clock: a version any further
// ahead would lock the group, as no later change could ever carry a higher one.
var RV_AHEAD = 24 * 3600000;

// Characters that read as letters of the fixed rooms' names: Cyrillic and Greek look-alikes,
// small capitals and digits.
var LOOKALIKE = {
  'а': 'a', 'е': 'e', 'о': 'o', 'с': 'c', 'ѕ': 's', 'і': 'i', 'ӏ': 'l', 'ո': 'n', 'ս': 'u', 'ɡ': 'g', 'ց': 'g',
  'α': 'a', 'ε': 'e', 'ο': 'o', 'ι': 'i', 'η': 'n', 'μ': 'u', 'τ': 't',
  'м': 'm', 'т': 't', 'ɢ': 'g', 'ᴇ': 'e', 'ɴ': 'n', 'ʀ': 'r', 'ᴀ': 'a', 'ʟ': 'l', 'ᴏ': 'o', 'ᴜ': 'u', 'ᴄ': 'c', 'ᴍ': 'm',
  'ᴛ': 't', 'ꜱ': 's', '0': 'o', '1': 'l', '3': 'e', '4': 'a', '5': 's', '7': 't', '9': 'g',
};

// Whether a name reads as General or Announcements, whatever its case, spacing, marks,
// punctuation or look-alike letters ("# General", "gen-eral", "Ánnouncement"): a group may
// not wear it, or it could pass for the room everyone reads.
function readsAsFixedRoom(name) {
  var folded = String(name).normalize('NFKD').replace(/\p{M}+/gu, '').toLowerCase().replace(/./gu, function (ch) {
    return Object.prototype.hasOwnProperty.call(LOOKALIKE, ch) ? LOOKALIKE[ch] : ch;
  }).replace(/[^a-z0-9]+/g, '');
  return /^(general|announcements?)$/.test(folded);
}

// A name for a group that cannot pass for a fixed room: one that could says it is a group.
function groupName(name) {
  return readsAsFixedRoom(name) ? P.cleanName(name.slice(0, 30) + ' (group)', P.MAX_ROOM_NAME) : name;
}

// Rooms and message lists that cannot be what their id says are dropped rather than left
// to break every later draw; good entries are kept as they are. A group whose version is
// beyond the bound (accepted before there was one) takes the time now, so that changes
// reach it again, and one whose name reads as a fixed room's says that it is a group.
function repairRooms(d, now) {
  var changed = false;
  Object.keys(d.rooms).forEach(function (id) {
    var r = d.rooms[id];
    var ok = isPlainObject(r) && ROOM_ID.test(id);
    if (ok && id.indexOf('g:') === 0) ok = r.kind === 'group' && Array.isArray(r.members) && typeof r.name === 'string';
    if (ok && id.indexOf('dm:') === 0) ok = r.kind === 'dm' && typeof r.with === 'string';
    if (!ok && id !== 'general' && id !== 'announcements') { delete d.rooms[id]; changed = true; }
    if (!ok || r.kind !== 'group') return;
    if (!(typeof r.rv === 'number' && r.rv <= now + RV_AHEAD)) { r.rv = now; changed = true; }
    if (groupName(r.name) !== r.name) { r.name = groupName(r.name); changed = true; }
  });
  Object.keys(d.msgs).forEach(function (id) {
    var list = d.msgs[id];
    if (!d.rooms[id] || !Array.isArray(list)) { delete d.msgs[id]; changed = true; return; }
    var kept = list.filter(function (m) { return isPlainObject(m) && typeof m.text === 'string'; });
    if (kept.length !== list.length) { d.msgs[id] = kept; changed = true; }
  });
  // One friend control waiting for each member, the newest: a vault from before that rule
  // may hold thousands, each to be sent again.
  var control = {};
  Object.keys(d.outbox).forEach(function (q) {
    var e = d.outbox[q];
    if (!isPlainObject(e) || !isPlainObject(e.payload) || !Array.isArray(e.to)) { delete d.outbox[q]; changed = true; return; }
    if (e.payload.k !== 'friend' || e.to.length !== 1) return;
    var older = control[e.to[0]];
    if (older && d.outbox[older].at > e.at) { delete d.outbox[q]; changed = true; return; }
    if (older) { delete d.outbox[older]; changed = true; }
    control[e.to[0]] = q;
  });
  Object.keys(d.receipts).forEach(function (from) {
    if (!Array.isArray(d.receipts[from])) { delete d.receipts[from]; changed = true; }
  });
  return changed;
}

// Brings D up to the current shape at every unlock, before anything else reads it.
// Answers true when something changed that must be saved.
function normalise(d, now) {
  var changed = false;
  now = now || Date.now();
  // Fields added by later versions, and containers a damaged vault may lack: an absent map
  // is an empty one. Nothing present is replaced.
  ['friends', 'blocked', 'outbox', 'wanted', 'ann', 'pings', 'spoken', 'receipts',
    'rooms', 'msgs', 'unread', 'dir', 'names'].forEach(function (k) {
    if (!isPlainObject(d[k])) { d[k] = {}; changed = true; }
  });
  Object.keys(d.spoken).forEach(function (id) {
    var e = d.spoken[id];
    if (!e || typeof e.exp !== 'number' || !(e.exp > now)) { delete d.spoken[id]; changed = true; }
  });
  if (!isPlainObject(d.rooms.general)) {
    d.rooms.general = generalRoom();
    changed = true;
  }
  if (!isPlainObject(d.rooms.announcements)) {
    d.rooms.announcements = annRoom();
    changed = true;
  }
  if (repairRooms(d, now)) changed = true;
  if (!isPlainObject(d.settings)) { d.settings = {}; changed = true; }
  var st = d.settings;
  if (st.notify === undefined) { st.notify = true; st.previews = true; changed = true; }
  if (st.previews === undefined) { st.previews = true; changed = true; }
  if (st.startup === undefined) { st.startup = true; changed = true; }
  if (typeof st.panicCode !== 'string') { st.panicCode = DEFAULT_SETTINGS.panicCode; changed = true; }
  if (typeof st.panicGlobal !== 'boolean') { st.panicGlobal = !!st.panicGlobal; changed = true; }
  // Tab moves between buttons; a vault from before that was refused may still hold it.
  if (st.panicCode === 'Tab') { st.panicCode = 'Escape'; changed = true; }
  return changed;
}

function nameOf(id) {
  if (S.info[id] && S.info[id].name) return S.info[id].name;
  if (D && D.names && typeof D.names[id] === 'string') return D.names[id];
  return 'someone';
}

function isFriend(id) { return !!D && D.friends[id] === 'friend'; }

function isOnline(id) {
  return S.online.has(id) || (!!D && id === D.me && S.status === 'online');
}

function focused() {
  if (S.away) return false;
  if (S.fg !== null && S.fg !== undefined) return S.fg;
  return document.hasFocus();
}

function dmId(other) {
  var pair = [D.me, other].sort();
  return 'dm:' + pair[0] + ':' + pair[1];
}

/*
 * The store. Every change to D, and to what S holds of the network (members, who is
 * online, the connection), is one of the named changes below; nothing else writes them.
 * Each change is saved (Vault.save: one debounced write, made at most a moment after the
 * change however many follow it) and announced as a topic, with a detail, for the views:
 *   messages  { rid, m, kind }   a room's list: kind 'add' (m appended), 'change' (m's
 *                                mark changed) or 'reset' (the list was replaced)
 *   unread    rid                a room's unread count or mention mark
 *   rooms     rid                a room added, changed or dropped
 *   members   id                 a member learned, renamed or forgotten; the removal list
 *   online    id                 presence (id null: everyone at once)
 *   friends   id                 friend state, blocking, requests waiting for a name
 *   blocked   id                 blocking alone (lines of that member come or go)
 *   outbox    q                  what recipients have still to confirm
 *   ann       id                 announcements and spoken codes
 *   settings  key
 *   status    status             the connection (S only, not saved)
 *   view      id                 the open view or friends tab, or 'all' when the open room
 *                                shows its whole history (S only, not saved)
 *   reply     rid                the reply being written (S only, not saved)
 * Logic that must not go on before the vault holds a change (acknowledging, a new relay
 * boot, a new username) waits for storeNow().
 */

function changed(topic, detail) {
  Vault.save();
  announce(topic, detail);
}

function storeNow() { return Vault.saveNow(); }

// Written as soon as the frame that shows the change is drawn: soon, without holding up
// that frame with the work of a write.
function storeAfterFrame() {
  var go = function () {
    storeNow().catch(function (e) { console.error('mosswire: saving failed:', e && e.message); });
  };
  if (typeof requestAnimationFrame === 'function' && !document.hidden) requestAnimationFrame(function () { setTimeout(go, 0); });
  else setTimeout(go, 0);
}

// ---- messages ----

// Appends a message to a room's list unless the same sender's same id is there already;
// the oldest go beyond MAX_HISTORY, and the histories stay within their budget. False for
// a repeat.
function storeMessage(rid, m) {
  var list = D.msgs[rid] || (D.msgs[rid] = []);
  if (m.mid && findMsg(rid, m.mid, m.from)) return false;
  var size = listSize(list) + msgSize(m);
  list.push(m);
  if (list.length > MAX_HISTORY) {
    list.splice(0, list.length - MAX_HISTORY).forEach(function (old) { size -= msgSize(old); });
  }
  listSizes.set(list, { n: list.length, size: size });
  changed('messages', { rid: rid, m: m, kind: 'add' });
  keepHistoryBudget();
  return true;
}

/*
 * The history budget. MAX_HISTORY bounds one room, but one member can fill many (groups of
 * their own making, each with thousands of long messages), and the vault, and every save of
 * it, would grow with them. So all rooms together keep at most HISTORY_BUDGET (characters
 * of their stored form, near enough): past it, the oldest messages of the largest rooms go
 * first, until the histories are back to HISTORY_KEEP of the budget, which makes trimming
 * seldom rather than once a message. Own messages still waiting to go out stay.
 */
var HISTORY_BUDGET = 4 * 1024 * 1024;
var HISTORY_KEEP = 0.9;
var TRIM_STEP = 64 * 1024;
var listSizes = new WeakMap(); // message list → { n: its length when measured, size }

function msgSize(m) {
  var n = 100 + (typeof m.text === 'string' ? m.text.length : 0);
  if (m.re && typeof m.re.text === 'string') n += 80 + m.re.text.length;
  return n;
}

function listSize(list) {
  var known = listSizes.get(list);
  if (known && known.n === list.length) return known.size;
  var size = 0;
  for (var i = 0; i < list.length; i++) size += msgSize(list[i]);
  listSizes.set(list, { n: list.length, size: size });
  return size;
}

function keepHistoryBudget() {
  var sizes = {};
  var total = 0;
  Object.keys(D.msgs).forEach(function (rid) {
    if (!Array.isArray(D.msgs[rid])) return;
    sizes[rid] = listSize(D.msgs[rid]);
    total += sizes[rid];
  });
  if (total <= HISTORY_BUDGET) return;
  // How much each room gives, worked out first: always from the largest, down to the
  // size of the next largest, a step at a time where they are level.
  var target = HISTORY_BUDGET * HISTORY_KEEP;
  var ids = Object.keys(sizes);
  var cut = {};
  while (total > target) {
    ids.sort(function (a, b) { return sizes[b] - sizes[a]; });
    var big = ids[0];
    var next = ids.length > 1 ? sizes[ids[1]] : 0;
    var take = Math.min(total - target, sizes[big], Math.max(sizes[big] - next, TRIM_STEP));
    if (!(take > 0)) break;
    sizes[big] -= take;
    total -= take;
    cut[big] = (cut[big] || 0) + take;
  }
  Object.keys(cut).forEach(function (rid) { dropOldest(rid, cut[rid]); });
}

// The oldest messages of a room, `size` of them, except own ones still to go out.
function dropOldest(rid, size) {
  var gone = 0;
  replaceMessages(rid, D.msgs[rid].filter(function (m) {
    if (gone >= size || (m.from === D.me && m.st === 'pending')) return true;
    gone += msgSize(m);
    return false;
  }));
}

// The message `mid` of sender `from` (this member when not given) in a room, or null.
function findMsg(rid, mid, from) {
  var list = D.msgs[rid] || [];
  var who = from === undefined ? D.me : from;
  for (var i = list.length - 1; i >= 0; i--) if (list[i].mid === mid && list[i].from === who) return list[i];
  return null;
}

// An own message's mark: 'pending', 'failed', or none once the relay took it.
function setMessageState(rid, m, st) {
  if (st) m.st = st;
  else delete m.st;
  changed('messages', { rid: rid, m: m, kind: 'change' });
}

function replaceMessages(rid, list) {
  D.msgs[rid] = list;
  if ((D.unread[rid] || 0) > list.length) D.unread[rid] = list.length;
  changed('messages', { rid: rid, kind: 'reset' });
}

function countUnread(rid, mentioned) {
  D.unread[rid] = (D.unread[rid] || 0) + 1;
  if (mentioned) D.pings[rid] = true;
  changed('unread', rid);
}

function clearUnread(rid) {
  if (!D.unread[rid] && !D.pings[rid]) return;
  delete D.unread[rid];
  delete D.pings[rid];
  changed('unread', rid);
}

// The relay restarted and every message is gone from it: each room starts again with
// `line`, followed by its own messages that `keep` (message → true) still holds for sending.
function restartHistories(line, keep) {
  var old = D.msgs;
  D.msgs = {};
  D.unread = {};
  D.outbox = {};
  S.sending = new Map();
  D.pings = {};
  Object.keys(D.rooms).forEach(function (id) {
    if (id === 'announcements') return;
    D.msgs[id] = [Object.assign({}, line)].concat((old[id] || []).filter(function (m) { return keep(m, id); }));
    announce('messages', { rid: id, kind: 'reset' });
  });
  announce('unread', null);
  changed('outbox', null);
}

// ---- rooms ----

function putRoom(room) {
  D.rooms[room.id] = room;
  changed('rooms', room.id);
}

function dropRoom(id) {
  delete D.rooms[id];
  delete D.msgs[id];
  delete D.unread[id];
  delete D.pings[id];
  if (S.view === id) setView('friends');
  changed('rooms', id);
}

function ensureDm(other) {
  var id = dmId(other);
  if (!D.rooms[id]) putRoom({ id: id, kind: 'dm', with: other });
  return D.rooms[id];
}

// ---- members ----

// A checked member (S.info) and its certificate (D.dir, D.names). True when it was not
// known here before.
function knowMember(info, cert) {
  var fresh = !own(S.info, info.id);
  var renamed = !fresh && S.info[info.id].name !== info.name;
  S.info[info.id] = info;
  if (!own(D.dir, info.id) || JSON.stringify(D.dir[info.id]) !== JSON.stringify(cert) || D.names[info.id] !== info.name) {
    D.dir[info.id] = cert;
    D.names[info.id] = info.name;
    Vault.save();
  }
  if (fresh || renamed) announce('members', info.id);
  return fresh;
}

// A removed member: gone from the directory and the friends; its name stays for old lines.
function forgetMember(id) {
  delete S.info[id];
  delete D.dir[id];
  delete D.friends[id];
  S.online.delete(id);
  changed('members', id);
}

function setRemovals(list) {
  D.removals = list;
  S.removed = new Set(list.ids);
  changed('members', null);
}

// This member's certificate after a new username.
function setOwnCert(cert) {
  D.cert = cert;
  D.dir[D.me] = cert;
  delete S.info[D.me];
  changed('members', D.me);
}

function setServer(url) {
  D.server = url;
  Vault.save();
}

function setServerBoot(boot) { D.serverBoot = boot; Vault.save(); }

function invitePlaced() {
  if (!D.pendingInvite) return;
  delete D.pendingInvite;
  Vault.save();
}

// ---- the connection (S only) ----

// The status and the banner above the chat: its text, whether it is bad news and an
// optional link button ({ text, run }).
function setStatus(status, text, bad, action) {
  S.status = status;
  S.banner = { text: text || '', bad: !!bad, action: action || null };
  announce('status', status);
}

function setLive(on) { S.live = !!on; }

function setBoot(boot) { S.boot = boot; }

function setOnline(ids) {
  S.online = new Set(ids);
  announce('online', null);
}

function setPresence(id, on) {
  if (on) S.online.add(id);
  else S.online.delete(id);
  announce('online', id);
}

// ---- friends ----

// `st` is 'friend', 'incoming', 'outgoing', or null for none.
function setFriend(id, st) {
  if (st) D.friends[id] = st;
  else delete D.friends[id];
  changed('friends', id);
}

function setBlocked(id, on) {
  if (on) D.blocked[id] = true;
  else delete D.blocked[id];
  announce('blocked', id);
  changed('friends', id);
}

function putWanted(key, typed) {
  D.wanted[key] = typed;
  changed('friends', null);
}

function dropWanted(key) {
  delete D.wanted[key];
  changed('friends', null);
}

// ---- outbox and receipts ----

// The own chat message an outbox entry carries, or null: its line shows how far the
// message got.
function outboxMessage(entry) {
  var p = entry && entry.payload;
  if (!p || p.k !== 'msg' || typeof p.room !== 'string' || typeof p.mid !== 'string') return null;
  var m = findMsg(p.room, p.mid);
  return m ? { rid: p.room, m: m } : null;
}

// The outbox entry of an own chat message still on its way, or null. Kept as an index
// beside D.outbox (room and message id → payload id), rebuilt at unlock.
function outboxOf(rid, mid) {
  var q = S.sending.get(sendingKey(rid, mid));
  return q && own(D.outbox, q) ? D.outbox[q] : null;
}

function sendingKey(rid, mid) { return rid + ' ' + mid; }

function indexOutbox() {
  S.sending = new Map();
  Object.keys(D.outbox).forEach(function (q) {
    var p = D.outbox[q].payload;
    if (p && p.k === 'msg') S.sending.set(sendingKey(p.room, p.mid), q);
  });
}

function outboxChanged(q, entry) {
  var held = outboxMessage(entry);
  if (held) announce('messages', { rid: held.rid, m: held.m, kind: 'change' });
  changed('outbox', q);
}

function putOutbox(q, entry) {
  D.outbox[q] = entry;
  var p = entry.payload;
  if (p && p.k === 'msg') S.sending.set(sendingKey(p.room, p.mid), q);
  outboxChanged(q, entry);
}

// An entry given up (its life ended, its recipients left): its message is not marked
// as delivered.
function dropOutbox(q) {
  var entry = D.outbox[q];
  delete D.outbox[q];
  var key = entry && entry.payload ? sendingKey(entry.payload.room, entry.payload.mid) : null;
  if (key && S.sending.get(key) === q) S.sending.delete(key);
  outboxChanged(q, entry);
}

// Who still has to confirm an entry. The last confirmation deletes it and marks its
// message as delivered to everyone (`dv`).
function setOutboxTo(q, to) {
  var entry = D.outbox[q];
  if (!to.length) {
    var held = outboxMessage(entry);
    if (held) held.m.dv = true;
    return dropOutbox(q);
  }
  entry.to = to;
  outboxChanged(q, entry);
}

// An entry sent again: when, under which relay boot, and how long until the next time.
function markResent(q, boot, wait, at) {
  var e = D.outbox[q];
  e.boot = boot;
  e.wait = wait;
  e.sent = at;
  Vault.save();
}

// Receipts still to send to `from`; written with the vault before any acknowledgement. One
// sender's flood keeps at most RECEIPTS_KEPT of them waiting, the newest: an author whose
// payload went unconfirmed sends it again later and is confirmed then.
var RECEIPTS_KEPT = 2000;

// A flood adds thousands of receipts a second, so whether one is already waiting is
// answered from a set beside each sender's list, not by reading the list: kept for the list
// it was built from, and built again once the list is replaced.
var receiptSets = new WeakMap();

function receiptSet(list) {
  var set = receiptSets.get(list);
  if (!set) receiptSets.set(list, set = new Set(list));
  return set;
}

function addReceipt(from, q) {
  var list = own(D.receipts, from) ? D.receipts[from] : (D.receipts[from] = []);
  var set = receiptSet(list);
  if (set.has(q)) return;
  list.push(q);
  set.add(q);
  if (list.length > RECEIPTS_KEPT) list.splice(0, list.length - RECEIPTS_KEPT).forEach(function (old) { set.delete(old); });
}

function dropReceipts(from, ids) {
  if (!own(D.receipts, from)) return;
  var gone = ids ? new Set(ids) : null;
  var left = gone ? D.receipts[from].filter(function (q) { return !gone.has(q); }) : [];
  if (left.length) D.receipts[from] = left;
  else delete D.receipts[from];
  Vault.save();
}

// ---- announcements and spoken codes ----

function putAnn(entry) {
  D.ann[entry.id] = entry;
  changed('ann', entry.id);
}

function dropAnn(id) {
  delete D.ann[id];
  changed('ann', id);
}

function countAnn() {
  D.unread.announcements = (D.unread.announcements || 0) + 1;
  changed('unread', 'announcements');
}

function putSpoken(entry) {
  D.spoken[entry.id] = entry;
  Vault.save();
}

function dropSpoken(id) {
  delete D.spoken[id];
  Vault.save();
}

// ---- settings ----

function setSetting(key, value) {
  D.settings[key] = value;
  changed('settings', key);
}

// ---- what is open (S only) ----

function setView(id) {
  S.view = id;
  announce('view', id);
}

function setFriendsTab(tab) {
  S.ftab = tab;
  announce('view', 'friends');
}

// Shows a room's whole history instead of its newest SHOWN messages.
function showAll(on) {
  S.all = !!on;
  announce('view', 'all');
}

function setReply(reply) {
  S.reply = reply;
  announce('reply', reply && reply.rid);
}
