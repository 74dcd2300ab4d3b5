#!/usr/bin/env node
'use strict';
// Checks the settings a release is built with (scripts/release.sh calls it first) and
// prints them. A release is installed by every member's program, so it must not point
// anywhere that only works on the owner's computer or nowhere at all: the relay is a wss://
// address on a real host, the release list and download addresses are set, and the owner
// certificate the programs trust belongs to the owner key that signs the release.
//
//   node scripts/release-settings.js      exit 0 and the settings, or 1 and every problem
//
// Reads MOSSWIRE_SERVER, MOSSWIRE_UPDATES, MOSSWIRE_DOWNLOAD_BASE, MOSSWIRE_OWNER_CERT_FILE
// and the owner key file (~/.mosswire/owner.json).
const fs = require('fs');
const O = require('../tools/owner-lib.js');

// Names no relay of a real network has: this computer, and the names set aside for
// examples and tests (RFC 2606, RFC 6761).
const LOCAL = /^(localhost|.*\.localhost|127(\.\d+){3}|0\.0\.0\.0|\[::1?\]|\[::ffff:127(\.\d+){3}\])$/i;
const RESERVED = /(^|\.)(example\.(com|net|org)|example|test|invalid|local)$/i;

function url(text) {
  try {
    return new URL(text);
  } catch (e) {
    return null;
  }
}

function checkServer(value, problems) {
  const u = value ? url(value) : null;
  const why = !value ? 'is not set' : !u ? 'is not an address' : u.protocol !== 'wss:' ? 'does not start with wss://'
    : !u.hostname || LOCAL.test(u.hostname) ? 'names this computer' : RESERVED.test(u.hostname) ? 'names a placeholder host' : null;
  if (why) {
    problems.push('MOSSWIRE_SERVER ' + why + (value ? ' (' + value + ')' : '') + ". Set it to the relay's wss:// address " +
      'on its real host (every member connects there), for example MOSSWIRE_SERVER=wss://relay.your-domain.org.');
  }
}

function checkHttps(name, value, what, example, problems) {
  const u = value ? url(value) : null;
  const why = !value ? 'is not set' : !u || u.protocol !== 'https:' || !u.hostname ? 'is not an https:// address (' + value + ')'
    : /\/OWNER\/REPO(\/|$)/.test(u.pathname) ? 'still names the placeholder OWNER/REPO (' + value + ')' : null;
  if (why) problems.push(name + ' ' + why + '. Set it to ' + what + ', for example ' + name + '=' + example + '.');
}

async function checkOwner(certFile, problems) {
  let keys = null;
  try {
    keys = O.readOwner();
  } catch (e) {
    problems.push('No owner key to sign the release with: ' + e.message);
  }
  let cert = null;
  try {
    cert = JSON.parse(fs.readFileSync(certFile, 'utf8'));
  } catch (e) {
    problems.push('No owner certificate at ' + certFile + ' (MOSSWIRE_OWNER_CERT_FILE): without it the programs of this ' +
      "release could not check updates. Write it with: node tools/owner.js cert");
    return null;
  }
  if (keys && !(await O.configuredCert(keys))) {
    problems.push('The owner certificate ' + certFile + " is not this owner key's: the programs would refuse every " +
      'release it signs. Write it again with: node tools/owner.js cert');
  }
  return keys && cert ? keys : null;
}

async function main() {
  const env = process.env;
  const certFile = O.certFile();
  const problems = [];
  checkServer(env.MOSSWIRE_SERVER, problems);
  checkHttps('MOSSWIRE_UPDATES', env.MOSSWIRE_UPDATES, 'the release list the programs ask for new versions',
    'https://api.github.com/repos/OWNER/REPO/releases', problems);
  checkHttps('MOSSWIRE_DOWNLOAD_BASE', env.MOSSWIRE_DOWNLOAD_BASE, 'where the releases are downloaded from',
    'https://github.com/OWNER/REPO', problems);
  const keys = await checkOwner(certFile, problems);
  if (problems.length) {
    for (const p of problems) process.stderr.write('release.sh: ' + p + '\n');
    process.stderr.write('release.sh: no release was made.\n');
    return 1;
  }
  process.stdout.write([
    '  relay:        ' + env.MOSSWIRE_SERVER,
    '  release list: ' + env.MOSSWIRE_UPDATES,
    '  downloads:    ' + env.MOSSWIRE_DOWNLOAD_BASE,
    '  owner:        ' + certFile + ' (owner key ' + keys.sigPub + ')',
    '',
  ].join('\n'));
  return 0;
}

main().then((code) => process.exit(code), (e) => {
  process.stderr.write('release.sh: ' + (e && e.message ? e.message : e) + '\n');
  process.exit(1);
});
