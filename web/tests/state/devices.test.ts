import { beforeEach, describe, expect, it } from 'vitest';
import { createClient } from '../../src/native/client';
import {
  batteryOf,
  connectionOf,
  devices,
  listStatus,
  parseDeviceList,
  selectedDevice,
  selectedId,
  watchDevices,
} from '../../src/state/devices';
import { fakeHost } from '../fakeHost';

const flush = () => new Promise((r) => setTimeout(r, 0));

beforeEach(() => {
  devices.value = [];
  selectedId.value = null;
  listStatus.value = 'idle';
});

describe('device list', () => {
  it('keeps only records with a textual Version and drops duplicates', () => {
    const list = parseDeviceList(
      JSON.stringify([{ Version: 'A', DevicePath: 'p' }, { Version: 'A', DevicePath: 'p' }, { Sn: 'x' }, 7, null, { Version: 'B' }]),
    );
    expect(list.map((d) => d.id)).toEqual(['A@p', 'B']);
    expect(parseDeviceList('{"Version":"A"}')).toEqual([]);
    expect(parseDeviceList('garbage')).toEqual([]);
  });

  it('reads connection and battery only where the record has them', () => {
    expect(connectionOf({ Version: 'x', BluetoothVersion: '1.02', ConnectStatus: '1' })).toBe('bluetooth');
    expect(connectionOf({ Version: 'x', ConnectStatus: '2', BluetoothVersion: '' })).toBe('wireless');
    expect(connectionOf({ Version: 'x', ConnectStatus: '1' })).toBe('wired');
    expect(connectionOf({ Version: 'x' })).toBeNull();
    expect(batteryOf({ Version: 'x', Battery: '15' })).toEqual({ level: 15, low: true });
    expect(batteryOf({ Version: 'x', Battery: '0' })).toBeNull();
    expect(batteryOf({ Version: 'x', Battery: '255' })).toBeNull();
    expect(batteryOf({ Version: 'x' })).toBeNull();
  });

  it('follows DevicesChanged without a reload and keeps a still-present selection', async () => {
    const host = fakeHost();
    const client = createClient(host);
    const off = watchDevices(client);
    host.answer(0, JSON.stringify([{ Version: 'A' }, { Version: 'B' }]));
    await flush();
    expect(devices.value.map((d) => d.id)).toEqual(['A', 'B']);
    selectedId.value = 'B';
    const kept = devices.value[1];
    host.raise('DevicesChanged', [0]);
    host.answer(1, JSON.stringify([{ Version: 'B' }, { Version: 'C' }]));
    await flush();
    expect(devices.value.map((d) => d.id)).toEqual(['B', 'C']);
    expect(devices.value[0]).toBe(kept); // unchanged record, same object
    expect(selectedDevice.value?.id).toBe('B');
    host.raise('DevicesChanged', [0]);
    host.answer(2, '[]');
    await flush();
    expect(selectedDevice.value).toBeNull();
    expect(listStatus.value).toBe('ready');
    off();
  });

  it('folds changes that arrive during a request into one more request', async () => {
    const host = fakeHost();
    const client = createClient(host);
    watchDevices(client);
    host.raise('DevicesChanged', [0]);
    host.raise('DevicesChanged', [0]);
    expect(host.queries).toHaveLength(1);
    host.answer(0, '[{"Version":"A"}]');
    await flush();
    expect(host.queries).toHaveLength(2);
    host.answer(1, '[{"Version":"B"}]');
    await flush();
    expect(devices.value.map((d) => d.id)).toEqual(['B']);
  });
});
