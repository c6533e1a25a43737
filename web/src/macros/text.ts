// Macros as the page edits them and as the translators read them. The text form is
// "<word>(<argument>)<word>(<argument>)...:<playtype>|<delay>|<count>"; the words below are the
// only ones the translators know, anything else is dropped on their side, so the page never
// writes another.
import { keyNameIn, type Generation } from '../model/generations';

export const WORDS = {
  keyDown: '键盘按下',
  keyUp: '键盘弹起',
  mouseDown: '鼠标按下',
  mouseUp: '鼠标弹起',
  move: '相对定位XY',
  delay: '延迟',
} as const;

// The D2.0 function table knows the buttons of a macro by these two rows only (its middle
// button row carries the left button's task, so it cannot be named).
export const BUTTON_WORDS = { left: '左键', right: '右键' } as const;
export type MouseButton = keyof typeof BUTTON_WORDS;

export type MacroStep =
  | { kind: 'keyDown' | 'keyUp'; key: string }
  | { kind: 'mouseDown' | 'mouseUp'; button: MouseButton }
  | { kind: 'move'; x: number; y: number }
  | { kind: 'delay'; ms: number };
export type StepKind = MacroStep['kind'];
export const STEP_KINDS: StepKind[] = ['keyDown', 'keyUp', 'mouseDown', 'mouseUp', 'move', 'delay'];

/** How a key plays its macro: the key record's play type, the pause between rounds and the
 *  number of rounds. */
export interface Playback {
  playtype: number;
  delay: number;
  count: number;
}
export const PLAY_TYPES = [1, 2, 3] as const;
export const DEFAULT_PLAYBACK: Playback = { playtype: 1, delay: 0, count: 1 };

// A pause is two bytes on every device; a move coordinate a signed 16-bit value.
export const MAX_DELAY = 65535;
export const MIN_COORD = -32768;
export const MAX_COORD = 32767;
export const MAX_COUNT = 255;
// The inline key record stops taking steps after about 265 (797 items of three bytes).
export const MAX_STEPS = 265;

export function clampInt(v: number, min: number, max: number): number {
  if (!Number.isFinite(v)) return min;
  return Math.min(max, Math.max(min, Math.trunc(v)));
}

// A key name must not carry the text's own separators, or the translator would cut it apart.
export function validKeyName(name: string): boolean {
  return name.trim() !== '' && !/[():|]/.test(name);
}

/** The step made valid: numbers clamped and whole, or null for a step that cannot be written. */
export function cleanStep(s: MacroStep): MacroStep | null {
  switch (s.kind) {
    case 'keyDown':
    case 'keyUp':
      return validKeyName(s.key) ? { kind: s.kind, key: s.key.trim() } : null;
    case 'mouseDown':
    case 'mouseUp':
      return s.button === 'left' || s.button === 'right' ? { kind: s.kind, button: s.button } : null;
    case 'move':
      return { kind: 'move', x: clampInt(s.x, MIN_COORD, MAX_COORD), y: clampInt(s.y, MIN_COORD, MAX_COORD) };
    case 'delay':
      return { kind: 'delay', ms: clampInt(s.ms, 0, MAX_DELAY) };
    default:
      return null;
  }
}

export function cleanPlayback(p: Partial<Playback> | undefined): Playback {
  const type = Number(p?.playtype);
  return {
    playtype: (PLAY_TYPES as readonly number[]).indexOf(type) >= 0 ? type : DEFAULT_PLAYBACK.playtype,
    delay: clampInt(Number(p?.delay ?? 0), 0, MAX_DELAY),
    count: clampInt(Number(p?.count ?? 1), 1, MAX_COUNT),
  };
}

function stepText(s: MacroStep, generation: Generation): string {
  switch (s.kind) {
    case 'keyDown':
    case 'keyUp':
      return `${WORDS[s.kind]}(${/^(Ctrl|Shift|Alt|Win)$/.test(s.key) ? s.key : keyNameIn(generation, s.key)})`;
    case 'mouseDown':
    case 'mouseUp':
      return `${WORDS[s.kind]}(${BUTTON_WORDS[s.button]})`;
    case 'move':
      return `${WORDS.move}(${s.x},${s.y})`;
    case 'delay':
      return `${WORDS.delay}(${s.ms})`;
  }
}

/** The macro text for a device of this generation (key names in that generation's spelling). */
export function macroText(steps: MacroStep[], playback: Playback, generation: Generation = 'D2.0'): string {
  const body = steps
    .map(cleanStep)
    .filter((s): s is MacroStep => s !== null)
    .map((s) => stepText(s, generation))
    .join('');
  const p = cleanPlayback(playback);
  return `${body}:${p.playtype}|${p.delay}|${p.count}`;
}

export interface ParsedMacro {
  steps: MacroStep[];
  playback: Playback;
  /** Steps the page does not know (kept out; the devices would drop them as well). */
  dropped: number;
}

const WORD_KIND = new Map<string, StepKind>(Object.entries(WORDS).map(([k, w]) => [w, k as StepKind]));

function wholeNumber(text: string): number | null {
  const n = Number(text.trim());
  return text.trim() !== '' && Number.isFinite(n) ? Math.trunc(n) : null;
}

/** The steps of a macro text; unknown or broken steps are counted, not guessed at. */
export function parseMacroText(text: string): ParsedMacro {
  const colon = text.indexOf(':');
  const body = colon < 0 ? text : text.slice(0, colon);
  const steps: MacroStep[] = [];
  let dropped = 0;
  for (const piece of body.split(')')) {
    if (piece.trim() === '') continue;
    const open = piece.indexOf('(');
    const kind = WORD_KIND.get((open < 0 ? piece : piece.slice(0, open)).trim());
    const arg = open < 0 ? '' : piece.slice(open + 1).trim();
    let step: MacroStep | null = null;
    if (kind === 'keyDown' || kind === 'keyUp') step = validKeyName(arg) ? { kind, key: arg } : null;
    else if (kind === 'mouseDown' || kind === 'mouseUp') {
      const button = (Object.keys(BUTTON_WORDS) as MouseButton[]).find((b) => BUTTON_WORDS[b] === arg);
      step = button ? { kind, button } : null;
    } else if (kind === 'move') {
      const [x, y] = arg.split(',').map(wholeNumber);
      step = x !== null && y !== null && x !== undefined && y !== undefined ? cleanStep({ kind, x, y }) : null;
    } else if (kind === 'delay') {
      const ms = wholeNumber(arg);
      step = ms !== null ? cleanStep({ kind, ms }) : null;
    }
    if (step) steps.push(step);
    else dropped++;
  }
  let playback = DEFAULT_PLAYBACK;
  if (colon >= 0) {
    const [type, delay, count] = text.slice(colon + 1).split('|');
    playback = cleanPlayback({ playtype: Number(type), delay: Number(delay ?? 0), count: Number(count ?? 1) });
  }
  return { steps, playback, dropped };
}
