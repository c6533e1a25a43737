import { signal } from '@preact/signals';
import type { ComponentType } from 'preact';
import type { Device } from '../state/devices';
import type { ModelTemplate } from '../state/templates';
import type { TextKey } from '../i18n';

// The page tabs. Every folder here with an index.ts(x) that exports `page` is a tab; tabs are
// ordered by `order`. A page decides from the template whether the device has anything for it.

export interface PageProps {
  device: Device;
  template: ModelTemplate;
}

export interface PageDefinition {
  // Stable id, also the tab's id suffix ("keys", "lighting", "performance", "profiles").
  id: string;
  // Dictionary key of the tab's name.
  titleKey: TextKey;
  order: number;
  component: ComponentType<PageProps>;
  // Whether the tab is shown for this device; shown for every device when absent.
  available?: (template: ModelTemplate, device: Device) => boolean;
}

// The pages are loaded apart from the shell: the window chrome and the device bar come up
// while they load, which happens while the device list is still being asked for.
const loaders = import.meta.glob<{ page?: PageDefinition }>('./*/index.{ts,tsx}');

export const pages = signal<PageDefinition[]>([]);
export const pagesStatus = signal<'idle' | 'loading' | 'ready' | 'error'>('idle');

let loading: Promise<void> | null = null;

export function loadPages(): Promise<void> {
  if (loading) return loading;
  pagesStatus.value = 'loading';
  loading = Promise.all(Object.values(loaders).map((load) => load())).then(
    (modules) => {
      pages.value = modules
        .map((m) => m.page)
        .filter((p): p is PageDefinition => !!p)
        .sort((a, b) => a.order - b.order);
      pagesStatus.value = 'ready';
    },
    (e: unknown) => {
      console.error('the settings pages could not be loaded', e);
      loading = null;
      pagesStatus.value = 'error';
    },
  );
  return loading;
}

export function pagesFor(template: ModelTemplate, device: Device): PageDefinition[] {
  return pages.value.filter((p) => !p.available || p.available(template, device));
}
