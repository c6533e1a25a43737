// The same work with the keyboard alone: a key picked in the key grid with the arrows, an
// effect, a key assigned in Chinese, a DPI stage nudged on its slider, and Ctrl+Z taking the
// last change back.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { ModelDocument } from '../lib/documents.mjs';
import { assertWrites } from '../lib/expect.mjs';
import { useApp } from '../lib/fixture.mjs';

describe('keyboard only', () => {
  const ctx = useApp({ name: 'keyboard' });

  test('keys: arrows to F2 in the grid, Enter, assign the key B', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Keystone 104' });
    await app.quiet();
    await page.focus({ role: 'gridcell', name: 'Esc' });
    await page.key('Right', 'Right', 'Enter');
    await page.find({ role: 'group', name: 'Assign to F2' });
    await page.choose({ role: 'combobox', name: 'Function type' }, 'Keyboard key');
    await page.choose({ role: 'combobox', name: 'Keyboard key' }, 'B');
    const m = new ModelDocument('keystone-104.xml');
    const key = m.set(m.key('Button3'), { type: 'KEYBOARD', task: 'B', value: 'B', action: 'set' });
    await assertWrites(app, async () => {
      await page.focus({ role: 'button', name: 'Apply' });
      await page.key('Enter');
    }, m.excerpt([key]));
    await page.find({ role: 'heading', name: 'F2: B' });
  });

  test('lighting: the next effect with the arrow key', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.focus({ role: 'tab', name: 'Keys' });
    await page.key('Right');
    await page.find({ role: 'tab', name: 'Lighting', selected: true });
    await app.quiet();
    const before = (await page.find({ role: 'combobox', name: 'Effect' })).value;
    const next = Number(/(\d+)$/.exec(before)[1]) + 1;
    const m = new ModelDocument('keystone-104.xml');
    const light = m.root.getElementsByTagName('light')[0];
    light.removeChild(m.element('mode', 'LightUp'));
    const mode = m.set(m.element('mode', 'Default'), { index: next, action: 'set' });
    m.set(m.key('LightMode', mode), { value: next, action: 'set' });
    const colour = (await page.find({ role: 'textbox', name: 'Hex colour' })).value;
    m.set(m.key('LightRGB', mode), { value: colour });
    await assertWrites(app, async () => {
      await page.focus({ role: 'combobox', name: 'Effect' });
      await page.key('Down');
    }, m.excerpt([light]));
    assert.equal((await page.find({ role: 'combobox', name: 'Effect' })).value, `Effect ${next}`);
  });

  test('in Chinese: F3 becomes the key C', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.choose({ role: 'combobox', name: 'Language' }, '中文');
    try {
      await page.click({ role: 'button', name: 'Torvanix Keystone 104' });
      await page.click({ role: 'tab', name: '按键' });
      await app.quiet();
      await page.focus({ role: 'gridcell', name: 'F3' });
      await page.key('Enter');
      await page.choose({ role: 'combobox', name: '功能类型' }, '键盘按键');
      await page.choose({ role: 'combobox', name: '键盘按键' }, 'C');
      const m = new ModelDocument('keystone-104.xml');
      const key = m.set(m.key('Button4'), { type: 'KEYBOARD', task: 'C', value: 'C', action: 'set' });
      await assertWrites(app, async () => {
        await page.focus({ role: 'button', name: '应用' });
        await page.key('Enter');
      }, m.excerpt([key]));
      await page.find({ role: 'heading', name: 'F3：C' });
    } finally {
      await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, 'English');
    }
  });

  test('performance: stage 3 one step up on its slider, then Ctrl+Z', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Orbit 6' });
    await page.click({ role: 'tab', name: 'Performance' });
    await app.quiet();
    const m = new ModelDocument('orbit-6.xml');
    m.set(m.key('Dpi3'), { x: 3300, y: 3300, action: 'set' });
    await assertWrites(app, async () => {
      await page.focus({ role: 'slider', name: 'Stage 3 DPI' });
      await page.key('Right');
    }, m.text());
    assert.equal((await page.find({ role: 'spinbutton', name: 'Stage 3 DPI' })).value, 3300);

    m.clearActions();
    m.set(m.key('Dpi3'), { x: 3200, y: 3200, action: 'set' });
    await assertWrites(app, () => page.key('ctrl+z'), m.text());
    assert.equal((await page.find({ role: 'spinbutton', name: 'Stage 3 DPI' })).value, 3200);
  });
});
