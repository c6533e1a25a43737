// One action per page for every device family, done as a user does it, checked byte for byte
// against torvanix-ctl on the document a correct page sends.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { ModelDocument } from '../lib/documents.mjs';
import { assertWrites } from '../lib/expect.mjs';
import { useApp } from '../lib/fixture.mjs';
import { waitUntil } from '../lib/util.mjs';

// model, template, the key picked, its template name, whether the translator takes the whole
// document (library and packet families) or only the edited key.
const KEYS = [
  ['Torvanix Keystone 84 Screen', 'keystone-84-screen.xml', 'F1', 'Button2', false],
  ['Torvanix Pulse 104', 'pulse-104.xml', 'F1', 'Button2', true],
  ['Torvanix Linkboard 104', 'linkboard-104.xml', 'F1', 'Button2', true],
  ['Torvanix Glide 6', 'glide-6.xml', 'Button 4 (Back button)', 'Button4', false],
  ['Torvanix Swift 6', 'swift-6.xml', 'Button 4 (Back button)', 'Button4', false],
  ['Torvanix Orbit 6', 'orbit-6.xml', 'Button 4 (Back button)', 'Button4', true],
];

// The document each device holds by now, kept across the tests of this file: the library and
// packet families take the whole document, so earlier edits are part of later ones.
const held = new Map();
function documentOf(template) {
  if (!held.has(template)) held.set(template, new ModelDocument(template));
  const m = held.get(template);
  m.clearActions();
  return m;
}

describe('every family', () => {
  const ctx = useApp({ name: 'families' });

  for (const [model, template, cell, button, whole] of KEYS) {
    test(`keys: ${model}, ${cell} becomes the key A`, { timeout: 60000 }, async () => {
      const { app } = ctx;
      const { page } = app;
      await page.click({ role: 'button', name: model });
      await page.click({ role: 'tab', name: 'Keys' });
      await app.quiet();
      await page.click({ role: 'gridcell', name: cell });
      await page.choose({ role: 'combobox', name: 'Function type' }, 'Keyboard key');
      await page.choose({ role: 'combobox', name: 'Keyboard key' }, 'A');
      const m = documentOf(template);
      const key = m.set(m.key(button), { type: 'KEYBOARD', task: 'A', value: 'A', action: 'set' });
      await assertWrites(app, () => page.click({ role: 'button', name: 'Apply' }), whole ? m.text() : m.excerpt([key]));
      await page.find({ role: 'heading', name: new RegExp(`: A$`) });
    });
  }

  // A mouse's buttons in words beside the drawing: what the test above gave button 4 shows in
  // the list, and the arrows walk the buttons with the drawing following.
  test('keys: Torvanix Glide 6, the button list says what each button does and walks with the arrows', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Glide 6' });
    await page.click({ role: 'tab', name: 'Keys' });
    await app.quiet();
    await page.find({ role: 'option', name: /^6 — top, DPI ?: DPI cycle$/ });
    await page.focus({ role: 'option', name: /^4 — side, back ?: A$/ });
    await page.key('Down');
    await page.find({ role: 'option', name: /^5 — side, forward ?: /, selected: true });
    await page.find({ role: 'gridcell', name: 'Button 5 (Forward button)', selected: true });
    await page.find({ role: 'heading', name: /^Button 5 \(Forward button\): / });
  });

  // model, template, whole document
  const LIGHTING = [
    ['Torvanix Keystone 84 Screen', 'keystone-84-screen.xml', false],
    ['Torvanix Pulse 104', 'pulse-104.xml', true],
    ['Torvanix Glide 6', 'glide-6.xml', false],
    ['Torvanix Orbit 6', 'orbit-6.xml', true],
  ];
  for (const [model, template, whole] of LIGHTING) {
    test(`lighting: ${model}, a colour for the effect`, { timeout: 60000 }, async () => {
      const { app } = ctx;
      const { page } = app;
      await page.click({ role: 'button', name: model });
      await page.click({ role: 'tab', name: 'Lighting' });
      await app.quiet();
      const effect = (await page.find({ role: 'combobox', name: 'Effect' })).value;
      const number = Number(/(\d+)$/.exec(effect)[1]);
      const m = documentOf(template);
      const light = m.root.getElementsByTagName('light')[0];
      const mode = m.set(m.element('mode', 'Default', light), { index: number, action: 'set' });
      m.set(m.key('LightMode', mode), { value: number });
      m.set(m.key('LightRGB', mode), { value: '3355aa', action: 'set' });
      let text = m.text();
      if (!whole) {
        const copy = new ModelDocument(template);
        const l = copy.root.getElementsByTagName('light')[0];
        const up = l.getElementsByTagName('mode');
        for (let i = up.length - 1; i >= 0; i--) if (up[i].getAttribute('name') !== 'Default') l.removeChild(up[i]);
        const d = copy.element('mode', 'Default', l);
        copy.set(d, { index: number, action: 'set' });
        copy.set(copy.key('LightMode', d), { value: number });
        copy.set(copy.key('LightRGB', d), { value: '3355aa', action: 'set' });
        text = copy.excerpt([l]);
      }
      await assertWrites(app, () => page.fill({ role: 'textbox', name: 'Hex colour' }, '3355aa'), text);
      assert.equal((await page.find({ role: 'textbox', name: 'Hex colour' })).value, '3355aa');
    });
  }

  test('lighting: Torvanix Linkboard 104, another effect (its presets carry their own colours)', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Linkboard 104' });
    await page.click({ role: 'tab', name: 'Lighting' });
    await app.quiet();
    const m = documentOf('linkboard-104.xml');
    const mode = m.set(m.element('mode', 'Default'), { index: 2, action: 'set' });
    m.set(m.key('LightMode', mode), { value: 2, action: 'set' });
    await assertWrites(app, () => page.choose({ role: 'combobox', name: 'Effect' }, 'Effect 2'), m.text());
  });

  // Only the named parameter of the template's parameters block, as the golden documents do.
  const parameter = (m, name, value) => {
    const block = m.root.getElementsByTagName('parameters')[0].cloneNode(true);
    const keys = block.getElementsByTagName('key');
    for (let i = keys.length - 1; i >= 0; i--) {
      if (keys[i].getAttribute('name') === name) m.set(keys[i], { value, action: 'set' });
      else block.removeChild(keys[i]);
    }
    return block;
  };

  test('performance: Torvanix Keystone 104, report rate 500 Hz', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Keystone 104' });
    await page.click({ role: 'tab', name: 'Performance' });
    await app.quiet();
    const m = documentOf('keystone-104.xml');
    await assertWrites(app, () => page.choose({ role: 'combobox', name: 'Report rate' }, '500 Hz'),
      m.excerpt([parameter(m, 'Reportrate', 500)]));
  });

  test('performance: Torvanix Keystone 84 Screen, sleep after 20 minutes typed', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Keystone 84 Screen' });
    await page.click({ role: 'tab', name: 'Performance' });
    await app.quiet();
    const m = documentOf('keystone-84-screen.xml');
    await assertWrites(app, () => page.fill({ role: 'spinbutton', name: 'Sleep after (minutes)' }, '20'),
      m.excerpt([parameter(m, 'sleep', 20)]));
    assert.equal((await page.find({ role: 'slider', name: 'Sleep after (minutes)' })).value, 20);
  });

  test('performance: Torvanix Glide 6, current DPI stage 2', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Glide 6' });
    await page.click({ role: 'tab', name: 'Performance' });
    await app.quiet();
    const m = documentOf('glide-6.xml');
    await assertWrites(app, () => page.choose({ role: 'combobox', name: 'Current stage' }, 'Stage 2'),
      m.excerpt([m.set(m.key('DpiCurrent'), { value: 2, action: 'set' })]));
  });

  test('performance: the notebook sleeps deeply', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Nimbus notebook lighting' });
    await page.click({ role: 'tab', name: 'Performance' });
    await app.quiet();
    const m = documentOf('nimbus-notebook.xml');
    assert.equal((await page.find({ role: 'switch', name: 'Deep sleep' })).props.checked, 'false');
    await assertWrites(app, () => page.click({ role: 'switch', name: 'Deep sleep' }),
      m.excerpt([m.set(m.key('Hibernate'), { value: 1, action: 'set' })]));
    assert.equal((await page.find({ role: 'switch', name: 'Deep sleep' })).props.checked, 'true');
  });

  test('performance: Torvanix Pulse 104, the battery level is read', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Pulse 104' });
    await page.click({ role: 'tab', name: 'Performance' });
    await app.quiet();
    const m = documentOf('pulse-104.xml');
    await assertWrites(app, () => page.click({ role: 'button', name: 'Read battery level' }),
      m.excerpt([m.set(m.key('Power'), { action: 'set' })]));
    await page.waitText(/87\s?%/);
  });

  test('lighting: the notebook\'s left zone gets a colour', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Nimbus notebook lighting' });
    await page.click({ role: 'tab', name: 'Lighting' });
    await app.quiet();
    await page.find({ role: 'region', name: 'Left zone' });
    const effect = (await page.find({ role: 'combobox', name: 'Effect', nth: 1 })).value;
    const number = Number(/(\d+)$/.exec(effect)[1]);
    const m = new ModelDocument('nimbus-notebook.xml');
    const left = m.root.getElementsByTagName('lightLeft')[0];
    const mode = m.set(m.element('mode', 'Default', left), { index: number, action: 'set' });
    m.set(m.key('LightMode', mode), { value: number });
    m.set(m.key('LightRGB', mode), { value: '12ab34', action: 'set' });
    await assertWrites(app, () => page.fill({ role: 'textbox', name: 'Hex colour', nth: 1 }, '12ab34'), m.excerpt([left]));
  });
});

describe('every family: profiles', () => {
  const ctx = useApp({ name: 'profiles' });
  const SWITCH = [
    ['Torvanix Keystone 84 Screen', 'keystone-84-screen.xml'],
    ['Torvanix Glide 6', 'glide-6.xml'],
    ['Torvanix Nimbus notebook lighting', 'nimbus-notebook.xml'],
  ];
  for (const [model, template] of SWITCH) {
    test(`profiles: ${model} switches to profile 2`, { timeout: 60000 }, async () => {
      const { app } = ctx;
      const { page } = app;
      await page.click({ role: 'button', name: model });
      await page.click({ role: 'tab', name: 'Profiles' });
      await app.quiet();
      const m = new ModelDocument(template);
      m.set(m.key('CurProfile'), { value: 2, action: 'set' });
      await assertWrites(app, () => page.click({ role: 'radio', name: 'Profile 2' }), m.excerpt([]));
      assert.equal((await page.find({ role: 'radio', name: 'Profile 2' })).props.checked, 'true');
    });
  }

  // The Swift 6 keeps one set of key records per profile: the profile chosen decides where
  // the next assignment goes.
  test('profiles: Torvanix Swift 6, profile 2 then a key lands in profile 2\'s records', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Swift 6' });
    await page.click({ role: 'tab', name: 'Profiles' });
    await app.quiet();
    await page.click({ role: 'radio', name: 'Profile 2' });
    await page.click({ role: 'tab', name: 'Keys' });
    await app.quiet();
    await page.click({ role: 'gridcell', name: 'Button 4 (Back button)' });
    await page.choose({ role: 'combobox', name: 'Function type' }, 'Keyboard key');
    await page.choose({ role: 'combobox', name: 'Keyboard key' }, 'B');
    const m = new ModelDocument('swift-6.xml');
    m.set(m.key('CurProfile'), { value: 2 });
    const key = m.set(m.key('Button4'), { type: 'KEYBOARD', task: 'B', value: 'B', action: 'set' });
    await assertWrites(app, () => page.click({ role: 'button', name: 'Apply' }), m.excerpt([key]));
  });

  // Models with one profile: the page still exports it.
  for (const model of ['Torvanix Pulse 104', 'Torvanix Linkboard 104', 'Torvanix Orbit 6']) {
    test(`profiles: ${model} exports its profile`, { timeout: 60000 }, async () => {
      const { app } = ctx;
      const { page } = app;
      await page.click({ role: 'button', name: model });
      await page.click({ role: 'tab', name: 'Profiles' });
      await app.quiet();
      const file = path.join(app.dir, 'home', `${model.replace(/\W+/g, '-')}.profile`);
      await page.click({ role: 'button', name: 'Export profile' });
      await app.answerFileDialog(file);
      await waitUntil(() => fs.existsSync(file) && fs.statSync(file).size > 8, { what: 'the exported profile' });
      assert.equal(fs.readFileSync(file).readUInt32BE(0), 0x0a0b0c0d);
    });
  }
});
