// The drawing helpers every part of the main screen shares: name colours, avatars, times,
// badges, chat names and mentions. Everything is built as elements with text set as text.

// Characters that would open or close a bidirectional isolate inside a drawn name: each name
// is isolated on its own (a bdi element), and these would let it end that isolation early.
var BIDI_LEFT = /[\u061c\u2066-\u2069]/g;

function drawnName(name) { return String(name === undefined || name === null ? '' : name).replace(BIDI_LEFT, ''); }

function hue(text) {
  var x = 0;
  for (var ch of String(text || '')) x = (Math.imul(x, 31) + ch.charCodeAt(0)) >>> 0;
  return x % 360;
}

// A name, isolated from the text around it so its direction can never reorder that text.
function nameBit(name, cls) {
  return h('bdi', { class: cls || null, text: drawnName(name) });
}

// A sender's or member's name in its colour; a click opens the profile.
function whoEl(id, cls) {
  var el = h('bdi', { class: 'name' + (id === D.me ? ' own' : '') + (cls ? ' ' + cls : ''), text: drawnName(nameOf(id)) });
  el.style.setProperty('--h', String(hue(nameOf(id))));
  el.addEventListener('click', function (e) { e.stopPropagation(); profile(id); });
  return el;
}

// The first character shown in an avatar: a whole character, so an emoji is not split.
function initial(name) {
  var s = drawnName(name).trim();
  for (var ch of s) return ch;
  return '?';
}

function avEl(cls, name) {
  var el = h('span', { class: cls, text: initial(name) });
  el.style.setProperty('--h', String(hue(name)));
  return el;
}

// avatar(id, size, dot): size is 'sm', 'lg' or nothing; dot adds the presence mark.
function avatar(id, size, dot) {
  var el = avEl('av' + (size ? ' ' + size : ''), nameOf(id));
  if (dot) el.appendChild(h('span', { class: isOnline(id) ? 'st on' : 'st' }));
  return el;
}

function groupAvatar(room, size) {
  return avEl('av group' + (size ? ' ' + size : ''), room.name);
}

// A letter avatar for a name nobody known has yet.
function nameAvatar(name, size) {
  return avEl('av' + (size ? ' ' + size : ''), name);
}

var WEEKDAY = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
var MONTH = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];

function sameDay(a, b) {
  return a.getFullYear() === b.getFullYear() && a.getMonth() === b.getMonth() && a.getDate() === b.getDate();
}

function fmtTime(at) {
  var d = new Date(at);
  if (isNaN(d.getTime())) return '';
  var t = d.getHours() + ':' + (d.getMinutes() < 10 ? '0' : '') + d.getMinutes();
  if (sameDay(d, new Date())) return t;
  return WEEKDAY[d.getDay()] + ' ' + d.getDate() + ' ' + MONTH[d.getMonth()] + ', ' + t;
}

function badge(el, n, ping) {
  el.textContent = n ? (ping ? '@ ' : '') + (n > 99 ? '99+' : String(n)) : '';
  el.classList.toggle('hidden', !n);
  el.classList.toggle('ping', !!(n && ping));
}

function chatName(room) {
  if (!room) return '';
  if (room.kind === 'general') return 'General';
  if (room.kind === 'ann') return 'Announcements';
  if (room.kind === 'dm') return nameOf(room.with);
  return room.name || '';
}

// The text with each mention of a member as its own element; the rest stays plain text.
function withPings(text) {
  var s = String(text);
  var frag = document.createDocumentFragment();
  var at = 0;
  mentions(s).forEach(function (p) {
    if (p.at > at) frag.appendChild(document.createTextNode(s.slice(at, p.at)));
    var el = h('span', { class: p.id === D.me ? 'ping me' : 'ping', text: s.substr(p.at, p.length) });
    el.addEventListener('click', function (e) { e.stopPropagation(); profile(p.id); });
    frag.appendChild(el);
    at = p.at + p.length;
  });
  if (at < s.length) frag.appendChild(document.createTextNode(s.slice(at)));
  return frag;
}

// Incoming friend requests: the Friends badge and part of the window title.
function incomingCount() {
  return Object.keys(D.friends).filter(function (id) { return D.friends[id] === 'incoming'; }).length;
}

// The owner's display name: from the owner's certificate at the top of this member's invite
// chain.
function ownerName() {
  var by = D && D.cert && D.cert.by;
  var name = by && by.from && by.from.m && by.from.m.name;
  return typeof name === 'string' && name ? name : 'developer';
}
