// The main page as a user and a test see it: controls found by role and accessible name in
// the browser's own accessibility tree, mouse input over the debugging protocol, keyboard
// input through the X server (the engine's synthetic key events hang), console errors
// collected, accessibility checked with axe-core, pictures written.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { screensDir, sleep, waitUntil, withTimeout } from './util.mjs';

const require = createRequire(import.meta.url);
const AXE_SOURCE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

// Runs in the page: the visible elements whose role and accessible name match.
const QUERY_SOURCE = `function (query) {
  const matchName = (name) => !query.name || (query.name.re !== undefined
    ? new RegExp(query.name.re, query.name.flags).test(name) : name === query.name.text);
  axe.setup(document);
  try {
    const out = [];
    window.__tvxFound = [];
    for (const el of document.querySelectorAll('body *')) {
      const vn = axe.utils.getNodeFromTree(el);
      if (!vn || !axe.commons.dom.isVisibleToScreenReaders(vn)) continue;
      const role = axe.commons.aria.getRole(vn);
      if (!role || (query.role && role !== query.role)) continue;
      const name = axe.commons.text.accessibleTextVirtual(vn).trim();
      if (!matchName(name)) continue;
      const attr = (a) => el.getAttribute(a);
      const props = {
        selected: attr('aria-selected') === 'true' || (el.tagName === 'OPTION' && el.selected),
        checked: attr('aria-checked') || (el.type === 'checkbox' || el.type === 'radio' ? String(el.checked) : undefined),
        pressed: attr('aria-pressed') || undefined,
        disabled: el.disabled === true || attr('aria-disabled') === 'true',
        expanded: attr('aria-expanded') || undefined,
        focused: document.activeElement === el,
      };
      let value;
      if (el.tagName === 'SELECT') value = el.selectedIndex >= 0 ? (el.options[el.selectedIndex].label || el.options[el.selectedIndex].text) : '';
      else if ('value' in el && (el.tagName === 'INPUT' || el.tagName === 'TEXTAREA')) value = el.type === 'range' || el.type === 'number' ? Number(el.value) : el.value;
      else if (attr('aria-valuenow') !== null) value = Number(attr('aria-valuenow'));
      out.push({ role, name, value, props, index: window.__tvxFound.push(el) - 1 });
    }
    return out;
  } finally {
    axe.teardown();
  }
}`;

// Names of xdotool keys for the key names tests use.
const XKEYS = {
  Enter: 'Return', Esc: 'Escape', Escape: 'Escape', Space: 'space', Tab: 'Tab', Backspace: 'BackSpace',
  Delete: 'Delete', Del: 'Delete', Up: 'Up', Down: 'Down', Left: 'Left', Right: 'Right', Home: 'Home',
  End: 'End', PageUp: 'Prior', PageDown: 'Next', Ctrl: 'ctrl', Control: 'ctrl', Alt: 'alt', Shift: 'shift',
  Meta: 'super',
};
export const xdotoolKey = (combo) => combo.split('+').map((k) => XKEYS[k] || k).join('+');

function matches(value, wanted) {
  if (wanted === undefined) return true;
  if (wanted instanceof RegExp) return wanted.test(value);
  return value === wanted;
}

function describe(q) {
  return `${q.role || '*'} "${q.name instanceof RegExp ? q.name.source : q.name ?? '*'}"`;
}

export class Page {
  constructor(app) {
    this.app = app;
    this.client = app.client;
    this.errors = [];
    this.ignoredErrors = [];
  }

  async attach({ reload }) {
    const { Runtime, Log, Page: P, DOM } = this.client;
    Runtime.consoleAPICalled(({ type, args, stackTrace }) => {
      if (type !== 'error' && type !== 'assert') return;
      const text = args.map((a) => (a.value !== undefined ? String(a.value) : a.description || a.type)).join(' ');
      const where = stackTrace && stackTrace.callFrames[0]
        ? ` at ${stackTrace.callFrames[0].url}:${stackTrace.callFrames[0].lineNumber + 1}` : '';
      this.#error(`console.${type}: ${text}${where}`);
    });
    Runtime.exceptionThrown(({ exceptionDetails: d }) => {
      const text = (d.exception && d.exception.description) || d.text;
      this.#error(`uncaught: ${text} at ${d.url || ''}:${d.lineNumber + 1}`);
    });
    Log.entryAdded(({ entry }) => {
      if (entry.level === 'error') this.#error(`${entry.source}: ${entry.text}${entry.url ? ` (${entry.url})` : ''}`);
    });
    await Promise.all([Runtime.enable(), Log.enable(), P.enable(), DOM.enable()]);

    if (reload) {
      // Reloaded under observation, so nothing the page logs while starting goes unseen.
      const loaded = P.loadEventFired();
      await P.reload({ ignoreCache: true });
      await withTimeout(loaded, 20000, 'page load after reload');
    }
    await waitUntil(() => this.eval('document.readyState === "complete"'), { timeout: 20000, what: 'document complete' });
  }

  #error(text) {
    if (this.ignoredErrors.some((re) => re.test(text))) return;
    this.errors.push(text);
  }

  // Fails (throws) when the page logged an error since the last call.
  takeErrors() {
    const out = this.errors;
    this.errors = [];
    return out;
  }

  async eval(expression, { awaitPromise = true, timeout = 15000 } = {}) {
    const r = await withTimeout(this.client.Runtime.evaluate({ expression, awaitPromise, returnByValue: true }),
      timeout, `evaluate ${expression.slice(0, 80)}`);
    if (r.exceptionDetails) {
      const d = r.exceptionDetails;
      throw new Error(`page evaluation failed: ${(d.exception && d.exception.description) || d.text}`);
    }
    return r.result.value;
  }

  // Calls `fn` (a function source) with the element as `this`.
  async onNode(objectId, fn, ...args) {
    const r = await withTimeout(this.client.Runtime.callFunctionOn({
      objectId, functionDeclaration: fn, arguments: args.map((value) => ({ value })),
      returnByValue: true, awaitPromise: true,
    }), 10000, 'call on element');
    if (r.exceptionDetails) throw new Error(`element call failed: ${r.exceptionDetails.text}`);
    return r.result.value;
  }

  // Roles and accessible names are computed in the page by axe-core's own rules (the engine's
  // accessibility tree over the debugging protocol stalls now and then in this engine).
  async ensureAxe() {
    const loaded = await this.eval('typeof window.axe === "object"');
    if (!loaded) await this.eval(AXE_SOURCE, { awaitPromise: false, timeout: 20000 });
  }

  // Every element the query matches, each with role, name, value and states.
  async queryAll(q) {
    await this.ensureAxe();
    const query = {
      role: q.role === undefined ? null : q.role,
      name: q.name === undefined ? null : (q.name instanceof RegExp ? { re: q.name.source, flags: q.name.flags } : { text: q.name }),
    };
    const found = await this.eval(`(${QUERY_SOURCE})(${JSON.stringify(query)})`);
    return found.filter((n) => (q.selected === undefined || Boolean(n.props.selected) === q.selected)
      && (q.checked === undefined || String(n.props.checked) === String(q.checked))
      && (q.pressed === undefined || String(n.props.pressed) === String(q.pressed)));
  }

  // One element; waits for it to appear. Several matches are an error unless `nth` is given.
  async find(q, { timeout = 15000 } = {}) {
    const found = await waitUntil(async () => {
      const all = await this.queryAll(q);
      if (all.length > 1 && q.nth === undefined) {
        throw new Error(`${all.length} elements match ${describe(q)}`);
      }
      return all[q.nth || 0];
    }, { timeout, interval: 100, what: describe(q) });
    const r = await this.client.Runtime.evaluate({ expression: `window.__tvxFound[${found.index}]` });
    if (!r.result.objectId) throw new Error(`${describe(q)} went away`);
    return { ...found, objectId: r.result.objectId };
  }

  // Waits until the visible text of the page matches `re`.
  async waitText(re, { timeout = 10000 } = {}) {
    await waitUntil(async () => re.test(await this.eval('document.body.innerText')),
      { timeout, what: `text ${re}` });
  }

  async exists(q) {
    return (await this.queryAll(q)).length > 0;
  }

  async waitGone(q, { timeout = 10000 } = {}) {
    await waitUntil(async () => !(await this.exists(q)), { timeout, what: `${describe(q)} to go away` });
  }

  // Centre of the element in page coordinates, after scrolling it into view.
  async centre(q) {
    const el = await this.find(q);
    const box = await this.onNode(el.objectId, `function () {
      this.scrollIntoView({ block: 'center', inline: 'center' });
      const r = this.getBoundingClientRect();
      // Input coordinates are the view's pixels; a zoomed page scales its own.
      const z = window.devicePixelRatio || 1;
      return { x: (r.left + r.width / 2) * z, y: (r.top + r.height / 2) * z, w: r.width, h: r.height };
    }`);
    if (!box.w || !box.h) throw new Error(`${describe(q)} has no size on screen`);
    return { el, x: box.x, y: box.y };
  }

  async mouse(type, x, y, extra = {}) {
    await withTimeout(this.client.Input.dispatchMouseEvent({ type, x, y, button: 'left', ...extra }),
      5000, `mouse ${type}`);
  }

  // A click as a user makes it: move, press, release at the element's centre. `modifiers`
  // uses the protocol's bits (1 Alt, 2 Ctrl, 4 Meta, 8 Shift).
  async click(q, { modifiers = 0 } = {}) {
    const { x, y, el } = await this.centre(q);
    await this.mouse('mouseMoved', x, y, { button: 'none', modifiers });
    await this.mouse('mousePressed', x, y, { clickCount: 1, modifiers });
    await this.mouse('mouseReleased', x, y, { clickCount: 1, modifiers });
    return el;
  }

  // Press at one element, move across to another, release there.
  async drag(from, to) {
    const a = await this.centre(from);
    const b = await this.centre(to);
    await this.mouse('mouseMoved', a.x, a.y, { button: 'none' });
    await this.mouse('mousePressed', a.x, a.y, { clickCount: 1 });
    for (let i = 1; i <= 5; i++) {
      await this.mouse('mouseMoved', a.x + ((b.x - a.x) * i) / 5, a.y + ((b.y - a.y) * i) / 5, { buttons: 1 });
    }
    await this.mouse('mouseReleased', b.x, b.y, { clickCount: 1 });
  }

  async focus(q) {
    const el = await this.find(q);
    await this.onNode(el.objectId, 'function () { this.focus(); }');
    return el;
  }

  // Picks an option of a list box (a <select>) with the keyboard, as a user does without
  // opening the list: focus, then arrow keys until the option is the chosen one.
  async choose(q, optionLabel) {
    const el = await this.focus(q);
    const info = await this.onNode(el.objectId, `function (label) {
      const labels = Array.from(this.options || [], (o) => o.label || o.text);
      return { labels, at: this.selectedIndex, want: labels.indexOf(label) };
    }`, optionLabel);
    if (info.want < 0) throw new Error(`${describe(q)} has no option "${optionLabel}" (${info.labels.join(', ')})`);
    const steps = info.want - info.at;
    if (steps) await this.key(...Array(Math.abs(steps)).fill(steps > 0 ? 'Down' : 'Up'));
    // Checked on the element itself: choosing a language renames the list box.
    await waitUntil(async () => (await this.onNode(el.objectId, `function () {
      const o = this.options[this.selectedIndex];
      return o ? o.label || o.text : '';
    }`)) === optionLabel, { timeout: 5000, what: `${describe(q)} to show "${optionLabel}"` });
  }

  // Replaces the text of a field by typing, as a user does: select all, type, then a key
  // that commits (Enter by default).
  async fill(q, text, commit = 'Enter') {
    await this.focus(q);
    await this.key('ctrl+a');
    await this.type(text);
    if (commit) await this.key(commit);
  }

  // Key presses through the X server into the focused element, e.g. key('ctrl+alt+Delete').
  async key(...combos) {
    await this.app.focusWindow();
    for (const combo of combos) await this.app.xdotool(['key', '--delay', '40', xdotoolKey(combo)]);
    await sleep(60);
  }

  // A key combination pressed the way a hand does it: modifiers down one after another, the
  // key, then everything released, e.g. chord('ctrl+alt+Delete').
  async chord(combo) {
    const keys = xdotoolKey(combo).split('+');
    const key = keys.pop();
    await this.app.focusWindow();
    await sleep(100);
    for (const m of keys) {
      await this.app.xdotool(['keydown', m]);
      await sleep(60);
    }
    await this.app.xdotool(['key', key]);
    await sleep(60);
    for (const m of keys.reverse()) {
      await this.app.xdotool(['keyup', m]);
      await sleep(30);
    }
  }

  async type(text) {
    await this.app.focusWindow();
    await this.app.xdotool(['type', '--delay', '30', text]);
    await sleep(60);
  }

  // The accessible name of the focused element, for keyboard-only walks.
  async focused() {
    return this.eval(`(() => { const e = document.activeElement; return e && e !== document.body
      ? (e.getAttribute('aria-label') || e.textContent || '').trim() : null; })()`);
  }

  // axe-core on the whole page: serious and critical violations are returned as texts.
  async accessibilityProblems() {
    const loaded = await this.eval('typeof window.axe === "object"');
    if (!loaded) await this.eval(AXE_SOURCE, { awaitPromise: false });
    const result = await this.eval(`axe.run(document, { resultTypes: ['violations'] })
      .then(r => r.violations.filter(v => v.impact === 'serious' || v.impact === 'critical')
        .map(v => v.impact + ' ' + v.id + ': ' + v.help + ' -> '
          + v.nodes.slice(0, 5).map(n => n.target.join(' ')
            + (n.any[0] && n.any[0].message ? ' (' + n.any[0].message + ')' : '')).join(', ')))`,
    { timeout: 30000 });
    return result;
  }

  async screenshot(name) {
    fs.mkdirSync(screensDir, { recursive: true });
    const { data } = await withTimeout(this.client.Page.captureScreenshot({ format: 'png' }), 15000, 'screenshot');
    const file = path.join(screensDir, `${name}.png`);
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
    return file;
  }
}
