import { fireEvent, render, screen, waitFor, within } from '@testing-library/preact';
import { beforeEach, describe, expect, it, vi } from 'vitest';
import { DesktopSettings } from '../../src/desktop/DesktopSettings';
import { ControlledBanner } from '../../src/shell/ControlledBanner';
import { createClient } from '../../src/native/client';
import {
  coreSettings,
  coreSettingsStatus,
  followCoreSettings,
  loadCoreSettings,
  resetCoreSettings,
  saveSection,
} from '../../src/state/coreSettings';
import { resetDesktop, sdkServer, watchDesktop } from '../../src/state/desktop';
import { devices, parseDeviceList, selectedId } from '../../src/state/devices';
import { parseTemplate, resetTemplates, templates } from '../../src/state/templates';
import { fakeHost, withNative, type FakeHost } from '../fakeHost';

const sent = (host: FakeHost, i: number) => JSON.parse(host.queries[i].request) as Record<string, string>;
const indexOf = (host: FakeHost, command: string, from = 0) =>
  host.queries.findIndex((q, i) => i >= from && q.request.indexOf(`"${command}"`) >= 0);

const FOCUS = { enabled: true, notify: false, rules: [{ app: 'firefox', profiles: { 'GONE-DEV-V1.0.0': 3 } }], default: {} };
const ALL = JSON.stringify({ battery: { notices: true, low: 15, critical: 5 }, focus: FOCUS, sdk: { enabled: false, port: 6742, allowNetwork: false } });

beforeEach(() => {
  resetDesktop();
  resetCoreSettings();
  resetTemplates();
  devices.value = [];
  selectedId.value = null;
});

describe('core settings state', () => {
  it('shows an edit at once, then the stored form; a refusal brings back what the core holds', async () => {
    const host = fakeHost();
    const client = createClient(host);
    const load = loadCoreSettings(client);
    host.answer(0, ALL);
    await load;
    expect(coreSettingsStatus.value).toBe('ready');

    const first = saveSection('battery', { notices: true, low: 30, critical: 5 }, client);
    const second = saveSection('battery', { notices: true, low: 31, critical: 5 }, client);
    expect(coreSettings.value.battery?.low).toBe(31);
    expect(sent(host, 1)).toEqual({ FuncName: 'SetCoreSettings', Section: 'battery', Value: '{"notices":true,"low":30,"critical":5}' });
    // The first answer arrives after the second edit: it must not take the newer edit back.
    host.answer(1, '{"notices":true,"low":30,"critical":5}');
    await first;
    expect(coreSettings.value.battery?.low).toBe(31);
    host.fail(2, 0, 'failed');
    expect(await second).toBeNull();
    expect(coreSettings.value.battery?.low).toBe(30);

    // The core's normalised answer is what stays.
    const third = saveSection('sdk', { enabled: true, port: 6742, allowNetwork: true }, client);
    host.answer(3, '{"enabled":true,"port":6742,"allowNetwork":false}');
    expect(await third).toEqual({ enabled: true, port: 6742, allowNetwork: false });
    expect(coreSettings.value.sdk?.allowNetwork).toBe(false);
  });

  it('follows the core: settings and server changes, and a device to show once it is listed', async () => {
    const host = fakeHost();
    const client = createClient(host);
    const off = watchDesktop(client);
    followCoreSettings(client);
    expect(sent(host, 0).FuncName).toBe('GetSdkServer');
    expect(sent(host, 1).FuncName).toBe('GetShowDevice');
    host.raise('CoreSettingsChanged', ['focus', JSON.stringify(FOCUS)]);
    host.raise('CoreSettingsChanged', ['nosuch', '{}']);
    host.raise('CoreSettingsChanged', ['battery', 'not json']);
    expect(coreSettings.value).toEqual({ focus: FOCUS });
    host.raise('SdkServerChanged', ['{"enabled":true,"listening":true,"address":"127.0.0.1","port":6742,"clients":[]}']);
    expect(sdkServer.value?.listening).toBe(true);
    host.raise('SdkServerChanged', ['garbage']);
    expect(sdkServer.value?.listening).toBe(true);

    devices.value = parseDeviceList(JSON.stringify([{ Version: 'A', DevicePath: '/dev/hidraw1' }]));
    selectedId.value = devices.value[0].id;
    host.raise('ShowDevice', ['/dev/hidraw2']);
    expect(selectedId.value).toBe('A@/dev/hidraw1');
    devices.value = parseDeviceList(
      JSON.stringify([
        { Version: 'A', DevicePath: '/dev/hidraw1' },
        { Version: 'B', DevicePath: '/dev/hidraw2' },
      ]),
    );
    expect(selectedId.value).toBe('B@/dev/hidraw2');
    // The request the core kept from before the page listened.
    host.answer(1, '/dev/hidraw1');
    await waitFor(() => expect(selectedId.value).toBe('A@/dev/hidraw1'));
    off();
  });

  it('marks sections unavailable when an older core never answers', async () => {
    vi.useFakeTimers();
    try {
      const host = fakeHost();
      const load = loadCoreSettings(createClient(host));
      expect(coreSettingsStatus.value).toBe('loading');
      vi.advanceTimersByTime(6000);
      await load;
      expect(coreSettingsStatus.value).toBe('unavailable');
    } finally {
      vi.useRealTimers();
    }
  });
});

const TEMPLATE = `<configuration model="Mouse Z"><key name="UsbId" value="TOB-NIR-V1.2.0"/><key name="CurProfile" value="1"/><key name="CountProfile" value="4"/></configuration>`;

describe('desktop settings in the dialog', () => {
  it('shows every section as unavailable when the core refuses, without breaking', async () => {
    const host = fakeHost();
    render(withNative(host, <DesktopSettings />));
    host.fail(indexOf(host, 'GetCoreSettings'), 0, 'failed');
    await waitFor(() => expect(screen.getAllByText('This version of Torvanix does not offer this setting.')).toHaveLength(3));
    expect(screen.getByRole('heading', { name: 'Lighting server' })).toBeTruthy();
  });

  it('edits a rule for a connected device and keeps the entry of one not connected', async () => {
    devices.value = parseDeviceList(JSON.stringify([{ Version: 'TOB-NIR-V1.2.0', DevicePath: '/dev/hidraw1', ProfileCount: '4' }]));
    const tpl = parseTemplate('TOB-NIR-V1.2.0', TEMPLATE);
    templates.value = { 'TOB-NIR-V1.2.0': { status: 'ready', template: tpl! } };
    const host = fakeHost();
    render(withNative(host, <DesktopSettings />));
    host.answer(indexOf(host, 'GetCoreSettings'), ALL);
    const rule = await screen.findByRole('group', { name: 'When firefox is in front' });
    const choice = within(rule).getByRole('combobox', { name: 'Mouse Z' });
    await waitFor(() => expect(indexOf(host, 'GetRunningApplications')).toBeGreaterThan(0));
    host.answer(indexOf(host, 'GetRunningApplications'), '["firefox","steam"]');
    await screen.findByRole('option', { name: 'steam' });
    expect(within(rule).getByText('Also sets 1 device that is not connected now.')).toBeTruthy();
    fireEvent.change(choice, { target: { value: '2' } });
    const i = indexOf(host, 'SetCoreSettings');
    expect(i).toBeGreaterThan(0);
    expect(JSON.parse(sent(host, i).Value).rules[0].profiles).toEqual({ 'GONE-DEV-V1.0.0': 3, 'TOB-NIR-V1.2.0': 2 });
  });
});

describe('a device driven by the lighting server', () => {
  it('says so while the server lists it for a client, and no longer once it does not', async () => {
    const [device] = parseDeviceList(JSON.stringify([{ Version: 'A', DevicePath: '/dev/hidraw1' }]));
    const state = (devs: string[]) =>
      JSON.stringify({ enabled: true, listening: true, address: '127.0.0.1', port: 6742, clients: [{ id: 1, name: 'Player', peer: 'p', devices: devs }] });
    const host = fakeHost();
    const off = watchDesktop(createClient(host));
    render(<ControlledBanner device={device} />);
    host.raise('SdkServerChanged', [state(['/dev/hidraw1'])]);
    expect((await screen.findByRole('status')).textContent).toMatch(/controlled by Player/);
    host.raise('SdkServerChanged', [state([])]);
    await waitFor(() => expect(screen.queryByRole('status')).toBeNull());
    off();
  });
});
