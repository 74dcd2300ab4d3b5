// The owner's commands, on the one computer holding the network's owner key, behind the
// PIN: invite codes and spoken codes made right here, and the owner's terminal commands
// for this project, ready to copy.

var OWNER_TEXT = {
  noKey: "Couldn't read the owner key on this computer.",
  invited: 'Works once and lasts 90 days. Send it to the person you want to invite, or paste it into mosswire yourself on another computer.',
  offline: 'Not connected right now. Spoken codes are kept on the server, so try again once the dot is lit.',
  spoken: "Say it to them: they type the 12 digits into mosswire's Invite code box. Works once, for 7 days.",
};
var COPIED_FOR = 1500;
var DEFAULT_RELAY = 'ws://127.0.0.1:8787';

function copyLink(textOf) {
  var timer = null;
  var btn = link('Copy', function () {
    nat('msw_copy', null, textOf());
    btn.textContent = 'Copied';
    clearTimeout(timer);
    timer = setTimeout(function () { btn.textContent = 'Copy'; }, COPIED_FOR);
  }, 'copy');
  return btn;
}

// A word as the shell reads it: plain when it holds nothing the shell treats specially.
function shellWord(text) {
  var s = String(text);
  return /^[A-Za-z0-9_@%+=:,./-]+$/.test(s) ? s : "'" + s.replace(/'/g, "'\\''") + "'";
}

// The owner's tools talk to MOSSWIRE_SERVER, the local relay unless told otherwise.
function relayEnv() {
  return D.server && D.server !== DEFAULT_RELAY ? 'MOSSWIRE_SERVER=' + shellWord(D.server) + ' ' : '';
}

// The relay's health address from its socket address: the host alone, no path.
function healthCommand() {
  var host = String(D.server).replace(/^wss?:\/\//, '').replace(/[/?#].*$/, '');
  var scheme = /^ws:\/\//.test(D.server) ? 'http' : 'https';
  return 'curl ' + scheme + '://' + host + '/health';
}

// A release of this network carries the settings this copy was built with (the download
// address is the release list's repository on GitHub); release.sh refuses any that would
// send members elsewhere.
function releaseCommand() {
  var updates = C.UPDATES || 'https://api.github.com/repos/OWNER/REPO/releases';
  var repo = /^https:\/\/api\.github\.com\/repos\/([^/]+\/[^/]+)\/releases$/.exec(updates);
  return 'MOSSWIRE_SERVER=' + shellWord(C.SERVER) + ' MOSSWIRE_UPDATES=' + shellWord(updates) +
    ' MOSSWIRE_DOWNLOAD_BASE=' + shellWord(repo ? 'https://github.com/' + repo[1] : 'https://github.com/OWNER/REPO') +
    ' bash scripts/release.sh';
}

function commandGroups() {
  var env = relayEnv();
  return [
    ['Invites in Terminal', [
      ['Make one invite code (works once, lasts 90 days). Use this for yourself too: the owner key never logs in, you join with an invite like everyone else', 'node tools/owner.js invite'],
      ['Make 5 codes that last 30 days', 'node tools/owner.js invite 5 30'],
      ['Make a code to say out loud (12 digits, works once, lasts 7 days)', env + 'node tools/owner.js spoken'],
    ]],
    ['Announcements', [
      ['Post the patch notes for a version (or just open Announcements and type)', env + 'node tools/owner.js announce docs/releases/v' + C.VERSION + '.md'],
    ]],
    ['Members', [
      ["See who's in the network (● online, ○ offline)", env + 'node tools/owner.js members'],
      ["Remove someone (they're disconnected and their invite stops working)", env + 'node tools/owner.js remove USERNAME'],
    ]],
    ['Server', [
      ['Check the live server end to end (two test members join, swap a message and are removed)', env + 'node tools/livetest.js'],
      ["Quick check that the server's up", healthCommand()],
      ["Print OWNER_KEY for the relay's settings (starts with B; it's not an invite code)", 'node tools/owner.js key'],
      ['Test a network (open this page in a browser on that network)',
        byOs({ windows: 'start tools\\nettest.html', mac: 'open tools/nettest.html', linux: 'xdg-open tools/nettest.html' })],
    ]],
    ['App', [
      ['Run every test (installs what is missing and builds first)', 'bash scripts/test.sh'],
      ['Build a release signed with the owner key: the program, its .deb, SHA256SUMS.txt and SHA256SUMS.txt.sig in release/, to upload to the release for this version', releaseCommand()],
      ["Sign a release's checksum list by hand (the release command does it): every copy installs only what the owner key signed", 'node tools/owner.js sign release/SHA256SUMS.txt'],
    ]],
  ];
}

// The PIN gate in front of the commands.
function ownerCommands() {
  var input = pinField('PIN');
  var line = msgLine();
  var btn = h('button', { type: 'button', class: 'btn', text: 'Show commands' });
  async function go() {
    if (btn.disabled) return;
    var pin = input.value;
    input.value = '';
    if (!pin) return;
    btn.disabled = true;
    say(line, '');
    var r = null;
    try {
      r = await tryPin(pin, function (text) { say(line, text); });
    } catch (e) {
      say(line, failText(e));
    }
    btn.disabled = false;
    if (r === 'ok' && S.unlocked) showOwnerCommands();
    else if (input.isConnected) input.focus();
  }
  btn.addEventListener('click', go);
  input.addEventListener('keydown', function (e) {
    if (e.key === 'Enter') {
      e.preventDefault();
      go();
    }
  });
  modal('Owner commands', h('p', { class: 'hint', text: 'Enter your PIN to see them.' }), input, line, h('div', { class: 'row end' }, btn));
  $('modalCard').setAttribute('data-kind', 'owner-pin');
}

function inviteBlock() {
  var code = h('div', { class: 'code-box mono hidden' });
  var copy = copyLink(function () { return code.textContent; });
  copy.classList.add('hidden');
  var line = msgLine();
  var make = h('button', { type: 'button', class: 'btn', text: 'Make an invite code' });
  var spokenLink = link('Make a code to say out loud', makeSpokenCode);
  var big = h('div', { class: 'spoken-box mono hidden' });
  var spokenLine = msgLine();

  make.addEventListener('click', async function () {
    if (make.disabled) return;
    make.disabled = true;
    var made = null;
    try { made = await makeInviteCode(90); } catch (e) { made = null; }
    make.disabled = false;
    if (!made) {
      say(line, OWNER_TEXT.noKey);
      return;
    }
    code.textContent = made;
    code.classList.remove('hidden');
    copy.classList.remove('hidden');
    say(line, OWNER_TEXT.invited, true);
    make.textContent = 'Make another';
  });

  async function makeSpokenCode() {
    if (spokenLink.disabled) return;
    if (S.status !== 'online' || !S.live) {
      say(spokenLine, OWNER_TEXT.offline);
      return;
    }
    spokenLink.disabled = true;
    var made = null;
    try {
      var key = await nat('msw_owner_secret', null);
      if (typeof key === 'string' && key && D) {
        var inner = await makeInviteCode(7);
        if (inner && D) made = await P.makeSpoken(key, D.owner, inner, 7 * 24);
      }
    } catch (e) {
      made = null;
    }
    spokenLink.disabled = false;
    if (!D) return;
    if (!made) {
      say(spokenLine, OWNER_TEXT.noKey);
      return;
    }
    // Kept here too, so the code outlives a relay restart like everyone's copies.
    putSpoken(made.entry);
    wsSend({ t: 'spoken_put', entries: [made.entry] });
    big.textContent = P.fmtSpoken(made.code);
    big.classList.remove('hidden');
    say(spokenLine, OWNER_TEXT.spoken, true);
    spokenLink.textContent = 'Make another code to say out loud';
  }

  return [
    h('h3', { text: 'Invite someone' }),
    h('div', { class: 'code-row' }, code, copy),
    line,
    h('div', { class: 'set-row' }, make, spokenLink),
    big,
    spokenLine,
  ];
}

function showOwnerCommands() {
  var groups = commandGroups().map(function (g) {
    return h('section', { class: 'cmd-group' }, h('h3', { text: g[0] }), g[1].map(function (c) {
      return [
        h('p', { class: 'hint small', text: c[0] }),
        h('div', { class: 'cmd-row' }, h('code', { class: 'cmd', text: c[1] }), copyLink(function () { return c[1]; })),
      ];
    }));
  });
  modal('Owner commands',
    inviteBlock(),
    h('p', { class: 'hint cmd-intro' }, 'Or run these in Terminal from the mosswire folder (', h('b', { text: 'cd ~/mosswire' }),
      '). The owner key is ~/.mosswire/owner.json: keep a backup of it somewhere safe.'),
    groups,
    closeBtn());
  $('modalCard').setAttribute('data-kind', 'owner');
}

section('owner', {});
