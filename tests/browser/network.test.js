'use strict';
// First run against a network set up the way an owner sets one up: the owner's tool makes
// the key, the codes and the spoken entry, and the real relay answers the lookup.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFile } = require('child_process');
const H = require('./harness.js');
const { startRelay } = require('../relay/helpers.js');

const OWNER_JS = path.join(H.ROOT, 'tools', 'owner.js');

test('joining with the owner tool\'s spoken code and short code through the real relay', { timeout: 180000 }, async () => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-net-'));
  const certFile = path.join(home, 'owner-cert.json');
  let server = 'ws://127.0.0.1:1';
  const owner = (...args) => new Promise((resolve) => {
    const env = Object.assign({}, process.env, { HOME: home, MOSSWIRE_OWNER_CERT_FILE: certFile, MOSSWIRE_SERVER: server });
    execFile(process.execPath, [OWNER_JS, ...args], { env, timeout: 60000 }, (err, stdout, stderr) => {
      resolve({ ok: !err, out: stdout, err: stderr });
    });
  });
  let relay = null;
  let site = null;
  let chrome = null;
  try {
    const init = await owner('init', 'boss');
    assert.ok(init.ok, init.err);
    const keys = JSON.parse(fs.readFileSync(path.join(home, '.mosswire', 'owner.json'), 'utf8'));
    const cert = JSON.parse(fs.readFileSync(certFile, 'utf8'));
    relay = await startRelay({ ownerKey: keys.sigPub });
    server = relay.url;
    const spoken = await owner('spoken');
    assert.ok(spoken.ok, spoken.err);
    const digits = spoken.out.split('\n')[0];
    assert.match(digits, /^\d{4} \d{4} \d{4}$/);
    const invite = await owner('invite', '1', '2');
    assert.ok(invite.ok, invite.err);
    const short = invite.out.trim();

    site = await H.staticServer(H.pageFiles({ server: relay.url, ownerCert: cert }));
    chrome = await H.launch();

    const first = await H.openPage(chrome.browser, site.url + 'index.html');
    await H.waitScreen(first.page, 'sWelcome');
    await H.joinWith(first.page, digits.replace(/ /g, '-'), 'ida', '2468');
    const d1 = await first.page.evaluate(() => Vault.data);
    assert.equal(d1.owner, keys.sigPub);
    assert.ok(await H.P.verifyCert(d1.cert, keys.sigPub));
    assert.deepEqual(first.problems, []);
    await first.context.close();

    const second = await H.openPage(chrome.browser, site.url + 'index.html');
    await H.waitScreen(second.page, 'sWelcome');
    await H.files.set(second.page, 'x.clipboard', short);
    await second.page.click('#pasteBtn');
    await second.page.waitForSelector('#joinMore:not(.hidden)');
    await second.page.fill('#joinName', 'jo');
    await second.page.click('#joinNext');
    await H.waitScreen(second.page, 'sSetPin');
    await second.page.fill('#newPin', '1357');
    await second.page.fill('#newPin2', '1357');
    await second.page.click('#setPinGo');
    await H.waitScreen(second.page, 'sMain', 30000);
    const d2 = await second.page.evaluate(() => Vault.data);
    assert.ok(await H.P.verifyCert(d2.cert, keys.sigPub));
    assert.deepEqual(second.problems, []);
    await second.context.close();
  } finally {
    if (chrome) await chrome.close();
    if (site) await site.close();
    if (relay) await relay.stop();
    fs.rmSync(home, { recursive: true, force: true });
  }
});
