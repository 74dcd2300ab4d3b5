// The persisted record D as every later section may rely on it, whatever version of the
// program wrote the vault, and the read helpers all sections share.

var DEFAULT_SETTINGS = {
  panicCode: 'Escape',
  panicGlobal: false,
  notify: true,
  previews: true,
  wipeSet: false,
  startup: true,
};

function isPlainObject(v) { return !!v && typeof v === 'object' && !Array.isArray(v); }

// Brings D up to the current shape at every unlock, before anything else reads it.
// Answers true when something changed that must be saved.
function normalise(d, now) {
  var changed = false;
  now = now || Date.now();
  // Fields added by later versions, and containers a damaged vault may lack: an absent map
  // is an empty one. Nothing present is replaced.
  ['friends', 'blocked', 'outbox', 'wanted', 'ann', 'pings', 'spoken',
    'rooms', 'msgs', 'unread', 'dir', 'names'].forEach(function (k) {
    if (!isPlainObject(d[k])) { d[k] = {}; changed = true; }
  });
  Object.keys(d.spoken).forEach(function (id) {
    var e = d.spoken[id];
    if (!e || typeof e.exp !== 'number' || !(e.exp > now)) { delete d.spoken[id]; changed = true; }
  });
  if (!isPlainObject(d.rooms.general)) {
    d.rooms.general = { id: 'general', kind: 'general', name: 'General' };
    changed = true;
  }
  if (!isPlainObject(d.rooms.announcements)) {
    d.rooms.announcements = { id: 'announcements', kind: 'ann', name: 'Announcements' };
    changed = true;
  }
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
