import { describe, expect, it } from 'vitest';
import { createClient } from '../../src/native/client';
import { parseXml, writeXml } from '../../src/model/xml';
import { CONVERTED_BYTES, UploadError, screenSlots, sentBytes, slotDocument, uploadPicture } from '../../src/screen/upload';
import { fakeHost } from '../fakeHost';

const DOC = parseXml(`<configuration Ver="K2.0">
  <key name="UsbId" index="1" length="4" value="HJE-XUB-V1.5.0"/>
  <key name="GlobalScreen" index="170" length="17" slot="0" value="screen/slot0.png" action="get"/>
</configuration>`);

const flush = () => new Promise<void>((r) => setTimeout(r, 0));

describe('screen slots', () => {
  it('marks the slot key alone and names the picture', () => {
    const slots = screenSlots(DOC);
    expect(slots.map((s) => s.slot)).toEqual([0]);
    const text = slotDocument(DOC, slots[0], 'set', 'screen/screen_5.png');
    expect(text).toContain('<key name="GlobalScreen" index="170" length="17" slot="0" value="screen/screen_5.png" action="set" />');
    expect(text.match(/action=/g)).toHaveLength(1);
    expect(writeXml(DOC)).toContain('value="screen/slot0.png"');
    expect(sentBytes(`<configuration><key name="GlobalScreen" slot="0" sent="${CONVERTED_BYTES}"/></configuration>`)).toBe(CONVERTED_BYTES);
    expect(sentBytes('<configuration><key name="Other" sent="5"/></configuration>')).toBeNull();
  });

  it('stores, converts, sends and waits for the answer; a missing conversion is a failure', async () => {
    for (const [answer, expected] of [
      [`<configuration><key name="GlobalScreen" sent="110084"/></configuration>`, 110084],
      [`<configuration><key name="GlobalScreen" sent="0"/></configuration>`, 'notConverted'],
      [`<configuration><key name="GlobalScreen" sent="-1"/></configuration>`, 'notSent'],
    ] as const) {
      const host = fakeHost();
      const client = createClient(host);
      const stages: string[] = [];
      let release: (text: string) => void = () => undefined;
      const work = uploadPicture(
        client,
        { doc: DOC, slot: screenSlots(DOC)[0], pngBase64: 'iVBOR' },
        () => new Promise<string>((r) => (release = r)),
        (s) => stages.push(s),
      ).then((n) => n, (e: unknown) => (e instanceof UploadError ? e.problem : 'other'));
      expect(JSON.parse(host.queries[0].request)).toEqual({ FuncName: 'SaveImageTemp', ImageName: 'screen_slot0', ImageBase64Data: 'iVBOR' });
      host.answer(0, '');
      await flush();
      expect(JSON.parse(host.queries[1].request)).toEqual({ FuncName: 'ImageConvBin', ImageName: 'screen_slot0.png' });
      host.answer(1, '');
      await flush();
      expect(JSON.parse(host.queries[2].request).XmlConfigStr).toContain('value="screen/screen_slot0.png" action="set"');
      release(answer);
      expect(await work).toBe(expected);
      expect(stages.slice(0, 3)).toEqual(['storing', 'converting', 'sending']);
    }
  });
});
