import { signal } from '@preact/signals';
import type { DeviceSession } from '../../model/session';
import type { NativeClient } from '../../native/client';
import type { Placement } from '../../screen/geometry';
import { type ScreenSlot, type UploadStage, UploadError, sendShare, sentBytes, uploadPicture } from '../../screen/upload';
import { waitForNotify } from '../../state/notify';

// The picture panel's state that outlives the panel, and the upload it starts.

export interface Source {
  image: HTMLImageElement;
  // The file the dialog copied into the screen folder, sent unchanged while it is not cropped.
  file: string | null;
  label: string;
}

export interface Progress {
  stage: UploadStage;
  share: number;
  problem?: string;
}

// The upload of each device. It outlives the page: an upload keeps going when the user looks
// elsewhere, and a second one must not start beside it (both would write the same slot).
export const uploads = signal<Record<string, Progress | undefined>>({});
export function setUpload(deviceId: string, p: Progress | null): void {
  uploads.value = { ...uploads.value, [deviceId]: p ?? undefined };
}
export const isBusy = (p: Progress | null | undefined) => !!p && p.stage !== 'done' && p.stage !== 'failed';

// What the screen shows of a slot picked and sent in this run (per device and slot), kept
// while the user moves between pages.
const sentPictures = new Map<string, string>();
export const sentPicture = (deviceId: string, slot: number) => sentPictures.get(`${deviceId}#${slot}`);
export const forgetSentPicture = (deviceId: string, slot: number) => sentPictures.delete(`${deviceId}#${slot}`);

// The picture being prepared per device, kept while the user looks at another page.
const drafts = new Map<string, { source: Source; placement: Placement }>();
export const draftOf = (deviceId: string) => drafts.get(deviceId);
export const keepDraft = (deviceId: string, source: Source, placement: Placement) => drafts.set(deviceId, { source, placement });

export interface Picture {
  // A file already in the screen folder, sent as it is ...
  file?: string;
  // ... or the PNG (base64) the preview shows.
  png?: string;
  // What the panel shows afterwards as the slot's picture (a data: URL).
  preview: string;
}

export type SendOutcome = { ok: true; bytes: number } | { ok: false; problem: string };

/**
 * Sends the picture to the slot, keeping the device's progress in `uploads` (the sending stage
 * advances by the expected time, as the device reports nothing until it is done).
 */
export async function sendToSlot(
  client: NativeClient,
  session: DeviceSession,
  slot: ScreenSlot,
  picture: Picture,
  awaitAnswer = (timeoutMs: number) => waitForNotify(session.identity, (d) => sentBytes(d.text) !== null, timeoutMs).then((d) => d.text),
): Promise<SendOutcome> {
  const id = session.deviceId;
  let timer: ReturnType<typeof setInterval> | null = null;
  const stop = () => {
    if (timer !== null) clearInterval(timer);
    timer = null;
  };
  setUpload(id, { stage: 'storing', share: 0 });
  try {
    const bytes = await uploadPicture(
      client,
      { doc: session.doc.peek(), slot, pictureFile: picture.file, pngBase64: picture.png },
      awaitAnswer,
      (stage) => {
        if (stage === 'sending') {
          const started = Date.now();
          stop();
          timer = setInterval(() => setUpload(id, { stage: 'sending', share: sendShare(Date.now() - started) }), 500);
        }
        setUpload(id, { stage, share: stage === 'done' ? 1 : 0 });
      },
    );
    stop();
    sentPictures.set(`${id}#${slot.slot}`, picture.preview);
    setUpload(id, { stage: 'done', share: 1 });
    return { ok: true, bytes };
  } catch (e) {
    stop();
    const problem = e instanceof UploadError ? e.problem : 'notSent';
    setUpload(id, { stage: 'failed', share: 0, problem });
    return { ok: false, problem };
  }
}

const PAN_STEP = 8;

export const ZOOM_STEP = 1.25;

/** What a key does to a movable picture: pan by screen pixels, or zoom one step in (1) or out (-1). */
export function keyStep(key: string): { pan: [number, number] } | { zoom: 1 | -1 } | null {
  switch (key) {
    case 'ArrowLeft':
      return { pan: [PAN_STEP, 0] };
    case 'ArrowRight':
      return { pan: [-PAN_STEP, 0] };
    case 'ArrowUp':
      return { pan: [0, PAN_STEP] };
    case 'ArrowDown':
      return { pan: [0, -PAN_STEP] };
    case '+':
    case '=':
      return { zoom: 1 };
    case '-':
      return { zoom: -1 };
    default:
      return null;
  }
}

export function loadImage(url: string): Promise<HTMLImageElement> {
  return new Promise((resolve, reject) => {
    const img = new Image();
    img.onload = () => resolve(img);
    img.onerror = () => reject(new Error('not a picture'));
    img.src = url;
  });
}

export function readAsDataUrl(file: File): Promise<string> {
  return new Promise((resolve, reject) => {
    const reader = new FileReader();
    reader.onload = () => resolve(String(reader.result));
    reader.onerror = () => reject(reader.error ?? new Error('unreadable'));
    reader.readAsDataURL(file);
  });
}
