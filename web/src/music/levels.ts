// The sound level the music player reports (OnRGBMusicData, about every 50 ms while it plays:
// {"left":0-100,"right":0-100,"position":ms}) reduced to what one drawn frame shows. Several
// reports may arrive between two frames; the frame shows their loudest, so a short beat is
// not lost, and falls back smoothly instead of flickering.

export interface LevelSample {
  left: number;
  right: number;
  position: number | null;
}

export interface MeterState {
  // What the meter shows now, 0 .. 100 per channel.
  shown: [number, number];
  // The highest recent value per channel, held for a moment, then falling.
  peak: [number, number];
  peakAge: [number, number];
  // The loudest report since the last frame (null when none came).
  pending: [number, number] | null;
  position: number | null;
}

export const FALL_PER_SECOND = 120; // meter units a quiet meter drops per second
export const PEAK_HOLD_MS = 600;
export const PEAK_FALL_PER_SECOND = 60;

export const INITIAL_METER: MeterState = {
  shown: [0, 0],
  peak: [0, 0],
  peakAge: [0, 0],
  pending: null,
  position: null,
};

const level = (v: unknown): number => {
  const n = typeof v === 'number' ? v : typeof v === 'string' ? Number(v) : NaN;
  return Number.isFinite(n) ? Math.min(100, Math.max(0, n)) : 0;
};

// The event's argument: a JSON text (or an already parsed object). Null when it carries no level.
export function parseLevels(arg: unknown): LevelSample | null {
  let data: unknown = arg;
  if (typeof arg === 'string') {
    try {
      data = JSON.parse(arg);
    } catch {
      return null;
    }
  }
  if (!data || typeof data !== 'object' || Array.isArray(data)) return null;
  const o = data as Record<string, unknown>;
  if (o.left === undefined && o.right === undefined) return null;
  const position = typeof o.position === 'number' && Number.isFinite(o.position) && o.position >= 0 ? o.position : null;
  return { left: level(o.left), right: level(o.right), position };
}

// A report arrives: only the loudest since the last frame is kept.
export function addSample(state: MeterState, s: LevelSample): MeterState {
  const p = state.pending;
  return {
    ...state,
    pending: p ? [Math.max(p[0], s.left), Math.max(p[1], s.right)] : [s.left, s.right],
    position: s.position ?? state.position,
  };
}

// A frame is drawn `dtMs` after the last one.
export function frame(state: MeterState, dtMs: number): MeterState {
  const dt = Math.max(0, Math.min(dtMs, 1000));
  const shown: [number, number] = [0, 0];
  const peak: [number, number] = [0, 0];
  const peakAge: [number, number] = [0, 0];
  for (const c of [0, 1] as const) {
    const fallen = Math.max(0, state.shown[c] - (FALL_PER_SECOND * dt) / 1000);
    const incoming = state.pending ? state.pending[c] : 0;
    shown[c] = Math.max(fallen, incoming);
    const age = state.peakAge[c] + dt;
    const held = age > PEAK_HOLD_MS ? Math.max(0, state.peak[c] - (PEAK_FALL_PER_SECOND * dt) / 1000) : state.peak[c];
    if (shown[c] >= held) {
      peak[c] = shown[c];
      peakAge[c] = 0;
    } else {
      peak[c] = held;
      peakAge[c] = age;
    }
  }
  return { shown, peak, peakAge, pending: null, position: state.position };
}

// Nothing left to draw: the meter is still until the next report.
export function isQuiet(state: MeterState): boolean {
  return state.pending === null && state.shown[0] === 0 && state.shown[1] === 0 && state.peak[0] === 0 && state.peak[1] === 0;
}
