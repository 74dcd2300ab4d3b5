// The open room's header: avatar, title, lock line, who is there, and the room's action.

function headerSub(room) {
  if (room.kind === 'general') {
    var n = Object.keys(S.info).length;
    return 'Everyone · ' + n + (n === 1 ? ' member' : ' members');
  }
  if (room.kind === 'ann') return 'News and patch notes';
  if (room.kind === 'dm') return (isOnline(room.with) ? 'Online' : 'Offline') + ' · messages disappear after 24 hours';
  return room.members.map(function (id) { return drawnName(nameOf(id)); }).join(', ');
}

function drawHeader() {
  var room = D && D.rooms[S.view];
  if (!room || !S.unlocked) return;
  var av = $('roomAv');
  av.textContent = '';
  av.className = 'room-av';
  if (room.kind === 'dm') {
    var a = avatar(room.with, null, true);
    a.addEventListener('click', function () { profile(room.with); });
    av.appendChild(a);
  } else if (room.kind === 'group') {
    av.appendChild(groupAvatar(room));
  }
  av.classList.toggle('hidden', room.kind !== 'dm' && room.kind !== 'group');
  var title = $('roomTitle');
  title.textContent = '';
  title.appendChild(nameBit(room.kind === 'general' ? '# General' : chatName(room)));
  $('roomLock').textContent = room.kind === 'ann' ? 'Signed by ' + drawnName(ownerName()) : 'End-to-end encrypted';
  $('roomSub').textContent = headerSub(room);
  var act = $('roomAction');
  act.textContent = '';
  if (room.kind === 'group') {
    act.appendChild(h('button', { type: 'button', class: 'btn ghost small', text: 'Group settings', onclick: groupDialog }));
  } else if (room.kind === 'dm') {
    act.appendChild(h('button', { type: 'button', class: 'btn ghost small', text: 'Profile', onclick: function () { profile(room.with); } }));
  }
  act.classList.toggle('hidden', room.kind !== 'group' && room.kind !== 'dm');
}
