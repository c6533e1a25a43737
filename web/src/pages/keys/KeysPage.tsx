import { useEffect, useMemo, useRef, useState } from 'preact/hooks';
import { t } from '../../i18n';
import {
  type Assignment,
  DISABLED_TYPE,
  EditError,
  assignKey,
  assignmentAllowed,
  losesLeftClick,
  restoreKey,
  revertKey,
} from '../../model/builders';
import {
  type AssignKind,
  type FunctionGroup,
  type Modifier,
  combinationText,
  d2KeyName,
  encodableKey,
  functionsOf,
  keyNameIn,
  modifierOf,
} from '../../model/generations';
import { type DeviceSession, commitEdit, functionTables, loadFunctionTable, useSession } from '../../model/session';
import { type KeyDef, isMouse, keysOf, macrosOf, modelName } from '../../model/template';
import type { XmlElement } from '../../model/xml';
import { KeyPicture } from '../../pictures/KeyPicture';
import { canonicalKeyName, keySpokenName } from '../../pictures/keyboardLayout';
import { showMessage } from '../../state/messages';
import { captureKeys } from '../../ui/capture';
import { ConfirmDialog } from '../../ui/ConfirmDialog';
import { Select } from '../../ui/Select';
import type { PageProps } from '../index';
import './device-pages.css';
import { ButtonList } from './ButtonList';
import { combinationLabel, describeAssignment, functionText, mouseButtonName, mouseButtonPlace } from './functions';

type Kind = AssignKind;

interface Pending {
  label: string;
  button: string;
  assignment: Assignment | null; // null: restore the default
}

export function KeysPage({ device, template }: PageProps) {
  const session = useSession(device, template);
  if (!session) return <p class="page-note">{t('keys.unreadable')}</p>;
  return <KeysView session={session} />;
}

function KeysView({ session }: { session: DeviceSession }) {
  const doc = session.doc;
  const generation = session.traits.generation;
  const table = generation ? functionTables.value[generation] : undefined;
  useEffect(() => {
    if (generation) void loadFunctionTable(generation, session.client);
  }, [generation]);

  // Views of the document, kept while it stands (reading .value subscribes this component).
  const current = doc.value;
  const keys = useMemo(() => keysOf(current), [current]);
  const macros = useMemo(() => macrosOf(current), [current]);
  const mouse = isMouse(session.template);
  const [selected, setSelected] = useState<string | null>(null);
  const key = keys.find((k) => k.name === selected) || null;
  const [kind, setKind] = useState<Kind>('keyboard');
  const [choice, setChoice] = useState('');
  const [pending, setPending] = useState<Pending | null>(null);

  const kinds = session.traits.assign.filter((k) => k !== 'dpi' || mouse);
  const currentKind = kinds.indexOf(kind) >= 0 ? kind : kinds[0];

  const keyName = (k: KeyDef) => {
    if (mouse) return mouseButtonName(k, parseInt(k.name.replace(/^\D+/, ''), 10));
    return keySpokenName(canonicalKeyName(k.value || k.task));
  };

  const groupOptions = (group: FunctionGroup) =>
    table
      ? functionsOf(table, session.family, group)
          .filter((r) => group !== 'keyboard' || encodableKey(table, session.family, r.task))
          .map((r) => ({ value: r.task, label: group === 'keyboard' ? keySpokenName(canonicalKeyName(r.task)) : functionText(r.task) }))
      : [];
  // Only recorded macros: an empty row names nothing the device could play.
  const usableMacros = macros.filter((m) => m.text !== '');

  const options =
    currentKind === 'keyboard' ? groupOptions('keyboard')
    : currentKind === 'mouse' || currentKind === 'media' || currentKind === 'dpi' ? groupOptions(currentKind)
    : currentKind === 'macro' ? usableMacros.map((m) => ({ value: m.name, label: t('keys.macroNamed', { n: parseInt(m.name.replace(/^\D+/, ''), 10) }) }))
    : [];
  const value = options.some((o) => o.value === choice) ? choice : options.length ? options[0].value : '';

  const forwardOf = (p: Pending) => (d: XmlElement) =>
    p.assignment ? assignKey(d, p.button, p.assignment) : restoreKey(d, p.button, session.template);

  const commitPending = (p: Pending) => {
    const before = doc.peek();
    void commitEdit(session, p.label, forwardOf(p), (d) => revertKey(d, p.button, before, session.template)).then((ok) => {
      const k = ok ? keysOf(doc.peek()).find((x) => x.name === p.button) : null;
      if (!k) return;
      const what = describeAssignment(k, macrosOf(doc.peek()));
      showMessage(() => t(p.assignment ? 'keys.assigned' : 'keys.restored', { key: p.label, function: what }), 'success');
    });
  };

  // Checks the change first: a refused edit says why, and one that takes the last left click
  // away asks before it goes.
  const run = (p: Pending) => {
    const before = doc.peek();
    let after: XmlElement;
    try {
      after = forwardOf(p)(before).doc;
    } catch (e) {
      showMessage(() => t('keys.editFailed', { reason: e instanceof EditError ? e.message : String(e) }), 'error');
      return;
    }
    if (losesLeftClick(before, after)) setPending(p);
    else commitPending(p);
  };

  const assign = (a: Assignment | null) => {
    if (!key) return;
    if (a && !assignmentAllowed(session.family, a)) {
      showMessage(() => t('keys.unavailable'), 'error');
      return;
    }
    run({ label: keyName(key), button: key.name, assignment: a });
  };

  const applyChoice = () => {
    if (!value) return;
    if (currentKind === 'keyboard') assign({ kind: 'keyboard', key: value });
    else if (currentKind === 'mouse' || currentKind === 'media' || currentKind === 'dpi') assign({ kind: currentKind, task: value });
    else if (currentKind === 'macro') {
      const m = macros.find((r) => r.name === value);
      if (m) assign({ kind: 'macro', macro: m });
    }
  };

  // The drawing and the list select together.
  const select = (name: string) => {
    setSelected(name);
    // The choices start from what the key does now.
    const k = keys.find((x) => x.name === name);
    if (!k) return;
    const now = kindOf(k);
    if (now && kinds.indexOf(now) >= 0) setKind(now);
    setChoice(k.task);
  };

  const pictureLabel = t(mouse ? 'keys.pictureMouse' : 'keys.pictureKeyboard');

  return (
    <section class="device-page keys-page" aria-label={t('page.keys')}>
      <div class={mouse ? 'mouse-keys' : undefined}>
        <KeyPicture
          keys={keys}
          mouse={mouse}
          label={pictureLabel}
          selected={selected ? [selected] : []}
          buttonName={mouse ? mouseButtonName : undefined}
          describe={(k) => describeAssignment(k, macros)}
          onSelect={select}
        />
        {mouse && (
          <ButtonList
            keys={keys}
            label={t('keys.buttonList')}
            selected={selected}
            place={mouseButtonPlace}
            describe={(k) => describeAssignment(k, macros)}
            onSelect={select}
          />
        )}
      </div>
      {!key ? (
        <p class="page-note">{t('keys.chooseKey')}</p>
      ) : (
        <div class="assign-panel" role="group" aria-label={t('keys.assign', { key: keyName(key) })}>
          <h2 class="assign-title">{t('keys.selected', { key: keyName(key), function: describeAssignment(key, macros) })}</h2>
          <Select
            label={t('keys.kind')}
            value={currentKind}
            options={kinds.map((k) => ({ value: k, label: t(`keys.kind.${k}`) }))}
            onChange={(v) => setKind(v as Kind)}
          />
          {currentKind === 'combo' ? (
            <ComboCapture
              ready={!!table}
              generationName={(d2) => (generation ? keyNameIn(generation, d2) : d2)}
              encodable={(name) => !!table && encodableKey(table, session.family, name)}
              onCaptured={(combination, modifiers) =>
                assign(modifiers ? { kind: 'combo', combination } : { kind: 'keyboard', key: combination })
              }
            />
          ) : currentKind === 'disable' ? (
            <button type="button" class="button" onClick={() => assign({ kind: 'disable' })}>
              {t('keys.disableKey', { key: keyName(key) })}
            </button>
          ) : currentKind === 'macro' && !options.length ? (
            <p class="page-note">{t('keys.noMacros')}</p>
          ) : (
            <div class="assign-choice">
              <Select label={t(`keys.kind.${currentKind}`)} value={value} options={options} onChange={setChoice} />
              <button type="button" class="button primary" disabled={!value} onClick={applyChoice}>
                {t('keys.apply')}
              </button>
            </div>
          )}
          <button type="button" class="button" onClick={() => assign(null)}>
            {t('keys.restore')}
          </button>
        </div>
      )}
      <ConfirmDialog
        open={!!pending}
        title={t('keys.leftClickTitle')}
        message={pending ? t('keys.leftClickMessage', { device: modelName(session.template), key: pending.label }) : ''}
        confirmLabel={t('keys.leftClickConfirm')}
        cancelLabel={t('keys.cancel')}
        danger
        onConfirm={() => {
          const p = pending;
          setPending(null);
          if (p) commitPending(p);
        }}
        onCancel={() => setPending(null)}
      />
    </section>
  );
}

const DPI_FUNCTIONS = ['DPI循环', 'DPI+', 'DPI-'];

function kindOf(k: KeyDef): Kind | null {
  switch (k.type.toUpperCase()) {
    case 'KEYBOARD':
      return 'keyboard';
    case 'HOTKEY':
      return 'combo';
    case 'MOUSE':
      return DPI_FUNCTIONS.indexOf(k.task) >= 0 ? 'dpi' : 'mouse';
    case 'MEDIA':
      return 'media';
    case DISABLED_TYPE:
      return 'disable';
    case 'MACRO':
      return 'macro';
    default:
      return null;
  }
}

interface ComboCaptureProps {
  /** The function table is there to check the keys against. */
  ready: boolean;
  generationName: (d2Name: string) => string;
  encodable: (name: string) => boolean;
  onCaptured: (combination: string, hasModifiers: boolean) => void;
}

// Records one combination. While recording, every key goes to the recorder (the page's own
// shortcuts such as Ctrl+Z included); recording ends when the keys are released.
function ComboCapture({ ready, generationName, encodable, onCaptured }: ComboCaptureProps) {
  const [recording, setRecording] = useState(false);
  const [shown, setShown] = useState('');
  const button = useRef<HTMLButtonElement>(null);
  const latest = useRef({ generationName, encodable, onCaptured });
  latest.current = { generationName, encodable, onCaptured };

  useEffect(() => {
    if (!recording) return;
    const held = new Set<string>();
    let mods: Modifier[] = [];
    let keyName = '';
    let lastModifierCode = '';
    let missing = '';
    const down = (e: KeyboardEvent) => {
      if (e.repeat) return;
      held.add(e.code);
      const m = modifierOf(e.code);
      if (m) {
        if (mods.indexOf(m) < 0) mods = mods.concat(m);
        lastModifierCode = e.code;
      } else {
        const name = latest.current.generationName(d2KeyName(e.code));
        if (!name || !latest.current.encodable(name)) {
          missing = e.code.replace(/^Key|^Digit/, '');
        } else {
          keyName = name;
          missing = '';
        }
      }
      setShown(combinationText(mods, keyName));
    };
    const up = (e: KeyboardEvent) => {
      // The release of the key that started the recording is not part of it.
      if (!held.has(e.code)) return;
      held.delete(e.code);
      if (held.size) return;
      setRecording(false);
      button.current?.focus();
      if (missing) {
        showMessage(() => t('keys.captureMissing', { key: missing }), 'error');
        return;
      }
      if (keyName) {
        latest.current.onCaptured(combinationText(mods, keyName), mods.length > 0);
      } else if (lastModifierCode && mods.length === 1) {
        // A modifier on its own is a key like any other.
        const alone = latest.current.generationName(d2KeyName(lastModifierCode));
        if (latest.current.encodable(alone)) latest.current.onCaptured(alone, false);
      }
    };
    return captureKeys((e) => (e.type === 'keydown' ? down(e) : up(e)), { blur: () => setRecording(false) });
  }, [recording]);

  return (
    <div class="combo-capture">
      <button
        ref={button}
        type="button"
        class={`button${recording ? ' primary' : ''}`}
        disabled={!ready}
        aria-pressed={recording ? 'true' : 'false'}
        onClick={() => {
          setShown('');
          setRecording(!recording);
        }}
      >
        {recording ? t('keys.captureStop') : t('keys.capture')}
      </button>
      <p class="page-note" aria-live="polite">
        {recording ? t('keys.captureHint') : shown ? t('keys.captured', { combination: combinationLabel(shown) }) : t('keys.captureNone')}
      </p>
    </div>
  );
}
