import { useEffect, useMemo, useState } from 'preact/hooks';
import { t, tn, type TextKey } from '../../i18n';
import { applyLighting, lightingReading } from '../../model/answers';
import { type EffectKeyName, lightingQuery, setEffect, setEffectValue, setKeyColours } from '../../model/builders';
import { type DeviceSession, commitEdit, readDevice, useSession } from '../../model/session';
import { type KeyDef, type ZoneName, ZONES, effectValue, isMouse, keysOf, paintableKeys, zoneView } from '../../model/template';
import type { XmlElement } from '../../model/xml';
import { KeyPicture } from '../../pictures/KeyPicture';
import { showMessage } from '../../state/messages';
import { ColourField } from '../../ui/ColourField';
import { RangeField } from '../../ui/RangeField';
import { Select } from '../../ui/Select';
import { tryEdit } from '../edit';
import type { PageProps } from '../index';
import '../keys/device-pages.css';

/** The colour as the preview shows it at a brightness level (off at 0, full at the top). */
export function dimmed(hex: string, level: number, top: number): string {
  const f = top > 0 ? Math.max(0, Math.min(1, level / top)) : 1;
  const scale = 0.15 + 0.85 * f;
  return [0, 2, 4]
    .map((i) => Math.round(parseInt(hex.slice(i, i + 2), 16) * (level <= 0 ? 0.08 : scale)).toString(16).padStart(2, '0'))
    .join('');
}

export function LightingPage({ device, template }: PageProps) {
  const session = useSession(device, template);
  if (!session) return <p class="page-note">{t('keys.unreadable')}</p>;
  return <LightingView session={session} />;
}

function LightingView({ session }: { session: DeviceSession }) {
  const traits = session.traits.lighting;
  const current = session.doc.value;
  const zones = useMemo(() => ZONES.filter((z) => zoneView(current, z)), [current]);
  const [reading, setReading] = useState(false);

  useEffect(() => {
    if (!traits || !traits.readable || !zoneView(session.doc.peek(), 'light')) return;
    let live = true;
    setReading(true);
    void readDevice(session, lightingQuery(session.doc.peek()), lightingReading).then((r) => {
      if (!live) return;
      setReading(false);
      if (r) session.doc.value = applyLighting(session.doc.peek(), r);
      else showMessage(() => t('lighting.readFailed'), 'error');
    });
    return () => {
      live = false;
    };
  }, [session]);

  if (!traits || !zones.length) return <p class="page-note">{t('lighting.none')}</p>;
  return (
    <section class="device-page lighting-page" aria-label={t('page.lighting')} aria-busy={reading ? 'true' : 'false'}>
      {reading ? <p class="page-note">{t('lighting.reading')}</p> : null}
      {zones.map((z) => (
        <Zone key={z} session={session} zone={z} titled={zones.length > 1} />
      ))}
    </section>
  );
}

function Zone({ session, zone, titled }: { session: DeviceSession; zone: ZoneName; titled: boolean }) {
  const traits = session.traits.lighting!;
  const current = session.doc.value;
  const view = useMemo(() => zoneView(current, zone), [current, zone])!;
  const zoneName = t(zone === 'light' ? 'lighting.zoneMain' : 'lighting.zoneLeft');
  const perKeyOffered = traits.perKey && !!view.perKey && view.perKey.length > 0;
  const [mode, setMode] = useState<'preset' | 'perKey'>('preset');
  const [draft, setDraft] = useState<string | null>(null);
  const headingId = `zone-${zone}-title`;

  // A read that reports the per-key mode's number means the device shows per-key colours.
  useEffect(() => {
    if (perKeyOffered && view.perKeyIndex !== null && view.effect === view.perKeyIndex) setMode('perKey');
  }, [view.effect]);

  const effect = view.effect;
  const colour = effectValue(view, 'LightRGB');
  const colourApplies = traits.colour === 'always' || traits.colour === effect;
  const label = (key: TextKey) => t(key, { zone: zoneName });

  const setValue = (name: EffectKeyName, labelKey: TextKey, value: string) => {
    const old = effectValue(zoneView(session.doc.peek(), zone)!, name) || '';
    if (old === value) return;
    tryEdit(session, 'lighting.failed', label(labelKey), (d) => setEffectValue(d, zone, name, value), (d) => setEffectValue(d, zone, name, old));
  };

  const chooseMode = (m: 'preset' | 'perKey') => {
    if (m === mode) return;
    const previous = mode;
    setMode(m);
    const toPreset = (d: XmlElement) => setEffect(d, zone, zoneView(d, zone)!.effect);
    const toPerKey = (d: XmlElement) => setKeyColours(d, zone, new Map());
    void commitEdit(session, label('lighting.editMode'), m === 'preset' ? toPreset : toPerKey, m === 'preset' ? toPerKey : toPreset).then(
      (ok) => {
        if (!ok) setMode(previous);
      },
    );
  };

  const range = (name: 'LightBrightness' | 'LightSpeed', labelKey: TextKey, editKey: TextKey, r: { min: number; max: number; step: number } | null) => {
    const v = effectValue(view, name);
    if (!r || v === null) return null;
    return (
      <RangeField
        key={`${name}-${session.refused.value}`}
        label={t(labelKey)}
        value={Math.min(r.max, Math.max(r.min, parseInt(v, 10) || 0))}
        min={r.min}
        max={r.max}
        step={r.step}
        onCommit={(n) => setValue(name, editKey, String(n))}
      />
    );
  };

  const direction = effectValue(view, 'LightDirection');
  // Kept while the document stands, so the picture is not laid out again on every render.
  const previewKeys = useMemo(() => paintableKeys(current, zone), [current, zone]);
  const ownKeys = useMemo(() => keysOf(current), [current]);
  const mouse = isMouse(session.template);
  const pictureKeys = previewKeys.length ? previewKeys : ownKeys;
  const shown = draft || colour;
  const brightness = effectValue(view, 'LightBrightness');
  const previewColours: Record<string, string> = {};
  if (!colourApplies && traits.fixedColour) {
    for (const k of pictureKeys) previewColours[k.name] = traits.fixedColour;
  } else if (shown && colourApplies) {
    const lit = traits.brightness && brightness !== null ? dimmed(shown, parseInt(brightness, 10) || 0, traits.brightness.max) : shown;
    for (const k of pictureKeys) previewColours[k.name] = lit;
  }

  return (
    <section class="lighting-zone" aria-labelledby={titled ? headingId : undefined} aria-label={titled ? undefined : zoneName}>
      {titled ? <h2 id={headingId}>{zoneName}</h2> : null}
      {perKeyOffered ? (
        <div role="radiogroup" aria-label={t('lighting.mode')} class="segmented">
          {(['preset', 'perKey'] as const).map((m) => (
            <label key={m} class="segment">
              <input type="radio" name={`mode-${zone}`} checked={mode === m} onChange={() => chooseMode(m)} />
              <span>{t(m === 'preset' ? 'lighting.modePreset' : 'lighting.modePerKey')}</span>
            </label>
          ))}
        </div>
      ) : null}
      {mode === 'perKey' && perKeyOffered ? (
        <PerKeyPainter session={session} zone={zone} keys={previewKeys} zoneLabel={label('lighting.editPaint')} />
      ) : (
        <div class="lighting-preset">
          {pictureKeys.length ? (
            <div class="lighting-preview" role="img" aria-label={t('lighting.preview')}>
              <KeyPicture keys={pictureKeys} mouse={mouse} label={t('lighting.preview')} selected={[]} colours={previewColours} onSelect={() => undefined} decorative />
            </div>
          ) : null}
          <Select
            label={t('lighting.effect')}
            value={String(effect)}
            options={(traits.effects.indexOf(effect) >= 0 ? traits.effects : [effect].concat(traits.effects)).map((n) => ({
              value: String(n),
              label: t('lighting.effectNamed', { n }),
            }))}
            onChange={(v) => {
              const old = zoneView(session.doc.peek(), zone)!.effect;
              const n = parseInt(v, 10);
              if (n !== old) tryEdit(session, 'lighting.failed', label('lighting.editEffect'), (d) => setEffect(d, zone, n), (d) => setEffect(d, zone, old));
            }}
          />
          {colour !== null && colourApplies ? (
            <ColourField
              key={`colour-${session.refused.value}`}
              label={t('lighting.colour')}
              value={colour}
              colourLabel={t('lighting.colourArea')}
              hueLabel={t('lighting.hue')}
              hexLabel={t('lighting.hex')}
              onDraft={setDraft}
              onCommit={(hex) => {
                setDraft(null);
                setValue('LightRGB', 'lighting.editColour', hex);
              }}
            />
          ) : colour !== null && traits.colour === 'never' ? (
            <p class="page-note">{t('lighting.colourFixed')}</p>
          ) : colour !== null && typeof traits.colour === 'number' ? (
            <p class="page-note">{t('lighting.colourOnlyWith', { effect: t('lighting.effectNamed', { n: traits.colour }) })}</p>
          ) : null}
          {range('LightBrightness', 'lighting.brightness', 'lighting.editBrightness', traits.brightness)}
          {range('LightSpeed', 'lighting.speed', 'lighting.editSpeed', traits.speed)}
          {traits.direction && direction !== null ? (
            <Select
              label={t('lighting.direction')}
              value={direction === '1' ? '1' : '0'}
              options={(['0', '1'] as const).map((d) => ({ value: d, label: t(`lighting.direction.${d}`) }))}
              onChange={(v) => setValue('LightDirection', 'lighting.editDirection', v)}
            />
          ) : null}
        </div>
      )}
    </section>
  );
}

function PerKeyPainter({ session, zone, keys, zoneLabel }: { session: DeviceSession; zone: ZoneName; keys: KeyDef[]; zoneLabel: string }) {
  const current = session.doc.value;
  const view = useMemo(() => zoneView(current, zone), [current, zone])!;
  const [selected, setSelected] = useState<string[]>([]);
  const [anchor, setAnchor] = useState<string | null>(null);
  const [brush, setBrush] = useState('ff0000');
  const [draft, setDraft] = useState<string | null>(null);
  const order = keys.map((k) => k.name);

  const colours: Record<string, string> = {};
  const byRc = new Map((view.perKey || []).map((e) => [e.rc, e.rgb]));
  for (const k of keys) {
    const rgb = k.rc !== null ? byRc.get(k.rc) : undefined;
    if (rgb) colours[k.name] = rgb;
  }
  // The brush colour shows on the selected keys before it is applied.
  for (const name of selected) colours[name] = draft || brush;

  const select = (name: string, how: { shift: boolean; ctrl: boolean }) => {
    if (how.shift && anchor) {
      const a = order.indexOf(anchor);
      const b = order.indexOf(name);
      const span = order.slice(Math.min(a, b), Math.max(a, b) + 1);
      setSelected(Array.from(new Set(selected.concat(span))));
      return;
    }
    setAnchor(name);
    if (how.ctrl) setSelected(selected.indexOf(name) >= 0 ? selected.filter((n) => n !== name) : selected.concat(name));
    else setSelected([name]);
  };

  const paint = () => {
    const chosen = keys.filter((k) => selected.indexOf(k.name) >= 0 && k.rc !== null);
    if (!chosen.length) return;
    const now = zoneView(session.doc.peek(), zone)!;
    const old = new Map<number, string>();
    const next = new Map<number, string>();
    for (const k of chosen) {
      const e = (now.perKey || []).find((x) => x.rc === k.rc);
      old.set(k.rc as number, e ? e.rgb : '000000');
      next.set(k.rc as number, brush);
    }
    tryEdit(session, 'lighting.failed', zoneLabel, (d) => setKeyColours(d, zone, next), (d) => setKeyColours(d, zone, old));
  };

  return (
    <div class="per-key">
      <p class="page-note">{t('lighting.paintHint')}</p>
      <KeyPicture
        keys={keys}
        mouse={false}
        label={t('lighting.keysPicture')}
        selected={selected}
        multiSelect
        colours={colours}
        onSelect={select}
        onDrag={(name) => setSelected((s) => (s.indexOf(name) >= 0 ? s : s.concat(name)))}
      />
      <div class="per-key-tools">
        <button type="button" class="button" onClick={() => setSelected(order.slice())}>
          {t('lighting.selectAll')}
        </button>
        <button type="button" class="button" disabled={!selected.length} onClick={() => setSelected([])}>
          {t('lighting.clearSelection')}
        </button>
        <span aria-live="polite">{tn('lighting.selectedCount', selected.length)}</span>
      </div>
      <ColourField
        label={t('lighting.brush')}
        value={brush}
        colourLabel={t('lighting.colourArea')}
        hueLabel={t('lighting.hue')}
        hexLabel={t('lighting.hex')}
        onDraft={setDraft}
        onCommit={(hex) => {
          setDraft(null);
          setBrush(hex);
        }}
      />
      <button type="button" class="button primary" disabled={!selected.length} onClick={paint}>
        {t('lighting.paint')}
      </button>
    </div>
  );
}
