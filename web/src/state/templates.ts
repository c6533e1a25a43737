import { signal } from '@preact/signals';
import { native, type NativeClient } from '../native/client';
import { trackBusy } from './messages';

// A model's starting configuration document, fetched once per name with GetLocalConf.
export interface ModelTemplate {
  name: string;
  text: string;
  // Parsed once; treat as read-only (clone it before changing anything).
  doc: XMLDocument;
  // The display name: the root's `model` attribute.
  model: string;
}

export type TemplateState =
  | { status: 'loading' }
  | { status: 'ready'; template: ModelTemplate }
  // The program has no template of that name: the device cannot be configured here.
  | { status: 'missing' }
  | { status: 'error' };

export const templates = signal<Record<string, TemplateState>>({});

const pending = new Map<string, Promise<ModelTemplate | null>>();

export function parseTemplate(name: string, text: string): ModelTemplate | null {
  if (!text.trim()) return null;
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  const root = doc.documentElement;
  if (!root || root.nodeName !== 'configuration' || doc.getElementsByTagName('parsererror').length)
    return null;
  return { name, text, doc, model: root.getAttribute('model') ?? '' };
}

function setState(name: string, state: TemplateState): void {
  templates.value = { ...templates.value, [name]: state };
}

// The template named by a device record's Version. A failed request is not cached, so a later
// call asks again; a missing template is remembered.
export function loadTemplate(name: string, client: NativeClient = native): Promise<ModelTemplate | null> {
  const known = pending.get(name);
  if (known) return known;
  setState(name, { status: 'loading' });
  const work = trackBusy(client.request('GetLocalConf', { Name: name })).then(
    (text) => {
      const template = parseTemplate(name, text);
      setState(name, template ? { status: 'ready', template } : { status: 'missing' });
      return template;
    },
    (e: unknown) => {
      pending.delete(name);
      setState(name, { status: 'error' });
      throw e;
    },
  );
  pending.set(name, work);
  return work;
}

export function templateState(name: string): TemplateState | undefined {
  return templates.value[name];
}

// Test support: forget everything fetched.
export function resetTemplates(): void {
  pending.clear();
  templates.value = {};
}
