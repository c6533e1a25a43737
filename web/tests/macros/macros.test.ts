import { describe, expect, it } from 'vitest';
import { parseMacroFile, readMacro } from '../../src/macros/library';
import { MacroRecorder } from '../../src/macros/recorder';
import { macroText, parseMacroText, type MacroStep } from '../../src/macros/text';

const every: MacroStep[] = [
  { kind: 'keyDown', key: 'Ctrl' },
  { kind: 'keyDown', key: 'A' },
  { kind: 'delay', ms: 120 },
  { kind: 'keyUp', key: 'A' },
  { kind: 'keyUp', key: 'Ctrl' },
  { kind: 'mouseDown', button: 'left' },
  { kind: 'mouseUp', button: 'left' },
  { kind: 'mouseDown', button: 'right' },
  { kind: 'mouseUp', button: 'right' },
  { kind: 'move', x: -5, y: 12 },
];

describe('macro text', () => {
  it('writes the words the translators read and reads every step kind and play mode back', () => {
    const text = macroText(every, { playtype: 2, delay: 300, count: 4 });
    expect(text).toBe(
      '键盘按下(Ctrl)键盘按下(A)延迟(120)键盘弹起(A)键盘弹起(Ctrl)鼠标按下(左键)鼠标弹起(左键)鼠标按下(右键)鼠标弹起(右键)相对定位XY(-5,12):2|300|4',
    );
    for (const playtype of [1, 2, 3]) {
      const back = parseMacroText(macroText(every, { playtype, delay: 7, count: 9 }));
      expect(back).toEqual({ steps: every, playback: { playtype, delay: 7, count: 9 }, dropped: 0 });
    }
  });

  it('spells keys for the generation and keeps values within what a step holds', () => {
    expect(macroText([{ kind: 'keyDown', key: 'ESC' }], { playtype: 1, delay: 0, count: 1 }, 'D3.0')).toBe('键盘按下(Esc):1|0|1');
    const text = macroText(
      [
        { kind: 'delay', ms: 70000.7 },
        { kind: 'move', x: 40000, y: -40000 },
        { kind: 'keyDown', key: 'A)延迟(5' },
      ],
      { playtype: 9, delay: -1, count: 1000 },
    );
    expect(text).toBe('延迟(65535)相对定位XY(32767,-32768):1|0|255');
  });

  it('counts unknown or broken steps instead of guessing them', () => {
    expect(parseMacroText('滚轮(1)延迟(abc)键盘按下(B)鼠标按下(中键)')).toEqual({
      steps: [{ kind: 'keyDown', key: 'B' }],
      playback: { playtype: 1, delay: 0, count: 1 },
      dropped: 3,
    });
  });
});

describe('recorder', () => {
  it('puts the time that passed between presses, split where one pause cannot hold it', () => {
    const r = new MacroRecorder('recorded');
    r.key(true, 'A', 1000);
    r.key(true, 'A', 1030); // auto-repeat
    r.key(false, 'A', 1080.4);
    r.button(true, 'left', 1080.4);
    r.key(true, 'ENTER', 1080.4 + 70000);
    expect(r.stop().steps).toEqual([
      { kind: 'keyDown', key: 'A' },
      { kind: 'delay', ms: 80 },
      { kind: 'keyUp', key: 'A' },
      { kind: 'mouseDown', button: 'left' },
      { kind: 'delay', ms: 65535 },
      { kind: 'delay', ms: 4465 },
      { kind: 'keyDown', key: 'ENTER' },
      // released at the end so nothing stays held
      { kind: 'keyUp', key: 'ENTER' },
      { kind: 'mouseUp', button: 'left' },
    ]);
  });

  it('uses one fixed pause or none, and leaves out keys held before and keys no device plays', () => {
    const fixed = new MacroRecorder('fixed', 25);
    fixed.key(false, 'B', 0); // held when recording began
    fixed.key(true, '', 5);
    fixed.key(true, 'ESC', 10);
    fixed.key(false, 'ESC', 500);
    expect(fixed.stop()).toEqual({
      steps: [
        { kind: 'keyDown', key: 'ESC' },
        { kind: 'delay', ms: 25 },
        { kind: 'keyUp', key: 'ESC' },
      ],
      skipped: 1,
    });
    const none = new MacroRecorder('none');
    none.key(true, 'A', 0);
    none.key(false, 'A', 900);
    expect(none.stop().steps.map((s) => s.kind)).toEqual(['keyDown', 'keyUp']);
  });
});

describe('macro files', () => {
  it('reads our files and bare macro text, and refuses anything else', () => {
    const m = readMacro({ name: '  Combo  ', steps: [{ kind: 'delay', ms: 5 }, { kind: 'bogus' }], playback: { playtype: 3, count: 2, delay: 1 } }, 'x');
    expect(m && { name: m.name, steps: m.steps, playback: m.playback }).toEqual({ name: 'Combo', steps: [{ kind: 'delay', ms: 5 }], playback: { playtype: 3, delay: 1, count: 2 } });
    expect(parseMacroFile(JSON.stringify({ content: '键盘按下(A):1|0|1' }), 'Loaded')?.steps).toEqual([{ kind: 'keyDown', key: 'A' }]);
    expect(parseMacroFile('{"model":"x","configuration":"<a/>"}', 'x')).toBeNull();
    expect(parseMacroFile('not json', 'x')).toBeNull();
  });
});

describe('recorder stopped by its key combination', () => {
  it('leaves out the combination with the pause before it and keeps a modifier the macro used', () => {
    const r = new MacroRecorder('recorded');
    r.key(true, 'Ctrl', 0);
    r.key(true, 'C', 50);
    r.key(false, 'C', 90);
    r.key(true, 'Shift', 900);
    const { steps } = r.stopWithout(['Ctrl', 'Shift']);
    // Ctrl was held for the macro's own C, so it stays and is released at the end.
    expect(steps).toEqual([
      { kind: 'keyDown', key: 'Ctrl' },
      { kind: 'delay', ms: 50 },
      { kind: 'keyDown', key: 'C' },
      { kind: 'delay', ms: 40 },
      { kind: 'keyUp', key: 'C' },
      { kind: 'keyUp', key: 'Ctrl' },
    ]);

    const plain = new MacroRecorder('fixed', 30);
    plain.key(true, 'Esc', 0);
    plain.key(false, 'Esc', 10);
    plain.key(true, 'Shift', 500);
    plain.key(true, 'Ctrl', 520);
    expect(plain.stopWithout(['Ctrl', 'Shift']).steps).toEqual([
      { kind: 'keyDown', key: 'Esc' },
      { kind: 'delay', ms: 30 },
      { kind: 'keyUp', key: 'Esc' },
    ]);
  });
});
