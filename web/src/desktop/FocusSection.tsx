import { Plus, Trash2 } from 'lucide-preact';
import { useEffect, useRef, useState } from 'preact/hooks';
import { t, tn } from '../i18n';
import { findByName } from '../model/xml';
import { useNative } from '../native/context';
import { coreSettings, loadRunningApps, runningApps, saveSection } from '../state/coreSettings';
import { deviceName } from '../state/deviceName';
import { devices } from '../state/devices';
import { showMessage } from '../state/messages';
import { profileCount, writesProfileSlot } from '../state/profiles';
import { templates } from '../state/templates';
import { uniqueId } from '../ui/focus';
import { Select, type SelectOption } from '../ui/Select';
import { Toggle } from '../ui/Toggle';
import {
  absentIdentities,
  addRule,
  profileIn,
  removeRule,
  renameRule,
  withRuleProfile,
  type FocusSettings,
  type ProfileMap,
  type RuleProblem,
} from './coreSettings';
import { SectionFrame } from './SectionFrame';

// A connected device whose profile a rule can choose. Its identity (the record's Version) is
// the key the core's rules use.
interface ProfileDevice {
  identity: string;
  name: string;
  count: number;
}

function profileDevices(): ProfileDevice[] {
  const out: ProfileDevice[] = [];
  const states = templates.value;
  for (const d of devices.value) {
    const identity = d.record.Version;
    const state = states[identity];
    if (!state || state.status !== 'ready' || !writesProfileSlot(identity)) continue;
    if (!findByName(state.template.root, 'key', 'CurProfile')) continue;
    const count = profileCount(d, state.template.root);
    if (count < 2 || out.some((o) => o.identity.toLowerCase() === identity.toLowerCase())) continue;
    out.push({ identity, name: deviceName(d), count });
  }
  return out;
}

export function FocusSection() {
  return (
    <SectionFrame name="focus" heading={t('desktop.focus.heading')}>
      <FocusControls />
    </SectionFrame>
  );
}

const LEAVE = '';

function ProfileChoices({ map, list, onChange }: { map: ProfileMap; list: ProfileDevice[]; onChange: (identity: string, profile: number | null) => void }) {
  const absent = absentIdentities(
    map,
    list.map((d) => d.identity),
  ).length;
  return (
    <>
      {list.map((d) => {
        const options: SelectOption[] = [{ value: LEAVE, label: t('desktop.focus.leave') }];
        for (let n = 1; n <= d.count; n++) options.push({ value: String(n), label: t('profiles.profileN', { n }) });
        const chosen = profileIn(map, d.identity);
        // A profile the device does not have (set for another model of the same identity)
        // stays visible rather than reading as "leave as is".
        if (chosen !== null && chosen > d.count) options.push({ value: String(chosen), label: t('profiles.profileN', { n: chosen }) });
        return (
          <Select
            key={d.identity}
            label={d.name}
            value={chosen === null ? LEAVE : String(chosen)}
            options={options}
            onChange={(v) => onChange(d.identity, v === LEAVE ? null : Number(v))}
          />
        );
      })}
      {absent ? <p class="page-note">{tn('desktop.focus.absent', absent)}</p> : null}
    </>
  );
}

// The application of a rule, changed once the user leaves the box or presses Enter.
function AppName({ value, label, onCommit }: { value: string; label: string; onCommit: (app: string) => boolean }) {
  const [text, setText] = useState(value);
  useEffect(() => setText(value), [value]);
  const commit = () => {
    if (text.trim() === value) return setText(value);
    if (!onCommit(text)) setText(value);
  };
  return (
    <input
      type="text"
      class="focus-app-name"
      aria-label={label}
      value={text}
      onInput={(e) => setText((e.currentTarget as HTMLInputElement).value)}
      onKeyDown={(e) => {
        if (e.key === 'Enter') {
          e.preventDefault();
          commit();
        } else if (e.key === 'Escape' && text !== value) {
          // Esc takes the typing back first; a second one closes the dialog.
          e.stopPropagation();
          setText(value);
        }
      }}
      onBlur={commit}
    />
  );
}

function FocusControls() {
  const native = useNative();
  const value = coreSettings.value.focus;
  const [draft, setDraft] = useState('');
  const [problem, setProblem] = useState<string | null>(null);
  const hintId = useRef(uniqueId('focus-hint')).current;
  const inputId = useRef(uniqueId('focus-app')).current;

  useEffect(() => {
    void loadRunningApps(native);
  }, [native]);

  if (!value) return null;
  const list = profileDevices();

  const save = (next: FocusSettings) => {
    void saveSection('focus', next, native).then((stored) => {
      if (!stored) showMessage(() => t('desktop.notSaved'), 'error');
    });
  };
  const refused = (why: RuleProblem, app: string) =>
    setProblem(why === 'empty' ? t('desktop.focus.empty') : t('desktop.focus.duplicate', { app: app.trim() }));
  const add = () => {
    const next = addRule(value, draft);
    if (typeof next === 'string') return refused(next, draft);
    setProblem(null);
    setDraft('');
    save(next);
  };

  const apps = runningApps.value ?? [];
  return (
    <>
      <Toggle label={t('desktop.focus.enabled')} checked={value.enabled} onChange={(on) => save({ ...value, enabled: on })} />
      <Toggle
        label={t('desktop.focus.notify')}
        checked={value.notify}
        disabled={!value.enabled}
        onChange={(on) => save({ ...value, notify: on })}
      />
      {list.length === 0 ? <p class="page-note">{t('desktop.focus.noDevices')}</p> : null}
      {value.rules.length === 0 ? <p class="page-note">{t('desktop.focus.noRules')}</p> : null}
      {value.rules.map((rule, i) => (
        <fieldset key={`${i}:${rule.app}`} class="focus-rule">
          <legend>{t('desktop.focus.rule', { app: rule.app })}</legend>
          <div class="focus-rule-app">
            <AppName
              value={rule.app}
              label={t('desktop.focus.rename')}
              onCommit={(app) => {
                const next = renameRule(value, i, app);
                if (typeof next === 'string') {
                  refused(next, app);
                  return false;
                }
                setProblem(null);
                save(next);
                return true;
              }}
            />
            <button
              type="button"
              class="icon-button"
              aria-label={t('desktop.focus.remove', { app: rule.app })}
              title={t('desktop.focus.remove', { app: rule.app })}
              onClick={() => save(removeRule(value, i))}
            >
              <Trash2 size={16} aria-hidden="true" />
            </button>
          </div>
          <ProfileChoices map={rule.profiles} list={list} onChange={(identity, n) => save(withRuleProfile(value, i, identity, n))} />
        </fieldset>
      ))}
      <fieldset class="focus-rule">
        <legend>{t('desktop.focus.default')}</legend>
        <ProfileChoices map={value.default} list={list} onChange={(identity, n) => save(withRuleProfile(value, -1, identity, n))} />
      </fieldset>
      <div class="focus-add">
        {apps.length ? (
          <Select
            label={t('desktop.focus.running')}
            value=""
            options={[{ value: '', label: t('desktop.focus.pick') }, ...apps.map((a) => ({ value: a, label: a }))]}
            onChange={(a) => {
              if (!a) return;
              setDraft(a);
              setProblem(null);
            }}
          />
        ) : null}
        <div class="focus-add-row">
          <label for={inputId}>{t('desktop.focus.app')}</label>
          <input
            id={inputId}
            type="text"
            aria-describedby={hintId}
            value={draft}
            onInput={(e) => setDraft((e.currentTarget as HTMLInputElement).value)}
            onKeyDown={(e) => {
              if (e.key === 'Enter') {
                e.preventDefault();
                add();
              }
            }}
          />
          <button type="button" class="button" onClick={add}>
            <Plus size={16} aria-hidden="true" />
            {t('desktop.focus.add')}
          </button>
        </div>
        <p id={hintId} class="page-note">
          {t('desktop.focus.appHint')}
        </p>
        {problem ? (
          <p role="alert" class="desktop-problem">
            {problem}
          </p>
        ) : null}
      </div>
    </>
  );
}
