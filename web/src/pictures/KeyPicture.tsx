import { useEffect, useMemo, useRef, useState } from 'preact/hooks';
import type { KeyDef } from '../model/template';
import { useRovingGrid, type GridRows } from '../ui/grid';
import { keyLegend, keySpokenName, layoutKeyboard, legendFit } from './keyboardLayout';
import { MOUSE_VIEWBOX, MouseOutline, mouseSpots } from './mouse';
import './pictures.css';

export interface SelectHow {
  shift: boolean;
  ctrl: boolean;
}

export interface KeyPictureProps {
  keys: KeyDef[];
  mouse: boolean;
  /** The grid's accessible name. */
  label: string;
  selected: string[];
  multiSelect?: boolean;
  /** Button name → "rrggbb" shown on the key (the lighting preview). */
  colours?: Record<string, string>;
  /** Spoken name of a mouse button (keyboard keys are named by their legend). */
  buttonName?: (key: KeyDef, number: number) => string;
  /** Shown under the key's name as its tooltip, e.g. the function it has now. */
  describe?: (key: KeyDef) => string;
  onSelect: (name: string, how: SelectHow) => void;
  /** The pointer, held down, moved over another key (painting). */
  onDrag?: (name: string) => void;
  /** Only a preview: hidden from assistive technology and out of the tab order. */
  decorative?: boolean;
}

interface Cell {
  key: KeyDef;
  id: string;
  number: number;
  x: number;
  y: number;
  w: number;
  h: number;
  legend: string;
  name: string;
}

// Cells are placed on a quarter-unit column grid so that moving up and down with the arrows
// lands on the key nearest below or above, whatever the widths in between.
function gridRows(cells: Cell[]): GridRows {
  const rows = new Map<number, (string | null)[]>();
  for (const c of cells) {
    const row = rows.get(c.y) || [];
    const col = Math.round((c.x + c.w / 2) * 4);
    while (row.length <= col) row.push(null);
    row[col] = c.id;
    rows.set(c.y, row);
  }
  return Array.from(rows.keys())
    .sort((a, b) => a - b)
    .map((y) => rows.get(y) || []);
}

const buttonNumber = (k: KeyDef) => parseInt(k.name.replace(/^\D+/, ''), 10) || 0;

// A dark key light (a dim colour, or a low brightness) needs a light legend to stay readable.
function isDim(hex: string): boolean {
  const n = parseInt(hex, 16);
  if (hex.length !== 6 || Number.isNaN(n)) return false;
  const luminance = 0.2126 * ((n >> 16) & 255) + 0.7152 * ((n >> 8) & 255) + 0.0722 * (n & 255);
  return luminance < 110;
}

// Pixels per key unit: the picture is drawn in percent, but type cannot follow a box's width in
// CSS alone.
function useUnitPixels(units: number) {
  const ref = useRef<HTMLDivElement>(null);
  const [unit, setUnit] = useState(0);
  useEffect(() => {
    const el = ref.current;
    if (!el || typeof ResizeObserver === 'undefined') return;
    const observer = new ResizeObserver(() => setUnit(el.clientWidth / units));
    observer.observe(el);
    return () => observer.disconnect();
  }, [units]);
  return { ref, unit };
}

export function KeyPicture(props: KeyPictureProps) {
  const { keys, mouse, label, selected, multiSelect, colours, buttonName, describe, onSelect, onDrag, decorative } = props;
  const dragging = useRef(false);

  const { cells, width, height } = useMemo(() => {
    if (mouse) {
      const spots = mouseSpots(keys);
      return {
        cells: keys.map((key): Cell => {
          const s = spots[key.name];
          const n = buttonNumber(key);
          return {
            key, id: `mouse-button-${n}`, number: n, x: s.x, y: s.y, w: 1, h: 1,
            legend: String(n), name: buttonName ? buttonName(key, n) : key.label || String(n),
          };
        }),
        width: MOUSE_VIEWBOX.w,
        height: MOUSE_VIEWBOX.h,
      };
    }
    const layout = layoutKeyboard(keys);
    return {
      cells: layout.keys.map((p): Cell => ({
        key: p.key, id: `key-${p.key.name}`, number: buttonNumber(p.key), x: p.x, y: p.y, w: p.w, h: p.h,
        legend: keyLegend(p.canonical), name: keySpokenName(p.canonical),
      })),
      width: layout.width,
      height: layout.height,
    };
  }, [keys, mouse, buttonName]);

  const byId = useMemo(() => new Map(cells.map((c) => [c.id, c])), [cells]);
  const rows = useMemo(() => gridRows(cells), [cells]);
  const grid = useRovingGrid(rows, (id, e) => {
    const c = byId.get(id);
    if (c) onSelect(c.key.name, { shift: e.shiftKey, ctrl: e.ctrlKey || e.metaKey });
  });

  useEffect(() => {
    const stop = () => {
      dragging.current = false;
    };
    window.addEventListener('pointerup', stop);
    window.addEventListener('pointercancel', stop);
    return () => {
      window.removeEventListener('pointerup', stop);
      window.removeEventListener('pointercancel', stop);
    };
  }, []);

  // A touch or pen keeps sending its moves to the element it went down on, so for those the
  // key under the point is looked up; a mouse's events come from the key itself.
  const cellAt = (e: PointerEvent): Cell | undefined => {
    const under = e.pointerType === 'touch' || e.pointerType === 'pen' ? document.elementFromPoint(e.clientX, e.clientY) : null;
    const el = (under || e.target) as HTMLElement | null;
    const hit = el && el.closest ? el.closest('[data-cell]') : null;
    return hit ? byId.get(hit.getAttribute('data-cell') || '') : undefined;
  };

  const onPointerDown = (e: PointerEvent) => {
    if (e.button !== 0) return;
    const c = cellAt(e);
    if (!c) return;
    e.preventDefault();
    grid.setActive(c.id);
    (document.getElementById(c.id) as HTMLElement | null)?.focus();
    dragging.current = !!multiSelect && !e.shiftKey;
    onSelect(c.key.name, { shift: e.shiftKey, ctrl: e.ctrlKey || e.metaKey });
  };
  const onPointerMove = (e: PointerEvent) => {
    if (!dragging.current || !onDrag) return;
    const c = cellAt(e);
    if (c && selected.indexOf(c.key.name) < 0) onDrag(c.key.name);
  };

  // Rows in the order they are drawn, each a WAI-ARIA row.
  const rowCells = rows.map((r) => r.filter((id): id is string => id !== null).map((id) => byId.get(id) as Cell));
  const unitW = 100 / width;
  const unitH = 100 / height;
  const sizing = useUnitPixels(width);

  return (
    <div class={`key-picture-frame ${mouse ? 'is-mouse' : 'is-keyboard'}`} aria-hidden={decorative ? 'true' : undefined}>
    {/* The height follows the width through the padding (percentages of the frame's width). */}
    <div
      ref={sizing.ref}
      class="key-picture"
      style={{
        paddingBottom: `${(height / width) * 100}%`,
        ...(sizing.unit ? { '--key-unit': `${sizing.unit}px` } : {}),
      }}
    >
      {mouse && <MouseOutline />}
      <div
        role={decorative ? undefined : 'grid'}
        aria-label={decorative ? undefined : label}
        aria-multiselectable={multiSelect && !decorative ? 'true' : undefined}
        class="key-grid"
        onKeyDown={decorative ? undefined : grid.onKeyDown}
        onPointerDown={decorative ? undefined : onPointerDown}
        onPointerMove={decorative ? undefined : onPointerMove}
      >
        {rowCells.map((row, i) => (
          <div role={decorative ? undefined : 'row'} key={i} class="key-row">
            {row.map((c) => {
              const isSelected = selected.indexOf(c.key.name) >= 0;
              const colour = colours && colours[c.key.name];
              const dim = !!colour && isDim(colour);
              const tip = describe ? describe(c.key) : '';
              return (
                <div
                  key={c.id}
                  id={decorative ? undefined : c.id}
                  data-cell={c.id}
                  role={decorative ? undefined : 'gridcell'}
                  aria-selected={decorative ? undefined : isSelected ? 'true' : 'false'}
                  aria-label={decorative ? undefined : c.name}
                  title={tip ? `${c.name}: ${tip}` : c.name}
                  tabIndex={decorative ? undefined : grid.tabIndexFor(c.id)}
                  ref={decorative ? undefined : grid.register(c.id)}
                  onFocus={decorative ? undefined : () => grid.setActive(c.id)}
                  class={`key-cap${isSelected ? ' is-selected' : ''}${colour ? ' is-lit' : ''}${dim ? ' is-dim' : ''}`}
                  style={{
                    left: `${(mouse ? c.x - 0.5 : c.x) * unitW}%`,
                    top: `${(mouse ? c.y - 0.5 : c.y) * unitH}%`,
                    width: `${c.w * unitW}%`,
                    height: `${c.h * unitH}%`,
                    '--legend-fit': String(legendFit(c.legend, c.w)),
                    ...(colour ? { '--key-light': `#${colour}` } : {}),
                  }}
                >
                  {/* The legend is drawn, not written: an abbreviation ("PgUp") as text would be
                      visible content missing from the key's spoken name ("Page Up"). */}
                  <span class="key-legend" data-legend={c.legend} aria-hidden="true" />
                </div>
              );
            })}
          </div>
        ))}
      </div>
    </div>
    </div>
  );
}
