import { cleanup, render, screen } from '@testing-library/preact';
import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import { MusicPage } from '../../../src/pages/music/MusicPage';
import { resetSessions } from '../../../src/model/session';
import { parseTemplate } from '../../../src/state/templates';
import type { ClientRequestOptions } from '../../../src/native/client';
import { fakeHost, withNative } from '../../fakeHost';
import { model } from '../../model/fixtures';

// A program that takes the player-state queries and answers them only when told.
let asked: Array<(answer: string) => void> = [];
let answering = false;

beforeEach(() => {
  vi.useFakeTimers();
  asked = [];
  answering = false;
});

const host = {
  ...fakeHost(),
  ClientRequest: (o: ClientRequestOptions) => {
    const r = JSON.parse(o.request) as Record<string, string>;
    if (r.FuncName !== 'GetMusicInfo') return 1;
    asked.push((a) => o.onSuccess?.(a));
    if (answering) setTimeout(() => o.onSuccess?.(STATE));
    return 1;
  },
};

afterEach(() => {
  cleanup();
  resetSessions();
  vi.useRealTimers();
});

function props() {
  const id = 'HJE-XUB-V1.5.0';
  return { device: { id, record: { Version: id } }, template: parseTemplate(id, model('keystone-84-screen.xml'))! };
}

const STATE = JSON.stringify({ state: 'stopped', position: 0, duration: 0, volume: [100, 100], mute: [false, false] });

describe('music page', () => {
  it('asks for the player state one query at a time, and less often while it gets no answer', async () => {
    render(withNative(host, <MusicPage {...props()} />));
    await vi.advanceTimersByTimeAsync(10000);
    // The first query times out after 5 s, the next waits twice the interval after it.
    expect(asked.length).toBe(2);

    // Answered, it goes back to one query a second.
    answering = true;
    asked[1](STATE);
    await vi.advanceTimersByTimeAsync(50);
    const before = asked.length;
    await vi.advanceTimersByTimeAsync(5000);
    expect(asked.length - before).toBe(5);
  });

  it('shows the track the program plays in a window opened while it played', async () => {
    render(withNative(host, <MusicPage {...props()} />));
    await vi.advanceTimersByTimeAsync(10);
    asked[0](JSON.stringify({ source: '/home/u/Music/tone.wav', state: 'playing', position: 3, duration: 40, volume: [100, 100], mute: [false, false] }));
    await vi.advanceTimersByTimeAsync(10);
    expect(screen.getByRole('button', { name: 'Play tone.wav' })).toBeTruthy();
    expect(screen.queryByText('No track chosen')).toBeNull();
  });
});
