// The chat view as plain as it can be: the sidebar's badges and inbox, the room header, the
// log (every line's text set as text), and the composer. The full chat view replaces these
// drawing functions and keeps their names, which the other sections call.

function fmtTime(at) {
  var d = new Date(at);
  var p = function (n) { return (n < 10 ? '0' : '') + n; };
  return p(d.getHours()) + ':' + p(d.getMinutes());
}

function roomName(room) {
  if (room.kind === 'dm') return nameOf(room.with);
  return room.name || '';
}

function badge(el, n, ping) {
  el.textContent = n ? (ping ? '@ ' : '') + (n > 99 ? '99+' : String(n)) : '';
  el.classList.toggle('hidden', !n);
  el.classList.toggle('ping', !!ping);
}

function lastAt(id) {
  var list = D.msgs[id];
  if (list && list.length) return list[list.length - 1].at || 0;
  return D.rooms[id].rv || 0;
}

function drawSidebar() {
  if (!S.unlocked || !D) return;
  drawMe();
  drawNav();
  badge($('generalBadge'), D.unread.general || 0, !!D.pings.general);
  badge($('annBadge'), D.unread.announcements || 0, false);
  var box = $('inbox');
  box.textContent = '';
  var ids = Object.keys(D.rooms).filter(function (id) {
    var r = D.rooms[id];
    return r.kind === 'group' || (r.kind === 'dm' && (isFriend(r.with) || (D.msgs[id] || []).length));
  }).sort(function (a, b) { return lastAt(b) - lastAt(a); });
  ids.forEach(function (id) {
    var r = D.rooms[id];
    var b = h('span', { class: 'badge hidden' });
    badge(b, D.unread[id] || 0, !!D.pings[id]);
    box.appendChild(h('button', {
      type: 'button', class: 'item' + (S.view === id ? ' on' : ''), 'data-room': id,
      onclick: function () { openRoom(id); },
    }, avatar(r.kind === 'dm' ? r.with : id, roomName(r), true), h('span', { class: 'iname', text: roomName(r) }),
    r.kind === 'group' ? h('span', { class: 'sub', text: r.members.length + ' members' }) : null, b));
  });
  if (!ids.length) box.appendChild(h('p', { class: 'hint', text: 'Your direct messages and group chats show up here.' }));
}

function drawFriends() {
  if (!S.unlocked || !D || S.view !== 'friends') return;
  var body = $('friendsBody');
  body.textContent = '';
  var ids = Object.keys(S.info).filter(function (id) { return id !== D.me; });
  if (!ids.length) { body.appendChild(h('p', { class: 'empty', text: 'Nobody else is here yet.' })); return; }
  ids.sort(function (a, b) { return nameOf(a).localeCompare(nameOf(b)); }).forEach(function (id) {
    body.appendChild(h('div', { class: 'person', 'data-id': id }, avatar(id, nameOf(id), true),
      h('span', { class: isOnline(id) ? 'dot on' : 'dot' }), h('span', { text: nameOf(id) }),
      isFriend(id) ? h('button', { type: 'button', class: 'btn ghost small', text: 'Message', onclick: function () { openRoom(ensureDm(id).id); } }) : null));
  });
}

function drawHeader() {
  var room = D && D.rooms[S.view];
  if (!room) return;
  $('roomAv').textContent = room.kind === 'general' ? '#' : roomName(room).charAt(0);
  $('roomTitle').textContent = roomName(room);
  var sub = '';
  if (room.kind === 'general') sub = 'Everyone in the network';
  else if (room.kind === 'group') sub = room.members.length + ' members';
  else if (room.kind === 'dm') sub = isOnline(room.with) ? 'Online' : 'Offline';
  $('roomSub').textContent = sub;
  var act = $('roomAction');
  act.textContent = '';
  if (room.kind === 'group') act.appendChild(h('button', { type: 'button', class: 'btn ghost small', text: 'Group settings', onclick: groupDialog }));
}

function lineOf(m) {
  if (m.sys) return h('div', { class: 'sys' }, h('span', { class: 'time', text: fmtTime(m.at) }), ' ', h('span', { class: 'text', text: m.text }));
  var mine = m.from === D.me;
  var cls = 'm' + (mine ? ' me' : '') + (m.st === 'pending' ? ' pending' : '') + (!mine && !m.gif && pingsMe(m.text) ? ' pinged' : '');
  var rid = S.view;
  return h('div', { class: cls, 'data-mid': m.mid },
    m.re ? h('div', { class: 're' }, h('span', { class: 'rn', text: nameOf(m.re.from) }), ' ', h('span', { class: 'rt', text: m.re.text })) : null,
    h('span', { class: 'time', text: fmtTime(m.at) }), ' ',
    h('b', { class: 'who', text: nameOf(m.from) }), ' ',
    h('span', { class: 'text', text: m.text }),
    m.st === 'pending' ? h('span', { class: 'conn wait-tag', text: ' Connecting…' }) : null,
    m.st === 'failed' ? h('button', { type: 'button', class: 'link retry', title: 'Send again', text: 'Not sent · Retry', onclick: function () { retry(rid, m.mid); } }) : null);
}

function drawLog() {
  var room = D && D.rooms[S.view];
  var log = $('log');
  log.textContent = '';
  if (!room) return;
  var list = D.msgs[S.view] || [];
  list.slice(S.all ? 0 : -SHOWN).forEach(function (m) { log.appendChild(lineOf(m)); });
  log.scrollTop = log.scrollHeight;
}

function appendLine(m) {
  var log = $('log');
  var near = log.scrollHeight - log.scrollTop - log.clientHeight < 80;
  log.appendChild(lineOf(m));
  if (near || m.from === D.me) log.scrollTop = log.scrollHeight;
}

function drawComposer() {
  var room = D && D.rooms[S.view];
  var locked = !!room && room.kind === 'ann' && !S.owner;
  $('annLocked').classList.toggle('hidden', !locked);
  $('composer').classList.toggle('hidden', locked || !room);
  var box = $('msg');
  box.disabled = !room || locked;
  if (room) {
    box.placeholder = room.kind === 'general' ? 'Message #General (type @ to mention someone)'
      : room.kind === 'dm' ? 'Message @' + nameOf(room.with) : 'Message ' + roomName(room);
  }
}

function drawReplyBar() {
  var bar = $('replyBar');
  bar.classList.toggle('hidden', !S.reply);
  $('replyText').textContent = S.reply ? 'Replying to ' + nameOf(S.reply.from) : '';
}

function drawChat() {
  if (S.view === 'friends') return;
  drawHeader();
  drawLog();
  drawComposer();
  drawReplyBar();
}

// The open room's unread marks go once the member can see it.
function markSeen() {
  if (!D || !D.rooms[S.view] || (!D.unread[S.view] && !D.pings[S.view])) return;
  delete D.unread[S.view];
  delete D.pings[S.view];
  Vault.save();
  drawSidebar();
}

section('chat', {
  init: function () {
    $('msg').addEventListener('keydown', function (e) {
      if (e.key === 'Enter' && !e.shiftKey && !e.isComposing) {
        e.preventDefault();
        sendMsg();
      }
    });
    window.addEventListener('focus', function () {
      if (S.unlocked && !S.black && focused()) markSeen();
    });
  },
  draw: function () {
    drawSidebar();
    if (S.view === 'friends') drawFriends();
    else drawChat();
  },
});
