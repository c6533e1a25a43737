import { normaliseIdentity } from '../model/generations';
import { identityOf } from '../model/template';
import { type XmlElement, parseXml } from '../model/xml';
import { native, type NativeClient, type Unsubscribe } from '../native/client';

// OnNotifySaveXml carries a configuration document back from the native side (the answer to a
// "get", or a write some translators confirm). Subscribers name the device identity and the
// element they wait for.

export interface NotifyDocument {
  text: string;
  doc: XmlElement;
  // The `UsbId` key's value, normalised so that both spellings of an identity meet.
  usbId: string;
}

export type NotifyFilter = (d: NotifyDocument) => boolean;

interface Subscriber {
  usbId: string;
  filter?: NotifyFilter;
  handler: (d: NotifyDocument) => void;
}

const subscribers = new Set<Subscriber>();
let unhook: Unsubscribe | null = null;

export function parseNotify(text: string): NotifyDocument | null {
  if (typeof text !== 'string' || !text.trim()) return null;
  let doc: XmlElement;
  try {
    doc = parseXml(text);
  } catch {
    return null;
  }
  if (doc.name !== 'configuration') return null;
  return { text, doc, usbId: normaliseIdentity(identityOf(doc)) };
}

// Does the document hold an element of this name (a `key` by its name attribute, or an
// element such as `light`, `dpi`, `parameters` by its tag)?
export function hasElement(d: NotifyDocument, element: string): boolean {
  const holds = (el: XmlElement): boolean =>
    el.children.some(
      (c) =>
        c.name === element ||
        (c.name === 'key' && element !== 'UsbId' && c.attrs.some(([k, v]) => k === 'name' && v === element)) ||
        holds(c),
    );
  return holds(d.doc);
}

function deliver(args: unknown[]): void {
  const d = parseNotify(typeof args[0] === 'string' ? args[0] : '');
  if (!d) return;
  for (const s of Array.from(subscribers)) {
    if (s.usbId !== d.usbId) continue;
    if (s.filter && !s.filter(d)) continue;
    try {
      s.handler(d);
    } catch (e) {
      console.error('OnNotifySaveXml subscriber failed', e);
    }
  }
}

// Starts routing (once per page).
export function startNotifyRouting(client: NativeClient = native): void {
  if (!unhook) unhook = client.on('OnNotifySaveXml', deliver);
}

export function stopNotifyRouting(): void {
  unhook?.();
  unhook = null;
  subscribers.clear();
}

// Documents for one device; with an element name, only those that carry that element.
export function subscribeNotify(
  usbId: string,
  element: string | NotifyFilter | null,
  handler: (d: NotifyDocument) => void,
): Unsubscribe {
  const filter: NotifyFilter | undefined =
    element === null ? undefined : typeof element === 'string' ? (d) => hasElement(d, element) : element;
  const s: Subscriber = { usbId: normaliseIdentity(usbId), filter, handler };
  subscribers.add(s);
  return () => {
    subscribers.delete(s);
  };
}

export class NotifyTimeout extends Error {
  constructor(usbId: string) {
    super(`no answer from ${usbId}`);
    this.name = 'NotifyTimeout';
  }
}

export const NOTIFY_TIMEOUT_MS = 8000;

// The next matching document, or NotifyTimeout when none comes in time. Subscribe before
// sending the request so that a quick answer is not missed.
export function waitForNotify(
  usbId: string,
  element: string | NotifyFilter | null,
  timeoutMs = NOTIFY_TIMEOUT_MS,
): Promise<NotifyDocument> {
  return new Promise((resolve, reject) => {
    const off = subscribeNotify(usbId, element, (d) => {
      clearTimeout(timer);
      off();
      resolve(d);
    });
    const timer = setTimeout(() => {
      off();
      reject(new NotifyTimeout(usbId));
    }, timeoutMs);
  });
}
