import { describe, expect, it } from 'vitest';
import { applyDpi, applyLighting, dpiReading, lightingReading, parseAnswer, powerReading } from '../../src/model/answers';
import { dpiView, readTemplate, zoneView } from '../../src/model/template';
import { golden, model } from './fixtures';

// What the native side sends: the declaration and some action texts removed.
const answered = (text: string, ...remove: string[]) =>
  remove.reduce((t, r) => t.split(r).join(''), text.replace('<?xml version="1.0"?>', ''));

describe('answers', () => {
  it('reads a lighting answer into the document', () => {
    const a = parseAnswer(
      answered(golden('g16_light_get.xml'), 'action="set"')
        .replace('index="0" length="1" action="get"', 'index="7" length="1" action="get"')
        .replace('"LightBrightness" index="23" length="1" value="0"', '"LightBrightness" index="23" length="1" value="10"'),
    )!;
    expect(a.identity).toBe('WSU-DFO-V1.1.0');
    const r = lightingReading(a)!;
    expect(r).toEqual({ effect: 7, brightness: 10, speed: 0, direction: 0 });
    const nimbus = readTemplate(model('nimbus-notebook.xml'));
    const view = zoneView(applyLighting(nimbus, r), 'light')!;
    expect([view.effect, view.keys.find((k) => k.name === 'LightBrightness')!.value]).toEqual([7, '10']);
    expect(zoneView(nimbus, 'light')!.effect).toBe(1);
  });

  it('reads DPI, report rate and battery, and ignores what is not an answer', () => {
    const dpi = parseAnswer(answered(golden('g32_dpi_get.xml'), 'action="get"').replace('current="1"', 'current="2"'))!;
    expect(dpiReading(dpi)).toEqual({ current: 2, reportRate: 125 });
    expect(lightingReading(dpi)).toBeNull();
    const orbit = readTemplate(model('orbit-6.xml'));
    expect(dpiView(applyDpi(orbit, { current: 9, reportRate: null }))!.current).toBe(1);
    const power = parseAnswer(
      '<configuration><key name="UsbId" value="0c458075" /><key name="Power" index="97" length="1" value="76" /></configuration>',
    )!;
    expect([power.identity, powerReading(power)]).toEqual(['0C458075', 76]);
    expect(parseAnswer('not xml')).toBeNull();
    expect(parseAnswer('<configuration><key name="SN" /></configuration>')).toBeNull();
  });
});
