import { fireEvent, render, screen } from '@testing-library/preact';
import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import { TitleBar } from '../../src/shell/TitleBar';
import { closeBlockedBy } from '../../src/updates/guard';
import { fakeHost, withNative, type FakeHost } from '../fakeHost';

let host: FakeHost;
const sent = () => host.queries.map((q) => q.request);

beforeEach(() => {
  host = fakeHost();
});

afterEach(() => {
  vi.useRealTimers();
});

describe('window chrome', () => {
  it('moves the window by the dragged distance, gathered per frame', async () => {
    const { container } = render(withNative(host, <TitleBar />));
    const bar = container.querySelector('header') as HTMLElement;
    fireEvent.pointerDown(bar, { button: 0, pointerId: 1, screenX: 100, screenY: 100 });
    fireEvent.pointerMove(bar, { pointerId: 1, screenX: 104, screenY: 101 });
    fireEvent.pointerMove(bar, { pointerId: 1, screenX: 110, screenY: 95 });
    await new Promise((r) => requestAnimationFrame(() => r(null)));
    fireEvent.pointerMove(bar, { pointerId: 1, screenX: 111, screenY: 95 });
    fireEvent.pointerUp(bar, { pointerId: 1, screenX: 111, screenY: 95 });
    fireEvent.pointerMove(bar, { pointerId: 1, screenX: 150, screenY: 150 }); // released: nothing
    expect(sent()).toEqual(['MoveWindow:10,-5,0,0', 'MoveWindow:1,0,0,0']);
  });

  it('minimises and closes with the exact requests and does not drag from its buttons', () => {
    render(withNative(host, <TitleBar />));
    const minimise = screen.getByRole('button', { name: 'Minimise' });
    fireEvent.pointerDown(minimise, { button: 0, pointerId: 2, screenX: 0, screenY: 0 });
    fireEvent.pointerMove(minimise, { pointerId: 2, screenX: 30, screenY: 0 });
    fireEvent.click(minimise);
    fireEvent.click(screen.getByRole('button', { name: 'Close' }));
    expect(sent()).toEqual(['{"FuncName":"MinisizeWindow"}', '{"FuncName":"CloseX"}']);
  });

  it('does not close while firmware is written, and says why', () => {
    closeBlockedBy.value = 'Torvanix Keystone 104';
    try {
      render(withNative(host, <TitleBar />));
      fireEvent.click(screen.getByRole('button', { name: 'Close' }));
      expect(sent()).toEqual([]);
      expect(screen.getByRole('dialog', { name: 'Torvanix cannot close now' }).textContent).toContain('Torvanix Keystone 104');
      fireEvent.click(screen.getByRole('button', { name: 'Keep updating' }));
      expect(screen.queryByRole('dialog')).toBeNull();
    } finally {
      closeBlockedBy.value = null;
    }
  });
});
