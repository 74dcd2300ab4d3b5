// The message log of the open room: the latest SHOWN lines with a link to the older ones, a
// separator where the day changes, lines of one sender close together, reply quotes that jump
// to what they quote, and the pending and failed marks of own messages. It follows the
// store's topics: a new message is one line appended, a changed mark one line replaced; the
// log is drawn whole only when another room opens or a list was replaced. A reader at the
// bottom stays at the bottom whatever arrives or resizes; a reader further up is told that
// new messages are below.

var GROUP_GAP = 5 * 60000;
// A room opens with its newest lines drawn in the frame that answers the click: as many as
// fill the log at the least height a line takes (LINE_LEAST px), at most FIRST_LINES; the
// rest of its SHOWN lines go in above them, MORE_LINES a frame, so that opening a full
// room never holds the window for the time it takes to lay out lines nobody sees yet.
// Laying out lines is most of an open's cost, so every line past a screenful counts.
var FIRST_LINES = 40;
var LINE_LEAST = 22;
var MORE_LINES = 40;
// More new lines than this in one frame draw the log afresh: cheaper than appending them.
// So does a log that appending has grown past SHOWN + APPEND_MOST while its reader is at
// the bottom: a steady stream would otherwise grow it by thousands of lines, each one more
// for every later frame to lay out. Not while a line has the keyboard's focus, which a
// redraw would take away.
var APPEND_MOST = 100;
// Explicit embeddings and overrides (U+202A to U+202E) and isolates (U+2066 to U+2069) in a
// message would let its sender reorder what the reader sees ("invoice_" + U+202E +
// "fdp.exe" reads as ".exe.pdf"): they are left out of the drawn text, which is isolated on
// its own.
var BIDI_CONTROLS = /[\u202a-\u202e\u2066-\u2069]/g;

// room, all, owner: what the drawn log shows; prev: its last drawn message; stick: the
// reader is at the bottom and stays there.
// rest: the lines still to draw above the drawn ones ({ list, from, upto, older }), or null.
// top: where the log was last scrolled to, to tell the reader going up from a log that shrank.
var logState = { prev: null, room: null, all: false, owner: false, stick: true, top: 0, watch: null, rest: null, height: 0 };

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

// A reply carries its own copy of what it quotes, which its sender can write as they like.
// So a quote shows this reader's own copy of the quoted message when the history holds it;
// one that is not there is shown as what it is, the replying member's words.
function quoteEl(re, rid) {
  var orig = findMsg(rid, re.mid, re.from);
  if (!orig) {
    return h('div', { class: 're unsure', title: "The quoted message is not in your history: these are the sender's words" },
      'quoting ', h('bdi', { class: 'rn', text: drawnName(nameOf(re.from)) }), ' (unverified) ', h('span', { class: 'rt', text: re.text }));
  }
  return h('div', {
    class: 're', title: 'Show the original message',
    onclick: function () { jumpTo(re.mid, re.from); },
  }, h('bdi', { class: 'rn', text: drawnName(nameOf(re.from)) }), ' ',
  h('span', { class: 'rt', text: quoteText(orig.text) }));
}

// What a quote shows of a message: its text on one line, cut to REPLY_TEXT.
function quoteText(text) { return cut(String(text).replace(/\s+/g, ' ').trim(), REPLY_TEXT); }

// Every character that breaks a line counts as a new line, and runs of blank lines in a
// drawn message become one: empty space is no way to make a line look like another line
// of the log (the stored text stays as it came).
var LINE_BREAKS = /\r\n?|[\v\f\u0085\u2028\u2029]/g;
var BLANK_RUNS = /\n(?:[^\S\n]*\n){2,}/g;

function shownText(text) {
  return String(text).replace(BIDI_CONTROLS, '').replace(LINE_BREAKS, '\n').replace(BLANK_RUNS, '\n\n');
}

// How far an own message got, once the relay took it: on its way to its recipients
// ("Delivered to 2 of 5" where there are several), or delivered to every one of them.
function deliveryMark(rid, m) {
  if (m.from !== D.me || m.st || !m.mid) return null;
  var entry = outboxOf(rid, m.mid);
  if (entry) {
    var total = entry.n || entry.to.length;
    var room = D.rooms[rid];
    var words = room && room.kind !== 'dm' && total > 1 ? 'Delivered to ' + (total - entry.to.length) + ' of ' + total : 'Sent';
    return h('span', { class: 'dv', title: words, 'aria-label': words, text: '✓' });
  }
  if (m.dv) return h('span', { class: 'dv done', title: 'Delivered', 'aria-label': 'Delivered', text: '✓✓' });
  return null;
}

function lineOf(m, prev, rid) {
  if (m.sys) return h('div', { class: 'sys', tabindex: '-1' }, h('span', { class: 'text', text: m.text }));
  var mine = m.from === D.me;
  var gif = m.gif ? gifOf(m.gif) : null;
  var cont = !!prev && !prev.sys && prev.from === m.from && !m.re && m.at - prev.at < GROUP_GAP && sameDay(new Date(prev.at), new Date(m.at));
  var body = m.gif ? null : withPings(shownText(m.text));
  var cls = 'm' + (mine ? ' me' : '') + (m.st === 'pending' ? ' pending' : '') + (cont ? ' cont' : '') +
    (!mine && body && body.querySelector('.ping.me') ? ' pinged' : '');
  var el = h('div', { class: cls, tabindex: '-1', 'data-mid': m.mid || null, 'data-from': m.mid ? m.from : null },
    m.re ? quoteEl(m.re, rid) : null,
    h('span', { class: 'time', text: fmtTime(m.at) }), ' ',
    whoEl(m.from, 'who'), ' ',
    gif ? h('span', { class: 'text gif-label', text: 'ASCII GIF: ' + gif.name })
      : h('span', { class: 'text', dir: 'auto' }, body || shownText(m.text)),
    m.st === 'pending' ? h('span', { class: 'conn wait-tag', text: 'Connecting…' }) : null,
    deliveryMark(rid, m),
    m.st === 'failed' ? h('button', {
      type: 'button', class: 'link retry', title: 'Send again', text: 'Not sent · Retry',
      onclick: function () { retry(rid, m.mid); },
    }) : null,
    // Not a stop of Tab on every line: the focused line takes Return or R instead.
    m.mid ? h('button', { type: 'button', class: 'line-act', title: 'Reply', text: 'Reply', tabindex: '-1', onclick: function () { startReply(m); } }) : null,
    gif ? h('pre', { class: 'gif', 'data-gif': gif.id, text: gif.frames[0] }) : null);
  if (gif) playingGifs();
  return el;
}

function hidden(m) { return !m.sys && !!D.blocked[m.from]; }

// Adds one message's line (and the day separator before it when the day changed).
function putLine(target, m, prev, rid) {
  if (!prev || !sameDay(new Date(prev.at), new Date(m.at))) {
    target.appendChild(h('div', { class: 'day' }, h('span', { text: dayText(m.at) })));
  }
  var line = target.appendChild(lineOf(m, prev, rid));
  if (logState.watch) logState.watch.observe(line);
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
    var line = lineOf(m, prev, rid);
    log.replaceChild(line, all[i]);
    if (logState.watch) logState.watch.observe(line);
    return;
  }
}

function appendLine(m, bulk) {
  if (hidden(m)) return;
  var log = $('log');
  var empty = log.querySelector('.sys.start');
  if (empty) empty.remove();
  putLine(log, m, logState.prev, S.view);
  logState.prev = m;
  if (!bulk) followNew(log, m.from === D.me);
}

// After lines were added: the bottom stays in view for a reader who was there (and always
// after this member's own line); anyone reading further up is told there is more below.
function followNew(log, own) {
  if (own) {
    logState.stick = true;
    toBottom(log);
  } else if (logState.stick) keepBottom(log);
  else $('newBelow').classList.remove('hidden');
}

function drawLog() {
  var log = $('log');
  log.textContent = '';
  if (logState.watch) {
    logState.watch.disconnect();
    logState.watch.observe(log);
  }
  logState.prev = null;
  logState.rest = null;
  logState.room = S.view;
  logState.all = !!S.all;
  logState.owner = !!S.owner;
  logState.stick = true;
  $('newBelow').classList.add('hidden');
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
  // Asked for the whole history, the reader gets it at once.
  var first = S.all ? from : Math.max(from, list.length - firstLines());
  var frag = document.createDocumentFragment();
  logState.prev = drawLines(frag, list, from, first, list.length);
  if (!list.length && room.kind !== 'ann') frag.appendChild(h('div', { class: 'sys start' }, h('span', { class: 'text', text: emptyText(room) })));
  log.appendChild(frag);
  logState.rest = { list: list, from: from, upto: first };
  if (first > from) drawRestLater();
  else finishLog();
  toBottom(log);
}

function firstLines() {
  if (!(logState.height > 0)) return FIRST_LINES;
  return Math.min(FIRST_LINES, Math.ceil(logState.height / LINE_LEAST) + 2);
}

// Lines for list[start, end) into `target`, the one before them looked for down to
// list[floor] (the first the log draws, which opens with its day); answers the last one
// drawn, or null.
function drawLines(target, list, floor, start, end) {
  var prev = null;
  for (var j = start - 1; j >= floor && !prev; j--) if (!hidden(list[j])) prev = list[j];
  var last = null;
  for (var i = start; i < end; i++) {
    var m = list[i];
    if (hidden(m)) continue;
    putLine(target, m, prev, S.view);
    prev = last = m;
  }
  return last;
}

function drawRestLater() {
  var rest = logState.rest;
  var next = function () { if (logState.rest === rest) drawMore(MORE_LINES); };
  if (typeof requestAnimationFrame === 'function' && !document.hidden) requestAnimationFrame(next);
  else setTimeout(next, 0);
}

// Up to n more of the room's lines above the drawn ones, the reader's place kept.
function drawMore(n) {
  var rest = logState.rest;
  if (!rest || rest.upto <= rest.from) return;
  var log = $('log');
  var start = Math.max(rest.from, rest.upto - n);
  var frag = document.createDocumentFragment();
  drawLines(frag, rest.list, rest.from, start, rest.upto);
  var before = log.scrollHeight;
  var top = log.scrollTop;
  log.insertBefore(frag, log.firstChild);
  rest.upto = start;
  if (logState.stick) keepBottom(log);
  else logState.top = log.scrollTop = top + log.scrollHeight - before;
  if (rest.upto > rest.from) drawRestLater();
  else finishLog();
}

// Every line that opening draws is in: the link to the older ones goes on top.
function finishLog() {
  var rest = logState.rest;
  if (!rest || rest.from <= 0) return;
  var log = $('log');
  log.insertBefore(h('button', {
    type: 'button', class: 'link older', text: 'Show ' + rest.from + ' older messages',
    onclick: function () {
      showAll(true);
      drawLog();
      logState.stick = false;
      $('log').scrollTop = 0;
    },
  }), log.firstChild);
  rest.from = 0;
}

function toBottom(log) {
  log.scrollTop = log.scrollHeight;
  logState.top = log.scrollTop;
}

// After others' lines went in: the size watcher sees every new line once it is laid out,
// before it is painted, and takes the reader to the bottom then, so nothing here need ask
// for a layout of its own: in a stream that was two extra layouts a frame. (An own line
// still scrolls at once: one line lays out quickly, and its frame is the one people wait
// for.)
function keepBottom(log) {
  if (!logState.watch) toBottom(log);
}

// The reader's place: at the bottom (within 60 pixels) sticks; going up unsticks. A log
// that only got shorter (a smaller window) scrolls without the reader: that changes nothing.
function readerMoved() {
  var log = $('log');
  var top = log.scrollTop;
  if (log.scrollHeight - top - log.clientHeight <= 60) {
    logState.stick = true;
    $('newBelow').classList.add('hidden');
  } else if (top < logState.top) {
    logState.stick = false;
  }
  logState.top = top;
}

// A smaller window, or lines whose real height turns out other than estimated once they
// are laid out (lines off screen are not, until they come near), would push the newest
// line below the fold: a reader at the bottom is kept there. The log and each drawn line
// are watched.
function watchLogSize() {
  if (typeof ResizeObserver !== 'function' || logState.watch) return;
  var log = $('log');
  logState.watch = new ResizeObserver(function (entries) {
    // The log's last shown height, kept so that an open never has to ask for a layout to
    // know how many lines fill it (a hidden log reports 0 and keeps the last one).
    entries.forEach(function (e) {
      if (e.target === log && e.contentRect && e.contentRect.height > 0) logState.height = e.contentRect.height;
    });
    if (logState.stick && S.view !== 'friends') toBottom(log);
  });
  logState.watch.observe(log);
}

// The open room's changes since the last frame: lines appended or replaced where that is
// all that changed, the log drawn afresh where a list was replaced or much arrived.
function logChanges(details) {
  var rid = S.view;
  var adds = [];
  var marks = [];
  var whole = false;
  details.forEach(function (d) {
    if (!d || d.rid !== rid) return;
    if (d.kind === 'reset') whole = true;
    else if (d.kind === 'add') adds.push(d.m);
    else marks.push(d.m);
  });
  var log = $('log');
  var arrivals = adds.filter(function (m) { return !m.sys && m.from !== D.me && !hidden(m); });
  // What each changed mark's line showed before, so that the change is told however the
  // log is brought up to date.
  var changed = marks.filter(function (m) { return adds.indexOf(m) === -1; }).map(function (m) {
    var before = lineOfMessage(m);
    return { m: m, was: before ? before.className : '', retry: !!(before && before.querySelector('.retry')) };
  });
  var overfull = adds.length && !S.all && logState.stick && log.childElementCount + adds.length > SHOWN + APPEND_MOST &&
    !log.contains(document.activeElement);
  if (whole || adds.length > APPEND_MOST || overfull) {
    drawLog();
  } else {
    var own = false;
    adds.forEach(function (m) {
      appendLine(m, true);
      if (m.from === D.me) own = true;
    });
    changed.forEach(function (c) { redrawLine(rid, c.m); });
    if (adds.length) followNew(log, own);
  }
  changed.forEach(function (c) {
    if (/\bpending\b/.test(c.was) && !c.m.st) tell('Sent');
    else if (c.m.st === 'failed' && !c.retry) tell('Not sent');
  });
  tellArrivals(arrivals);
}

// New lines from others, told to a screen reader with who wrote them.
function tellArrivals(list) {
  if (list.length === 1) {
    var m = list[0];
    tell(nameOf(m.from) + ': ' + (m.gif ? 'an ASCII GIF' : cut(shownText(m.text), 160)));
  } else if (list.length > 1) {
    tell(list.length + ' new messages');
  }
}

// The drawn line of a message, or null.
function lineOfMessage(m) {
  if (!m.mid) return null;
  var all = $('log').querySelectorAll('.m[data-mid]');
  for (var i = all.length - 1; i >= 0; i--) {
    if (all[i].getAttribute('data-mid') === m.mid && all[i].getAttribute('data-from') === m.from) return all[i];
  }
  return null;
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
  if (!line && logState.rest) drawMore(Infinity);
  line = line || sel();
  if (!line && !S.all && findMsg(S.view, mid, from)) {
    showAll(true);
    drawLog();
    line = sel();
  }
  if (!line) return;
  logState.stick = false;
  line.scrollIntoView({ block: 'center' });
  line.classList.remove('flash');
  void line.offsetWidth; // restarts the animation on a second jump
  line.classList.add('flash');
}

// The open room's unread marks go once the member can see it.
function markSeen() {
  if (D && D.rooms[S.view]) clearUnread(S.view);
}

function drawChat() {
  if (S.view === 'friends' || !D || !D.rooms[S.view]) return;
  drawHeader();
  drawLog();
  drawComposer();
}

// What the log shows now differs from what is open: another room, the whole history or
// the newest only, or the owner's buttons in Announcements.
function logStale() {
  return logState.room !== S.view || logState.all !== !!S.all || (S.view === 'announcements' && logState.owner !== !!S.owner);
}

section('chat', {
  init: function () {
    window.addEventListener('focus', function () {
      if (S.unlocked && !S.black && focused()) markSeen();
    });
    $('log').addEventListener('scroll', readerMoved, { passive: true });
    $('newBelow').addEventListener('click', function () {
      logState.stick = true;
      toBottom($('log'));
      $('newBelow').classList.add('hidden');
    });
  },
  start: watchLogSize,
  draw: function () {
    if (S.view === 'friends') drawFriends();
    else drawChat();
  },
  on: {
    'view rooms members online': function () {
      if (S.unlocked && D && D.rooms[S.view]) drawHeader();
    },
    'view messages blocked ann': function (due) {
      if (!S.unlocked || !D || S.black || !D.rooms[S.view]) {
        logState.room = null; // what changed meanwhile is drawn whole when a room shows again
        return;
      }
      // Opening a room, even the one open, shows it afresh from its newest line.
      var opened = (due.view || []).some(function (d) { return d !== 'all'; });
      if (opened || logStale() || due.blocked || (due.ann && S.view === 'announcements')) drawLog();
      else if (due.messages) logChanges(due.messages);
    },
  },
});
