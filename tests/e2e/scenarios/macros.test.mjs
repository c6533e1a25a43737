// A macro as a user makes one: recorded from real key presses (Enter and Esc among them) and
// stopped from the keyboard, saved to a file and loaded back, put into the packet keyboard's
// macro table and given to a key, each write checked against torvanix-ctl; both are undone again.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { ModelDocument } from '../lib/documents.mjs';
import { assertWrites } from '../lib/expect.mjs';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { assertLaidOut } from '../lib/layout.mjs';

const KEYBOARD = 'Torvanix Pulse 104';
const IDENTITY = '0C458075';
// A, Enter, Esc pressed and released, without pauses, played once.
// Key names as the keyboard's D4.0 table spells them.
const TEXT = ['A', 'Enter', 'ESC'].map((k) => `键盘按下(${k})键盘弹起(${k})`).join('') + ':1|0|1';

describe('macros end to end', () => {
  const ctx = useApp({ name: 'macros' });

  test('record by key presses, stop with Ctrl+Shift+Esc, save to a file and load it back', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: KEYBOARD });
    await page.click({ role: 'tab', name: 'Macros' });
    await page.click({ role: 'button', name: 'New macro' });
    await page.click({ role: 'radio', name: 'No pauses' });
    await page.click({ role: 'button', name: 'Start recording' });
    const stop = await page.find({ role: 'button', name: 'Stop recording' });
    assert.equal(stop.props.focused, true, 'the stop button takes the focus');
    await page.key('a', 'Enter', 'Escape');
    await page.waitText(/Recording: 6 steps/);
    await page.screenshot('macros-recording-en-dark');
    await assertLaidOut(page, 'macros-recording-en-dark');
    await assertAccessible(page, 'recording a macro');
    await page.chord('ctrl+shift+Escape');
    await page.waitText(/6 steps recorded/);
    await page.find({ role: 'button', name: 'Start recording' });

    const file = path.join(app.dir, 'recorded.macro');
    await page.click({ role: 'button', name: 'Save to file' });
    await app.answerFileDialog(file);
    await page.waitText(/"Macro" saved to a file/);
    assert.ok(fs.statSync(file).size > 0, 'the macro file is written');

    await page.click({ role: 'button', name: 'Load from file' });
    await app.answerFileDialog(file);
    // It joins the library beside the one it was saved from, under a name of its own.
    await page.waitText(/"Macro \(2\)" loaded into the library/);
    assert.equal((await page.find({ role: 'button', name: 'Macro (2)' })).props.pressed, 'true', 'the loaded macro is open');
    await page.find({ role: 'button', name: 'Macro', pressed: 'false' });
  });

  test('put the loaded macro into the keyboard\'s table, give it to F1, undo both', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    const m = new ModelDocument('pulse-104.xml');
    const slots = Array.from(m.root.getElementsByTagName('key'))
      .filter((k) => /^命令\d+$/.test(k.getAttribute('name')))
      .sort((a, b) => Number(a.getAttribute('index')) - Number(b.getAttribute('index')));
    const table = JSON.stringify(slots.map((k, i) => ({ content: i === 0 ? TEXT : '' })));
    await assertWrites(app, () => page.click({ role: 'button', name: 'Put in slot' }), table,
      { ctlArgs: ['macro', IDENTITY, '-'] });
    await page.waitText(/"Macro \(2\)" sent to Torvanix Pulse 104 as Slot 1/);

    await page.click({ role: 'tab', name: 'Keys' });
    await app.quiet();
    await page.click({ role: 'gridcell', name: 'F1' });
    await page.choose({ role: 'combobox', name: 'Function type' }, 'Macro');
    await page.choose({ role: 'combobox', name: 'Macro' }, 'Macro 1');
    m.set(slots[0], { value: TEXT });
    m.set(m.key('Button2'), { type: 'MACRO', task: '0', count: '1', delay: '0', action: 'set' });
    const writes = await assertWrites(app, () => page.click({ role: 'button', name: 'Apply' }), m.text());
    // The key table entry of F1 (key number 1) plays macro 0 once: 06 00 01 00.
    assert.ok(writes.some((w) => /bytes=[0-9a-f]{8}06000100/.test(w)), `F1 plays macro 0:\n${writes.join('\n')}`);
    await page.find({ role: 'heading', name: /^F1: / });

    // Undone newest first: F1's key, then the table goes back to the one the keyboard had.
    await page.click({ role: 'button', name: /^Undo: F1/ });
    await page.waitText(/Undone: F1/);
    const empty = JSON.stringify(slots.map(() => ({ content: '' })));
    await assertWrites(app, () => page.click({ role: 'button', name: 'Undo: "Macro (2)" in Slot 1' }), empty,
      { ctlArgs: ['macro', IDENTITY, '-'] });
    await page.waitText(/Undone: "Macro \(2\)" in Slot 1/);
  });
});
