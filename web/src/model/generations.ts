// Device families, their function tables, and what each family's translator really sends to
// the device: the pages offer a control only where a change reaches the hardware.
import { attr, childrenNamed, parseXml } from './xml';

export type Family = 'generic-d2' | 'qpa-mouse' | 'hje-mouse' | 'hfd' | 'keyboard-d4' | 'mouse-d3' | 'sync';
export type Generation = 'D2.0' | 'D3.0' | 'D4.0';

/** The identity (a document's `UsbId`, a device record's `Version`) as the native dispatcher
 *  reads it: one firmware spelling folded into another, then upper case. Every comparison of
 *  identities in the page goes through here. */
export function normaliseIdentity(identity: string): string {
  return identity.trim().split('WSU-DFO-V1.1.0.6').join('WSU-DFO-V1.1.0').toUpperCase();
}

export function sameIdentity(a: string, b: string): boolean {
  return normaliseIdentity(a) === normaliseIdentity(b);
}

export function familyOf(identity: string): Family {
  switch (normaliseIdentity(identity)) {
    case '0C458075':
      return 'hfd';
    case '05AC024F':
      return 'keyboard-d4';
    case '258A002E':
      return 'mouse-d3';
    case 'SYNC':
      return 'sync';
    case 'HJE-XAV-V1.2.0':
    case 'HJE-XAV-V1.1.0':
      return 'hje-mouse';
    case 'QPA-RTE-V1.1.0':
      return 'qpa-mouse';
    default:
      return 'generic-d2';
  }
}

export function generationOf(family: Family): Generation | null {
  if (family === 'sync') return null;
  if (family === 'hfd' || family === 'keyboard-d4') return 'D4.0';
  if (family === 'mouse-d3') return 'D3.0';
  return 'D2.0';
}

export interface Range {
  min: number;
  max: number;
  step: number;
}

export interface LightingTraits {
  /** Effect numbers the translator passes on. */
  effects: number[];
  /** The preset colour reaches the device: always, never, or only with one effect. */
  colour: 'always' | 'never' | number;
  /** The colour the device shows its presets in when it takes none ("rrggbb"). */
  fixedColour?: string;
  brightness: Range | null;
  speed: Range | null;
  direction: boolean;
  /** Per-key colours (a "LightUp" mode) are sent by this family. */
  perKey: boolean;
  /** The family answers a lighting read ("get"). */
  readable: boolean;
}

export type AssignKind = 'keyboard' | 'combo' | 'mouse' | 'media' | 'dpi' | 'disable' | 'macro';

export interface FamilyTraits {
  generation: Generation | null;
  assign: AssignKind[];
  lighting: LightingTraits | null;
  dpi: (Range & { maxStages: number; editStages: boolean }) | null;
  /** Report rates the family encodes (others fold into one of these). */
  reportRates: number[];
  /** The battery is read with the `Power` key. */
  powerQuery: boolean;
}

const ALL_KINDS: AssignKind[] = ['keyboard', 'combo', 'mouse', 'media', 'dpi', 'disable', 'macro'];
const LEVEL: Range = { min: 0, max: 4, step: 1 };

function range(from: number, to: number): number[] {
  const out: number[] = [];
  for (let i = from; i <= to; i++) out.push(i);
  return out;
}

// Why some families lack a control: the packet keyboard takes an all-zero entry for "keep the
// default", so a key cannot be disabled there; the library keyboard shows presets in a fixed
// colour and at fixed brightness and speed; the library mouse passes brightness, speed and
// direction as its own constant and takes a colour only with its colour effect (2); only the
// D2.0 translators carry the macro text inside the key record or the packet keyboard's macro
// table, while the libraries write one fixed macro entry whatever the page names.
export const FAMILY_TRAITS: Record<Family, FamilyTraits> = {
  'generic-d2': {
    generation: 'D2.0',
    assign: ALL_KINDS,
    lighting: { effects: range(0, 9), colour: 'always', brightness: LEVEL, speed: LEVEL, direction: true, perKey: true, readable: true },
    dpi: { min: 50, max: 16000, step: 50, maxStages: 8, editStages: false },
    reportRates: [125, 250, 500, 1000, 2000, 4000],
    powerQuery: false,
  },
  'qpa-mouse': {
    generation: 'D2.0',
    assign: ALL_KINDS,
    lighting: { effects: range(0, 9), colour: 'always', brightness: LEVEL, speed: LEVEL, direction: true, perKey: true, readable: false },
    dpi: null,
    reportRates: [],
    powerQuery: false,
  },
  'hje-mouse': {
    generation: 'D2.0',
    assign: ALL_KINDS,
    lighting: null,
    dpi: null,
    reportRates: [],
    powerQuery: false,
  },
  hfd: {
    generation: 'D4.0',
    assign: ['keyboard', 'combo', 'mouse', 'media', 'macro'],
    lighting: { effects: range(1, 20), colour: 'always', brightness: LEVEL, speed: LEVEL, direction: true, perKey: true, readable: false },
    dpi: null,
    reportRates: [],
    powerQuery: true,
  },
  'keyboard-d4': {
    generation: 'D4.0',
    assign: ['keyboard', 'combo', 'mouse', 'media'],
    lighting: { effects: range(0, 9), colour: 'never', fixedColour: 'ffea7b', brightness: null, speed: null, direction: false, perKey: true, readable: false },
    dpi: null,
    reportRates: [],
    powerQuery: false,
  },
  'mouse-d3': {
    generation: 'D3.0',
    assign: ['keyboard', 'combo', 'mouse', 'media', 'dpi'],
    lighting: { effects: range(0, 9), colour: 2, brightness: null, speed: null, direction: false, perKey: false, readable: false },
    dpi: { min: 100, max: 16000, step: 100, maxStages: 10, editStages: true },
    reportRates: [],
    powerQuery: false,
  },
  sync: { generation: null, assign: [], lighting: null, dpi: null, reportRates: [], powerQuery: false },
};

// ---- function tables ----

export interface FunctionRow {
  task: string;
  name: string;
  code: string;
  vkCode: string;
  scanCode: string;
}

export type FunctionGroup = 'mouse' | 'dpi' | 'media' | 'keyboard';

export interface FunctionTable {
  generation: string;
  rows: FunctionRow[];
  /** First row per task, as the native lookup takes it. */
  byTask: Map<string, FunctionRow>;
}

export function parseFunctionTable(text: string): FunctionTable {
  const root = parseXml(text);
  if (root.name !== 'Driver') throw new Error('not a function table');
  const rows: FunctionRow[] = childrenNamed(root, 'key').map((k) => ({
    task: attr(k, 'Task'),
    name: attr(k, 'Name'),
    code: attr(k, 'Code'),
    vkCode: attr(k, 'vkCode'),
    scanCode: attr(k, 'ScanCode'),
  }));
  const byTask = new Map<string, FunctionRow>();
  for (const r of rows) if (!byTask.has(r.task)) byTask.set(r.task, r);
  return { generation: attr(root, 'Version'), rows, byTask };
}

const DPI_TASKS = ['DPI循环', 'DPI+', 'DPI-'];

/** The bytes a function row stands for in this family (the D4.0 rows keep some in `vkCode`). */
function rowBytes(row: FunctionRow, family: Family): string {
  if (family === 'keyboard-d4' || family === 'hfd') {
    if (/^0x0[0-9a-fA-F],/.test(row.vkCode)) return row.vkCode;
  }
  return row.code;
}

export function groupOf(row: FunctionRow, family: Family): FunctionGroup | null {
  if (row.scanCode !== '') return 'keyboard';
  if (DPI_TASKS.indexOf(row.task) >= 0) return 'dpi';
  const bytes = rowBytes(row, family);
  const items = bytes.split(',');
  if (items.length !== 4) return null;
  if (items[0] === '0x03') return 'media';
  if (items[0] === '0x01' || items[0] === '0x07') {
    // The library keyboard reads a mouse entry as one packed number, which only the click
    // rows carry (their `vkCode`); the other rows would arrive as 0.
    if (family === 'keyboard-d4' && !/^0x[0-9a-fA-F]{8}$/.test(row.vkCode)) return null;
    return 'mouse';
  }
  return null;
}

/** The assignable functions of a group, in table order. */
export function functionsOf(table: FunctionTable, family: Family, group: FunctionGroup): FunctionRow[] {
  const seen = new Set<string>();
  return table.rows.filter((r) => {
    if (seen.has(r.task) || groupOf(r, family) !== group) return false;
    seen.add(r.task);
    return true;
  });
}

// ---- keyboard key names ----

// Key names as the D2.0 table spells them, by the browser's physical key code.
const CODE_TO_D2: Record<string, string> = {
  Escape: 'ESC', Backquote: '`', Minus: '-', Equal: '+', Backspace: 'BACKSPACE', Tab: 'TAB',
  BracketLeft: '[', BracketRight: ']', Backslash: '\\', IntlBackslash: '\\', CapsLock: 'CAPSLOCK', Semicolon: ';',
  Quote: "'", Enter: 'ENTER', Comma: ',', Period: '.', Slash: '/', Space: 'SPACE',
  ShiftLeft: 'LSHIFT', ShiftRight: 'RSHIFT', ControlLeft: 'LCTRL', ControlRight: 'RCTRL',
  AltLeft: 'LALT', AltRight: 'RALT', MetaLeft: 'LWIN', MetaRight: 'RWIN', OSLeft: 'LWIN', OSRight: 'RWIN',
  ContextMenu: 'APPKEY', PrintScreen: 'PRINTSCREEN', ScrollLock: 'SCROLLLOCK', Pause: 'PAUSE',
  Insert: 'INSERT', Home: 'HOME', PageUp: 'PAGEUP', Delete: 'DELETE', End: 'END', PageDown: 'PAGEDOWN',
  ArrowUp: 'UP', ArrowDown: 'DOWN', ArrowLeft: 'LEFT', ArrowRight: 'RIGHT', NumLock: 'Num LOCK',
  NumpadDivide: 'Num /', NumpadMultiply: 'Num *', NumpadSubtract: 'Num -', NumpadAdd: 'Num +',
  NumpadEnter: 'Num ENTER', NumpadDecimal: 'Num .', AudioVolumeMute: 'MUTE', VolumeMute: 'MUTE',
  AudioVolumeUp: 'VOICE +', VolumeUp: 'VOICE +', AudioVolumeDown: 'VOICE -', VolumeDown: 'VOICE -',
  LaunchApp2: 'CALC',
};

// Where the D3.0 and D4.0 tables spell a key otherwise.
const D34_NAMES: Record<string, string> = {
  'Num LOCK': 'Num Lock', 'Num ENTER': 'Num Enter', BACKSPACE: 'Backspace', ENTER: 'Enter', TAB: 'Tab',
  CAPSLOCK: 'CapsLock', APPKEY: 'APPkey', SPACE: 'Space', PRINTSCREEN: 'Print Screen',
  SCROLLLOCK: 'Scroll Lock', PAUSE: 'Pause', INSERT: 'Insert', HOME: 'Home', PAGEUP: 'Page Up',
  DELETE: 'Delete', END: 'End', PAGEDOWN: 'Page Down', UP: 'Up', DOWN: 'Down', LEFT: 'Left', RIGHT: 'Right',
};

/** The D2.0 spelling of a physical key, or '' for a key no table knows by that code. */
export function d2KeyName(code: string): string {
  if (CODE_TO_D2[code]) return CODE_TO_D2[code];
  let m = /^Key([A-Z])$/.exec(code);
  if (m) return m[1];
  m = /^Digit([0-9])$/.exec(code);
  if (m) return m[1];
  m = /^Numpad([0-9])$/.exec(code);
  if (m) return `Num ${m[1]}`;
  m = /^F([0-9]{1,2})$/.exec(code);
  if (m) return `F${m[1]}`;
  return '';
}

export function keyNameIn(generation: Generation, d2Name: string): string {
  if (generation === 'D2.0') return d2Name;
  if (generation === 'D3.0' && d2Name === 'ESC') return 'Esc';
  if (generation === 'D3.0' && d2Name === '+') return '=';
  return D34_NAMES[d2Name] || d2Name;
}

/** Whether the family's key encoder finds this key name as a key: the D2.0 encoder upper-cases
 *  every part of a combination before the lookup, so a name spelt in mixed case there is lost;
 *  and only rows with a key usage make a key (the modifier-bit rows "CTRL" ... carry a bit, "FN"
 *  no usage at all). */
export function encodableKey(table: FunctionTable, family: Family, name: string): boolean {
  const d2 = family === 'generic-d2' || family === 'qpa-mouse' || family === 'hje-mouse';
  const row = table.byTask.get(d2 ? name.toUpperCase() : name);
  if (!row || row.scanCode === '' || !/^[0-9a-fA-F]{2}$/.test(row.code)) return false;
  const usage = parseInt(row.code, 16);
  return usage >= 0x04 && usage <= 0xe7;
}

export const MODIFIER_WORDS = ['Ctrl', 'Shift', 'Alt', 'Win'] as const;
export type Modifier = (typeof MODIFIER_WORDS)[number];

const MODIFIER_CODES: Record<string, Modifier> = {
  ControlLeft: 'Ctrl', ControlRight: 'Ctrl', ShiftLeft: 'Shift', ShiftRight: 'Shift',
  AltLeft: 'Alt', AltRight: 'Alt', MetaLeft: 'Win', MetaRight: 'Win', OSLeft: 'Win', OSRight: 'Win',
};

export function modifierOf(code: string): Modifier | null {
  return MODIFIER_CODES[code] || null;
}

/** "Ctrl+Alt+Delete" from held modifiers and one key name (modifiers in a fixed order). */
export function combinationText(modifiers: Modifier[], key: string): string {
  const parts: string[] = MODIFIER_WORDS.filter((m) => modifiers.indexOf(m) >= 0);
  if (key) parts.push(key);
  return parts.join('+');
}
