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

// Rooms and message lists that cannot be what their id says are dropped rather than left
// to break every later draw; good entries are kept as they are.
function repairRooms(d) {
  var changed = false;
  Object.keys(d.rooms).forEach(function (id) {
    var r = d.rooms[id];
    var ok = isPlainObject(r) && ROOM_ID.test(id);
    if (ok && id.indexOf('g:') === 0) ok = r.kind === 'group' && Array.isArray(r.members) && typeof r.name === 'string';
    if (ok && id.indexOf('dm:') === 0) ok = r.kind === 'dm' && typeof r.with === 'string';
    if (!ok && id !== 'general' && id !== 'announcements') { delete d.rooms[id]; changed = true; }
  });
  Object.keys(d.msgs).forEach(function (id) {
    var list = d.msgs[id];
    if (!d.rooms[id] || !Array.isArray(list)) { delete d.msgs[id]; changed = true; return; }
    var kept = list.filter(function (m) { return isPlainObject(m) && typeof m.text === 'string'; });
    if (kept.length !== list.length) { d.msgs[id] = kept; changed = true; }
  });
  Object.keys(d.outbox).forEach(function (q) {
    var e = d.outbox[q];
    if (!isPlainObject(e) || !isPlainObject(e.payload) || !Array.isArray(e.to)) { delete d.outbox[q]; changed = true; }
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
  if (repairRooms(d)) changed = true;
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

function ensureDm(other) {
  var id = dmId(other);
  if (!D.rooms[id]) {
    D.rooms[id] = { id: id, kind: 'dm', with: other };
    Vault.save();
  }
  return D.rooms[id];
}
