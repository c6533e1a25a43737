// The window program comes and goes while the core stays. Hidden for a moment, it ends and the
// core runs on with no window; shown again, the page is as the user left it and lists a device
// plugged in meanwhile at once; killed, it is started again by the next show. Lighting that
// follows the music goes on with no window at all.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { describe, test } from 'node:test';
import { DEMO_DEVICES } from '../lib/app.mjs';
import { useApp } from '../lib/fixture.mjs';
import { toneWav } from '../lib/media.mjs';
import { waitUntil } from '../lib/util.mjs';

const ORBIT = /vid_258a&pid_002e/i;
const THEME = /^(Light theme|浅色主题)$/;
const ALL = JSON.parse(fs.readFileSync(DEMO_DEVICES, 'utf8'));

async function setLook(page, lang, theme) {
  await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, lang === 'zh' ? '中文' : 'English');
  const light = await page.find({ role: 'switch', name: THEME });
  if ((light.props.checked === 'true') !== (theme === 'light')) await page.click({ role: 'switch', name: THEME });
}

async function look(page) {
  const language = await page.find({ role: 'combobox', name: /^(Language|语言)$/ });
  return { language: language.value, theme: await page.eval('document.documentElement.dataset.theme') };
}

describe('the window program ends when hidden and comes back', () => {
  const ctx = useApp({
    name: 'lifecycle', tray: true, devices: ALL.filter((d) => !ORBIT.test(d.path)),
    env: { TORVANIX_UI_LINGER_MS: '1000' },
  });

  test('hidden, it ends; shown again, selection, language and theme are back and a new device is listed',
    { timeout: 120000 }, async () => {
      const { app } = ctx;
      let { page } = app;
      await page.click({ role: 'button', name: 'Torvanix Pulse 104' }, { timeout: 15000 });
      await page.find({ role: 'button', name: 'Torvanix Pulse 104', pressed: true });
      await setLook(page, 'zh', 'light');
      const before = await look(page);
      assert.deepEqual(before, { language: '中文', theme: 'light' });
      const first = app.windowPid();
      assert.ok(first, 'a window program runs');

      await page.eval(`(ClientRequest({ request: JSON.stringify({ FuncName: 'CloseX' }) }), true)`);
      await waitUntil(() => app.windowPid() === null, { timeout: 20000, what: 'the window program to end' });
      assert.equal(app.exit, undefined, 'the core runs on');

      // Plugged in while no window exists.
      app.setDevices(ALL);
      await app.startAgain();
      await app.reconnect();
      page = app.page;
      assert.notEqual(app.windowPid(), first);
      await page.find({ role: 'button', name: 'Torvanix Orbit 6' }, { timeout: 5000 });
      await page.find({ role: 'button', name: 'Torvanix Pulse 104', pressed: true }, { timeout: 10000 });
      assert.deepEqual(await look(page), before);
      await setLook(page, 'en', 'dark');
    });

  test('killed, it is started again by the next show', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const killed = app.windowPid();
    assert.ok(killed);
    process.kill(killed, 'SIGKILL');
    await waitUntil(() => app.windowPid() !== killed, { timeout: 10000, what: 'the killed window program to go' });
    assert.equal(app.exit, undefined, 'the core runs on');
    await app.startAgain();
    await app.reconnect();
    await app.page.find({ role: 'button', name: 'Torvanix Orbit 6' }, { timeout: 15000 });
    assert.equal((await app.visibleWindows()).length, 1, 'the main window is shown');
  });

  test('lighting follows the music while no window exists', { timeout: 120000 }, async () => {
    const { app } = ctx;
    let { page } = app;
    const track = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'tvx-lifecycle-')), 'pulse.wav');
    fs.writeFileSync(track, toneWav(40, { pulse: true }));
    // The kill above may have taken the last change of language with it.
    await setLook(page, 'en', 'dark');
    await page.click({ role: 'button', name: 'Torvanix Keystone 84 Screen' }, { timeout: 15000 });
    await page.click({ role: 'tab', name: 'Music' });
    await app.focusWindow();
    await page.click({ role: 'button', name: 'Add tracks' });
    await app.answerFileDialog(track);
    await page.click({ role: 'button', name: 'Play pulse.wav' });
    await page.waitText(/Playing/, { timeout: 15000 });
    await page.click({ role: 'switch', name: 'Lighting follows the music' });
    // Away from the music page, whose poller would keep the window program busy.
    await page.click({ role: 'tab', name: 'Keys' });

    await page.eval(`(ClientRequest({ request: JSON.stringify({ FuncName: 'CloseX' }) }), true)`);
    await waitUntil(() => app.windowPid() === null, { timeout: 30000, what: 'the window program to end' });
    const mark = app.trace.mark();
    await waitUntil(() => app.trace.writesSince(mark).length >= 3, { timeout: 15000, what: 'lighting writes with no window' });
    assert.equal(app.windowPid(), null, 'no window program came back meanwhile');

    await app.startAgain();
    await app.reconnect();
    page = app.page;
    await page.click({ role: 'tab', name: 'Music' }, { timeout: 15000 });
    // The new window shows what the program plays, and that it still follows.
    await page.find({ role: 'button', name: 'Play pulse.wav' }, { timeout: 10000 });
    await waitUntil(async () => (await page.find({ role: 'switch', name: 'Lighting follows the music' })).props.checked === 'true',
      { timeout: 10000, what: 'the follow switch shown on' });
    await page.click({ role: 'switch', name: 'Lighting follows the music' });
    await page.click({ role: 'button', name: 'Pause' });
    await page.waitText(/Paused/);
  });
});
