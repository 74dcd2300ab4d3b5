#!/usr/bin/env node
'use strict';
// Lays out the seven page files the program serves, in OUTDIR:
//   index.html, style.css, protocol.js, vault.js, gifs.js  copied from web/
//   config.js  filled in from web/config.js.in with the build settings below
//   app.js     the sections under web/app/ joined, by file name, into one closure
// CMake runs this at build time; tests run it to serve the real page from a folder.
//
//   node scripts/gen-web.js OUTDIR [--server URL] [--version V] [--owner-cert FILE] [--updates URL]
//
// --updates '' builds a page that never asks for releases.
// --owner-cert names a JSON file holding the owner's certificate; a missing or empty
// name gives OWNER_CERT null. Files are rewritten only when their bytes change, so a
// build that depends on them does not redo work for nothing.
const fs = require('fs');
const path = require('path');

const WEB = path.join(__dirname, '..', 'web');
const DEFAULTS = {
  server: 'ws://127.0.0.1:8787',
  version: '1.1.8',
  ownerCert: '',
  updates: 'https://api.github.com/repos/mosswire/mosswire/releases',
};
const COPIED = ['style.css', 'protocol.js', 'vault.js', 'gifs.js'];
const LOOPBACK = /^(localhost|127\.0\.0\.1)$/;

function readOwnerCert(file) {
  if (!file) return null;
  const cert = JSON.parse(fs.readFileSync(file, 'utf8'));
  if (!cert || typeof cert !== 'object' || !cert.m || typeof cert.s !== 'string' || cert.by) {
    throw new Error(file + ' does not hold an owner certificate (m and s, no by)');
  }
  return { m: { name: cert.m.name, sig: cert.m.sig, ecdh: cert.m.ecdh, at: cert.m.at }, s: cert.s };
}

function configText(settings) {
  const values = {
    SERVER: JSON.stringify(settings.server),
    VERSION: JSON.stringify(settings.version),
    OWNER_CERT: JSON.stringify(readOwnerCert(settings.ownerCert)),
    UPDATES: JSON.stringify(settings.updates),
  };
  const template = fs.readFileSync(path.join(WEB, 'config.js.in'), 'utf8');
  return template.replace(/@([A-Z_]+)@/g, (all, name) => {
    if (!(name in values)) throw new Error('config.js.in names an unknown setting ' + all);
    return values[name];
  });
}

// The page wakes a sleeping relay host with a plain fetch of /health on the relay's own
// host, so the content security policy must name that origin. Loopback relays are
// already covered by the policy's http://127.0.0.1:* and http://localhost:* entries.
function relayOrigin(server) {
  let url;
  try {
    url = new URL(server);
  } catch (e) {
    throw new Error('the relay address ' + JSON.stringify(server) + ' is not a URL');
  }
  if (url.protocol !== 'ws:' && url.protocol !== 'wss:') {
    throw new Error('the relay address must start with ws:// or wss://, not ' + url.protocol);
  }
  if (LOOPBACK.test(url.hostname)) return null;
  return (url.protocol === 'wss:' ? 'https://' : 'http://') + url.host;
}

// The update check asks the release list's host; a build pointed at another host than the
// one the policy names needs that origin too. No address means no update check.
function updatesOrigin(updates) {
  if (!updates) return null;
  let url;
  try {
    url = new URL(updates);
  } catch (e) {
    throw new Error('the release list address ' + JSON.stringify(updates) + ' is not a URL');
  }
  if (url.protocol !== 'https:' && url.protocol !== 'http:') {
    throw new Error('the release list address must start with https:// or http://, not ' + url.protocol);
  }
  if (LOOPBACK.test(url.hostname) && url.protocol === 'http:') return null;
  return url.protocol + '//' + url.host;
}

function indexText(settings) {
  const html = fs.readFileSync(path.join(WEB, 'index.html'), 'utf8');
  const origins = [relayOrigin(settings.server), updatesOrigin(settings.updates)].filter(Boolean);
  if (!origins.length) return html;
  let found = false;
  const out = html.replace(/(connect-src)([^;"]*)/, (all, name, sources) => {
    found = true;
    const have = sources.split(/\s+/);
    const more = origins.filter((o, i) => !have.includes(o) && origins.indexOf(o) === i);
    return more.length ? name + ' ' + more.join(' ') + sources : all;
  });
  if (!found) throw new Error('index.html has no connect-src directive to add the relay origin to');
  return out;
}

// app.js is one closure; its source is kept as sections (one concern each) so that
// the largest page script stays navigable. A lone web/app.js is used as it is.
function appText() {
  const dir = path.join(WEB, 'app');
  if (!fs.existsSync(dir)) return fs.readFileSync(path.join(WEB, 'app.js'), 'utf8');
  const parts = fs.readdirSync(dir).filter((f) => f.endsWith('.js')).sort();
  const body = parts.map((f) => '// ---- ' + f + '\n' + fs.readFileSync(path.join(dir, f), 'utf8'));
  return "(function () {\n'use strict';\n" + body.join('\n') + '\n})();\n';
}

function writeIfChanged(file, text) {
  if (fs.existsSync(file) && fs.readFileSync(file).equals(Buffer.from(text))) return;
  fs.writeFileSync(file, text);
}

function generate(outDir, settings = {}) {
  const s = Object.assign({}, DEFAULTS, settings);
  fs.mkdirSync(outDir, { recursive: true });
  for (const name of COPIED) writeIfChanged(path.join(outDir, name), fs.readFileSync(path.join(WEB, name)));
  writeIfChanged(path.join(outDir, 'index.html'), indexText(s));
  writeIfChanged(path.join(outDir, 'config.js'), configText(s));
  writeIfChanged(path.join(outDir, 'app.js'), appText());
  return outDir;
}

function parseArgs(argv) {
  const out = { dir: null, settings: {} };
  const flags = { '--server': 'server', '--version': 'version', '--owner-cert': 'ownerCert', '--updates': 'updates' };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a in flags) {
      if (i + 1 >= argv.length) throw new Error(a + ' needs a value');
      out.settings[flags[a]] = argv[++i];
    } else if (!out.dir) out.dir = a;
    else throw new Error('unexpected argument ' + a);
  }
  if (!out.dir) throw new Error('usage: gen-web.js OUTDIR [--server URL] [--version V] [--owner-cert FILE] [--updates URL]');
  return out;
}

if (require.main === module) {
  try {
    const { dir, settings } = parseArgs(process.argv.slice(2));
    generate(dir, settings);
  } catch (e) {
    process.stderr.write('gen-web: ' + e.message + '\n');
    process.exit(1);
  }
}

module.exports = { generate, configText, indexText, relayOrigin, DEFAULTS };
