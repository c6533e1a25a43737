import { signal } from '@preact/signals';

// The short texts the status area announces (a polite live region) and the count of
// operations the page is waiting for.
export type MessageKind = 'info' | 'success' | 'error';

export interface StatusMessage {
  id: number;
  kind: MessageKind;
  text: string;
}

export const statusMessage = signal<StatusMessage | null>(null);
export const busyCount = signal(0);

let nextId = 1;

// Texts are already translated by the caller; the same text twice is announced twice.
export function showMessage(text: string, kind: MessageKind = 'info'): void {
  statusMessage.value = { id: nextId++, kind, text };
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
