// One program per test file: started before the first test, checked after every test (no
// console error may have appeared), always stopped at the end; a failing test leaves a
// picture of the window under build/screens/failed-*.
import assert from 'node:assert/strict';
import { after, afterEach, before } from 'node:test';
import { App } from './app.mjs';

export function useApp(options = {}) {
  const box = { app: null };
  before(async () => {
    box.app = await App.launch(options);
  }, { timeout: 90000 });
  afterEach(async (t) => {
    const app = box.app;
    if (!app) return;
    const errors = app.page.takeErrors();
    if (errors.length || (t && t.passed === false)) {
      const name = `failed-${(t && t.name) || 'test'}`.replace(/[^\w.-]+/g, '_');
      await app.page.screenshot(name).catch(() => {});
    }
    assert.deepEqual(errors, [], 'the page logged errors');
    if (app.exit) assert.fail(`the program ended: ${JSON.stringify(app.exit)}\n${app.programLog().slice(-3000)}`);
  });
  after(async () => {
    if (box.app) await box.app.stop();
  }, { timeout: 30000 });
  return box;
}

// Every serious or critical axe-core finding on the current screen fails the test.
export async function assertAccessible(page, screen) {
  const problems = await page.accessibilityProblems();
  assert.deepEqual(problems, [], `accessibility problems on ${screen}`);
}
