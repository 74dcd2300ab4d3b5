// The composer: what the text area allows in each room, a draft kept for each room, its
// terminal-style prompt, the counter, the reply bar, the mention list, the keys, and
// sending what it holds.

var MAX_COMPOSER = 140;
var MAX_PICKS = 6;
var PICK_RE = /(?:^|[\s(])@([A-Za-z0-9_.]{0,24})$/;

var picks = { ids: [], sel: 0 };
// The room whose text the box holds now; its draft goes to S.drafts when another opens,
// so text typed for one room never follows the reader into another.
var composer = { room: null };

function promptPath(room) {
  if (room.kind === 'general') return 'general';
  if (room.kind === 'ann') return 'announcements';
  if (room.kind === 'dm') return 'dm/' + drawnName(nameOf(room.with));
  return String(room.name || '').toLowerCase().replace(/[^a-z0-9]+/g, '-').replace(/^-+|-+$/g, '');
}

function drawPrompt(room) {
  var top = $('promptTop');
  top.textContent = '';
  appendKids(top, ['┌──(', h('b', { class: 'pu' }, nameBit(nameOf(D.me))), '㉿mosswire)-[',
    h('b', { class: 'pp' }, nameBit('~/' + promptPath(room))), ']']);
}

function drawCounter() {
  var box = $('msg');
  var left = (box.maxLength > 0 ? box.maxLength : MAX_TEXT) - String(box.value || '').length;
  var el = $('msgLeft');
  el.textContent = left <= 200 ? String(left) : '';
  el.classList.toggle('low', left <= 30);
}

function fitComposer() {
  var box = $('msg');
  // An empty box is one row: no need to measure (and lay out the page) after each send.
  if (!box.value) { box.style.height = ''; return; }
  box.style.height = 'auto';
  box.style.height = Math.min(box.scrollHeight, MAX_COMPOSER) + 'px';
}

// Keeps the box's text as the draft of the room it belongs to and takes out the open
// room's draft, before that room's length limit applies: an announcement's draft is not
// cut to a chat message's length by a visit to another room.
function swapDraft(box) {
  if (composer.room === S.view) return false;
  if (composer.room !== null) S.drafts[composer.room] = box.value;
  composer.room = S.view;
  box.value = '';
  return true;
}

function drawComposer() {
  var room = D && D.rooms[S.view];
  if (!room || !S.unlocked) return;
  var ann = room.kind === 'ann';
  var locked = ann && !S.owner;
  var box = $('msg');
  var opened = swapDraft(box);
  $('annLocked').textContent = 'Only ' + drawnName(ownerName()) + ' can post in Announcements.';
  $('annLocked').classList.toggle('hidden', !locked);
  $('composer').classList.toggle('hidden', locked);
  var noFriend = room.kind === 'dm' && !isFriend(room.with);
  var out = leftOut(room);
  box.maxLength = ann ? MAX_ANN : MAX_TEXT;
  if (opened) box.value = S.drafts[S.view] || '';
  if (typeof box.value === 'string' && box.value.length > box.maxLength) box.value = box.value.slice(0, box.maxLength);
  box.disabled = locked || noFriend || out;
  if (out) box.placeholder = drawnName(nameOf(room.removedBy)) + ' removed you from this group. You can read it until you delete it in Group settings.';
  else if (ann) box.placeholder = 'Post an announcement for everyone (# headings and - bullet points work; Shift+Enter for a new line)';
  else if (noFriend) box.placeholder = 'You can only message friends. Add ' + drawnName(nameOf(room.with)) + ' as a friend to keep chatting.';
  else if (room.kind === 'dm') box.placeholder = 'Message @' + drawnName(nameOf(room.with));
  else if (room.kind === 'general') box.placeholder = 'Message #General (type @ to mention someone)';
  else box.placeholder = 'Message ' + drawnName(room.name);
  box.setAttribute('aria-label', box.placeholder);
  var off = box.disabled || net.stopped;
  $('sendBtn').disabled = off;
  $('gifBtn').disabled = off;
  $('gifBtn').classList.toggle('hidden', ann);
  drawPrompt(room);
  if (opened) fitComposer();
  drawCounter();
  drawReplyBar();
  drawPicks();
}

// After a send: an empty box, one row high.
function clearComposer() {
  var box = $('msg');
  box.value = '';
  S.drafts[S.view] = '';
  fitComposer();
  drawCounter();
  closePicks();
}

// Enter in the composer and the Send button: the text to the open room.
function sendMsg() {
  var box = $('msg');
  var text = box.value.replace(/\s+$/, '').replace(/^[\r\n]+/, '');
  if (!text.trim() || !S.unlocked || S.view === 'friends' || !D.rooms[S.view]) return;
  if (S.view === 'announcements') {
    // Only the owner posts here; the text stays in the box when posting fails.
    postAnnText(text).then(function (ok) {
      if (ok && S.view === 'announcements') clearComposer();
    });
    return;
  }
  if (post(S.view, { text: cut(text, MAX_TEXT) })) clearComposer();
  // The line a person just sent shows in the frame that answers the key.
  runTopics();
}

// ---- replies ----

function startReply(m) {
  setReply({ rid: S.view, mid: m.mid, from: m.from, text: quoteText(m.text) });
  drawReplyBar();
  if (!$('msg').disabled) $('msg').focus();
}

function cancelReply() {
  setReply(null);
  drawReplyBar();
  if (!$('msg').disabled) $('msg').focus();
}

function drawReplyBar() {
  var on = !!S.reply && S.reply.rid === S.view;
  $('replyBar').classList.toggle('hidden', !on);
  var t = $('replyText');
  t.textContent = '';
  if (on) appendKids(t, ['Replying to ', h('b', {}, nameBit(nameOf(S.reply.from))), ' ', h('span', { class: 'rt', text: S.reply.text })]);
}

// ---- the mention list ----

function pickCandidates(room) {
  var ids = [];
  if (room.kind === 'general') ids = Object.keys(S.info);
  else if (room.kind === 'dm') ids = [room.with];
  else if (room.kind === 'group') ids = room.members;
  return ids.filter(function (id) { return id !== D.me && own(S.info, id) && !D.blocked[id]; });
}

function typedMention() {
  var box = $('msg');
  var room = D && D.rooms[S.view];
  if (!room || box.disabled || box.selectionStart !== box.selectionEnd) return null;
  var m = PICK_RE.exec(String(box.value || '').slice(0, box.selectionStart));
  return m ? m[1] : null;
}

function findPicks() {
  var typed = typedMention();
  if (typed === null || document.activeElement !== $('msg')) return [];
  var low = typed.toLowerCase();
  return pickCandidates(D.rooms[S.view]).filter(function (id) {
    return nameOf(id).toLowerCase().indexOf(low) === 0;
  }).sort(function (a, b) {
    var on = (isOnline(b) ? 1 : 0) - (isOnline(a) ? 1 : 0);
    return on || nameOf(a).localeCompare(nameOf(b));
  }).slice(0, MAX_PICKS);
}

function drawPicks() {
  var list = $('pingList');
  picks.ids = S.unlocked && D ? findPicks() : [];
  if (picks.sel >= picks.ids.length) picks.sel = 0;
  list.textContent = '';
  list.classList.toggle('hidden', !picks.ids.length);
  picks.ids.forEach(function (id, i) {
    var opt = h('button', {
      type: 'button', class: 'ping-opt' + (i === picks.sel ? ' on' : ''), role: 'option', tabindex: '-1',
      'aria-selected': i === picks.sel ? 'true' : 'false',
    }, avatar(id, 'sm', true), nameBit(nameOf(id), 'pname'), h('span', { class: 'sub', text: isOnline(id) ? 'Online' : 'Offline' }));
    // Pressing, not clicking: the composer keeps the focus, so the list stays until picked.
    opt.addEventListener('mousedown', function (e) {
      e.preventDefault();
      pickMention(id);
    });
    list.appendChild(opt);
  });
}

function closePicks() {
  picks.ids = [];
  picks.sel = 0;
  $('pingList').textContent = '';
  $('pingList').classList.add('hidden');
}

function pickMention(id) {
  var box = $('msg');
  var before = box.value.slice(0, box.selectionStart);
  var m = PICK_RE.exec(before);
  if (!m) return;
  var start = before.length - m[1].length - 1;
  var put = '@' + nameOf(id) + ' ';
  box.value = before.slice(0, start) + put + box.value.slice(box.selectionStart);
  box.selectionStart = box.selectionEnd = start + put.length;
  closePicks();
  fitComposer();
  drawCounter();
  box.focus();
}

function composerKey(e) {
  var listOpen = picks.ids.length > 0 && !$('pingList').classList.contains('hidden');
  if (listOpen && !e.isComposing) {
    if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
      e.preventDefault();
      var n = picks.ids.length;
      picks.sel = (picks.sel + (e.key === 'ArrowDown' ? 1 : n - 1)) % n;
      var opts = $('pingList').children;
      for (var i = 0; i < opts.length; i++) {
        opts[i].classList.toggle('on', i === picks.sel);
        opts[i].setAttribute('aria-selected', i === picks.sel ? 'true' : 'false');
      }
      return;
    }
    if ((e.key === 'Enter' && !e.shiftKey) || e.key === 'Tab') {
      e.preventDefault();
      pickMention(picks.ids[picks.sel]);
      return;
    }
    if (e.key === 'Escape') {
      e.preventDefault();
      closePicks();
      return;
    }
  }
  if (e.key === 'Enter' && !e.shiftKey && !e.isComposing) {
    e.preventDefault();
    sendMsg();
    return;
  }
  if (e.key === 'Escape' && !e.defaultPrevented && S.reply) {
    e.preventDefault();
    cancelReply();
  }
}

section('composer', {
  init: function () {
    var box = $('msg');
    box.addEventListener('keydown', composerKey);
    box.addEventListener('input', function () {
      fitComposer();
      drawCounter();
      drawPicks();
    });
    box.addEventListener('click', drawPicks);
    box.addEventListener('blur', closePicks);
    $('replyX').addEventListener('click', cancelReply);
    $('sendBtn').addEventListener('click', sendMsg);
  },
  on: {
    'view rooms friends status members reply': function (due) {
      var moved = due.view && composer.room !== S.view;
      drawComposer();
      // A room just opened takes the keys, as a person expects after clicking it.
      if (moved && D && D.rooms[S.view] && !$('msg').disabled && !S.black) $('msg').focus();
    },
  },
});
