'use strict';
// What the browser tests share: the real page files laid out by scripts/gen-web.js and
// served from loopback, a relay stand-in that speaks the frames the first-run screen uses,
// Debian's Chromium driven by playwright-core, and the native test double installed into
// every page before its scripts run (its files kept in localStorage, so they survive reloads).
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { WebSocketServer } = require('ws');
const { chromium } = require('playwright-core');
const { generate } = require('../../scripts/gen-web.js');
const P = require('../../web/protocol.js');

const ROOT = path.join(__dirname, '..', '..');
const DOUBLE = fs.readFileSync(path.join(__dirname, 'natives.js'), 'utf8');
const TYPES = { '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8', '.js': 'text/javascript; charset=utf-8' };

function listen(server) {
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server.address().port)));
}

// Serves one folder's files; nothing else.
async function staticServer(dir) {
  const server = http.createServer((req, res) => {
    const name = path.basename(decodeURIComponent(new URL(req.url, 'http://x').pathname));
    const file = path.join(dir, name || 'index.html');
    if (!fs.existsSync(file)) { res.writeHead(404); res.end(); return; }
    res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream', 'Cache-Control': 'no-store' });
    res.end(fs.readFileSync(file));
  });
  const port = await listen(server);
  return { url: `http://127.0.0.1:${port}/`, close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }) };
}

// A stand-in for the relay's unauthenticated side: hello, then spoken_get → spoken_list.
// `relay.mode` picks its behaviour: 'ok', 'silent' (never answers spoken_get), 'close'
// (closes after hello), 'nonet' (hello without net), 'othernet'.
async function relayStandIn(owner) {
  const server = http.createServer((req, res) => {
    relay.health += 1;
    res.writeHead(req.url === '/health' ? 200 : 404);
    res.end('ok');
  });
  const wss = new WebSocketServer({ server });
  const relay = { mode: 'ok', entries: [], online: 1, health: 0, gets: 0, owner };
  wss.on('connection', (ws) => {
    const hello = { t: 'hello', nonce: 'n', boot: 'b' };
    if (relay.mode !== 'nonet') hello.net = relay.mode === 'othernet' ? 'B' + 'x'.repeat(87) : relay.owner;
    ws.send(JSON.stringify(hello));
    ws.send('not json');
    if (relay.mode === 'close') { ws.close(); return; }
    ws.on('message', (raw) => {
      let f;
      try { f = JSON.parse(raw); } catch (e) { return; }
      if (f.t !== 'spoken_get') return;
      relay.gets += 1;
      if (relay.mode === 'silent') return;
      ws.send(JSON.stringify({ t: 'spoken_list', entries: relay.entries, online: relay.online }));
    });
  });
  const port = await listen(server);
  relay.url = `ws://127.0.0.1:${port}`;
  relay.close = () => new Promise((r) => {
    for (const c of wss.clients) c.terminate();
    wss.close();
    server.closeAllConnections();
    server.close(r);
  });
  return relay;
}

// The network's owner, made with the protocol module as the owner's tool would.
async function makeOwner() {
  const keys = await P.generateKeys();
  const cert = await P.ownerCert(keys, 'owner');
  return { keys, cert };
}

function b64url(bytes) {
  return Buffer.from(bytes).toString('base64').replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function longCode(inv) {
  return 'MSW1.' + b64url(Buffer.from(JSON.stringify({ g: inv.g, k: inv.k })));
}

async function longInvite(owner, hours = 24) {
  return longCode(await P.makeInvite(owner.cert, owner.keys, hours));
}

// The page files for one configuration, in a fresh folder under /tmp.
function pageFiles(settings) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-page-'));
  // No release list unless a test serves one: the page would otherwise ask the internet.
  const s = { server: settings.server, updates: settings.updates || '' };
  if (settings.version) s.version = settings.version;
  if (settings.ownerCert) {
    const f = path.join(dir, 'owner-cert.json');
    fs.writeFileSync(f, JSON.stringify(settings.ownerCert));
    s.ownerCert = f;
  }
  generate(path.join(dir, 'web'), s);
  return path.join(dir, 'web');
}

const INSTALL = `
(function () {
  var store = {
    get: function (n) { return localStorage.getItem('msw:' + n); },
    set: function (n, t) { localStorage.setItem('msw:' + n, t); },
    del: function (n) { localStorage.removeItem('msw:' + n); },
  };
  window.__mswCalls = [];
  var natives = mswNativeDouble({ store: store, calls: window.__mswCalls, focused: function () { return document.hasFocus(); } });
  Object.keys(natives).forEach(function (n) { window[n] = natives[n]; });
  document.addEventListener('securitypolicyviolation', function (e) {
    console.error('CSP violation: ' + e.violatedDirective + ' ' + e.blockedURI);
  });
})();`;

async function launch() {
  // playwright-core gives every launch a fresh, temporary profile folder of its own.
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  return {
    browser,
    close: () => browser.close(),
  };
}

// A fresh profile (empty native files) with the double installed, and `opts.init` (script
// text) run before the page's own scripts; `problems` gathers every console error, page
// error and CSP violation the page reports.
async function openPage(browser, url, opts = {}) {
  const context = await browser.newContext({ viewport: { width: 1100, height: 720 }, reducedMotion: opts.reducedMotion });
  await context.addInitScript({ content: DOUBLE + INSTALL + (opts.init || '') });
  const page = await context.newPage();
  const problems = [];
  page.on('console', (m) => {
    if (m.type() !== 'error' && m.type() !== 'warning') return;
    // The browser asks for a site icon on its own; the program serves none.
    if (/\/favicon\.ico$/.test(m.location().url || '')) return;
    problems.push(m.type() + ': ' + m.text());
  });
  page.on('pageerror', (e) => problems.push('pageerror: ' + e.message));
  if (opts.clock) await page.clock.install();
  await page.goto(url);
  return { context, page, problems };
}

const files = {
  get: (page, name) => page.evaluate((n) => localStorage.getItem('msw:' + n), name),
  set: (page, name, text) => page.evaluate(([n, t]) => localStorage.setItem('msw:' + n, t), [name, text]),
  del: (page, name) => page.evaluate((n) => localStorage.removeItem('msw:' + n), name),
};

// The screen now showing (exactly one must be).
async function screen(page) {
  const shown = await page.$$eval('#app > section', (ss) => ss.filter((s) => !s.classList.contains('hidden')).map((s) => s.id));
  if (shown.length !== 1) throw new Error('screens showing: ' + shown.join(', '));
  return shown[0];
}

// A screen counts as ready once it shows alone and its delayed first-field focus has
// happened: typing before that focus lands would put keys into the wrong field.
async function waitScreen(page, id, timeout = 20000) {
  await page.waitForFunction((sid) => {
    const shown = [...document.querySelectorAll('#app > section')].filter((s) => !s.classList.contains('hidden'));
    if (shown.length !== 1 || shown[0].id !== sid) return false;
    if (sid === 'sMain') return true;
    const first = shown[0].querySelector('input:not([type="hidden"]):not([type="checkbox"]), textarea');
    return !first || first.offsetParent === null || document.activeElement === first;
  }, id, { timeout });
}

// First run through the screens, as a person would: code, name, PIN.
async function joinWith(page, code, name, pin) {
  await waitScreen(page, 'sWelcome');
  await page.fill('#joinCode', code);
  await page.waitForSelector('#joinMore:not(.hidden)');
  await page.fill('#joinName', name);
  await page.click('#joinNext');
  await waitScreen(page, 'sSetPin');
  await page.fill('#newPin', pin);
  await page.fill('#newPin2', pin);
  await page.click('#setPinGo');
  try {
    await waitScreen(page, 'sMain', 60000);
  } catch (e) {
    throw new Error(e.message + ' (the PIN screen says: ' + (await page.textContent('#setPinErr')) + ')');
  }
}

async function unlockWith(page, pin) {
  await page.fill('#unlockPin', pin);
  await page.click('#unlockGo');
}

module.exports = {
  P, ROOT, staticServer, relayStandIn, makeOwner, longInvite, longCode, pageFiles, launch, openPage,
  files, screen, waitScreen, joinWith, unlockWith,
};
