// The message log of the open room: the latest SHOWN lines with a link to the older ones, a
// separator where the day changes, lines of one sender close together, reply quotes that jump
// to what they quote, and the pending and failed marks of own messages.

var GROUP_GAP = 5 * 60000;

var logState = { prev: null };

function emptyText(room) {
  if (room.kind === 'general') {
    return 'This is the start of General. Everyone in the network can read what you send here, and nobody else can, not even the server.';
  }
  if (room.kind === 'dm') {
    return 'This is your conversation with ' + drawnName(nameOf(room.with)) + '. Only the two of you can read it, and messages are deleted after 24 hours.';
  }
  return 'This is the start of the group. Only its members can read it.';
}

function dayText(at) {
  var d = new Date(at);
  if (sameDay(d, new Date())) return 'Today';
  var y = new Date();
  y.setDate(y.getDate() - 1);
  if (sameDay(d, y)) return 'Yesterday';
  return WEEKDAY[d.getDay()] + ' ' + d.getDate() + ' ' + MONTH[d.getMonth()] + ' ' + d.getFullYear();
}

function gifOf(id) {
  var G = window.MswGifs;
  return id && G && G.byId && Object.prototype.hasOwnProperty.call(G.byId, id) ? G.byId[id] : null;
}

function quoteEl(re) {
  return h('div', {
    class: 're', title: 'Show the original message',
    onclick: function () { jumpTo(re.mid, re.from); },
  }, h('bdi', { class: 'rn', text: drawnName(nameOf(re.from)) }), ' ', h('span', { class: 'rt', text: re.text }));
}

function lineOf(m, prev, rid) {
  if (m.sys) return h('div', { class: 'sys' }, h('span', { class: 'text', text: m.text }));
  var mine = m.from === D.me;
  var gif = m.gif ? gifOf(m.gif) : null;
  var cont = !!prev && !prev.sys && prev.from === m.from && !m.re && m.at - prev.at < GROUP_GAP && sameDay(new Date(prev.at), new Date(m.at));
  var body = m.gif ? null : withPings(m.text);
  var cls = 'm' + (mine ? ' me' : '') + (m.st === 'pending' ? ' pending' : '') + (cont ? ' cont' : '') +
    (!mine && body && body.querySelector('.ping.me') ? ' pinged' : '');
  var el = h('div', { class: cls, 'data-mid': m.mid || null, 'data-from': m.mid ? m.from : null },
    m.re ? quoteEl(m.re) : null,
    h('span', { class: 'time', text: fmtTime(m.at) }), ' ',
    whoEl(m.from, 'who'), ' ',
    gif ? h('span', { class: 'text gif-label', text: 'ASCII GIF: ' + gif.name })
      : h('span', { class: 'text' }, body || String(m.text)),
    m.st === 'pending' ? h('span', { class: 'conn wait-tag', text: 'Connecting…' }) : null,
    m.st === 'failed' ? h('button', {
      type: 'button', class: 'link retry', title: 'Send again', text: 'Not sent · Retry',
      onclick: function () { retry(rid, m.mid); },
    }) : null,
    m.mid ? h('button', { type: 'button', class: 'line-act', title: 'Reply', text: 'Reply', onclick: function () { startReply(m); } }) : null,
    gif ? h('pre', { class: 'gif', 'data-gif': gif.id, text: gif.frames[0] }) : null);
  return el;
}

function hidden(m) { return !m.sys && !!D.blocked[m.from]; }

// Adds one message's line (and the day separator before it when the day changed).
function putLine(target, m, prev, rid) {
  if (!prev || !sameDay(new Date(prev.at), new Date(m.at))) {
    target.appendChild(h('div', { class: 'day' }, h('span', { text: dayText(m.at) })));
  }
  target.appendChild(lineOf(m, prev, rid));
}

// Redraws one own line whose mark changed (sent, failed, pending again) in place.
function redrawLine(rid, m) {
  if (S.view !== rid || !m.mid) return;
  var log = $('log');
  var all = log.querySelectorAll('.m[data-mid]');
  for (var i = all.length - 1; i >= 0; i--) {
    if (all[i].getAttribute('data-mid') !== m.mid || all[i].getAttribute('data-from') !== m.from) continue;
    var list = D.msgs[rid] || [];
    var at = list.lastIndexOf(m);
    var prev = null;
    for (var j = at - 1; j >= 0 && !prev; j--) if (!hidden(list[j])) prev = list[j];
    log.replaceChild(lineOf(m, prev, rid), all[i]);
    return;
  }
}

function appendLine(m, bulk) {
  if (hidden(m)) return;
  var log = $('log');
  var atBottom = log.scrollHeight - log.scrollTop - log.clientHeight <= 60;
  var empty = log.querySelector('.sys.start');
  if (empty) empty.remove();
  putLine(log, m, logState.prev, S.view);
  logState.prev = m;
  if (!bulk && (atBottom || m.from === D.me)) toBottom(log);
}

function drawLog() {
  var log = $('log');
  log.textContent = '';
  logState.prev = null;
  var room = D && D.rooms[S.view];
  if (!room || !S.unlocked || S.black) return;
  if (room.kind === 'ann') {
    var drawn = false;
    SECTIONS.forEach(function (s) {
      if (s.annLog) { s.annLog(log); drawn = true; }
    });
    if (drawn) return;
  }
  var list = D.msgs[S.view] || [];
  var from = S.all ? 0 : Math.max(0, list.length - SHOWN);
  var frag = document.createDocumentFragment();
  if (from > 0) {
    frag.appendChild(h('button', {
      type: 'button', class: 'link older', text: 'Show ' + from + ' older messages',
      onclick: function () {
        S.all = true;
        drawLog();
        $('log').scrollTop = 0;
      },
    }));
  }
  var prev = null;
  for (var i = from; i < list.length; i++) {
    var m = list[i];
    if (hidden(m)) continue;
    putLine(frag, m, prev, S.view);
    prev = m;
  }
  if (!list.length && room.kind !== 'ann') frag.appendChild(h('div', { class: 'sys start' }, h('span', { class: 'text', text: emptyText(room) })));
  logState.prev = prev;
  log.appendChild(frag);
  toBottom(log);
}

// Lines off screen are laid out with an estimated height until seen, so the bottom is
// settled once more after the lines there have been drawn.
function toBottom(log) {
  log.scrollTop = log.scrollHeight;
  if (typeof requestAnimationFrame !== 'function') return;
  requestAnimationFrame(function () {
    if (log.scrollHeight - log.scrollTop - log.clientHeight < 200) log.scrollTop = log.scrollHeight;
  });
}

function jumpTo(mid, from) {
  var sel = function () {
    var all = $('log').querySelectorAll('[data-mid]');
    for (var i = 0; i < all.length; i++) {
      if (all[i].getAttribute('data-mid') === mid && all[i].getAttribute('data-from') === from) return all[i];
    }
    return null;
  };
  var line = sel();
  if (!line && !S.all && findMsg(S.view, mid, from)) {
    S.all = true;
    drawLog();
    line = sel();
  }
  if (!line) return;
  line.scrollIntoView({ block: 'center' });
  line.classList.remove('flash');
  void line.offsetWidth; // restarts the animation on a second jump
  line.classList.add('flash');
}

// The open room's unread marks go once the member can see it.
function markSeen() {
  if (!D || !D.rooms[S.view] || (!D.unread[S.view] && !D.pings[S.view])) return;
  delete D.unread[S.view];
  delete D.pings[S.view];
  Vault.save();
  drawSidebar();
}

function drawChat() {
  if (S.view === 'friends' || !D || !D.rooms[S.view]) return;
  drawHeader();
  drawLog();
  drawComposer();
}

section('chat', {
  init: function () {
    window.addEventListener('focus', function () {
      if (S.unlocked && !S.black && focused()) markSeen();
    });
  },
  draw: function () {
    if (S.view === 'friends') drawFriends();
    else drawChat();
  },
});
