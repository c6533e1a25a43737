import { describe, expect, it } from 'vitest';
import { MAX_BACKOFF_MS, POLL_INTERVAL_MS, Poller, chartPath, parseFigures, pushSample } from '../../src/screen/figures';

function clock() {
  let now = 0;
  const timers: Array<{ at: number; fn: () => void; id: number }> = [];
  let id = 0;
  return {
    timers: {
      now: () => now,
      setTimeout: (fn: () => void, ms: number) => {
        timers.push({ at: now + ms, fn, id: ++id });
        return id;
      },
      clearTimeout: (h: unknown) => {
        const i = timers.findIndex((t) => t.id === h);
        if (i >= 0) timers.splice(i, 1);
      },
    },
    // Runs due timers up to `ms` from now.
    advance(ms: number) {
      const end = now + ms;
      for (;;) {
        timers.sort((a, b) => a.at - b.at);
        const next = timers[0];
        if (!next || next.at > end) break;
        timers.shift();
        now = next.at;
        next.fn();
      }
      now = end;
    },
    set now(v: number) {
      now = v;
    },
    pending: () => timers.length,
  };
}

const flush = () => new Promise<void>((r) => setTimeout(r, 0));

describe('figures', () => {
  it('reads the five figures; the rate is unknown until the program has counted a window', () => {
    expect(parseFigures('["3.52","0.00","0.00","0.00","8.19"]')).toEqual({ clockGHz: 3.52, memoryGB: 8.19, queriesPerSecond: null });
    expect(parseFigures('["3.52","0.00","0.00","1000.00","8.19"]')?.queriesPerSecond).toBe(2);
    for (const bad of ['', '[1,2,3]', '{"a":1}', '["x","0","0","0","0"]', '["-1","0","0","0","0"]']) expect(parseFigures(bad)).toBeNull();
  });

  it('keeps a bounded history and draws it from the right edge', () => {
    let h: number[] = [];
    for (let i = 0; i < 5; i++) h = pushSample(h, i, 3);
    expect(h).toEqual([2, 3, 4]);
    expect(chartPath([0, 10], 100, 50, 10, 3)).toBe('M50.0,50.0L100.0,0.0');
  });
});

describe('the polling rule', () => {
  it('asks every half second from start to start, one query at a time, and not after stop', async () => {
    const c = clock();
    const answers: Array<(ok: boolean) => void> = [];
    const p = new Poller(() => new Promise<void>((res, rej) => answers.push((ok) => (ok ? res() : rej(new Error('x'))))), c.timers);
    p.start();
    expect(answers.length).toBe(1);
    // The answer takes 200 ms: the next query starts 300 ms later.
    c.advance(200);
    answers[0](true);
    await flush();
    c.advance(299);
    expect(answers.length).toBe(1);
    c.advance(1);
    expect(answers.length).toBe(2);
    // A slow answer is never overtaken.
    c.advance(5000);
    expect(answers.length).toBe(2);
    answers[1](true);
    await flush();
    c.advance(0);
    expect(answers.length).toBe(3);
    // Hidden or left: nothing more is asked, even when the last answer comes late.
    p.stop();
    answers[2](true);
    await flush();
    c.advance(10 * POLL_INTERVAL_MS);
    expect(answers.length).toBe(3);
    expect(c.pending()).toBe(0);
  });

  it('backs off after failures up to a bound and recovers on success', async () => {
    const c = clock();
    let ok = false;
    let asked = 0;
    const p = new Poller(() => {
      asked++;
      return ok ? Promise.resolve() : Promise.reject(new Error('x'));
    }, c.timers);
    p.start();
    await flush();
    expect(p.delay()).toBe(1000);
    for (let i = 0; i < 6; i++) {
      c.advance(p.delay());
      await flush();
    }
    expect(p.delay()).toBe(MAX_BACKOFF_MS);
    ok = true;
    c.advance(MAX_BACKOFF_MS);
    await flush();
    expect(p.delay()).toBe(POLL_INTERVAL_MS);
    expect(asked).toBe(8);
  });
});
