// What the whole page follows of the core process's desktop side: the state of its lighting
// server (a program driving a device's lighting) and its requests to show a device. An older
// core answers neither command; nothing waits for ever.
import { signal } from '@preact/signals';
import { parseSdkServer, type SdkServerState } from '../desktop/server';
import { native, type NativeClient, type Unsubscribe } from '../native/client';
import { devices, selectDevice, type Device } from './devices';

export const sdkServer = signal<SdkServerState | null>(null);

// Shorter than the usual wait: a core without these commands never answers them.
const DESKTOP_TIMEOUT_MS = 5000;

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
    client.on('SdkServerChanged', (args) => {
      const state = parseSdkServer(args[0]);
      if (state) sdkServer.value = state;
    }),
    client.on('ShowDevice', (args) => {
      if (typeof args[0] === 'string') showDeviceAt(args[0]);
    }),
    devices.subscribe((list) => {
      if (pendingShow && findByPath(list, pendingShow)) showDeviceAt(pendingShow);
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
  sdkServer.value = null;
  if (pendingTimer) clearTimeout(pendingTimer);
  pendingShow = null;
  pendingTimer = null;
}
