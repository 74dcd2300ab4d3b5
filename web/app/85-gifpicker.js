// ASCII GIFs: the picker that sends one, and the one timer that plays every GIF on screen.
// The timer runs only while a GIF is on screen: an idle window wakes for nothing.

var GIF_TICK = 50;
var gifPlay = { timer: null, rewrites: 0 };

function gifList() {
  var G = window.MswGifs;
  return G && Array.isArray(G.list) ? G.list : [];
}

function openGifs() {
  var room = D && D.rooms[S.view];
  if (!room || $('gifBtn').disabled) return;
  var replying = !!S.reply && S.reply.rid === S.view;
  var hint = replying ? 'Pick one to reply to ' + drawnName(nameOf(S.reply.from)) + ' with.'
    : 'Pick one to send to ' + drawnName(chatName(room)) + '.';
  var rid = S.view;
  modal('ASCII GIFs',
    h('p', { class: 'hint', text: hint }),
    h('div', { class: 'gif-grid' }, gifList().map(function (g) {
      return h('button', {
        type: 'button', class: 'gif-card', title: 'Send ' + g.name, 'data-id': g.id,
        onclick: function () { sendGif(rid, g); },
      }, h('pre', { class: 'gif', 'data-gif': g.id, text: g.frames[0] }), h('span', { class: 'gif-name', text: g.name }));
    })),
    closeBtn());
  $('modalCard').setAttribute('data-kind', 'gifs');
  playingGifs();
}

function sendGif(rid, g) {
  closeModal();
  if (S.view !== rid || !D.rooms[rid]) return;
  post(rid, { text: '[ASCII GIF: ' + g.name + ']', gif: g.id });
  var box = $('msg');
  if (!box.disabled) box.focus();
}

var reducedMotion = window.matchMedia ? window.matchMedia('(prefers-reduced-motion: reduce)') : null;

// Every GIF element shows the frame of the moment, so all copies of one GIF move in step;
// an element is written only when its frame changes.
// Starts the timer, where a GIF was just put on screen.
function playingGifs() {
  if (!gifPlay.timer) gifPlay.timer = setInterval(gifTick, GIF_TICK);
}

function gifTick() {
  if (!document.querySelector('pre.gif[data-gif]')) {
    clearInterval(gifPlay.timer);
    gifPlay.timer = null;
    return;
  }
  playGifs(Date.now());
}

function playGifs(now) {
  if (S.black || document.hidden) return 0;
  // Without motion every GIF shows its first frame, also one that was playing before.
  var still = !!(reducedMotion && reducedMotion.matches);
  var els = document.querySelectorAll('pre.gif[data-gif]');
  var G = window.MswGifs;
  var n = 0;
  for (var i = 0; i < els.length; i++) {
    var el = els[i];
    var g = G && G.byId ? G.byId[el.getAttribute('data-gif')] : null;
    if (!g) continue;
    var f = still ? 0 : Math.floor(now / g.ms) % g.frames.length;
    if (el.__frame === f || (el.__frame === undefined && f === 0)) continue;
    el.__frame = f;
    el.textContent = g.frames[f];
    n++;
  }
  gifPlay.rewrites += n;
  return n;
}

section('gifs', {
  init: function () {
    $('gifBtn').addEventListener('click', openGifs);
  },
  start: playingGifs,
});
