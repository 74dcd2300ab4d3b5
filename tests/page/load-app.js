'use strict';
// Loads the chat client's sections as the build joins them, over a minimal stand-in for the
// DOM, without the start step: the functions inside the closure named in `exports` come
// back on one object (with setD to put a vault record in place), so pure logic can be
// called directly. `globals` replaces or adds page globals (timers, WebSocket, Vault...).
const fs = require('fs');
const path = require('path');
const vm = require('vm');
const P = require('../../web/protocol.js');

const APP = path.join(__dirname, '../../web/app');

class FakeNode {}
class FakeEl extends FakeNode {
  constructor(tag) {
    super();
    this.tagName = tag;
    this.attrs = {};
    this.children = [];
    this.listeners = {};
    this.text = '';
    this.className = '';
    const classes = new Set();
    this.classList = {
      add: (...c) => c.forEach((x) => classes.add(x)),
      remove: (...c) => c.forEach((x) => classes.delete(x)),
      toggle: (c, on) => { if (on === undefined ? !classes.has(c) : on) classes.add(c); else classes.delete(c); },
      contains: (c) => classes.has(c),
    };
    this.style = { cssText: '', setProperty: (k, v) => { this.style[k] = v; } };
  }
  get textContent() { return this.text; }
  set textContent(v) { this.text = String(v); this.children = []; }
  addEventListener(type, fn) { (this.listeners[type] = this.listeners[type] || []).push(fn); }
  appendChild(c) {
    // A fragment's children go in, not the fragment.
    if (c instanceof FakeEl && c.tagName === '#fragment') { this.children.push(...c.children); c.children = []; return c; }
    this.children.push(c);
    return c;
  }
  insertBefore(c, ref) {
    const add = c instanceof FakeEl && c.tagName === '#fragment' ? c.children.splice(0) : [c];
    const at = this.children.indexOf(ref);
    this.children.splice(at < 0 ? this.children.length : at, 0, ...add);
    return c;
  }
  get firstChild() { return this.children[0] || null; }
  get childElementCount() { return this.children.filter((c) => c instanceof FakeEl).length; }
  contains(x) { return x === this || this.children.some((c) => c instanceof FakeEl && c.contains(x)); }
  setAttribute(n, v) { this.attrs[n] = String(v); }
  removeAttribute(n) { delete this.attrs[n]; }
  getAttribute(n) { return n in this.attrs ? this.attrs[n] : null; }
  querySelector() { return null; }
  querySelectorAll() { return []; }
  focus() {}
  // The text a person would see: this element's own text, then its children's.
  get shown() {
    return this.text + this.children.map((c) => (c instanceof FakeEl ? c.shown : c.text)).join('');
  }
}

function loadApp({ exports, config = {}, natives = {}, platform = 'Linux x86_64', globals = {} } = {}) {
  const files = fs.readdirSync(APP).filter((f) => f.endsWith('.js') && f !== '99-start.js').sort();
  const body = files.map((f) => fs.readFileSync(path.join(APP, f), 'utf8')).join('\n');
  const els = {};
  const document = {
    getElementById: (id) => (els[id] = els[id] || new FakeEl('div')),
    createElement: (tag) => new FakeEl(tag),
    createTextNode: (text) => Object.assign(new FakeNode(), { text }),
    createDocumentFragment: () => new FakeEl('#fragment'),
    querySelector: () => null,
    querySelectorAll: () => [],
    documentElement: new FakeEl('html'),
    hasFocus: () => true,
  };
  const ctx = {
    document, Node: FakeNode, navigator: { platform, userAgent: '' }, location: { reload() {} },
    MswProto: P, MswConfig: Object.assign({ SERVER: 'wss://relay.example:8443/ws', VERSION: '1.1.8', OWNER_CERT: null }, config),
    Vault: { save() {} }, TextEncoder, TextDecoder, URL, console, setTimeout, clearTimeout, setInterval, clearInterval, performance, Date, Event: class {}, FocusEvent: class {},
    fetch: () => Promise.resolve(),
  };
  Object.assign(ctx, natives, globals);
  ctx.window = ctx;
  ctx.addEventListener = () => {};
  vm.createContext(ctx);
  vm.runInContext(fs.readFileSync(path.join(APP, '..', 'gifs.js'), 'utf8') + '\nglobalThis.MswGifs = MswGifs;', ctx);
  vm.runInContext("(function () {\n'use strict';\n" + body + '\nglobalThis.__app = { ' + exports.join(', ') +
    ', setD: function (d) { D = d; } };\n})();', ctx);
  return ctx.__app;
}

module.exports = { loadApp, FakeEl };
