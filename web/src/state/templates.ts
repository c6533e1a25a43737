import { signal } from '@preact/signals';
import { type Features, featuresOf, modelName } from '../model/template';
import { type XmlElement, parseXml } from '../model/xml';
import { native, type NativeClient } from '../native/client';
import { trackBusy } from './messages';

// A model's starting configuration document, fetched once per name with GetLocalConf.
export interface ModelTemplate {
  name: string;
  text: string;
  // Read once into the model; treat as read-only (clone it before changing anything).
  root: XmlElement;
  // What the model offers, which decides the pages shown for it.
  features: Features;
  // The display name: the root's `model` attribute.
  model: string;
  /** @deprecated The same document on the browser's DOM, made on first use for callers not
   *  yet moved to `root`. */
  readonly doc: XMLDocument;
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
  let root: XmlElement;
  try {
    root = parseXml(text);
  } catch {
    return null;
  }
  if (root.name !== 'configuration') return null;
  let dom: XMLDocument | null = null;
  return {
    name,
    text,
    root,
    features: featuresOf(root),
    model: modelName(root),
    get doc() {
      if (!dom) dom = new DOMParser().parseFromString(text, 'application/xml');
      return dom;
    },
  };
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
