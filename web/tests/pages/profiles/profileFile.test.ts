import { describe, expect, it } from 'vitest';
import { parseXml } from '../../../src/model/xml';
import {
  buildProfileFile,
  importDocuments,
  parseProfileFile,
  profileSwitchDocument,
  resetDocument,
  safeFileName,
  writesProfileSlot,
} from '../../../src/pages/profiles/profileFile';

// Documents go in as the model's trees and come out as texts, read back here on the DOM.
const xml = (text: string) => new DOMParser().parseFromString(text, 'application/xml');

const glide = `<?xml version="1.0" encoding="UTF-8"?>
<configuration Ver="M1.0" name="本地配置" model="Torvanix Glide 6">
	<key name="UsbId" index="1" length="4" value="QPA-RTE-V1.1.0"/>
	<key name="SN" index="3" length="14" value=""/>
	<key name="CurProfile" index="5" length="1" value="1"/>
	<key name="Button1" index="11" length="15" value="单击左键()" type="MOUSE" task="单击左键()"/>
	<key name="Button2" index="12" length="15" value="单击右键()" type="MOUSE" task="单击右键()"/>
	<light value="1" index="162" length="1">
		<mode name="Default" index="1" length="1"><key name="LightMode" index="162" length="1" value="1"/></mode>
		<mode name="LightUp" index="2" length="1"/>
	</light>
	<parameters><key name="sleep" index="50" value="3"/><key name="Reportrate" index="51" value="1"/></parameters>
</configuration>`;

const pulse = `<configuration model="Torvanix Pulse 104">
<key name="UsbId" index="1" length="4" value="0c458075"/><key name="CurProfile" index="5" length="1" value="1"/>
<key name="Button1" rc="0" type="KEYBOARD" task="A"/><key name="Button2" rc="1" type="KEYBOARD" task="B"/>
</configuration>`;

const file = (configuration: string, device: string, extra: Record<string, unknown> = {}) =>
  buildProfileFile({ model: 'M', device, profile: 2, configuration, name: 'M Profile 2', ...extra });

describe('profile files', () => {
  it('round-trip the configuration for the same device, either spelling of its identity', () => {
    const parsed = parseProfileFile(file(pulse, '0C458075'), '0C458075');
    expect(parsed.ok).toBe(true);
    if (parsed.ok) {
      expect(parsed.file.configuration).toBe(pulse);
      expect(parsed.file.profile).toBe(2);
    }
  });

  it('refuse other devices, damaged documents, foreign and newer files', () => {
    expect(parseProfileFile(file(glide, 'QPA-RTE-V1.1.0'), 'TOB-NIR-V1.2.0')).toMatchObject({ ok: false, problem: 'otherDevice' });
    expect(parseProfileFile(file('<configuration><key', 'X'), 'X')).toMatchObject({ ok: false, problem: 'badConfiguration' });
    expect(parseProfileFile(file('<configuration/>', 'X'), 'X')).toMatchObject({ ok: false, problem: 'badConfiguration' });
    expect(parseProfileFile('not json', 'X')).toMatchObject({ ok: false, problem: 'notJson' });
    expect(parseProfileFile('{"name":"m1","steps":[]}', 'X')).toMatchObject({ ok: false, problem: 'notProfile' });
    const newer = JSON.stringify({ ...JSON.parse(file(glide, 'QPA-RTE-V1.1.0')), format: 99 });
    expect(parseProfileFile(newer, 'QPA-RTE-V1.1.0')).toMatchObject({ ok: false, problem: 'newerFormat' });
  });

  it('suggest a file name that stays in the chosen folder', () => {
    expect(safeFileName('../../etc/passwd')).toBe('etc passwd');
    expect(safeFileName('Glide: "Profile" 1\n')).toBe('Glide Profile 1');
    expect(safeFileName('///')).toBe('profile');
    expect(JSON.parse(file(glide, 'x', { name: 'a/b' })).name).toBe('a b');
  });
});

describe('documents written on import, reset and switch', () => {
  it('send the whole document with one setting marked, into the current profile', () => {
    const docs = importDocuments(parseXml(glide), 3).map(xml);
    // two buttons, the active effect, two parameters; SN and the LightUp mode are not written
    expect(docs).toHaveLength(5);
    for (const d of docs) {
      expect(d.querySelector('key[name="UsbId"]')?.getAttribute('value')).toBe('QPA-RTE-V1.1.0');
      expect(d.querySelector('key[name="CurProfile"]')?.getAttribute('value')).toBe('3');
      expect(d.querySelectorAll('[action]')).toHaveLength(1);
      expect(d.querySelectorAll('key[name^="Button"]')).toHaveLength(2);
    }
    expect(docs[0].querySelector('[action="set"]')?.getAttribute('name')).toBe('Button1');
    expect(docs[2].querySelector('light > mode[action="set"]')?.getAttribute('name')).toBe('Default');
    expect(docs[3].querySelector('parameters > key[action="set"]')?.getAttribute('name')).toBe('sleep');
  });

  it('mark the first level of the library mouse DPI table and the table itself elsewhere', () => {
    const dpi = (id: string) =>
      parseXml(`<configuration><key name="UsbId" value="${id}"/><key name="CurProfile" value="1"/>` +
        '<dpi index="131" count="2" current="1"><key name="Dpi1" x="800"/><key name="Dpi2" x="1600"/></dpi></configuration>');
    const orbit = xml(importDocuments(dpi('258a002e'), 1)[0]);
    expect(orbit.querySelector('dpi > key[action="set"]')?.getAttribute('name')).toBe('Dpi1');
    const other = xml(importDocuments(dpi('HJE-XUB-V1.5.0'), 1)[0]);
    expect(other.querySelector('dpi')?.getAttribute('action')).toBe('set');
  });

  it('keep the packet keyboard key table in one document, or all but the last key would be lost', () => {
    const docs = importDocuments(parseXml(pulse), 1).map(xml);
    expect(docs).toHaveLength(1);
    expect(docs[0].querySelectorAll('key[action="set"]')).toHaveLength(2);
  });

  it('reset the device for the named profile and write the profile slot only where it exists', () => {
    const reset = xml(resetDocument(parseXml(glide), 2));
    expect(reset.documentElement.getAttribute('action')).toBe('reset');
    expect(reset.querySelector('key[name="CurProfile"]')?.getAttribute('value')).toBe('2');
    const sw = xml(profileSwitchDocument(parseXml(glide), 4) ?? '');
    expect(sw.querySelector('key[name="CurProfile"]')?.getAttribute('action')).toBe('set');
    expect(sw.querySelector('key[name="CurProfile"]')?.getAttribute('index')).toBe('5');
    expect(writesProfileSlot('QPA-RTE-V1.1.0')).toBe(true);
    expect(writesProfileSlot('258A002E')).toBe(false);
    expect(writesProfileSlot('0c458075')).toBe(false);
  });
});
