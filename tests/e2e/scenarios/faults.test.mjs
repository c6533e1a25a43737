// A device that refuses what it is sent: the page must not claim the change.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { useApp } from '../lib/fixture.mjs';
import { waitUntil } from '../lib/util.mjs';

describe('refused writes', () => {
  // Every data packet of the packet keyboard is refused by the device.
  const ctx = useApp({ name: 'faults', env: { TORVANIX_SIM_FAULTS: 'dcWriteHFDData@*' } });

  // The page takes the packet keyboard's echo as confirmation, so a refused transfer must not
  // be echoed.
  test('packet keyboard: a refused key table leaves the key as it was', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Pulse 104' });
    await app.quiet();
    await page.click({ role: 'gridcell', name: 'F1' });
    await page.choose({ role: 'combobox', name: 'Function type' }, 'Keyboard key');
    await page.choose({ role: 'combobox', name: 'Keyboard key' }, 'A');
    const mark = app.trace.mark();
    await page.click({ role: 'button', name: 'Apply' });
    await waitUntil(() => app.trace.since(mark).some((l) => l.call === 'dcWriteHFDData' && l.fault),
      { what: 'the refused data packet' });
    await app.quiet({ quietMs: 1000, timeout: 20000 });
    const heading = (await page.queryAll({ role: 'heading' })).map((h) => h.name);
    assert.ok(!heading.includes('F1: A'), `the page shows the refused assignment: ${heading}`);
  });

  // The macro table is answered once it was sent: a refused one is said so and leaves nothing
  // to undo.
  test('packet keyboard: a refused macro table is said so', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'tab', name: 'Macros' });
    await page.click({ role: 'button', name: 'New macro' });
    await page.click({ role: 'button', name: 'Start recording' });
    await page.find({ role: 'button', name: 'Stop recording' });
    await page.key('a');
    await page.waitText(/Recording: [1-9]\d* steps/);
    await page.click({ role: 'button', name: 'Stop recording' });
    const mark = app.trace.mark();
    await page.click({ role: 'button', name: 'Put in slot' });
    await waitUntil(() => app.trace.since(mark).some((l) => l.call === 'dcWriteHFDData' && l.fault),
      { what: 'the refused data packet' });
    await page.waitText(/in Slot 1: the device did not confirm the change/);
    const undo = (await page.queryAll({ role: 'button' })).map((b) => b.name).filter((n) => /^Undo: /.test(n));
    assert.deepEqual(undo, [], 'nothing refused is offered for undo');
  });
});
