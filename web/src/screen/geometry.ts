// Where a picture lands on the keyboard's 320x172 screen. "fill" covers the whole screen and
// crops what sticks out (the user pans and zooms the visible part); "fit" shows the whole
// picture, centred, with bars on the two free sides.

export const SCREEN_WIDTH = 320;
export const SCREEN_HEIGHT = 172;
export const MAX_ZOOM = 4;

export type FitMode = 'fill' | 'fit';

export interface Placement {
  mode: FitMode;
  // 1 .. MAX_ZOOM; only "fill" zooms.
  zoom: number;
  // The centre of the visible part, as a fraction of the picture (0 .. 1 each way).
  cx: number;
  cy: number;
}

export const INITIAL_PLACEMENT: Placement = { mode: 'fill', zoom: 1, cx: 0.5, cy: 0.5 };

// Arguments of drawImage(image, sx, sy, sw, sh, dx, dy, dw, dh).
export interface DrawRect {
  sx: number;
  sy: number;
  sw: number;
  sh: number;
  dx: number;
  dy: number;
  dw: number;
  dh: number;
}

const clamp = (v: number, lo: number, hi: number) => (v < lo ? lo : v > hi ? hi : v);

export function clampZoom(zoom: number): number {
  return Number.isFinite(zoom) ? clamp(zoom, 1, MAX_ZOOM) : 1;
}

// The part of the picture that fills the screen at this zoom, in picture pixels.
function visibleSize(width: number, height: number, zoom: number, tw: number, th: number) {
  const scale = Math.max(tw / width, th / height) * clampZoom(zoom);
  return { w: Math.min(width, tw / scale), h: Math.min(height, th / scale) };
}

// Keeps the centre where the visible part stays inside the picture.
export function clampPlacement(p: Placement, width: number, height: number, tw = SCREEN_WIDTH, th = SCREEN_HEIGHT): Placement {
  const zoom = clampZoom(p.zoom);
  if (p.mode === 'fit' || width <= 0 || height <= 0) return { ...p, zoom, cx: 0.5, cy: 0.5 };
  const v = visibleSize(width, height, zoom, tw, th);
  const hx = v.w / width / 2;
  const hy = v.h / height / 2;
  const cx = Number.isFinite(p.cx) ? p.cx : 0.5;
  const cy = Number.isFinite(p.cy) ? p.cy : 0.5;
  return { ...p, zoom, cx: clamp(cx, hx, 1 - hx), cy: clamp(cy, hy, 1 - hy) };
}

export function drawRect(p: Placement, width: number, height: number, tw = SCREEN_WIDTH, th = SCREEN_HEIGHT): DrawRect | null {
  if (!(width > 0 && height > 0)) return null;
  if (p.mode === 'fit') {
    const scale = Math.min(tw / width, th / height);
    const dw = width * scale;
    const dh = height * scale;
    return { sx: 0, sy: 0, sw: width, sh: height, dx: (tw - dw) / 2, dy: (th - dh) / 2, dw, dh };
  }
  const q = clampPlacement(p, width, height, tw, th);
  const v = visibleSize(width, height, q.zoom, tw, th);
  return { sx: q.cx * width - v.w / 2, sy: q.cy * height - v.h / 2, sw: v.w, sh: v.h, dx: 0, dy: 0, dw: tw, dh: th };
}

// Moves the visible part by screen pixels (a drag or an arrow key): dragging right shows what
// lies to the left.
export function pan(p: Placement, dxScreen: number, dyScreen: number, width: number, height: number, tw = SCREEN_WIDTH, th = SCREEN_HEIGHT): Placement {
  if (p.mode === 'fit' || !(width > 0 && height > 0)) return p;
  const q = clampPlacement(p, width, height, tw, th);
  const v = visibleSize(width, height, q.zoom, tw, th);
  // Screen pixels to picture fractions: the visible part spans the whole screen.
  const fx = (dxScreen / tw) * (v.w / width);
  const fy = (dyScreen / th) * (v.h / height);
  return clampPlacement({ ...q, cx: q.cx - fx, cy: q.cy - fy }, width, height, tw, th);
}

export function zoomTo(p: Placement, zoom: number, width: number, height: number): Placement {
  return clampPlacement({ ...p, zoom }, width, height);
}

// A picture already the size of the screen needs no preparation.
export function isScreenSized(width: number, height: number): boolean {
  return width === SCREEN_WIDTH && height === SCREEN_HEIGHT;
}
