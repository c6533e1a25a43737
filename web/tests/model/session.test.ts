import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import { assignKey, revertKey } from '../../src/model/builders';
import { ECHO_TIMEOUT_MS, commitEdit, resetSessions, sessionFor, writeChange } from '../../src/model/session';
import { keysOf } from '../../src/model/template';
import { startNotifyRouting, stopNotifyRouting } from '../../src/state/notify';
import { parseTemplate } from '../../src/state/templates';
import { clearUndo, undo } from '../../src/state/undo';
import { createClient, type ClientRequestOptions, type NativeHost } from '../../src/native/client';
import { fakeHost } from '../fakeHost';
import { model } from './fixtures';

let sent: string[] = [];
let notify: ((args: unknown[]) => unknown) | null = null;
let echo = true;

const host: NativeHost = {
  ...fakeHost(),
  ClientRequest: (o: ClientRequestOptions) => {
    const r = JSON.parse(o.request) as Record<string, string>;
    sent.push(r.XmlConfigStr);
    if (echo) setTimeout(() => notify?.([r.XmlConfigStr.replace(/ action="set"/g, '')]));
    return 1;
  },
  setMessageCallback: (_: string, cb: (args: unknown[]) => unknown) => {
    notify = cb;
  },
};

beforeEach(() => {
  sent = [];
  echo = true;
  startNotifyRouting(createClient(host));
});

afterEach(() => {
  vi.useRealTimers();
  stopNotifyRouting();
  resetSessions();
  clearUndo();
});

const pulse = (on: NativeHost = host) =>
  sessionFor({ id: 'p', record: { Version: '0c458075' } }, parseTemplate('0c458075', model('pulse-104.xml'))!, createClient(on));
const task = (s: ReturnType<typeof pulse>, name: string) => keysOf(s.doc.value).find((k) => k.name === name)!.task;

describe('device session', () => {
  it('shows a packet keyboard change once the device echoes it, and not when it stays silent', async () => {
    const s = pulse();
    await writeChange(s, assignKey(s.doc.peek(), 'Button2', { kind: 'keyboard', key: 'A' }));
    expect(task(s, 'Button2')).toBe('A');

    vi.useFakeTimers();
    echo = false;
    const silent = writeChange(s, assignKey(s.doc.peek(), 'Button2', { kind: 'keyboard', key: 'B' }));
    const outcome = silent.then(() => 'taken', () => 'refused');
    await vi.advanceTimersByTimeAsync(ECHO_TIMEOUT_MS + 10);
    expect(await outcome).toBe('refused');
    expect(task(s, 'Button2')).toBe('A');
  });

  it('undo sends the key back to its default with a delete', async () => {
    const s = pulse();
    const before = s.doc.peek();
    expect(await commitEdit(s, 'F1', (d) => assignKey(d, 'Button2', { kind: 'media', task: '静音' }), (d) => revertKey(d, 'Button2', before, s.template))).toBe(true);
    expect(await undo()).toBe(true);
    expect(sent).toHaveLength(2);
    expect(sent[1]).toMatch(/name="Button2" value="F1" type="KEYBOARD" task="F1".*action="delete"/);
    expect(task(s, 'Button2')).toBe('F1');
  });

  it('keeps the document when the program is not there to take it', async () => {
    const s = pulse({ ...host, ClientRequest: undefined });
    await expect(writeChange(s, assignKey(s.doc.peek(), 'Button2', { kind: 'keyboard', key: 'A' }))).rejects.toThrow();
    expect(task(s, 'Button2')).toBe('F1');
  });
});
