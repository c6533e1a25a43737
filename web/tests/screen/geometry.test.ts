import { describe, expect, it } from 'vitest';
import { INITIAL_PLACEMENT, clampPlacement, drawRect, pan, zoomTo } from '../../src/screen/geometry';

describe('placing a picture on the 320x172 screen', () => {
  it('fill crops the longer side around the centre; fit letterboxes the whole picture', () => {
    // 640x640: fill shows a 640x344 band across the middle.
    expect(drawRect(INITIAL_PLACEMENT, 640, 640)).toEqual({ sx: 0, sy: 148, sw: 640, sh: 344, dx: 0, dy: 0, dw: 320, dh: 172 });
    // Fit: 172x172 in the middle, bars left and right.
    expect(drawRect({ ...INITIAL_PLACEMENT, mode: 'fit' }, 640, 640)).toEqual({ sx: 0, sy: 0, sw: 640, sh: 640, dx: 74, dy: 0, dw: 172, dh: 172 });
    // A picture of the screen's size is drawn unchanged.
    expect(drawRect(INITIAL_PLACEMENT, 320, 172)).toEqual({ sx: 0, sy: 0, sw: 320, sh: 172, dx: 0, dy: 0, dw: 320, dh: 172 });
    expect(drawRect(INITIAL_PLACEMENT, 0, 10)).toBeNull();
  });

  it('zoom shrinks the visible part and panning stays inside the picture', () => {
    const z = zoomTo(INITIAL_PLACEMENT, 2, 320, 172);
    const r = drawRect(z, 320, 172)!;
    expect([r.sw, r.sh]).toEqual([160, 86]);
    expect([r.sx, r.sy]).toEqual([80, 43]);
    // Dragging right by a whole screen shows the left edge, and no further.
    const left = pan(z, 1000, 0, 320, 172);
    expect(drawRect(left, 320, 172)!.sx).toBe(0);
    // Dragging 32 screen pixels left at zoom 2 moves 16 picture pixels.
    expect(drawRect(pan(z, -32, 0, 320, 172), 320, 172)!.sx).toBe(96);
    // Zoom and centre are kept in range whatever comes in.
    expect(clampPlacement({ mode: 'fill', zoom: 99, cx: -5, cy: NaN }, 320, 172)).toEqual({ mode: 'fill', zoom: 4, cx: 0.125, cy: 0.5 });
    expect(zoomTo(INITIAL_PLACEMENT, 0.2, 320, 172).zoom).toBe(1);
  });
});
