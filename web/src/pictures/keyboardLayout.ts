// Where each key of a keyboard template sits: the template gives rows and columns, the key
// names give the widths and the gaps between the key blocks, so a full-size and a compact
// board both come out as they look.
import type { KeyDef } from '../model/template';

export interface PlacedKey {
  key: KeyDef;
  /** The key's name in the D2.0 spelling (what the layout tables use). */
  canonical: string;
  x: number;
  y: number;
  w: number;
  h: number;
}

export interface KeyboardLayout {
  keys: PlacedKey[];
  width: number;
  height: number;
}

// Table spellings of the D3.0/D4.0 templates, back to the D2.0 ones.
const CANONICAL: Record<string, string> = {
  'Num Lock': 'Num LOCK', 'Num Enter': 'Num ENTER', Backspace: 'BACKSPACE', Enter: 'ENTER', Tab: 'TAB',
  CapsLock: 'CAPSLOCK', APPkey: 'APPKEY', Space: 'SPACE', 'Print Screen': 'PRINTSCREEN',
  'Scroll Lock': 'SCROLLLOCK', Pause: 'PAUSE', Insert: 'INSERT', Home: 'HOME', 'Page Up': 'PAGEUP',
  Delete: 'DELETE', End: 'END', 'Page Down': 'PAGEDOWN', Up: 'UP', Down: 'DOWN', Left: 'LEFT', Right: 'RIGHT',
  Esc: 'ESC', '=': '+', Ctrl: 'CTRL', Shift: 'SHIFT', Alt: 'ALT', Win: 'WIN',
};

export function canonicalKeyName(name: string): string {
  return CANONICAL[name] || name;
}

const WIDTH: Record<string, number> = {
  BACKSPACE: 2, TAB: 1.5, '\\': 1.5, CAPSLOCK: 1.75, ENTER: 2.25, LSHIFT: 2.25,
  LCTRL: 1.25, LWIN: 1.25, LALT: 1.25, SPACE: 6.25, 'Num 0': 2,
};
// A full-size board has room for wider right-hand modifiers than a compact one.
const WIDTH_FULL: Record<string, number> = { RSHIFT: 2.75, RALT: 1.25, FN: 1.25, APPKEY: 1.25, RCTRL: 1.25, RWIN: 1.25 };
const WIDTH_COMPACT: Record<string, number> = { RSHIFT: 1.75 };
const TALL = ['Num +', 'Num ENTER'];

// Block starts on a full-size board (the function row's groups, the navigation block, the
// number pad).
const START_FULL: Record<string, number> = {
  F1: 2, F5: 6.5, F9: 11, PRINTSCREEN: 15.25, INSERT: 15.25, DELETE: 15.25, UP: 16.25, LEFT: 15.25,
  'Num LOCK': 18.5, 'Num 7': 18.5, 'Num 4': 18.5, 'Num 1': 18.5, 'Num 0': 18.5,
};

/** Short legend for a key cap. */
const LEGEND: Record<string, string> = {
  ESC: 'Esc', BACKSPACE: 'Backspace', TAB: 'Tab', CAPSLOCK: 'Caps', ENTER: 'Enter', LSHIFT: 'Shift',
  RSHIFT: 'Shift', LCTRL: 'Ctrl', RCTRL: 'Ctrl', LWIN: 'Win', RWIN: 'Win', LALT: 'Alt', RALT: 'Alt',
  APPKEY: 'Menu', SPACE: 'Space', PRINTSCREEN: 'PrtSc', SCROLLLOCK: 'ScrLk', PAUSE: 'Pause',
  INSERT: 'Ins', HOME: 'Home', PAGEUP: 'PgUp', DELETE: 'Del', END: 'End', PAGEDOWN: 'PgDn',
  UP: '↑', DOWN: '↓', LEFT: '←', RIGHT: '→', FN: 'Fn', 'Num LOCK': 'Num', 'Num ENTER': 'Enter',
  '+': '=',
};

/** Spoken names where the legend is a symbol or an abbreviation. */
const SPOKEN: Record<string, string> = {
  LSHIFT: 'Left Shift', RSHIFT: 'Right Shift', LCTRL: 'Left Ctrl', RCTRL: 'Right Ctrl', LWIN: 'Left Win',
  RWIN: 'Right Win', LALT: 'Left Alt', RALT: 'Right Alt', APPKEY: 'Menu', PRINTSCREEN: 'Print Screen',
  SCROLLLOCK: 'Scroll Lock', PAGEUP: 'Page Up', PAGEDOWN: 'Page Down', CAPSLOCK: 'Caps Lock', ESC: 'Esc',
  UP: 'Up', DOWN: 'Down', LEFT: 'Left', RIGHT: 'Right', INSERT: 'Insert', DELETE: 'Delete',
  'Num LOCK': 'Num Lock', 'Num ENTER': 'Num Enter', '+': '=', FN: 'Fn',
};

export function keyLegend(canonical: string): string {
  if (LEGEND[canonical]) return LEGEND[canonical];
  if (/^Num /.test(canonical)) return canonical.slice(4);
  return canonical.length > 1 ? canonical.charAt(0) + canonical.slice(1).toLowerCase() : canonical;
}

/** The legend's type size in key units: it follows the key's width and the legend's length, so
 *  "Backspace" and the pad's "Enter" stay on their caps at every window width. */
export function legendFit(legend: string, keyWidth: number): number {
  return Math.min(0.36, (keyWidth * 1.1) / Math.max(1, Array.from(legend).length));
}

export function keySpokenName(canonical: string): string {
  if (SPOKEN[canonical]) return SPOKEN[canonical];
  return canonical.length > 1 && !/^Num /.test(canonical) && !/^F\d/.test(canonical)
    ? canonical.charAt(0) + canonical.slice(1).toLowerCase()
    : canonical;
}

export function layoutKeyboard(keys: KeyDef[]): KeyboardLayout {
  const canonicalOf = (k: KeyDef) => canonicalKeyName(k.value || k.task);
  const full = keys.some((k) => /^Num /.test(canonicalOf(k)));
  const rows = new Map<number, KeyDef[]>();
  for (const k of keys) {
    const list = rows.get(k.row) || [];
    list.push(k);
    rows.set(k.row, list);
  }
  const rowNumbers = Array.from(rows.keys()).sort((a, b) => a - b);
  const placed: PlacedKey[] = [];
  let width = 0;
  rowNumbers.forEach((r) => {
    const row = (rows.get(r) || []).slice().sort((a, b) => a.col - b.col);
    // The function row stands apart from the typing block on a full-size board.
    const y = r + (full && r > rowNumbers[0] ? 0.5 : 0);
    let x = 0;
    for (const key of row) {
      const canonical = canonicalOf(key);
      if (full && START_FULL[canonical] !== undefined) x = Math.max(x, START_FULL[canonical]);
      const w = (full ? WIDTH_FULL : WIDTH_COMPACT)[canonical] || WIDTH[canonical] || 1;
      const h = full && TALL.indexOf(canonical) >= 0 ? 2 : 1;
      placed.push({ key, canonical, x, y, w, h });
      x += w;
      width = Math.max(width, x);
    }
  });
  const height = placed.reduce((m, p) => Math.max(m, p.y + p.h), 0);
  return { keys: placed, width, height };
}
