import { computed, signal } from '@preact/signals';
import { native, type NativeClient } from '../native/client';
import { devices, refreshDevices, type DeviceRecord } from '../state/devices';
import { closeBlockedBy } from './guard';
import { idle, isRunning, reduce, type FailureStage, type RunEvent, type RunState } from './progress';
import { Sha256 } from './sha256';
import {
  INDEX_PATH,
  INDEX_SIGNATURE_PATH,
  parseUpdateIndex,
  type IndexProblem,
  type UpdateEntry,
  type UpdateIndex,
} from './updateIndex';
import type { TextKey } from '../i18n';

// Update runs: the index from the vendor endpoint, a file fetched and checked against it, then
// saved through the browser's download path into the program's download folder (the only
// place the native side takes it from without asking), then handed to the native side.
// The file that is saved is the very one that was checked: it is saved from memory.

// --- the index -----------------------------------------------------------------------------

// The index as fetched and its signature: handed to the native side with every image the index
// named, which writes the image only when the signature holds and the index names that file.
export interface SignedIndex {
  text: string;
  signature: string;
}

export type IndexState =
  | { status: 'idle' | 'loading' }
  | { status: 'ready'; index: UpdateIndex; problems: IndexProblem[]; signed: SignedIndex | null }
  | { status: 'error'; problems: IndexProblem[] };

export const indexState = signal<IndexState>({ status: 'idle' });

function indexUrl(): string {
  return new URL(INDEX_PATH, location.href).href;
}

export async function loadIndex(): Promise<void> {
  if (indexState.value.status === 'loading') return;
  indexState.value = { status: 'loading' };
  const url = indexUrl();
  let text: string;
  try {
    const response = await fetch(url, { cache: 'no-store' });
    if (!response.ok) {
      indexState.value = {
        status: 'error',
        problems: [{ where: 'index', key: 'updates.index.status', params: { status: response.status } }],
      };
      return;
    }
    text = await response.text();
  } catch {
    indexState.value = { status: 'error', problems: [{ where: 'index', key: 'updates.index.unreachable' }] };
    return;
  }
  const parsed = parseUpdateIndex(text, url);
  if (!parsed.ok) {
    indexState.value = { status: 'error', problems: parsed.problems };
    return;
  }
  const signature = await fetchSignature();
  const { index, problems } = parsed;
  // Without a signature no image of the index could be written: none is offered. The program
  // package carries its own signature.
  if (signature === null) {
    for (const model of Object.keys(index.firmware))
      problems.push({ where: `firmware.${model}`, key: 'updates.index.unsigned' });
    index.firmware = {};
  }
  indexState.value = { status: 'ready', index, problems, signed: signature === null ? null : { text, signature } };
}

async function fetchSignature(): Promise<string | null> {
  try {
    const response = await fetch(new URL(INDEX_SIGNATURE_PATH, location.href).href, { cache: 'no-store' });
    if (!response.ok) return null;
    const text = (await response.text()).trim();
    return /^[A-Za-z0-9+/]{86}==$/.test(text) ? text : null;
  } catch {
    return null;
  }
}

// --- runs ----------------------------------------------------------------------------------

export interface FirmwareTarget {
  deviceId: string;
  identity: string;
  devicePath: string;
  name: string;
  current: string | null;
  // The version the index offers; null for a file the user picked (images carry no version).
  next: string | null;
}

export const firmwareTarget = signal<FirmwareTarget | null>(null);
// The signed index the image of the current run came from; null for a picked file.
let firmwareSource: SignedIndex | null = null;
export const firmwareRun = signal<RunState>(idle);
export const clientRun = signal<RunState>(idle);

export const firmwareBusy = computed(() => isRunning(firmwareRun.value));
// The device's record from the first listing after the run ended: undefined until that listing
// came, null when the device was not in it.
export const afterUpdate = signal<DeviceRecord | null | undefined>(undefined);

class RunFailure extends Error {
  constructor(
    readonly stage: FailureStage,
    readonly reason: TextKey,
  ) {
    super(reason);
  }
}

function dispatch(run: typeof firmwareRun, event: RunEvent): void {
  const before = run.value;
  const after = reduce(before, event);
  if (after === before) return;
  run.value = after;
  if (run === firmwareRun) {
    closeBlockedBy.value = after.phase === 'flashing' ? (firmwareTarget.value?.name ?? '') : null;
    // The device may have left the list for its boot loader and come back, or stayed there.
    if (after.phase === 'done' || (after.phase === 'failed' && after.failure?.stage === 'flash')) {
      const path = firmwareTarget.value?.devicePath;
      void refreshDevices().then(() => {
        if (firmwareRun.value !== after) return;
        // What the device reports once it was listed again after the update, never before.
        afterUpdate.value = devices.peek().find((d) => !!path && d.record.DevicePath === path)?.record ?? null;
      });
    }
    if (after.phase !== 'done' && after.phase !== 'failed') afterUpdate.value = undefined;
  }
}

const listening = new WeakSet<NativeClient>();

// The native side's events, for as long as the page lives.
function listen(client: NativeClient): void {
  if (listening.has(client)) return;
  listening.add(client);
  client.on('RefreshDownState', (args) => {
    const [total, received, path] = args;
    if (typeof path !== 'string') return;
    const event: RunEvent = { type: 'downState', total: Number(total), received: Number(received), path };
    dispatch(firmwareRun, event);
    dispatch(clientRun, event);
  });
  client.on('RefreshUpdateState', (args) => {
    const text = String(args[0] ?? '');
    // When the word reached the page, for the figures of the update benchmark.
    if (typeof performance !== 'undefined' && typeof performance.mark === 'function')
      performance.mark(`torvanix-update-state:${text}`);
    dispatch(firmwareRun, { type: 'updateState', text, step: typeof args[1] === 'string' ? args[1] : undefined });
  });
}

let aborter: AbortController | null = null;

// Fetches the entry's file, counting bytes as they come and hashing them on the way, and
// refuses anything that is not exactly the file the index describes.
async function fetchChecked(entry: UpdateEntry, run: typeof firmwareRun): Promise<Uint8Array> {
  aborter = typeof AbortController === 'function' ? new AbortController() : null;
  let response: Response;
  try {
    response = await fetch(entry.url, { cache: 'no-store', signal: aborter?.signal });
  } catch (e) {
    throw new RunFailure('download', isAbort(e) ? 'updates.fail.cancelled' : 'updates.fail.unreachable');
  }
  if (!response.ok) throw new RunFailure('download', 'updates.fail.status');
  const bytes = new Uint8Array(entry.size);
  const hash = new Sha256();
  let received = 0;
  try {
    const reader = response.body?.getReader();
    if (reader) {
      for (;;) {
        const { done, value } = await reader.read();
        if (done) break;
        if (received + value.length > entry.size) {
          void reader.cancel();
          throw new RunFailure('verify', 'updates.fail.size');
        }
        bytes.set(value, received);
        hash.update(value);
        received += value.length;
        dispatch(run, { type: 'received', received, total: entry.size });
      }
    } else {
      const all = new Uint8Array(await response.arrayBuffer());
      if (all.length > entry.size) throw new RunFailure('verify', 'updates.fail.size');
      bytes.set(all);
      hash.update(all);
      received = all.length;
      dispatch(run, { type: 'received', received, total: entry.size });
    }
  } catch (e) {
    if (e instanceof RunFailure) throw e;
    throw new RunFailure('download', isAbort(e) ? 'updates.fail.cancelled' : 'updates.fail.interrupted');
  } finally {
    aborter = null;
  }
  if (received !== entry.size) throw new RunFailure('verify', 'updates.fail.size');
  if (hash.hex() !== entry.sha256) throw new RunFailure('verify', 'updates.fail.digest');
  return bytes;
}

function isAbort(e: unknown): boolean {
  return !!e && typeof e === 'object' && (e as { name?: string }).name === 'AbortError';
}

export function cancelDownload(): void {
  aborter?.abort();
}

// How long the download path may take to report a checked file as written.
const SAVE_TIMEOUT_MS = 30_000;

// Saves the bytes through the browser's download path: a page of the vendor endpoint saving
// its own data lands in the program's download folder without a dialog, and RefreshDownState
// tells where. A name without "macro", "rar" or "zip", which would ask the user instead.
function saveThroughDownloads(bytes: Uint8Array, fileName: string, run: typeof firmwareRun): Promise<void> {
  dispatch(run, { type: 'verified', fileName });
  const url = URL.createObjectURL(new Blob([bytes as Uint8Array<ArrayBuffer>], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = fileName;
  link.style.display = 'none';
  document.body.appendChild(link);
  link.click();
  link.remove();
  return new Promise<void>((resolve, reject) => {
    const started = Date.now();
    const check = () => {
      const state = run.value;
      if (state.phase === 'saved') {
        URL.revokeObjectURL(url);
        resolve();
      } else if (state.phase !== 'saving' || Date.now() - started > SAVE_TIMEOUT_MS) {
        URL.revokeObjectURL(url);
        reject(new RunFailure('save', 'updates.fail.save'));
      } else {
        setTimeout(check, 100);
      }
    };
    check();
  });
}

export function safeFilePart(text: string): string {
  return text.replace(/[^A-Za-z0-9.-]+/g, '-').replace(/(macro|rar|zip)/gi, '-');
}

function failRun(run: typeof firmwareRun, e: unknown): void {
  if (e instanceof RunFailure) dispatch(run, { type: 'fail', stage: e.stage, reason: e.reason });
  else {
    console.error('update run failed', e);
    dispatch(run, { type: 'fail', stage: 'download', reason: 'updates.fail.interrupted' });
  }
}

function startFlash(client: NativeClient): void {
  const target = firmwareTarget.value;
  const path = firmwareRun.value.path;
  if (!target || !path) return;
  dispatch(firmwareRun, { type: 'flash', path });
  const request: Record<string, string> = { Version: target.identity, FilePath: path };
  if (firmwareSource) {
    request.Index = firmwareSource.text;
    request.IndexSignature = firmwareSource.signature;
  }
  if (!client.send('ExecuteUpdateFirmware', request))
    dispatch(firmwareRun, { type: 'fail', stage: 'flash', reason: 'updates.fail.notSent' });
}

// An update from the index: download, check, save, flash.
export async function updateFromIndex(
  target: FirmwareTarget,
  entry: UpdateEntry,
  client: NativeClient = native,
  signed: SignedIndex | null = indexState.value.status === 'ready' ? indexState.value.signed : null,
) {
  if (firmwareBusy.value) return;
  listen(client);
  firmwareTarget.value = target;
  firmwareSource = signed;
  dispatch(firmwareRun, { type: 'download', total: entry.size });
  try {
    const bytes = await fetchChecked(entry, firmwareRun);
    await saveThroughDownloads(bytes, `firmware-${safeFilePart(target.identity)}-to-${safeFilePart(entry.version)}.bin`, firmwareRun);
  } catch (e) {
    failRun(firmwareRun, e);
    return;
  }
  startFlash(client);
}

// An update from a file the user picked: it was read and checked as an image already.
export async function updateFromFile(target: FirmwareTarget, bytes: Uint8Array, client: NativeClient = native) {
  if (firmwareBusy.value) return;
  listen(client);
  firmwareTarget.value = target;
  firmwareSource = null;
  dispatch(firmwareRun, { type: 'download', total: bytes.length });
  dispatch(firmwareRun, { type: 'received', received: bytes.length, total: bytes.length });
  try {
    await saveThroughDownloads(bytes, `firmware-${safeFilePart(target.identity)}-file.bin`, firmwareRun);
  } catch (e) {
    failRun(firmwareRun, e);
    return;
  }
  startFlash(client);
}

// The same image again: the native side keeps it until a run has succeeded.
export function retryFlash(client: NativeClient = native): void {
  const state = firmwareRun.value;
  if (state.phase !== 'failed' || state.failure?.stage !== 'flash' || !state.path) return;
  listen(client);
  firmwareRun.value = { ...state, phase: 'saved', failure: null };
  startFlash(client);
}

export function dismissFirmwareRun(): void {
  dispatch(firmwareRun, { type: 'reset' });
  if (firmwareRun.value.phase === 'idle') firmwareTarget.value = null;
}

// A firmware image as the native reader takes it: the format mark, a zero word, and a payload
// length that ends before the trailer. Checked before anything is saved, so a wrong file is
// refused with a reason instead of a bare failure from the device side.
export function looksLikeFirmwareImage(bytes: Uint8Array): boolean {
  if (bytes.length < 66155 || bytes.length > 67200) return false;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (view.getUint32(0, true) !== 4118 || view.getUint32(4, true) !== 0) return false;
  const low = view.getUint32(66143, true);
  const high = view.getUint32(66147, true);
  return high === 0 && low > 0 && low <= 66143 - 264;
}

// --- the program itself ----------------------------------------------------------------------

// After a package was handed over, the program quits once it checked out. A package that does
// not check out gets no answer; the next query on the same command lane is answered only after
// the package's check, so its answer while the page still lives means the package was refused.
const REFUSAL_GRACE_MS = 5000;
const INSTALL_WORD_MS = 120_000;

export async function downloadClient(entry: UpdateEntry, client: NativeClient = native): Promise<void> {
  if (isRunning(clientRun.value)) return;
  listen(client);
  dispatch(clientRun, { type: 'download', total: entry.size });
  try {
    const bytes = await fetchChecked(entry, clientRun);
    await saveThroughDownloads(bytes, `torvanix-${safeFilePart(entry.version)}.tvxpkg`, clientRun);
  } catch (e) {
    failRun(clientRun, e);
  }
}

export async function installClient(mode: 'updater' | 'folder', client: NativeClient = native): Promise<void> {
  const state = clientRun.value;
  if (state.phase !== 'saved') return;
  dispatch(clientRun, { type: 'install' });
  const sent = client.send(mode === 'updater' ? 'ExecuteUpdateClient' : 'OpenUpdateDirectory', { FilePath: state.path });
  if (!sent) {
    dispatch(clientRun, { type: 'fail', stage: 'install', reason: 'updates.fail.notSent' });
    return;
  }
  try {
    await client.request('GetLocalConf', { Name: '' }, { timeoutMs: INSTALL_WORD_MS });
  } catch {
    dispatch(clientRun, { type: 'fail', stage: 'install', reason: 'updates.fail.noWord' });
    return;
  }
  await new Promise((resolve) => setTimeout(resolve, REFUSAL_GRACE_MS));
  dispatch(clientRun, { type: 'fail', stage: 'install', reason: 'updates.fail.refused' });
}

export function dismissClientRun(): void {
  dispatch(clientRun, { type: 'reset' });
}
