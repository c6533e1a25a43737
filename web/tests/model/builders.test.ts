import { describe, expect, it } from 'vitest';
import {
  EditError,
  assignKey,
  dpiQuery,
  lightingQuery,
  losesLeftClick,
  powerQuery,
  restoreKey,
  setDpiStages,
  setEffect,
  setEffectValue,
  setKeyColours,
  setParameter,
  setSetting,
} from '../../src/model/builders';
import { dpiView, macrosOf, readTemplate, zoneView } from '../../src/model/template';
import { XmlElement, attr, parseXml, removeAttr, writeXml } from '../../src/model/xml';
import { golden, model } from './fixtures';

// A golden document with its actions taken away: the state the edit starts from.
function base(name: string): XmlElement {
  const doc = parseXml(golden(name));
  const strip = (e: XmlElement) => {
    removeAttr(e, 'action');
    e.children.forEach(strip);
  };
  strip(doc);
  return doc;
}

const canonical = (text: string) => writeXml(parseXml(text));
const marks = (text: string) => text.split('\n').filter((l) => l.indexOf('action=') >= 0).map((l) => l.trim());

describe('documents the native golden tests pin', () => {
  it('key combination, colour, DPI stage and lighting read', () => {
    const hot = assignKey(base('g19_key_hotkey.xml'), 'Button2', { kind: 'combo', combination: 'Ctrl+Alt+Delete' });
    expect(hot.documents.map(canonical)).toEqual([canonical(golden('g19_key_hotkey.xml').replace('type="HotKey"', 'type="HOTKEY"'))]);

    const rgb = setEffectValue(base('g04_light_rgb.xml'), 'light', 'LightRGB', 'FF8000');
    expect(rgb.documents.map(canonical)).toEqual([canonical(golden('g04_light_rgb.xml'))]);

    const dpiDoc = base('g34_dpi_set_sync.xml');
    expect(setDpiStages(dpiDoc, [{ x: 1600, y: 800 }, { x: 1600, y: 800 }], 1).documents).toEqual([]);
    const axes = base('g35_dpi_set_axes.xml');
    expect(setDpiStages(axes, [{ x: 1600, y: 800 }, { x: 1600, y: 800 }], 1).documents.map(canonical)).toEqual([
      canonical(golden('g34_dpi_set_sync.xml')),
    ]);

    expect(canonical(lightingQuery(base('g16_light_get.xml')))).toEqual(
      canonical(golden('g16_light_get.xml').replace('value="0" action="set"', 'value="0"')),
    );
    expect(marks(dpiQuery(base('g32_dpi_get.xml')))).toEqual(['<dpi index="180" count="3" current="1" action="get">']);
  });

  it('editing a D2.0 stage other than the current one selects it, then the current one again', () => {
    const doc = base('g35_dpi_set_axes.xml'); // current 2
    const c = setDpiStages(doc, [{ x: 3200, y: 3200 }, { x: 1600, y: 800 }], 2);
    expect(c.documents.map((d) => attr(parseXml(d).children[2], 'current'))).toEqual(['1', '2']);
    expect(() => setDpiStages(doc, [{ x: 800, y: 800 }], 1)).toThrow(EditError);
    expect(() => setDpiStages(doc, [{ x: 825, y: 800 }, { x: 800, y: 800 }], 1)).toThrow(EditError);
  });
});

describe('model templates', () => {
  const pulse = readTemplate(model('pulse-104.xml'));
  const glide = readTemplate(model('glide-6.xml'));
  const orbit = readTemplate(model('orbit-6.xml'));
  const nimbus = readTemplate(model('nimbus-notebook.xml'));

  it('a packet keyboard key change carries the whole key table with one key marked', () => {
    const c = assignKey(pulse, 'Button3', { kind: 'combo', combination: 'Ctrl+Alt+Delete' });
    expect(marks(c.documents[0])).toEqual([
      '<key name="Button3" value="F2" type="HOTKEY" task="Ctrl+Alt+Delete" rc="2" nc="2" r="0" c="2" on="1" fn="0" isset="0" playtype="1" playcount="1" playdelay="0" playlight="0" playjitters="0" playvoices="0" playway="0" action="set" />',
    ]);
    expect(c.documents[0].split('name="Button').length - 1).toBe(104);
    // The next change keeps the first one in its table, and restoring brings the default back.
    const d = assignKey(c.doc, 'Button4', { kind: 'media', task: '静音' });
    expect(d.documents[0]).toContain('task="Ctrl+Alt+Delete"');
    const r = restoreKey(d.doc, 'Button3', pulse);
    expect(marks(r.documents[0])[0]).toContain('task="F2" rc="2"');
    expect(marks(r.documents[0])[0]).toContain('action="delete"');
    expect(() => assignKey(pulse, 'Button3', { kind: 'disable' })).toThrow(EditError);
    const macro = assignKey(pulse, 'Button5', { kind: 'macro', macro: macrosOf(pulse)[2] });
    expect(marks(macro.documents[0])[0]).toMatch(/type="MACRO" task="2".*count="1" delay="0" action="set"/);
  });

  it('macros travel as their text in the D2.0 records, under the type each translator selects on', () => {
    const withMacro = (file: string) => {
      const doc = readTemplate(model(file).replace('name="命令1" index="0" length="200" value=""', 'name="命令1" index="0" length="200" value="延迟(20):1|0|1"'));
      return marks(assignKey(doc, 'Button3', { kind: 'macro', macro: macrosOf(doc)[0] }).documents[0])[0];
    };
    expect(withMacro('keystone-104.xml')).toMatch(/type="Macro" task="延迟\(20\):1\|0\|1"/);
    expect(withMacro('swift-6.xml')).toMatch(/type="MACRO" task="延迟\(20\):1\|0\|1"/);
  });

  it('warns when the last left click goes', () => {
    const c = assignKey(glide, 'Button1', { kind: 'keyboard', key: 'A' });
    expect(losesLeftClick(glide, c.doc)).toBe(true);
    const back = assignKey(c.doc, 'Button2', { kind: 'mouse', task: '单击左键()' });
    expect(losesLeftClick(c.doc, back.doc)).toBe(false);
    expect(() => assignKey(glide, 'Button1', { kind: 'macro', macro: { name: 'x', index: '0', text: '' } })).toThrow(EditError);
  });

  it('effects, colours and per-key colours, in both notebook zones', () => {
    const e = setEffect(nimbus, 'lightLeft', 4);
    expect(marks(e.documents[0])).toEqual([
      '<mode name="Default" index="4" length="1" action="set">',
      '<key name="LightMode" index="182" length="1" value="4" default="1" type="mode" action="set" />',
    ]);
    expect(zoneView(e.doc, 'light')!.effect).toBe(1);
    const p = setKeyColours(nimbus, 'light', new Map([[0, 'FF0000'], [47, '00ff00']]));
    expect(marks(p.documents[0])).toEqual(['<mode name="LightUp" index="20" length="440" action="set">']);
    expect(p.documents[0]).toContain('<key name="ESC" rc="0" rgb="ff0000" />');
    expect(p.documents[0]).toContain('<key name="A" rc="47" rgb="00ff00" />');
    expect(() => setKeyColours(nimbus, 'light', new Map([[500, 'ff0000']]))).toThrow(EditError);
    expect(() => setEffectValue(nimbus, 'light', 'LightRGB', '12345g')).toThrow(EditError);
    expect(() => setEffectValue(nimbus, 'lightLeft', 'LightDirection', '1')).toThrow(EditError);
    // The register reads the text as hexadecimal: 10 would arrive as 16.
    expect(() => setEffectValue(nimbus, 'light', 'LightBrightness', '10')).toThrow(EditError);
    expect(() => setEffectValue(readTemplate(model('orbit-6.xml')), 'light', 'LightSpeed', '2')).toThrow(EditError);
  });

  it('library mouse DPI stages: add, remove, reorder within limits, whole table sent', () => {
    const levels = dpiView(orbit)!.levels;
    const five = setDpiStages(orbit, [...levels, { name: '', x: 12000, y: 12000, rgb: '' }], 5);
    expect(marks(five.documents[0])).toEqual(['<key name="Dpi1" sync="1" state="1" x="800" y="800" action="set" />']);
    expect(five.documents[0]).toContain('<dpi index="131" count="5" current="5">');
    expect(five.documents[0]).toContain('<key name="Dpi5" sync="1" state="1" x="12000" y="12000" />');
    const reordered = setDpiStages(orbit, [levels[1], levels[0]], 1);
    expect(dpiView(reordered.doc)!.levels.map((l) => [l.name, l.x])).toEqual([['Dpi1', 1600], ['Dpi2', 800]]);
    expect(() => setDpiStages(orbit, [], 1)).toThrow(EditError);
    expect(() => setDpiStages(orbit, [{ x: 16100, y: 800 }], 1)).toThrow(EditError);
  });

  it('parameters, settings and reads', () => {
    const keystone = readTemplate(model('keystone-104.xml'));
    expect(marks(setParameter(keystone, 'Reportrate', 500).documents[0])).toEqual([
      '<key name="Reportrate" index="178" length="1" value="500" action="set" />',
    ]);
    expect(() => setParameter(keystone, 'Reportrate', 8000)).toThrow(EditError);
    const fewer = setSetting(setSetting(glide, 'DpiCurrent', 4).doc, 'DpiCount', 2);
    expect(fewer.documents.map((d) => marks(d)[0])).toEqual([
      '<key name="DpiCount" index="40" length="1" value="2" action="set" />',
      '<key name="DpiCurrent" index="41" length="1" value="2" action="set" />',
    ]);
    expect(() => setSetting(glide, 'DpiCurrent', 5)).toThrow(EditError);
    expect(marks(powerQuery(pulse))).toEqual(['<key name="Power" index="97" length="1" value="" action="set" />']);
  });
});
