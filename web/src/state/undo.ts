import { computed, signal, type Signal } from '@preact/signals';
import { showMessage } from './messages';

// The commit model. A change goes to the device as soon as its control settles; `apply`
// resolves only once the device has confirmed it (or the caller knows it landed), and
// rejects otherwise. Confirmed reversible edits can be taken back, newest first.

export interface Edit {
  // Names the change in the user's language ("Key A", "DPI stage 2").
  label: string;
  apply: () => Promise<void>;
  revert: () => Promise<void>;
  // False for changes that cannot be taken back (a reset); they are never stacked.
  reversible?: boolean;
  // The device the edit belongs to, so that its history can go when the device does.
  deviceId?: string;
}

export interface UndoTexts {
  failed: (label: string) => string;
  undone: (label: string) => string;
  undoFailed: (label: string) => string;
}

const englishTexts: UndoTexts = {
  failed: (label) => `${label}: the device did not take the change`,
  undone: (label) => `Undone: ${label}`,
  undoFailed: (label) => `${label}: could not be undone`,
};
let texts: UndoTexts = englishTexts;

// The shell hands over translated texts once the dictionaries are loaded.
export function setUndoTexts(t: UndoTexts): void {
  texts = t;
}

export const MAX_UNDO = 100;

const stack = signal<Edit[]>([]);
export const canUndo = computed(() => stack.value.length > 0);
export const undoLabel = computed(() => {
  const s = stack.value;
  return s.length ? s[s.length - 1].label : null;
});
export const pendingEdits = signal(0);

// Edits and undos reach the device in the order the user made them.
let chain: Promise<unknown> = Promise.resolve();
function serial<T>(work: () => Promise<T>): Promise<T> {
  pendingEdits.value += 1;
  const run = chain.then(work, work);
  chain = run.then(
    () => undefined,
    () => undefined,
  );
  const done = () => {
    pendingEdits.value -= 1;
  };
  run.then(done, done);
  return run;
}

// Runs the edit; true when the device took it. A failure leaves the stack as it was and says
// so in the status area.
export function commit(edit: Edit): Promise<boolean> {
  return serial(async () => {
    try {
      await edit.apply();
    } catch {
      showMessage(() => texts.failed(edit.label), 'error');
      return false;
    }
    if (edit.reversible !== false) {
      const next = stack.value.concat(edit);
      stack.value = next.length > MAX_UNDO ? next.slice(next.length - MAX_UNDO) : next;
    }
    return true;
  });
}

// Takes back the newest edit. If the device refuses, the edit stays on the stack (the device
// still holds it) and can be tried again.
export function undo(): Promise<boolean> {
  return serial(async () => {
    const s = stack.value;
    const edit = s[s.length - 1];
    if (!edit) return false;
    try {
      await edit.revert();
    } catch {
      showMessage(() => texts.undoFailed(edit.label), 'error');
      return false;
    }
    // Only this entry goes: edits committed meanwhile stay.
    stack.value = stack.value.filter((e) => e !== edit);
    showMessage(() => texts.undone(edit.label), 'info');
    return true;
  });
}

export function clearUndo(deviceId?: string): void {
  stack.value = deviceId === undefined ? [] : stack.value.filter((e) => e.deviceId !== deviceId);
}

export function undoDepth(): number {
  return stack.value.length;
}

// A value the device holds, changed through the commit model: the signal shows the new value
// while it is being sent and falls back to the held one when the device does not take it.
export function commitValue<T>(
  held: Signal<T>,
  next: T,
  label: string,
  send: (value: T) => Promise<void>,
  options: { deviceId?: string; equals?: (a: T, b: T) => boolean } = {},
): Promise<boolean> {
  const before = held.peek();
  const same = options.equals ?? ((a: T, b: T) => a === b);
  if (same(before, next)) return Promise.resolve(true);
  held.value = next;
  const set = async (value: T, other: T) => {
    try {
      await send(value);
      held.value = value;
    } catch (e) {
      held.value = other;
      throw e;
    }
  };
  return commit({
    label,
    deviceId: options.deviceId,
    apply: () => set(next, before),
    revert: () => set(before, next),
  });
}
