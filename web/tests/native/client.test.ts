import { afterEach, describe, expect, it, vi } from 'vitest';
import { createClient, DEFAULT_TIMEOUT_MS, NativeError, type NativeHost } from '../../src/native/client';
import { fakeHost } from '../fakeHost';

afterEach(() => {
  vi.useRealTimers();
});

describe('native client requests', () => {
  it('sends FuncName with the arguments beside it and resolves with the answer text', async () => {
    const host = fakeHost();
    const client = createClient(host);
    const p = client.request('GetLocalConf', { Name: 'QPA-RTE-V1.1.0' });
    expect(JSON.parse(host.queries[0].request)).toEqual({ FuncName: 'GetLocalConf', Name: 'QPA-RTE-V1.1.0' });
    host.answer(0, '<configuration/>');
    await expect(p).resolves.toBe('<configuration/>');
  });

  it('rejects a native failure with its code and text', async () => {
    const host = fakeHost();
    const p = createClient(host).request('SaveProfile', { CommandString: '{}' });
    host.fail(0, 0, 'SaveCommand is failed!');
    const e = await p.catch((x: unknown) => x);
    expect(e).toBeInstanceOf(NativeError);
    expect(e).toMatchObject({ kind: 'failure', code: 0, text: 'SaveCommand is failed!' });
  });

  it('times out an unanswered query, cancels it and ignores a late answer', async () => {
    vi.useFakeTimers();
    const host = fakeHost();
    const p = createClient(host).request('GetDevicesList');
    const seen = p.catch((x: unknown) => x);
    vi.advanceTimersByTime(DEFAULT_TIMEOUT_MS + 1);
    expect(await seen).toMatchObject({ kind: 'timeout', command: 'GetDevicesList' });
    expect(host.cancelled).toEqual([host.queries[0].id]);
    // Too late: the query stays timed out and its finished timer is not touched again.
    const clear = vi.spyOn(host, 'clearTimeout');
    host.answer(0, '[]');
    host.fail(0, 1, 'late');
    expect(clear).not.toHaveBeenCalled();
    await expect(p).rejects.toMatchObject({ kind: 'timeout' });
  });

  it('gives dialog commands the long wait and honours an explicit one', async () => {
    vi.useFakeTimers();
    const host = fakeHost();
    const client = createClient(host);
    let done = false;
    client.request('LoadProfile').catch(() => (done = true));
    await vi.advanceTimersByTimeAsync(DEFAULT_TIMEOUT_MS * 3);
    expect(done).toBe(false);
    const quick = client.request('GetPerformance', {}, { timeoutMs: 50 }).catch((x: unknown) => x);
    await vi.advanceTimersByTimeAsync(60);
    expect(await quick).toMatchObject({ kind: 'timeout' });
  });

  it('resolves silent commands once sent and forgets their queries', async () => {
    const host = fakeHost();
    const client = createClient(host);
    expect(client.send('NoticeModify', { XmlConfigStr: '<configuration/>' })).toBe(true);
    // An untyped caller asking for an answer the command never gives does not hang.
    await expect(client.request('CloseX' as never)).resolves.toBe('');
    expect(host.cancelled).toEqual([1, 2]);
  });

  it('rejects cleanly without a native side', async () => {
    const bare: NativeHost = { setTimeout: (f, ms) => setTimeout(f, ms), clearTimeout: (h) => clearTimeout(h) };
    const client = createClient(bare);
    expect(client.available).toBe(false);
    await expect(client.request('GetDevicesList')).rejects.toMatchObject({ kind: 'unavailable' });
    expect(client.send('CloseX')).toBe(false);
    expect(client.minimise()).toBe(false);
    expect(() => client.on('DevicesChanged', () => undefined)).not.toThrow();
  });

  it('sends the window requests in the forms the bridge recognises', () => {
    const host = fakeHost();
    const client = createClient(host);
    client.moveWindow(10.4, -5);
    client.moveWindow(0, 0); // no movement, nothing sent
    client.minimise();
    client.close();
    expect(host.queries.map((q) => q.request)).toEqual([
      'MoveWindow:10,-5,0,0',
      '{"FuncName":"MinisizeWindow"}',
      '{"FuncName":"CloseX"}',
    ]);
    expect(host.cancelled).toEqual([1, 2, 3]);
  });
});

describe('native client events', () => {
  it('registers once per event and fans out to every handler, surviving a failing one', () => {
    const host = fakeHost();
    const client = createClient(host);
    const a = vi.fn();
    const b = vi.fn();
    const error = vi.spyOn(console, 'error').mockImplementation(() => undefined);
    client.on('OnNotifySaveXml', () => {
      throw new Error('boom');
    });
    const offA = client.on('OnNotifySaveXml', a);
    client.on('OnNotifySaveXml', b);
    expect(host.registrations).toEqual(['OnNotifySaveXml']);
    host.raise('OnNotifySaveXml', ['<configuration/>']);
    expect(a).toHaveBeenCalledWith(['<configuration/>']);
    expect(b).toHaveBeenCalledTimes(1);
    expect(error).toHaveBeenCalledTimes(1);
    offA();
    host.raise('OnNotifySaveXml', ['x']);
    expect(a).toHaveBeenCalledTimes(1);
    expect(b).toHaveBeenCalledTimes(2);
  });
});
