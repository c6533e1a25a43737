import { beforeEach, describe, expect, it } from 'vitest';
import { createClient } from '../../src/native/client';
import {
  batteryOf,
  connectionOf,
  devices,
  listStatus,
  parseDeviceList,
  selectDevice,
  selectedDevice,
  selectedId,
  watchDevices,
} from '../../src/state/devices';
import { fakeHost, type FakeHost } from '../fakeHost';
import { resetTemplates } from '../../src/state/templates';
import { statusMessage } from '../../src/state/messages';
import { profileOf } from '../../src/state/profiles';

const flush = () => new Promise((r) => setTimeout(r, 0));

// Answers the n-th device list request (template requests go out in between).
function answerList(host: FakeHost, n: number, text: string) {
  const lists = host.queries.filter((q) => q.request.indexOf('GetDevicesList') >= 0);
  lists[n].onSuccess?.(text);
}
const listCount = (host: FakeHost) => host.queries.filter((q) => q.request.indexOf('GetDevicesList') >= 0).length;

beforeEach(() => {
  localStorage.clear();
  devices.value = [];
  selectedId.value = null;
  listStatus.value = 'idle';
  resetTemplates();
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
    answerList(host, 0, JSON.stringify([{ Version: 'A' }, { Version: 'B' }]));
    await flush();
    expect(devices.value.map((d) => d.id)).toEqual(['A', 'B']);
    // the cards' names are asked for at once; the template's CurProfile becomes the current one
    const asked = host.queries.filter((q) => q.request.indexOf('GetLocalConf') >= 0);
    expect(asked).toHaveLength(2);
    asked[0].onSuccess?.('<configuration model="M"><key name="CurProfile" value="3"/></configuration>');
    await flush();
    expect(profileOf('A')).toBe(3);
    selectedId.value = 'B';
    const kept = devices.value[1];
    host.raise('DevicesChanged', [0]);
    answerList(host, 1, JSON.stringify([{ Version: 'B' }, { Version: 'C' }]));
    await flush();
    expect(devices.value.map((d) => d.id)).toEqual(['B', 'C']);
    expect(devices.value[0]).toBe(kept); // unchanged record, same object
    expect(selectedDevice.value?.id).toBe('B');
    host.raise('DevicesChanged', [0]);
    answerList(host, 2, '[]');
    await flush();
    expect(selectedDevice.value).toBeNull();
    expect(statusMessage.value?.text).toBe('B was disconnected');
    expect(listStatus.value).toBe('ready');
    off();
  });

  it('opens a configurable device first unless the user chose another', async () => {
    const host = fakeHost();
    watchDevices(createClient(host));
    answerList(host, 0, JSON.stringify([{ Version: 'GENERIC' }, { Version: 'B' }]));
    await flush();
    expect(selectedId.value).toBe('GENERIC');
    host.queries.find((q) => q.request.indexOf('"GENERIC"') >= 0)?.onSuccess?.('');
    await flush();
    expect(selectedId.value).toBe('B');
    selectDevice('GENERIC');
    expect(selectedId.value).toBe('GENERIC');
  });

  it('opens the device chosen last in a new window while it is plugged in', async () => {
    const host = fakeHost();
    watchDevices(createClient(host));
    answerList(host, 0, JSON.stringify([{ Version: 'A' }, { Version: 'B' }]));
    await flush();
    selectDevice('B');
    for (const [list, wanted] of [
      ['[{"Version":"A"},{"Version":"B"}]', 'B'],
      ['[{"Version":"A"},{"Version":"C"}]', 'A'],
    ]) {
      devices.value = []; // the page of a new window
      selectedId.value = null;
      const next = fakeHost();
      watchDevices(createClient(next));
      answerList(next, 0, list);
      await flush();
      expect(selectedId.value).toBe(wanted);
    }
  });

  it('folds changes that arrive during a request into one more request', async () => {
    const host = fakeHost();
    const client = createClient(host);
    watchDevices(client);
    host.raise('DevicesChanged', [0]);
    host.raise('DevicesChanged', [0]);
    expect(listCount(host)).toBe(1);
    answerList(host, 0, '[{"Version":"A"}]');
    await flush();
    expect(listCount(host)).toBe(2);
    answerList(host, 1, '[{"Version":"B"}]');
    await flush();
    expect(devices.value.map((d) => d.id)).toEqual(['B']);
  });
});
