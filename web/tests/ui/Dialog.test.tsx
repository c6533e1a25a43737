import { fireEvent, render, screen } from '@testing-library/preact';
import { useState } from 'preact/hooks';
import { describe, expect, it, vi } from 'vitest';
import { ConfirmDialog } from '../../src/ui/ConfirmDialog';
import { RangeField } from '../../src/ui/RangeField';

function Harness({ onConfirm }: { onConfirm: () => void }) {
  const [open, setOpen] = useState(false);
  return (
    <div>
      <button onClick={() => setOpen(true)}>Reset to defaults</button>
      <ConfirmDialog
        open={open}
        title="Reset to defaults?"
        message="Reset Profile 2 of Torvanix Glide 6?"
        confirmLabel="Reset"
        cancelLabel="Cancel"
        onConfirm={onConfirm}
        onCancel={() => setOpen(false)}
      />
    </div>
  );
}

describe('confirmation dialog', () => {
  it('names the object, focuses Cancel, keeps Tab inside and returns focus on Esc', () => {
    render(<Harness onConfirm={vi.fn()} />);
    const opener = screen.getByRole('button', { name: 'Reset to defaults' });
    opener.focus();
    fireEvent.click(opener);
    const dialog = screen.getByRole('alertdialog', { name: 'Reset to defaults?' });
    expect(dialog.textContent).toContain('Profile 2 of Torvanix Glide 6');
    const cancel = screen.getByRole('button', { name: 'Cancel' });
    const reset = screen.getByRole('button', { name: 'Reset' });
    expect(document.activeElement).toBe(cancel);
    reset.focus();
    fireEvent.keyDown(reset, { key: 'Tab' });
    expect(document.activeElement).toBe(cancel);
    fireEvent.keyDown(cancel, { key: 'Tab', shiftKey: true });
    expect(document.activeElement).toBe(reset);
    fireEvent.keyDown(reset, { key: 'Escape' });
    expect(screen.queryByRole('alertdialog')).toBeNull();
    expect(document.activeElement).toBe(opener);
  });
});

describe('slider with a typed twin', () => {
  it('commits once when the value settles, not while it moves', () => {
    const commit = vi.fn();
    render(<RangeField label="Stage 2 DPI" value={800} min={100} max={16000} step={100} onCommit={commit} />);
    const slider = screen.getByRole('slider', { name: 'Stage 2 DPI' });
    fireEvent.input(slider, { target: { value: '1200' } });
    fireEvent.input(slider, { target: { value: '1600' } });
    expect(commit).not.toHaveBeenCalled();
    fireEvent.change(slider, { target: { value: '1600' } });
    expect(commit).toHaveBeenCalledWith(1600);
    const box = screen.getByRole('spinbutton', { name: 'Stage 2 DPI' });
    fireEvent.input(box, { target: { value: '2049' } });
    fireEvent.keyDown(box, { key: 'Enter' });
    expect(commit).toHaveBeenLastCalledWith(2000);
    fireEvent.input(box, { target: { value: 'abc' } });
    fireEvent.blur(box);
    expect(commit).toHaveBeenCalledTimes(2);
    expect((box as HTMLInputElement).value).toBe('800');
  });
});
