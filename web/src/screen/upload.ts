// Sending a picture to a slot of the keyboard's screen: the picture is stored in the program's
// screen folder (picked there by the file dialog, or sent by the page), converted into the
// screen's pixel format by the program's converter, and sent by a configuration document that
// sets the slot. The program answers the end of the upload with the number of bytes it sent.
import type { NativeClient } from '../native/client';
import { type XmlElement, attr, cloneXml, findByName, removeAttr, setAttr, writeXml } from '../model/xml';
import { SCREEN_HEIGHT, SCREEN_WIDTH } from './geometry';

export interface ScreenSlot {
  slot: number;
  // The template key the slot is written through.
  key: XmlElement;
}

// The slots a model's document offers: each GlobalScreen key is a slot (its `slot` number), or
// several when the key says how many it stands for (`slots`).
export function screenSlots(doc: XmlElement): ScreenSlot[] {
  const out: ScreenSlot[] = [];
  for (const key of doc.children) {
    if (key.name !== 'key' || attr(key, 'name') !== 'GlobalScreen' || !attr(key, 'index').trim()) continue;
    const first = parseInt(attr(key, 'slot'), 10);
    const count = parseInt(attr(key, 'slots'), 10);
    const base = Number.isFinite(first) && first >= 0 ? first : 0;
    const n = Number.isFinite(count) && count > 0 ? Math.min(count, 16) : 1;
    for (let i = 0; i < n; i++) if (!out.some((s) => s.slot === base + i)) out.push({ slot: base + i, key });
  }
  return out.sort((a, b) => a.slot - b.slot);
}

function stripActions(el: XmlElement): void {
  removeAttr(el, 'action');
  el.children.forEach(stripActions);
}

// The whole document with the slot's key marked: "set" names the picture (a path inside the
// program folder), "del" empties the slot.
export function slotDocument(doc: XmlElement, slot: ScreenSlot, action: 'set' | 'del', picture = ''): string {
  const d = cloneXml(doc);
  stripActions(d);
  const index = doc.children.indexOf(slot.key);
  const key = index >= 0 ? d.children[index] : findByName(d, 'key', 'GlobalScreen');
  if (!key) throw new Error('the model has no screen slot');
  setAttr(key, 'slot', String(slot.slot));
  removeAttr(key, 'slots');
  if (action === 'set') setAttr(key, 'value', picture);
  setAttr(key, 'action', action);
  return writeXml(d);
}

// The screen folder's file names the program accepts (no folders, no characters that would
// change the converter's parameters).
export function isPlainName(name: string): boolean {
  if (!name || name.indexOf('..') >= 0 || /[/\\&=]/.test(name)) return false;
  for (let i = 0; i < name.length; i++) {
    const c = name.charCodeAt(i);
    if (c < 0x20 || c === 0x7f) return false;
  }
  return true;
}

// The name under which a prepared picture of a slot is stored; the file is replaced by the
// next picture of that slot. It carries "screen_" so that the page can show it back.
export function preparedName(slot: number): string {
  return `screen_slot${slot}`;
}

// Bytes the converter writes for one picture: a 4-byte header and two bytes per pixel.
export const CONVERTED_BYTES = 4 + SCREEN_WIDTH * SCREEN_HEIGHT * 2;
// The program sends 250 bytes at a time with a 300 ms pause after each piece.
export function expectedSendMs(bytes = CONVERTED_BYTES): number {
  return (Math.floor(bytes / 250) + 1) * 300;
}

// An estimate of the share done, for the progress bar: time over the expected time, held
// below the end until the program confirms.
export function sendShare(elapsedMs: number, expectedMs = expectedSendMs()): number {
  if (!(expectedMs > 0) || !(elapsedMs > 0)) return 0;
  return Math.min(0.95, elapsedMs / expectedMs);
}

export type UploadStage = 'storing' | 'converting' | 'sending' | 'done' | 'failed';
export type UploadProblem = 'notStored' | 'notConverted' | 'notSent' | 'noAnswer' | 'unavailable';

export class UploadError extends Error {
  constructor(readonly problem: UploadProblem) {
    super(problem);
    this.name = 'UploadError';
  }
}

export interface UploadRequest {
  doc: XmlElement;
  slot: ScreenSlot;
  // Either a picture already in the screen folder (its file name) ...
  pictureFile?: string;
  // ... or the PNG bytes (base64, no data: prefix) to store there first.
  pngBase64?: string;
}

// How the end of the upload is awaited; resolves with the answered document text.
export type AwaitAnswer = (timeoutMs: number) => Promise<string>;

// The number of bytes an answered document says were sent (-1: refused or broken off), or
// null when it is not the answer of a slot upload.
export function sentBytes(answer: string): number | null {
  const m = /<key\b[^>]*\bname="GlobalScreen"[^>]*>/.exec(answer);
  if (!m) return null;
  const sent = /\bsent="(-?\d+)"/.exec(m[0]);
  return sent ? Number(sent[1]) : null;
}

export async function uploadPicture(
  client: NativeClient,
  req: UploadRequest,
  awaitAnswer: AwaitAnswer,
  onStage: (stage: UploadStage) => void,
): Promise<number> {
  let file = req.pictureFile ?? '';
  if (!file) {
    if (!req.pngBase64) throw new UploadError('notStored');
    onStage('storing');
    const name = preparedName(req.slot.slot);
    try {
      await client.request('SaveImageTemp', { ImageName: name, ImageBase64Data: req.pngBase64 });
    } catch {
      throw new UploadError(client.available ? 'notStored' : 'unavailable');
    }
    file = `${name}.png`;
  }
  if (!isPlainName(file)) throw new UploadError('notStored');
  onStage('converting');
  try {
    await client.request('ImageConvBin', { ImageName: file });
  } catch {
    throw new UploadError(client.available ? 'notConverted' : 'unavailable');
  }
  onStage('sending');
  const expected = expectedSendMs();
  // The program waits for the conversion before it starts; allow for a slow machine.
  const answer = awaitAnswer(expected * 2 + 30_000);
  if (!client.send('NoticeModify', { XmlConfigStr: slotDocument(req.doc, req.slot, 'set', `screen/${file}`) })) {
    answer.catch(() => undefined);
    throw new UploadError('unavailable');
  }
  let text: string;
  try {
    text = await answer;
  } catch {
    throw new UploadError('noAnswer');
  }
  const sent = sentBytes(text);
  if (sent === null || sent <= 0) throw new UploadError(sent === 0 ? 'notConverted' : 'notSent');
  onStage('done');
  return sent;
}
