import { describe, expect, it } from 'vitest';
import { keysOf, readTemplate } from '../../src/model/template';
import { keyLegend, keySpokenName, layoutKeyboard, legendFit } from '../../src/pictures/keyboardLayout';
import { mouseSpots } from '../../src/pictures/mouse';
import { model } from '../model/fixtures';

const at = (layout: ReturnType<typeof layoutKeyboard>, name: string) => {
  const k = layout.keys.find((p) => p.canonical === name)!;
  return [k.x, k.y, k.w, k.h];
};

describe('key pictures', () => {
  it('lays a full-size board out in its blocks, whichever table spelling the template uses', () => {
    for (const file of ['keystone-104.xml', 'pulse-104.xml']) {
      const l = layoutKeyboard(keysOf(readTemplate(model(file))));
      expect([l.width, l.height]).toEqual([22.5, 6.5]);
      expect(at(l, 'F1')).toEqual([2, 0, 1, 1]);
      expect(at(l, 'DELETE')).toEqual([15.25, 2.5, 1, 1]);
      expect(at(l, 'UP')).toEqual([16.25, 4.5, 1, 1]);
      expect(at(l, 'Num +')).toEqual([21.5, 2.5, 1, 2]);
      expect(at(l, 'Num 0')).toEqual([18.5, 5.5, 2, 1]);
    }
  });

  it('fills every row of a compact board to the same width, with or without key rows', () => {
    const l = layoutKeyboard(keysOf(readTemplate(model('keystone-84-screen.xml'))));
    const rows = new Map<number, number>();
    for (const k of l.keys) rows.set(k.y, Math.max(rows.get(k.y) || 0, k.x + k.w));
    expect(Array.from(rows.values())).toEqual([16, 16, 16, 16, 16, 16]);
    expect(at(l, 'RSHIFT')[2]).toBe(1.75);
  });

  it('names keys for the eye and for the ear', () => {
    expect(['PRINTSCREEN', 'Num LOCK', 'Num 7', '+', 'SPACE', 'F11'].map(keyLegend)).toEqual(['PrtSc', 'Num', '7', '=', 'Space', 'F11']);
    expect(['LCTRL', 'PAGEUP', 'Num 7', 'BACKSPACE', 'F11'].map(keySpokenName)).toEqual(['Left Ctrl', 'Page Up', 'Num 7', 'Backspace', 'F11']);
  });

  it('sizes every legend to stay on its cap, even on a small window', () => {
    // A wide sans-serif letter is about 0.62 em; a cap loses 6 px to its edges.
    const unit = 22;
    const over = layoutKeyboard(keysOf(readTemplate(model('keystone-104.xml'))))
      .keys.map((k) => ({ legend: keyLegend(k.canonical), w: k.w }))
      .filter(({ legend, w }) => legend.length * 0.62 * legendFit(legend, w) * unit > w * unit - 6);
    expect(over).toEqual([]);
    expect(legendFit('Esc', 1)).toBe(0.36);
  });

  it('puts each mouse button where its function sits and the rest in a row below', () => {
    const keys = keysOf(readTemplate(model('orbit-6.xml')));
    const spots = mouseSpots(keys.concat({ ...keys[0], name: 'Button7' }));
    const places = Object.keys(spots).map((k) => `${spots[k].x},${spots[k].y}`);
    expect(new Set(places).size).toBe(7);
    expect(spots.Button1.x).toBeLessThan(spots.Button2.x);
    expect(spots.Button7.y).toBeGreaterThan(12);
  });
});
