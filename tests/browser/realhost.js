'use strict';
// Drives the real program (build/mosswire: WebKitGTK, the real bridge and the real native
// functions) under Xvfb through WebKitWebDriver. The program allows automation only when
// started with MOSSWIRE_AUTOMATION=1, which WebKitWebDriver passes on to it. Each run gets
// its own home, config and data folders, so nothing of the person running it is touched.
const { spawn, execFileSync } = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const EXE = path.join(__dirname, '..', '..', 'build', 'mosswire');

function which(name) {
  try { return execFileSync('sh', ['-c', 'command -v ' + name], { encoding: 'utf8' }).trim() || null; } catch (e) { return null; }
}

// Why the real window can't be driven here, or null when it can.
function unavailable(exe = EXE) {
  if (!fs.existsSync(exe)) return path.relative(path.join(__dirname, '..', '..'), exe) + ' is not built';
  for (const tool of ['Xvfb', 'WebKitWebDriver', 'dbus-run-session']) if (!which(tool)) return tool + ' is missing';
  return null;
}

// The options of a test of the real window that cannot run for `why` (null when it can):
// skipped on a developer's machine, but under CI, whose set-up installs and builds
// everything, it runs and fails at once with the reason instead of passing unseen.
function realWindow(why, opts) {
  if (why && process.env.CI) return Object.assign({}, opts, { skip: false, missing: why });
  return Object.assign({}, opts, { skip: why || false });
}

// The first step of such a test.
function needs(opts) {
  if (opts.missing) throw new Error(opts.missing + ', and under CI every test must run (scripts/test.sh sets it all up)');
}

function programPid(exe, home) {
  const real = fs.realpathSync(exe);
  for (const pid of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(pid)) continue;
    try {
      if (fs.readlinkSync(`/proc/${pid}/exe`) !== real) continue;
      if (fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0').includes('HOME=' + home)) return Number(pid);
    } catch (e) { /* ended meanwhile, or not ours to read */ }
  }
  return null;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

function startXvfb() {
  return new Promise((resolve, reject) => {
    const x = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x800x24', '-nolisten', 'tcp', '-noreset'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
    let out = '';
    x.stdio[3].on('data', (b) => {
      out += b;
      if (out.includes('\n')) resolve({ proc: x, display: ':' + out.trim() });
    });
    x.on('exit', (code) => reject(new Error('Xvfb ended with ' + code)));
  });
}

async function waitFor(fn, ms, what) {
  const end = Date.now() + ms;
  for (;;) {
    try { const v = await fn(); if (v) return v; } catch (e) { /* not yet */ }
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 150));
  }
}

// Starts the program and a WebDriver session attached to its window. `opts.binary` and
// `opts.args` start another program file; `opts.home` reuses the home of an earlier run,
// which is then left for its owner to remove.
async function startHost(opts = {}) {
  const ownHome = !opts.home;
  const home = opts.home || fs.mkdtempSync(path.join(os.tmpdir(), 'msw-host-'));
  if (ownHome) {
    fs.chmodSync(home, 0o700);
    for (const d of ['config', 'data', 'run']) fs.mkdirSync(path.join(home, d), { mode: 0o700 });
  }
  const x = await startXvfb();
  const port = await freePort();
  const env = Object.assign({}, process.env, {
    DISPLAY: x.display, HOME: home, XDG_CONFIG_HOME: path.join(home, 'config'), XDG_DATA_HOME: path.join(home, 'data'),
    XDG_RUNTIME_DIR: path.join(home, 'run'), MOSSWIRE_AUTOMATION: '1', NO_AT_BRIDGE: '1',
  });
  // `opts.bus`: a session bus of the caller's, where the accessibility bus runs too, so
  // that the caller can read the window's accessible tree; otherwise a bus of its own.
  let driver;
  if (opts.bus) {
    delete env.NO_AT_BRIDGE;
    env.DBUS_SESSION_BUS_ADDRESS = opts.bus;
    driver = spawn('WebKitWebDriver', ['--port=' + port], { env, stdio: 'ignore', detached: true });
  } else {
    driver = spawn('dbus-run-session', ['--', 'WebKitWebDriver', '--port=' + port], { env, stdio: 'ignore', detached: true });
  }
  const base = `http://127.0.0.1:${port}`;
  const call = async (method, p, body) => {
    const r = await fetch(base + p, { method, headers: { 'content-type': 'application/json' }, body: body === undefined ? undefined : JSON.stringify(body) });
    const j = await r.json();
    if (j && j.value && j.value.error) throw new Error('WebDriver ' + j.value.error + ': ' + j.value.message);
    return j.value;
  };
  // Should this process end without stop() (a test time-out), the window goes with it.
  const orphans = () => {
    try { process.kill(-driver.pid, 'SIGTERM'); } catch (e) { /* ended */ }
    try { x.proc.kill(); } catch (e) { /* ended */ }
  };
  process.once('exit', orphans);
  let id = null;
  const stop = async () => {
    process.removeListener('exit', orphans);
    if (id) { try { await call('DELETE', `/session/${id}`); } catch (e) { /* already gone */ } }
    try { process.kill(-driver.pid, 'SIGTERM'); } catch (e) { /* ended */ }
    try { x.proc.kill(); } catch (e) { /* ended */ }
    if (ownHome) fs.rmSync(home, { recursive: true, force: true });
  };
  try {
    await waitFor(() => fetch(base + '/status').then((r) => r.ok), 10000, 'WebKitWebDriver');
    const s = await call('POST', '/session', { capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': { binary: opts.binary || EXE, args: opts.args || [] } } } });
    id = s.sessionId;
  } catch (e) {
    await stop();
    throw e;
  }
  const S = `/session/${id}`;
  const host = {
    home,
    env,
    // The program's process: the one running this binary under this home.
    pid: () => programPid(opts.binary || EXE, home),
    appFolder: path.join(home, 'config', 'mosswire'),
    stop,
    // Runs `body` (the text of a function body) in the page; `arguments` as given.
    run: (body, ...args) => call('POST', S + '/execute/sync', { script: body, args }),
    // Runs an async function body; its resolved value comes back.
    runAsync: (body, ...args) => call('POST', S + '/execute/async', {
      script: 'const done = arguments[arguments.length - 1]; (async () => {' + body + '})().then((v) => done({ ok: v }), (e) => done({ err: String(e && e.message || e) }));',
      args,
    }).then((r) => { if (r && r.err) throw new Error(r.err); return r && r.ok; }),
    url: () => call('GET', S + '/url'),
    screenshot: async (file) => fs.writeFileSync(file, Buffer.from(await call('GET', S + '/screenshot'), 'base64')),
    reload: () => call('POST', S + '/refresh', {}),
    timeouts: (ms) => call('POST', S + '/timeouts', { script: ms }),
    find: async (css) => {
      const e = await call('POST', S + '/element', { using: 'css selector', value: css });
      return e[Object.keys(e)[0]];
    },
    type: async (css, text) => call('POST', `${S}/element/${await host.find(css)}/value`, { text }),
    click: async (css) => call('POST', `${S}/element/${await host.find(css)}/click`, {}),
    screen: () => host.run('const s = [...document.querySelectorAll("#app > section")].filter((x) => !x.classList.contains("hidden")); return s.length === 1 ? s[0].id : s.map((x) => x.id).join(",");'),
    waitScreen: (id, ms = 30000) => waitFor(async () => (await host.screen()) === id, ms, 'screen ' + id),
    waitFor,
    // Joins with an invite as a person does, from the welcome screen to the main screen: the
    // code copied and then pasted through the host's own clipboard functions, the username,
    // the PIN twice. `beforeConfirm` runs just before the PIN is confirmed.
    join: async (code, name, pin, beforeConfirm) => {
      await host.runAsync('await msw_copy(arguments[0]);', code);
      await host.click('#pasteBtn');
      await waitFor(() => host.run('return !document.getElementById("joinMore").classList.contains("hidden")'), 30000, 'the username field');
      await host.type('#joinName', name);
      await host.click('#joinNext');
      await host.waitScreen('sSetPin');
      await host.type('#newPin', pin);
      await host.type('#newPin2', pin);
      if (beforeConfirm) await beforeConfirm();
      await host.click('#setPinGo');
      await host.waitScreen('sMain', 60000);
    },
  };
  await host.timeouts(120000);
  return host;
}

module.exports = { EXE, unavailable, startHost, realWindow, needs };
