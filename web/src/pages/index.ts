import type { ComponentType } from 'preact';
import type { Device } from '../state/devices';
import type { ModelTemplate } from '../state/templates';

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
  titleKey: string;
  order: number;
  component: ComponentType<PageProps>;
  // Whether the tab is shown for this device; shown for every device when absent.
  available?: (template: ModelTemplate, device: Device) => boolean;
}

const modules = import.meta.glob<{ page?: PageDefinition }>('./*/index.{ts,tsx}', { eager: true });

export const pages: PageDefinition[] = Object.values(modules)
  .map((m) => m.page)
  .filter((p): p is PageDefinition => !!p)
  .sort((a, b) => a.order - b.order);

export function pagesFor(template: ModelTemplate, device: Device): PageDefinition[] {
  return pages.filter((p) => !p.available || p.available(template, device));
}
