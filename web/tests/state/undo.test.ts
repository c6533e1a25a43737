import { signal } from '@preact/signals';
import { beforeEach, describe, expect, it } from 'vitest';
import { statusMessage } from '../../src/state/messages';
import { canUndo, clearUndo, commit, commitValue, undo, undoDepth, undoLabel } from '../../src/state/undo';

const ok = () => Promise.resolve();
const refuse = () => Promise.reject(new Error('no answer'));

beforeEach(() => {
  clearUndo();
  statusMessage.value = null;
});

describe('undo stack', () => {
  it('stacks confirmed reversible edits and undoes the newest first', async () => {
    const log: string[] = [];
    await commit({ label: 'A', apply: ok, revert: async () => void log.push('revert A') });
    await commit({ label: 'B', apply: ok, revert: async () => void log.push('revert B') });
    await commit({ label: 'Reset', apply: ok, revert: ok, reversible: false });
    expect(undoLabel.value).toBe('B');
    expect(await undo()).toBe(true);
    expect(await undo()).toBe(true);
    expect(await undo()).toBe(false);
    expect(log).toEqual(['revert B', 'revert A']);
    expect(canUndo.value).toBe(false);
  });

  it('does not stack an edit the device did not take, and says so', async () => {
    expect(await commit({ label: 'Key A', apply: refuse, revert: ok })).toBe(false);
    expect(undoDepth()).toBe(0);
    expect(statusMessage.value?.kind).toBe('error');
    expect(statusMessage.value?.text).toContain('Key A');
  });

  it('keeps an edit whose undo failed so it can be tried again', async () => {
    await commit({ label: 'DPI', apply: ok, revert: refuse });
    expect(await undo()).toBe(false);
    expect(undoDepth()).toBe(1);
  });

  it('runs edits and undos in the order they were made', async () => {
    const log: string[] = [];
    let release!: () => void;
    const slow = new Promise<void>((r) => (release = r));
    const first = commit({ label: '1', apply: () => slow.then(() => void log.push('apply 1')), revert: ok });
    const second = commit({ label: '2', apply: async () => void log.push('apply 2'), revert: ok });
    release();
    await Promise.all([first, second]);
    expect(log).toEqual(['apply 1', 'apply 2']);
  });

  it('forgets the history of one device only', async () => {
    await commit({ label: 'a', apply: ok, revert: ok, deviceId: 'x' });
    await commit({ label: 'b', apply: ok, revert: ok, deviceId: 'y' });
    clearUndo('x');
    expect(undoLabel.value).toBe('b');
    expect(undoDepth()).toBe(1);
  });
});

describe('commitValue', () => {
  it('shows the held value again when the device does not take the new one', async () => {
    const held = signal(800);
    const sent: number[] = [];
    const result = commitValue(held, 1600, 'Stage 2', async (v) => {
      sent.push(v);
      throw new Error('silent');
    });
    expect(held.value).toBe(1600); // shown while it travels
    expect(await result).toBe(false);
    expect(held.value).toBe(800);
    expect(sent).toEqual([1600]);
  });

  it('undoes by sending the earlier value', async () => {
    const held = signal(800);
    const sent: number[] = [];
    await commitValue(held, 1600, 'Stage 2', async (v) => void sent.push(v));
    await undo();
    expect(sent).toEqual([1600, 800]);
    expect(held.value).toBe(800);
  });
});
