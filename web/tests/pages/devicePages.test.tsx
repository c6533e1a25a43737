import { cleanup, fireEvent, render, screen, waitFor } from '@testing-library/preact';
import { afterEach, beforeEach, describe, expect, it } from 'vitest';
import { KeysPage } from '../../src/pages/keys/KeysPage';
import { LightingPage } from '../../src/pages/lighting/LightingPage';
import { PerformancePage } from '../../src/pages/performance/PerformancePage';
import { resetSessions } from '../../src/model/session';
import { statusMessage } from '../../src/state/messages';
import { startNotifyRouting, stopNotifyRouting } from '../../src/state/notify';
import { parseTemplate } from '../../src/state/templates';
import { clearUndo, undoDepth } from '../../src/state/undo';
import { installShortcuts } from '../../src/shell/shortcuts';
import { createClient, type ClientRequestOptions, type NativeHost } from '../../src/native/client';
import { fakeHost, withNative } from '../fakeHost';
import { drive, model } from '../model/fixtures';

// A stand-in for the program: answers GetLocalConf from the tree, records every document
// sent, and can raise OnNotifySaveXml.
let sent: string[] = [];
let notify: ((args: unknown[]) => unknown) | null = null;
let echo = false;

const host: NativeHost = {
  ...fakeHost(),
  ClientRequest: (o: ClientRequestOptions) => {
    const r = JSON.parse(o.request) as Record<string, string>;
    if (r.FuncName === 'GetLocalConf') setTimeout(() => o.onSuccess?.(drive(r.Name)));
    if (r.FuncName === 'NoticeModify') {
      sent.push(r.XmlConfigStr);
      if (echo) setTimeout(() => notify?.([r.XmlConfigStr]));
    }
    return 1;
  },
  setMessageCallback: (name: string, cb: (args: unknown[]) => unknown) => {
    if (name === 'OnNotifySaveXml') notify = cb;
  },
};

beforeEach(() => {
  sent = [];
  echo = false;
  startNotifyRouting(createClient(host));
});

afterEach(() => {
  stopNotifyRouting();
  resetSessions();
  clearUndo();
});

function props(file: string, id: string) {
  const template = parseTemplate(id, model(file))!;
  return { device: { id, record: { Version: id } }, template };
}

const marked = (doc: string) => doc.split('\n').filter((l) => l.indexOf('action=') >= 0).map((l) => l.trim());

describe('device pages', () => {
  it('records Ctrl+Alt+Delete for a key of the packet keyboard and waits for its echo', async () => {
    echo = true;
    render(withNative(host, <KeysPage {...props('pulse-104.xml', '0c458075')} />));
    fireEvent.pointerDown(screen.getByRole('gridcell', { name: 'F1' }), { button: 0 });
    fireEvent.change(await screen.findByRole('combobox', { name: 'Function type' }), { target: { value: 'combo' } });
    const record = screen.getByRole('button', { name: 'Record a combination' });
    await waitFor(() => expect((record as HTMLButtonElement).disabled).toBe(false));
    fireEvent.click(record);
    for (const code of ['ControlLeft', 'AltLeft', 'Delete']) fireEvent.keyDown(window, { code, key: code });
    for (const code of ['Delete', 'AltLeft', 'ControlLeft']) fireEvent.keyUp(window, { code, key: code });
    await waitFor(() => expect(sent).toHaveLength(1));
    expect(marked(sent[0])[0]).toMatch(/name="Button2" .*type="HOTKEY" task="Ctrl\+Alt\+Delete".*action="set"/);
    await screen.findByRole('heading', { name: 'F1: Ctrl+Alt+Delete' });
  });

  it('asks before the last left click of a mouse goes, and sends nothing when declined', async () => {
    render(withNative(host, <KeysPage {...props('glide-6.xml', 'QPA-RTE-V1.1.0')} />));
    fireEvent.pointerDown(screen.getByRole('gridcell', { name: 'Button 1 (Left button)' }), { button: 0 });
    fireEvent.change(screen.getByRole('combobox', { name: 'Function type' }), { target: { value: 'mouse' } });
    const fn = await screen.findByRole('combobox', { name: 'Mouse function' });
    await waitFor(() => expect((fn as HTMLSelectElement).options.length).toBeGreaterThan(3));
    fireEvent.change(fn, { target: { value: '单击右键()' } });
    fireEvent.click(screen.getByRole('button', { name: 'Apply' }));
    fireEvent.click(await screen.findByRole('button', { name: 'Cancel' }));
    expect(sent).toEqual([]);
  });

  it("lists a mouse's buttons with what they do, selecting with the drawing and by the arrows", async () => {
    render(withNative(host, <KeysPage {...props('glide-6.xml', 'QPA-RTE-V1.1.0')} />));
    const list = screen.getByRole('listbox', { name: 'What each button does' });
    const options = () => Array.from(list.querySelectorAll('[role="option"]'));
    expect(options().map((o) => o.textContent)).toEqual([
      '1 — left: Left click',
      '2 — right: Right click',
      '3 — wheel: Middle click',
      '4 — side, back: Back',
      '5 — side, forward: Forward',
      '6 — top, DPI: DPI cycle',
    ]);
    const cell = (n: number) => document.getElementById(`mouse-button-${n}`)!;
    fireEvent.keyDown(options()[2], { key: 'ArrowDown' });
    expect(cell(4).getAttribute('aria-selected')).toBe('true');
    fireEvent.pointerDown(cell(1), { button: 0 });
    expect(options()[0].getAttribute('aria-selected')).toBe('true');
    fireEvent.pointerDown(cell(4), { button: 0 });
    fireEvent.keyDown(options()[3], { key: 'ArrowDown' });
    expect(cell(5).getAttribute('aria-selected')).toBe('true');
    expect(document.activeElement).toBe(options()[4]);
    await screen.findByRole('heading', { name: /^Button 5 \(Forward button\): / });

    // A disabled button says so in the list.
    fireEvent.change(screen.getByRole('combobox', { name: 'Function type' }), { target: { value: 'disable' } });
    fireEvent.click(screen.getByRole('button', { name: /^Disable / }));
    await waitFor(() => expect(sent).toHaveLength(1));
    await screen.findByRole('option', { name: /^5 — side, forward ?: Disabled$/ });
  });

  it('paints two keys and sets a DPI stage by its typed twin', async () => {
    render(withNative(host, <LightingPage {...props('keystone-104.xml', 'TOB-NIR-V1.2.0')} />));
    fireEvent.click(screen.getByRole('radio', { name: 'Per-key colours' }));
    await waitFor(() => expect(sent).toHaveLength(2)); // the lighting read, then the mode
    fireEvent.pointerDown(screen.getByRole('gridcell', { name: 'Esc' }), { button: 0, ctrlKey: true });
    fireEvent.pointerDown(screen.getByRole('gridcell', { name: 'F1' }), { button: 0, ctrlKey: true });
    fireEvent.click(screen.getByRole('button', { name: 'Paint selected keys' }));
    await waitFor(() => expect(sent).toHaveLength(3));
    expect(sent[2]).toContain('<key name="ESC" rc="0" rgb="ff0000" />');
    expect(sent[2]).toContain('<key name="F1" rc="1" rgb="ff0000" />');
    expect(sent[2]).toContain('<key name="F2" rc="2" rgb="ffffff" />');

    render(withNative(host, <PerformancePage {...props('orbit-6.xml', '258A002E')} />));
    const box = screen.getByRole('spinbutton', { name: 'Stage 2 DPI' });
    fireEvent.input(box, { target: { value: '2400' } });
    fireEvent.keyDown(box, { key: 'Enter' });
    await waitFor(() => expect(sent).toHaveLength(4));
    expect(sent[3]).toContain('<key name="Dpi2" sync="1" state="1" x="2400" y="2400" />');
  });

  it('moves and removes DPI stages keeping the current stage, and shows colour only where it reaches the mouse', async () => {
    render(withNative(host, <PerformancePage {...props('orbit-6.xml', '258A002E')} />));
    fireEvent.click(screen.getByRole('radio', { name: 'Stage 3' }));
    await waitFor(() => expect(sent).toHaveLength(1));
    fireEvent.click(screen.getByRole('button', { name: 'Move stage 3 up' }));
    await waitFor(() => expect(sent).toHaveLength(2));
    expect(sent[1]).toContain('<dpi index="131" count="4" current="2">');
    expect(sent[1]).toMatch(/name="Dpi2" sync="1" state="1" x="3200"/);
    fireEvent.click(screen.getByRole('button', { name: 'Remove stage 1' }));
    await waitFor(() => expect(sent).toHaveLength(3));
    expect(sent[2]).toContain('<dpi index="131" count="3" current="1">');

    render(withNative(host, <LightingPage {...props('orbit-6.xml', '258A002E')} />));
    expect(screen.getByRole('textbox', { name: 'Hex colour' })).toBeTruthy();
    fireEvent.change(screen.getByRole('combobox', { name: 'Effect' }), { target: { value: '5' } });
    await screen.findByText('The colour applies to Effect 2 only.');
    expect(marked(sent[3])).toEqual([
      '<mode name="Default" index="5" length="1" action="set">',
      '<key name="LightMode" index="162" length="1" value="5" default="2" type="mode" action="set" />',
    ]);
  });

  it('disables a key of a D2.0 keyboard but offers no disable on the packet keyboard', async () => {
    render(withNative(host, <KeysPage {...props('keystone-104.xml', 'TOB-NIR-V1.2.0')} />));
    fireEvent.pointerDown(screen.getByRole('gridcell', { name: 'Caps Lock' }), { button: 0 });
    fireEvent.change(screen.getByRole('combobox', { name: 'Function type' }), { target: { value: 'disable' } });
    fireEvent.click(screen.getByRole('button', { name: 'Disable Caps Lock' }));
    await waitFor(() => expect(sent).toHaveLength(1));
    expect(marked(sent[0])[0]).toMatch(/type="DISABLED" task="DISABLED".*action="set"/);
    cleanup();
    render(withNative(host, <KeysPage {...props('pulse-104.xml', '0c458075')} />));
    fireEvent.pointerDown(screen.getByRole('gridcell', { name: 'Caps Lock' }), { button: 0 });
    const kinds = Array.from((screen.getByRole('combobox', { name: 'Function type' }) as HTMLSelectElement).options).map((o) => o.value);
    expect(kinds).toEqual(['keyboard', 'combo', 'mouse', 'media', 'macro']);
  });

  it('shows the held value again when the program does not take a change', async () => {
    render(withNative({ ...host, ClientRequest: undefined }, <PerformancePage {...props('orbit-6.xml', '258A002E')} />));
    const box = () => screen.getByRole('spinbutton', { name: 'Stage 2 DPI' }) as HTMLInputElement;
    fireEvent.input(box(), { target: { value: '2400' } });
    fireEvent.keyDown(box(), { key: 'Enter' });
    await waitFor(() => expect(box().value).toBe('1600'));
  });

  it('moves through the keys with the arrows, and records what the page would otherwise take (Ctrl+Z, F13)', async () => {
    render(withNative(host, <KeysPage {...props('keystone-104.xml', 'TOB-NIR-V1.2.0')} />));
    const esc = screen.getByRole('gridcell', { name: 'Esc' });
    esc.focus();
    fireEvent.keyDown(esc, { key: 'ArrowDown' });
    fireEvent.keyDown(document.activeElement as Element, { key: 'ArrowRight' });
    fireEvent.keyDown(document.activeElement as Element, { key: 'Enter' });
    await screen.findByRole('heading', { name: '1: 1' });
    fireEvent.change(screen.getByRole('combobox', { name: 'Function type' }), { target: { value: 'combo' } });
    const record = screen.getByRole('button', { name: 'Record a combination' });
    await waitFor(() => expect((record as HTMLButtonElement).disabled).toBe(false));
    // Keys as the engine sends them: to the focused element, with the held modifiers flagged.
    const press = (codes: string[]) => {
      fireEvent.click(record);
      record.focus();
      const keyOf = (code: string) => (code === 'KeyZ' ? 'z' : code);
      codes.forEach((code, i) => fireEvent.keyDown(record, { code, key: keyOf(code), ctrlKey: codes.slice(0, i + 1).indexOf('ControlLeft') >= 0 }));
      codes.slice().reverse().forEach((code, i, up) => fireEvent.keyUp(record, { code, key: keyOf(code), ctrlKey: up.slice(i + 1).indexOf('ControlLeft') >= 0 }));
    };
    press(['F13']);
    await waitFor(() => expect(statusMessage.value?.text).toBe('F13 cannot be assigned on this device.'));
    // With the page's own Ctrl+Z (undo) listening: recording twice stacks two edits, undoes none.
    const off = installShortcuts(document);
    press(['ControlLeft', 'KeyZ']);
    await waitFor(() => expect(sent).toHaveLength(1));
    press(['ControlLeft', 'KeyZ']);
    await waitFor(() => expect(undoDepth()).toBe(2));
    off();
    expect(sent.map((d) => marked(d)[0])).toEqual([0, 1].map(() => expect.stringMatching(/name="Button18" .*type="HOTKEY" task="Ctrl\+Z".*action="set"/)));
  });

  it('drags over keys to select them, and shows each notebook zone with what it has', async () => {
    render(withNative(host, <LightingPage {...props('nimbus-notebook.xml', 'WSU-DFO-V1.1.0')} />));
    expect(screen.getAllByRole('combobox', { name: 'Effect' })).toHaveLength(2);
    expect(screen.getAllByRole('combobox', { name: 'Direction' })).toHaveLength(1);
    fireEvent.click(screen.getByRole('radio', { name: 'Per-key colours' }));
    const cell = (name: string) => screen.getByRole('gridcell', { name });
    fireEvent.pointerDown(cell('A'), { button: 0 });
    fireEvent.pointerMove(cell('S'));
    fireEvent.pointerMove(cell('D'));
    fireEvent.pointerUp(window);
    fireEvent.pointerMove(cell('F'));
    await screen.findByText('3 keys selected');
    expect([cell('A'), cell('S'), cell('D'), cell('F')].map((c) => c.getAttribute('aria-selected'))).toEqual(['true', 'true', 'true', 'false']);
  });

  it('says so when a model document cannot be read, instead of failing to draw', () => {
    const template = parseTemplate('X', '<configuration Ver="K2.0"><key name="SN" value="" /></configuration>')!;
    render(withNative(host, <KeysPage device={{ id: 'x', record: { Version: 'X' } }} template={template} />));
    screen.getByText('The settings of this model could not be read.');
  });
});
