import { cleanup, fireEvent, render, screen } from '@testing-library/preact';
import { afterEach, expect, it } from 'vitest';
import { UpdateHost } from '../../../src/pages/firmware/UpdateHost';
import { idle } from '../../../src/updates/progress';
import { firmwareRun, firmwareTarget } from '../../../src/updates/run';

afterEach(() => {
  cleanup();
  firmwareRun.value = idle;
  firmwareTarget.value = null;
});

it('keeps the update window through Esc while firmware is written, and lets Esc close it once the run failed', async () => {
  firmwareTarget.value = { deviceId: 'd', identity: 'X', devicePath: '/dev/x', name: 'Glide', current: null, next: '1.1' };
  firmwareRun.value = { ...idle, phase: 'flashing', percent: 40 };
  const { rerender } = render(<UpdateHost />);
  const box = screen.getByRole('dialog', { name: 'Firmware update: Glide' });
  expect(document.activeElement).toBe(box);
  fireEvent.keyDown(box, { key: 'Escape' });
  expect(screen.queryByRole('dialog')).not.toBeNull();

  firmwareRun.value = { ...firmwareRun.value, phase: 'failed', failure: { stage: 'flash', reason: 'updates.fail.flash', step: 'write' } };
  rerender(<UpdateHost />);
  fireEvent.keyDown(screen.getByRole('dialog'), { key: 'Escape' });
  rerender(<UpdateHost />);
  expect(screen.queryByRole('dialog')).toBeNull();
});
