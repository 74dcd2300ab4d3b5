'use strict';
// Two copies of the real program (build/mosswire under Xvfb, each with its own home and
// XDG folders) join one real relay and talk in General in both directions. The built page
// points at the default relay address; so that parallel runs never fight over that port,
// each page's WebSocket is steered to this test's relay on a free port before it connects.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
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

// A home of the test's own, so that a program can end and start again on the same files.
function home() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-host-'));
  fs.chmodSync(dir, 0o700);
  for (const d of ['config', 'data', 'run']) fs.mkdirSync(path.join(dir, d), { mode: 0o700 });
  return dir;
}

function ended(pid) {
  try { return /^\d+ \(.*\) Z/.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8')); } catch (e) { return true; }
}

test('two real windows talk in General through the real relay; a line sent just before SIGTERM is kept and delivered', opts, async () => {
  needs(opts);
  const owner = await makeOwner();
  const relay = await startRelay({ ownerKey: owner.keys.sigPub });
  const hosts = [];
  const homes = [home(), home()];
  try {
    hosts.push(await startHost({ home: homes[0] }));
    hosts.push(await startHost({ home: homes[1] }));
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

    // Enter, and the session ends the program (SIGTERM) at once: the line is kept by the
    // store the end waits for, and goes out after the next start.
    const pid = a.pid();
    assert.ok(pid, 'the program\'s process');
    await a.type('#msg', 'just before the end\uE007');
    process.kill(pid, 'SIGTERM');
    await a.waitFor(() => ended(pid), 15000, 'the program to end');
    await a.stop();
    hosts[0] = await startHost({ home: homes[0] });
    const again = hosts[0];
    await again.waitScreen('sUnlock', 60000);
    await steer(again, relay.port);
    await again.type('#unlockPin', '7391');
    await again.click('#unlockGo');
    await again.waitScreen('sMain', 60000);
    await again.click('#navGeneral');
    await again.waitFor(async () => (await texts(again)).includes('river: just before the end'), 30000, 'the line after the restart');
    await b.waitFor(async () => (await texts(b)).includes('river: just before the end'), 60000, 'the line at stone');
    await again.waitFor(async () => again.run('return !document.querySelector("#log .m.pending")'), 60000, 'the line confirmed');
    assert.equal((await texts(b)).filter((t) => t === 'river: just before the end').length, 1);
  } finally {
    for (const h of hosts) await h.stop();
    for (const dir of homes) fs.rmSync(dir, { recursive: true, force: true });
    await relay.stop();
  }
});
