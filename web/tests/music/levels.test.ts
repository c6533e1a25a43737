import { describe, expect, it } from 'vitest';
import { FALL_PER_SECOND, INITIAL_METER, PEAK_HOLD_MS, addSample, frame, isQuiet, parseLevels } from '../../src/music/levels';
import { formatTime, mergeTracks, parseInfo, parseTracks } from '../../src/music/tracks';

describe('the level reducer', () => {
  it('reads the player report, clamping what is out of range', () => {
    expect(parseLevels('{"left":40,"right":120,"position":1500}')).toEqual({ left: 40, right: 100, position: 1500 });
    expect(parseLevels({ left: -3, right: '7' })).toEqual({ left: 0, right: 7, position: null });
    expect(parseLevels('nonsense')).toBeNull();
    expect(parseLevels('{"position":5}')).toBeNull();
  });

  it('a frame shows the loudest report since the last frame, then falls and holds the peak', () => {
    let s = INITIAL_METER;
    s = addSample(s, { left: 80, right: 10, position: 100 });
    s = addSample(s, { left: 20, right: 30, position: 150 });
    s = frame(s, 16);
    expect(s.shown).toEqual([80, 30]);
    expect(s.position).toBe(150);
    // No reports for 250 ms: the bar falls, the peak stays.
    s = frame(s, 250);
    expect(s.shown[0]).toBeCloseTo(80 - FALL_PER_SECOND * 0.25);
    expect(s.peak[0]).toBe(80);
    // After the hold the peak falls too, and at last the meter is still.
    s = frame(s, PEAK_HOLD_MS);
    expect(s.peak[0]).toBeLessThan(80);
    for (let i = 0; i < 100 && !isQuiet(s); i++) s = frame(s, 100);
    expect(isQuiet(s)).toBe(true);
  });
});

describe('tracks and player state', () => {
  it('lists picked tracks once and reads the player record', () => {
    const picked = parseTracks('[{"name":"a.mp3","path":"/m/a.mp3"},{"path":"/m/b.wav"},{"name":"x"},5]');
    expect(picked).toEqual([{ name: 'a.mp3', path: '/m/a.mp3' }, { name: 'b.wav', path: '/m/b.wav' }]);
    expect(mergeTracks(picked, [{ name: 'a', path: '/m/a.mp3' }, { name: 'c', path: '/c' }]).map((t) => t.path)).toEqual(['/m/a.mp3', '/m/b.wav', '/c']);
    expect(parseTracks('{}')).toEqual([]);
    const info = parseInfo('{"source":"/m/a.mp3","state":"playing","position":61000,"duration":3723000,"loop":true,"volume":[40,150],"mute":[true,false],"output":"silent","tags":{"Title":"T"}}');
    expect(info).toMatchObject({ state: 'playing', loop: true, volume: [40, 100], mute: [true, false], output: 'silent', title: 'T' });
    expect(parseInfo('{"state":"odd"}')?.state).toBe('stopped');
    expect(formatTime(61000)).toBe('1:01');
    expect(formatTime(3723000)).toBe('1:02:03');
  });
});

describe('the lighting following the level', () => {
  it('maps the level to the brightness steps and sends a changed step at most every gap', async () => {
    const { brightnessStep, StepThrottle, MIN_GAP_MS } = await import('../../src/music/follow');
    expect([0, 12, 13, 50, 100, 150].map((l) => brightnessStep(l, { min: 0, max: 4 }))).toEqual([0, 0, 1, 2, 4, 4]);
    const th = new StepThrottle();
    expect(th.sent).toBe(false);
    expect(th.offer(3, 0)).toBe(3);
    expect(th.offer(4, MIN_GAP_MS - 1)).toBeNull();
    expect(th.offer(3, MIN_GAP_MS)).toBeNull();
    expect(th.offer(1, MIN_GAP_MS)).toBe(1);
    expect(th.sent).toBe(true);
    th.reset();
    expect(th.offer(1, MIN_GAP_MS + 1)).toBe(1);
  });

  it('hands the program the documents of every step and of the held value', async () => {
    const { followRequest } = await import('../../src/music/follow');
    const r = followRequest({ min: 1, max: 3 }, '2', (v) => (v === '3' ? ['a3', 'b3'] : [`a${v}`]));
    expect(r.Event).toBe('FollowLighting');
    expect(r.First).toBe('1');
    expect(JSON.parse(r.Steps)).toEqual([['a1'], ['a2'], ['a3', 'b3']]);
    expect(JSON.parse(r.Held)).toEqual(['a2']);
  });
});
