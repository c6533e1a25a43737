import { cleanup, fireEvent, render, screen, waitFor } from '@testing-library/preact';
import { afterEach, beforeEach, describe, expect, it } from 'vitest';
import { addMacro, macros, reloadMacros } from '../../../src/macros/library';
import { assignKey } from '../../../src/model/builders';
import { resetSessions, sessionFor } from '../../../src/model/session';
import { statusMessage } from '../../../src/state/messages';
import { clearUndo, undo, undoDepth } from '../../../src/state/undo';
import { macrosOf } from '../../../src/model/template';
import { findByName, setAttr } from '../../../src/model/xml';
import { MacrosPage } from '../../../src/pages/macros/MacrosPage';
import { parseTemplate } from '../../../src/state/templates';
import { model } from '../../model/fixtures';

let sent: Array<Record<string, string>> = [];
// Whether the keyboard takes a macro table (the native side answers it once it was sent).
let tableTaken = true;

beforeEach(() => {
  sent = [];
  tableTaken = true;
  localStorage.clear();
  reloadMacros();
  (window as unknown as Record<string, unknown>).ClientRequest = (o: { request: string; onSuccess?: (a: string) => void; onFailure?: (c: number, t: string) => void }) => {
    const request = JSON.parse(o.request) as Record<string, string>;
    sent.push(request);
    if (request.FuncName === 'NoticeMacoModify') queueMicrotask(() => (tableTaken ? o.onSuccess?.('success') : o.onFailure?.(0, 'failed')));
    return 1;
  };
});

afterEach(() => {
  cleanup();
  resetSessions();
  clearUndo();
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
    await waitFor(() => expect(sent.some((r) => r.FuncName === 'NoticeMacoModify')).toBe(true));
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

  it('sends the D2.0 key records again when the macro they play is replaced', async () => {
    const p = props('keystone-104.xml', 'TOB-NIR-V1.2.0');
    addMacro({ name: 'Two', steps: [{ kind: 'keyDown', key: 'B' }, { kind: 'keyUp', key: 'B' }], playback: { playtype: 1, delay: 0, count: 2 } });
    const s = sessionFor(p.device, p.template);
    const slot = { ...macrosOf(s.doc.value)[0], text: '键盘按下(A)键盘弹起(A):1|0|1' };
    s.doc.value = assignKey(s.doc.value, 'Button2', { kind: 'macro', macro: slot }).doc;
    setAttr(findByName(s.doc.value, 'key', slot.name)!, 'value', slot.text);
    render(<MacrosPage {...p} />);
    fireEvent.click(screen.getByRole('button', { name: 'Put in slot' }));
    fireEvent.click(await screen.findByRole('button', { name: 'Replace' }));
    await waitFor(() => expect(sent.filter((r) => r.FuncName === 'NoticeModify')).toHaveLength(1));
    const doc = sent.find((r) => r.FuncName === 'NoticeModify')!.XmlConfigStr;
    expect(doc).toMatch(/name="Button2"[^>]*type="Macro" task="键盘按下\(B\)键盘弹起\(B\):1\|0\|2"[^>]*action="set"/);
    // Undone, the key plays the slot's old macro again.
    expect(await undo()).toBe(true);
    const back = sent.filter((r) => r.FuncName === 'NoticeModify')[1].XmlConfigStr;
    expect(back).toMatch(/name="Button2"[^>]*type="Macro" task="键盘按下\(A\)键盘弹起\(A\):1\|0\|1"[^>]*action="set"/);
  });

  it('puts a macro into the packet keyboard through the commit model: a refused table is said so, a taken one undone', async () => {
    const p = props('pulse-104.xml', '0c458075');
    addMacro({ name: 'Tap', steps: [{ kind: 'keyDown', key: 'A' }, { kind: 'keyUp', key: 'A' }], playback: { playtype: 1, delay: 0, count: 1 } });
    const s = sessionFor(p.device, p.template);
    const slot = () => macrosOf(s.doc.value)[0].text;
    render(<MacrosPage {...p} />);
    tableTaken = false;
    fireEvent.click(screen.getByRole('button', { name: 'Put in slot' }));
    await waitFor(() => expect(statusMessage.value?.text).toBe('"Tap" in Slot 1: the device did not take the change'));
    expect([slot(), s.refused.value, undoDepth()]).toEqual(['', 1, 0]);

    tableTaken = true;
    fireEvent.click(screen.getByRole('button', { name: 'Put in slot' }));
    await waitFor(() => expect(statusMessage.value?.text).toBe('"Tap" sent to Torvanix Pulse 104 as Slot 1'));
    expect(slot()).toMatch(/^键盘按下\(A\)键盘弹起\(A\):/);
    expect(await undo()).toBe(true);
    const tables = sent.filter((r) => r.FuncName === 'NoticeMacoModify').map((r) => (JSON.parse(r.MacroArr) as Array<{ content: string }>)[0].content);
    // The refused table, the taken one, and the empty one that undoes it.
    expect(tables).toEqual([expect.stringMatching(/^键盘按下/), expect.stringMatching(/^键盘按下/), '']);
    expect(slot()).toBe('');
  });
});
