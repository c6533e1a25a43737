// The pages beside the main one: the hot-key panel the program opens as a pop-up (the only
// page that registers for hot keys), and the offline help page, also under the endpoint's root.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import CDP from 'chrome-remote-interface';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { assertLaidOut } from '../lib/layout.mjs';
import { Page } from '../lib/page.mjs';
import { waitUntil, withTimeout } from '../lib/util.mjs';

// Notes every event name the page registers; set up before the page's own scripts run,
// whichever of this and the program's bridge comes first.
const WATCH_REGISTRATIONS = `(() => {
  const seen = [];
  Object.defineProperty(window, '__tvxRegistered', { value: seen });
  const wrap = (fn) => function (name) { seen.push(String(name)); return fn.apply(this, arguments); };
  let current = typeof window.setMessageCallback === 'function' ? wrap(window.setMessageCallback) : undefined;
  Object.defineProperty(window, 'setMessageCallback', { configurable: true,
    get() { return current; }, set(v) { current = typeof v === 'function' ? wrap(v) : v; } });
})();`;

async function reloadWatched(page) {
  const { Page: P } = page.client;
  await P.addScriptToEvaluateOnNewDocument({ source: WATCH_REGISTRATIONS });
  const loaded = P.loadEventFired();
  await P.reload({ ignoreCache: true });
  await withTimeout(loaded, 20000, 'reload');
  await waitUntil(() => page.eval('document.readyState === "complete"'), { timeout: 20000, what: 'document complete' });
}

const registered = (page) => page.eval('window.__tvxRegistered ? window.__tvxRegistered.slice() : null');

async function setLook(page, lang, theme, names) {
  await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, lang === 'zh' ? '中文' : 'English');
  const light = await page.find({ role: 'switch', name: names });
  if ((light.props.checked === 'true') !== (theme === 'light')) await page.click({ role: 'switch', name: names });
}

describe('hot-key panel and help page', () => {
  const ctx = useApp({ name: 'quickset' });
  const LOOKS = [['en', 'dark'], ['en', 'light'], ['zh', 'dark'], ['zh', 'light']];
  const THEME = /^(Light theme|浅色主题)$/;

  test('the main page does not register for hot keys; the panel it opens does', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await reloadWatched(page);
    await waitUntil(async () => ((await registered(page)) || []).includes('DevicesChanged'),
      { timeout: 15000, what: 'the main page to register its events' });
    assert.ok(!(await registered(page)).includes('HotKeyMsg'), 'the main page registered for HotKeyMsg');

    // Keys go to the main window; it is found before the panel's window exists.
    await app.windowId();
    await page.click({ role: 'button', name: 'Settings' });
    await page.click({ role: 'button', name: 'Hot-key panel' });
    const target = await waitUntil(async () => (await CDP.List({ host: '127.0.0.1', port: app.port }))
      .find((t) => t.type === 'page' && /quick_set\.html/.test(t.url)), { timeout: 20000, what: 'the hot-key panel' });
    const client = await withTimeout(CDP({ host: '127.0.0.1', port: app.port, target }), 10000, 'panel connection');
    try {
      const panel = new Page({ ...app, client });
      await panel.attach({ reload: false });
      await reloadWatched(panel);
      await panel.find({ role: 'heading', name: 'Hot keys' });
      await waitUntil(async () => ((await registered(panel)) || []).includes('HotKeyMsg'),
        { timeout: 10000, what: 'the panel to register for HotKeyMsg' });
      await panel.find({ role: 'status' });
      await panel.waitText(/No hot key received yet/);
      await page.key('Escape');
      await page.waitGone({ role: 'dialog' });
      // The panel follows the main window's language and theme while it is open.
      for (const [lang, theme] of LOOKS) {
        await setLook(page, lang, theme, THEME);
        await panel.find({ role: 'heading', name: lang === 'zh' ? '热键' : 'Hot keys' });
        await waitUntil(async () => (await panel.eval('document.documentElement.dataset.theme')) === theme,
          { timeout: 5000, what: `the panel in the ${theme} theme` });
        await panel.screenshot(`quickset-${lang}-${theme}`);
        await assertAccessible(panel, `hot-key panel ${lang} ${theme}`);
        await assertLaidOut(panel, `quickset-${lang}-${theme}`, []);
      }
      await setLook(page, 'en', 'dark', THEME);
      await panel.find({ role: 'heading', name: 'Hot keys' });
      assert.deepEqual(panel.takeErrors(), [], 'the panel logged errors');
      // The program closes the pop-up that was activated last; a user's click activates it,
      // but there is no window manager here to do so.
      const main = await app.windowId();
      const windows = (await app.visibleWindows()).filter((id) => id !== main);
      assert.equal(windows.length, 1, 'one pop-up window');
      await app.xdotool(['windowfocus', '--sync', windows[0]]);
      // The panel may be gone before the click's last event is acknowledged.
      await panel.click({ role: 'button', name: 'Close the panel' }).catch((e) => {
        if (!/WebSocket connection closed|went away|timed out/.test(e.message)) throw e;
      });
      await waitUntil(async () => !(await CDP.List({ host: '127.0.0.1', port: app.port }))
        .some((t) => /quick_set\.html/.test(t.url)), { timeout: 10000, what: 'the panel to close' });
    } finally {
      await client.close().catch(() => {});
    }
  });

  test('the help page: from the title bar, in both languages and themes, and back', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'link', name: 'Help' });
    await page.find({ role: 'heading', name: 'Torvanix help' });
    for (const [lang, theme] of LOOKS) {
      await setLook(page, lang, theme, THEME);
      await page.find({ role: 'heading', name: lang === 'zh' ? 'Linux 上的设备权限' : 'Device permissions on Linux' });
      await page.screenshot(`help-${lang}-${theme}`);
      await assertAccessible(page, `help ${lang} ${theme}`);
      await assertLaidOut(page, `help-${lang}-${theme}`);
    }
    await setLook(page, 'en', 'dark', THEME);
    await page.waitText(/torvanix-ctl udev-rules \| sudo tee/);
    await page.click({ role: 'link', name: 'Back to Torvanix' });
    await page.find({ role: 'button', name: 'Torvanix Keystone 104' });
    assert.match(await page.eval('location.pathname'), /\/local\/Torvanix\/client\.html$/);
  });

  test('the endpoint root shows the help page with all its files from the local folder', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    const origin = await page.eval('location.origin');
    const loaded = page.client.Page.loadEventFired();
    await page.client.Page.navigate({ url: `${origin}/` });
    await withTimeout(loaded, 20000, 'the root page');
    await page.find({ role: 'heading', name: 'Torvanix help' });
    await page.click({ role: 'link', name: 'Back to Torvanix' });
    await page.find({ role: 'button', name: 'Torvanix Keystone 104' });
  });
});
