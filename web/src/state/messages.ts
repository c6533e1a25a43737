import { signal } from '@preact/signals';

// The short texts the status area announces (a polite live region) and the count of
// operations the page is waiting for.
export type MessageKind = 'info' | 'success' | 'error';

export interface StatusMessage {
  id: number;
  kind: MessageKind;
  readonly text: string;
}

export const statusMessage = signal<StatusMessage | null>(null);
export const busyCount = signal(0);

let nextId = 1;

// A text given as a function is translated whenever it is shown, so a message stays in the
// page's language after a switch; the same text twice is announced twice.
export function showMessage(text: string | (() => string), kind: MessageKind = 'info'): void {
  const render = typeof text === 'function' ? text : () => text;
  statusMessage.value = {
    id: nextId++,
    kind,
    get text() {
      return render();
    },
  };
}

export function clearMessage(): void {
  statusMessage.value = null;
}

// Counts the promise as work in progress until it settles; returns it unchanged.
export function trackBusy<T>(work: Promise<T>): Promise<T> {
  busyCount.value += 1;
  const done = () => {
    busyCount.value = Math.max(0, busyCount.value - 1);
  };
  work.then(done, done);
  return work;
}
