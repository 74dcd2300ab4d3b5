'use strict';
// tools/nettest.html in a real browser, opened from disk as the owner would, against a
// live relay and against an address where nothing answers.
const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');
const H = require('./helpers.js');

const PAGE = pathToFileURL(path.join(H.REPO, 'tools', 'nettest.html')).href;

test('the network test page', { timeout: 90000 }, async (t) => {
  const owner = await H.makeOwner();
  const relay = await H.startRelay({ ownerKey: owner.key });
  t.after(() => relay.stop());
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
  t.after(() => browser.close());

  async function runPage(server) {
    const page = await browser.newPage();
    await page.goto(PAGE + '?server=' + encodeURIComponent(server));
    await page.click('#run');
    await page.waitForFunction(() => document.getElementById('verdict').textContent !== '', null, { timeout: 30000 });
    const result = {
      verdict: await page.textContent('#verdict'),
      steps: await page.$$eval('#steps li', (lis) => lis.map((li) => li.textContent)),
    };
    await page.close();
    return result;
  }

  await t.test('a reachable relay passes both checks', async () => {
    const r = await runPage(relay.url);
    assert.strictEqual(r.verdict, 'mosswire can reach the relay from this network.');
    assert.strictEqual(r.steps.length, 2);
    assert.ok(r.steps.every((s) => s.startsWith('✓')), r.steps.join(' | '));
    assert.match(r.steps[1], /0 member\(s\) online/);
  });

  await t.test('an address where nothing answers fails both checks', async () => {
    const r = await runPage('ws://127.0.0.1:1');
    assert.strictEqual(r.verdict, 'mosswire cannot reach the relay from this network.');
    assert.ok(r.steps.every((s) => s.startsWith('✗')), r.steps.join(' | '));
  });
});
