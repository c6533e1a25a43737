import { useCallback, useRef, useState } from 'preact/hooks';

// Roving tab index for a WAI-ARIA grid (key pictures): one tab stop for the whole grid, arrows
// move between cells, Home/End to the row's ends (with Ctrl: the grid's), Enter and Space
// activate. Rows may differ in length and have holes (null).

export type GridRows = ReadonlyArray<ReadonlyArray<string | null>>;

export interface Position {
  row: number;
  col: number;
}

export function findCell(rows: GridRows, id: string): Position | null {
  for (let r = 0; r < rows.length; r++) {
    const c = rows[r].indexOf(id);
    if (c >= 0) return { row: r, col: c };
  }
  return null;
}

function firstIn(row: ReadonlyArray<string | null>): number {
  return row.findIndex((x) => x !== null);
}
function lastIn(row: ReadonlyArray<string | null>): number {
  for (let i = row.length - 1; i >= 0; i--) if (row[i] !== null) return i;
  return -1;
}

// Nearest cell in the row to the column, for moving up and down between rows of other lengths.
function nearest(row: ReadonlyArray<string | null>, col: number): number {
  let best = -1;
  for (let i = 0; i < row.length; i++)
    if (row[i] !== null && (best < 0 || Math.abs(i - col) < Math.abs(best - col))) best = i;
  return best;
}

// The cell the key moves to, or null when the key is not a grid key or there is nowhere to go.
export function moveInGrid(rows: GridRows, from: string, key: string, ctrl = false): string | null {
  const at = findCell(rows, from);
  if (!at) return null;
  const row = rows[at.row];
  switch (key) {
    case 'ArrowRight':
      for (let c = at.col + 1; c < row.length; c++) if (row[c] !== null) return row[c];
      return null;
    case 'ArrowLeft':
      for (let c = at.col - 1; c >= 0; c--) if (row[c] !== null) return row[c];
      return null;
    case 'ArrowDown':
    case 'ArrowUp': {
      const dir = key === 'ArrowDown' ? 1 : -1;
      for (let r = at.row + dir; r >= 0 && r < rows.length; r += dir) {
        const c = nearest(rows[r], at.col);
        if (c >= 0) return rows[r][c];
      }
      return null;
    }
    case 'Home': {
      if (ctrl) {
        for (const r of rows) {
          const c = firstIn(r);
          if (c >= 0) return r[c];
        }
        return null;
      }
      const c = firstIn(row);
      return c >= 0 ? row[c] : null;
    }
    case 'End': {
      if (ctrl) {
        for (let r = rows.length - 1; r >= 0; r--) {
          const c = lastIn(rows[r]);
          if (c >= 0) return rows[r][c];
        }
        return null;
      }
      const c = lastIn(row);
      return c >= 0 ? row[c] : null;
    }
    default:
      return null;
  }
}

export interface RovingGrid {
  // The cell that holds the tab stop.
  activeId: string | null;
  tabIndexFor: (id: string) => 0 | -1;
  onKeyDown: (e: KeyboardEvent) => void;
  // Make a cell the tab stop (on click, say).
  setActive: (id: string) => void;
  // Give each cell element to the helper so focus can follow the tab stop.
  register: (id: string) => (el: HTMLElement | null) => void;
}

// `onActivate` gets Enter/Space on a cell (the event is the keyboard one, so Shift/Ctrl can
// mean "add to the selection").
export function useRovingGrid(rows: GridRows, onActivate: (id: string, e: KeyboardEvent) => void): RovingGrid {
  const [active, setActiveState] = useState<string | null>(null);
  const elements = useRef(new Map<string, HTMLElement>());
  const flat = rows.flatMap((r) => r.filter((x): x is string => x !== null));
  const current = active !== null && flat.indexOf(active) >= 0 ? active : (flat[0] ?? null);

  const setActive = useCallback((id: string) => setActiveState(id), []);

  const onKeyDown = (e: KeyboardEvent) => {
    if (current === null) return;
    if (e.key === 'Enter' || e.key === ' ') {
      e.preventDefault();
      onActivate(current, e);
      return;
    }
    const next = moveInGrid(rows, current, e.key, e.ctrlKey);
    if (next === null) {
      if (['ArrowRight', 'ArrowLeft', 'ArrowUp', 'ArrowDown', 'Home', 'End'].indexOf(e.key) >= 0) e.preventDefault();
      return;
    }
    e.preventDefault();
    setActiveState(next);
    elements.current.get(next)?.focus();
  };

  const register = (id: string) => (el: HTMLElement | null) => {
    if (el) elements.current.set(id, el);
    else elements.current.delete(id);
  };

  return {
    activeId: current,
    tabIndexFor: (id) => (id === current ? 0 : -1),
    onKeyDown,
    setActive,
    register,
  };
}
