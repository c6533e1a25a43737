import { computed, signal } from '@preact/signals';
import { native, type NativeClient, type Unsubscribe } from '../native/client';
import { t } from '../i18n';
import { showMessage, trackBusy } from './messages';
import { adoptTemplateProfile } from './profiles';
import { loadTemplate, templates } from './templates';
import { clearUndo } from './undo';

// One record of GetDevicesList: every value is a text; only `Version` is always there.
export interface DeviceRecord {
  Version: string;
  DevicePath?: string;
  Sn?: string;
  Battery?: string;
  ConnectStatus?: string;
  ProfileCount?: string;
  BluetoothVersion?: string;
  LastVersionNum?: string;
  [key: string]: string | undefined;
}

export interface Device {
  // Stable while the device stays plugged in: its identity and interface path.
  id: string;
  record: DeviceRecord;
}

export type Connection = 'wired' | 'wireless' | 'bluetooth';

export interface Battery {
  level: number; // percent 0..100
  low: boolean;
}

export type ListStatus = 'idle' | 'loading' | 'ready' | 'error' | 'unavailable';

export const devices = signal<Device[]>([]);
export const listStatus = signal<ListStatus>('idle');
export const selectedId = signal<string | null>(null);
export const selectedDevice = computed<Device | null>(
  () => devices.value.find((d) => d.id === selectedId.value) ?? null,
);

export function deviceId(record: DeviceRecord): string {
  return record.DevicePath ? `${record.Version}@${record.DevicePath}` : record.Version;
}

// Parses the answer of GetDevicesList; anything that is not an array of objects with a
// textual Version is left out rather than trusted.
export function parseDeviceList(answer: string): Device[] {
  let data: unknown;
  try {
    data = JSON.parse(answer);
  } catch {
    return [];
  }
  if (!Array.isArray(data)) return [];
  const out: Device[] = [];
  const seen = new Set<string>();
  for (const item of data) {
    if (!item || typeof item !== 'object' || Array.isArray(item)) continue;
    const record: DeviceRecord = { Version: '' };
    for (const [k, v] of Object.entries(item as Record<string, unknown>)) {
      if (typeof v === 'string') record[k] = v;
      else if (typeof v === 'number') record[k] = String(v);
    }
    if (!record.Version) continue;
    const id = deviceId(record);
    if (seen.has(id)) continue;
    seen.add(id);
    out.push({ id, record });
  }
  return out;
}

export function connectionOf(record: DeviceRecord): Connection | null {
  if (record.BluetoothVersion) return 'bluetooth';
  if (record.ConnectStatus === '2') return 'wireless';
  if (record.ConnectStatus !== undefined && record.ConnectStatus !== '') return 'wired';
  return null;
}

// The battery byte is a percentage for the devices that report one; zero is what devices
// without a battery send, and values above 100 are not a level at all.
export function batteryOf(record: DeviceRecord): Battery | null {
  if (record.Battery === undefined || !/^\d+$/.test(record.Battery)) return null;
  const level = Number(record.Battery);
  if (level <= 0 || level > 100) return null;
  return { level, low: level <= 20 };
}

let refreshing: Promise<void> | null = null;
let again = false;

// Asks for the list again. Calls while one is under way are folded into one more request
// after it, so the list always ends up as the native side saw it last.
export function refreshDevices(client: NativeClient = native): Promise<void> {
  if (refreshing) {
    again = true;
    return refreshing;
  }
  if (!client.available) {
    listStatus.value = 'unavailable';
    return Promise.resolve();
  }
  if (listStatus.value !== 'ready') listStatus.value = 'loading';
  refreshing = (async () => {
    do {
      again = false;
      try {
        const list = parseDeviceList(await trackBusy(client.request('GetDevicesList')));
        applyList(list);
        // Asked for before any further list request, which would keep the native side busy
        // enumerating while the cards wait for their names.
        for (const d of list) {
          const state = templates.peek()[d.record.Version];
          if (!state || state.status === 'error')
            loadTemplate(d.record.Version, client).then(
              (tpl) => {
                if (tpl) adoptTemplateProfile(d.id, tpl.root);
                else preferConfigurable();
              },
              () => undefined,
            );
        }
        listStatus.value = 'ready';
      } catch {
        listStatus.value = devices.value.length > 0 ? 'ready' : 'error';
        if (!again) break;
      }
    } while (again);
  })().finally(() => {
    refreshing = null;
  });
  return refreshing;
}

function applyList(list: Device[]): void {
  const old = new Map(devices.value.map((d) => [d.id, d]));
  // Edits of a device that went away cannot be taken back on it any more.
  for (const id of Array.from(old.keys())) if (!list.some((d) => d.id === id)) clearUndo(id);
  // Keep the objects of unchanged records so that views of them do not re-render.
  devices.value = list.map((d) => {
    const prev = old.get(d.id);
    return prev && JSON.stringify(prev.record) === JSON.stringify(d.record) ? prev : d;
  });
  const gone = old.get(selectedId.value ?? '');
  if (!list.some((d) => d.id === selectedId.value)) {
    // A window opened again shows the device the user chose last, while it is plugged in.
    const remembered = !gone && !old.size ? storedChoice() : null;
    chosenByUser = remembered !== null && list.some((d) => d.id === remembered);
    selectedId.value = chosenByUser ? remembered : list.length ? list[0].id : null;
    preferConfigurable();
    if (gone) {
      const state = templates.peek()[gone.record.Version];
      const name = state && state.status === 'ready' && state.template.model ? state.template.model : gone.record.Version;
      showMessage(() => t('shell.deviceGone', { name }), 'info');
    }
  }
}

let chosenByUser = false;
const CHOICE_KEY = 'torvanix.device';

function storedChoice(): string | null {
  try {
    return localStorage.getItem(CHOICE_KEY);
  } catch {
    return null;
  }
}

export function selectDevice(id: string): void {
  if (!devices.value.some((d) => d.id === id)) return;
  selectedId.value = id;
  chosenByUser = true;
  try {
    localStorage.setItem(CHOICE_KEY, id);
  } catch {
    // kept for this page only
  }
}

// Until the user picks a card, the open device is one this program can configure when there
// is such a device: an interface without a model template is listed but not opened first.
function preferConfigurable(): void {
  if (chosenByUser) return;
  const states = templates.peek();
  const current = devices.peek().find((d) => d.id === selectedId.peek());
  if (!current || states[current.record.Version]?.status !== 'missing') return;
  const better = devices.peek().find((d) => states[d.record.Version]?.status !== 'missing');
  if (better) selectedId.value = better.id;
}

// Follows plugging and unplugging for the life of the page.
export function watchDevices(client: NativeClient = native): Unsubscribe {
  const off = client.on('DevicesChanged', () => {
    void refreshDevices(client);
  });
  void refreshDevices(client);
  return off;
}
