import { signal } from '@preact/signals';
import { type XmlElement, attr, findByName } from '../model/xml';
import type { Device } from './devices';

// The profile being edited on each device (counted from 1). Every document the pages send
// carries it as `CurProfile`.
export const currentProfiles = signal<Record<string, number>>({});

export function profileOf(deviceId: string): number {
  return currentProfiles.value[deviceId] ?? 1;
}

// Identities made of USB vendor and product digits belong to devices driven through the access
// libraries or the packet keyboard; the profile byte is written only to the others.
export function writesProfileSlot(identity: string): boolean {
  return !/^[0-9a-f]{8}$/i.test(identity.trim());
}

// The profile a template names as current (`CurProfile`), used until the user picks one.
export function adoptTemplateProfile(deviceId: string, template: XmlElement): void {
  if (currentProfiles.peek()[deviceId] !== undefined) return;
  const cur = findByName(template, 'key', 'CurProfile');
  if (!cur) return;
  const n = Number(attr(cur, 'value'));
  if (Number.isInteger(n) && n >= 1 && n <= 16) setProfileOf(deviceId, n);
}

export function setProfileOf(deviceId: string, profile: number): void {
  currentProfiles.value = { ...currentProfiles.value, [deviceId]: profile };
}

// How many profiles the device has: the record's count, else the template's, else one.
export function profileCount(device: Device, template?: XmlElement): number {
  const fromRecord = Number(device.record.ProfileCount);
  if (Number.isInteger(fromRecord) && fromRecord > 0 && fromRecord <= 16) return fromRecord;
  const counted = template?.children.find((el) => attr(el, 'name') === 'CountProfile');
  if (counted) {
    const n = Number(attr(counted, 'value'));
    if (Number.isInteger(n) && n > 0 && n <= 16) return n;
  }
  return 1;
}

// What the pages know of a profile's settings, as a configuration document. The device pages
// register the source that tracks their edits; without one the model's template is used.
export type ConfigurationSource = (device: Device, templateText: string, profile: number) => string | null;
let source: ConfigurationSource | null = null;

export function setConfigurationSource(fn: ConfigurationSource | null): void {
  source = fn;
}

export function currentConfiguration(device: Device, templateText: string, profile: number): string {
  return (source && source(device, templateText, profile)) || templateText;
}

// Told when an imported or reset configuration replaces what the pages show.
export type ConfigurationListener = (deviceId: string, doc: XmlElement | null, profile: number) => void;
const listeners = new Set<ConfigurationListener>();

export function onConfigurationReplaced(fn: ConfigurationListener): () => void {
  listeners.add(fn);
  return () => {
    listeners.delete(fn);
  };
}

export function configurationReplaced(deviceId: string, doc: XmlElement | null, profile: number): void {
  for (const fn of Array.from(listeners)) {
    try {
      fn(deviceId, doc, profile);
    } catch (e) {
      console.error('configuration listener failed', e);
    }
  }
}
