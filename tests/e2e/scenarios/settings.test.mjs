// Settings and the first start: start at logon writes the autostart entry into the user's own
// folder and switching it off disables it; the first run ends with Done, without a restart; the
// core's desktop sections laid out in both languages.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { assertLaidOut } from '../lib/layout.mjs';
import { waitUntil } from '../lib/util.mjs';

describe('settings and first start', () => {
  const ctx = useApp({ name: 'settings' });
  const LOGON = { role: 'switch', name: 'Start Torvanix when I log on' };
  const entryText = (file) => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '');

  test('start at logon writes the autostart entry; switched off, the entry is disabled', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    const entry = path.join(app.dir, 'home', '.config', 'autostart', 'LUMSetup.desktop');
    await page.click({ role: 'button', name: 'Settings' });
    assert.equal((await page.find(LOGON)).props.checked, 'false');
    await page.click(LOGON);
    await waitUntil(() => /^Hidden=false$/m.test(entryText(entry)), { timeout: 10000, what: 'the autostart entry' });
    assert.match(entryText(entry), /^Exec=.*torvanix/m);
    await waitUntil(async () => (await page.find(LOGON)).props.checked === 'true', { timeout: 5000, what: 'the switch on' });
    await assertAccessible(page, 'settings');

    await page.click(LOGON);
    await waitUntil(() => /^Hidden=true$/m.test(entryText(entry)), { timeout: 10000, what: 'the entry disabled' });
    assert.match(entryText(entry), /^Exec=$/m);
    await page.key('Escape');
    await page.waitGone({ role: 'dialog' });
  });

  test('the first run says what was found and Done ends it without a restart', { timeout: 60000 }, async () => {
    const { page } = ctx.app;
    const welcome = { role: 'heading', name: 'Welcome to Torvanix' };
    const ask = (name) => page.eval(`new Promise((ok, no) => window.ClientRequest({ request: '{"FuncName":"${name}"}', onSuccess: ok, onFailure: (c, t) => no(new Error(t)) }))`);
    await page.find(welcome);
    await page.find({ role: 'switch', name: 'Start at logon' });
    assert.equal(await ask('IsFirstStart'), '1');
    await page.click({ role: 'button', name: 'Done' });
    await page.waitGone(welcome);
    // The program is no longer in its first run, so it does not start again when it ends.
    assert.equal(await ask('IsFirstStart'), '0');
  });

  test('the battery, profile and lighting server sections in both languages and themes', { timeout: 240000 }, async () => {
    const { page } = ctx.app;
    const set = (section, value) =>
      page.eval(`new Promise((ok, no) => window.ClientRequest({ request: ${JSON.stringify(
        JSON.stringify({ FuncName: 'SetCoreSettings', Section: section, Value: JSON.stringify(value) }),
      )}, onSuccess: ok, onFailure: (c, t) => no(new Error(t)) }))`);
    // A rule and the network tick, so the pictures show the rule editor and the warning.
    await set('focus', { enabled: true, rules: [{ app: 'firefox', profiles: { 'TOB-NIR-V1.2.0': 2 } }] });
    await set('sdk', { enabled: false, port: 6742, allowNetwork: true });
    for (const [lang, label] of [['en', 'English'], ['zh', '中文']]) {
      for (const theme of ['dark', 'light']) {
        await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, label);
        const light = await page.find({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        if ((light.props.checked === 'true') !== (theme === 'light'))
          await page.click({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        await page.click({ role: 'button', name: lang === 'zh' ? '设置' : 'Settings' });
        await page.find({ role: 'heading', name: lang === 'zh' ? '灯光服务' : 'Lighting server' });
        await waitUntil(() => page.eval('!document.querySelector(\'.desktop-section[aria-busy="true"]\')'), { timeout: 10000, what: 'the sections answered' });
        await page.waitText(/firefox/);
        for (const section of ['battery', 'sdk']) {
          await page.eval(`document.getElementById('settings-${section}').scrollIntoView()`);
          await assertLaidOut(page, `settings-${section}-${lang}-${theme}`);
        }
        await assertAccessible(page, `settings desktop ${lang} ${theme}`);
        await page.key('Escape');
        await page.waitGone({ role: 'dialog' });
      }
    }
    await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, 'English');
  });
});
