'use strict';
// The page layout the program embeds: what the build settings change in it.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { generate, relayOrigin } = require('../../scripts/gen-web.js');

function layout(settings) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-genweb-'));
  generate(dir, settings);
  return dir;
}

function connectSrc(dir) {
  const html = fs.readFileSync(path.join(dir, 'index.html'), 'utf8');
  const m = /connect-src([^;"]*)/.exec(html);
  assert.ok(m, 'index.html keeps its connect-src directive');
  return m[1].trim().split(/\s+/);
}

test('the seven page files are laid out, app.js as one closure', () => {
  const dir = layout({});
  const names = fs.readdirSync(dir).sort();
  assert.deepStrictEqual(names, ['app.js', 'config.js', 'gifs.js', 'index.html', 'protocol.js', 'style.css', 'vault.js']);
  const app = fs.readFileSync(path.join(dir, 'app.js'), 'utf8');
  assert.match(app, /^\(function \(\) \{\n'use strict';\n/);
  assert.match(app, /\}\)\(\);\n$/);
  assert.doesNotThrow(() => new Function(app), 'the joined sections parse as one script');
});

test('a deployed relay adds its https origin to connect-src, loopback relays add nothing', () => {
  const plain = connectSrc(layout({}));
  assert.deepStrictEqual(connectSrc(layout({ server: 'ws://localhost:9000' })), plain);

  const deployed = connectSrc(layout({ server: 'wss://relay.example.org/socket' }));
  assert.ok(deployed.includes('https://relay.example.org'));
  assert.strictEqual(deployed.length, plain.length + 1);

  assert.strictEqual(relayOrigin('wss://relay.example.org:8443'), 'https://relay.example.org:8443');
  assert.strictEqual(relayOrigin('ws://10.1.2.3:8787'), 'http://10.1.2.3:8787');
  assert.strictEqual(relayOrigin('ws://127.0.0.1:8787'), null);
});

test('a release list on another host adds its origin; none or loopback adds nothing', () => {
  const plain = connectSrc(layout({}));
  assert.ok(plain.includes('https://api.github.com'));
  assert.deepStrictEqual(connectSrc(layout({ updates: '' })), plain);
  assert.deepStrictEqual(connectSrc(layout({ updates: 'http://127.0.0.1:9/releases' })), plain);
  const other = connectSrc(layout({ updates: 'https://git.example.org/api/v1/repos/a/b/releases', server: 'wss://git.example.org/ws' }));
  assert.strictEqual(other.filter((o) => o === 'https://git.example.org').length, 1);
  assert.throws(() => layout({ updates: 'ftp://x.example/releases' }), /must start with https:\/\/ or http:\/\//);
});

test('a relay address that is not a WebSocket URL stops the build with a clear message', () => {
  assert.throws(() => layout({ server: 'https://relay.example.org' }), /must start with ws:\/\/ or wss:\/\//);
  assert.throws(() => layout({ server: 'relay' }), /is not a URL/);
});

test('the owner certificate file fills OWNER_CERT; anything else is refused', () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'msw-genweb-cert-'));
  const cert = { m: { name: 'owner', sig: 'A'.repeat(88), ecdh: 'B'.repeat(88), at: 5, extra: 1 }, s: 'C'.repeat(88) };
  fs.writeFileSync(path.join(tmp, 'cert.json'), JSON.stringify(cert));
  const config = require(path.join(layout({ ownerCert: path.join(tmp, 'cert.json') }), 'config.js'));
  assert.deepStrictEqual(config.OWNER_CERT, { m: { name: 'owner', sig: 'A'.repeat(88), ecdh: 'B'.repeat(88), at: 5 }, s: 'C'.repeat(88) });

  fs.writeFileSync(path.join(tmp, 'member.json'), JSON.stringify(Object.assign({ by: {} }, cert)));
  assert.throws(() => layout({ ownerCert: path.join(tmp, 'member.json') }), /does not hold an owner certificate/);
});
