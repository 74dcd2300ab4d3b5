'use strict';
// Two copies of the real program (build/mosswire under Xvfb, each with its own home and
// XDG folders) join one real relay and talk in General in both directions. The built page
// points at the default relay address; so that parallel runs never fight over that port,
// each page's WebSocket is steered to this test's relay on a free port before it connects.
const test = require('node:test');
const assert = require('node:assert/strict');
const { unavailable, startHost, realWindow, needs } = require('./realhost.js');
const { makeOwner, longInvite } = require('./harness.js');
const { startRelay } = require('../relay/helpers.js');

const opts = realWindow(unavailable(), { timeout: 300000 });

function steer(host, port) {
  return host.run(`
    const Real = window.WebSocket;
    window.WebSocket = function (url, protocols) {
      const u = new URL(url);
      u.port = ${port};
      return new Real(u.toString(), protocols);
    };
    window.WebSocket.prototype = Real.prototype;
    window.WebSocket.OPEN = Real.OPEN;`);
}

async function join(host, code, name, port) {
  await host.waitScreen('sWelcome');
  await host.join(code, name, '7391', () => steer(host, port));
  await host.waitFor(() => host.run('return document.getElementById("netDot").className === "dot on"'), 60000, name + ' online');
}

const texts = (host) => host.run('return [...document.querySelectorAll("#log .m")].map((e) => e.querySelector(".who").textContent + ": " + e.querySelector(".text").textContent)');

async function say(host, text) {
  await host.click('#navGeneral');
  await host.type('#msg', text + '\uE007');
}

test('two real windows talk in General through the real relay', opts, async () => {
  needs(opts);
  const owner = await makeOwner();
  const relay = await startRelay({ ownerKey: owner.keys.sigPub });
  const hosts = [];
  try {
    hosts.push(await startHost());
    hosts.push(await startHost());
    const [a, b] = hosts;
    await join(a, await longInvite(owner), 'river', relay.port);
    await join(b, await longInvite(owner), 'stone', relay.port);
    await a.click('#navGeneral');
    await b.click('#navGeneral');
    await say(a, 'hello from river');
    await b.waitFor(async () => (await texts(b)).includes('river: hello from river'), 60000, 'river\'s line at stone');
    await say(b, 'and back <i>from</i> stone');
    await a.waitFor(async () => (await texts(a)).includes('stone: and back <i>from</i> stone'), 60000, 'stone\'s line at river');
    await a.waitFor(async () => a.run('return !document.querySelector("#log .m.pending")'), 30000, 'river\'s message confirmed');
    assert.deepEqual(await texts(a), ['river: hello from river', 'stone: and back <i>from</i> stone']);
    assert.deepEqual(await texts(b), ['river: hello from river', 'stone: and back <i>from</i> stone']);
  } finally {
    for (const h of hosts) await h.stop();
    await relay.stop();
  }
});
