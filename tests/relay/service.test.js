'use strict';
// The relay as a deployed service: the systemd unit in relay/deploy checked by systemd
// itself, and the relay behind the documented nginx front (that very site file, moved to
// free loopback ports and a certificate made here) with members signing in over wss://.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const net = require('net');
const https = require('https');
const { spawn, spawnSync } = require('child_process');
const WebSocket = require('ws');
const H = require('./helpers.js');

const DEPLOY = path.join(H.REPO, 'relay', 'deploy');
const UNIT = path.join(DEPLOY, 'mosswire-relay.service');
const SITE = path.join(DEPLOY, 'nginx-mosswire.conf');

// The [Service] settings of a unit file as name -> list of values (keys may repeat).
function serviceSettings(text) {
  const settings = new Map();
  let section = '';
  for (const raw of text.split('\n')) {
    const line = raw.trim();
    if (!line || line.startsWith('#')) continue;
    const head = /^\[(.+)\]$/.exec(line);
    if (head) {
      section = head[1];
      continue;
    }
    const eq = line.indexOf('=');
    if (section !== 'Service' || eq < 0) continue;
    const key = line.slice(0, eq);
    if (!settings.has(key)) settings.set(key, []);
    settings.get(key).push(line.slice(eq + 1));
  }
  return settings;
}

function environmentOf(settings) {
  const env = {};
  for (const value of settings.get('Environment') || []) {
    for (const pair of value.split(/\s+/)) {
      const eq = pair.indexOf('=');
      if (eq > 0) env[pair.slice(0, eq)] = pair.slice(eq + 1);
    }
  }
  return env;
}

test('the systemd unit', async (t) => {
  const text = fs.readFileSync(UNIT, 'utf8');
  const settings = serviceSettings(text);

  await t.test('systemd-analyze verify finds nothing to say about it', () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-unit-'));
    t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
    // verify checks that ExecStart's program exists; Node may live elsewhere on this machine.
    const here = fs.existsSync('/usr/bin/node') ? text : text.replace(/\/usr\/bin\/node\b/g, process.execPath);
    fs.writeFileSync(path.join(dir, 'mosswire-relay.service'), here);
    const r = spawnSync('systemd-analyze', ['verify', '--man=no', path.join(dir, 'mosswire-relay.service')], { encoding: 'utf8' });
    assert.strictEqual(r.error, undefined, 'systemd-analyze could not run');
    // Unknown keys and unparsable values are only warnings to systemd, so any output fails.
    assert.strictEqual(r.status, 0, r.stderr + r.stdout);
    assert.strictEqual((r.stderr + r.stdout).trim(), '');
  });

  await t.test('it confines the relay and gives it the one place it may write', () => {
    for (const [key, value] of [
      ['ProtectSystem', 'strict'],
      ['ProtectHome', 'yes'],
      ['NoNewPrivileges', 'yes'],
      ['Restart', 'on-failure'],
    ]) {
      assert.deepStrictEqual(settings.get(key), [value], key);
    }
    assert.ok(settings.get('DynamicUser')?.[0] === 'yes' || settings.has('User'), 'runs as an unprivileged user');
    const env = environmentOf(settings);
    // ProtectSystem=strict makes everything else read-only: the state must go to the
    // folder systemd makes writable for the service.
    assert.deepStrictEqual(settings.get('StateDirectory'), ['mosswire-relay']);
    assert.strictEqual(env.STATE_DIR, '/var/lib/' + settings.get('StateDirectory')[0]);
    assert.strictEqual(env.HOST, '127.0.0.1', 'only the TLS front faces the network');
    assert.strictEqual(env.OWNER_KEY, undefined, 'the owner key stays out of the world-readable unit');
    assert.deepStrictEqual(settings.get('EnvironmentFile'), ['/etc/mosswire/relay.env']);
    // The nginx site passes to the port the unit listens on.
    assert.match(fs.readFileSync(SITE, 'utf8'), new RegExp('proxy_pass http://127\\.0\\.0\\.1:' + env.PORT + ';'));
  });
});

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const port = s.address().port;
      s.close(() => resolve(port));
    });
  });
}

function run(cmd, args) {
  const r = spawnSync(cmd, args, { encoding: 'utf8' });
  if (r.error || r.status !== 0) throw new Error(cmd + ' failed: ' + (r.error ? r.error.message : r.stderr));
  return r.stdout;
}

// A self-signed certificate for 127.0.0.1, made for this run only.
function makeCertificate(dir) {
  const cert = path.join(dir, 'cert.pem');
  const key = path.join(dir, 'key.pem');
  run('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes', '-days', '1', '-subj', '/CN=127.0.0.1', '-addext', 'subjectAltName=IP:127.0.0.1', '-keyout', key, '-out', cert]);
  return { cert, key, pem: fs.readFileSync(cert) };
}

// The documented site file as it would run on this machine: the same server block with
// loopback ports and this run's certificate instead of 443 and Let's Encrypt's.
function siteForTest(port, relayPort, cert) {
  let site = fs.readFileSync(SITE, 'utf8');
  const swaps = [
    [/^\s*listen 443 ssl;$/m, '    listen 127.0.0.1:' + port + ' ssl;'],
    [/^\s*listen \[::\]:443 ssl;\n/m, ''],
    [/^\s*ssl_certificate .*;$/m, '    ssl_certificate ' + cert.cert + ';'],
    [/^\s*ssl_certificate_key .*;$/m, '    ssl_certificate_key ' + cert.key + ';'],
    [/127\.0\.0\.1:8787/g, '127.0.0.1:' + relayPort],
  ];
  for (const [from, to] of swaps) {
    assert.match(site, from, 'the site file no longer has ' + from);
    site = site.replace(from, to);
  }
  return site;
}

// nginx as a child of this test with its own prefix, not the system's service.
async function startNginx(dir, site) {
  const tmp = path.join(dir, 'tmp');
  fs.mkdirSync(tmp);
  fs.writeFileSync(path.join(dir, 'site.conf'), site);
  const conf = path.join(dir, 'nginx.conf');
  fs.writeFileSync(conf, [
    'worker_processes 1;',
    'pid ' + path.join(dir, 'nginx.pid') + ';',
    'error_log stderr warn;',
    'events { worker_connections 64; }',
    'http {',
    ...['client_body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'].map((k) => '  ' + k + '_temp_path ' + path.join(tmp, k) + ';'),
    '  include ' + path.join(dir, 'site.conf') + ';',
    '}',
    '',
  ].join('\n'));
  // Workers drop to an unprivileged user when nginx runs as root; they only need to pass through.
  fs.chmodSync(dir, 0o755);
  const child = spawn('nginx', ['-p', dir, '-c', conf, '-e', 'stderr', '-g', 'daemon off;'], { stdio: ['ignore', 'ignore', 'pipe'] });
  let err = '';
  child.stderr.on('data', (d) => {
    err += d;
  });
  const exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  return { child, exited, stderr: () => err };
}

function stopNginx(nginx) {
  if (nginx.child.exitCode !== null || nginx.child.signalCode !== null) return Promise.resolve();
  nginx.child.kill('SIGQUIT'); // graceful: the master waits for its workers
  const hard = setTimeout(() => nginx.child.kill('SIGKILL'), 5000);
  return nginx.exited.then(() => clearTimeout(hard));
}

function get(url, ca) {
  return new Promise((resolve, reject) => {
    const req = https.get(url, { ca, timeout: 5000 }, (res) => {
      let body = '';
      res.on('data', (d) => {
        body += d;
      });
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body }));
    });
    req.on('timeout', () => req.destroy(new Error('timed out')));
    req.on('error', reject);
  });
}

async function waitForHealth(url, ca, nginx) {
  const until = Date.now() + 10000;
  for (;;) {
    try {
      return await get(url, ca);
    } catch (e) {
      if (nginx.child.exitCode !== null || Date.now() > until) throw new Error('nginx did not answer: ' + e.message + '\n' + nginx.stderr());
      await new Promise((r) => setTimeout(r, 100));
    }
  }
}

function openWss(url, ca) {
  return new Promise((resolve, reject) => {
    const ws = new WebSocket(url, { ca, handshakeTimeout: 5000, maxPayload: 64 * 1024 * 1024 });
    ws.once('error', reject);
    ws.once('open', () => {
      ws.off('error', reject);
      ws.on('error', () => {});
      resolve(new H.FrameSocket(ws));
    });
  });
}

test('the relay behind the nginx TLS front', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-tls-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const cert = makeCertificate(dir);
  const owner = await H.makeOwner();
  // The relay with the unit's settings, but on a free port and a state folder of its own.
  const unitEnv = environmentOf(serviceSettings(fs.readFileSync(UNIT, 'utf8')));
  for (const own of ['HOST', 'PORT', 'STATE_DIR']) delete unitEnv[own];
  const relay = await H.startRelay({ ownerKey: owner.key, env: unitEnv });
  t.after(() => relay.stop());
  const port = await freePort();
  const nginx = await startNginx(dir, siteForTest(port, relay.port, cert));
  t.after(() => stopNginx(nginx));
  const base = '127.0.0.1:' + port;
  const open = [];
  t.after(() => open.forEach((s) => s.close()));

  await t.test('GET /health is passed through over https', async () => {
    const health = await waitForHealth('https://' + base + '/health', cert.pem, nginx);
    assert.strictEqual(health.status, 200);
    assert.strictEqual(health.headers['access-control-allow-origin'], '*');
    const direct = await (await fetch(relay.http + '/health')).json();
    assert.deepStrictEqual(JSON.parse(health.body), direct);
    assert.strictEqual(direct.net, true);
    assert.strictEqual((await get('https://' + base + '/elsewhere', cert.pem)).status, 404);
  });

  await t.test('members sign in over wss:// and a message crosses the front both ways', async () => {
    const [amy, ben] = await Promise.all(['amy', 'ben'].map((n) => H.makeMember(owner, n)));
    const signIn = async (m) => {
      const s = await openWss('wss://' + base, cert.pem);
      open.push(s);
      s.hello = await s.next('hello');
      s.send(await H.authFrame(m, s.hello));
      s.answer = await s.next(['welcome', 'denied', 'removed']);
      assert.strictEqual(s.answer.t, 'welcome', JSON.stringify(s.answer));
      return s;
    };
    const sa = await signIn(amy);
    const sb = await signIn(ben);
    const boot = JSON.parse((await get('https://' + base + '/health', cert.pem)).body).boot;
    assert.strictEqual(sa.hello.boot, boot, 'the same relay answers both');
    sa.send(await H.sealFor(amy, { k: 'msg', text: 'through the front' }, [ben], { ref: 'r1' }));
    assert.deepStrictEqual(await sa.next(['sent', 'error']), { t: 'sent', ref: 'r1' });
    const env = await sb.next('env');
    assert.deepStrictEqual(await H.openEnv(ben, env, amy), { k: 'msg', text: 'through the front' });
  });

  await t.test('a client that does not trust the certificate is refused, and plain ws:// is not served', async () => {
    await assert.rejects(openWss('wss://' + base), /self[- ]signed|unable to verify|certificate/i);
    await assert.rejects(openWss('ws://' + base, undefined), /400|Unexpected server response|socket hang up|ECONNRESET/);
  });
});
