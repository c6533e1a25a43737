// A user's actions on each page, checked byte for byte in the simulator's trace against
// torvanix-ctl applying the document a correct page sends, and in the UI afterwards.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { ModelDocument } from '../lib/documents.mjs';
import { assertWrites } from '../lib/expect.mjs';
import { useApp } from '../lib/fixture.mjs';
import { expectedWrites } from '../lib/trace.mjs';
import { waitUntil } from '../lib/util.mjs';

const PAINT_A = 'ff00ff';
const PAINT_B = '00ff00';
const PAINT_C = '0000ff';

describe('configuring devices', () => {
  const ctx = useApp({ name: 'configure' });

  test('keys: select a key, record Ctrl+Alt+Delete (D2.0 keyboard)', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Keystone 104' });
    await page.click({ role: 'gridcell', name: 'F1' });
    await page.choose({ role: 'combobox', name: 'Function type' }, 'Key combination');
    const m = new ModelDocument('keystone-104.xml');
    await assertWrites(app, async () => {
      await app.focusWindow();
      await page.click({ role: 'button', name: 'Record a combination' });
      await page.chord('ctrl+alt+Delete');
    }, m.excerpt([m.set(m.key('Button2'), { type: 'HotKey', task: 'Ctrl+Alt+Delete', action: 'set' })]));
    await page.find({ role: 'heading', name: 'F1: Ctrl+Alt+Delete' });
  });

  test('lighting: pick a colour for the effect (D2.0 keyboard)', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'tab', name: 'Lighting' });
    await app.quiet();
    const effect = (await page.find({ role: 'combobox', name: 'Effect' })).value;
    const number = Number(/(\d+)$/.exec(effect)[1]);
    const m = new ModelDocument('keystone-104.xml');
    const mode = m.set(m.element('mode', 'Default'), { index: number, action: 'set' });
    m.set(m.key('LightMode', mode), { value: number });
    m.set(m.key('LightRGB', mode), { value: 'ff0000', action: 'set' });
    const light = m.root.getElementsByTagName('light')[0];
    light.removeChild(m.element('mode', 'LightUp'));
    await assertWrites(app, () => page.fill({ role: 'textbox', name: 'Hex colour' }, 'ff0000'), m.excerpt([light]));
    assert.equal((await page.find({ role: 'textbox', name: 'Hex colour' })).value, 'ff0000');
  });

  test('lighting: paint all keys, then two keys, then a row by dragging (D2.0 keyboard)', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    // Choosing per-key colours writes the table at once; on a loaded machine that write can
    // come later than a quiet spell, so wait for it before taking the next step's mark.
    const modeMark = app.trace.mark();
    await page.click({ role: 'radio', name: 'Per-key colours' });
    await app.trace.settle(modeMark);
    await app.quiet();
    const table = (painted) => {
      const m = new ModelDocument('keystone-104.xml');
      const mode = m.set(m.element('mode', 'LightUp'), { action: 'set' });
      const keys = mode.getElementsByTagName('key');
      for (let i = 0; i < keys.length; i++) {
        keys[i].setAttribute('rgb', painted[keys[i].getAttribute('name')] || PAINT_A);
      }
      const light = m.root.getElementsByTagName('light')[0];
      light.removeChild(m.element('mode', 'Default'));
      return m.excerpt([light]);
    };
    await assertWrites(app, async () => {
      await page.click({ role: 'button', name: 'Select all keys' });
      await page.fill({ role: 'textbox', name: 'Hex colour' }, PAINT_A, 'Tab');
      await page.click({ role: 'button', name: 'Paint selected keys' });
    }, table({}));
    await assertWrites(app, async () => {
      await page.click({ role: 'button', name: 'Clear selection' });
      await page.click({ role: 'gridcell', name: 'A' });
      await page.click({ role: 'gridcell', name: 'S' }, { modifiers: 2 });
      await page.fill({ role: 'textbox', name: 'Hex colour' }, PAINT_B, 'Tab');
      await page.click({ role: 'button', name: 'Paint selected keys' });
    }, table({ A: PAINT_B, S: PAINT_B }));
    // Dragging across a row selects every key passed over.
    await assertWrites(app, async () => {
      await page.click({ role: 'button', name: 'Clear selection' });
      await page.drag({ role: 'gridcell', name: 'Q' }, { role: 'gridcell', name: 'E' });
      await page.fill({ role: 'textbox', name: 'Hex colour' }, PAINT_C, 'Tab');
      await page.click({ role: 'button', name: 'Paint selected keys' });
    }, table({ A: PAINT_B, S: PAINT_B, Q: PAINT_C, W: PAINT_C, E: PAINT_C }));
  });

  test('profiles: export, change a key, import: the exported assignment comes back', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    const file = path.join(app.dir, 'home', 'keystone.profile');
    await page.click({ role: 'tab', name: 'Profiles' });
    await app.quiet();
    await page.click({ role: 'button', name: 'Export profile' });
    await app.answerFileDialog(file);
    await waitUntil(() => fs.existsSync(file) && fs.statSync(file).size > 8, { what: 'the exported profile file' });
    // The container starts with its magic number, big-endian.
    assert.equal(fs.readFileSync(file).readUInt32BE(0), 0x0a0b0c0d);

    await page.click({ role: 'tab', name: 'Keys' });
    await page.click({ role: 'gridcell', name: 'F1' });
    await page.choose({ role: 'combobox', name: 'Function type' }, 'Keyboard key');
    await page.choose({ role: 'combobox', name: 'Keyboard key' }, 'A');
    const mark = app.trace.mark();
    await page.click({ role: 'button', name: 'Apply' });
    await app.trace.settle(mark);
    await page.find({ role: 'heading', name: 'F1: A' });

    const m = new ModelDocument('keystone-104.xml');
    const recorded = await expectedWrites(
      m.excerpt([m.set(m.key('Button2'), { type: 'HotKey', task: 'Ctrl+Alt+Delete', action: 'set' })]),
      { devicesFile: app.devicesFile });
    await page.click({ role: 'tab', name: 'Profiles' });
    const before = app.trace.mark();
    await page.click({ role: 'button', name: 'Import profile' });
    await app.answerFileDialog(file);
    await app.trace.settle(before);
    const writes = app.trace.writesSince(before);
    for (const w of recorded.writes) assert.ok(writes.includes(w), `the import did not write ${w}; it wrote:\n${writes.join('\n')}`);
    await page.click({ role: 'tab', name: 'Keys' });
    await page.click({ role: 'gridcell', name: 'F1' });
    await page.find({ role: 'heading', name: 'F1: Ctrl+Alt+Delete' });
  });

  test('profiles: switch to profile 2 (D2.0 keyboard)', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'tab', name: 'Profiles' });
    const m = new ModelDocument('keystone-104.xml');
    m.set(m.key('CurProfile'), { value: 2, action: 'set' });
    await assertWrites(app, () => page.click({ role: 'radio', name: 'Profile 2' }), m.excerpt([]));
    assert.equal((await page.find({ role: 'radio', name: 'Profile 2' })).props.checked, 'true');
  });

  test('performance: DPI stage 2 to 2000, then to 1600 (mouse access library)', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Orbit 6' });
    await page.click({ role: 'tab', name: 'Performance' });
    const m = new ModelDocument('orbit-6.xml');
    for (const dpi of [2000, 1600]) {
      m.clearActions();
      m.set(m.key('Dpi2'), { x: dpi, y: dpi, action: 'set' });
      await assertWrites(app, () => page.fill({ role: 'spinbutton', name: 'Stage 2 DPI' }, String(dpi)), m.text());
      assert.equal((await page.find({ role: 'slider', name: 'Stage 2 DPI' })).value, dpi);
    }
  });
});
