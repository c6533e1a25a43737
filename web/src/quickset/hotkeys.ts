// The hot keys the program reports to this panel, and what the user chose each one to do.
// Only this panel hears them: the program sends them to no other page.

export const HOT_KEYS = ['F1', 'F2', 'F3', 'F4', 'F11', 'F12'] as const;
export type HotKey = (typeof HOT_KEYS)[number];

export const ACTIONS = ['none', 'showMain', 'closePanel'] as const;
export type HotKeyAction = (typeof ACTIONS)[number];
export type Assignments = Record<HotKey, HotKeyAction>;

const STORAGE_KEY = 'torvanix.hotkeys';

export function isHotKey(name: unknown): name is HotKey {
  return typeof name === 'string' && (HOT_KEYS as readonly string[]).indexOf(name) >= 0;
}

// The key of a HotKeyMsg event (its one argument); anything else is not a hot key of ours.
export function hotKeyOf(args: unknown[]): HotKey | null {
  return Array.isArray(args) && isHotKey(args[0]) ? args[0] : null;
}

export function defaultAssignments(): Assignments {
  const out = {} as Assignments;
  for (const k of HOT_KEYS) out[k] = 'none';
  return out;
}

// A stored text from an older or damaged page keeps what it can: unknown keys and actions
// are dropped, not trusted.
export function parseAssignments(text: string | null): Assignments {
  const out = defaultAssignments();
  if (!text) return out;
  let data: unknown;
  try {
    data = JSON.parse(text);
  } catch {
    return out;
  }
  if (!data || typeof data !== 'object' || Array.isArray(data)) return out;
  for (const [k, v] of Object.entries(data as Record<string, unknown>))
    if (isHotKey(k) && typeof v === 'string' && (ACTIONS as readonly string[]).indexOf(v) >= 0)
      out[k] = v as HotKeyAction;
  return out;
}

export function loadAssignments(): Assignments {
  try {
    return parseAssignments(localStorage.getItem(STORAGE_KEY));
  } catch {
    return defaultAssignments();
  }
}

export function saveAssignments(a: Assignments): boolean {
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify(a));
    return true;
  } catch {
    return false;
  }
}
