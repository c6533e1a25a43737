// The state of one update run, from the download to the device's (or the program's) last word.
// Events come from the network, from the native side (RefreshDownState, RefreshUpdateState)
// and from the page; they may repeat or come late, so the state only ever moves forwards and a
// finished run (done or failed) stays as it ended: a late "100" never turns a failure into a
// success, and a stage already passed is never shown again.

import type { TextKey } from '../i18n';

export type Phase =
  | 'idle'
  | 'downloading' // fetching the file from the update server
  | 'saving' // the checked file goes through the browser's download path into the program folder
  | 'saved' // the file lies where the native side reads it
  | 'flashing' // the device is being written
  | 'installing' // the program package was handed over
  | 'done'
  | 'failed';

export type FailureStage = 'download' | 'verify' | 'save' | 'flash' | 'install';

export interface Failure {
  stage: FailureStage;
  // What went wrong: a dictionary key of the updates area.
  reason: TextKey;
  // For a flash, the step the native side named ("image", "bootloader", "write", …).
  step?: string;
}

export interface RunState {
  phase: Phase;
  received: number;
  total: number;
  // The file name asked for, and the full path the download path reported for it.
  fileName: string;
  path: string;
  // Flashing: the last stage the device passed (20, 40, 60, 70, 80, 100).
  percent: number;
  failure: Failure | null;
}

export type RunEvent =
  | { type: 'download'; total: number }
  | { type: 'received'; received: number; total: number }
  | { type: 'verified'; fileName: string }
  | { type: 'downState'; total: number; received: number; path: string }
  | { type: 'flash'; path?: string }
  | { type: 'updateState'; text: string; step?: string }
  | { type: 'install' }
  | { type: 'fail'; stage: FailureStage; reason: TextKey }
  | { type: 'reset' };

export const FLASH_STAGES = [20, 40, 60, 70, 80, 100];

export const idle: RunState = {
  phase: 'idle',
  received: 0,
  total: 0,
  fileName: '',
  path: '',
  percent: 0,
  failure: null,
};

export function isRunning(state: RunState): boolean {
  return state.phase !== 'idle' && state.phase !== 'saved' && state.phase !== 'done' && state.phase !== 'failed';
}

// The download path may have renamed the file ("name (1).bin") when one of that name lay there.
function isOurFile(path: string, fileName: string): boolean {
  const base = path.split(/[\\/]/).pop() ?? '';
  const dot = fileName.lastIndexOf('.');
  const stem = dot > 0 ? fileName.slice(0, dot) : fileName;
  const ext = dot > 0 ? fileName.slice(dot) : '';
  return base === fileName || (base.startsWith(stem) && base.endsWith(ext));
}

export function reduce(state: RunState, event: RunEvent): RunState {
  switch (event.type) {
    case 'reset':
      return isRunning(state) ? state : idle;
    case 'download':
      if (isRunning(state)) return state;
      return { ...idle, phase: 'downloading', total: event.total };
    case 'received':
      if (state.phase !== 'downloading' || event.received < state.received) return state;
      return { ...state, received: event.received, total: event.total > 0 ? event.total : state.total };
    case 'verified':
      if (state.phase !== 'downloading') return state;
      return { ...state, phase: 'saving', fileName: event.fileName, received: 0 };
    case 'downState': {
      if (state.phase !== 'saving' || !isOurFile(event.path, state.fileName)) return state;
      // The download path's own word that the file is complete: (100, 100, path) after the
      // last progress of a file whose size is never 100 bytes.
      if (event.total === 100 && event.received === 100 && state.total !== 100)
        return { ...state, phase: 'saved', path: event.path, received: state.total };
      if (event.received < state.received) return state;
      return { ...state, received: event.received, path: event.path };
    }
    case 'flash':
      // From a saved download, or straight from a file the user picked.
      if (state.phase === 'saved' || (!isRunning(state) && event.path))
        return { ...state, phase: 'flashing', percent: 0, failure: null, path: event.path ?? state.path };
      return state;
    case 'updateState': {
      if (state.phase !== 'flashing') return state;
      if (event.text === '-1')
        return { ...state, phase: 'failed', failure: { stage: 'flash', reason: 'updates.fail.flash', step: event.step } };
      const value = Number(event.text);
      if (FLASH_STAGES.indexOf(value) < 0 || value <= state.percent) return state;
      return { ...state, percent: value, phase: value === 100 ? 'done' : 'flashing' };
    }
    case 'install':
      return state.phase === 'saved' ? { ...state, phase: 'installing' } : state;
    case 'fail':
      if (!isRunning(state) && state.phase !== 'saved') return state;
      return { ...state, phase: 'failed', failure: { stage: event.stage, reason: event.reason } };
    default:
      return state;
  }
}
