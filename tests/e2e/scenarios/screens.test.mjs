// Every screen in English and Chinese, dark and light: axe-core finds nothing serious, nothing
// runs out of the window or its box at either window size, and a picture of each size lands in
// build/screens/.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { useApp } from '../lib/fixture.mjs';
import { checkScreen } from '../lib/layout.mjs';

// A keyboard with every page, a mouse, the notebook lighting and the generic device.
const DEVICES = [
  ['keystone-104', 'Torvanix Keystone 104'],
  ['orbit-6', 'Torvanix Orbit 6'],
  ['nimbus', 'Torvanix Nimbus notebook lighting'],
  ['generic', /^(Device|设备) 19563010$/],
];
const LANGUAGES = [['en', 'English'], ['zh', '中文']];

describe('every screen', () => {
  const ctx = useApp({ name: 'screens' });

  for (const [lang, label] of LANGUAGES) {
    for (const theme of ['dark', 'light']) {
      test(`${lang} ${theme}`, { timeout: 120000 }, async () => {
        const { app } = ctx;
        const { page } = app;
        const problems = [];
        const layout = [];
        await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, label);
        assert.match(await page.eval('document.documentElement.lang'), lang === 'zh' ? /^zh/ : /^en/);
        const light = await page.find({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        if ((light.props.checked === 'true') !== (theme === 'light')) {
          await page.click({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        }
        for (const [id, name] of DEVICES) {
          await page.click({ role: 'button', name });
          await app.quiet();
          const tabs = (await page.queryAll({ role: 'tab' })).map((t) => t.name);
          for (const [i, tab] of (tabs.length ? tabs : ['-']).entries()) {
            if (tab !== '-') {
              await page.click({ role: 'tab', name: tab });
              await app.quiet();
            }
            const screen = `${id}-${i + 1}-${lang}-${theme}`;
            problems.push(...(await page.accessibilityProblems()).map((p) => `${screen}: ${p}`));
            layout.push(...(await checkScreen(page, screen)));
          }
        }
        assert.deepEqual(problems, [], 'accessibility problems');
        assert.deepEqual(layout, [], 'layout faults');
      });
    }
  }
});
