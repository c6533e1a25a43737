import { describe, expect, it } from 'vitest';
import { NativeError } from '../../src/native/client';
import { latestDialog } from '../../src/ui/fileDialog';

function later<T>() {
  let resolve!: (v: T) => void;
  let reject!: (e: unknown) => void;
  const promise = new Promise<T>((a, b) => {
    resolve = a;
    reject = b;
  });
  return { promise, resolve, reject };
}

describe('file dialog answers', () => {
  it('drops an earlier call answered after a later one, and a dialog closed unanswered', async () => {
    const ask = latestDialog();
    const first = later<string>();
    const second = later<string>();
    const a = ask(() => first.promise);
    const b = ask(() => second.promise);
    second.resolve('b.png');
    first.resolve('a.png');
    expect(await a).toBeNull();
    expect(await b).toEqual({ ok: true, value: 'b.png' });

    expect(await ask(() => Promise.reject(new NativeError('timeout', 'OpenFileDialog', 0, '')))).toBeNull();
    expect(await ask(() => Promise.reject(new NativeError('unavailable', 'OpenFileDialog', 0, '')))).toEqual({ ok: false, kind: 'unavailable' });
    expect(await ask(() => Promise.reject(new Error('x')))).toEqual({ ok: false, kind: 'other' });

    // A failure of a call already overtaken says nothing either.
    const stale = later<string>();
    const c = ask(() => stale.promise);
    const d = ask(() => Promise.resolve('d'));
    stale.reject(new NativeError('failure', 'OpenFileDialog', 1, ''));
    expect(await c).toBeNull();
    expect(await d).toEqual({ ok: true, value: 'd' });
  });
});
