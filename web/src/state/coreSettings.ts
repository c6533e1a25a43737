// The settings sections the core process keeps for the desktop, and the applications running
// now. Only the settings dialog uses them, so they load with it. An older core answers none of
// these commands: every section then shows as unavailable and nothing waits for ever.
import { signal } from '@preact/signals';
import {
  isSectionName,
  parseApplications,
  parseCoreSettings,
  parseSectionText,
  type CoreSettings,
  type SectionName,
  type SectionValues,
} from '../desktop/coreSettings';
import { native, type NativeClient } from '../native/client';

export type CoreSettingsStatus = 'idle' | 'loading' | 'ready' | 'unavailable';

// The sections as shown: the core's answers, or an edit on its way to the core.
export const coreSettings = signal<CoreSettings>({});
export const coreSettingsStatus = signal<CoreSettingsStatus>('idle');
// null until the core named them (or could not).
export const runningApps = signal<string[] | null>(null);

// Shorter than the usual wait: a core without these commands never answers them.
const DESKTOP_TIMEOUT_MS = 5000;

// What the core last confirmed per section, and the number of the last save sent, so that an
// older answer does not overwrite a newer edit on the way.
let confirmed: CoreSettings = {};
const lastSave: Partial<Record<SectionName, number>> = {};
const inFlight: Partial<Record<SectionName, number>> = {};
let saveCount = 0;
const followed = new WeakSet<NativeClient>();

function show(name: SectionName, value: SectionValues[SectionName] | undefined): void {
  const next: CoreSettings = { ...coreSettings.peek() };
  if (value) (next as Record<string, unknown>)[name] = value;
  else delete next[name];
  coreSettings.value = next;
}

// Takes the core's changes from any source (the page, D-Bus, the command line) from the first
// time the settings are shown on, for the life of the page.
export function followCoreSettings(client: NativeClient = native): void {
  if (followed.has(client)) return;
  followed.add(client);
  client.on('CoreSettingsChanged', (args) => {
    const name = args[0];
    if (!isSectionName(name)) return;
    const value = parseSectionText(name, args[1]);
    if (!value) return;
    confirmed = { ...confirmed, [name]: value };
    if (!inFlight[name]) show(name, value);
  });
}

export function loadCoreSettings(client: NativeClient = native): Promise<void> {
  if (!client.available) {
    coreSettingsStatus.value = 'unavailable';
    return Promise.resolve();
  }
  if (coreSettingsStatus.peek() !== 'ready') coreSettingsStatus.value = 'loading';
  return client.request('GetCoreSettings', {}, { timeoutMs: DESKTOP_TIMEOUT_MS }).then(
    (answer) => {
      const all = parseCoreSettings(answer);
      confirmed = all;
      const shown: CoreSettings = { ...all };
      // An edit still on its way stays in sight; its answer settles it.
      for (const name of Object.keys(inFlight) as SectionName[])
        if (inFlight[name]) (shown as Record<string, unknown>)[name] = coreSettings.peek()[name];
      coreSettings.value = shown;
      coreSettingsStatus.value = 'ready';
    },
    () => {
      if (coreSettingsStatus.peek() !== 'ready') coreSettingsStatus.value = 'unavailable';
    },
  );
}

// Sends one section. The edit shows at once; the core's answer (its normalised form) replaces
// it, and a refusal brings back what the core holds. Resolves to the stored value, or null.
export function saveSection<K extends SectionName>(
  name: K,
  value: SectionValues[K],
  client: NativeClient = native,
): Promise<SectionValues[K] | null> {
  const id = ++saveCount;
  lastSave[name] = id;
  inFlight[name] = (inFlight[name] ?? 0) + 1;
  show(name, value);
  const settle = () => {
    inFlight[name] = Math.max(0, (inFlight[name] ?? 1) - 1);
  };
  return client.request('SetCoreSettings', { Section: name, Value: JSON.stringify(value) }, { timeoutMs: DESKTOP_TIMEOUT_MS }).then(
    (answer) => {
      settle();
      const stored = parseSectionText(name, answer);
      if (stored) confirmed = { ...confirmed, [name]: stored };
      if (lastSave[name] === id) show(name, stored ?? confirmed[name]);
      if (!stored) void loadCoreSettings(client);
      return stored;
    },
    () => {
      settle();
      if (lastSave[name] === id) show(name, confirmed[name]);
      return null;
    },
  );
}

export function loadRunningApps(client: NativeClient = native): Promise<void> {
  if (!client.available) {
    runningApps.value = [];
    return Promise.resolve();
  }
  return client.request('GetRunningApplications', {}, { timeoutMs: DESKTOP_TIMEOUT_MS }).then(
    (answer) => {
      runningApps.value = parseApplications(answer);
    },
    () => {
      runningApps.value = [];
    },
  );
}

// Forgets everything (tests).
export function resetCoreSettings(): void {
  coreSettings.value = {};
  coreSettingsStatus.value = 'idle';
  runningApps.value = null;
  confirmed = {};
  saveCount = 0;
  for (const name of Object.keys(lastSave) as SectionName[]) delete lastSave[name];
  for (const name of Object.keys(inFlight) as SectionName[]) delete inFlight[name];
}
