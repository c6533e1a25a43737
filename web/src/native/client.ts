// The one road to the native side. Queries go through ClientRequest as JSON texts whose
// FuncName names the command; events come back through setMessageCallback.
//
// Several commands never answer (the native side hands the work on and reports, if at all,
// by events), and file-dialog commands stay silent when the user cancels. Nothing here may
// wait forever: silent commands resolve once sent, every other query has a time-out.

export interface ClientRequestOptions {
  request: string;
  persistent?: boolean;
  onSuccess?: (answer: string) => void;
  onFailure?: (code: number, text: string) => void;
}

// What the page's global object offers when it runs inside the program.
export interface NativeHost {
  ClientRequest?: (options: ClientRequestOptions) => number;
  cefQueryCancel?: (id: number) => void;
  setMessageCallback?: (name: string, callback: (args: unknown[]) => unknown) => void;
  setTimeout: (fn: () => void, ms: number) => unknown;
  clearTimeout: (handle: never) => void;
}

// Commands the native side never answers.
export const SILENT_COMMANDS = [
  'OpenUpdateExe',
  'SetAutoRun',
  'ExecuteUpdateFirmware',
  'ScreenImageDownload',
  'OpenUpdateDirectory',
  'ShowClient',
  'OpenView',
  'CloseView',
  'CloseX',
  'NoticeModify',
  'ExecuteUpdateClient',
] as const;
export type SilentCommand = (typeof SILENT_COMMANDS)[number];

// Commands that answer unless the user cancels their file dialog, which may stay open as long
// as the user likes.
export const DIALOG_COMMANDS = [
  'SaveCommand',
  'LoadCommand',
  'SaveProfile',
  'LoadProfile',
  'OpenFileDialog',
  'OpenMP3Ex',
] as const;
export type DialogCommand = (typeof DIALOG_COMMANDS)[number];

export type AnsweringCommand =
  | DialogCommand
  | 'GetDevicesList'
  | 'GetLocalConf'
  | 'IsFirstStart'
  | 'FirstStart'
  | 'FinishFirstStart'
  | 'GetPerformance'
  | 'GetMonitorStatus'
  | 'GetMonitorInfo'
  // Answered once the packet keyboard took the whole table or refused it.
  | 'NoticeMacoModify'
  | 'SwitchMonitor'
  | 'GetMusicInfo'
  | 'RGBMusicPlay'
  | 'PlayAudio'
  | 'SaveImageTemp'
  | 'ImageConvBin'
  | 'OpenUrl'
  // The core's desktop settings, its lighting server and the applications running now.
  | 'GetCoreSettings'
  | 'SetCoreSettings'
  | 'GetSdkServer'
  | 'GetRunningApplications'
  // The device the core asked to show before this page could hear it (answered once).
  | 'GetShowDevice';

export type NativeEvent =
  | 'DevicesChanged'
  | 'OnDeviceData'
  | 'OnNotifySaveXml'
  | 'RefreshUpdateState'
  | 'RefreshDownState'
  | 'OnRGBMusicData'
  | 'HotKeyMsg'
  | 'CoreSettingsChanged'
  | 'SdkServerChanged'
  | 'ShowDevice';

export type Args = Record<string, string | number>;

export type FailureKind = 'failure' | 'timeout' | 'unavailable';

// A query that did not succeed: the native side's failure (code and text as it sent them),
// no answer within the time allowed, or no native side at all.
export class NativeError extends Error {
  readonly kind: FailureKind;
  readonly code: number;
  readonly text: string;
  readonly command: string;

  constructor(kind: FailureKind, command: string, code: number, text: string) {
    super(`${command}: ${kind}${text ? ` (${text})` : ''}`);
    this.name = 'NativeError';
    this.kind = kind;
    this.command = command;
    this.code = code;
    this.text = text;
  }
}

export interface RequestOptions {
  // Milliseconds to wait for the answer; the defaults suit the command.
  timeoutMs?: number;
}

export const DEFAULT_TIMEOUT_MS = 10_000;
export const DIALOG_TIMEOUT_MS = 10 * 60_000;

export type Unsubscribe = () => void;

export interface NativeClient {
  readonly available: boolean;
  request(command: AnsweringCommand, args?: Args, options?: RequestOptions): Promise<string>;
  send(command: SilentCommand, args?: Args): boolean;
  on(event: NativeEvent, handler: (args: unknown[]) => void): Unsubscribe;
  moveWindow(dx: number, dy: number): boolean;
  minimise(): boolean;
  close(): boolean;
}

function isSilent(command: string): command is SilentCommand {
  return (SILENT_COMMANDS as readonly string[]).indexOf(command) >= 0;
}

function isDialog(command: string): command is DialogCommand {
  return (DIALOG_COMMANDS as readonly string[]).indexOf(command) >= 0;
}

export function requestText(command: string, args: Args = {}): string {
  // FuncName first, the arguments beside it (the native side reads them at the same level).
  const body: Record<string, string | number> = { FuncName: command };
  for (const key of Object.keys(args)) if (key !== 'FuncName') body[key] = args[key];
  return JSON.stringify(body);
}

export function createClient(host: NativeHost): NativeClient {
  const handlers = new Map<string, Set<(args: unknown[]) => void>>();

  const available = () => typeof host.ClientRequest === 'function';

  // Sends a query whose answer nobody waits for and forgets it at once, so the bridge does
  // not keep it pending for ever.
  function fire(text: string): boolean {
    const send = host.ClientRequest;
    if (typeof send !== 'function') return false;
    try {
      const id = send({ request: text });
      if (typeof host.cefQueryCancel === 'function' && typeof id === 'number') host.cefQueryCancel(id);
      return true;
    } catch (e) {
      console.error('native request could not be sent', e);
      return false;
    }
  }

  function request(command: AnsweringCommand, args?: Args, options?: RequestOptions): Promise<string> {
    const send = host.ClientRequest;
    if (typeof send !== 'function')
      return Promise.reject(new NativeError('unavailable', command, -1, ''));
    if (isSilent(command)) {
      // Typed callers cannot get here; untyped ones get the "sent" answer instead of a hang.
      return fire(requestText(command, args))
        ? Promise.resolve('')
        : Promise.reject(new NativeError('unavailable', command, -1, ''));
    }
    const timeoutMs =
      options?.timeoutMs ?? (isDialog(command) ? DIALOG_TIMEOUT_MS : DEFAULT_TIMEOUT_MS);
    return new Promise<string>((resolve, reject) => {
      let settled = false;
      let id: number | undefined;
      // The answer may come before the timer exists (a bridge that answers at once).
      const timer: { handle?: unknown } = {};
      const finish = () => {
        settled = true;
        if (timer.handle !== undefined) host.clearTimeout(timer.handle as never);
      };
      try {
        id = send({
          request: requestText(command, args),
          onSuccess: (answer) => {
            if (settled) return;
            finish();
            resolve(typeof answer === 'string' ? answer : String(answer));
          },
          onFailure: (code, text) => {
            if (settled) return;
            finish();
            reject(new NativeError('failure', command, Number(code) || 0, String(text ?? '')));
          },
        });
      } catch (e) {
        finish();
        reject(new NativeError('unavailable', command, -1, e instanceof Error ? e.message : ''));
        return;
      }
      if (settled) return;
      timer.handle = host.setTimeout(() => {
        if (settled) return;
        settled = true;
        if (typeof host.cefQueryCancel === 'function' && typeof id === 'number') {
          try {
            host.cefQueryCancel(id);
          } catch {
            // the query is forgotten on our side either way
          }
        }
        reject(new NativeError('timeout', command, -1, ''));
      }, timeoutMs);
    });
  }

  function send(command: SilentCommand, args?: Args): boolean {
    return fire(requestText(command, args));
  }

  function on(event: NativeEvent, handler: (args: unknown[]) => void): Unsubscribe {
    let set = handlers.get(event);
    if (!set) {
      set = new Set();
      handlers.set(event, set);
      // The native side keeps the first callback registered for a name, so there is exactly
      // one per event name and it fans out to the page's handlers.
      const fanOut = set;
      if (typeof host.setMessageCallback === 'function') {
        host.setMessageCallback(event, (args: unknown[]) => {
          const list = Array.isArray(args) ? args : [];
          for (const h of Array.from(fanOut)) {
            try {
              h(list);
            } catch (e) {
              console.error(`handler of ${event} failed`, e);
            }
          }
        });
      }
    }
    const own = set;
    // The same function twice is two subscriptions.
    const wrapped = (args: unknown[]) => handler(args);
    own.add(wrapped);
    return () => {
      own.delete(wrapped);
    };
  }

  function moveWindow(dx: number, dy: number): boolean {
    const x = Math.round(dx);
    const y = Math.round(dy);
    if (!Number.isFinite(x) || !Number.isFinite(y) || (x === 0 && y === 0)) return false;
    return fire(`MoveWindow:${x},${y},0,0`);
  }

  return {
    get available() {
      return available();
    },
    request,
    send,
    on,
    moveWindow,
    // The bridge recognises this exact text only; it never answers it.
    minimise: () => fire('{"FuncName":"MinisizeWindow"}'),
    close: () => fire(requestText('CloseX')),
  };
}

declare global {
  interface Window {
    ClientRequest?: NativeHost['ClientRequest'];
    cefQueryCancel?: NativeHost['cefQueryCancel'];
    setMessageCallback?: NativeHost['setMessageCallback'];
  }
}

// The page's client. Resolved lazily so that the bridge, injected at document creation, is
// found even if this module is evaluated early.
const windowHost: NativeHost = {
  get ClientRequest() {
    return typeof window !== 'undefined' ? window.ClientRequest : undefined;
  },
  get cefQueryCancel() {
    return typeof window !== 'undefined' ? window.cefQueryCancel : undefined;
  },
  get setMessageCallback() {
    return typeof window !== 'undefined' ? window.setMessageCallback : undefined;
  },
  setTimeout: (fn, ms) => setTimeout(fn, ms),
  clearTimeout: (h) => clearTimeout(h),
};

export const native: NativeClient = createClient(windowHost);
