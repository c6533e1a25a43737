import { fireEvent, render, screen } from '@testing-library/preact';
import { beforeEach, describe, expect, it } from 'vitest';
import { ProfilesPage } from '../../../src/pages/profiles/ProfilesPage';
import { buildProfileFile } from '../../../src/pages/profiles/profileFile';
import type { Device } from '../../../src/state/devices';
import { statusMessage } from '../../../src/state/messages';
import { currentProfiles } from '../../../src/state/profiles';
import { parseTemplate } from '../../../src/state/templates';
import { clearUndo, commit, undoDepth } from '../../../src/state/undo';
import type { ClientRequestOptions } from '../../../src/native/client';
import { fakeHost, withNative } from '../../fakeHost';

const glideText = `<configuration model="Torvanix Glide 6"><key name="UsbId" index="1" length="4" value="QPA-RTE-V1.1.0"/>
<key name="CurProfile" index="5" length="1" value="1"/><key name="Button1" index="11" length="15" type="MOUSE" task="x"/></configuration>`;
const glide = parseTemplate('QPA-RTE-V1.1.0', glideText)!;
const device: Device = { id: 'QPA-RTE-V1.1.0@p', record: { Version: 'QPA-RTE-V1.1.0', DevicePath: 'p', ProfileCount: '4' } };

let queries: ClientRequestOptions[];
const sentDocs = () =>
  queries.filter((q) => q.request.indexOf('NoticeModify') >= 0).map((q) => JSON.parse(q.request).XmlConfigStr as string);

const host = {
  ...fakeHost(),
  ClientRequest: (o: ClientRequestOptions) => {
    queries.push(o);
    return queries.length;
  },
};

beforeEach(() => {
  queries = [];
  currentProfiles.value = {};
  clearUndo();
});

describe('profiles page', () => {
  it('switches the profile on the device and names it', () => {
    render(withNative(host, <ProfilesPage device={device} template={glide} />));
    fireEvent.click(screen.getByRole('radio', { name: 'Profile 3' }));
    expect(currentProfiles.value[device.id]).toBe(3);
    expect(sentDocs()).toHaveLength(1);
    expect(sentDocs()[0]).toContain('name="CurProfile" index="5" length="1" value="3" action="set"');
    expect(statusMessage.value?.text).toBe('Profile 3 of Torvanix Glide 6 is now the current profile');
  });

  it('resets only after the confirmation that names the profile, and forgets the history', async () => {
    await commit({ label: 'x', apply: async () => undefined, revert: async () => undefined, deviceId: device.id });
    render(withNative(host, <ProfilesPage device={device} template={glide} />));
    fireEvent.click(screen.getByRole('button', { name: 'Reset to defaults' }));
    expect(screen.getByRole('alertdialog').textContent).toContain('Reset Profile 1 of Torvanix Glide 6');
    expect(sentDocs()).toHaveLength(0);
    fireEvent.click(screen.getByRole('button', { name: 'Reset' }));
    expect(sentDocs()[0]).toContain('<configuration action="reset">');
    expect(undoDepth()).toBe(0);
  });

  it('imports a file of this device and refuses one of another', async () => {
    render(withNative(host, <ProfilesPage device={device} template={glide} />));
    fireEvent.click(screen.getByRole('button', { name: 'Import profile' }));
    const own = buildProfileFile({ model: 'Torvanix Glide 6', device: 'QPA-RTE-V1.1.0', profile: 1, configuration: glideText, name: 'g' });
    queries.find((q) => q.request === '{"FuncName":"LoadProfile"}')?.onSuccess?.(own);
    await new Promise((r) => setTimeout(r, 0));
    expect(sentDocs()).toHaveLength(1);
    expect(statusMessage.value?.kind).toBe('success');

    fireEvent.click(screen.getByRole('button', { name: 'Import profile' }));
    const other = buildProfileFile({ model: 'Torvanix Orbit 6', device: '258A002E', profile: 1, configuration: glideText.replace('QPA-RTE-V1.1.0', '258a002e'), name: 'o' });
    queries.filter((q) => q.request === '{"FuncName":"LoadProfile"}')[1].onSuccess?.(other);
    await new Promise((r) => setTimeout(r, 0));
    expect(sentDocs()).toHaveLength(1);
    expect(statusMessage.value?.text).toBe('This profile belongs to Torvanix Orbit 6, not to Torvanix Glide 6');
  });

  it('exports the configuration under a safe name and reports a failed write', async () => {
    render(withNative(host, <ProfilesPage device={device} template={glide} />));
    fireEvent.click(screen.getByRole('button', { name: 'Export profile' }));
    const q = queries.find((x) => x.request.indexOf('SaveProfile') >= 0)!;
    const file = JSON.parse(JSON.parse(q.request).CommandString);
    expect(file).toMatchObject({ kind: 'torvanix-profile', name: 'Torvanix Glide 6 Profile 1', device: 'QPA-RTE-V1.1.0' });
    q.onFailure?.(0, 'SaveCommand is failed!');
    await new Promise((r) => setTimeout(r, 0));
    expect(statusMessage.value).toMatchObject({ kind: 'error', text: 'The profile file could not be written' });
  });
});
