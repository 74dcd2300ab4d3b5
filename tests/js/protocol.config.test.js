'use strict';
// The generated config.js loads as a module and carries an owner certificate that the
// protocol accepts.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const vm = require('node:vm');
const { generate } = require('../../scripts/gen-web.js');
const { P, makeOwner } = require('./interop/net.js');

function freshDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'msw-config-'));
}

function loadFresh(file) {
  delete require.cache[require.resolve(file)];
  return require(file);
}

test('config.js exports MswConfig with its four fields and a working owner certificate', async (t) => {
  const dir = freshDir();
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const owner = await makeOwner('Owner');
  // The owner's tool writes the certificate with whatever extra it likes; only m and s go in.
  const certFile = path.join(dir, 'owner-cert.json');
  fs.writeFileSync(certFile, JSON.stringify({ ...owner.cert, note: 'kept out' }));
  const out = path.join(dir, 'web');
  generate(out, {
    server: 'wss://relay.example.net',
    version: '1.1.8',
    ownerCert: certFile,
    updates: 'https://api.github.com/repos/someone/mosswire/releases',
  });

  const config = loadFresh(path.join(out, 'config.js'));
  assert.deepEqual(Object.keys(config), ['SERVER', 'VERSION', 'OWNER_CERT', 'UPDATES']);
  assert.equal(config.SERVER, 'wss://relay.example.net');
  assert.equal(config.VERSION, '1.1.8');
  assert.equal(config.UPDATES, 'https://api.github.com/repos/someone/mosswire/releases');
  assert.deepEqual(config.OWNER_CERT, { m: owner.cert.m, s: owner.cert.s });
  assert.ok(Object.isFrozen(config));
  assert.deepEqual(await P.verifyCert(config.OWNER_CERT, config.OWNER_CERT.m.sig), owner.info);

  // The copied protocol.js is the same script, and in a page both publish their globals.
  const ctx = { TextEncoder, TextDecoder, atob, btoa, crypto: globalThis.crypto };
  ctx.globalThis = ctx;
  vm.runInNewContext(fs.readFileSync(path.join(out, 'config.js'), 'utf8'), ctx);
  vm.runInNewContext(fs.readFileSync(path.join(out, 'protocol.js'), 'utf8'), ctx);
  assert.equal(ctx.MswConfig.VERSION, '1.1.8');
  assert.deepEqual(Object.keys(ctx.MswProto), Object.keys(P));

  // A short code read against the configured certificate admits a member.
  const code = await P.makeShortInvite(owner.keys.sigPriv, 1);
  const inv = await P.readShortInvite(code, config.OWNER_CERT);
  const cert = await P.acceptInvite(inv, await P.generateKeys(), 'joiner');
  assert.ok(await P.verifyCert(cert, config.OWNER_CERT.m.sig));
});

test('a build without settings has no owner certificate and a loopback relay', (t) => {
  const dir = freshDir();
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  generate(dir, {});
  const config = loadFresh(path.join(dir, 'config.js'));
  assert.deepEqual(Object.keys(config), ['SERVER', 'VERSION', 'OWNER_CERT', 'UPDATES']);
  assert.equal(config.OWNER_CERT, null);
  assert.equal(config.VERSION, '1.1.8');
  assert.match(config.SERVER, /^wss?:\/\/127\.0\.0\.1:\d+$/);
  assert.match(config.UPDATES, /^https:\/\/api\.github\.com\/repos\/[^/]+\/mosswire\/releases$/);
});
