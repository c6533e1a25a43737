import { useEffect, useMemo, useRef, useState } from 'preact/hooks';
import { formatNumber, formatPercent, t, type TextKey } from '../../i18n';
import { applyDpi, dpiReading, powerReading } from '../../model/answers';
import {
  PARAMETER_LIMITS,
  SETTING_LIMITS,
  type StageInput,
  dpiQuery,
  powerQuery,
  setDpiStages,
  setParameter,
  setSetting,
} from '../../model/builders';
import { type DeviceSession, readDevice, useSession } from '../../model/session';
import { dpiView, parametersOf, settingValue } from '../../model/template';
import { showMessage } from '../../state/messages';
import { ColourField } from '../../ui/ColourField';
import { RangeField } from '../../ui/RangeField';
import { Select } from '../../ui/Select';
import { Toggle } from '../../ui/Toggle';
import { tryEdit } from '../edit';
import type { PageProps } from '../index';
import '../keys/device-pages.css';

// The settings this page shows, by the name the template gives them.
const PARAMETER_TEXT: Record<string, TextKey> = {
  sleep: 'perf.sleep',
  sleepscreen: 'perf.sleepScreen',
  ratesscreen: 'perf.screenRate',
  SensorAltitude: 'perf.liftOff',
};
const TOGGLES: Record<string, TextKey> = { Hibernate: 'perf.hibernate', MoveLightSwitch: 'perf.lightSwitchOnMove' };

export function PerformancePage({ device, template }: PageProps) {
  const session = useSession(device, template);
  if (!session) return <p class="page-note">{t('keys.unreadable')}</p>;
  return <PerformanceView session={session} />;
}

function PerformanceView({ session }: { session: DeviceSession }) {
  const doc = session.doc;
  const current = doc.value;
  const dpi = useMemo(() => dpiView(current), [current]);
  const params = useMemo(() => parametersOf(current), [current]);
  const [reading, setReading] = useState(false);

  // The D2.0 translator answers the current stage and the report rate.
  useEffect(() => {
    if (session.family !== 'generic-d2' || !dpiView(doc.peek())) return;
    let live = true;
    setReading(true);
    void readDevice(session, dpiQuery(doc.peek()), dpiReading).then((r) => {
      if (!live) return;
      setReading(false);
      if (r) doc.value = applyDpi(doc.peek(), r);
      else showMessage(() => t('perf.readFailed'), 'error');
    });
    return () => {
      live = false;
    };
  }, [session]);

  const settings = ['DpiCount', 'DpiCurrent', 'SensorAltitude'].filter((n) => settingValue(doc.value, n) !== null);
  const toggles = Object.keys(TOGGLES).filter((n) => settingValue(doc.value, n) !== null);
  const power = session.traits.powerQuery && settingValue(doc.value, 'Power') !== null;
  const nothing = !(dpi && session.traits.dpi) && !params.length && !settings.length && !toggles.length && !power;
  if (nothing) return <p class="page-note">{t('perf.none')}</p>;

  const setParam = (name: string, value: number) => {
    const old = parseInt(parametersOf(doc.peek()).find((p) => p.name === name)?.value || '', 10);
    if (old === value) return;
    const label = name === 'Reportrate' ? t('perf.reportRate') : PARAMETER_TEXT[name] ? t(PARAMETER_TEXT[name]) : name;
    tryEdit(session, 'perf.failed', label, (d) => setParameter(d, name, value), (d) => setParameter(d, name, Number.isFinite(old) ? old : value));
  };
  const setNamed = (name: string, label: string, value: number) => {
    const old = parseInt(settingValue(doc.peek(), name) || '', 10);
    if (old === value) return;
    tryEdit(session, 'perf.failed', label, (d) => setSetting(d, name, value), (d) => setSetting(d, name, Number.isFinite(old) ? old : value));
  };

  return (
    <section class="device-page performance-page" aria-label={t('page.performance')} aria-busy={reading ? 'true' : 'false'}>
      {reading ? <p class="page-note">{t('perf.reading')}</p> : null}
      {dpi && session.traits.dpi ? <DpiStages session={session} /> : null}
      {settings.map((name) => {
        const v = parseInt(settingValue(doc.value, name) || '', 10) || 1;
        if (name === 'DpiCount')
          return (
            <RangeField key={`${name}-${session.refused.value}`} label={t('perf.stageCount')} value={v} min={SETTING_LIMITS.DpiCount.min} max={SETTING_LIMITS.DpiCount.max}
              onCommit={(n) => setNamed(name, t('perf.stageCount'), n)} />
          );
        if (name === 'DpiCurrent') {
          const count = parseInt(settingValue(doc.value, 'DpiCount') || '', 10) || SETTING_LIMITS.DpiCurrent.max;
          return (
            <Select key={name} label={t('perf.currentStage')} value={String(v)}
              options={Array.from({ length: count }, (_, i) => ({ value: String(i + 1), label: t('perf.stage', { n: i + 1 }) }))}
              onChange={(s) => setNamed(name, t('perf.editCurrent'), parseInt(s, 10))} />
          );
        }
        const lim = SETTING_LIMITS[name];
        return (
          <Select key={name} label={t('perf.liftOff')} value={String(v)}
            options={Array.from({ length: lim.max - lim.min + 1 }, (_, i) => ({ value: String(lim.min + i), label: formatNumber(lim.min + i) }))}
            onChange={(s) => setNamed(name, t('perf.liftOff'), parseInt(s, 10))} />
        );
      })}
      {params.map((p) => {
        const v = parseInt(p.value, 10);
        if (p.name === 'Reportrate') {
          const rates = session.traits.reportRates;
          if (!rates.length) return null;
          return (
            <Select key={p.name} label={t('perf.reportRate')} value={String(v)}
              options={(rates.indexOf(v) >= 0 || !Number.isFinite(v) ? rates : [v].concat(rates)).map((r) => ({ value: String(r), label: t('perf.rate', { rate: formatNumber(r) }) }))}
              onChange={(s) => setParam(p.name, parseInt(s, 10))} />
          );
        }
        const lim = PARAMETER_LIMITS[p.name];
        if (!lim || !PARAMETER_TEXT[p.name]) return null;
        if (p.name === 'SensorAltitude')
          return (
            <Select key={p.name} label={t('perf.liftOff')} value={String(v)}
              options={Array.from({ length: lim.max - lim.min + 1 }, (_, i) => ({ value: String(lim.min + i), label: formatNumber(lim.min + i) }))}
              onChange={(s) => setParam(p.name, parseInt(s, 10))} />
          );
        return (
          <RangeField key={`${p.name}-${session.refused.value}`} label={t(PARAMETER_TEXT[p.name])} value={Number.isFinite(v) ? Math.min(lim.max, Math.max(lim.min, v)) : lim.min}
            min={lim.min} max={lim.max} onCommit={(n) => setParam(p.name, n)} />
        );
      })}
      {toggles.map((name) => (
        <Toggle key={name} label={t(TOGGLES[name])} checked={settingValue(doc.value, name) === '1'}
          onChange={(on) => setNamed(name, t(TOGGLES[name]), on ? 1 : 0)} />
      ))}
      {power ? <Battery session={session} /> : null}
    </section>
  );
}

function Battery({ session }: { session: DeviceSession }) {
  const [level, setLevel] = useState<number | null>(null);
  const [busy, setBusy] = useState(false);
  const live = useRef(true);
  const read = () => {
    setBusy(true);
    void readDevice(session, powerQuery(session.doc.peek()), powerReading).then((v) => {
      // A page closed meanwhile (device unplugged, say) has nothing left to tell.
      if (!live.current) return;
      setBusy(false);
      setLevel(v);
      if (v === null) showMessage(() => t('perf.readFailed'), 'error');
    });
  };
  useEffect(() => {
    live.current = true;
    read();
    return () => {
      live.current = false;
    };
  }, [session]);
  return (
    <div class="battery-field" role="group" aria-label={t('perf.battery')}>
      <span aria-live="polite">{busy ? t('perf.reading') : level === null ? t('perf.batteryUnknown') : t('perf.batteryLevel', { level: formatPercent(level) })}</span>
      <button type="button" class="button" disabled={busy} onClick={read}>
        {t('perf.readBattery')}
      </button>
    </div>
  );
}

function DpiStages({ session }: { session: DeviceSession }) {
  const current = session.doc.value;
  const view = useMemo(() => dpiView(current), [current])!;
  const limits = session.traits.dpi!;
  const stages: StageInput[] = view.levels.map((l) => ({ x: l.x, y: l.y, rgb: l.rgb }));
  const withColour = view.levels.some((l) => l.rgb !== '');

  const change = (label: string, next: StageInput[], current: number) => {
    const old = dpiView(session.doc.peek())!;
    const oldStages = old.levels.map((l) => ({ x: l.x, y: l.y, rgb: l.rgb }));
    tryEdit(session, 'perf.failed', label, (d) => setDpiStages(d, next, current), (d) => setDpiStages(d, oldStages, old.current));
  };
  const replace = (i: number, s: Partial<StageInput>) => stages.map((x, j) => (j === i ? { ...x, ...s } : x));
  const move = (i: number, to: number) => {
    const next = stages.slice();
    const [s] = next.splice(i, 1);
    next.splice(to, 0, s);
    // The current stage stays the same stage, wherever it moves.
    const order = stages.map((_, j) => j);
    const [o] = order.splice(i, 1);
    order.splice(to, 0, o);
    change(t('perf.editStages'), next, order.indexOf(view.current - 1) + 1);
  };

  return (
    <fieldset class="dpi-stages">
      <legend>{t('perf.dpiStages')}</legend>
      <p class="page-note">{t('perf.limits', { min: formatNumber(limits.min), max: formatNumber(limits.max), step: formatNumber(limits.step) })}</p>
      <div role="radiogroup" aria-label={t('perf.currentStage')} class="segmented">
        {stages.map((_, i) => (
          <label key={i} class="segment">
            <input type="radio" name="dpi-current" checked={view.current === i + 1}
              onChange={() => change(t('perf.editCurrent'), stages, i + 1)} />
            <span>{t('perf.stage', { n: i + 1 })}</span>
          </label>
        ))}
      </div>
      <ol class="dpi-stage-list">
        {stages.map((s, i) => {
          const n = i + 1;
          const sameAxes = s.x === s.y;
          return (
            <li key={`${i}-${session.refused.value}`} class={`dpi-stage${view.current === n ? ' is-current' : ''}`}>
              <RangeField label={t('perf.stageDpi', { n })} value={s.x} min={limits.min} max={limits.max} step={limits.step} unit={t('perf.dpiUnit')}
                onCommit={(v) => change(t('perf.editStage', { n }), replace(i, sameAxes ? { x: v, y: v } : { x: v }), view.current)} />
              {!sameAxes ? (
                <RangeField label={t('perf.stageDpiY', { n })} value={s.y} min={limits.min} max={limits.max} step={limits.step} unit={t('perf.dpiUnit')}
                  onCommit={(v) => change(t('perf.editStage', { n }), replace(i, { y: v }), view.current)} />
              ) : null}
              {withColour ? (
                <ColourField label={t('perf.stageColour', { n })} value={s.rgb || '000000'} colourLabel={t('perf.colourArea')} hueLabel={t('perf.hue')} hexLabel={t('perf.hex')}
                  onCommit={(hex) => change(t('perf.editStage', { n }), replace(i, { rgb: hex }), view.current)} />
              ) : null}
              {limits.editStages ? (
                <div class="dpi-stage-tools">
                  <button type="button" class="button" disabled={i === 0} onClick={() => move(i, i - 1)}>{t('perf.moveUp', { n })}</button>
                  <button type="button" class="button" disabled={i === stages.length - 1} onClick={() => move(i, i + 1)}>{t('perf.moveDown', { n })}</button>
                  <button type="button" class="button" disabled={stages.length <= 1}
                    onClick={() => {
                      const next = stages.filter((_, j) => j !== i);
                      const cur = view.current > n ? view.current - 1 : Math.min(view.current, next.length);
                      change(t('perf.editStages'), next, cur);
                    }}>
                    {t('perf.removeStage', { n })}
                  </button>
                </div>
              ) : null}
            </li>
          );
        })}
      </ol>
      {limits.editStages ? (
        <button type="button" class="button" disabled={stages.length >= limits.maxStages}
          onClick={() => {
            const last = stages[stages.length - 1];
            const v = Math.min(limits.max, last ? last.x + 4 * limits.step : limits.min);
            change(t('perf.editStages'), stages.concat({ x: v, y: v, rgb: last ? last.rgb : '' }), view.current);
          }}>
          {t('perf.addStage')}
        </button>
      ) : null}
    </fieldset>
  );
}
