// The dialogs that make a group chat and change one: name, adding friends, leaving.

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
          makeGroup(name.value, ids);
        },
      })));
}

function makeGroup(typed, ids) {
  var name = P.cleanName(typed, P.MAX_ROOM_NAME);
  if (!name) name = P.cleanName([D.me].concat(ids).map(nameOf).join(', '), P.MAX_ROOM_NAME);
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

function groupDialog() {
  var room = D && D.rooms[S.view];
  if (!room || room.kind !== 'group') return;
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
        if (v && v !== room.name) changeGroup(room, { name: v }, 'You renamed the group to ' + v);
      },
    })),
    h('label', { class: 'lbl', text: 'Members' }),
    h('div', { class: 'members' }, room.members.map(function (id) {
      return h('div', { class: 'member' }, avatar(id, 'sm', true), nameBit(nameOf(id)), id === D.me ? ' (you)' : null);
    })),
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
