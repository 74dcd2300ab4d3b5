// Rooms: group definitions accepted from members, opening a room, and direct messages that
// disappear after 24 hours.

var GROUP_ID = /^g:[0-9a-f]{32}$/;
var MAX_MEMBERS = 200;
var PRUNE_EVERY = 60000;

function cleanMembers(list) {
  var out = [];
  for (var i = 0; i < list.length && out.length < MAX_MEMBERS; i++) {
    var id = list[i];
    if (typeof id === 'string' && P.ID_RE.test(id) && out.indexOf(id) === -1) out.push(id);
  }
  return out;
}

// Groups one member may have added this member to and that are still here: enough for any
// real use, and a bound on what a member who adds this member to thousands can make it keep.
var MAX_GROUPS_FROM = 50;

// A group this member was removed from by someone else: kept, read-only, until deleted here.
function leftOut(room) { return room.kind === 'group' && !!room.removedBy; }

function groupsAddedBy(from) {
  var n = 0;
  Object.keys(D.rooms).forEach(function (id) { if (D.rooms[id].by === from) n++; });
  return n;
}

// A group definition from member `from`; true when it changed something here.
function applyRoom(def, from) {
  if (!isPlainObject(def) || typeof def.id !== 'string' || !GROUP_ID.test(def.id)) return false;
  if (typeof def.rv !== 'number' || !isFinite(def.rv) || !Array.isArray(def.members)) return false;
  if (def.rv > Date.now() + RV_AHEAD) return false;
  var known = own(D.rooms, def.id) && D.rooms[def.id].kind === 'group' ? D.rooms[def.id] : null;
  if (!known && (!isFriend(from) || groupsAddedBy(from) >= MAX_GROUPS_FROM)) return false;
  var members = cleanMembers(def.members);
  var name = typeof def.name === 'string' ? P.cleanName(def.name, P.MAX_ROOM_NAME) : '';
  if (!name || readsAsFixedRoom(name)) return false;
  if (known ? known.members.indexOf(from) === -1 : members.indexOf(from) === -1) return false;
  if (known && !(def.rv > known.rv)) return false;
  var who = nameOf(from);
  if (members.indexOf(D.me) === -1) {
    // Someone else took this member out: the history stays here, read-only, and nothing
    // but a definition that adds this member back changes the group any more.
    if (!known || leftOut(known)) return false;
    putRoom(Object.assign({}, known, { members: members, rv: def.rv, removedBy: from }));
    sysMsg(def.id, who + ' removed you from the group');
    return true;
  }
  var room = Object.assign({}, known || { id: def.id, kind: 'group', by: from }, { name: name, members: members, rv: def.rv });
  delete room.removedBy;
  putRoom(room);
  if (!known || leftOut(known)) {
    sysMsg(def.id, who + ' added you to ' + name);
    notifyFrom(from, 'groups', name, who + ' added you to a group chat');
  } else if (known.name !== name) {
    sysMsg(def.id, who + ' renamed the group to ' + name);
  } else if (known.members.length !== members.length) {
    sysMsg(def.id, who + " changed who's in the group");
  }
  return true;
}

function openRoom(id) {
  if (!D || !own(D.rooms, id)) return;
  pruneDms();
  if (S.view !== id && S.reply) setReply(null);
  showAll(false);
  setView(id);
  clearUnread(id);
  err('chatErr', '');
  closeModal();
  // A person clicked: the room shows in the frame that answers the click.
  runTopics();
  if (id === 'announcements') {
    nat('msw_owner_key', null).then(function (key) {
      var owner = typeof key === 'string' && !!D && key === D.owner;
      if (owner !== S.owner) {
        S.owner = owner;
        announce('view', S.view);
      }
    });
  }
}

// Direct messages live 24 hours; own ones still waiting to go out stay until they do.
function pruneDms() {
  if (!S.unlocked || !D) return;
  var cutoff = Date.now() - DM_TTL;
  Object.keys(D.rooms).forEach(function (id) {
    if (D.rooms[id].kind !== 'dm') return;
    var list = D.msgs[id];
    if (!list || !list.length || !(list[0].at <= cutoff)) return;
    var kept = list.filter(function (m) { return m.at > cutoff || (m.from === D.me && m.st === 'pending'); });
    if (kept.length !== list.length) replaceMessages(id, kept);
  });
}

var pruneTimer = null;

section('rooms', {
  init: function () {
    window.addEventListener('focus', pruneDms);
  },
  start: function () {
    var anyFriend = Object.keys(D.friends).some(isFriend);
    setView(anyFriend || Object.keys(S.info).length > 1 ? 'friends' : 'general');
    pruneDms();
    keepHistoryBudget();
    if (!pruneTimer) pruneTimer = setInterval(pruneDms, PRUNE_EVERY);
  },
});
