'use strict';
// A network for chat scenarios: the owner's real tool makes the key and the invites, the
// real relay (relay/server.js) runs on a free loopback port, and members join in Chromium
// through the first-run screens. The relay can be stopped and started again on the same
// port, as a host restart would.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFile } = require('child_process');
const test = require('node:test');
const H = require('./harness.js');
const { startRelay } = require('../relay/helpers.js');

const OWNER_JS = path.join(H.ROOT, 'tools', 'owner.js');

async function network() {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-chat-'));
  const certFile = path.join(home, 'owner-cert.json');
  const net = { home, relay: null, site: null, port: 0 };
  net.owner = (...args) => new Promise((resolve) => {
    const env = Object.assign({}, process.env, { HOME: home, MOSSWIRE_OWNER_CERT_FILE: certFile, MOSSWIRE_SERVER: net.url || 'ws://127.0.0.1:1' });
    execFile(process.execPath, [OWNER_JS, ...args], { env, timeout: 60000 }, (err, stdout, stderr) => {
      resolve({ ok: !err, out: stdout, err: stderr });
    });
  });
  const init = await net.owner('init', 'boss');
  if (!init.ok) throw new Error('owner init failed: ' + init.err);
  net.keys = JSON.parse(fs.readFileSync(path.join(home, '.mosswire', 'owner.json'), 'utf8'));
  net.cert = JSON.parse(fs.readFileSync(certFile, 'utf8'));
  // A restart keeps the relay's port and its state folder, as a host restart would.
  net.stateDir = path.join(home, 'relay-state');
  fs.mkdirSync(net.stateDir);
  net.start = async () => {
    net.relay = await startRelay({ ownerKey: net.keys.sigPub, port: net.port, stateDir: net.stateDir });
    net.port = net.relay.port;
    net.url = net.relay.url;
  };
  net.stop = async () => {
    if (net.relay) await net.relay.stop();
    net.relay = null;
  };
  await net.start();
  net.site = await H.staticServer(H.pageFiles({ server: net.url, ownerCert: net.cert }));
  net.invite = async () => {
    const r = await net.owner('invite', '1', '1');
    if (!r.ok) throw new Error('owner invite failed: ' + r.err);
    return r.out.trim();
  };
  net.close = async () => {
    await net.stop();
    if (net.site) await net.site.close();
    fs.rmSync(home, { recursive: true, force: true });
  };
  return net;
}

// A member who joined with a fresh invite; the page is on the main screen, signed in.
async function member(browser, net, name, pin = '2468') {
  const s = await H.openPage(browser, net.site.url + 'index.html');
  await H.joinWith(s.page, await net.invite(), name, pin);
  s.name = name;
  s.pin = pin;
  s.id = await s.page.evaluate(() => Vault.data.me);
  await online(s.page);
  return s;
}

const online = (page, timeout = 30000) => page.waitForSelector('#netDot.dot.on', { timeout });

// Opens a room from the sidebar and waits for its header.
async function openGeneral(page) {
  await page.click('#navGeneral');
  await page.waitForFunction(() => document.getElementById('roomTitle').textContent === '# General');
}

async function say(page, text) {
  await page.fill('#msg', text);
  await page.press('#msg', 'Enter');
}

// The lines of the open log: { text, who, mine, pending, sys }.
function lines(page) {
  return page.$$eval('#log > .m, #log > .sys', (els) => els.map((el) => ({
    text: (el.querySelector('.text') || {}).textContent,
    who: (el.querySelector('.who') || {}).textContent,
    mine: el.classList.contains('me'),
    pending: el.classList.contains('pending'),
    sys: el.classList.contains('sys'),
    pinged: el.classList.contains('pinged'),
  })));
}

// Waits until a log line with exactly `text` is drawn.
function waitLine(page, text, timeout = 30000) {
  return page.waitForFunction((t) => [...document.querySelectorAll('#log .text')].some((e) => e.textContent === t), text, { timeout });
}

const calls = (page, name) => page.evaluate((n) => window.__mswCalls.filter((c) => c.name === n).map((c) => c.args), name);

// Makes two members friends on both sides, directly in their vaults.
async function befriend(a, b) {
  await a.page.evaluate((id) => { Vault.data.friends[id] = 'friend'; Vault.save(); }, b.id);
  await b.page.evaluate((id) => { Vault.data.friends[id] = 'friend'; Vault.save(); }, a.id);
}

// The test file's one Chromium and one network with these members, started before its first
// test and ended after its last; `ready(world)` runs once every member is in. The world
// holds `chrome`, `net` and each member under its name.
function world(names, ready) {
  const w = {};
  test.before(async () => {
    w.chrome = await H.launch();
    w.net = await network();
    for (const name of names) w[name] = await member(w.chrome.browser, w.net, name);
    if (ready) await ready(w);
  });
  test.after(async () => {
    if (w.chrome) await w.chrome.close();
    if (w.net) await w.net.close();
  });
  return w;
}

// What the page reported besides the browser's own notes about a relay that is down.
const problems = (s) => s.problems.filter((p) => !/net::ERR_CONNECTION_(REFUSED|RESET|CLOSED)|Failed to load resource/.test(p));

module.exports = { world, problems, network, member, online, openGeneral, say, lines, waitLine, calls, befriend };
