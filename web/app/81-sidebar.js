// The sidebar: the fixed entries with their badges, the inbox of direct messages and group
// chats, newest first, and the window title with everything still unread.

function lastAt(id) {
  var list = D.msgs[id];
  if (list && list.length) return list[list.length - 1].at || 0;
  return D.rooms[id].rv || 0;
}

function inboxRooms() {
  return Object.keys(D.rooms).filter(function (id) {
    var r = D.rooms[id];
    return r.kind === 'group' || (r.kind === 'dm' && (isFriend(r.with) || (D.msgs[id] || []).length > 0));
  }).sort(function (a, b) { return lastAt(b) - lastAt(a); });
}

function inboxItem(id) {
  var r = D.rooms[id];
  var b = h('span', { class: 'badge hidden' });
  badge(b, D.unread[id] || 0, !!D.pings[id]);
  return h('button', {
    type: 'button', class: 'item' + (S.view === id ? ' on' : ''), 'data-room': id,
    onclick: function () { openRoom(id); },
  },
  r.kind === 'dm' ? avatar(r.with, 'sm', true) : groupAvatar(r, 'sm'),
  h('span', { class: 'iname' }, nameBit(chatName(r)),
    r.kind === 'group' ? h('span', { class: 'sub', text: r.members.length + ' members' }) : null),
  b);
}

var sidebar = { title: null };

// The window's title; told to the host only when it changes.
function drawTitle() {
  var title = 'mosswire';
  if (!S.black) {
    var n = incomingCount();
    Object.keys(D.unread).forEach(function (id) { n += Number(D.unread[id]) || 0; });
    if (n > 0) title = 'mosswire (' + n + ')';
  }
  if (title === sidebar.title) return;
  sidebar.title = title;
  nat('msw_title', null, title);
}

function drawSidebar() {
  if (!S.unlocked || !D) return;
  drawNav();
  badge($('friendsBadge'), incomingCount(), false);
  badge($('generalBadge'), D.unread.general || 0, !!D.pings.general);
  badge($('annBadge'), D.unread.announcements || 0, false);
  var box = $('inbox');
  box.textContent = '';
  var ids = inboxRooms();
  ids.forEach(function (id) { box.appendChild(inboxItem(id)); });
  if (!ids.length) box.appendChild(h('p', { class: 'hint side-hint', text: 'Your direct messages and group chats show up here.' }));
  drawTitle();
}

// Whether a frame's changes show in the sidebar: a message only moves the inbox when it
// lands in a direct or group chat; General and Announcements show counts alone.
function sidebarChanged(due) {
  if (due.rooms || due.unread || due.friends || due.online || due.members || due.view) return true;
  return (due.messages || []).some(function (d) { return d.kind !== 'change' && d.rid !== 'general' && d.rid !== 'announcements'; });
}

section('sidebar', {
  init: function () {
    $('meBox').addEventListener('click', function () { if (S.unlocked && D) profile(D.me); });
  },
  draw: drawSidebar,
  on: {
    'messages unread rooms friends online members view': function (due) {
      if (sidebarChanged(due)) drawSidebar();
    },
  },
});
