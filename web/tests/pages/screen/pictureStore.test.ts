import { signal } from '@preact/signals';
import { describe, expect, it } from 'vitest';
import type { DeviceSession } from '../../../src/model/session';
import { parseXml } from '../../../src/model/xml';
import { createClient } from '../../../src/native/client';
import { screenSlots } from '../../../src/screen/upload';
import { sendToSlot, sentPicture, uploads } from '../../../src/pages/screen/pictureStore';
import { fakeHost } from '../../fakeHost';

const DOC = parseXml(`<configuration Ver="K2.0">
  <key name="UsbId" index="1" length="4" value="HJE-XUB-V1.5.0"/>
  <key name="GlobalScreen" index="170" length="17" slot="0" value="" action="get"/>
</configuration>`);
const session = { deviceId: 'kb', identity: 'HJE-XUB-V1.5.0', doc: signal(DOC) } as unknown as DeviceSession;
const flush = () => new Promise<void>((r) => setTimeout(r, 0));

describe('picture upload state', () => {
  it('keeps the slot picture only once the device took it, and a refusal as the device\'s problem', async () => {
    const slot = screenSlots(DOC)[0];
    for (const [sent, outcome] of [
      ['-1', { ok: false, problem: 'notSent' }],
      ['110084', { ok: true, bytes: 110084 }],
    ] as const) {
      const host = fakeHost();
      const work = sendToSlot(createClient(host), session, slot, { file: 'a.png', preview: `data:${sent}` }, () =>
        Promise.resolve(`<configuration><key name="GlobalScreen" sent="${sent}"/></configuration>`),
      );
      expect(uploads.value.kb?.stage).toBe('converting');
      host.answer(0, '');
      await flush();
      expect(await work).toEqual(outcome);
      expect(uploads.value.kb).toEqual(outcome.ok ? { stage: 'done', share: 1 } : { stage: 'failed', share: 0, problem: 'notSent' });
      expect(sentPicture('kb', 0)).toBe(outcome.ok ? 'data:110084' : undefined);
    }
  });
});
