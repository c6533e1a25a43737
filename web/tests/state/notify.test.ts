import { afterEach, describe, expect, it, vi } from 'vitest';
import { attr, child, findByName } from '../../src/model/xml';
import { createClient } from '../../src/native/client';
import { startNotifyRouting, stopNotifyRouting, subscribeNotify, waitForNotify } from '../../src/state/notify';
import { fakeHost } from '../fakeHost';

const doc = (id: string, inner: string) =>
  `<configuration><key name="UsbId" index="1" length="4" value="${id}"/>${inner}</configuration>`;

afterEach(() => {
  stopNotifyRouting();
  vi.useRealTimers();
});

describe('OnNotifySaveXml routing', () => {
  it('reaches subscribers of the device (either spelling) and of the element asked for', () => {
    const host = fakeHost();
    startNotifyRouting(createClient(host));
    const power = vi.fn();
    const any = vi.fn();
    const other = vi.fn();
    subscribeNotify('0C458075', 'Power', power);
    subscribeNotify('0c458075', null, any);
    subscribeNotify('QPA-RTE-V1.1.0', null, other);
    host.raise('OnNotifySaveXml', [doc('0c458075', '<key name="Power" value="77"/>')]);
    host.raise('OnNotifySaveXml', [doc('0c458075', '<light><mode name="Default"/></light>')]);
    host.raise('OnNotifySaveXml', ['not xml <']);
    host.raise('OnNotifySaveXml', [42]);
    expect(power).toHaveBeenCalledTimes(1);
    expect(attr(findByName(power.mock.calls[0][0].doc, 'key', 'Power'), 'value')).toBe('77');
    expect(any).toHaveBeenCalledTimes(2);
    expect(other).not.toHaveBeenCalled();
  });

  it('waits for the next matching answer and gives up after the time-out', async () => {
    vi.useFakeTimers();
    const host = fakeHost();
    startNotifyRouting(createClient(host));
    const answered = waitForNotify('HJE-XAV-V1.2.0', 'dpi', 1000);
    host.raise('OnNotifySaveXml', [doc('HJE-XAV-V1.2.0', '<dpi current="2"/>')]);
    expect(attr(child((await answered).doc, 'dpi'), 'current')).toBe('2');
    const silent = waitForNotify('HJE-XAV-V1.2.0', 'dpi', 1000).catch((e: Error) => e.name);
    vi.advanceTimersByTime(1001);
    expect(await silent).toBe('NotifyTimeout');
  });
});
