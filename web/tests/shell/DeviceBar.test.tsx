import { render, screen } from '@testing-library/preact';
import { afterEach, describe, expect, it } from 'vitest';
import { DeviceBar } from '../../src/shell/DeviceBar';
import { devices, parseDeviceList } from '../../src/state/devices';

afterEach(() => {
  devices.value = [];
});

describe('device bar', () => {
  it('says which device cannot be opened and which rules file to install', () => {
    devices.value = parseDeviceList(
      JSON.stringify([
        { Version: '258A0013', DevicePath: 'p1', Permission: 'denied', PermissionRule: '/usr/lib/udev/rules.d/70-torvanix.rules' },
        { Version: 'TOB-NIR-V1.2.0', DevicePath: 'p2', ConnectStatus: '1' },
      ]),
    );
    render(<DeviceBar />);
    const notes = screen.getAllByText(/No permission to open it/);
    expect(notes).toHaveLength(1);
    expect(notes[0].textContent).toContain('/usr/lib/udev/rules.d/70-torvanix.rules');
    // The note belongs to the denied device's card, and is read with its button.
    const button = screen.getByRole('button', { name: 'Device 258A0013' });
    expect(button.getAttribute('aria-describedby')).toBe(notes[0].parentElement?.id);
  });
});
