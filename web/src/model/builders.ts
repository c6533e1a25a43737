// Edits of a device document and the configuration documents that carry them to the device.
//
// Every document sent is the whole current document with `action` on exactly the elements the
// edit concerns. The translators need the rest: the packet keyboard rebuilds its whole key table
// and colour table from the document, the D2.0 screen parameters write three values together,
// and the library mouse takes the whole DPI table. A translator acts on the first marked element
// it tests for, so a change that needs several writes becomes several documents, sent in order.
import { Family, FAMILY_TRAITS, familyOf } from './generations';
import { MacroRow, ZoneName, HEX_COLOUR, identityOf, keysOf, macrosOf } from './template';
import { XmlElement, attr, child, childrenNamed, cloneXml, findByName, makeElement, removeAttr, setAttr, writeXml } from './xml';

export interface Change {
  /** The document as the device holds it once the change has been written. */
  doc: XmlElement;
  /** Configuration documents to send with `NoticeModify`, in order. */
  documents: string[];
  /** The packet keyboard's whole macro table (`MacroArr`), sent with `NoticeMacoModify`
   *  before the documents. */
  macroTable?: string;
}

export class EditError extends Error {}

function stripActions(el: XmlElement): void {
  removeAttr(el, 'action');
  el.children.forEach(stripActions);
}

/** A copy of the document with every action removed, ready to be marked. */
function working(doc: XmlElement): XmlElement {
  const d = cloneXml(doc);
  stripActions(d);
  return d;
}

function familyOfDoc(doc: XmlElement): Family {
  return familyOf(identityOf(doc));
}

/** The document text with the given elements (found by path in the copy) marked. */
function marked(doc: XmlElement, mark: (d: XmlElement) => void): string {
  const d = working(doc);
  mark(d);
  return writeXml(d);
}

function need<T>(v: T | undefined | null, what: string): T {
  if (v === undefined || v === null) throw new EditError(`${what} is not in this model's document`);
  return v;
}

// ---- keys ----

export type Assignment =
  | { kind: 'keyboard'; key: string }
  | { kind: 'combo'; combination: string }
  | { kind: 'mouse' | 'media' | 'dpi'; task: string }
  | { kind: 'disable' }
  | { kind: 'macro'; macro: MacroRow };

/** The `type` a disabled key carries: no table row answers it, so the D2.0 encoders write an
 *  empty function (0,0,0,0) into an otherwise valid record. */
export const DISABLED_TYPE = 'DISABLED';

interface KeyAttrs {
  type: string;
  task: string;
  extra?: Record<string, string>;
}

function keyAttrs(family: Family, a: Assignment): KeyAttrs {
  switch (a.kind) {
    case 'keyboard':
      return { type: 'KEYBOARD', task: a.key };
    case 'combo':
      return { type: 'HOTKEY', task: a.combination };
    case 'mouse':
    case 'dpi':
      return { type: 'MOUSE', task: a.task };
    case 'media':
      return { type: 'MEDIA', task: a.task };
    case 'disable':
      return { type: DISABLED_TYPE, task: DISABLED_TYPE };
    case 'macro':
      if (!a.macro.text && family !== 'hfd') throw new EditError('the macro is empty');
      // The packet keyboard names a macro by its place in its macro table; the D2.0 records
      // carry the macro text itself ("Macro" spelt so selects the inline record).
      if (family === 'hfd') return { type: 'MACRO', task: a.macro.index, extra: { count: '1', delay: '0' } };
      return { type: family === 'generic-d2' ? 'Macro' : 'MACRO', task: a.macro.text };
  }
}

export function assignmentAllowed(family: Family, a: Assignment): boolean {
  return FAMILY_TRAITS[family].assign.indexOf(a.kind === 'combo' ? 'combo' : a.kind) >= 0;
}

export function assignKey(doc: XmlElement, button: string, a: Assignment): Change {
  const family = familyOfDoc(doc);
  if (!assignmentAllowed(family, a)) throw new EditError(`${a.kind} assignments do not reach this device`);
  const next = working(doc);
  const key = need(findByName(next, 'key', button), button);
  const { type, task, extra } = keyAttrs(family, a);
  setAttr(key, 'type', type);
  setAttr(key, 'task', task);
  if (extra) for (const k of Object.keys(extra)) setAttr(key, k, extra[k]);
  const documents = [marked(next, (d) => setAttr(need(findByName(d, 'key', button), button), 'action', 'set'))];
  return { doc: next, documents };
}

/** The key's own function again: "delete" clears the slot on the D2.0 devices and restores the
 *  default (`value`) on the library and packet keyboards. */
export function restoreKey(doc: XmlElement, button: string, template: XmlElement): Change {
  const original = need(findByName(template, 'key', button), button);
  const next = working(doc);
  const key = need(findByName(next, 'key', button), button);
  for (const name of ['type', 'task', 'count', 'delay']) {
    const v = attr(original, name);
    if (v || name === 'type' || name === 'task') setAttr(key, name, v);
    else removeAttr(key, name);
  }
  const documents = [marked(next, (d) => setAttr(need(findByName(d, 'key', button), button), 'action', 'delete'))];
  return { doc: next, documents };
}

/** Puts a key back to what it was in `before`: the default goes back with "delete", any other
 *  function with "set". */
export function revertKey(doc: XmlElement, button: string, before: XmlElement, template: XmlElement): Change {
  const was = need(findByName(before, 'key', button), button);
  const original = need(findByName(template, 'key', button), button);
  const same = ['type', 'task', 'count', 'delay'].every((n) => attr(was, n) === attr(original, n));
  if (same) return restoreKey(doc, button, template);
  const next = working(doc);
  const key = need(findByName(next, 'key', button), button);
  for (const n of ['type', 'task', 'count', 'delay']) {
    if (attr(was, n) || n === 'type' || n === 'task') setAttr(key, n, attr(was, n));
    else removeAttr(key, n);
  }
  return { doc: next, documents: [marked(next, (d) => setAttr(need(findByName(d, 'key', button), button), 'action', 'set'))] };
}

/** Whether some key of the document still gives a left click. */
export function hasLeftClick(doc: XmlElement): boolean {
  return childrenNamed(doc, 'key').some(
    (k) => /^Button\d+$/.test(attr(k, 'name')) && attr(k, 'type').toUpperCase() === 'MOUSE' && attr(k, 'task') === '单击左键()',
  );
}

/** The change would take the last left click away from a device that had one. */
export function losesLeftClick(before: XmlElement, after: XmlElement): boolean {
  return hasLeftClick(before) && !hasLeftClick(after);
}

// ---- macros ----

/** Puts a macro text into a macro slot (an empty text empties it). The packet keyboard takes its
 *  whole macro table at once, one entry per slot in slot order. The other devices carry a macro
 *  inside the key record: keys that play the slot's old macro get their record again with the
 *  new one, the others when a key is given it. */
export function storeMacro(doc: XmlElement, slot: string, text: string): Change {
  const next = cloneXml(doc);
  const row = need(findByName(next, 'key', slot), slot);
  const old = attr(row, 'value');
  setAttr(row, 'value', text);
  if (familyOfDoc(next) === 'hfd') {
    const table = macrosOf(next)
      .slice()
      .sort((a, b) => Number(a.index) - Number(b.index))
      .map((m) => ({ content: m.text }));
    return { doc: next, documents: [], macroTable: JSON.stringify(table) };
  }
  let change: Change = { doc: next, documents: [] };
  // No key can play an empty slot, so there is nothing to send for one.
  if (!old || !text) return change;
  const macro: MacroRow = { name: slot, index: attr(row, 'index'), text };
  for (const k of keysOf(next)) {
    if (k.type.toUpperCase() !== 'MACRO' || k.task !== old) continue;
    const c = assignKey(change.doc, k.name, { kind: 'macro', macro });
    change = { doc: c.doc, documents: change.documents.concat(c.documents) };
  }
  return change;
}

// ---- lighting ----

export type EffectKeyName = 'LightRGB' | 'LightBrightness' | 'LightSpeed' | 'LightDirection';

function zoneOf(d: XmlElement, zone: ZoneName): XmlElement {
  return need(child(d, zone), zone);
}

function markPreset(d: XmlElement, zone: ZoneName, keyName: string): void {
  const mode = need(findByName(zoneOf(d, zone), 'mode', 'Default'), 'preset mode');
  setAttr(mode, 'action', 'set');
  setAttr(need(findByName(mode, 'key', keyName), keyName), 'action', 'set');
}

/** Chooses a preset effect: the zone's selector takes the mode's number and `LightMode` the
 *  effect; the other effect values go again so a family that writes them with the effect (the
 *  packet keyboard) or only with it keeps what the page shows. */
export function setEffect(doc: XmlElement, zone: ZoneName, effect: number): Change {
  if (!Number.isInteger(effect) || effect < 0 || effect > 255) throw new EditError('effect out of range');
  const next = working(doc);
  const mode = need(findByName(zoneOf(next, zone), 'mode', 'Default'), 'preset mode');
  setAttr(mode, 'index', String(effect));
  setAttr(need(findByName(mode, 'key', 'LightMode'), 'LightMode'), 'value', String(effect));
  return { doc: next, documents: [marked(next, (d) => markPreset(d, zone, 'LightMode'))] };
}

// Brightness and speed go to the D2.0 registers as the text stands and are read there as
// hexadecimal, so only levels whose decimal and hexadecimal spellings agree are sent.
function checkEffectValue(family: Family, name: EffectKeyName, value: string): string {
  if (name === 'LightRGB') {
    if (!HEX_COLOUR.test(value)) throw new EditError('colour must be six hexadecimal digits');
    return value.toLowerCase();
  }
  const traits = FAMILY_TRAITS[family].lighting;
  const limits =
    name === 'LightBrightness' ? traits && traits.brightness
    : name === 'LightSpeed' ? traits && traits.speed
    : traits && traits.direction ? { min: 0, max: 1 }
    : null;
  if (!limits) throw new EditError(`${name} does not reach this device`);
  if (!/^\d{1,3}$/.test(value)) throw new EditError(`${name} out of range`);
  const n = parseInt(value, 10);
  if (n < limits.min || n > limits.max) throw new EditError(`${name} out of range`);
  return String(n);
}

export function setEffectValue(doc: XmlElement, zone: ZoneName, name: EffectKeyName, value: string): Change {
  const v = checkEffectValue(familyOfDoc(doc), name, value);
  const next = working(doc);
  const mode = need(findByName(zoneOf(next, zone), 'mode', 'Default'), 'preset mode');
  setAttr(need(findByName(mode, 'key', name), name), 'value', v);
  return { doc: next, documents: [marked(next, (d) => markPreset(d, zone, name))] };
}

/** Paints keys of the per-key mode (entries found by key number) and selects that mode. */
export function setKeyColours(doc: XmlElement, zone: ZoneName, colours: Map<number, string>): Change {
  const next = working(doc);
  const mode = need(findByName(zoneOf(next, zone), 'mode', 'LightUp'), 'per-key mode');
  const entries = childrenNamed(mode, 'key');
  colours.forEach((rgb, rc) => {
    if (!HEX_COLOUR.test(rgb)) throw new EditError('colour must be six hexadecimal digits');
    const entry = need(
      entries.find((e) => attr(e, 'rc') === String(rc)),
      `key ${rc}`,
    );
    setAttr(entry, 'rgb', rgb.toLowerCase());
  });
  return {
    doc: next,
    documents: [marked(next, (d) => setAttr(need(findByName(zoneOf(d, zone), 'mode', 'LightUp'), 'per-key mode'), 'action', 'set'))],
  };
}

/** The lighting read: the D2.0 translator answers the preset values of the main zone. */
export function lightingQuery(doc: XmlElement): string {
  return marked(doc, (d) => setAttr(need(findByName(zoneOf(d, 'light'), 'mode', 'Default'), 'preset mode'), 'action', 'get'));
}

// ---- performance ----

export interface StageInput {
  x: number;
  y: number;
  rgb?: string;
}

/** Replaces the DPI stages. The library mouse takes the whole table (any marked stage sends
 *  it); the D2.0 translator writes the current stage's record and selects it, so an edit of
 *  another stage is written by selecting it and then selecting the current stage again. */
export function setDpiStages(doc: XmlElement, stages: StageInput[], current: number): Change {
  const family = familyOfDoc(doc);
  const traits = FAMILY_TRAITS[family].dpi;
  if (!traits) throw new EditError('no DPI stages on this device');
  const before = need(child(doc, 'dpi'), 'dpi');
  const oldLevels = childrenNamed(before, 'key');
  if (stages.length < 1 || stages.length > traits.maxStages) throw new EditError('number of stages out of range');
  if (!traits.editStages && stages.length !== oldLevels.length) throw new EditError('stages cannot be added or removed on this device');
  if (!Number.isInteger(current) || current < 1 || current > stages.length) throw new EditError('current stage out of range');
  for (const s of stages) {
    for (const v of [s.x, s.y]) {
      if (!Number.isInteger(v) || v < traits.min || v > traits.max || v % traits.step !== 0) throw new EditError('DPI value out of range');
    }
    if (s.rgb !== undefined && s.rgb !== '' && !HEX_COLOUR.test(s.rgb)) throw new EditError('colour must be six hexadecimal digits');
  }
  const next = working(doc);
  const dpi = need(child(next, 'dpi'), 'dpi');
  const model = oldLevels[0];
  const levels = stages.map((s, i) => {
    const old = oldLevels[i] || model;
    const el = old ? cloneXml(old) : makeElement('key', {});
    stripActions(el);
    setAttr(el, 'name', `Dpi${i + 1}`);
    setAttr(el, 'x', String(s.x));
    setAttr(el, 'y', String(s.y));
    if (s.rgb) setAttr(el, 'rgb', s.rgb.toLowerCase());
    return el;
  });
  dpi.children = dpi.children.filter((c) => c.name !== 'key').concat(levels);
  if (stages.length !== oldLevels.length) setAttr(dpi, 'count', String(stages.length));
  setAttr(dpi, 'current', String(current));

  if (family === 'mouse-d3') {
    return { doc: next, documents: [marked(next, (d) => setAttr(childrenNamed(need(child(d, 'dpi'), 'dpi'), 'key')[0], 'action', 'set'))] };
  }
  const documents: string[] = [];
  const prevCurrent = parseInt(attr(before, 'current'), 10);
  stages.forEach((s, i) => {
    const o = oldLevels[i];
    const changed = !o || attr(o, 'x') !== String(s.x) || attr(o, 'y') !== String(s.y);
    if (changed && i + 1 !== current) {
      documents.push(
        marked(next, (d) => {
          const dd = need(child(d, 'dpi'), 'dpi');
          setAttr(dd, 'current', String(i + 1));
          setAttr(dd, 'action', 'set');
        }),
      );
    }
  });
  const currentChanged = prevCurrent !== current || documents.length > 0;
  const o = oldLevels[current - 1];
  const s = stages[current - 1];
  if (currentChanged || !o || attr(o, 'x') !== String(s.x) || attr(o, 'y') !== String(s.y)) {
    documents.push(marked(next, (d) => setAttr(need(child(d, 'dpi'), 'dpi'), 'action', 'set')));
  }
  return { doc: next, documents };
}

/** The DPI and report-rate read of the D2.0 translator. */
export function dpiQuery(doc: XmlElement): string {
  return marked(doc, (d) => setAttr(need(child(d, 'dpi'), 'dpi'), 'action', 'get'));
}

export const PARAMETER_LIMITS: Record<string, { min: number; max: number }> = {
  sleep: { min: 0, max: 255 },
  sleepscreen: { min: 0, max: 255 },
  ratesscreen: { min: 0, max: 255 },
  SensorAltitude: { min: 1, max: 3 },
  Reportrate: { min: 125, max: 8000 },
};

export function setParameter(doc: XmlElement, name: string, value: number): Change {
  const limits = need(PARAMETER_LIMITS[name], name);
  if (!Number.isInteger(value) || value < limits.min || value > limits.max) throw new EditError(`${name} out of range`);
  if (name === 'Reportrate') {
    const rates = FAMILY_TRAITS[familyOfDoc(doc)].reportRates;
    if (rates.indexOf(value) < 0) throw new EditError('report rate not offered by this device');
  }
  const next = working(doc);
  const key = need(findByName(child(next, 'parameters'), 'key', name), name);
  setAttr(key, 'value', String(value));
  return {
    doc: next,
    documents: [marked(next, (d) => setAttr(need(findByName(child(d, 'parameters'), 'key', name), name), 'action', 'set'))],
  };
}

/** Plain named settings written as they stand (`SensorAltitude`, `DpiCount`, `DpiCurrent`,
 *  `Hibernate`, `MoveLightSwitch`): one byte each. */
export const SETTING_LIMITS: Record<string, { min: number; max: number }> = {
  SensorAltitude: { min: 1, max: 3 },
  DpiCount: { min: 1, max: 8 },
  DpiCurrent: { min: 1, max: 8 },
  Hibernate: { min: 0, max: 255 },
  MoveLightSwitch: { min: 0, max: 1 },
};

export function setSetting(doc: XmlElement, name: string, value: number): Change {
  const limits = need(SETTING_LIMITS[name], name);
  let max = limits.max;
  if (name === 'DpiCurrent') {
    const count = parseInt(attr(findByName(doc, 'key', 'DpiCount'), 'value'), 10);
    if (count > 0) max = Math.min(max, count);
  }
  if (!Number.isInteger(value) || value < limits.min || value > max) throw new EditError(`${name} out of range`);
  const next = working(doc);
  setAttr(need(findByName(next, 'key', name), name), 'value', String(value));
  const documents = [marked(next, (d) => setAttr(need(findByName(d, 'key', name), name), 'action', 'set'))];
  // Fewer stages than the selected one would leave the device on a stage it no longer has.
  if (name === 'DpiCount') {
    const cur = findByName(next, 'key', 'DpiCurrent');
    if (cur && parseInt(attr(cur, 'value'), 10) > value) {
      setAttr(cur, 'value', String(value));
      documents.push(marked(next, (d) => setAttr(need(findByName(d, 'key', 'DpiCurrent'), 'DpiCurrent'), 'action', 'set')));
    }
  }
  return { doc: next, documents };
}

/** The battery read of the packet keyboard: the answer carries the level in the key's value. */
export function powerQuery(doc: XmlElement): string {
  return marked(doc, (d) => setAttr(need(findByName(d, 'key', 'Power'), 'Power'), 'action', 'set'));
}
