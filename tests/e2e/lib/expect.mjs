// Runs a user action and checks the device writes it caused against those torvanix-ctl makes
// from the test's own document.
import assert from 'node:assert/strict';
import { expectedWrites } from './trace.mjs';

const short = (w) => w.replace(/\\\\\?\\hid#[^ ]*/, '<path>');

// `action` does what the user does; `document` (text, or a function answering it once the
// action is done) is what a correct page sends for it.
export async function assertWrites(app, action, document, { atLeast = 1, ctlArgs } = {}) {
  // Whatever an earlier step still sends must not be taken for this action's writes.
  await app.quiet();
  const mark = app.trace.mark();
  // The state before the action, so translators that read before writing see the same device.
  const stateBefore = `${app.stateFile}.before`;
  const fs = await import('node:fs');
  if (fs.existsSync(app.stateFile)) fs.copyFileSync(app.stateFile, stateBefore);
  else fs.rmSync(stateBefore, { force: true });
  await action();
  await app.trace.settle(mark, { atLeast });
  const actual = app.trace.writesSince(mark);
  const text = typeof document === 'function' ? await document() : document;
  const expected = await expectedWrites(text, { devicesFile: app.devicesFile, stateFile: stateBefore, ctlArgs });
  assert.ok(expected.writes.length > 0, `the expected document makes no device write:\n${text}`);
  assert.deepEqual(actual.map(short), expected.writes.map(short),
    `device writes differ from torvanix-ctl apply of:\n${text.slice(0, 3000)}`);
  return actual;
}
