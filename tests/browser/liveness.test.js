'use strict';
// A relay that swallows a send and then stays silent: ten seconds later (on the page's fake
// clock) the page drops that connection, shows the message as waiting, connects again at
// once and sends the message on the new connection.
const test = require('node:test');
const assert = require('node:assert/strict');
const http = require('http');
const { WebSocketServer } = require('ws');
const H = require('./harness.js');

// Signs anyone in; knows one other member, so General has a recipient. The first send is
// swallowed and never answered; later ones are confirmed.
async function standIn(owner, peerCert) {
  const server = http.createServer((req, res) => { res.writeHead(200); res.end('ok'); });
  const wss = new WebSocketServer({ server });
  const relay = { conns: 0, sends: [], closes: [] };
  wss.on('connection', (ws) => {
    const n = ++relay.conns;
    ws.send(JSON.stringify({ t: 'hello', net: owner.keys.sigPub, nonce: 'nonce' + n, boot: 'b1' }));
    ws.on('close', (code) => relay.closes.push([n, code]));
    ws.on('message', (raw) => {
      const f = JSON.parse(raw);
      if (f.t === 'auth') ws.send(JSON.stringify({ t: 'welcome', dir: [f.cert, peerCert], online: [] }));
      if (f.t === 'send') {
        relay.sends.push({ conn: n, ref: f.ref });
        if (relay.sends.length > 1) ws.send(JSON.stringify({ t: 'sent', ref: f.ref }));
      }
    });
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  relay.url = 'ws://127.0.0.1:' + server.address().port;
  relay.close = () => new Promise((r) => { for (const c of wss.clients) c.terminate(); wss.close(); server.closeAllConnections(); server.close(r); });
  return relay;
}

test('a connection that goes silent after a send is dropped after 10 s and the message goes out again', { timeout: 120000 }, async () => {
  const owner = await H.makeOwner();
  const peerKeys = await H.P.generateKeys();
  const peerCert = await H.P.acceptInvite(await H.P.makeInvite(owner.cert, owner.keys, 24), peerKeys, 'peer');
  const relay = await standIn(owner, peerCert);
  const site = await H.staticServer(H.pageFiles({ server: relay.url }));
  const chrome = await H.launch();
  try {
    const s = await H.openPage(chrome.browser, site.url + 'index.html');
    await H.joinWith(s.page, await H.longInvite(owner), 'maya', '2468');
    await s.page.clock.install();
    await s.page.reload();
    // Time moves only when the test moves it.
    await s.page.clock.pauseAt(Date.now() + 1000);
    await s.page.waitForSelector('#sUnlock:not(.hidden)');
    await s.page.fill('#unlockPin', '2468');
    await s.page.click('#unlockGo');
    const tick = async (fn, what) => {
      for (let i = 0; i < 400; i++) {
        if (await s.page.evaluate(fn)) return;
        await s.page.clock.runFor(50);
      }
      const seen = await s.page.evaluate(() => [document.getElementById('banner').textContent, document.getElementById('log').textContent,
        document.getElementById('chatErr').textContent]);
      throw new Error('never: ' + what + ' ' + JSON.stringify(seen));
    };
    await tick(() => document.getElementById('netDot').className === 'dot on', 'online');
    await s.page.click('#navGeneral');
    await s.page.fill('#msg', 'anyone?');
    await s.page.press('#msg', 'Enter');
    await tick(() => document.querySelector('#log .m.pending') !== null, 'pending');
    // The send reaches the relay in real time (the page's crypto and the socket); wait for it
    // however long a busy machine takes.
    for (const hung = Date.now() + 60000; relay.sends.length === 0;) {
      if (Date.now() > hung) throw new Error('the message never reached the relay');
      await new Promise((r) => setTimeout(r, 50));
    }
    const first = relay.conns;
    assert.deepEqual(relay.sends.map((x) => x.conn), [first]);
    await s.page.clock.runFor(9900);
    await new Promise((r) => setTimeout(r, 200));
    assert.equal(relay.sends.length, 1, 'not sent again before 10 s: ' + JSON.stringify(relay.closes));
    await s.page.clock.runFor(200);
    // The drop, the new sign-in and the confirmation may all happen within one step.
    await tick(() => document.getElementById('banner').textContent.startsWith('Connecting…') || document.getElementById('netDot').className === 'dot on', 'dropped');
    await tick(() => !document.querySelector('#log .m.pending'), 'confirmed on the new connection');
    assert.equal(relay.sends.length, 2);
    assert.ok(relay.sends[1].conn > first, 'sent again on a new connection');
    assert.equal(relay.sends[0].ref, relay.sends[1].ref, 'the same message');
    assert.deepEqual(s.problems, []);
  } finally {
    await chrome.close();
    await site.close();
    await relay.close();
  }
});
