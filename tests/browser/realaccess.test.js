'use strict';
// What a screen reader finds in the real window (build/mosswire, WebKitGTK): the tree the
// program exposes on the desktop's accessibility bus (AT-SPI), read the way an assistive
// program reads it. The chats, the log and the composer are there with their names.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { execFileSync, spawnSync } = require('child_process');
const { unavailable, startHost, realWindow, needs } = require('./realhost.js');
const { makeOwner, longInvite } = require('./harness.js');

const PYTHON = '/usr/bin/python3';
const TREE = path.join(__dirname, 'atspi_tree.py');

function why() {
  const r = spawnSync(PYTHON, ['-c', "import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi"], { encoding: 'utf8' });
  if (r.error || r.status !== 0) return PYTHON + " can't read the accessibility tree (Debian's python3-gi and gir1.2-atspi-2.0)";
  const d = spawnSync('sh', ['-c', 'command -v dbus-daemon'], { encoding: 'utf8' });
  if (d.status !== 0) return 'dbus-daemon is missing';
  return unavailable();
}

const opts = realWindow(why(), { timeout: 240000 });

test('the real window shows a screen reader the chats, the log and the composer by name', opts, async () => {
  needs(opts);
  // A session bus of the test's own, on which the accessibility bus starts when asked.
  const [bus, busPid] = execFileSync('dbus-daemon', ['--session', '--fork', '--print-address=1', '--print-pid=1'], { encoding: 'utf8' }).trim().split('\n');
  let host = null;
  try {
    host = await startHost({ bus });
    await host.waitScreen('sWelcome');
    await host.join(await longInvite(await makeOwner()), 'ann', '7391');
    await host.click('#navGeneral');
    const pid = host.pid();
    const read = () => execFileSync(PYTHON, [TREE, String(pid)], { env: Object.assign({}, process.env, { DBUS_SESSION_BUS_ADDRESS: bus }), encoding: 'utf8', timeout: 60000 })
      .split('\n').filter(Boolean).map((l) => JSON.parse(l));
    // The web process's objects join the tree a moment after the page draws them.
    const tree = await host.waitFor(() => { const t = read(); return t.some((n) => n.role === 'log') ? t : null; }, 60000, 'the log in the accessible tree');
    const named = (role, name) => tree.find((n) => n.role === role && (name instanceof RegExp ? name.test(n.name) : n.name === name));
    assert.ok(named('application', 'mosswire'), 'the program is on the accessibility bus');
    const chats = tree.indexOf(named('landmark', 'Chats'));
    assert.ok(chats >= 0, 'the chats are a named landmark');
    const inChats = tree.slice(chats + 1).filter((n, i, all) => all.slice(0, i + 1).every((x) => x.depth > tree[chats].depth));
    for (const room of ['Friends', '# General', 'Announcements']) {
      assert.ok(inChats.some((n) => n.role === 'push button' && n.name === room), room + ' in the chats');
    }
    assert.ok(named('panel', 'Direct messages and group chats') || named('grouping', 'Direct messages and group chats'), 'the inbox by name');
    assert.ok(named('log', 'Messages'), 'the log by name');
    assert.ok(named('entry', /^Message #General/), 'the composer by name');
    assert.ok(named('push button', 'Search messages') && named('push button', 'Settings'), 'icon buttons by name');
  } finally {
    if (host) await host.stop();
    try { process.kill(Number(busPid)); } catch (e) { /* ended */ }
  }
});
