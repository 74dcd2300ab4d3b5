'use strict';
// The first-run flow carried by the real program: WebKitGTK, the real script bridge and the
// real native functions (vault file, device secret, attempt counter, wipe) under Xvfb.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { unavailable, startHost, realWindow, needs } = require('./realhost.js');
const { makeOwner, longInvite } = require('./harness.js');

const opts = realWindow(unavailable(), { timeout: 240000 });

test('first run, reload, unlock, black-out and wipe in the real window', opts, async () => {
  needs(opts);
  const owner = await makeOwner();
  const code = await longInvite(owner);
  const host = await startHost();
  const file = (n) => path.join(host.appFolder, n);
  const read = (n) => (fs.existsSync(file(n)) ? fs.readFileSync(file(n), 'utf8') : null);
  try {
    await host.waitScreen('sWelcome');
    assert.match(await host.url(), /^http:\/\/127\.0\.0\.1:\d+\/[0-9a-f]{32}\/index\.html$/);
    // The code goes in as people bring it: copied, then the Paste button (through the real
    // clipboard functions of the host).
    await host.join(code, 'river', '7391');
    assert.equal(await host.run('return document.querySelector("#meBox .me-name").textContent'), 'river');

    const header = JSON.parse(read('vault.json'));
    assert.deepEqual(Object.keys(header), ['v', 'iter', 'salt', 'wsalt', 'whash', 'iv', 'ct']);
    assert.ok(fs.existsSync(file('device.key')));
    assert.equal(read('attempts.txt'), '0 0');

    await host.reload();
    await host.waitScreen('sUnlock');
    await host.type('#unlockPin', '1111');
    await host.click('#unlockGo');
    await host.waitFor(() => host.run('return document.getElementById("unlockErr").textContent === "Wrong PIN"'), 30000, 'Wrong PIN');
    assert.equal(read('attempts.txt').split(' ')[0], '1');
    await host.type('#unlockPin', '7391');
    await host.click('#unlockGo');
    await host.waitScreen('sMain', 60000);
    assert.equal(read('attempts.txt'), '0 0');

    // Black-out as the host raises it, then the wipe PIN on the black screen.
    await host.runAsync('await Vault.setWipePin("2580");');
    await host.run('window.MswPanic();');
    assert.equal(await host.run('return !document.getElementById("black").classList.contains("hidden")'), true);
    await host.type('#blackPin', '2580\uE007');
    await host.waitScreen('sWelcome', 60000);
    for (const n of ['vault.json', 'device.key', 'attempts.txt']) assert.equal(fs.existsSync(file(n)), false, n + ' is gone');
  } finally {
    await host.stop();
  }
});
