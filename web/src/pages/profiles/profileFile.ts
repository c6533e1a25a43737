// Profile files: the page's own JSON text, which the native side wraps in its container on
// SaveProfile and hands back unchanged on LoadProfile.
import { familyOf, sameIdentity } from '../../model/generations';

export const PROFILE_KIND = 'torvanix-profile';
export const PROFILE_FORMAT = 1;

export interface ProfileFile {
  kind: typeof PROFILE_KIND;
  format: number;
  // Suggested file name (the native side offers it in the save dialog).
  name: string;
  model: string;
  // The device identity the configuration was read from.
  device: string;
  profile: number;
  saved: string;
  // The configuration document of the profile.
  configuration: string;
}

// A file name with nothing that reaches another folder or that file systems refuse.
export function safeFileName(text: string): string {
  const printable = Array.from(text, (ch) => (ch.charCodeAt(0) < 32 ? ' ' : ch)).join('');
  const cleaned = printable
    .replace(/[\\/:*?"<>|]+/g, ' ')
    .replace(/\.{2,}/g, '.')
    .replace(/\s+/g, ' ')
    .replace(/^[.\s]+/, '')
    .trim();
  return cleaned.slice(0, 80) || 'profile';
}

export function buildProfileFile(options: {
  model: string;
  device: string;
  profile: number;
  configuration: string;
  name: string;
  now?: Date;
}): string {
  const file: ProfileFile = {
    kind: PROFILE_KIND,
    format: PROFILE_FORMAT,
    name: safeFileName(options.name),
    model: options.model,
    device: options.device,
    profile: options.profile,
    saved: (options.now ?? new Date()).toISOString(),
    configuration: options.configuration,
  };
  return JSON.stringify(file);
}

export type ProfileProblem = 'notJson' | 'notProfile' | 'newerFormat' | 'badConfiguration' | 'otherDevice';

export type ParsedProfile = { ok: true; file: ProfileFile; doc: XMLDocument } | { ok: false; problem: ProfileProblem; file?: ProfileFile };

export function usbIdOf(doc: XMLDocument): string {
  for (const el of Array.from(doc.documentElement.children))
    if (el.nodeName === 'key' && el.getAttribute('name') === 'UsbId') return el.getAttribute('value') ?? '';
  return '';
}

// Reads a loaded profile text and checks that it belongs to the device it is loaded into.
export function parseProfileFile(text: string, deviceIdentity: string): ParsedProfile {
  let data: unknown;
  try {
    data = JSON.parse(text);
  } catch {
    return { ok: false, problem: 'notJson' };
  }
  if (!data || typeof data !== 'object' || Array.isArray(data)) return { ok: false, problem: 'notProfile' };
  const o = data as Record<string, unknown>;
  if (o.kind !== PROFILE_KIND || typeof o.configuration !== 'string') return { ok: false, problem: 'notProfile' };
  if (typeof o.format !== 'number' || o.format > PROFILE_FORMAT) return { ok: false, problem: 'newerFormat' };
  const file: ProfileFile = {
    kind: PROFILE_KIND,
    format: o.format,
    name: typeof o.name === 'string' ? o.name : '',
    model: typeof o.model === 'string' ? o.model : '',
    device: typeof o.device === 'string' ? o.device : '',
    profile: typeof o.profile === 'number' && Number.isInteger(o.profile) && o.profile > 0 ? o.profile : 1,
    saved: typeof o.saved === 'string' ? o.saved : '',
    configuration: o.configuration,
  };
  const doc = new DOMParser().parseFromString(file.configuration, 'application/xml');
  if (
    !doc.documentElement ||
    doc.documentElement.nodeName !== 'configuration' ||
    doc.getElementsByTagName('parsererror').length
  )
    return { ok: false, problem: 'badConfiguration', file };
  const usbId = usbIdOf(doc);
  if (!usbId) return { ok: false, problem: 'badConfiguration', file };
  if (!sameIdentity(usbId, deviceIdentity) || (file.device && !sameIdentity(file.device, deviceIdentity)))
    return { ok: false, problem: 'otherDevice', file };
  return { ok: true, file, doc };
}

const HEADER = '<?xml version="1.0"?>';

function identityKeys(doc: XMLDocument, profile: number): string {
  const s = new XMLSerializer();
  const parts: string[] = [];
  for (const el of Array.from(doc.documentElement.children)) {
    if (el.nodeName !== 'key') continue;
    const name = el.getAttribute('name');
    if (name === 'UsbId') parts.push(s.serializeToString(el));
    if (name === 'CurProfile') {
      const c = el.cloneNode(false) as Element;
      c.setAttribute('value', String(profile));
      c.removeAttribute('action');
      parts.push(s.serializeToString(c));
    }
  }
  return parts.join('');
}

// The documents that write an imported configuration into `profile`. Each is the whole
// imported document (the translators read zone addresses, key numbers and the profile from it)
// with one setting marked `action="set"`: the translators act on the first marked element of
// their list only. Key assignments, each lighting zone's active effect, the DPI table and the
// parameters are written; identity, read-only and device-wide keys (firmware, serial, power,
// screen slots) are not.
export function importDocuments(doc: XMLDocument, profile: number): string[] {
  const s = new XMLSerializer();
  const identity = usbIdOf(doc);
  const base = doc.cloneNode(true) as XMLDocument;
  const root = base.documentElement;
  root.removeAttribute('action');
  for (const el of Array.from(root.getElementsByTagName('*'))) el.removeAttribute('action');
  for (const el of Array.from(root.children))
    if (el.nodeName === 'key' && el.getAttribute('name') === 'CurProfile') el.setAttribute('value', String(profile));

  // Paths (child positions from the root) of the elements to mark, one document per group.
  const groups: number[][][] = [];
  const pathOf = (el: Element): number[] => {
    const path: number[] = [];
    let node: Element = el;
    while (node !== root && node.parentElement) {
      path.unshift(Array.from(node.parentElement.children).indexOf(node));
      node = node.parentElement;
    }
    return path;
  };
  const assignments: number[][] = [];
  for (const el of Array.from(root.children)) {
    const tag = el.nodeName;
    if (tag === 'key') {
      // Assignments carry a function type; named settings and identity keys do not.
      if (el.getAttribute('type') && el.hasAttribute('task')) assignments.push(pathOf(el));
    } else if (tag === 'light' || tag === 'lightLeft') {
      const modes = Array.from(el.children).filter((m) => m.nodeName === 'mode');
      const active =
        modes.find((m) => m.getAttribute('index') === el.getAttribute('value')) ??
        modes.find((m) => m.getAttribute('name') === 'Default');
      if (active) groups.push([pathOf(active)]);
    } else if (tag === 'dpi') {
      // The mouse access library takes the table through its first level key.
      const first = Array.from(el.children).find((k) => k.nodeName === 'key');
      if (isLibraryMouse(identity) && first) groups.push([pathOf(first)]);
      else groups.push([pathOf(el)]);
    } else if (tag === 'parameters') {
      for (const key of Array.from(el.children)) if (key.nodeName === 'key') groups.push([pathOf(key)]);
    }
  }
  // The packet keyboard rewrites its whole key table from every key document, putting keys
  // not in it back to their defaults: its assignments travel together, or only the last stays.
  if (writesWholeKeyTable(identity)) {
    if (assignments.length) groups.unshift(assignments);
  } else {
    groups.unshift(...assignments.map((p) => [p]));
  }

  return groups.map((paths) => {
    const copy = base.cloneNode(true) as XMLDocument;
    for (const path of paths) {
      let el: Element = copy.documentElement;
      for (const i of path) el = el.children[i];
      el.setAttribute('action', 'set');
    }
    return `${HEADER}${s.serializeToString(copy.documentElement)}`;
  });
}

export function isLibraryMouse(identity: string): boolean {
  return familyOf(identity) === 'mouse-d3';
}

export function writesWholeKeyTable(identity: string): boolean {
  return familyOf(identity) === 'hfd';
}

// The document that resets the device (factory settings of the profile being edited).
export function resetDocument(template: XMLDocument, profile: number): string {
  return `${HEADER}<configuration action="reset">${identityKeys(template, profile)}</configuration>`;
}

// Identities made of USB vendor and product digits belong to devices driven through the access
// libraries or the packet keyboard; the profile byte is written only to the others.
export function writesProfileSlot(identity: string): boolean {
  return !/^[0-9a-f]{8}$/i.test(identity.trim());
}

export function profileSwitchDocument(template: XMLDocument, profile: number): string | null {
  for (const el of Array.from(template.documentElement.children)) {
    if (el.nodeName === 'key' && el.getAttribute('name') === 'CurProfile') {
      const c = el.cloneNode(false) as Element;
      c.setAttribute('value', String(profile));
      c.setAttribute('action', 'set');
      const usb = Array.from(template.documentElement.children).find(
        (k) => k.nodeName === 'key' && k.getAttribute('name') === 'UsbId',
      );
      if (!usb) return null;
      const s = new XMLSerializer();
      return `${HEADER}<configuration>${s.serializeToString(usb)}${s.serializeToString(c)}</configuration>`;
    }
  }
  return null;
}
