import { describe, expect, it } from 'vitest';
import { moveInGrid } from '../../src/ui/grid';
import { settleValue } from '../../src/ui/RangeField';
import { normaliseHex } from '../../src/ui/ColourField';

const rows = [
  ['esc', null, 'f1', 'f2'],
  ['a', 'b', 'c', 'd', 'e'],
  ['ctrl', 'space'],
];

describe('grid movement', () => {
  it('moves along rows skipping holes and stops at the edges', () => {
    expect(moveInGrid(rows, 'esc', 'ArrowRight')).toBe('f1');
    expect(moveInGrid(rows, 'f1', 'ArrowLeft')).toBe('esc');
    expect(moveInGrid(rows, 'f2', 'ArrowRight')).toBeNull();
  });

  it('moves between rows of other lengths to the nearest column', () => {
    expect(moveInGrid(rows, 'e', 'ArrowUp')).toBe('f2');
    expect(moveInGrid(rows, 'e', 'ArrowDown')).toBe('space');
    expect(moveInGrid(rows, 'b', 'ArrowUp')).toBe('esc');
    expect(moveInGrid(rows, 'space', 'ArrowDown')).toBeNull();
  });

  it('goes to the row ends with Home/End and the grid ends with Ctrl', () => {
    expect(moveInGrid(rows, 'c', 'Home')).toBe('a');
    expect(moveInGrid(rows, 'c', 'End')).toBe('e');
    expect(moveInGrid(rows, 'c', 'Home', true)).toBe('esc');
    expect(moveInGrid(rows, 'c', 'End', true)).toBe('space');
    expect(moveInGrid(rows, 'c', 'x')).toBeNull();
  });
});

describe('value settling', () => {
  it('snaps to the step grid from the minimum and clamps', () => {
    expect(settleValue(1649, 100, 16000, 100)).toBe(1600);
    expect(settleValue(99999, 100, 16000, 100)).toBe(16000);
    expect(settleValue(-5, 100, 16000, 100)).toBe(100);
    expect(settleValue(NaN, 1, 5)).toBe(1);
    expect(settleValue(0.35, 0, 1, 0.1)).toBe(0.4);
    expect(settleValue(10, 0, 10, 3)).toBe(9);
  });

  it('reads colour texts as six hex digits', () => {
    expect(normaliseHex('#00FFff')).toBe('00ffff');
    expect(normaliseHex('f0a')).toBe('ff00aa');
    expect(normaliseHex('12345')).toBeNull();
    expect(normaliseHex('red')).toBeNull();
  });
});
