#!/usr/bin/env node
'use strict';
// The network owner's tool. Run from the mosswire folder:
//   node tools/owner.js init [NAME]          make the owner key (~/.mosswire/owner.json)
//   node tools/owner.js key                  print OWNER_KEY for the relay's settings
//   node tools/owner.js cert                 write the owner certificate for the build again
//   node tools/owner.js sign FILE            sign FILE (a release's SHA256SUMS.txt) into FILE.sig
//   node tools/owner.js invite [COUNT] [DAYS]   invite codes (default 1 code, 90 days)
//   node tools/owner.js spoken               a 12-digit code to say out loud (7 days)
//   node tools/owner.js announce FILE.md [ID]   post (or, with ID, replace) an announcement
//   node tools/owner.js members              who is in the network (● online, ○ offline)
//   node tools/owner.js remove USERNAME      remove a member and everyone they invited
// The relay is MOSSWIRE_SERVER (default ws://127.0.0.1:8787).
const fs = require('fs');
const P = require('../web/protocol.js');
const O = require('./owner-lib.js');

const USAGE = `usage: node tools/owner.js COMMAND
  init [NAME]            make the owner key file ~/.mosswire/owner.json
  key                    print OWNER_KEY for the relay's settings
  cert                   write the owner certificate for the build again
  sign FILE              sign FILE (a release's SHA256SUMS.txt) into FILE.sig
  invite [COUNT] [DAYS]  make invite codes (default 1 code, 90 days)
  spoken                 make a 12-digit code to say out loud (7 days)
  announce FILE.md [ID]  post an announcement (with ID: replace that post)
  members                list the members (● online, ○ offline)
  remove USERNAME        remove a member (and everyone they invited)`;

function out(line) {
  process.stdout.write(line + '\n');
}

function wholeNumber(text, what, min, max) {
  const n = Number(text);
  if (!/^\d+$/.test(String(text)) || !Number.isSafeInteger(n) || n < min || n > max) {
    throw new O.UserError(what + ' must be a whole number from ' + min + ' to ' + max + ', not "' + text + '".');
  }
  return n;
}

async function init(args) {
  const name = args[0] || 'owner';
  if (!new RegExp(P.USERNAME_RE).test(name)) throw new O.UserError('The owner name can only use 2 to 24 letters, numbers, _ and .');
  const file = O.ownerFile();
  if (fs.existsSync(file)) throw new O.UserError('An owner key already exists at ' + file + '; it was left as it is. Keep using it (a new one would start a new network).');
  const keys = await P.generateKeys();
  const cert = await P.ownerCert(keys, name);
  const text = JSON.stringify(Object.assign({}, keys, { name, cert }), null, 2) + '\n';
  fs.mkdirSync(O.ownerDir(), { recursive: true, mode: 0o700 });
  try {
    // 'wx' refuses to overwrite even if another init raced this one.
    fs.writeFileSync(file, text, { mode: 0o600, flag: 'wx' });
  } catch (e) {
    if (e.code === 'EEXIST') throw new O.UserError('An owner key already exists at ' + file + '; it was left as it is.');
    throw e;
  }
  fs.chmodSync(file, 0o600);
  const written = O.writeCert(cert);
  out('Owner key written to ' + file + ' (only you can read it). Keep a backup of it somewhere safe.');
  out('Owner certificate written to ' + written.file + ' (the build puts it in the program).');
  out('OWNER_KEY=' + keys.sigPub);
  out('');
  O.BUILD_AGAIN.forEach(out);
}

async function key() {
  out(O.readOwner().sigPub);
}

async function cert() {
  const keys = O.readOwner();
  const written = O.writeCert(await O.ownerCertOf(keys));
  if (!written.changed) {
    out('The owner certificate at ' + written.file + ' is already this owner key\'s.');
    return;
  }
  out('Owner certificate written to ' + written.file + '.');
  O.BUILD_AGAIN.forEach(out);
}

async function sign(args) {
  if (!args[0] || args.length > 1) throw new O.UserError('usage: node tools/owner.js sign FILE');
  let bytes;
  try {
    bytes = fs.readFileSync(args[0]);
  } catch (e) {
    throw new O.UserError("Couldn't read " + args[0] + ': ' + e.message);
  }
  const keys = O.readOwner();
  const sigFile = args[0] + '.sig';
  // Written beside and renamed into place: a half-written signature is never left there.
  fs.writeFileSync(sigFile + '.tmp', await O.signBytes(keys, bytes));
  fs.renameSync(sigFile + '.tmp', sigFile);
  out('Signed ' + args[0] + ' into ' + sigFile + ' with the owner key ' + keys.sigPub + '.');
}

async function invite(args) {
  const count = args[0] === undefined ? 1 : wholeNumber(args[0], 'COUNT', 1, 100);
  const days = args[1] === undefined ? 90 : wholeNumber(args[1], 'DAYS', 1, 3650);
  const keys = O.readOwner();
  for (let i = 0; i < count; i++) out(await O.inviteCode(keys, days));
}

async function spoken() {
  const keys = O.readOwner();
  const session = await O.adminSession(keys);
  try {
    const code = await O.inviteCode(keys, 7);
    const made = await P.makeSpoken(keys.sigPriv, keys.sigPub, code, 7 * 24);
    await O.request(session, { t: 'spoken_put', entries: [made.entry] }, 'ok');
    out(P.fmtSpoken(made.code));
    out('Say it to them: they type the 12 digits into mosswire\'s Invite code box. Works once, for 7 days (until ' + new Date(made.entry.exp).toISOString() + ').');
  } finally {
    session.close();
  }
}

async function announce(args) {
  if (!args[0]) throw new O.UserError('usage: node tools/owner.js announce FILE.md [ID]');
  const id = args[1] || P.randomHex(8);
  if (!/^[0-9a-f]{16}$/.test(id)) throw new O.UserError('An announcement id is 16 lower-case hexadecimal characters.');
  let text;
  try {
    text = fs.readFileSync(args[0], 'utf8');
  } catch (e) {
    throw new O.UserError("Couldn't read " + args[0] + ': ' + e.message);
  }
  text = text.replace(/\s+$/, '');
  if (text.length > P.MAX_ANN) throw new O.UserError(args[0] + ' has ' + text.length + ' characters; an announcement holds at most ' + P.MAX_ANN + '.');
  if (!text && !args[1]) throw new O.UserError(args[0] + ' is empty. (An empty file with an ID deletes that post.)');
  const keys = O.readOwner();
  const ann = await P.signAnn(keys.sigPriv, id, Date.now(), text);
  const session = await O.adminSession(keys);
  try {
    await O.request(session, { t: 'announce', ann }, 'ok');
  } finally {
    session.close();
  }
  out((text ? 'Posted announcement ' : 'Deleted announcement ') + id + '.');
}

async function members() {
  const keys = O.readOwner();
  const session = await O.adminSession(keys);
  try {
    const r = await O.request(session, { t: 'members' }, 'members');
    const list = r.members.slice().sort((a, b) => a.name.toLowerCase().localeCompare(b.name.toLowerCase()));
    for (const m of list) out((m.online ? '● ' : '○ ') + m.name);
    const on = list.filter((m) => m.online).length;
    out(list.length + (list.length === 1 ? ' member, ' : ' members, ') + on + ' online');
  } finally {
    session.close();
  }
}

async function remove(args) {
  const name = args[0];
  if (!name) throw new O.UserError('usage: node tools/owner.js remove USERNAME');
  const keys = O.readOwner();
  const session = await O.adminSession(keys);
  try {
    const r = await O.request(session, { t: 'members' }, 'members');
    const m = r.members.find((x) => x.name.toLowerCase() === name.toLowerCase());
    if (!m) throw new O.UserError('No member called ' + name + ' is known to the relay right now (node tools/owner.js members lists them).');
    const list = await O.publishRemovals(session, keys, [m.id]);
    out('Removed ' + m.name + ' (removal list version ' + list.v + '). Everyone they invited is removed too.');
  } finally {
    session.close();
  }
}

const COMMANDS = { init, key, cert, sign, invite, spoken, announce, members, remove };

async function main(argv) {
  const [cmd, ...args] = argv;
  if (!cmd || cmd === 'help' || cmd === '--help' || cmd === '-h') {
    out(USAGE);
    return cmd ? 0 : 2;
  }
  if (!Object.prototype.hasOwnProperty.call(COMMANDS, cmd)) {
    process.stderr.write('Unknown command "' + cmd + '".\n' + USAGE + '\n');
    return 2;
  }
  try {
    await COMMANDS[cmd](args);
    return 0;
  } catch (e) {
    process.stderr.write((e instanceof O.UserError ? e.message : 'owner.js: ' + (e && e.message ? e.message : e)) + '\n');
    return 1;
  }
}

if (require.main === module) main(process.argv.slice(2)).then((code) => process.exit(code));

module.exports = { main };
