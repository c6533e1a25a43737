// What the device pages share per device: the document as the device holds it (per profile),
// the generation's function table, and the road of a change to the device through the commit
// model. A change is shown only once it has left for the device; the packet keyboard echoes
// every document it has written, so for it the echo is awaited as the confirmation.
import { signal, type Signal } from '@preact/signals';
import { native, type NativeClient } from '../native/client';
import { useNative } from '../native/context';
import type { Device } from '../state/devices';
import { waitForNotify, type NotifyDocument } from '../state/notify';
import { onConfigurationReplaced, profileOf, setConfigurationSource } from '../state/profiles';
import type { ModelTemplate } from '../state/templates';
import { commit } from '../state/undo';
import type { Answer } from './answers';
import type { Change } from './builders';
import { FAMILY_TRAITS, type Family, type FamilyTraits, type FunctionTable, familyOf, parseFunctionTable } from './generations';
import { TemplateError, identityOf } from './template';
import { type XmlElement, cloneXml, findByName, setAttr, writeXml } from './xml';

export interface DeviceSession {
  deviceId: string;
  identity: string;
  family: Family;
  traits: FamilyTraits;
  /** The model's own document (defaults). */
  template: XmlElement;
  /** The document of the profile being edited. */
  doc: Signal<XmlElement>;
  profile: number;
  /** Counts edits the device did not take: controls keyed by it drop a draft value that
   *  never reached the device and show the held one again. */
  refused: Signal<number>;
  /** The road to the device its edits and reads take. */
  client: NativeClient;
}

const sessions = new Map<string, DeviceSession>();

function withProfile(doc: XmlElement, profile: number): XmlElement {
  const d = cloneXml(doc);
  const cur = findByName(d, 'key', 'CurProfile');
  if (cur) setAttr(cur, 'value', String(profile));
  return d;
}

/** The session, or null when the model's document cannot be read (the page then says so
 *  instead of failing to draw). */
export function trySessionFor(device: Device, template: ModelTemplate, client: NativeClient = native): DeviceSession | null {
  try {
    return sessionFor(device, template, client);
  } catch {
    return null;
  }
}

/** A page's session, on the native client its component tree is given. */
export function useSession(device: Device, template: ModelTemplate): DeviceSession | null {
  return trySessionFor(device, template, useNative());
}

/** The session of the device's current profile (made on first use). */
export function sessionFor(device: Device, template: ModelTemplate, client: NativeClient = native): DeviceSession {
  const profile = profileOf(device.id);
  const key = `${device.id}#${profile}`;
  let s = sessions.get(key);
  if (!s) {
    const base = template.root;
    const identity = identityOf(base);
    // Nothing can be written to a device without its identity in every document.
    if (!identity) throw new TemplateError('not a model template');
    const family = familyOf(identity);
    s = { deviceId: device.id, identity, family, traits: FAMILY_TRAITS[family], template: base, doc: signal(withProfile(base, profile)), profile, refused: signal(0), client };
    sessions.set(key, s);
  }
  return s;
}

// The profiles page saves and resets whole configurations: it reads ours and tells us when a
// loaded or reset one replaces what the device holds.
setConfigurationSource((device, _text, profile) => {
  const s = sessions.get(`${device.id}#${profile}`);
  return s ? writeXml(s.doc.peek()) : null;
});
onConfigurationReplaced((deviceId, doc, profile) => {
  const s = sessions.get(`${deviceId}#${profile}`);
  if (!s) return;
  if (!doc) {
    s.doc.value = withProfile(s.template, profile);
    return;
  }
  s.doc.value = withProfile(doc, profile);
});

// ---- function tables ----

export const functionTables = signal<Record<string, FunctionTable>>({});
const tableLoads = new Map<string, Promise<FunctionTable | null>>();

/** The generation's function table (read once with GetLocalConf). */
export function loadFunctionTable(generation: string, client: NativeClient = native): Promise<FunctionTable | null> {
  const known = tableLoads.get(generation);
  if (known) return known;
  const work = client.request('GetLocalConf', { Name: generation }).then(
    (text) => {
      try {
        const table = parseFunctionTable(text);
        functionTables.value = { ...functionTables.value, [generation]: table };
        return table;
      } catch {
        return null;
      }
    },
    () => {
      tableLoads.delete(generation);
      return null;
    },
  );
  tableLoads.set(generation, work);
  return work;
}

// ---- writing ----

export class SendError extends Error {}

export const ECHO_TIMEOUT_MS = 8000;
// A whole macro table goes out as some hundred packets with a pause after each.
export const MACRO_TABLE_TIMEOUT_MS = 30_000;

/** Sends the change's documents in order; resolves once each has left (and, where the family
 *  echoes, come back). */
export async function writeChange(s: DeviceSession, change: Change, client: NativeClient = s.client): Promise<void> {
  // The table is answered once the keyboard took it or refused it.
  if (change.macroTable !== undefined) {
    try {
      await client.request('NoticeMacoModify', { Ver: s.identity, MacroArr: change.macroTable }, { timeoutMs: MACRO_TABLE_TIMEOUT_MS });
    } catch {
      throw new SendError('refused');
    }
  }
  for (const text of change.documents) {
    const echo = s.family === 'hfd' ? waitForNotify(s.identity, null, ECHO_TIMEOUT_MS) : null;
    if (!client.send('NoticeModify', { XmlConfigStr: text })) {
      echo?.catch(() => undefined);
      throw new SendError('not sent');
    }
    if (echo) await echo;
  }
  s.doc.value = change.doc;
}

/** A reversible edit through the commit model; `forward` and `backward` build the change from
 *  the document current at that moment. */
export function commitEdit(
  s: DeviceSession,
  label: string,
  forward: (doc: XmlElement) => Change,
  backward: (doc: XmlElement) => Change,
  client: NativeClient = s.client,
): Promise<boolean> {
  return commit({
    label,
    deviceId: s.deviceId,
    apply: () => writeChange(s, forward(s.doc.peek()), client),
    revert: () => writeChange(s, backward(s.doc.peek()), client),
  }).then((ok) => {
    if (!ok) s.refused.value += 1;
    return ok;
  });
}

/** Sends a read and gives the answer that `accept` takes, or null when none comes. */
export async function readDevice<T>(
  s: DeviceSession,
  query: string,
  accept: (a: Answer) => T | null,
  client: NativeClient = s.client,
  timeoutMs = ECHO_TIMEOUT_MS,
): Promise<T | null> {
  let value: T | null = null;
  const filter = (d: NotifyDocument) => {
    value = accept({ identity: d.usbId, doc: d.doc });
    return value !== null;
  };
  const answer = waitForNotify(s.identity, filter, timeoutMs);
  if (!client.send('NoticeModify', { XmlConfigStr: query })) {
    answer.catch(() => undefined);
    return null;
  }
  try {
    await answer;
    return value;
  } catch {
    return null;
  }
}

// Test support.
export function resetSessions(): void {
  sessions.clear();
  tableLoads.clear();
  functionTables.value = {};
}
