// The lighting following the music: the louder channel's level becomes a brightness step of
// the device's preset effect. A device write takes a while and the level changes every 50 ms,
// so a step goes out only when it differs from the last one sent and not sooner than
// MIN_GAP_MS after it. The program runs that loop beside its player, so it goes on while no
// page is shown; the page hands it the documents of every step (followRequest) and switches
// it off again (STOP_FOLLOW). brightnessStep and StepThrottle state the rule it follows.

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

// The RGBMusicPlay request that lets the lighting follow the music: the documents that set
// each step of the range (from its minimum up) and those that give the held value back.
export function followRequest(range: StepRange, held: string, documentsFor: (value: string) => string[]): Record<string, string> {
  const steps: string[][] = [];
  for (let v = range.min; v <= range.max; v++) steps.push(documentsFor(String(v)));
  return { Event: 'FollowLighting', First: String(range.min), Steps: JSON.stringify(steps), Held: JSON.stringify(documentsFor(held)) };
}

export const STOP_FOLLOW = { Event: 'StopFollow' };
