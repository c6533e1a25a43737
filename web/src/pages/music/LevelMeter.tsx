import { useEffect, useRef, useState } from 'preact/hooks';
import { t } from '../../i18n';
import { useNative } from '../../native/context';
import { INITIAL_METER, type LevelSample, type MeterState, addSample, frame, isQuiet, parseLevels } from '../../music/levels';

// The live level of the music, drawn once per frame from the reports that came in since the
// last one; no frames are asked for while nothing moves.
export function LevelMeter({ onSample }: { onSample?: (s: LevelSample) => void }) {
  const native = useNative();
  const [shown, setShown] = useState<MeterState>(INITIAL_METER);
  const state = useRef<MeterState>(INITIAL_METER);
  const raf = useRef<number | null>(null);
  const last = useRef(0);
  const sampleRef = useRef(onSample);
  sampleRef.current = onSample;

  useEffect(() => {
    const draw = (now: number) => {
      raf.current = null;
      const dt = last.current ? now - last.current : 16;
      last.current = now;
      state.current = frame(state.current, dt);
      setShown(state.current);
      if (!isQuiet(state.current)) raf.current = requestAnimationFrame(draw);
      else last.current = 0;
    };
    const off = native.on('OnRGBMusicData', (args) => {
      const sample = parseLevels(args[0]);
      if (!sample) return;
      state.current = addSample(state.current, sample);
      sampleRef.current?.(sample);
      if (raf.current === null) raf.current = requestAnimationFrame(draw);
    });
    return () => {
      off();
      if (raf.current !== null) cancelAnimationFrame(raf.current);
      raf.current = null;
    };
  }, []);

  const bar = (c: 0 | 1, label: string) => (
    <div class="meter-row">
      <span class="meter-label">{label}</span>
      <div
        class="meter"
        role="img"
        aria-label={t('music.level.value', { channel: label, value: Math.round(shown.shown[c]) })}
      >
        <span class="meter-fill" style={{ transform: `scaleX(${shown.shown[c] / 100})` }} />
        <span class="meter-peak" style={{ left: `${shown.peak[c]}%` }} />
      </div>
    </div>
  );
  return (
    <div class="level-meter">
      {bar(0, t('music.level.left'))}
      {bar(1, t('music.level.right'))}
    </div>
  );
}
