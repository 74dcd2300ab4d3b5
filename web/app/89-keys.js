// The keyboard: everything the mouse does has a key. Ctrl+F searches, Ctrl+K goes to a
// chat by name, Alt or Ctrl with Up and Down moves through the chats in the sidebar's
// order, and in the log (one stop of Tab) Up and Down move from line to line, where
// Return or R replies to the line and, on one that was not sent, Return sends it again.

// The next chat in the sidebar's order, `step` (1 or −1) from the open one.
function nextRoom(step) {
  var order = roomOrder();
  var at = order.indexOf(S.view);
  return order[(at + step + order.length) % order.length];
}

function globalKey(e) {
  if (!S.unlocked || S.black || S.capturing || !D || e.defaultPrevented) return;
  var ctrl = e.ctrlKey || e.metaKey;
  if (ctrl && !e.altKey && (e.key === 'f' || e.key === 'F') && !modalOpen()) {
    e.preventDefault();
    openSearch();
  } else if (ctrl && !e.altKey && (e.key === 'k' || e.key === 'K') && !modalOpen()) {
    e.preventDefault();
    openSwitcher();
  } else if ((e.altKey || ctrl) && !e.shiftKey && (e.key === 'ArrowUp' || e.key === 'ArrowDown') && !modalOpen()) {
    e.preventDefault();
    openView(nextRoom(e.key === 'ArrowDown' ? 1 : -1));
  }
}

// The message each drawn line shows, for the keys on a focused line.
function lineMessage(el) {
  var mid = el.getAttribute('data-mid');
  var from = el.getAttribute('data-from');
  return mid && from ? findMsg(S.view, mid, from) : null;
}

function logKey(e) {
  var log = $('log');
  var lines = Array.prototype.filter.call(log.children, function (el) { return el.classList.contains('m') || el.classList.contains('sys'); });
  if (!lines.length) return;
  var at = lines.indexOf(document.activeElement);
  var go = null;
  if (e.key === 'ArrowUp') go = at === -1 ? lines.length - 1 : Math.max(0, at - 1);
  else if (e.key === 'ArrowDown') go = at === -1 ? lines.length - 1 : Math.min(lines.length - 1, at + 1);
  else if (e.key === 'Home' && at !== -1) go = 0;
  else if (e.key === 'End' && at !== -1) go = lines.length - 1;
  if (go !== null) {
    e.preventDefault();
    if (go === 0 && logState.rest && logState.rest.upto > logState.rest.from) drawMore(MORE_LINES);
    lines[go].focus();
    return;
  }
  if (at === -1 || e.ctrlKey || e.altKey || e.metaKey) return;
  var m = lineMessage(lines[at]);
  if (!m) return;
  if (e.key === 'Enter' && m.st === 'failed') {
    e.preventDefault();
    retry(S.view, m.mid);
  } else if (e.key === 'Enter' || e.key === 'r' || e.key === 'R') {
    e.preventDefault();
    startReply(m);
  }
}

section('keys', {
  init: function () {
    window.addEventListener('keydown', globalKey);
    $('log').addEventListener('keydown', logKey);
  },
});
