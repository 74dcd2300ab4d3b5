'use strict';
// Sessions ending from outside, on the real relay: the same identity signing in from a
// second window stops the first, and the owner's tool removing a member shows the gone
// screen to that member while the others forget them.
const test = require('node:test');
const assert = require('node:assert/strict');
const H = require('./harness.js');
const N = require('./chatnet.js');

let chrome, net, ann, bo, cy;
N.world(['ann', 'bo', 'cy'], (w) => ({ chrome, net, ann, bo, cy } = w));

test('the owner removes a member', { timeout: 90000 }, async () => {
  const r = await net.owner('remove', 'cy');
  assert.ok(r.ok, r.err);
  await H.waitScreen(cy.page, 'sGone', 30000);
  assert.equal(await cy.page.textContent('#goneTitle'), 'You were removed from this network');
  assert.equal(await cy.page.textContent('#goneMsg'), 'The owner removed you, so you can no longer send or receive messages here.');
  await ann.page.waitForFunction((id) => !Vault.data.dir[id] && Vault.data.names[id] === 'cy', cy.id, { timeout: 30000 });
  assert.deepEqual(N.problems(cy), []);
});

test('the same vault opened in a second window stops the first', { timeout: 90000 }, async () => {
  const files = await ann.page.evaluate(() => {
    const out = {};
    for (let i = 0; i < localStorage.length; i++) {
      const k = localStorage.key(i);
      if (k.startsWith('msw:') && !k.startsWith('msw:x.')) out[k] = localStorage.getItem(k);
    }
    return out;
  });
  const twin = await H.openPage(chrome.browser, net.site.url + 'index.html');
  await twin.page.evaluate((f) => { for (const [k, v] of Object.entries(f)) localStorage.setItem(k, v); }, files);
  await twin.page.reload();
  await H.waitScreen(twin.page, 'sUnlock');
  await H.unlockWith(twin.page, ann.pin);
  await N.online(twin.page);
  await ann.page.waitForFunction(() => document.getElementById('banner').textContent ===
    'mosswire connected from somewhere else with this identity, so this window stopped.');
  assert.equal(await ann.page.getAttribute('#netDot', 'class'), 'dot');
  // A message from bo reaches the window now signed in, never the stopped one.
  await N.openGeneral(bo.page);
  await N.openGeneral(twin.page);
  await N.openGeneral(ann.page);
  await N.say(bo.page, 'who is there?');
  await N.waitLine(twin.page, 'who is there?');
  assert.equal(await ann.page.$$eval('#log .text', (e) => e.filter((x) => x.textContent === 'who is there?').length), 0);
  assert.equal(await ann.page.getAttribute('#netDot', 'class'), 'dot', 'the stopped window stays offline');
  await N.say(ann.page, 'from the stopped window');
  await ann.page.waitForFunction(() => document.getElementById('chatErr').textContent === 'Not connected right now');
  assert.deepEqual(N.problems(twin), []);
  assert.deepEqual(N.problems(ann), []);
  await twin.context.close();
});
