// Started with no device at all: the empty state says what to do; a device plugged in later
// appears without a reload.
import { describe, test } from 'node:test';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { assertLaidOut } from '../lib/layout.mjs';
import { DEMO_DEVICES } from '../lib/app.mjs';
import fs from 'node:fs';

describe('no device', () => {
  const ctx = useApp({ name: 'nodevice', devices: [] });

  test('the empty state names causes and remedies', { timeout: 30000 }, async () => {
    const { page } = ctx.app;
    await page.find({ role: 'heading', name: 'No supported device found' }, { timeout: 15000 });
    await page.find({ role: 'button', name: 'Search again' });
    await assertAccessible(page, 'empty state');
    await page.screenshot('empty-state-en-dark');
    await assertLaidOut(page, 'empty-state-en-dark');
  });

  test('a device plugged in later shows up by itself', { timeout: 30000 }, async () => {
    const { app } = ctx;
    const demo = JSON.parse(fs.readFileSync(DEMO_DEVICES, 'utf8'));
    app.setDevices(demo.filter((d) => /vid_258a&pid_002e/i.test(d.path)));
    await app.page.find({ role: 'button', name: 'Torvanix Orbit 6' }, { timeout: 15000 });
    await app.page.waitGone({ role: 'heading', name: 'No supported device found' });
  });
});
