// The system figures GetPerformance answers and the rule by which the page asks for them.
//
// The answer is five number texts: processor clock (MHz / 1024), two figures no one fills,
// the rate at which the figures are asked for (queries per second x 500) and used memory
// (thousands of MiB). The rate figure is counted over windows of more than two seconds, so it
// reads 0 until the first window has closed; every query also holds the program for about
// 50 ms while the clock is measured. So the page asks every half second, one query at a time,
// and only while the figures can be seen.

export interface Figures {
  clockGHz: number;
  memoryGB: number;
  // Queries per second as the program counted them; null until its first window closed.
  queriesPerSecond: number | null;
}

export const POLL_INTERVAL_MS = 500;
// After failures the next query waits longer, up to this.
export const MAX_BACKOFF_MS = 8000;
// Samples the chart keeps (one minute at the normal rate).
export const HISTORY = 120;

export function parseFigures(answer: string): Figures | null {
  let data: unknown;
  try {
    data = JSON.parse(answer);
  } catch {
    return null;
  }
  if (!Array.isArray(data) || data.length < 5) return null;
  const n = data.slice(0, 5).map((v) => (typeof v === 'string' || typeof v === 'number' ? Number(v) : NaN));
  if (!n.every((v) => Number.isFinite(v) && v >= 0)) return null;
  return {
    clockGHz: n[0],
    memoryGB: n[4],
    queriesPerSecond: n[3] > 0 ? n[3] / 500 : null,
  };
}

export interface PollTimers {
  now: () => number;
  setTimeout: (fn: () => void, ms: number) => unknown;
  clearTimeout: (handle: unknown) => void;
}

const realTimers: PollTimers = {
  now: () => Date.now(),
  setTimeout: (fn, ms) => setTimeout(fn, ms),
  clearTimeout: (h) => clearTimeout(h as ReturnType<typeof setTimeout>),
};

// Asks `query` every POLL_INTERVAL_MS from the start of one query to the start of the next,
// never two at once: a slow answer delays the next query instead of piling them up. Failures
// double the wait (up to MAX_BACKOFF_MS); a success restores it. Stopped, nothing is asked.
export class Poller {
  private running = false;
  private inFlight = false;
  private timer: unknown = null;
  private failures = 0;
  private generation = 0;

  constructor(
    private readonly query: () => Promise<void>,
    private readonly timers: PollTimers = realTimers,
    private readonly interval = POLL_INTERVAL_MS,
  ) {}

  get active(): boolean {
    return this.running;
  }

  start(): void {
    if (this.running) return;
    this.running = true;
    // A query still out from before a stop counts: the next one waits for it.
    if (!this.inFlight) this.tick();
  }

  stop(): void {
    this.running = false;
    this.generation++;
    if (this.timer !== null) this.timers.clearTimeout(this.timer);
    this.timer = null;
  }

  // The wait after the current number of failures.
  delay(): number {
    return this.failures === 0 ? this.interval : Math.min(MAX_BACKOFF_MS, this.interval * 2 ** this.failures);
  }

  private tick(): void {
    this.timer = null;
    if (!this.running) return;
    const started = this.timers.now();
    const generation = this.generation;
    this.inFlight = true;
    const done = (ok: boolean) => {
      this.inFlight = false;
      this.failures = ok ? 0 : this.failures + 1;
      if (!this.running) return;
      if (generation !== this.generation) {
        // Stopped and started again while this query was out: go on from here.
        this.schedule(0);
        return;
      }
      const wait = ok ? Math.max(0, this.delay() - (this.timers.now() - started)) : this.delay();
      this.schedule(wait);
    };
    let work: Promise<void>;
    try {
      work = this.query();
    } catch {
      work = Promise.reject(new Error('query failed'));
    }
    work.then(
      () => done(true),
      () => done(false),
    );
  }

  private schedule(ms: number): void {
    if (this.timer !== null) this.timers.clearTimeout(this.timer);
    this.timer = this.timers.setTimeout(() => this.tick(), ms);
  }
}

// A fixed-length history for the chart; oldest first.
export function pushSample<T>(history: readonly T[], sample: T, max = HISTORY): T[] {
  const next = history.length >= max ? history.slice(history.length - max + 1) : history.slice();
  next.push(sample);
  return next;
}

// The SVG path of a series scaled into a box (x across the whole history length).
export function chartPath(values: readonly number[], width: number, height: number, max: number, slots = HISTORY): string {
  if (values.length === 0 || !(max > 0)) return '';
  const step = slots > 1 ? width / (slots - 1) : width;
  const offset = slots - values.length;
  let d = '';
  values.forEach((v, i) => {
    const x = (offset + i) * step;
    const y = height - (Math.min(Math.max(v, 0), max) / max) * height;
    d += `${i === 0 ? 'M' : 'L'}${x.toFixed(1)},${y.toFixed(1)}`;
  });
  return d;
}

// A round upper bound for a chart axis, so the line does not touch the top.
export function niceMax(values: readonly number[], floor = 1): number {
  const top = Math.max(floor, ...values.filter((v) => Number.isFinite(v)));
  const power = 10 ** Math.floor(Math.log10(top));
  for (const m of [1, 2, 2.5, 5, 10]) if (m * power >= top * 1.1) return m * power;
  return 10 * power;
}
