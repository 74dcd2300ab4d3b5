// The dialogs that make a group chat and change one: name, adding friends, leaving; and
// for a group someone else removed this member from, deleting what is left of it here.

var FIXED_NAME_TEXT = 'General and Announcements are the rooms everyone has. Pick another name.';

function friendCandidates(except) {
  return Object.keys(S.info)
    .filter(function (id) { return id !== D.me && isFriend(id) && (!except || except.indexOf(id) === -1); })
    .sort(function (a, b) { return nameOf(a).localeCompare(nameOf(b)); });
}

function pickList(ids) {
  return ids.map(function (id) {
    return h('label', { class: 'pick' },
      h('input', { type: 'checkbox', value: id }), avatar(id, 'sm', true), nameBit(nameOf(id)));
  });
}

function picked(card) {
  return Array.prototype.map.call(card.querySelectorAll('input[type="checkbox"]:checked'), function (b) { return b.value; });
}

function newGroupDialog() {
  if (!S.unlocked || !D) return;
  var friends = friendCandidates();
  var name = h('input', { type: 'text', maxlength: '40', placeholder: 'Optional' });
  var line = h('p', { class: 'err', role: 'status' });
  var list = friends.length ? h('div', { class: 'picks' }, pickList(friends))
    : h('p', { class: 'hint', text: 'Group chats are for friends. Add some friends first.' });
  modal('New group chat',
    h('label', { class: 'lbl', text: 'Pick friends' }), list,
    h('label', { class: 'lbl', text: 'Group name' }), name, line,
    h('div', { class: 'row end' },
      h('button', { type: 'button', class: 'link', text: 'Cancel', onclick: closeModal }),
      h('button', {
        type: 'button', class: 'btn', text: 'Create group',
        onclick: function () {
          var ids = picked($('modalCard'));
          if (!ids.length) { line.textContent = 'Pick at least one friend'; return; }
          if (readsAsFixedRoom(P.cleanName(name.value, P.MAX_ROOM_NAME))) { line.textContent = FIXED_NAME_TEXT; return; }
          makeGroup(name.value, ids);
        },
      })));
}

function makeGroup(typed, ids) {
  var name = groupName(P.cleanName(typed, P.MAX_ROOM_NAME) || P.cleanName([D.me].concat(ids).map(nameOf).join(', '), P.MAX_ROOM_NAME));
  var id = 'g:' + P.randomHex(16);
  var room = { id: id, kind: 'group', name: name, members: [D.me].concat(ids), rv: Date.now() };
  putRoom(room);
  sysMsg(id, 'You made ' + name);
  sendPayload(room, { k: 'room', room: roomMeta(room) }).catch(function (e) {
    console.error('mosswire: sending the new group failed:', e);
  });
  closeModal();
  openRoom(id);
  return room;
}

// Applies a change made here: everyone in the old or the new list learns it.
function changeGroup(room, change, note) {
  var next = Object.assign({}, room, change, { rv: Math.max(Date.now(), room.rv + 1) });
  var everyone = room.members.concat(next.members.filter(function (id) { return room.members.indexOf(id) === -1; }));
  sendPayload({ id: room.id, kind: 'group', members: everyone }, { k: 'room', room: roomMeta(next) }).catch(function (e) {
    console.error('mosswire: sending the group change failed:', e);
  });
  if (next.members.indexOf(D.me) !== -1) {
    putRoom(next);
    if (note) sysMsg(room.id, note);
  } else {
    dropRoom(room.id);
  }
  closeModal();
}

function memberList(room) {
  return h('div', { class: 'members' }, room.members.map(function (id) {
    return h('div', { class: 'member' }, avatar(id, 'sm', true), nameBit(nameOf(id)), id === D.me ? ' (you)' : null);
  }));
}

// A group this member is no longer in: who is, and the way to delete its history here.
function leftGroupDialog(room) {
  modal('Group settings',
    h('p', { class: 'hint', text: drawnName(nameOf(room.removedBy)) + ' removed you from this group. Its messages stay on this device until you delete them.' }),
    h('label', { class: 'lbl', text: 'Members' }), memberList(room),
    h('hr'),
    h('div', { class: 'row end' },
      h('button', {
        type: 'button', class: 'link danger', text: 'Delete this chat',
        onclick: function () {
          ask('Delete this chat?', 'Its messages will be deleted from this device.', 'Delete', function () { dropRoom(room.id); }, true);
        },
      }),
      h('button', { type: 'button', class: 'link', text: 'Close', onclick: closeModal })));
}

function groupDialog() {
  var room = D && D.rooms[S.view];
  if (!room || room.kind !== 'group') return;
  if (leftOut(room)) return leftGroupDialog(room);
  var line = h('p', { class: 'err', role: 'status' });
  var name = h('input', { type: 'text', maxlength: '40' });
  name.value = room.name;
  var candidates = friendCandidates(room.members);
  var adding = candidates.length ? h('div', { class: 'picks' }, pickList(candidates))
    : h('p', { class: 'hint', text: room.members.length > 1 ? 'All your friends are already here.' : 'Group chats are for friends. Add some friends first.' });
  modal('Group settings',
    h('label', { class: 'lbl', text: 'Name' }),
    h('div', { class: 'row' }, name, h('button', {
      type: 'button', class: 'link', text: 'Rename',
      onclick: function () {
        var v = P.cleanName(name.value, P.MAX_ROOM_NAME);
        if (v && readsAsFixedRoom(v)) line.textContent = FIXED_NAME_TEXT;
        else if (v && v !== room.name) changeGroup(room, { name: v }, 'You renamed the group to ' + v);
      },
    })), line,
    h('label', { class: 'lbl', text: 'Members' }), memberList(room),
    h('label', { class: 'lbl', text: 'Add friends' }), adding,
    candidates.length ? h('button', {
      type: 'button', class: 'link', text: 'Add',
      onclick: function () {
        var ids = picked($('modalCard'));
        if (!ids.length) return;
        changeGroup(room, { members: room.members.concat(ids) }, 'You added ' + ids.map(nameOf).join(', '));
      },
    }) : null,
    h('hr'),
    h('div', { class: 'row end' },
      h('button', {
        type: 'button', class: 'link danger', text: 'Leave group',
        onclick: function () {
          ask('Leave this group?', "You'll stop getting its messages and its history will be deleted from this device.", 'Leave', function () {
            changeGroup(room, { members: room.members.filter(function (id) { return id !== D.me; }) }, null);
          }, true);
        },
      }),
      h('button', { type: 'button', class: 'link', text: 'Close', onclick: closeModal })));
}

section('groups', {
  init: function () {
    $('newGroup').addEventListener('click', newGroupDialog);
  },
});
