// Lighting sync: one document that gives every device with its own access library an effect
// and a colour at once. Only those devices can follow; the program skips any other identity.
import { makeElement, writeXml, type XmlElement } from '../../model/xml';
import { normaliseIdentity } from '../../model/generations';

export const MOUSE = '258A002E';
export const KEYBOARD = '05AC024F';
const FOLLOWERS = [MOUSE, KEYBOARD];

// 0 leaves the device as it is, 1 is a steady colour, higher numbers are the device's effects.
export const SYNC_CHOICES = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9];

export interface SyncChoice {
  sync: number;
  rgb: string; // six hex digits, red first
}

export interface SyncEntry {
  identity: string;
  name: string;
  choice: SyncChoice;
}

export const DEFAULT_CHOICE: SyncChoice = { sync: 1, rgb: 'ff0000' };

export function canFollow(identity: string): boolean {
  return FOLLOWERS.indexOf(normaliseIdentity(identity)) >= 0;
}

// Whether the device shows the chosen colour: always with a steady colour; with an effect
// only the keyboard takes one, the mouse plays its effects in its own colours.
export function colourReaches(identity: string, sync: number): boolean {
  if (sync === 1) return true;
  return sync > 1 && normaliseIdentity(identity) === KEYBOARD;
}

function validChoice(c: unknown): c is SyncChoice {
  if (!c || typeof c !== 'object') return false;
  const { sync, rgb } = c as Record<string, unknown>;
  return typeof sync === 'number' && SYNC_CHOICES.indexOf(sync) >= 0 && typeof rgb === 'string' && /^[0-9a-f]{6}$/.test(rgb);
}

export function syncDocument(entries: SyncEntry[]): string {
  const devices: XmlElement = makeElement('devices', {});
  for (const e of entries) {
    if (!canFollow(e.identity) || !validChoice(e.choice)) continue;
    devices.children.push(
      makeElement('device', {
        name: e.name,
        version: normaliseIdentity(e.identity),
        sync: String(e.choice.sync),
        rgb: e.choice.rgb,
      }),
    );
  }
  const root = makeElement('configuration', {});
  root.children.push(makeElement('key', { name: 'UsbId', value: 'SYNC' }), devices);
  return writeXml(root);
}

// What was last sent per identity is kept by the page: the devices cannot be asked for it.
const STORAGE_KEY = 'torvanix.sync';

export function parseChoices(text: string | null): Record<string, SyncChoice> {
  const out: Record<string, SyncChoice> = {};
  if (!text) return out;
  try {
    const data = JSON.parse(text) as unknown;
    if (!data || typeof data !== 'object' || Array.isArray(data)) return out;
    for (const [id, c] of Object.entries(data as Record<string, unknown>))
      if (canFollow(id) && validChoice(c)) out[normaliseIdentity(id)] = { sync: c.sync, rgb: c.rgb };
  } catch {
    // a damaged entry starts from the defaults
  }
  return out;
}

export function loadChoices(): Record<string, SyncChoice> {
  try {
    return parseChoices(localStorage.getItem(STORAGE_KEY));
  } catch {
    return {};
  }
}

export function saveChoices(choices: Record<string, SyncChoice>): void {
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify(choices));
  } catch {
    // kept for this session only
  }
}
