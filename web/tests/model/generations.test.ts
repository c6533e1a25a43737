import { describe, expect, it } from 'vitest';
import {
  combinationText,
  d2KeyName,
  encodableKey,
  familyOf,
  functionsOf,
  keyNameIn,
  parseFunctionTable,
} from '../../src/model/generations';
import { drive } from './fixtures';

const d2 = parseFunctionTable(drive('D2.0'));
const d3 = parseFunctionTable(drive('D3.0'));
const d4 = parseFunctionTable(drive('D4.0'));
const tasks = (rows: { task: string }[]) => rows.map((r) => r.task);

describe('generation tables', () => {
  it('chooses the family as the native dispatcher does', () => {
    expect(['0c458075', '05ac024f', '258A002E', 'sync', 'HJE-XAV-V1.1.0', 'QPA-RTE-V1.1.0', 'WSU-DFO-V1.1.0.6'].map(familyOf)).toEqual([
      'hfd', 'keyboard-d4', 'mouse-d3', 'sync', 'hje-mouse', 'qpa-mouse', 'generic-d2',
    ]);
  });

  it('groups the functions each family can carry', () => {
    expect(tasks(functionsOf(d2, 'generic-d2', 'dpi'))).toEqual(['DPI循环', 'DPI+', 'DPI-']);
    expect(tasks(functionsOf(d2, 'generic-d2', 'media'))).toContain('网页搜索');
    expect(tasks(functionsOf(d3, 'mouse-d3', 'media'))).not.toContain('网页搜索');
    // The D4.0 media rows keep their bytes in vkCode; the library keyboard takes only the
    // click rows as mouse functions.
    expect(tasks(functionsOf(d4, 'hfd', 'media'))).toContain('播放/暂停');
    expect(tasks(functionsOf(d4, 'keyboard-d4', 'mouse'))).toEqual(['单击左键()', '单击右键()', '单击中键()', '单击后退键()', '单击前进键()']);
    expect(tasks(functionsOf(d2, 'generic-d2', 'mouse'))).toContain('锁定X轴');
    expect(functionsOf(d2, 'generic-d2', 'keyboard')).toHaveLength(113);
  });

  it('names captured keys in each table spelling', () => {
    expect(['Enter', 'Escape', 'Equal', 'Numpad0', 'F13', 'KeyQ'].map(d2KeyName)).toEqual(['ENTER', 'ESC', '+', 'Num 0', 'F13', 'Q']);
    expect(keyNameIn('D3.0', 'ESC')).toBe('Esc');
    expect(keyNameIn('D4.0', 'ESC')).toBe('ESC');
    expect(keyNameIn('D4.0', 'PAGEUP')).toBe('Page Up');
    expect(encodableKey(d2, 'generic-d2', 'ENTER')).toBe(true);
    // The D2.0 encoder upper-cases names, so mixed-case numpad rows are out of its reach,
    // and no table carries F13..F24.
    expect(encodableKey(d2, 'generic-d2', 'Num 0')).toBe(false);
    expect(encodableKey(d4, 'hfd', 'Num 0')).toBe(true);
    expect(encodableKey(d4, 'hfd', 'F13')).toBe(false);
    expect(['CTRL', 'FN', 'LCTRL'].map((k) => encodableKey(d2, 'generic-d2', k))).toEqual([false, false, true]);
    expect(combinationText(['Alt', 'Ctrl'], 'DELETE')).toBe('Ctrl+Alt+DELETE');
  });
});
