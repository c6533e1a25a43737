// What the core process keeps for the desktop: its settings sections, the state of its
// lighting server, the running applications, and its requests to show a device. An older core
// answers none of these commands; every section then shows as unavailable and nothing waits
// for ever.
import { signal } from '@preact/signals';
import {
  parseApplications,
  parseCoreSettings,
  parseSdkServer,
  parseSectionText,
  isSectionName,
  type CoreSettings,
  type SdkServerState,
  type SectionName,
  type SectionValues,
} from '../desktop/coreSettings';
import { native, type NativeClient, type Unsubscribe } from '../native/client';
import { devices, selectDevice, type Device } from './devices';

export type CoreSettingsStatus = 'idle' | 'loading' | 'ready' | 'unavailable';

// The sections as shown: the core's answers, or an edit on its way to the core.
export const coreSettings = signal<CoreSettings>({});
export const coreSettingsStatus = signal<CoreSettingsStatus>('idle');
export const sdkServer = signal<SdkServerState | null>(null);
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

function show(name: SectionName, value: SectionValues[SectionName] | undefined): void {
  const next: CoreSettings = { ...coreSettings.peek() };
  if (value) (next as Record<string, unknown>)[name] = value;
  else delete next[name];
  coreSettings.value = next;
}

function confirm(name: SectionName, value: SectionValues[SectionName]): void {
  confirmed = { ...confirmed, [name]: value };
  if (!inFlight[name]) show(name, value);
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

export function loadSdkServer(client: NativeClient = native): Promise<void> {
  if (!client.available) return Promise.resolve();
  return client.request('GetSdkServer', {}, { timeoutMs: DESKTOP_TIMEOUT_MS }).then(
    (answer) => {
      const state = parseSdkServer(answer);
      if (state) sdkServer.value = state;
    },
    () => undefined,
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

function findByPath(list: Device[], path: string): Device | undefined {
  // Records without an interface path are known by their identity alone.
  return (
    list.find((d) => d.record.DevicePath === path) ??
    list.find((d) => !d.record.DevicePath && d.record.Version.toLowerCase() === path.toLowerCase())
  );
}

// The device the core asked to show before the page listed it (the window was just opened).
let pendingShow: string | null = null;
let pendingTimer: ReturnType<typeof setTimeout> | null = null;
const PENDING_SHOW_MS = 15_000;

export function showDeviceAt(path: string): void {
  if (!path) return;
  const found = findByPath(devices.peek(), path);
  if (pendingTimer) clearTimeout(pendingTimer);
  pendingTimer = null;
  if (found) {
    pendingShow = null;
    selectDevice(found.id);
    return;
  }
  pendingShow = path;
  pendingTimer = setTimeout(() => {
    pendingShow = null;
    pendingTimer = null;
  }, PENDING_SHOW_MS);
}

// Follows the core's events for the life of the page.
export function watchDesktop(client: NativeClient = native): Unsubscribe {
  const offs = [
    client.on('CoreSettingsChanged', (args) => {
      const name = args[0];
      if (!isSectionName(name)) return;
      const value = parseSectionText(name, args[1]);
      if (value) confirm(name, value);
    }),
    client.on('SdkServerChanged', (args) => {
      const state = parseSdkServer(args[0]);
      if (state) sdkServer.value = state;
    }),
    client.on('ShowDevice', (args) => {
      if (typeof args[0] === 'string') showDeviceAt(args[0]);
    }),
    devices.subscribe((list) => {
      if (!pendingShow) return;
      const found = findByPath(list, pendingShow);
      if (found) showDeviceAt(pendingShow);
    }),
  ];
  void loadSdkServer(client);
  // A window opened from the tray on a device: the event may have gone out before this page
  // listened, so the core keeps the last request for the page to collect once.
  if (client.available)
    client.request('GetShowDevice', {}, { timeoutMs: DESKTOP_TIMEOUT_MS }).then(
      (path) => showDeviceAt(path.trim()),
      () => undefined,
    );
  return () => {
    for (const off of offs) off();
  };
}

// Forgets everything (tests).
export function resetDesktop(): void {
  coreSettings.value = {};
  coreSettingsStatus.value = 'idle';
  sdkServer.value = null;
  runningApps.value = null;
  confirmed = {};
  saveCount = 0;
  for (const name of Object.keys(lastSave) as SectionName[]) delete lastSave[name];
  for (const name of Object.keys(inFlight) as SectionName[]) delete inFlight[name];
  if (pendingTimer) clearTimeout(pendingTimer);
  pendingShow = null;
  pendingTimer = null;
}
