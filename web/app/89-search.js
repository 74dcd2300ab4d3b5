// Finding things: a search over every room's history held in the vault (Ctrl+F, or the
// search button in the chat header) and a jump to a room by its name (Ctrl+K). Both are a
// field over a list that the arrow keys move through and Return opens. The search runs
// here, on the page's copy of the history: nothing of it is sent or written anywhere.

// Choices drawn at a time: enough to fill the list, and more as the reader goes down it,
// so that a keystroke that matches thousands of messages still draws only a screenful.
var FIND = { page: 25 };
// Each message's text folded for matching (lower case, accents gone), made once and kept
// while the message is: a keystroke then costs a scan, not a fold of every message.
var folded = new WeakMap();

// Lower case without accents: "Émile" and "emile" are the same to a search.
function fold(text) {
  return String(text).normalize('NFD').replace(/\p{M}/gu, '').toLowerCase();
}

function foldedOf(m) {
  var f = folded.get(m);
  if (f === undefined) folded.set(m, (f = fold(m.text)));
  return f;
}

// Where `query` (folded) occurs in `text`, in the text's own characters: [start, end) or null.
function matchIn(text, query) {
  var s = String(text);
  if (!query) return null;
  // Most texts fold character for character: the places are the same in both.
  var whole = fold(s);
  if (whole.length === s.length) {
    var i0 = whole.indexOf(query);
    return i0 < 0 ? null : [i0, i0 + query.length];
  }
  var out = '';
  var at = [];
  for (var i = 0; i < s.length;) {
    var cp = s.codePointAt(i);
    var ch = String.fromCodePoint(cp);
    var f = fold(ch);
    for (var k = 0; k < f.length; k++) at.push(i);
    out += f;
    i += ch.length;
  }
  at.push(s.length);
  var found = out.indexOf(query);
  if (found < 0 || !query) return null;
  var end = at[found + query.length];
  // The end is the start of the character after the match.
  return [at[found], end === undefined ? s.length : end];
}

// Every message of every room whose text holds the query, newest first.
function searchMessages(typed) {
  var q = fold(typed).trim();
  if (!q || !D) return [];
  var found = [];
  Object.keys(D.msgs).forEach(function (rid) {
    if (!D.rooms[rid]) return;
    var list = D.msgs[rid];
    for (var i = list.length - 1; i >= 0; i--) {
      var m = list[i];
      if (m.sys || !m.mid || hidden(m) || typeof m.text !== 'string') continue;
      if (foldedOf(m).indexOf(q) !== -1) found.push({ rid: rid, m: m });
    }
  });
  found.sort(function (a, b) { return b.m.at - a.m.at; });
  return found;
}

// The text with the match marked.
function marked(text, query) {
  var span = matchIn(text, fold(query).trim());
  if (!span) return [text];
  return [text.slice(0, span[0]), h('mark', { text: text.slice(span[0], span[1]) }), text.slice(span[1])];
}

function roomLabel(rid) {
  var room = D.rooms[rid];
  if (!room) return '';
  return room.kind === 'general' ? '# General' : chatName(room);
}

/*
 * A field over a list of choices, in the dialog. `opts`: kind (the card's kind), title,
 * label (the field's name), placeholder, items(typed) → [{ el() → its elements, choose }],
 * empty(typed) → the line shown without results, summary(count) → what a screen reader
 * hears.
 */
function listDialog(opts) {
  var input = h('input', { type: 'search', 'aria-label': opts.label, placeholder: opts.placeholder, autocomplete: 'off', spellcheck: 'false', role: 'combobox', 'aria-expanded': 'true', 'aria-controls': 'pickList', 'aria-autocomplete': 'list' });
  var list = h('div', { id: 'pickList', class: 'pick-list', role: 'listbox', 'aria-label': opts.title });
  var note = h('p', { class: 'hint pick-note' });
  // all: every choice for what is typed; drawn: how many of them are in the list.
  var state = { all: [], drawn: 0, sel: 0 };
  function drawMoreChoices() {
    var end = Math.min(state.all.length, state.drawn + FIND.page);
    for (var i = state.drawn; i < end; i++) {
      var item = state.all[i];
      var el = h('div', { id: 'pick' + i, class: 'pick-opt', role: 'option', 'aria-selected': 'false' }, item.el());
      el.addEventListener('mousedown', function (e) { e.preventDefault(); });
      el.addEventListener('click', item.choose);
      list.appendChild(el);
    }
    state.drawn = end;
  }
  function select(i, scroll) {
    if (!state.all.length) return;
    state.sel = Math.max(0, Math.min(state.all.length - 1, i));
    if (state.sel >= state.drawn) drawMoreChoices();
    var opts2 = list.children;
    for (var k = 0; k < opts2.length; k++) {
      var on = k === state.sel;
      opts2[k].classList.toggle('on', on);
      opts2[k].setAttribute('aria-selected', on ? 'true' : 'false');
      if (on) {
        input.setAttribute('aria-activedescendant', opts2[k].id);
        if (scroll && opts2[k].scrollIntoView) opts2[k].scrollIntoView({ block: 'nearest' });
      }
    }
  }
  function fill() {
    var typed = input.value;
    state.all = opts.items(typed);
    state.drawn = 0;
    list.textContent = '';
    list.scrollTop = 0;
    input.removeAttribute('aria-activedescendant');
    drawMoreChoices();
    note.textContent = state.all.length ? '' : opts.empty(typed);
    select(0, false);
    tell(opts.summary(state.all.length));
  }
  list.addEventListener('scroll', function () {
    if (list.scrollTop + list.clientHeight >= list.scrollHeight - 40) drawMoreChoices();
  }, { passive: true });
  input.addEventListener('input', fill);
  input.addEventListener('keydown', function (e) {
    if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
      e.preventDefault();
      select(state.sel + (e.key === 'ArrowDown' ? 1 : -1), true);
    } else if (e.key === 'Enter') {
      e.preventDefault();
      if (state.all[state.sel]) state.all[state.sel].choose();
    } else if (e.key === 'Escape') {
      // Only when Escape is not the black-out key: that one is handled before this.
      e.preventDefault();
      closeModal();
    }
  });
  modal(opts.title, input, note, list, closeBtn());
  $('modalCard').setAttribute('data-kind', opts.kind);
  fill();
  input.focus();
  return input;
}

function openSearch() {
  if (!S.unlocked || S.black || !D) return;
  // Every text folded once as the search opens, so that no keystroke waits for it.
  Object.keys(D.msgs).forEach(function (rid) { D.msgs[rid].forEach(function (m) { if (typeof m.text === 'string') foldedOf(m); }); });
  listDialog({
    kind: 'search',
    title: 'Search messages',
    label: 'Search messages',
    placeholder: 'Search every chat',
    empty: function (typed) { return typed.trim() ? 'No messages match.' : 'Type to search every chat on this computer.'; },
    summary: function (n) { return n === 1 ? '1 message found' : n + ' messages found'; },
    items: function (typed) {
      return searchMessages(typed).map(function (r) {
        return {
          el: function () {
            return [
            h('div', { class: 'pick-head' }, h('bdi', { class: 'pick-room', text: drawnName(roomLabel(r.rid)) }), ' ',
              h('bdi', { class: 'pick-who', text: drawnName(nameOf(r.m.from)) }), ' ', h('span', { class: 'time', text: fmtTime(r.m.at) })),
            h('div', { class: 'pick-text' }, marked(shownText(r.m.text), typed)),
            ];
          },
          choose: function () { showFound(r.rid, r.m); },
        };
      });
    },
  });
}

// Opens the room at a found message, as a reply's quote does.
function showFound(rid, m) {
  closeModal();
  openRoom(rid);
  jumpTo(m.mid, m.from);
  var line = document.querySelector('#log .m.flash');
  if (line) line.focus();
}

// The rooms in the sidebar's order: Friends, General, Announcements, then the inbox.
function roomOrder() {
  return ['friends', 'general', 'announcements'].concat(inboxRooms());
}

function openSwitcher() {
  if (!S.unlocked || S.black || !D) return;
  listDialog({
    kind: 'switch',
    title: 'Go to a chat',
    label: 'Chat name',
    placeholder: 'Type a name',
    empty: function () { return 'No chat has that name.'; },
    summary: function (n) { return n === 1 ? '1 chat' : n + ' chats'; },
    items: function (typed) {
      var q = fold(typed).trim();
      return roomOrder().filter(function (id) {
        return !q || fold(id === 'friends' ? 'Friends' : roomLabel(id)).indexOf(q) !== -1;
      }).map(function (id) {
        return {
          el: function () { return h('bdi', { class: 'pick-room', text: id === 'friends' ? 'Friends' : drawnName(roomLabel(id)) }); },
          choose: function () {
            closeModal();
            openView(id);
          },
        };
      });
    },
  });
}

section('search', {
  init: function () {
    $('searchBtn').addEventListener('click', openSearch);
  },
});
