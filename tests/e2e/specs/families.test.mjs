// One action per page for every device family, done as a user does it, checked byte for byte
// against torvanix-ctl on the document a correct page sends.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { ModelDocument } from '../lib/documents.mjs';
import { assertWrites } from '../lib/expect.mjs';
import { useApp } from '../lib/fixture.mjs';

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
      const m = new ModelDocument(template);
      const key = m.set(m.key(button), { type: 'KEYBOARD', task: 'A', value: 'A', action: 'set' });
      await assertWrites(app, () => page.click({ role: 'button', name: 'Apply' }), whole ? m.text() : m.excerpt([key]));
      await page.find({ role: 'heading', name: new RegExp(`: A$`) });
    });
  }

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
