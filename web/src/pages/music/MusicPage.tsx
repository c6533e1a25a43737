import { signal } from '@preact/signals';
import { useEffect, useRef, useState } from 'preact/hooks';
import { t, tn } from '../../i18n';
import { NativeError } from '../../native/client';
import { useNative } from '../../native/context';
import { type PlayerInfo, type Track, formatTime, mergeTracks, parseInfo, parseTracks, withPlayerSource } from '../../music/tracks';
import { showMessage } from '../../state/messages';
import { useLatestDialog } from '../../ui/fileDialog';
import { RangeField } from '../../ui/RangeField';
import { Toggle } from '../../ui/Toggle';
import type { PageProps } from '../index';
import { LevelMeter } from './LevelMeter';
import { EditError, setEffectValue } from '../../model/builders';
import { type DeviceSession, useSession } from '../../model/session';
import { ZONES, type ZoneName, effectValue, zoneView } from '../../model/template';
import { type LevelSample } from '../../music/levels';
import { STOP_FOLLOW, type StepRange, followRequest } from '../../music/follow';
import { Poller } from '../../screen/figures';

// Where the lighting can follow the music: the preset effect's brightness of a zone, on a
// family that takes it as one write (the packet keyboard rewrites whole tables for it).
function followTarget(s: DeviceSession | null): { zone: ZoneName; range: StepRange } | null {
  const range = s && s.family !== 'hfd' ? s.traits.lighting?.brightness : null;
  if (!s || !range) return null;
  for (const zone of ZONES) {
    const view = zoneView(s.doc.peek(), zone);
    if (view && effectValue(view, 'LightBrightness') !== null) return { zone, range };
  }
  return null;
}

function brightnessDocuments(s: DeviceSession, zone: ZoneName, value: string): string[] {
  try {
    return setEffectValue(s.doc.peek(), zone, 'LightBrightness', value).documents;
  } catch (e) {
    if (!(e instanceof EditError)) throw e;
    return [];
  }
}

// The request that hands the following to the program, with the brightness the device holds
// now (the lighting page's value) as the one to give back.
function followArgs(s: DeviceSession, target: { zone: ZoneName; range: StepRange }): Record<string, string> | null {
  const view = zoneView(s.doc.peek(), target.zone);
  const held = view ? effectValue(view, 'LightBrightness') : null;
  if (held === null) return null;
  return followRequest(target.range, held, (v) => brightnessDocuments(s, target.zone, v));
}

// The list and the track being played belong to the program's one player, not to a device.
const playlist = signal<Track[]>([]);
const currentPath = signal<string | null>(null);

const INFO_INTERVAL_MS = 1000;

export function MusicPage({ device, template }: PageProps) {
  const native = useNative();
  const session = useSession(device, template);
  const target = followTarget(session);
  const [follow, setFollow] = useState(false);
  // Bumped by the switch: a state asked for before it does not move the switch back.
  const followTurn = useRef(0);
  const followFresh = useRef(false);
  const [info, setInfo] = useState<PlayerInfo | null>(null);
  const [position, setPosition] = useState(0);
  const [volume, setVolume] = useState<[number, number]>([100, 100]);
  const [mute, setMute] = useState<[boolean, boolean]>([false, false]);
  const alive = useRef(true);
  const askTracks = useLatestDialog();

  const refresh = async (): Promise<PlayerInfo | null> => {
    const turn = followTurn.current;
    try {
      const i = parseInfo(await native.request('GetMusicInfo', {}, { timeoutMs: 5000 }));
      if (alive.current && i) {
        if (i.source && !playlist.value.some((x) => x.path === i.source)) {
          const adopted = withPlayerSource(playlist.value, currentPath.value, i.source);
          playlist.value = adopted.list;
          currentPath.value = adopted.current;
        }
        setInfo(i);
        setPosition(i.position);
        setVolume(i.volume);
        setMute(i.mute);
        if (i.follow !== null && turn === followTurn.current) {
          setFollow(i.follow);
          // Following that went on while the page was away gets this page's documents, so
          // the brightness given back is the one the device holds now.
          if (i.follow && !followFresh.current && session && target) {
            const args = followArgs(session, target);
            if (args) native.request('RGBMusicPlay', args).catch(() => undefined);
          }
          followFresh.current = true;
        }
      }
      return i;
    } catch {
      return null;
    }
  };

  useEffect(() => {
    alive.current = true;
    // The state (the end of a track above all) is read once a second while the page is seen,
    // one query at a time: a slow program gets no pile of them, and failures wait longer.
    const poller = new Poller(
      () =>
        refresh().then((i) => {
          if (!i) throw new Error('no player state');
        }),
      undefined,
      INFO_INTERVAL_MS,
    );
    const follow = () => {
      if (document.visibilityState === 'hidden') poller.stop();
      else poller.start();
    };
    follow();
    document.addEventListener('visibilitychange', follow);
    return () => {
      alive.current = false;
      document.removeEventListener('visibilitychange', follow);
      poller.stop();
    };
  }, []);

  const onSample = (sample: LevelSample) => {
    if (sample.position !== null && alive.current) setPosition(sample.position);
  };

  // Every player command answers its success text whatever happened; what happened is read back.
  const command = async (args: Record<string, string | number>): Promise<boolean> => {
    try {
      await native.request('RGBMusicPlay', args);
    } catch (e) {
      if (alive.current) showMessage(() => t(e instanceof NativeError && e.kind === 'timeout' ? 'music.noAnswer' : 'music.notSent'), 'error');
      return false;
    }
    await refresh();
    return true;
  };

  // The program follows the music with the lighting, beside its player; the page only
  // switches it and shows it.
  const switchFollow = (on: boolean) => {
    const args = on && session && target ? followArgs(session, target) : null;
    if (on && !args) return;
    followTurn.current++;
    followFresh.current = true;
    setFollow(on);
    void command(args ?? STOP_FOLLOW);
  };

  const addTracks = async () => {
    const r = await askTracks(() => native.request('OpenMP3Ex'));
    if (!r) return;
    if (!r.ok) {
      showMessage(() => t('music.notSent'), 'error');
      return;
    }
    const answer = r.value;
    const added = parseTracks(answer);
    if (!added.length) return;
    playlist.value = mergeTracks(playlist.value, added);
    showMessage(() => tn('music.added', added.length));
  };

  const play = async (track: Track) => {
    currentPath.value = track.path;
    if (!(await command({ Event: 'PlayMusic', Url: track.path, Ver: device.record.Version }))) return;
    // Reading a long track takes a moment; its first state may still say stopped.
    const i = await refresh();
    if (i?.error && alive.current) showMessage(() => t('music.cannotPlay', { name: track.name, reason: i.error }), 'error');
  };

  const remove = (track: Track) => {
    playlist.value = playlist.value.filter((x) => x.path !== track.path);
  };

  const current = playlist.value.find((x) => x.path === currentPath.value) ?? null;
  const playing = info?.state === 'playing';
  const paused = info?.state === 'paused';
  const sameSource = !!current && !!info && info.source === current.path;
  const duration = info && sameSource ? info.duration : 0;

  const playPause = () => {
    if (playing) void command({ Event: 'PauseMusic' });
    else if (paused && sameSource) void command({ Event: 'ResumeMusic' });
    else if (current) void play(current);
    else if (playlist.value.length) void play(playlist.value[0]);
  };

  const setLoop = (on: boolean) => {
    // Looping is switched on by playing in a loop; off, the track plays on to its end.
    if (on) void command({ Event: 'PlayLoopMusic' });
    else if (current) void command({ Event: 'PlayMusic', Url: current.path, Ver: device.record.Version });
  };

  const setChannelVolume = (c: 0 | 1, v: number) => {
    const next: [number, number] = c === 0 ? [v, volume[1]] : [volume[0], v];
    setVolume(next);
    void command({ Event: 'SetPlayerVolume', L: next[0], R: next[1] });
  };
  const setChannelMute = (c: 0 | 1, m: boolean) => {
    const next: [boolean, boolean] = c === 0 ? [m, mute[1]] : [mute[0], m];
    setMute(next);
    void command({ Event: 'SetMute', L: next[0] ? 1 : 0, R: next[1] ? 1 : 0 });
  };

  const status = !info
    ? t('music.state.unknown')
    : info.error && sameSource
      ? t('music.cannotPlay', { name: current?.name ?? '', reason: info.error })
      : playing && info.output === 'silent'
        ? t('music.state.silent')
        : t(`music.state.${info.state}`);

  return (
    <div class="music-page">
      <section class="music-section" aria-labelledby="music-tracks-title">
        <h2 id="music-tracks-title">{t('music.tracks')}</h2>
        <p class="page-note">{t('music.about')}</p>
        <button type="button" class="button" onClick={() => void addTracks()}>
          {t('music.add')}
        </button>
        {playlist.value.length === 0 ? (
          <p class="page-note">{t('music.empty')}</p>
        ) : (
          <ul class="music-list">
            {playlist.value.map((track) => (
              <li key={track.path} class={track.path === currentPath.value ? 'current' : undefined}>
                <button
                  type="button"
                  class="music-track"
                  aria-current={track.path === currentPath.value ? 'true' : undefined}
                  aria-label={t('music.playTrack', { name: track.name })}
                  onClick={() => void play(track)}
                >
                  {track.name}
                </button>
                <button type="button" class="button small" aria-label={t('music.removeTrack', { name: track.name })} onClick={() => remove(track)}>
                  ×
                </button>
              </li>
            ))}
          </ul>
        )}
      </section>
      <section class="music-section" aria-labelledby="music-player-title">
        <h2 id="music-player-title">{t('music.player')}</h2>
        <p class="music-now">
          <strong>{current ? (sameSource && info?.title) || current.name : t('music.nothing')}</strong>
          {sameSource && info?.artist ? ` — ${info.artist}` : ''}
        </p>
        <p role="status" class={info?.error && sameSource ? 'page-note warn' : 'page-note'}>
          {status}
        </p>
        <div class="music-transport">
          <button type="button" class="button primary" disabled={!playlist.value.length} onClick={playPause}>
            {playing ? t('music.pause') : t('music.play')}
          </button>
          <Toggle label={t('music.loop')} checked={!!info?.loop && sameSource} disabled={!current} onChange={setLoop} />
        </div>
        <RangeField
          label={t('music.position')}
          value={Math.round(Math.min(position, duration) / 1000)}
          min={0}
          max={Math.max(1, Math.ceil(duration / 1000))}
          unit={t('music.seconds')}
          disabled={!sameSource || !duration}
          onCommit={(s) => void command({ Event: 'SeekPosition', RefreshPosition: s * 1000 })}
        />
        <p class="page-note music-time">
          {formatTime(Math.min(position, duration))} / {formatTime(duration)}
        </p>
        <div class="music-channels">
          {([0, 1] as const).map((c) => (
            <div class="music-channel" key={c}>
              <RangeField
                label={t(c === 0 ? 'music.volumeLeft' : 'music.volumeRight')}
                value={volume[c]}
                min={0}
                max={100}
                unit="%"
                onCommit={(v) => setChannelVolume(c, v)}
              />
              <Toggle label={t(c === 0 ? 'music.muteLeft' : 'music.muteRight')} checked={mute[c]} onChange={(m) => setChannelMute(c, m)} />
            </div>
          ))}
        </div>
        <h3 class="music-level-title">{t('music.level.title')}</h3>
        <LevelMeter onSample={onSample} />
        {target ? (
          <Toggle label={t('music.follow')} checked={follow} onChange={switchFollow} />
        ) : (
          <p class="page-note">{t('music.followUnavailable')}</p>
        )}
      </section>
    </div>
  );
}
