// The vendor endpoint's update index (web/FIRMWARE-INDEX.md): per model the newest firmware
// and the newest program, each with where to fetch it, its size and SHA-256. The index comes
// over the network, so nothing in it is trusted: a document that is not the format is refused
// whole, an entry that breaks a rule is left out and said why, and the usable rest stays.

import type { TextKey } from '../i18n';

export const INDEX_FORMAT = 1;
export const INDEX_PATH = '/updates/index.json';
// The Ed25519 signature of the index's exact bytes by the release key, in base64, beside the
// index. The page cannot check it; the native side does, before it writes an image.
export const INDEX_SIGNATURE_PATH = '/updates/index.json.sig';

// What the boot loader takes: a whole image of the native reader's bounds.
export const FIRMWARE_MIN_SIZE = 66155;
export const FIRMWARE_MAX_SIZE = 67200;
// The native unpacker's cap on a program package's content; the package is smaller.
export const CLIENT_MAX_SIZE = 64 * 1024 * 1024;

export interface Notes {
  en?: string;
  zh?: string;
}

export interface UpdateEntry {
  version: string;
  // Resolved against the index's address; always on the index's own origin.
  url: string;
  size: number;
  sha256: string;
  notes: Notes;
}

// Why an entry or the whole index was refused: a dictionary key and its values.
export interface IndexProblem {
  where: string; // "index", "client" or "firmware.<model>"
  key: TextKey;
  params?: Record<string, string | number>;
}

export interface UpdateIndex {
  client: UpdateEntry | null;
  firmware: Record<string, UpdateEntry>;
}

export type ParsedIndex =
  | { ok: true; index: UpdateIndex; problems: IndexProblem[] }
  | { ok: false; problems: IndexProblem[] };

const MODEL_ID = /^[A-Z0-9]{3}-[A-Z0-9]{3}$/;
const VERSION = /^\d{1,3}\.\d{1,3}\.\d{1,3}$/;
const SHA256 = /^[0-9a-f]{64}$/;
const PATH_SEGMENT = /^[A-Za-z0-9_~-][A-Za-z0-9._~-]*$/;
const NOTES_MAX = 2000;
const ENTRY_KEYS = ['version', 'url', 'size', 'sha256', 'notes'];

function isObject(v: unknown): v is Record<string, unknown> {
  return !!v && typeof v === 'object' && !Array.isArray(v);
}

function problem(where: string, key: TextKey, params?: Record<string, string | number>): IndexProblem {
  return params ? { where, key, params } : { where, key };
}

// A path below the index's folder: plain segments only, so a file always comes from the same
// server as the index (the program saves only its own origin's files without asking).
function resolveFile(path: string, indexUrl: string): string | null {
  if (path.length === 0 || path.length > 200) return null;
  const segments = path.split('/');
  if (!segments.every((s) => PATH_SEGMENT.test(s) && s !== '.' && s !== '..')) return null;
  try {
    const url = new URL(path, indexUrl);
    return url.origin === new URL(indexUrl).origin ? url.href : null;
  } catch {
    return null;
  }
}

function parseEntry(
  where: string,
  raw: unknown,
  indexUrl: string,
  sizes: [number, number],
): { entry: UpdateEntry } | { problem: IndexProblem } {
  if (!isObject(raw)) return { problem: problem(where, 'updates.index.entryNotObject') };
  const unknown = Object.keys(raw).filter((k) => ENTRY_KEYS.indexOf(k) < 0);
  if (unknown.length) return { problem: problem(where, 'updates.index.unknownField', { field: unknown[0] }) };
  const { version, url, size, sha256, notes } = raw;
  if (typeof version !== 'string' || !VERSION.test(version))
    return { problem: problem(where, 'updates.index.badVersion') };
  if (typeof url !== 'string') return { problem: problem(where, 'updates.index.badUrl') };
  const resolved = resolveFile(url, indexUrl);
  if (!resolved) return { problem: problem(where, 'updates.index.badUrl') };
  if (typeof size !== 'number' || !Number.isInteger(size) || size < sizes[0] || size > sizes[1])
    return { problem: problem(where, 'updates.index.badSize', { min: sizes[0], max: sizes[1] }) };
  if (typeof sha256 !== 'string' || !SHA256.test(sha256))
    return { problem: problem(where, 'updates.index.badDigest') };
  const parsedNotes: Notes = {};
  if (notes !== undefined) {
    if (!isObject(notes)) return { problem: problem(where, 'updates.index.badNotes') };
    for (const [lang, text] of Object.entries(notes)) {
      if ((lang !== 'en' && lang !== 'zh') || typeof text !== 'string' || text.length > NOTES_MAX)
        return { problem: problem(where, 'updates.index.badNotes') };
      parsedNotes[lang] = text;
    }
  }
  return { entry: { version, url: resolved, size, sha256, notes: parsedNotes } };
}

export function parseUpdateIndex(text: string, indexUrl: string): ParsedIndex {
  let data: unknown;
  try {
    data = JSON.parse(text);
  } catch {
    return { ok: false, problems: [problem('index', 'updates.index.notJson')] };
  }
  if (!isObject(data)) return { ok: false, problems: [problem('index', 'updates.index.notObject')] };
  if (data.format !== INDEX_FORMAT)
    return { ok: false, problems: [problem('index', 'updates.index.badFormat', { format: INDEX_FORMAT })] };
  const unknown = Object.keys(data).filter((k) => k !== 'format' && k !== 'client' && k !== 'firmware');
  if (unknown.length)
    return { ok: false, problems: [problem('index', 'updates.index.unknownField', { field: unknown[0] })] };

  const problems: IndexProblem[] = [];
  const index: UpdateIndex = { client: null, firmware: {} };
  if (data.client !== undefined) {
    const r = parseEntry('client', data.client, indexUrl, [1, CLIENT_MAX_SIZE]);
    if ('entry' in r) index.client = r.entry;
    else problems.push(r.problem);
  }
  if (data.firmware !== undefined) {
    if (!isObject(data.firmware))
      return { ok: false, problems: [problem('index', 'updates.index.firmwareNotObject')] };
    for (const [model, raw] of Object.entries(data.firmware)) {
      const where = `firmware.${model}`;
      if (!MODEL_ID.test(model)) {
        problems.push(problem(where, 'updates.index.badModel'));
        continue;
      }
      const r = parseEntry(where, raw, indexUrl, [FIRMWARE_MIN_SIZE, FIRMWARE_MAX_SIZE]);
      if ('entry' in r) index.firmware[model] = r.entry;
      else problems.push(r.problem);
    }
  }
  return { ok: true, index, problems };
}

// --- versions --------------------------------------------------------------------------------

// A firmware identity such as "TOB-NIR-V1.2.0": its model and version. Identities of the other
// forms ("05AC024F", vendor and product digits) carry no version.
export function firmwareOf(identity: string): { model: string; version: string } | null {
  const m = /^([A-Z0-9]{3}-[A-Z0-9]{3})-V(\d{1,3}\.\d{1,3}\.\d{1,3})$/.exec(identity);
  return m ? { model: m[1], version: m[2] } : null;
}

// Negative when a is older than b, 0 when equal, positive when newer; both "x.y.z".
export function compareVersions(a: string, b: string): number {
  const pa = a.split('.').map(Number);
  const pb = b.split('.').map(Number);
  for (let i = 0; i < 3; i += 1) {
    const d = (pa[i] || 0) - (pb[i] || 0);
    if (d !== 0) return d;
  }
  return 0;
}
