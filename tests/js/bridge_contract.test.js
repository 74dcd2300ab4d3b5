'use strict';
// The bridge contract (app/common/bridge_contract.json) against everything that must agree
// with it on the JavaScript side: the page's calls of native functions and the events it
// defines, and the browser tests' natives double. The host's tables are derived from the
// contract at build time and checked by the C++ tests.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');

const ROOT = path.join(__dirname, '..', '..');
const contract = JSON.parse(fs.readFileSync(path.join(ROOT, 'app/common/bridge_contract.json'), 'utf8'));
const mswNativeDouble = require('../browser/natives.js');

const calls = new Map(contract.calls.map((c) => [c.name, c]));
const keyNames = Object.keys(contract.keys);

function kindOf(value) {
  if (value === null) return 'null';
  if (typeof value === 'boolean') return 'bool';
  if (typeof value === 'number') return 'number';
  if (typeof value === 'string') return 'string';
  return 'object';
}

// Every page script, with comments blanked so commented-out code does not count.
function pageSources() {
  const out = [];
  (function walk(dir) {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const full = path.join(dir, entry.name);
      if (entry.isDirectory()) walk(full);
      else if (entry.name.endsWith('.js') && !entry.name.endsWith('.in.js')) out.push(full);
    }
  })(path.join(ROOT, 'web'));
  return out.map((file) => ({
    file: path.relative(ROOT, file),
    text: fs.readFileSync(file, 'utf8').replace(/\/\*[\s\S]*?\*\//g, ' ').replace(/(^|[^:\\'"])\/\/.*$/gm, '$1'),
  }));
}

// The argument texts of the call whose opening parenthesis is at `open`, split at the
// top-level commas (strings, brackets and braces kept whole).
function callArguments(text, open) {
  const parts = [];
  let depth = 0, current = '', quote = null;
  for (let i = open + 1; i < text.length; i++) {
    const c = text[i];
    if (quote) {
      current += c;
      if (c === '\\') current += text[++i];
      else if (c === quote) quote = null;
      continue;
    }
    if (c === '"' || c === "'" || c === '`') quote = c;
    else if ('([{'.includes(c)) depth++;
    else if (')]}'.includes(c)) {
      if (depth === 0) {
        if (current.trim()) parts.push(current.trim());
        return parts;
      }
      depth--;
    } else if (c === ',' && depth === 0) {
      parts.push(current.trim());
      current = '';
      continue;
    }
    current += c;
  }
  throw new Error('unclosed call');
}

// Every native call the page makes: through nat(name, fallback, ...args) or directly.
function pageCalls() {
  const found = [];
  for (const { file, text } of pageSources()) {
    for (const m of text.matchAll(/\bnat\(\s*(['"])(\w+)\1/g)) {
      const args = callArguments(text, m.index + m[0].indexOf('('));
      found.push({ file, name: m[2], count: args.length - 2 });
    }
    for (const m of text.matchAll(/(?<![\w.'"])(?:window\.)?(msw_\w+)\s*\(/g)) {
      found.push({ file, name: m[1], count: callArguments(text, m.index + m[0].length - 1).length });
    }
  }
  return found;
}

test('the contract itself: 19 distinct calls of known kinds, distinct keys and key codes', () => {
  assert.strictEqual(contract.calls.length, 19);
  assert.strictEqual(calls.size, 19);
  for (const c of contract.calls) {
    for (const k of c.args) assert.ok(['string', 'bool', 'key'].includes(k), `${c.name}: ${k}`);
    assert.ok(c.result.length > 0, c.name);
    for (const k of c.result) assert.ok(['null', 'bool', 'number', 'string', 'object'].includes(k), `${c.name}: ${k}`);
  }
  const codes = Object.values(contract.keys);
  assert.strictEqual(new Set(codes).size, codes.length, 'two key names share a code');
  assert.strictEqual(keyNames.length, 86);
});

test('the page calls only declared natives, with no more arguments than declared', () => {
  const made = pageCalls();
  assert.ok(made.length >= 15, 'the scan found the page calls');
  for (const call of made) {
    const declared = calls.get(call.name);
    assert.ok(declared, `${call.file} calls ${call.name}, which the contract does not declare`);
    assert.ok(call.count <= declared.args.length,
      `${call.file} passes ${call.count} arguments to ${call.name}, declared ${declared.args.length}`);
  }
});

test('the page defines every event the host raises', () => {
  const text = pageSources().map((s) => s.text).join('\n');
  for (const event of contract.events) {
    assert.match(text, new RegExp(`window\\.${event.name}\\s*=\\s*function\\s*\\(([^)]*)\\)`), event.name);
    const params = text.match(new RegExp(`window\\.${event.name}\\s*=\\s*function\\s*\\(([^)]*)\\)`))[1];
    assert.strictEqual(params.split(',').filter((p) => p.trim()).length, event.args.length, `${event.name} parameters`);
  }
});

test('the natives double offers exactly the declared calls and answers in their result kinds', async () => {
  assert.deepStrictEqual(mswNativeDouble.NAMES, contract.calls.map((c) => c.name));
  const files = new Map();
  const store = { get: (n) => (files.has(n) ? files.get(n) : null), set: (n, t) => files.set(n, t), del: (n) => files.delete(n) };
  const natives = mswNativeDouble({ store });
  assert.deepStrictEqual(Object.keys(natives).sort(), [...calls.keys()].sort());
  const sample = { string: 'text', bool: true, key: 'KeyA' };
  for (const c of contract.calls) {
    for (const args of [[], c.args.map((k) => sample[k])]) {
      const result = await natives[c.name](...args);
      assert.ok(c.result.includes(kindOf(result)), `${c.name}(${args}) answered ${JSON.stringify(result)}`);
    }
  }
});

test('the natives double accepts exactly the contract key names for the black-out key', async () => {
  assert.deepStrictEqual([...mswNativeDouble.KEYS].sort(), [...keyNames].sort());
  const files = new Map();
  const store = { get: (n) => (files.has(n) ? files.get(n) : null), set: (n, t) => files.set(n, t), del: (n) => files.delete(n) };
  const natives = mswNativeDouble({ store });
  for (const name of keyNames) assert.strictEqual(await natives.msw_set_panic(name, true), true, name);
  for (const name of ['Enter', 'Backspace', 'F25', 'keya', 'NumpadEnter', 'ShiftLeft', ''])
    assert.strictEqual(await natives.msw_set_panic(name, true), false, name);
});
