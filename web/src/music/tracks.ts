// Tracks picked with OpenMP3Ex and the player's state read with GetMusicInfo.

export interface Track {
  name: string;
  path: string;
}

// OpenMP3Ex answers [{"name","path"}, ...]; anything else is left out.
export function parseTracks(answer: string): Track[] {
  let data: unknown;
  try {
    data = JSON.parse(answer);
  } catch {
    return [];
  }
  if (!Array.isArray(data)) return [];
  const out: Track[] = [];
  for (const item of data) {
    if (!item || typeof item !== 'object') continue;
    const { name, path } = item as Record<string, unknown>;
    if (typeof path !== 'string' || !path) continue;
    out.push({ name: typeof name === 'string' && name ? name : path.replace(/^.*[\\/]/, ''), path });
  }
  return out;
}

// New picks join the list; a track already listed is not listed twice.
export function mergeTracks(list: readonly Track[], added: readonly Track[]): Track[] {
  const seen = new Set(list.map((t) => t.path));
  const out = list.slice();
  for (const t of added) {
    if (seen.has(t.path)) continue;
    seen.add(t.path);
    out.push(t);
  }
  return out;
}

// The program keeps playing when the window goes, and a new window starts with an empty list:
// the track the player holds joins the list and becomes the current one, so the page shows
// what is playing.
export function withPlayerSource(list: readonly Track[], current: string | null, source: string): { list: Track[]; current: string | null } {
  if (!source) return { list: list.slice(), current };
  return {
    list: mergeTracks(list, [{ name: source.replace(/^.*[\\/]/, ''), path: source }]),
    current: current ?? source,
  };
}

export type PlayerState = 'playing' | 'paused' | 'stopped';

export interface PlayerInfo {
  source: string;
  state: PlayerState;
  position: number;
  duration: number;
  // The whole track is decoded (seeking and the length are final).
  complete: boolean;
  loop: boolean;
  volume: [number, number];
  mute: [boolean, boolean];
  title: string;
  artist: string;
  // Why the track cannot play, in the player's words.
  error: string;
  // Whether a playing track is heard: "sound", "silent" (no sound output) or "none".
  output: string;
  // Whether the lighting follows the music (null: the program does not say).
  follow: boolean | null;
}

const num = (v: unknown, d = 0) => (typeof v === 'number' && Number.isFinite(v) ? v : d);

export function parseInfo(answer: string): PlayerInfo | null {
  let o: Record<string, unknown>;
  try {
    const data: unknown = JSON.parse(answer);
    if (!data || typeof data !== 'object' || Array.isArray(data)) return null;
    o = data as Record<string, unknown>;
  } catch {
    return null;
  }
  const pair = <T,>(v: unknown, pick: (x: unknown) => T, d: T): [T, T] =>
    Array.isArray(v) && v.length >= 2 ? [pick(v[0]), pick(v[1])] : [d, d];
  const tags = o.tags && typeof o.tags === 'object' ? (o.tags as Record<string, unknown>) : {};
  const state = o.state === 'playing' || o.state === 'paused' ? o.state : 'stopped';
  return {
    source: typeof o.source === 'string' ? o.source : '',
    state,
    position: Math.max(0, num(o.position)),
    duration: Math.max(0, num(o.duration)),
    complete: o.complete !== false,
    loop: o.loop === true,
    volume: pair(o.volume, (x) => Math.min(100, Math.max(0, num(x, 100))), 100),
    mute: pair(o.mute, (x) => x === true, false),
    title: typeof tags.Title === 'string' ? tags.Title : '',
    artist: typeof tags.AlbumArtist === 'string' ? tags.AlbumArtist : typeof tags.ContributingArtist === 'string' ? tags.ContributingArtist : '',
    error: typeof o.error === 'string' ? o.error : '',
    output: typeof o.output === 'string' ? o.output : '',
    follow: typeof o.follow === 'boolean' ? o.follow : null,
  };
}

// m:ss (or h:mm:ss) of a position in milliseconds.
export function formatTime(ms: number): string {
  const total = Math.max(0, Math.floor((Number.isFinite(ms) ? ms : 0) / 1000));
  const s = total % 60;
  const m = Math.floor(total / 60) % 60;
  const h = Math.floor(total / 3600);
  const ss = String(s).padStart(2, '0');
  return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${ss}` : `${m}:${ss}`;
}
