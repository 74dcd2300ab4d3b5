'use strict';
// The update path in Chromium against a small release host on loopback: a release list, the
// platform's asset and a SHA256SUMS.txt made with sha256sum. The native double downloads and
// checks as the host does. A newer release is shown and installed and the boot stops; the
// new version shows "What's new" once and keeps the notes in Announcements; a wrong checksum
// is never installed; bad release lists are ignored.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const H = require('./harness.js');
const { generate } = require('../../scripts/gen-web.js');

const PIN = '2468';
const ASSET = 'mosswire-linux-x86_64';
const SHOTS = process.env.MSW_SHOTS || null;

// The release host: `host.latest` answers /repos/m/releases/latest (an object is sent as
// JSON, a string as it is, null as 404), `host.tags[tag]` the tag lookups, and
// host.files[tag][name] the downloads. Every path asked is recorded.
async function releaseHost() {
  const host = { latest: null, tags: {}, files: {}, asked: [] };
  const server = http.createServer((req, res) => {
    const p = new URL(req.url, 'http://x').pathname;
    host.asked.push(p);
    const headers = { 'Access-Control-Allow-Origin': '*', 'Cache-Control': 'no-store' };
    let body = null;
    let m;
    if (p === '/repos/m/releases/latest') body = host.latest;
    else if ((m = /^\/repos\/m\/releases\/tags\/(.+)$/.exec(p))) body = host.tags[m[1]] || null;
    else if ((m = /^\/releases\/download\/([^/]+)\/([^/]+)$/.exec(p))) body = (host.files[m[1]] || {})[m[2]] || null;
    if (body === null) { res.writeHead(404, headers); res.end('Not Found'); return; }
    res.writeHead(200, headers);
    res.end(typeof body === 'object' && !Buffer.isBuffer(body) ? JSON.stringify(body) : body);
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  host.base = `http://127.0.0.1:${server.address().port}`;
  host.updates = host.base + '/repos/m/releases';
  host.close = () => new Promise((r) => { server.closeAllConnections(); server.close(r); });
  return host;
}

// A release's files: an asset and its checksum list, as sha256sum writes it; `wrong` lists
// another file's checksum under the asset's name.
function releaseFiles(content, wrong) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-release-'));
  fs.writeFileSync(path.join(dir, ASSET), content);
  fs.writeFileSync(path.join(dir, 'other'), content + ' but not this');
  let sums = execFileSync('sha256sum', [ASSET], { cwd: dir, encoding: 'utf8' });
  if (wrong) sums = execFileSync('sha256sum', ['other'], { cwd: dir, encoding: 'utf8' }).replace('other', ASSET);
  const files = { [ASSET]: fs.readFileSync(path.join(dir, ASSET)), 'SHA256SUMS.txt': sums };
  fs.rmSync(dir, { recursive: true, force: true });
  return { files, sum: sums.slice(0, 64) };
}

const release = (tag, body) => ({ tag_name: tag, body, published_at: '2026-11-30T09:00:00Z', name: 'mosswire ' + tag.slice(1) });
const NOTES = '## Faster start\r\n- The window opens **twice** as fast\r\n- See [the notes](https://example.org/notes)\r\n\r\n### Fixes\r\n* A crash when pasting';

let chrome;
let relay;
let host;
let dir;
let s;

test.before(async () => {
  const owner = await H.makeOwner();
  relay = await H.relayStandIn(owner.keys.sigPub);
  host = await releaseHost();
  dir = H.pageFiles({ server: relay.url, updates: host.updates });
  s = { site: await H.staticServer(dir) };
  chrome = await H.launch();
  Object.assign(s, await H.openPage(chrome.browser, s.site.url + 'index.html'));
  // Every address the page fetches, recorded as it asks.
  await s.context.addInitScript(() => {
    window.__fetched = [];
    const real = window.fetch;
    window.fetch = function (url, opts) { window.__fetched.push(String(url)); return real.call(this, url, opts); };
  });
  await H.joinWith(s.page, await H.longInvite(owner), 'maya', PIN);
});
test.after(async () => {
  if (chrome) await chrome.close();
  if (s && s.site) await s.site.close();
  if (relay) await relay.close();
  if (host) await host.close();
});

async function restart() {
  await s.page.reload();
  await s.page.waitForFunction(() => [...document.querySelectorAll('#app > section')].some((x) => !x.classList.contains('hidden')));
}

const updateCalls = () => s.page.evaluate(() => window.__mswCalls.filter((c) => c.name === 'msw_update').length);

test('bad release lists are ignored and the program opens', { timeout: 60000 }, async () => {
  await H.files.set(s.page, 'x.update.base', host.base);
  for (const latest of ['{"tag_name": "v9.9.9"', release('v1.2', NOTES), release('v01.2.3-beta', NOTES), { body: NOTES },
    { tag_name: 'v9.9.9', body: 'x'.repeat(4500000) }, null]) {
    host.latest = latest;
    await restart();
    await H.waitScreen(s.page, 'sUnlock');
    assert.equal(await updateCalls(), 0);
    assert.ok(await s.page.evaluate(() => window.__fetched.some((u) => /\/releases\/latest$/.test(u))));
  }
});

test('a newer release is shown, downloaded, checked and installed; the boot stops', { timeout: 60000 }, async () => {
  const r = releaseFiles('#!/bin/sh\necho mosswire 1.2.0\n');
  host.latest = release('v1.2.0', NOTES);
  host.tags['v1.2.0'] = host.latest;
  host.files['v1.2.0'] = r.files;
  await restart();
  await H.waitScreen(s.page, 'sUpdate');
  assert.equal(await s.page.textContent('#updTitle'), 'Updating to mosswire 1.2.0');
  await s.page.waitForFunction(() => document.getElementById('updStatus').textContent === 'Installing…');
  assert.equal(await H.files.get(s.page, 'x.update.installed'), 'v1.2.0 ' + r.sum);
  const notes = await s.page.$$eval('#updNotes > *', (els) => els.map((e) => [e.tagName, e.tagName === 'UL' ? [...e.children].map((li) => li.textContent) : e.textContent]));
  assert.deepEqual(notes, [['H3', "What's new"], ['H3', 'Faster start'], ['UL', ['The window opens twice as fast', 'See the notes']], ['H3', 'Fixes'], ['UL', ['A crash when pasting']]]);
  assert.equal(await s.page.isVisible('#updRow'), false);
  assert.equal(await H.screen(s.page), 'sUpdate');
  assert.ok(host.asked.includes('/releases/download/v1.2.0/SHA256SUMS.txt'));
  assert.ok(host.asked.includes('/releases/download/v1.2.0/' + ASSET));
});

test('the new version shows "What\'s new" once after unlock and keeps the notes in Announcements', { timeout: 90000 }, async () => {
  // The installed copy starts: the same page files, now of version 1.2.0.
  generate(dir, { server: relay.url, updates: host.updates, version: '1.2.0' });
  await restart();
  await H.waitScreen(s.page, 'sUnlock');
  await H.unlockWith(s.page, PIN);
  await s.page.waitForSelector('#modalCard[data-kind="news"]', { timeout: 30000 });
  assert.equal(await s.page.textContent('#modalCard h2'), "What's new in mosswire 1.2.0");
  assert.equal(await s.page.textContent('#modalCard .hint'), 'You can read these again any time in Announcements.');
  if (SHOTS) await s.page.screenshot({ path: path.join(SHOTS, 'whats-new.png') });
  const entry = await s.page.evaluate(() => Vault.data.ann['rel-v1.2.0']);
  assert.deepEqual(entry, { id: 'rel-v1.2.0', at: Date.UTC(2026, 10, 30, 9), text: NOTES, rel: '1.2.0' });
  assert.equal(await s.page.textContent('#annBadge'), '1');
  await s.page.click('#modalCard button:text-is("Close")');
  await s.page.click('#navAnn');
  await s.page.waitForSelector('#log .ann.rel');
  assert.equal(await s.page.textContent('#log .ann.rel .ann-h b'), 'mosswire 1.2.0');
  assert.equal(await s.page.textContent('#log .ann.rel .tagline'), 'Patch notes');
  assert.equal(await s.page.isVisible('#log .ann.rel .ann-del'), false);

  await restart();
  await H.waitScreen(s.page, 'sUnlock');
  await H.unlockWith(s.page, PIN);
  await H.waitScreen(s.page, 'sMain', 30000);
  assert.equal(await s.page.isVisible('#modal') ? await s.page.textContent('#modalCard') : 'no dialog', 'no dialog');
  assert.deepEqual(await s.page.evaluate(() => window.__fetched.filter((u) => /\/tags\//.test(u))), []);
});

test('a release whose checksum does not match is never installed', { timeout: 60000 }, async () => {
  const r = releaseFiles('#!/bin/sh\necho mosswire 1.3.0\n', true);
  host.latest = release('v1.3.0', '');
  host.files['v1.3.0'] = r.files;
  await restart();
  await H.waitScreen(s.page, 'sUpdate');
  await s.page.waitForSelector('#updRow:not(.hidden)', { timeout: 30000 });
  assert.equal(await s.page.textContent('#updStatus'), "The download didn't match its checksum, so it wasn't installed. mosswire will try again next time it opens.");
  assert.deepEqual(await s.page.$$eval('#updNotes > *', (els) => els.map((e) => e.textContent)), ["What's new", 'Bug fixes and improvements.']);
  assert.equal(await H.files.get(s.page, 'x.update.ready'), null);
  assert.match(await H.files.get(s.page, 'x.update.installed'), /^v1\.2\.0 /);
  await s.page.click('#updSkip');
  await H.waitScreen(s.page, 'sUnlock');
  assert.deepEqual(s.problems.filter((p) => !/Failed to load resource|net::ERR_/.test(p)), []);
});
