import { fireEvent, render, screen, waitFor } from '@testing-library/preact';
import { describe, expect, it } from 'vitest';
import { createClient } from '../../src/native/client';
import { autorun, checkFirstStart, firstStart, restartForFirstStart, setAutorun } from '../../src/state/settings';
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
    render(<Welcome />);
    expect(screen.getByRole('region', { name: 'Welcome to Torvanix' })).toBeTruthy();
    fireEvent.click(screen.getByRole('button', { name: 'Later' }));
    await waitFor(() => expect(screen.queryByRole('button', { name: 'Restart now' })).toBeNull());
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
