// Turns presses seen in the page into macro steps. The pause before each press follows the
// chosen rule: the time that really passed, one fixed pause, or none at all.
import { MAX_DELAY, clampInt, type MacroStep, type MouseButton } from './text';

export type DelayMode = 'recorded' | 'fixed' | 'none';

export interface RecordResult {
  steps: MacroStep[];
  /** Presses of keys no function table knows (not recorded). */
  skipped: number;
}

export class MacroRecorder {
  private steps: MacroStep[] = [];
  private lastTime: number | null = null;
  private readonly keysDown: string[] = [];
  private readonly buttonsDown: MouseButton[] = [];
  private skipped = 0;

  constructor(
    private readonly mode: DelayMode,
    private readonly fixedMs = 50,
  ) {}

  private pause(time: number): void {
    const last = this.lastTime;
    this.lastTime = time;
    // Nothing waits before the first press: the macro starts when the key is pressed.
    if (last === null || this.mode === 'none') return;
    if (this.mode === 'fixed') {
      const ms = clampInt(this.fixedMs, 0, MAX_DELAY);
      if (ms > 0) this.steps.push({ kind: 'delay', ms });
      return;
    }
    // A pause longer than one step can hold is kept whole as several steps.
    let ms = Math.max(0, Math.round(time - last));
    while (ms > 0) {
      const part = Math.min(ms, MAX_DELAY);
      this.steps.push({ kind: 'delay', ms: part });
      ms -= part;
    }
  }

  /** A key went down or up; `name` is '' for a key the device cannot play. */
  key(down: boolean, name: string, time: number): void {
    if (!name) {
      if (down) this.skipped++;
      return;
    }
    const held = this.keysDown.indexOf(name);
    // Auto-repeat sends more downs for a held key, and a key held when recording began
    // comes up without having gone down here: neither is a press of the macro.
    if (down ? held >= 0 : held < 0) return;
    if (down) this.keysDown.push(name);
    else this.keysDown.splice(held, 1);
    this.pause(time);
    this.steps.push({ kind: down ? 'keyDown' : 'keyUp', key: name });
  }

  button(down: boolean, button: MouseButton, time: number): void {
    const held = this.buttonsDown.indexOf(button);
    if (down ? held >= 0 : held < 0) return;
    if (down) this.buttonsDown.push(button);
    else this.buttonsDown.splice(held, 1);
    this.pause(time);
    this.steps.push({ kind: down ? 'mouseDown' : 'mouseUp', button });
  }

  /** Ends a recording that a key combination stopped. Presses of `keys` still held at the end
   *  of the recording, with the pauses that led to them, are that combination and not part of
   *  the macro; a key held earlier for the macro's own presses stays in it. */
  stopWithout(keys: string[]): RecordResult {
    let end = this.steps.length;
    while (end > 0) {
      const s = this.steps[end - 1];
      const chordKey = s.kind === 'keyDown' && keys.indexOf(s.key) >= 0 && this.keysDown.indexOf(s.key) >= 0;
      if (s.kind !== 'delay' && !chordKey) break;
      if (chordKey) this.keysDown.splice(this.keysDown.indexOf(s.key), 1);
      end--;
    }
    this.steps.length = end;
    return this.stop();
  }

  /** The recording; whatever is still held is released at the end so that the played macro
   *  never leaves a key or button down. */
  stop(): RecordResult {
    const steps = this.steps.slice();
    for (const key of this.keysDown.slice().reverse()) steps.push({ kind: 'keyUp', key });
    for (const button of this.buttonsDown.slice().reverse()) steps.push({ kind: 'mouseUp', button });
    return { steps, skipped: this.skipped };
  }
}
