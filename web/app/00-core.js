// The chat client's shared ground: the two records every section reads and changes (D, the
// vault data; S, what lives only while the page runs), the client's constants, and the small
// page helpers every screen uses. Sections after this one are joined into the same closure,
// so everything declared here is theirs too.

var P = window.MswProto;
var C = window.MswConfig;

var INVITE_PREFIX = P.INVITE1;
var MAX_HISTORY = 3000;
var SHOWN = 400;
var REPLY_TEXT = P.REPLY_TEXT;
var DM_TTL = 24 * 3600000;
var OUTBOX_TTL = 14 * 24 * 3600000;
var RESEND_AFTER = 6 * 3600000;
var MAX_TEXT = P.MAX_TEXT;
var MAX_ANN = P.MAX_ANN;

// The persisted record: Vault.data while unlocked, else null.
var D = null;

// The in-memory record, fresh at every page load.
var S = {
  info: {},
  removed: new Set(),
  online: new Set(),
  box: null,
  unlocked: false,
  black: false,
  away: undefined,
  capturing: false,
  view: 'friends',
  ftab: 'online',
  status: 'offline',
  banner: { text: '', bad: false, action: null },
  live: false,
  reply: null,
  all: false,
  drafts: {},
  sending: new Map(),
  fg: null,
  owner: false,
  boot: undefined,
};

var SCREENS = ['sWelcome', 'sSetPin', 'sUnlock', 'sUpdate', 'sGone', 'sMain'];

// Texts that name the operating system get this platform's wording.
var PLATFORM = (function () {
  var p = String(navigator.platform || '') + ' ' + String(navigator.userAgent || '');
  if (/Win/.test(navigator.platform || '')) return 'windows';
  if (/Mac/.test(navigator.platform || '')) return 'mac';
  if (/Linux|X11|CrOS/.test(p)) return 'linux';
  return 'windows';
})();

function byOs(texts) {
  return texts[PLATFORM] !== undefined ? texts[PLATFORM] : texts.windows;
}

function $(id) { return document.getElementById(id); }

// h(tag, attrs, ...children): elements are always built this way, with text set as text,
// so nothing that came from a peer, a code or a name can ever be read as markup.
function h(tag, attrs) {
  var el = document.createElement(tag);
  if (attrs) {
    Object.keys(attrs).forEach(function (name) {
      var v = attrs[name];
      if (v === null || v === undefined || v === false) return;
      if (name.slice(0, 2) === 'on') {
        // Only functions: an on… attribute set from text would be an inline handler.
        if (typeof v === 'function') el.addEventListener(name.slice(2), v);
      } else if (name === 'class') el.className = v;
      else if (name === 'text') el.textContent = v;
      else if (name === 'style') el.style.cssText = v;
      else el.setAttribute(name, v === true ? '' : v);
    });
  }
  appendKids(el, Array.prototype.slice.call(arguments, 2));
  return el;
}

function appendKids(el, kids) {
  kids.forEach(function (k) {
    if (k === null || k === undefined || k === false) return;
    if (Array.isArray(k)) appendKids(el, k);
    else if (k instanceof Node) el.appendChild(k);
    else el.appendChild(document.createTextNode(String(k)));
  });
}

function show(id) {
  SCREENS.forEach(function (s) { $(s).classList.toggle('hidden', s !== id); });
  setTimeout(function () {
    var screen = $(id);
    if (screen.classList.contains('hidden')) return;
    var first = screen.querySelector('input:not([type="hidden"]):not([type="checkbox"]), textarea');
    if (first && first.offsetParent !== null) first.focus();
  }, 30);
}

function err(id, text, ok) {
  var el = $(id);
  el.textContent = text || '';
  el.classList.toggle('ok', !!ok);
}

function digitsOnly(input) {
  input.addEventListener('input', function () {
    var clean = input.value.replace(/\D+/g, '');
    if (clean !== input.value) input.value = clean;
  });
}

function validPin(p) { return /^\d{4,12}$/.test(String(p)); }

// The dialog: one card at a time. While it is open the keyboard stays inside it, and when
// it closes the focus goes back to where it was before it opened.
var dialog = { back: null };

function modal(title) {
  var card = $('modalCard');
  if (!modalOpen()) dialog.back = document.activeElement;
  card.textContent = '';
  card.removeAttribute('data-kind');
  card.removeAttribute('aria-label');
  if (title) card.appendChild(h('h2', { text: title }));
  appendKids(card, Array.prototype.slice.call(arguments, 1));
  // The dialog is named by its first heading, wherever its body put it.
  var head = card.querySelector('h2, h3');
  if (head) {
    head.id = 'modalTitle';
    card.setAttribute('aria-labelledby', 'modalTitle');
  } else {
    card.removeAttribute('aria-labelledby');
  }
  $('modal').classList.remove('hidden');
  if (!card.contains(document.activeElement)) card.focus();
  setTimeout(function () {
    var first = card.querySelector('input:not([type="checkbox"])') || card.querySelector('textarea');
    if (first) first.focus();
    else if (!card.contains(document.activeElement)) card.focus();
  }, 30);
}

// Tab and Shift+Tab go round the dialog's own controls.
function keepFocusIn(e) {
  if (e.key !== 'Tab' || !modalOpen()) return;
  var all = Array.prototype.filter.call($('modalCard').querySelectorAll('button, input, textarea, select, [tabindex]:not([tabindex="-1"])'),
    function (el) { return !el.disabled && el.offsetParent !== null; });
  if (!all.length) return;
  var at = all.indexOf(document.activeElement);
  if (e.shiftKey && at <= 0) {
    e.preventDefault();
    all[all.length - 1].focus();
  } else if (!e.shiftKey && (at === -1 || at === all.length - 1)) {
    e.preventDefault();
    all[0].focus();
  }
}

// Tells a screen reader something that shows without taking the focus (a new message, a
// status). The same words twice are told twice: a changed text is what it reads out.
function tell(text) {
  var el = $('announcer');
  el.textContent = el.textContent === text ? text + '\u00a0' : text;
}

function closeModal() {
  var back = dialog.back;
  dialog.back = null;
  $('modal').classList.add('hidden');
  $('modalCard').textContent = '';
  if (back && back.isConnected && typeof back.focus === 'function' && !S.black) back.focus();
  S.capturing = false;
}

function modalOpen() { return !$('modal').classList.contains('hidden'); }

function ask(title, text, yes, action, danger) {
  modal(title,
    h('p', { class: 'hint', text: text }),
    h('div', { class: 'row end' },
      h('button', { type: 'button', class: 'link', text: 'Cancel', onclick: closeModal }),
      h('button', {
        type: 'button', class: danger ? 'btn danger' : 'btn', text: yes,
        onclick: function () { closeModal(); action(); },
      })));
}

function closeBtn() {
  return h('div', { class: 'row end' }, h('button', { type: 'button', class: 'link', text: 'Close', onclick: closeModal }));
}

function gone(title, message, noErase) {
  $('goneTitle').textContent = title;
  $('goneMsg').textContent = message;
  $('goneErase').classList.toggle('hidden', !!noErase);
  show('sGone');
}

// The page's sections, in file order. Each registers what it provides:
//   init()          wires its DOM handlers, once, when the page loads;
//   start()         runs (awaited, in order) at every unlocked start, after D is normalised;
//   ready()         runs once the main screen first shows after that start;
//   draw()          takes part in the full redraw while unlocked (unlock, the end of a
//                   black-out, a new username);
//   on              'topic topic …' → handler(due): what the section redraws when the
//                   store announces any of those topics (below); run at most once a frame,
//                   in section order, with due = { topic: [every detail announced since] }
//                   for the topics of that key that were announced;
//   frames          relay frame type → handler(frame), awaited by the frame queue;
//   early           relay frame type → fn(frame), run as the frame arrives, before the
//                   frames ahead of it are handled: work that depends on nothing they
//                   change (opening an envelope) starts at once;
//   welcome(f)      after the relay's welcome has been taken in, with that frame;
//   signedIn()      after a sign-in, once the held messages went out;
//   memberJoined(i) after a member frame admitted a new member, with its information;
//   friend(op, from, at, payload)   a friend control received from a member;
//   settings()      the settings button;
//   annLog(log)     draws the Announcements room's log into `log`.
// Logic sections change D and the network part of S only through the store (05-state.js)
// and never draw; view sections draw from D and S when a topic says what changed. A
// section never probes for another: what is not registered simply does not run.
var SECTIONS = [];
var FRAMES = {};
var EARLY = {};
var VIEWS = []; // { topics, fn } in section order
var TOPICS = {}; // topic → true when some view listens to it

function section(name, parts) {
  parts.name = name;
  SECTIONS.push(parts);
  Object.keys(parts.frames || {}).forEach(function (t) {
    if (FRAMES[t]) throw new Error('two sections handle the frame ' + t);
    FRAMES[t] = parts.frames[t];
  });
  Object.keys(parts.early || {}).forEach(function (t) { EARLY[t] = parts.early[t]; });
  Object.keys(parts.on || {}).forEach(function (key) {
    var topics = key.split(' ').filter(Boolean);
    topics.forEach(function (t) { TOPICS[t] = true; });
    VIEWS.push({ topics: topics, fn: parts.on[key] });
  });
  return parts;
}

function initSections() {
  SECTIONS.forEach(function (s) { if (s.init) s.init(); });
}

async function startSections() {
  for (var i = 0; i < SECTIONS.length; i++) if (SECTIONS[i].start) await SECTIONS[i].start();
}

function drawSections() {
  SECTIONS.forEach(function (s) { if (s.draw) s.draw(); });
}

/*
 * Topics: what the store announces after a change, for the views to redraw. A burst of
 * changes (a thousand envelopes after a weekend away) must not redraw the sidebar and the
 * log a thousand times, so announcements only collect here, and the views run once, at
 * the next frame, with every detail collected since. A hidden window draws no frames: its
 * views run on a timer instead, so that the title still counts what arrives, and a window
 * that hides with views still due runs them as it goes.
 */
var HIDDEN_WAIT = 250;
var topicsDue = { details: null, asked: false };

function announce(topic, detail) {
  if (!TOPICS[topic]) return;
  var due = topicsDue.details || (topicsDue.details = {});
  (due[topic] = due[topic] || []).push(detail === undefined ? true : detail);
  if (topicsDue.asked) return;
  topicsDue.asked = true;
  if (typeof requestAnimationFrame === 'function' && !document.hidden) requestAnimationFrame(runTopics);
  else setTimeout(runTopics, HIDDEN_WAIT);
}

// Runs every view for what was announced since the last run; also at once where a view
// must be current before the page goes on (after a person's own action, for one).
function runTopics() {
  topicsDue.asked = false;
  var due = topicsDue.details;
  topicsDue.details = null;
  if (!due) return;
  VIEWS.forEach(function (v) {
    var mine = null;
    v.topics.forEach(function (t) {
      if (due[t]) (mine = mine || {})[t] = due[t];
    });
    if (!mine) return;
    try {
      v.fn(mine);
    } catch (e) {
      console.error('mosswire: redrawing for ' + v.topics.join(', ') + ' failed:', e);
    }
  });
}

// Runs the named hook of every section that has one, in order, each awaited.
async function hook(name) {
  var args = Array.prototype.slice.call(arguments, 1);
  for (var i = 0; i < SECTIONS.length; i++) {
    var fn = SECTIONS[i][name];
    if (typeof fn === 'function') await fn.apply(null, args);
  }
}

// The one way the page calls a native function: nat(name, fallback, ...args). A function
// that is missing or rejects answers `fallback` instead; callers that must see the failure
// call window.msw_… themselves.
function nat(name, fallback) {
  var args = Array.prototype.slice.call(arguments, 2);
  try {
    if (typeof window[name] !== 'function') return Promise.resolve(fallback);
    return Promise.resolve(window[name].apply(window, args)).catch(function () { return fallback; });
  } catch (e) {
    return Promise.resolve(fallback);
  }
}

section('core', {
  init: function () {
    window.addEventListener('keydown', keepFocusIn);
    if (document.addEventListener) {
      document.addEventListener('visibilitychange', function () { if (document.hidden) runTopics(); });
    }
    $('modal').addEventListener('mousedown', function (e) {
      if (e.target === $('modal')) closeModal();
    });
    $('goneErase').addEventListener('click', function () {
      ask('Erase this device?',
        'This deletes everything mosswire has stored on this computer: your identity, messages and settings. It cannot be undone.',
        'Erase', wipe, true);
    });
  },
});

// A batch that runs `run` once additions pause for `wait` ms, and at the latest `most` ms
// after the first addition it holds: a steady trickle must not hold it back for ever.
// A flood adds thousands a second, so an addition only moves the time it is due; the one
// timer looks again when it fires, instead of every addition replacing it.
function batcher(wait, most, run) {
  var timer = null;
  var timerAt = 0;
  var due = 0;
  var cap = null;
  function arm(at) {
    clearTimeout(timer);
    timerAt = at;
    timer = setTimeout(look, Math.max(0, at - Date.now()));
  }
  function look() {
    timer = null;
    if (Date.now() >= due) fire();
    else arm(due);
  }
  function fire() {
    clearTimeout(timer);
    clearTimeout(cap);
    timer = cap = null;
    run();
  }
  return {
    add: function () {
      due = Date.now() + wait;
      if (!timer || timerAt > due) arm(due);
      if (!cap) cap = setTimeout(fire, most);
    },
    // Runs later, after `ms`, unless an addition runs it sooner.
    later: function (ms) {
      if (timer) return;
      due = Date.now() + ms;
      arm(due);
    },
    armed: function () { return !!timer; },
  };
}

// Work that runs on without waiting for anything (a queue of envelopes whose payloads are
// already open) would otherwise hold the window for as long as the queue is: breather()
// gives the event loop a turn once the running slice is over SLICE_MS old, so keys, clicks
// and frames get in between, and answers at once otherwise. A turn is a message to
// ourselves, which no timer clamping delays.
var SLICE_MS = 8;
var slice = { at: -Infinity, channel: null, waiting: [] };

function nextTurn() {
  if (typeof MessageChannel !== 'function') return Promise.resolve();
  if (!slice.channel) {
    slice.channel = new MessageChannel();
    slice.channel.port1.onmessage = function () { var go = slice.waiting.shift(); if (go) go(); };
  }
  return new Promise(function (go) {
    slice.waiting.push(go);
    slice.channel.port2.postMessage(0);
  });
}

function breather() {
  if (performance.now() - slice.at < SLICE_MS) return null;
  return nextTurn().then(function () { slice.at = performance.now(); });
}

// The message of a failure, in words a person can act on.
function failText(e) {
  var m = e && e.message ? e.message : String(e);
  if (m === 'keychain') return 'the system keychain refused to hand over the key that protects your data.';
  return m;
}
