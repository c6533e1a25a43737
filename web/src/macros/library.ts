// The user's macros, kept in the page's storage so that they outlive a device being unplugged,
// and written to or read from ".macro" files through the native file dialogs.
import { signal } from '@preact/signals';
import { cleanPlayback, cleanStep, parseMacroText, type MacroStep, type Playback } from './text';

export interface Macro {
  id: string;
  name: string;
  steps: MacroStep[];
  playback: Playback;
}

const STORAGE_KEY = 'torvanix.macros';
export const FILE_KIND = 'torvanix-macro';
const MAX_NAME = 60;

function newId(): string {
  return `m${Date.now().toString(36)}${Math.floor(Math.random() * 1e6).toString(36)}`;
}

export function cleanName(name: unknown, fallback: string): string {
  const n = typeof name === 'string' ? name.replace(/\s+/g, ' ').trim().slice(0, MAX_NAME) : '';
  return n || fallback;
}

/** A macro from untrusted JSON (storage or a file), or null when it is not one. */
export function readMacro(value: unknown, fallbackName: string): Macro | null {
  if (!value || typeof value !== 'object') return null;
  const o = value as Record<string, unknown>;
  let steps: MacroStep[] | null = null;
  let playback = cleanPlayback(o.playback as Partial<Playback> | undefined);
  if (Array.isArray(o.steps)) {
    steps = o.steps
      .map((s) => (s && typeof s === 'object' ? cleanStep(s as MacroStep) : null))
      .filter((s): s is MacroStep => s !== null);
  } else if (typeof o.content === 'string' || typeof o.text === 'string') {
    const parsed = parseMacroText(String(o.content ?? o.text));
    steps = parsed.steps;
    playback = parsed.playback;
  }
  if (!steps) return null;
  return { id: typeof o.id === 'string' && o.id ? o.id : newId(), name: cleanName(o.name, fallbackName), steps, playback };
}

function loadStored(): Macro[] {
  try {
    const raw = localStorage.getItem(STORAGE_KEY);
    const list: unknown = raw ? JSON.parse(raw) : [];
    if (!Array.isArray(list)) return [];
    return list.map((m, i) => readMacro(m, `Macro ${i + 1}`)).filter((m): m is Macro => m !== null);
  } catch {
    return [];
  }
}

export const macros = signal<Macro[]>(loadStored());

function store(list: Macro[]): void {
  macros.value = list;
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify(list));
  } catch {
    // kept for this session only
  }
}

export function reloadMacros(): void {
  macros.value = loadStored();
}

/** A name not yet in the library: "Macro 3", or "Name (2)" for a copy. */
export function freeName(base: string, list: Macro[] = macros.peek()): string {
  const taken = new Set(list.map((m) => m.name));
  if (!taken.has(base)) return base;
  for (let i = 2; ; i++) if (!taken.has(`${base} (${i})`)) return `${base} (${i})`;
}

export function addMacro(m: Omit<Macro, 'id'>): Macro {
  const made = { ...m, id: newId(), name: freeName(m.name) };
  store([...macros.peek(), made]);
  return made;
}

export function updateMacro(id: string, change: Partial<Omit<Macro, 'id'>>): void {
  store(macros.peek().map((m) => (m.id === id ? { ...m, ...change } : m)));
}

export function renameMacro(id: string, name: string): boolean {
  const current = macros.peek().find((m) => m.id === id);
  const clean = cleanName(name, '');
  if (!current || !clean) return false;
  if (clean !== current.name) updateMacro(id, { name: freeName(clean, macros.peek().filter((m) => m.id !== id)) });
  return true;
}

export function duplicateMacro(id: string): Macro | null {
  const m = macros.peek().find((x) => x.id === id);
  if (!m) return null;
  return addMacro({ name: m.name, steps: m.steps.slice(), playback: { ...m.playback } });
}

export function deleteMacro(id: string): void {
  store(macros.peek().filter((m) => m.id !== id));
}

/** The JSON text of a ".macro" file; `name` also suggests the file's name. */
export function macroFileText(m: Macro, text: string): string {
  return JSON.stringify({ kind: FILE_KIND, version: 1, name: m.name, steps: m.steps, playback: m.playback, content: text });
}

/** The macro in a loaded file, or null when the file holds no macro. */
export function parseMacroFile(text: string, fallbackName: string): Macro | null {
  try {
    return readMacro(JSON.parse(text), fallbackName);
  } catch {
    return null;
  }
}
