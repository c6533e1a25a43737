import { cleanup, fireEvent, render, screen, waitFor } from '@testing-library/preact';
import { afterEach, beforeEach, describe, expect, it } from 'vitest';
import { macros, reloadMacros } from '../../../src/macros/library';
import { resetSessions } from '../../../src/model/session';
import { MacrosPage } from '../../../src/pages/macros/MacrosPage';
import { parseTemplate } from '../../../src/state/templates';
import { model } from '../../model/fixtures';

let sent: Array<Record<string, string>> = [];

beforeEach(() => {
  sent = [];
  localStorage.clear();
  reloadMacros();
  (window as unknown as Record<string, unknown>).ClientRequest = (o: { request: string }) => {
    sent.push(JSON.parse(o.request) as Record<string, string>);
    return 1;
  };
});

afterEach(() => {
  cleanup();
  resetSessions();
});

function props(file: string, id: string) {
  return { device: { id, record: { Version: id } }, template: parseTemplate(id, model(file))! };
}

describe('macros page', () => {
  it('records Enter and Esc, stops by the button and sends the macro table to the packet keyboard', async () => {
    render(<MacrosPage {...props('pulse-104.xml', '0c458075')} />);
    fireEvent.click(screen.getByRole('button', { name: 'New macro' }));
    fireEvent.click(screen.getByRole('radio', { name: 'No pauses' }));
    fireEvent.click(screen.getByRole('button', { name: 'Start recording' }));
    const stop = await screen.findByRole('button', { name: 'Stop recording' });
    for (const code of ['Enter', 'Escape']) {
      fireEvent.keyDown(window, { code, key: code });
      fireEvent.keyUp(window, { code, key: code });
    }
    fireEvent.mouseDown(stop, { button: 0 });
    fireEvent.mouseUp(stop, { button: 0 });
    fireEvent.click(stop);
    await waitFor(() => expect(macros.value[0].steps).toHaveLength(4));
    fireEvent.click(screen.getByRole('button', { name: 'Put in slot' }));
    const table = sent.find((r) => r.FuncName === 'NoticeMacoModify')!;
    expect(table.Ver.toLowerCase()).toBe('0c458075');
    const arr = JSON.parse(table.MacroArr) as Array<{ content: string }>;
    expect(arr).toHaveLength(10);
    expect(arr[0].content).toMatch(/^键盘按下\((ENTER|Enter)\)键盘弹起\(\1\)键盘按下\((ESC|Esc)\)键盘弹起\(\2\):1\|0\|1$/);
    expect(arr.slice(1).every((m) => m.content === '')).toBe(true);
  });

  it('asks before deleting a macro and keeps it when declined', async () => {
    render(<MacrosPage {...props('pulse-104.xml', '0c458075')} />);
    fireEvent.click(screen.getByRole('button', { name: 'New macro' }));
    fireEvent.click(screen.getByRole('button', { name: 'Delete' }));
    fireEvent.click(await screen.findByRole('button', { name: 'Cancel' }));
    expect(macros.value).toHaveLength(1);
    fireEvent.click(screen.getByRole('button', { name: 'Delete' }));
    const dialog = await screen.findByRole('alertdialog');
    fireEvent.click(dialog.querySelector('.button.danger')!);
    expect(macros.value).toHaveLength(0);
  });
});
