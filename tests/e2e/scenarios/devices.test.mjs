// The device bar on the demo devices, and a device unplugged while its page is open.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { waitUntil } from '../lib/util.mjs';

const MODELS = [
  'Torvanix Keystone 104', 'Torvanix Keystone 84 Screen', 'Torvanix Pulse 104', 'Torvanix Linkboard 104',
  'Torvanix Glide 6', 'Torvanix Swift 6', 'Torvanix Orbit 6', 'Torvanix Nimbus notebook lighting',
];

async function deviceCards(page) {
  const nav = await page.queryAll({ role: 'button' });
  return nav.map((n) => n.name).filter((n) => MODELS.includes(n) || /^Device /.test(n)).sort();
}

describe('device bar', () => {
  const ctx = useApp({ name: 'devices' });

  test('shows every demo device by its model name', { timeout: 30000 }, async () => {
    const page = ctx.app.page;
    const cards = await waitUntil(async () => {
      const c = await deviceCards(page);
      return c.length >= MODELS.length + 1 ? c : null;
    }, { timeout: 15000, what: 'the demo devices in the device bar' });
    assert.deepEqual(cards, [...MODELS, 'Device 19563010'].sort());
    await assertAccessible(page, 'device bar');
  });

  test('a device unplugged while its page is open leaves the bar, and comes back', { timeout: 45000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Orbit 6' });
    await page.find({ role: 'grid', name: 'Mouse buttons' }, { timeout: 15000 });
    const all = app.devices();
    app.setDevices(all.filter((d) => !/vid_258a&pid_002e/i.test(d.path)));
    // DevicesChanged -> the list is asked again -> the card and its page go away.
    await page.waitGone({ role: 'button', name: 'Torvanix Orbit 6' }, { timeout: 15000 });
    await page.waitGone({ role: 'grid', name: 'Mouse buttons' }, { timeout: 5000 });
    assert.ok(!(await page.exists({ role: 'button', name: 'Torvanix Orbit 6', pressed: true })));
    app.setDevices(all);
    await page.find({ role: 'button', name: 'Torvanix Orbit 6' }, { timeout: 15000 });
  });
});
