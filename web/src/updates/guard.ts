import { signal } from '@preact/signals';
import type { ComponentType } from 'preact';

// Kept apart from the update code so that the window chrome can ask without loading it.

// The name of the device whose firmware is being written; closing waits until it is done.
export const closeBlockedBy = signal<string | null>(null);

// The update's progress window, shown above every page (the device may leave the list while
// its firmware is written). Set by the update pages when they load.
export const updateHost = signal<ComponentType | null>(null);
