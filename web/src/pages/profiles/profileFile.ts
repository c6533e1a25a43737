// Profile files: the page's own JSON text, which the native side wraps in its container on
// SaveProfile and hands back unchanged on LoadProfile.
import { familyOf, sameIdentity } from '../../model/generations';
import { identityOf } from '../../model/template';
import { type XmlElement, attr, cloneXml, findByName, hasAttr, makeElement, parseXml, removeAttr, setAttr, writeXml } from '../../model/xml';

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

export type ParsedProfile = { ok: true; file: ProfileFile; doc: XmlElement } | { ok: false; problem: ProfileProblem; file?: ProfileFile };

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
  let doc: XmlElement;
  try {
    doc = parseXml(file.configuration);
  } catch {
    return { ok: false, problem: 'badConfiguration', file };
  }
  if (doc.name !== 'configuration') return { ok: false, problem: 'badConfiguration', file };
  const usbId = identityOf(doc);
  if (!usbId) return { ok: false, problem: 'badConfiguration', file };
  if (!sameIdentity(usbId, deviceIdentity) || (file.device && !sameIdentity(file.device, deviceIdentity)))
    return { ok: false, problem: 'otherDevice', file };
  return { ok: true, file, doc };
}

// The identity and the profile, which every document to the device carries, in the order the
// model's document has them.
function identityKeys(template: XmlElement, profile: number, action: string | null): XmlElement[] {
  const keys: XmlElement[] = [];
  for (const el of template.children) {
    if (el.name !== 'key') continue;
    const name = attr(el, 'name');
    if (name === 'UsbId') keys.push(cloneXml(el));
    if (name === 'CurProfile') {
      const c = cloneXml(el);
      c.children = [];
      setAttr(c, 'value', String(profile));
      if (action) setAttr(c, 'action', action);
      else removeAttr(c, 'action');
      keys.push(c);
    }
  }
  return keys;
}

function withoutActions(el: XmlElement): void {
  removeAttr(el, 'action');
  for (const c of el.children) withoutActions(c);
}

// The documents that write an imported configuration into `profile`. Each is the whole
// imported document (the translators read zone addresses, key numbers and the profile from it)
// with one setting marked `action="set"`: the translators act on the first marked element of
// their list only. Key assignments, each lighting zone's active effect, the DPI table and the
// parameters are written; identity, read-only and device-wide keys (firmware, serial, power,
// screen slots) are not.
export function importDocuments(doc: XmlElement, profile: number): string[] {
  const identity = identityOf(doc);
  const base = cloneXml(doc);
  withoutActions(base);
  const cur = findByName(base, 'key', 'CurProfile');
  if (cur) setAttr(cur, 'value', String(profile));

  // Paths (child positions from the root) of the elements to mark, one document per group.
  const groups: number[][][] = [];
  const assignments: number[][] = [];
  base.children.forEach((el, i) => {
    const inside = (c: XmlElement) => [i, el.children.indexOf(c)];
    if (el.name === 'key') {
      // Assignments carry a function type; named settings and identity keys do not.
      if (attr(el, 'type') && hasAttr(el, 'task')) assignments.push([i]);
    } else if (el.name === 'light' || el.name === 'lightLeft') {
      const modes = el.children.filter((m) => m.name === 'mode');
      const active = modes.find((m) => attr(m, 'index') === attr(el, 'value')) ?? modes.find((m) => attr(m, 'name') === 'Default');
      if (active) groups.push([inside(active)]);
    } else if (el.name === 'dpi') {
      // The mouse access library takes the table through its first level key.
      const first = el.children.find((k) => k.name === 'key');
      if (isLibraryMouse(identity) && first) groups.push([inside(first)]);
      else groups.push([[i]]);
    } else if (el.name === 'parameters') {
      for (const key of el.children) if (key.name === 'key') groups.push([inside(key)]);
    }
  });
  // The packet keyboard rewrites its whole key table from every key document, putting keys
  // not in it back to their defaults: its assignments travel together, or only the last stays.
  if (writesWholeKeyTable(identity)) {
    if (assignments.length) groups.unshift(assignments);
  } else {
    groups.unshift(...assignments.map((p) => [p]));
  }

  return groups.map((paths) => {
    const copy = cloneXml(base);
    for (const path of paths) {
      let el = copy;
      for (const i of path) el = el.children[i];
      setAttr(el, 'action', 'set');
    }
    return writeXml(copy);
  });
}

export function isLibraryMouse(identity: string): boolean {
  return familyOf(identity) === 'mouse-d3';
}

export function writesWholeKeyTable(identity: string): boolean {
  return familyOf(identity) === 'hfd';
}

// The document that resets the device (factory settings of the profile being edited).
export function resetDocument(template: XmlElement, profile: number): string {
  const root = makeElement('configuration', { action: 'reset' });
  root.children = identityKeys(template, profile, null);
  return writeXml(root);
}

// The settings' profile rules need it too, so it lives with the profile state.
export { writesProfileSlot } from '../../state/profiles';

export function profileSwitchDocument(template: XmlElement, profile: number): string | null {
  if (!findByName(template, 'key', 'CurProfile') || !findByName(template, 'key', 'UsbId')) return null;
  const root = makeElement('configuration', {});
  root.children = identityKeys(template, profile, 'set');
  return writeXml(root);
}
