import { fireEvent, render, screen } from '@testing-library/preact';
import { act } from 'preact/test-utils';
import { beforeEach, describe, expect, it } from 'vitest';
import { createTexts } from '../../src/i18n/core';
import { createClient } from '../../src/native/client';
import { NativeContext } from '../../src/native/context';
import help from '../../src/help/dictionary';
import { parseAssignments } from '../../src/quickset/hotkeys';
import { openHotKeyPanel } from '../../src/quickset/open';
import { QuickSet } from '../../src/quickset/QuickSet';
import { fakeHost } from '../fakeHost';

describe('hot-key panel', () => {
  beforeEach(() => localStorage.clear());

  it('registers for the hot keys, shows the one received and does what was chosen for it', () => {
    const host = fakeHost();
    render(
      <NativeContext.Provider value={createClient(host)}>
        <QuickSet />
      </NativeContext.Provider>,
    );
    expect(host.registrations).toEqual(['HotKeyMsg']);
    expect(screen.getByRole('status').textContent).toMatch(/No hot key received yet/);

    fireEvent.change(screen.getByLabelText('Action for F2'), { target: { value: 'showMain' } });
    act(() => host.raise('HotKeyMsg', ['F2']));
    expect(screen.getByRole('status').textContent).toMatch(/F2: showed the Torvanix window/);
    expect(host.queries.map((q) => JSON.parse(q.request).FuncName)).toEqual(['ShowClient']);
    expect(parseAssignments(localStorage.getItem('torvanix.hotkeys')).F2).toBe('showMain');

    act(() => host.raise('HotKeyMsg', ['F3']));
    expect(screen.getByRole('status').textContent).toMatch(/F3: does nothing/);
    // Not one of the hot keys the program sends: ignored.
    act(() => host.raise('HotKeyMsg', ['Q']));
    expect(screen.getByRole('status').textContent).toMatch(/F3/);
    expect(host.queries).toHaveLength(1);
  });

  it('is opened beside the main page with its language query', () => {
    const host = fakeHost();
    expect(openHotKeyPanel(createClient(host), 'http://vendor.example/local/Torvanix/client.html?lang=zh_CN#x')).toBe(true);
    expect(JSON.parse(host.queries[0].request)).toEqual({
      FuncName: 'OpenView',
      Url: 'http://vendor.example/local/Torvanix/quick_set.html?lang=zh_CN',
      Width: 380,
      Height: 520,
    });
  });

  it('help page texts exist in both languages', () => {
    expect(Object.keys(help.zh).sort()).toEqual(Object.keys(help.en).sort());
    expect(createTexts([help]).translate('zh', 'help.back')).toBe('返回 Torvanix');
  });
});
