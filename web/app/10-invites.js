// Invite codes as the client reads, checks and makes them, and the spoken-code lookup that
// turns 12 digits into the invite code they stand for by asking the relay server.

// Any pasted text → invite { g, k } or null. Never throws.
async function parseInvite(text) {
  try {
    var s = String(text === null || text === undefined ? '' : text).replace(/\s+/g, '');
    if (s.indexOf(P.INVITE2) === 0) return await P.readShortInvite(s, C.OWNER_CERT);
    return P.decodeInvite(s);
  } catch (e) {
    return null;
  }
}

// The owner key the invite was signed under, or null. Only the owner may invite, so an
// inviter certificate that was itself invited (has a `by`) is refused outright.
async function checkInvite(inv) {
  try {
    var g = inv && inv.g;
    var c = g && g.from;
    var owner = c && c.m && c.m.sig;
    if (typeof owner !== 'string' || !owner || c.by) return null;
    if (typeof g.exp !== 'number' || typeof g.ik !== 'string') return null;
    if (!(await P.verifyCert(c, owner))) return null;
    if (!(await P.verify(owner, ['msw-invite', g.ik, g.exp], g.s))) return null;
    return owner;
  } catch (e) {
    return null;
  }
}

// On the owner's computer: a new invite code valid for `days`, or null without the owner key.
async function makeInviteCode(days) {
  try {
    var key = await nat('msw_owner_secret', null);
    if (typeof key !== 'string' || !key) return null;
    if (C.OWNER_CERT && D && C.OWNER_CERT.m && C.OWNER_CERT.m.sig === D.owner) {
      return await P.makeShortInvite(key, days * 24);
    }
    var inv = await P.makeInvite(D.cert.by.from, { sigPriv: key }, days * 24);
    return P.encodeInvite(inv);
  } catch (e) {
    return null;
  }
}

// The relay's /health address: the socket address with http(s) for ws(s).
function healthUrl() {
  try {
    var u = new URL(C.SERVER);
    u.protocol = u.protocol === 'wss:' ? 'https:' : 'http:';
    u.pathname = '/health';
    u.search = '';
    u.hash = '';
    return u.toString();
  } catch (e) {
    return null;
  }
}

// A relay host may sleep after a quiet spell; any request wakes it. The answer is ignored.
function pingHealth() {
  var url = healthUrl();
  if (!url) return;
  try {
    fetch(url, { mode: 'no-cors', cache: 'no-store' }).catch(function () {});
  } catch (e) { /* nothing to wake */ }
}

var LOOKUP = {
  slow: 3000,
  giveUp: 90000,
  answer: 15000,
  maxEntries: 500,
};

// lookupSpoken(code, onSlow) → { code } or { err }, exactly once.
function lookupSpoken(code, onSlow) {
  return new Promise(function (resolve) {
    var done = false;
    var checking = false; // the list is in hand: a close now is the server being done
    var ws = null;
    var owner = null;
    var timers = [];
    var answerTimer = null;

    function end(result) {
      if (done) return;
      done = true;
      timers.forEach(clearTimeout);
      if (answerTimer) clearTimeout(answerTimer);
      if (ws) {
        ws.onclose = ws.onmessage = ws.onerror = null;
        try { ws.close(); } catch (e) { /* already closed */ }
      }
      resolve(result);
    }

    timers.push(setTimeout(function () { if (!done && onSlow) onSlow(); }, LOOKUP.slow));
    timers.push(setTimeout(function () {
      end({ err: "Couldn't reach the server. Check your internet connection, then try again." });
    }, LOOKUP.giveUp));
    pingHealth();
    try {
      ws = new WebSocket(C.SERVER);
    } catch (e) {
      end({ err: "Couldn't reach the server." });
      return;
    }
    ws.onclose = function () {
      if (!checking) end({ err: "Couldn't reach the server. Try again in a moment." });
    };
    ws.onmessage = function (ev) {
      var f;
      try { f = JSON.parse(ev.data); } catch (e) { return; }
      if (!f || typeof f !== 'object') return;
      if (f.t === 'hello' && owner === null) {
        var net = f.net;
        var mine = C.OWNER_CERT && C.OWNER_CERT.m ? C.OWNER_CERT.m.sig : null;
        if (typeof net !== 'string' || !net || (mine && net !== mine)) {
          end({ err: "The server isn't set up for this network yet." });
          return;
        }
        owner = net;
        try { ws.send(JSON.stringify({ t: 'spoken_get' })); } catch (e) { /* the close reports it */ }
        answerTimer = setTimeout(function () {
          if (!checking) end({ err: "The server can't check spoken codes yet. Ask for an invite code to paste instead." });
        }, LOOKUP.answer);
      } else if (f.t === 'spoken_list' && owner !== null && !checking) {
        checking = true;
        openList(f).then(end, function () {
          end({ err: "That code didn't work. Check the 12 digits with whoever gave it to you: codes last 7 days and work once." });
        });
      }
    };

    async function openList(f) {
      var entries = Array.isArray(f.entries) ? f.entries.slice(0, LOOKUP.maxEntries) : [];
      var kept = [];
      for (var i = 0; i < entries.length; i++) {
        var e = await P.checkSpoken(entries[i], owner);
        if (e && e.exp > Date.now()) kept.push(e);
      }
      var found = kept.length ? await P.openSpoken(code, owner, kept) : null;
      if (found) return { code: found };
      if (!kept.length && !f.online) {
        return { err: 'Nobody in the network is online right now, so that code can\'t be checked yet. Try again in a little while, or ask for a written invite code.' };
      }
      return { err: "That code didn't work. Check the 12 digits with whoever gave it to you: codes last 7 days and work once." };
    }
  });
}
