import { afterEach, describe, expect, it, vi } from 'vitest';
import { createClient } from '../../src/native/client';
import { idle } from '../../src/updates/progress';
import { firmwareRun, indexState, loadIndex, updateFromIndex, type FirmwareTarget } from '../../src/updates/run';
import { sha256Hex } from '../../src/updates/sha256';
import type { UpdateEntry } from '../../src/updates/updateIndex';
import { fakeHost } from '../fakeHost';

const target: FirmwareTarget = {
  deviceId: 'TOB-NIR-V1.2.0@p',
  identity: 'TOB-NIR-V1.2.0',
  devicePath: 'p',
  name: 'Keystone',
  current: '1.2.0',
  next: '1.3.0',
};
const served = new Uint8Array(1000).map((_, i) => i);
const entry = (over: Partial<UpdateEntry>): UpdateEntry => ({
  version: '1.3.0',
  url: 'http://www.torvanix.invalid/updates/fw.bin',
  size: served.length,
  sha256: sha256Hex(served),
  notes: {},
  ...over,
});

afterEach(() => {
  vi.unstubAllGlobals();
  vi.restoreAllMocks();
  firmwareRun.value = idle;
});

describe('update runs', () => {
  // Only the file the index describes may reach the device: anything else fails before it is
  // saved, and the native side never hears of it.
  it.each([
    ['another digest', { sha256: 'b'.repeat(64) }, 'updates.fail.digest'],
    ['a shorter file', { size: served.length + 1 }, 'updates.fail.size'],
    ['a longer file', { size: served.length - 1 }, 'updates.fail.size'],
  ])('refuses %s without saving or flashing', async (_what, over, reason) => {
    vi.stubGlobal('fetch', vi.fn(async () => new Response(served)));
    const click = vi.spyOn(HTMLAnchorElement.prototype, 'click');
    const host = fakeHost();
    await updateFromIndex(target, entry(over), createClient(host));
    expect(firmwareRun.value).toMatchObject({ phase: 'failed', failure: { reason } });
    expect(click).not.toHaveBeenCalled();
    expect(host.queries).toEqual([]);
  });

  it('flashes the saved file with the device identity and the signed index once the download path reports it', async () => {
    vi.stubGlobal('fetch', vi.fn(async () => new Response(served)));
    const host = fakeHost();
    vi.spyOn(HTMLAnchorElement.prototype, 'click').mockImplementation(function (this: HTMLAnchorElement) {
      const path = `/opt/torvanix/update/${this.download}`;
      host.raise('RefreshDownState', [served.length, served.length, path]);
      host.raise('RefreshDownState', [100, 100, path]);
    });
    await updateFromIndex(target, entry({}), createClient(host), { text: '{"format":1}', signature: 'c2ln' });
    expect(firmwareRun.value.phase).toBe('flashing');
    expect(JSON.parse(host.queries[0].request)).toEqual({
      FuncName: 'ExecuteUpdateFirmware',
      Version: 'TOB-NIR-V1.2.0',
      FilePath: '/opt/torvanix/update/firmware-TOB-NIR-V1.2.0-to-1.3.0.bin',
      Index: '{"format":1}',
      IndexSignature: 'c2ln',
    });
  });

  it('offers no firmware of an index served without its signature', async () => {
    const index = JSON.stringify({
      format: 1,
      firmware: { 'TOB-NIR': { version: '1.3.0', url: 'fw.bin', size: 67200, sha256: 'a'.repeat(64) } },
    });
    const signature = `${'A'.repeat(86)}==`;
    for (const [sig, offered] of [
      [null, false],
      ['not base64', false],
      [signature, true],
    ] as const) {
      vi.stubGlobal(
        'fetch',
        vi.fn(async (url: string) =>
          url.endsWith('.sig') ? new Response(sig, { status: sig === null ? 404 : 200 }) : new Response(index),
        ),
      );
      await loadIndex();
      const state = indexState.value;
      expect(state.status).toBe('ready');
      if (state.status !== 'ready') continue;
      expect(Object.keys(state.index.firmware)).toEqual(offered ? ['TOB-NIR'] : []);
      expect(state.signed).toEqual(offered ? { text: index, signature } : null);
      if (!offered) expect(state.problems).toEqual([{ where: 'firmware.TOB-NIR', key: 'updates.index.unsigned' }]);
    }
  });
});
