import { useRef } from 'preact/hooks';
import { type FailureKind, NativeError } from '../native/client';

// A file dialog the user cancels never answers (the request times out), and a newer request
// makes an older one moot: only the latest call's answer or failure is worth showing.
export type DialogOutcome<T> = { ok: true; value: T } | { ok: false; kind: FailureKind | 'other' };

export type DialogAsker = <T>(request: () => Promise<T>) => Promise<DialogOutcome<T> | null>;

/** An asker whose answers are null when a later call was made, or the dialog closed unanswered. */
export function latestDialog(): DialogAsker {
  let turn = 0;
  return async <T>(request: () => Promise<T>) => {
    const mine = ++turn;
    try {
      const value = await request();
      return mine === turn ? { ok: true as const, value } : null;
    } catch (e) {
      if (mine !== turn) return null;
      const kind = e instanceof NativeError ? e.kind : 'other';
      return kind === 'timeout' ? null : { ok: false as const, kind };
    }
  };
}

/** One asker for the component's life. */
export function useLatestDialog(): DialogAsker {
  const asker = useRef<DialogAsker | null>(null);
  if (!asker.current) asker.current = latestDialog();
  return asker.current;
}
