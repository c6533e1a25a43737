import type { KeyDef } from '../model/template';

// The mouse drawing: an outline in a 10 x 14 unit box and a spot per button, chosen by the
// button's own function, so each numbered button sits where that button is on the mouse.
export const MOUSE_VIEWBOX = { w: 10, h: 14 };

const SPOT_BY_FUNCTION: Record<string, { x: number; y: number }> = {
  '单击左键()': { x: 3.1, y: 2.6 },
  '单击右键()': { x: 6.9, y: 2.6 },
  '单击中键()': { x: 5, y: 1.6 },
  'DPI循环': { x: 5, y: 4.4 },
  'DPI+': { x: 5, y: 4.4 },
  'DPI-': { x: 5, y: 5.6 },
  '单击前进键()': { x: 1.1, y: 5.4 },
  '单击后退键()': { x: 1.1, y: 7 },
};

export function mouseSpots(keys: KeyDef[]): Record<string, { x: number; y: number }> {
  const taken = new Set<string>();
  const spots: Record<string, { x: number; y: number }> = {};
  let spare = 0;
  for (const k of keys) {
    const s = SPOT_BY_FUNCTION[k.value] || SPOT_BY_FUNCTION[k.task];
    const where = s ? `${s.x},${s.y}` : '';
    if (s && !taken.has(where)) {
      taken.add(where);
      spots[k.name] = s;
    } else {
      // Buttons the drawing has no place for line up under it.
      spots[k.name] = { x: 1.5 + (spare % 4) * 2.3, y: 12.9 - Math.floor(spare / 4) * 1.2 };
      spare++;
    }
  }
  return spots;
}

export function MouseOutline() {
  return (
    <svg class="mouse-outline" viewBox="0 0 100 140" aria-hidden="true" focusable="false">
      <path class="mouse-body" d="M50 4 C22 4 12 24 12 48 L12 86 C12 112 28 122 50 122 C72 122 88 112 88 86 L88 48 C88 24 78 4 50 4 Z" />
      <path class="mouse-split" d="M50 4 L50 40 M12 40 L88 40" />
      <rect class="mouse-wheel" x="45" y="10" width="10" height="20" rx="5" />
      <rect class="mouse-side" x="7" y="48" width="6" height="28" rx="3" />
    </svg>
  );
}
