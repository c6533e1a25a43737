// Lighting sync: both devices with their own library get their effect and colour from one
// document, checked call for call at both libraries; the screen in both languages and themes.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { assertWrites } from '../lib/expect.mjs';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { assertLaidOut } from '../lib/layout.mjs';

const MOUSE = 'Torvanix Orbit 6';
const KEYBOARD = 'Torvanix Linkboard 104';

const document = (devices) => `<?xml version="1.0"?><configuration><key name="UsbId" value="SYNC"/><devices>${devices
  .map(([version, sync, rgb]) => `<device version="${version}" sync="${sync}" rgb="${rgb}"/>`).join('')}</devices></configuration>`;

describe('lighting sync', () => {
  const ctx = useApp({ name: 'sync' });

  test('a steady colour on the mouse and an effect on the keyboard, applied together', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: MOUSE });
    await page.click({ role: 'tab', name: 'Lighting sync' });
    await page.find({ role: 'heading', name: 'Lighting sync' });
    // Both devices are listed, whichever of them the tab was opened from.
    await page.find({ role: 'heading', name: KEYBOARD });
    await page.choose({ role: 'combobox', name: `Effect of ${MOUSE}` }, 'Steady colour');
    await page.fill({ role: 'textbox', name: `Hex colour of ${MOUSE}` }, '123456');
    await page.choose({ role: 'combobox', name: `Effect of ${KEYBOARD}` }, 'Effect 4');
    await page.fill({ role: 'textbox', name: `Hex colour of ${KEYBOARD}` }, 'ff8000');
    // The page lists the devices in the program's order, the keyboard first here.
    const writes = await assertWrites(app, () => page.click({ role: 'button', name: 'Apply to all' }),
      document([['05AC024F', 4, 'ff8000'], ['258A002E', 1, '123456']]), { atLeast: 2 });
    assert.ok(writes.some((w) => w.startsWith('ByDevInterface.')) && writes.some((w) => w.startsWith('KBAccess.')),
      `both libraries are written: ${writes.join('\n')}`);
    await page.waitText(/Sent to 2 devices/);

    // A mouse effect takes no colour: the field says so instead of offering one.
    await page.choose({ role: 'combobox', name: `Effect of ${MOUSE}` }, 'Effect 3');
    assert.equal((await page.find({ role: 'textbox', name: `Hex colour of ${MOUSE}` })).props.disabled, true);
    await page.waitText(/own colours/);
    await assertWrites(app, () => page.click({ role: 'button', name: 'Apply to all' }),
      document([['05AC024F', 4, 'ff8000'], ['258A002E', 3, '123456']]), { atLeast: 2 });
  });

  test('the sync screen in English and Chinese, dark and light', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    for (const [lang, label] of [['en', 'English'], ['zh', '中文']]) {
      await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, label);
      for (const theme of ['dark', 'light']) {
        const light = await page.find({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        if ((light.props.checked === 'true') !== (theme === 'light')) await page.click({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        await page.find({ role: 'heading', name: lang === 'zh' ? '灯光同步' : 'Lighting sync' });
        await page.screenshot(`sync-${lang}-${theme}`);
        await assertLaidOut(page, `sync-${lang}-${theme}`);
        await assertAccessible(page, `sync ${lang} ${theme}`);
      }
    }
  });
});
