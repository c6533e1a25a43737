// The lighting following the music: the louder channel's level becomes a brightness step of
// the device's preset effect. A device write takes a while and the level changes every 50 ms,
// so a step goes out only when it differs from the last one sent and not sooner than
// MIN_GAP_MS after it.

export const MIN_GAP_MS = 250;

export interface StepRange {
  min: number;
  max: number;
}

export function brightnessStep(level: number, range: StepRange): number {
  const l = Number.isFinite(level) ? Math.min(100, Math.max(0, level)) : 0;
  return Math.round(range.min + (l / 100) * (range.max - range.min));
}

export class StepThrottle {
  private lastStep: number | null = null;
  private lastAt = -Infinity;

  // The step to send now, or null when nothing should go.
  offer(step: number, now: number): number | null {
    if (step === this.lastStep || now - this.lastAt < MIN_GAP_MS) return null;
    this.lastStep = step;
    this.lastAt = now;
    return step;
  }

  // Whether anything was sent since the last reset (the held value must then go back).
  get sent(): boolean {
    return this.lastStep !== null;
  }

  reset(): void {
    this.lastStep = null;
    this.lastAt = -Infinity;
  }
}
