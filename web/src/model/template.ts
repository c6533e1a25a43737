// A model template (the starting configuration document of one model) read into the parts the
// pages show. The document itself stays the source of truth: every view here is read from it,
// and edits produce a new document (see builders.ts).
import { FAMILY_TRAITS, Family, FamilyTraits, familyOf } from './generations';
import { XmlElement, attr, child, childrenNamed, findByName, parseXml } from './xml';

export type ZoneName = 'light' | 'lightLeft';
export const ZONES: ZoneName[] = ['light', 'lightLeft'];

export interface KeyDef {
  /** `Button<n>`: the element's name, unique in the document. */
  name: string;
  label: string;
  index: string;
  rc: number | null;
  nc: number | null;
  row: number;
  col: number;
  type: string;
  task: string;
  /** The key's own function (what "restore default" brings back). */
  value: string;
}

export interface EffectKey {
  name: string;
  value: string;
  kind: string;
}

export interface PerKeyEntry {
  name: string;
  rc: number | null;
  rgb: string;
}

export interface ZoneView {
  zone: ZoneName;
  /** The effect number of the preset mode (its `index`). */
  effect: number;
  keys: EffectKey[];
  perKey: PerKeyEntry[] | null;
  perKeyIndex: number | null;
}

export interface DpiLevel {
  name: string;
  x: number;
  y: number;
  rgb: string;
}

export interface DpiView {
  current: number;
  levels: DpiLevel[];
}

export interface MacroRow {
  name: string;
  index: string;
  text: string;
}

export class TemplateError extends Error {}

function num(text: string): number | null {
  if (!/^-?\d+$/.test(text.trim())) return null;
  return parseInt(text, 10);
}

export function readTemplate(text: string): XmlElement {
  let root: XmlElement;
  try {
    root = parseXml(text);
  } catch (e) {
    throw new TemplateError(`unreadable model template: ${(e as Error).message}`);
  }
  if (root.name !== 'configuration' || !identityOf(root)) throw new TemplateError('not a model template');
  return root;
}

export function identityOf(doc: XmlElement): string {
  return attr(findByName(doc, 'key', 'UsbId'), 'value');
}

export function familyOfDoc(doc: XmlElement): Family {
  return familyOf(identityOf(doc));
}

export function traitsOf(doc: XmlElement): FamilyTraits {
  return FAMILY_TRAITS[familyOfDoc(doc)];
}

export function modelName(doc: XmlElement): string {
  return attr(doc, 'model');
}

export function isMouse(doc: XmlElement): boolean {
  return attr(doc, 'Ver').charAt(0) === 'M';
}

export function currentProfile(doc: XmlElement): number {
  return num(attr(findByName(doc, 'key', 'CurProfile'), 'value')) || 1;
}

export function keysOf(doc: XmlElement): KeyDef[] {
  return childrenNamed(doc, 'key')
    .filter((k) => /^Button\d+$/.test(attr(k, 'name')))
    .map((k) => ({
      name: attr(k, 'name'),
      label: attr(k, 'label'),
      index: attr(k, 'index'),
      rc: num(attr(k, 'rc')),
      nc: num(attr(k, 'nc')),
      row: num(attr(k, 'r')) || 0,
      col: num(attr(k, 'c')) || 0,
      type: attr(k, 'type'),
      task: attr(k, 'task'),
      value: attr(k, 'value'),
    }));
}

export function macrosOf(doc: XmlElement): MacroRow[] {
  return childrenNamed(doc, 'key')
    .filter((k) => /^命令\d+$/.test(attr(k, 'name')))
    .map((k) => ({ name: attr(k, 'name'), index: attr(k, 'index'), text: attr(k, 'value') }));
}

export function zoneView(doc: XmlElement, zone: ZoneName): ZoneView | null {
  const z = child(doc, zone);
  if (!z) return null;
  const preset = findByName(z, 'mode', 'Default');
  const lightUp = findByName(z, 'mode', 'LightUp');
  return {
    zone,
    effect: num(attr(preset, 'index')) ?? 0,
    keys: childrenNamed(preset, 'key').map((k) => ({ name: attr(k, 'name'), value: attr(k, 'value'), kind: attr(k, 'type') })),
    perKey: lightUp
      ? childrenNamed(lightUp, 'key').map((k) => ({ name: attr(k, 'name'), rc: num(attr(k, 'rc')), rgb: attr(k, 'rgb').toLowerCase() }))
      : null,
    perKeyIndex: lightUp ? num(attr(lightUp, 'index')) : null,
  };
}

export function effectValue(view: ZoneView, name: string): string | null {
  const k = view.keys.find((e) => e.name === name);
  return k ? k.value : null;
}

export function dpiView(doc: XmlElement): DpiView | null {
  const d = child(doc, 'dpi');
  if (!d) return null;
  return {
    current: num(attr(d, 'current')) ?? 1,
    levels: childrenNamed(d, 'key').map((k) => ({
      name: attr(k, 'name'),
      x: num(attr(k, 'x')) ?? 0,
      y: num(attr(k, 'y')) ?? 0,
      rgb: attr(k, 'rgb'),
    })),
  };
}

export interface ParameterView {
  name: string;
  value: string;
}

export function parametersOf(doc: XmlElement): ParameterView[] {
  return childrenNamed(child(doc, 'parameters'), 'key').map((k) => ({ name: attr(k, 'name'), value: attr(k, 'value') }));
}

/** A named top-level setting (`SensorAltitude`, `DpiCount`, `Power` ...), or null. */
export function settingValue(doc: XmlElement, name: string): string | null {
  const k = findByName(doc, 'key', name);
  return k ? attr(k, 'value') : null;
}

export const HEX_COLOUR = /^[0-9a-fA-F]{6}$/;

// Names that begin a row of keys, for per-key colour lists of models without key rows.
const ROW_STARTS = ['ESC', 'Esc', '`', 'TAB', 'Tab', 'CAPSLOCK', 'CapsLock', 'LSHIFT', 'LCTRL'];

/** The keys that can be painted in a zone's per-key mode: the model's keys that have a colour
 *  entry, or, for a model without key rows (the notebook), keys made from the entries in the
 *  order of a keyboard's rows. */
export function paintableKeys(doc: XmlElement, zone: ZoneName): KeyDef[] {
  const view = zoneView(doc, zone);
  if (!view || !view.perKey) return [];
  const rcs = new Set(view.perKey.map((e) => e.rc).filter((rc): rc is number => rc !== null));
  const own = keysOf(doc).filter((k) => k.rc !== null && rcs.has(k.rc));
  if (own.length) return own;
  let row = -1;
  let col = 0;
  return view.perKey
    .filter((e) => e.rc !== null)
    .map((e) => {
      if (row < 0 || ROW_STARTS.indexOf(e.name) >= 0) {
        row++;
        col = 0;
      }
      return { name: `Light${e.rc}`, label: '', index: '', rc: e.rc, nc: null, row, col: col++, type: '', task: e.name, value: e.name };
    });
}

function holdsKey(el: XmlElement, test: (name: string) => boolean): boolean {
  return el.children.some((c) => (c.name === 'key' && test(attr(c, 'name'))) || holdsKey(c, test));
}

const PERFORMANCE_KEYS = ['DpiCount', 'DpiCurrent', 'SensorAltitude', 'Power', 'Hibernate', 'MoveLightSwitch'];

/** What a model's document offers: the pages ask this instead of reading the text. */
export interface Features {
  keys: boolean;
  /** A lighting zone whose family's translator sends lighting at all. */
  lighting: boolean;
  performance: boolean;
  /** Macro slots the family writes. */
  macros: boolean;
  screen: boolean;
  /** A lighting brightness, which the music can drive. */
  music: boolean;
}

export function featuresOf(doc: XmlElement): Features {
  const traits = traitsOf(doc);
  return {
    keys: holdsKey(doc, (n) => /^Button\d+$/.test(n)),
    lighting: ZONES.some((z) => !!child(doc, z)) && !!traits.lighting,
    performance: !!child(doc, 'dpi') || !!child(doc, 'parameters') || holdsKey(doc, (n) => PERFORMANCE_KEYS.indexOf(n) >= 0),
    macros: traits.assign.indexOf('macro') >= 0 && holdsKey(doc, (n) => /^命令\d+$/.test(n)),
    screen: holdsKey(doc, (n) => n === 'GlobalScreen'),
    music: holdsKey(doc, (n) => n === 'LightBrightness'),
  };
}

export type DeviceKind = 'keyboard' | 'mouse' | 'notebook';

// What kind of device a template describes: a second lighting zone means the notebook, a DPI
// table or a handful of buttons a mouse, anything else a keyboard.
export function deviceKindOf(doc: XmlElement): DeviceKind {
  const holds = (el: XmlElement, tag: string): boolean => el.children.some((c) => c.name === tag || holds(c, tag));
  if (holds(doc, 'lightLeft')) return 'notebook';
  if (holds(doc, 'dpi')) return 'mouse';
  let buttons = 0;
  let dpiKeys = 0;
  for (const el of doc.children) {
    const name = attr(el, 'name');
    if (/^Button\d+$/.test(name)) buttons++;
    if (/^Dpi(Count|Current)$/.test(name)) dpiKeys++;
  }
  return dpiKeys > 0 || (buttons > 0 && buttons <= 12) ? 'mouse' : 'keyboard';
}
