'use strict';
// The same protocol.js, unchanged, in the browser engines the program ships on: Chromium
// (through playwright-core) and WebKitGTK (the Linux host's engine, through Python's GTK
// bindings under Xvfb). Each engine checks and opens what Node made, and makes material
// that Node then checks and opens.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { P, makeOwner, makeMember } = require('./interop/net.js');

const ROOT = path.join(__dirname, '..', '..');
const PAGE = '<!doctype html><meta charset="utf-8"><title>protocol</title>' +
  '<script src="protocol.js"></script><script src="scenario.js"></script>';

let server, base, input, expected;
let deliver = null;

function nextResult(ms) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no result from the engine within ' + ms + ' ms')), ms);
    deliver = (r) => {
      clearTimeout(timer);
      resolve(r);
    };
  });
}

test.before(async () => {
  const owner = await makeOwner('Owner');
  const member = await makeMember(owner, 'Maya.K');
  const recipientKeys = await P.generateKeys();
  const recipientId = await P.idOf(recipientKeys.sigPub);
  const senderKeys = await P.generateKeys();
  const senderId = await P.idOf(senderKeys.sigPub);
  const payload = { k: 'msg', text: 'from node ✓ 😀', at: 1793233993890, list: [null, true, 1.5] };
  const sealed = await P.createBox(senderId, senderKeys.ecdhPriv).seal(payload, [{ id: recipientId, ecdh: recipientKeys.ecdhPub }]);
  const spokenInvite = 'MSW1.engine-test-invite';
  input = {
    owner: { cert: owner.cert, pub: owner.pub, priv: owner.keys.sigPriv },
    member: { cert: member.cert },
    forgedCert: { ...member.cert, m: { ...member.cert.m, name: 'Maya.L' } },
    canonSample: ['msw-auth', { b: [{ y: 1, x: 2 }], a: '\u0001\ud800 "q" \\ ü 😀 \u2028', n: 1793233993890, f: 0.1, e: 1e21, z: null }],
    names: ['  Ma\u200Bya\u00A0\u00A0Lee ', '\uFF21\uFF22\uFF23', '<b>x</b>', 'a' + '😀'.repeat(12), '\uFB01le\u202Ex'],
    recipient: { id: recipientId, ecdhPriv: recipientKeys.ecdhPriv, ecdhPub: recipientKeys.ecdhPub },
    sealed: { env: { from: senderId, key: sealed.keys[recipientId], iv: sealed.iv, ct: sealed.ct }, fromEcdh: senderKeys.ecdhPub },
    ann: await P.signAnn(owner.keys.sigPriv, 'abcdefabcdef0123', 1793233993890, '## Hello\n**all**'),
    removals: await P.signRemovals(owner.keys, 2, [member.info.id]),
    shortCode: await P.makeShortInvite(owner.keys.sigPriv, 48),
    spoken: await P.makeSpoken(owner.keys.sigPriv, owner.pub, spokenInvite, 1),
    replyPayload: { k: 'reply', text: 'from the engine' },
  };
  const inv = await P.readShortInvite(input.shortCode, owner.cert);
  expected = {
    owner, member, payload, spokenInvite, recipientKeys, recipientId,
    shortInvite: { ik: inv.g.ik, k: inv.k, exp: inv.g.exp },
    safety: await P.safetyNumber(member.cert.m),
  };

  const files = {
    '/index.html': ['text/html', PAGE],
    '/protocol.js': ['text/javascript', fs.readFileSync(path.join(ROOT, 'web', 'protocol.js'))],
    '/scenario.js': ['text/javascript', fs.readFileSync(path.join(__dirname, 'interop', 'engine-scenario.js'))],
    '/input.json': ['application/json', JSON.stringify(input)],
  };
  server = http.createServer((req, res) => {
    if (req.method === 'POST' && req.url === '/result.json') {
      let body = '';
      req.setEncoding('utf8');
      req.on('data', (c) => (body += c));
      req.on('end', () => {
        res.end('ok');
        if (deliver) deliver(JSON.parse(body));
      });
      return;
    }
    const f = files[req.url];
    if (!f) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { 'Content-Type': f[0] + '; charset=utf-8', 'Cache-Control': 'no-store' }).end(f[1]);
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  base = 'http://127.0.0.1:' + server.address().port + '/';
});

test.after(() => server && server.close());

async function checkEngineResult(out) {
  assert.equal(out.error, undefined, out.error);
  assert.equal(out.secure, true, 'the loopback page is a secure context, as the host serves it');
  const { owner, member } = expected;
  assert.deepEqual(out.keysOrder, Object.keys(P));

  // What Node made, as the engine saw it.
  assert.deepEqual(out.ownerInfo, owner.info);
  assert.deepEqual(out.memberInfo, member.info);
  assert.equal(out.forgedCert, null);
  assert.equal(out.safety, expected.safety);
  assert.equal(out.idOf, member.info.id);
  assert.equal(out.canon, P.canon(input.canonSample));
  assert.deepEqual(out.cleanNames, input.names.map((n) => P.cleanName(n)));
  assert.deepEqual(out.opened, expected.payload);
  assert.equal(out.openedTampered, null);
  assert.deepEqual(out.ann, input.ann);
  assert.deepEqual(out.removals, input.removals);
  assert.deepEqual(out.shortInvite, expected.shortInvite, 'the invite key derived from the seed is the same');
  assert.ok(out.joinerInfo);
  assert.deepEqual(await P.verifyCert(out.joinerCert, owner.pub), out.joinerInfo);
  assert.equal(out.spokenOpened, expected.spokenInvite);

  // What the engine made, checked and opened by Node.
  const mine = out.mine;
  assert.equal(await P.idOf(mine.sigPub), mine.id);
  const engineOwner = await P.verifyCert(out.myOwnerCert, mine.sigPub);
  assert.equal(engineOwner && engineOwner.name, 'EngineOwner');
  const joined = await P.acceptInvite(out.myInvite, await P.generateKeys(), 'node_joiner');
  assert.ok(await P.verifyCert(joined, mine.sigPub), 'an invite made in the engine admits a member in Node');
  assert.equal(await P.verify(mine.sigPub, input.canonSample, out.mySignature), true);
  const box = P.createBox(expected.recipientId, expected.recipientKeys.ecdhPriv);
  const env = { from: mine.id, key: out.mySealed.keys[expected.recipientId], iv: out.mySealed.iv, ct: out.mySealed.ct };
  assert.deepEqual(await box.open(env, out.myEcdhPub), input.replyPayload);
  const inv = await P.readShortInvite(out.myShortCode, owner.cert);
  assert.ok(await P.verifyCert(await P.acceptInvite(inv, await P.generateKeys(), 'short_joiner'), owner.pub));
  assert.deepEqual(await P.checkAnn(out.myAnn, owner.pub), out.myAnn);
  assert.deepEqual(await P.checkSpoken(out.mySpoken.entry, owner.pub), out.mySpoken.entry);
  assert.equal(await P.openSpoken(out.mySpoken.code, owner.pub, [out.mySpoken.entry]), out.myShortCode);
}

test('Chromium runs protocol.js unchanged and agrees with Node', { timeout: 120000 }, async () => {
  const { chromium } = require('playwright-core');
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update'],
  });
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    const result = nextResult(90000);
    await page.goto(base + 'index.html');
    const out = await result;
    assert.deepEqual(errors, []);
    assert.match(out.engine, /Chrome/);
    await checkEngineResult(out);
  } finally {
    await browser.close();
  }
});

test('WebKitGTK runs protocol.js unchanged and agrees with Node', { timeout: 150000 }, async () => {
  const result = nextResult(120000);
  // A random first display number keeps parallel test runs from racing for the same one.
  const display = String(200 + Math.floor(Math.random() * 700));
  const runner = [path.join(__dirname, 'interop', 'webkit.py'), base + 'index.html', '130'];
  const child = spawn('xvfb-run', ['-a', '-n', display, '/usr/bin/python3', ...runner], {
    stdio: ['ignore', 'ignore', 'pipe'],
    detached: true,
    env: { ...process.env, NO_AT_BRIDGE: '1' },
  });
  let stderr = '';
  child.stderr.on('data', (d) => (stderr += d));
  const exited = new Promise((r) => child.on('exit', r));
  const early = exited.then((code) => {
    throw new Error('the WebKitGTK runner ended (' + code + ') before the page reported: ' + stderr.slice(-2000));
  });
  try {
    const out = await Promise.race([result, early]);
    assert.match(out.engine, /AppleWebKit/);
    assert.doesNotMatch(out.engine, /Chrome/);
    await checkEngineResult(out);
  } finally {
    early.catch(() => {});
    // xvfb-run, Xvfb, python and the web processes share one process group.
    try {
      process.kill(-child.pid, 'SIGTERM');
    } catch (e) {
      // already gone
    }
    await exited;
  }
});
