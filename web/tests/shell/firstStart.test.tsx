import { fireEvent, render, screen, waitFor } from '@testing-library/preact';
import { describe, expect, it, vi } from 'vitest';
import { createClient } from '../../src/native/client';
import { devices, parseDeviceList } from '../../src/state/devices';
import {
  autorun,
  checkFirstStart,
  finishFirstStart,
  firstStart,
  restartForFirstStart,
  restartGainsNothing,
  setAutorun,
} from '../../src/state/settings';
import { Welcome } from '../../src/shell/Welcome';
import { fakeHost } from '../fakeHost';

describe('first start and start at logon', () => {
  it('welcomes on the first start, restarts on request and comes back when the request fails', async () => {
    const host = fakeHost();
    const client = createClient(host);
    const check = checkFirstStart(client);
    expect(JSON.parse(host.queries[0].request)).toEqual({ FuncName: 'IsFirstStart' });
    host.answer(0, '1');
    await check;
    expect(firstStart.value).toBe('welcome');

    const refused = restartForFirstStart(client);
    expect(firstStart.value).toBe('restarting');
    host.fail(1, -1, 'unknown');
    await refused;
    // A failure from the program is an answer: it did not quit, so the welcome stays.
    expect(firstStart.value).toBe('welcome');

    const done = restartForFirstStart(client);
    host.answer(2, '');
    expect(await done).toBe(true);
    expect(firstStart.value).toBe('done');

    const later = checkFirstStart(client);
    host.answer(3, '0');
    await later;
    expect(firstStart.value).toBe('done');
  });

  it('shows the welcome with its two choices and hides it for later', async () => {
    firstStart.value = 'welcome';
    const platform = vi.spyOn(navigator, 'platform', 'get').mockReturnValue('Win32');
    const agent = vi.spyOn(navigator, 'userAgent', 'get').mockReturnValue('Torvanix');
    render(<Welcome />);
    platform.mockRestore();
    agent.mockRestore();
    expect(screen.getByRole('region', { name: 'Welcome to Torvanix' })).toBeTruthy();
    fireEvent.click(screen.getByRole('button', { name: 'Later' }));
    await waitFor(() => expect(screen.queryByRole('button', { name: 'Restart now' })).toBeNull());
  });

  it('ends a Linux first run in place, naming the devices the user may not open', async () => {
    expect(restartGainsNothing('Linux x86_64 Torvanix')).toBe(true);
    devices.value = parseDeviceList(
      JSON.stringify([
        { Version: '258A0013', DevicePath: 'p1', Permission: 'denied', PermissionRule: 'r' },
        { Version: '258A0014', DevicePath: 'p2' },
      ]),
    );
    firstStart.value = 'welcome';
    render(<Welcome />);
    expect(screen.getByText(/Found 2 device/)).toBeTruthy();
    expect(screen.getByText(/You may not open Device 258A0013\./)).toBeTruthy();
    expect(screen.getByLabelText('Commands that install the device rules').textContent).toContain('udev-rules');
    expect(screen.queryByRole('button', { name: 'Restart now' })).toBeNull();
    devices.value = [];

    const host = fakeHost();
    const refused = finishFirstStart(createClient(host));
    expect(JSON.parse(host.queries[0].request)).toEqual({ FuncName: 'FinishFirstStart' });
    host.fail(0, -1, 'unknown');
    expect(await refused).toBe(false);
    expect(firstStart.value).toBe('welcome');
    const done = finishFirstStart(createClient(host));
    host.answer(1, '');
    expect(await done).toBe(true);
    expect(firstStart.value).toBe('done');
  });

  it('asks for start at logon with the flag the program reads and remembers only what was handed over', () => {
    const host = fakeHost();
    expect(setAutorun(true, createClient(host))).toBe(true);
    expect(JSON.parse(host.queries[0].request)).toEqual({ FuncName: 'SetAutoRun', boolAutonRun: 1 });
    expect(autorun.value).toBe(true);
    const refusing = { ...fakeHost(), ClientRequest: undefined as never };
    expect(setAutorun(false, createClient(refusing))).toBe(false);
    expect(autorun.value).toBe(true);
  });
});
