import { describe, expect, it } from 'vitest';
import { canFollow, colourReaches, parseChoices, syncDocument } from '../../../src/pages/sync/syncDocument';

describe('lighting sync document', () => {
  it('lists only the devices with their own library, in the form the program reads', () => {
    const text = syncDocument([
      { identity: '258a002e', name: 'Mouse "M"', choice: { sync: 1, rgb: '123456' } },
      { identity: 'PIKE5181', name: 'Notebook', choice: { sync: 2, rgb: 'ffffff' } },
      { identity: '05AC024F', name: 'Keyboard', choice: { sync: 4, rgb: '00ff80' } },
      { identity: '05AC024F', name: 'Bad', choice: { sync: 12, rgb: 'zz' } },
    ]);
    expect(text).toBe(
      '<?xml version="1.0"?>\n<configuration>\n\t<key name="UsbId" value="SYNC" />\n\t<devices>\n' +
        '\t\t<device name="Mouse &quot;M&quot;" version="258A002E" sync="1" rgb="123456" />\n' +
        '\t\t<device name="Keyboard" version="05AC024F" sync="4" rgb="00ff80" />\n' +
        '\t</devices>\n</configuration>\n',
    );
  });

  it('knows where the colour shows and keeps only sound stored choices', () => {
    expect(canFollow('HJE-XUB-V1.5.0')).toBe(false);
    expect(colourReaches('258A002E', 1)).toBe(true);
    expect(colourReaches('258A002E', 3)).toBe(false);
    expect(colourReaches('05AC024F', 3)).toBe(true);
    expect(colourReaches('05AC024F', 0)).toBe(false);
    expect(parseChoices('{"258a002e":{"sync":2,"rgb":"00ff00"},"05AC024F":{"sync":"2"},"X":{"sync":1,"rgb":"000000"}}')).toEqual({
      '258A002E': { sync: 2, rgb: '00ff00' },
    });
    expect(parseChoices('not json')).toEqual({});
  });
});
