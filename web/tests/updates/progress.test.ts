import { describe, expect, it } from 'vitest';
import { idle, reduce, type RunEvent, type RunState } from '../../src/updates/progress';

const run = (events: RunEvent[], from: RunState = idle) => events.reduce(reduce, from);
const PATH = '/opt/torvanix/update/fw-TOB.bin';
const downloaded: RunEvent[] = [
  { type: 'download', total: 67200 },
  { type: 'received', received: 30000, total: 67200 },
  { type: 'received', received: 67200, total: 67200 },
  { type: 'verified', fileName: 'fw-TOB.bin' },
  { type: 'downState', total: 67200, received: 67200, path: PATH },
  { type: 'downState', total: 100, received: 100, path: PATH },
];
const stages = (...texts: string[]): RunEvent[] => texts.map((text) => ({ type: 'updateState', text }));

describe('update progress', () => {
  it('goes from download to flash to done', () => {
    const saved = run(downloaded);
    expect(saved).toMatchObject({ phase: 'saved', path: PATH });
    const flashing = run([{ type: 'flash' }, ...stages('20', '40', '60')], saved);
    expect(flashing).toMatchObject({ phase: 'flashing', percent: 60 });
    expect(run(stages('70', '80', '100'), flashing)).toMatchObject({ phase: 'done', percent: 100 });
  });

  it('ignores repeated, late and stray events and never turns a failure into success', () => {
    const s = run([...downloaded, { type: 'flash' }, ...stages('40', '20', '40', '55', 'x')]);
    expect(s).toMatchObject({ phase: 'flashing', percent: 40 });
    const failed = run([{ type: 'updateState', text: '-1', step: 'write' }], s);
    expect(failed).toMatchObject({ phase: 'failed', failure: { stage: 'flash', step: 'write' } });
    expect(run(stages('80', '100'), failed)).toBe(failed);
    // No run, no progress: a "100" of someone else's update changes nothing.
    expect(run(stages('100'))).toBe(idle);
    // Another file's download does not count as ours, nor does an unfinished one as saved.
    const saving = run(downloaded.slice(0, 4));
    expect(run([{ type: 'downState', total: 100, received: 100, path: '/x/other.bin' }], saving).phase).toBe('saving');
    expect(run([{ type: 'downState', total: 67200, received: 67200, path: '/x/update/fw-TOB (1).bin' }], saving).path).toBe(
      '/x/update/fw-TOB (1).bin',
    );
  });

  it('ends a failed download or install as a failure, and starts no second run while one goes', () => {
    const dl = run([{ type: 'download', total: 10 }]);
    expect(run([{ type: 'download', total: 99 }], dl)).toBe(dl);
    expect(run([{ type: 'fail', stage: 'verify', reason: 'updates.fail.digest' }], dl)).toMatchObject({
      phase: 'failed',
      failure: { stage: 'verify' },
    });
    const installing = run([{ type: 'install' }], run(downloaded));
    expect(installing.phase).toBe('installing');
    expect(run([{ type: 'reset' }], installing)).toBe(installing);
    expect(run([{ type: 'fail', stage: 'install', reason: 'updates.fail.refused' }], installing).phase).toBe('failed');
    // A file the user picked goes straight to flashing.
    expect(run([{ type: 'flash', path: PATH }])).toMatchObject({ phase: 'flashing', path: PATH });
  });
});
