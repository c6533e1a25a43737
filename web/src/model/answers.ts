// Reading the documents the native side sends back with OnNotifySaveXml. Answers arrive
// without the XML declaration and with some action texts removed; a lighting answer keeps its
// `action="get"`. The packet keyboard echoes every document it has written.
import { normaliseIdentity } from './generations';
import { identityOf } from './template';
import { XmlElement, attr, child, cloneXml, findByName, parseXml, setAttr } from './xml';

export interface Answer {
  identity: string;
  doc: XmlElement;
}

/** The answer, or null for a text that is not a configuration document. */
export function parseAnswer(text: string): Answer | null {
  let doc: XmlElement;
  try {
    doc = parseXml(text);
  } catch {
    return null;
  }
  if (doc.name !== 'configuration') return null;
  const identity = identityOf(doc);
  if (!identity) return null;
  return { identity: normaliseIdentity(identity), doc };
}

export function answersDevice(a: Answer, identity: string): boolean {
  return a.identity === normaliseIdentity(identity);
}

function int(text: string): number | null {
  return /^\d+$/.test(text) ? parseInt(text, 10) : null;
}

export interface LightingReading {
  effect: number;
  brightness: number | null;
  speed: number | null;
  direction: number | null;
}

/** The preset values of a lighting read, or null when the answer is not one. */
export function lightingReading(a: Answer): LightingReading | null {
  const mode = findByName(child(a.doc, 'light'), 'mode', 'Default');
  if (!mode || attr(mode, 'action') !== 'get') return null;
  const effect = int(attr(mode, 'index'));
  if (effect === null) return null;
  const value = (name: string) => int(attr(findByName(mode, 'key', name), 'value'));
  return { effect, brightness: value('LightBrightness'), speed: value('LightSpeed'), direction: value('LightDirection') };
}

export interface DpiReading {
  current: number | null;
  reportRate: number | null;
}

/** The DPI read answers the current stage in `dpi` and the rate in the `Reportrate` parameter. */
export function dpiReading(a: Answer): DpiReading | null {
  const dpi = child(a.doc, 'dpi');
  if (!dpi) return null;
  const rate = findByName(child(a.doc, 'parameters'), 'key', 'Reportrate');
  return { current: int(attr(dpi, 'current')), reportRate: rate ? int(attr(rate, 'value')) : null };
}

/** The battery level from an answered `Power` read (0..100), or null when the device gave none. */
export function powerReading(a: Answer): number | null {
  const v = int(attr(findByName(a.doc, 'key', 'Power'), 'value'));
  return v === null || v > 100 ? null : v;
}

/** Takes a reading into the page's document (no document is sent for it). */
export function applyLighting(before: XmlElement, r: LightingReading): XmlElement {
  const doc = cloneXml(before);
  const mode = findByName(child(doc, 'light'), 'mode', 'Default');
  if (!mode) return doc;
  setAttr(mode, 'index', String(r.effect));
  const put = (name: string, v: number | null) => {
    const k = findByName(mode, 'key', name);
    if (k && v !== null) setAttr(k, 'value', String(v));
  };
  put('LightMode', r.effect);
  put('LightBrightness', r.brightness);
  put('LightSpeed', r.speed);
  put('LightDirection', r.direction);
  return doc;
}

export function applyDpi(before: XmlElement, r: DpiReading): XmlElement {
  const doc = cloneXml(before);
  const dpi = child(doc, 'dpi');
  const count = dpi ? dpi.children.filter((c) => c.name === 'key').length : 0;
  if (dpi && r.current !== null && r.current >= 1 && r.current <= count) setAttr(dpi, 'current', String(r.current));
  const rate = findByName(child(doc, 'parameters'), 'key', 'Reportrate');
  if (rate && r.reportRate !== null) setAttr(rate, 'value', String(r.reportRate));
  return doc;
}
