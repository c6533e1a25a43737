// Program-wide settings that live on the native side: start at logon and the one-time
// restart of the first start. Neither command answers, so the page keeps what it last asked
// for and says it asked, not that it happened.
import { signal } from '@preact/signals';
import { native, NativeError, type NativeClient } from '../native/client';

const AUTORUN_KEY = 'torvanix.autorun';

function storedAutorun(): boolean {
  try {
    return localStorage.getItem(AUTORUN_KEY) === 'on';
  } catch {
    return false;
  }
}

export const autorun = signal(storedAutorun());

/** Asks for (or against) starting at logon; false when the request could not be handed over. */
export function setAutorun(on: boolean, client: NativeClient = native): boolean {
  if (!client.send('SetAutoRun', { boolAutonRun: on ? 1 : 0 })) return false;
  autorun.value = on;
  try {
    localStorage.setItem(AUTORUN_KEY, on ? 'on' : 'off');
  } catch {
    // kept for this session only
  }
  return true;
}

export type FirstStartState = 'unknown' | 'welcome' | 'restarting' | 'done';
export const firstStart = signal<FirstStartState>('unknown');

/** Shows the welcome when the program says this is its first start. */
export async function checkFirstStart(client: NativeClient = native): Promise<void> {
  try {
    firstStart.value = (await client.request('IsFirstStart')).trim() === '1' ? 'welcome' : 'done';
  } catch {
    // Without an answer the page cannot know; it stays out of the way.
    firstStart.value = 'done';
  }
}

/** Lets the program restart itself now. It quits without answering; an answer means it
 *  had nothing left to do. Resolves false when the request did not reach it. */
export function restartForFirstStart(client: NativeClient = native): Promise<boolean> {
  firstStart.value = 'restarting';
  return client.request('FirstStart').then(
    () => {
      firstStart.value = 'done';
      return true;
    },
    (e: unknown) => {
      const reached = e instanceof NativeError && e.kind === 'timeout';
      if (!reached) firstStart.value = 'welcome';
      return reached;
    },
  );
}

// A restart elevates the program where it can: on Linux it gains no rights, so the first run
// ends in place there. The program names itself as the user agent, so the platform tells.
export const restartGainsNothing = (platform: string = `${navigator.platform} ${navigator.userAgent}`): boolean =>
  /linux/i.test(platform);

/** Ends the first run without a restart; false (the welcome stays) when the program did not
 *  take it. */
export function finishFirstStart(client: NativeClient = native): Promise<boolean> {
  return client.request('FinishFirstStart').then(
    () => {
      firstStart.value = 'done';
      return true;
    },
    () => false,
  );
}

export function dismissWelcome(): void {
  firstStart.value = 'done';
}
