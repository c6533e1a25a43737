import { Circle, Copy, Download, Pencil, Plus, Square, Trash2, Upload } from 'lucide-preact';
import { useEffect, useRef, useState } from 'preact/hooks';
import { t, tn, type TextKey } from '../../i18n';
import { addMacro, deleteMacro, duplicateMacro, macroFileText, macros, parseMacroFile, renameMacro, updateMacro, type Macro } from '../../macros/library';
import { MacroRecorder, type DelayMode, type RecordResult } from '../../macros/recorder';
import { DEFAULT_PLAYBACK, MAX_DELAY, clampInt, macroText, parseMacroText } from '../../macros/text';
import { d2KeyName, generationOf, modifierOf } from '../../model/generations';
import { storeMacro } from '../../model/builders';
import { commitEdit, useSession, type DeviceSession } from '../../model/session';
import { macrosOf } from '../../model/template';
import type { XmlElement } from '../../model/xml';
import { NativeError } from '../../native/client';
import { useNative } from '../../native/context';
import { showMessage } from '../../state/messages';
import { ConfirmDialog } from '../../ui/ConfirmDialog';
import type { PageProps } from '../index';
import { MacroEditor } from './MacroEditor';

function keyOf(e: KeyboardEvent): string {
  return modifierOf(e.code) ?? d2KeyName(e.code);
}

// Ctrl+Shift+Esc ends a recording from the keyboard.
const STOP_CHORD_KEYS = ['Ctrl', 'Shift'];
function isStopChord(e: KeyboardEvent): boolean {
  return e.code === 'Escape' && e.ctrlKey && e.shiftKey && !e.altKey && !e.metaKey;
}

function Recorder({ onDone }: { onDone: (r: RecordResult) => void }) {
  const [mode, setMode] = useState<DelayMode>('recorded');
  const [fixedMs, setFixedMs] = useState(50);
  const [recording, setRecording] = useState(false);
  const [count, setCount] = useState(0);
  const rec = useRef<MacroRecorder | null>(null);
  const stopButton = useRef<HTMLButtonElement>(null);

  useEffect(() => {
    if (!recording) return undefined;
    const r = new MacroRecorder(mode, fixedMs);
    rec.current = r;
    const seen = () => setCount(r.stop().steps.length);
    // Every key is part of the macro (Enter and Esc too), so none may act on the page.
    const onKey = (e: KeyboardEvent) => {
      e.preventDefault();
      e.stopPropagation();
      // The one combination that is not recorded: it stops the recording for those who
      // cannot reach the button with a pointer (every key on its own, Esc too, is recorded).
      if (e.type === 'keydown' && isStopChord(e)) {
        finish(r.stopWithout(STOP_CHORD_KEYS));
        return;
      }
      r.key(e.type === 'keydown', keyOf(e), e.timeStamp);
      seen();
    };
    const onMouse = (e: MouseEvent) => {
      if (e.button !== 0 && e.button !== 2) return;
      // The press that stops the recording is not part of it.
      if (stopButton.current && stopButton.current.contains(e.target as Node)) return;
      r.button(e.type === 'mousedown', e.button === 2 ? 'right' : 'left', e.timeStamp);
      seen();
    };
    const noMenu = (e: Event) => e.preventDefault();
    // Presses are recorded, not acted on: only the stop button still works.
    const noClick = (e: Event) => {
      if (stopButton.current && stopButton.current.contains(e.target as Node)) return;
      e.preventDefault();
      e.stopPropagation();
    };
    window.addEventListener('keydown', onKey, true);
    window.addEventListener('keyup', onKey, true);
    window.addEventListener('mousedown', onMouse, true);
    window.addEventListener('mouseup', onMouse, true);
    window.addEventListener('contextmenu', noMenu, true);
    window.addEventListener('click', noClick, true);
    stopButton.current?.focus();
    return () => {
      window.removeEventListener('keydown', onKey, true);
      window.removeEventListener('keyup', onKey, true);
      window.removeEventListener('mousedown', onMouse, true);
      window.removeEventListener('mouseup', onMouse, true);
      window.removeEventListener('contextmenu', noMenu, true);
      window.removeEventListener('click', noClick, true);
    };
  }, [recording]);

  function finish(result: RecordResult) {
    rec.current = null;
    setRecording(false);
    onDone(result);
  }
  const stop = () => {
    const r = rec.current;
    if (r) finish(r.stop());
  };

  return (
    <fieldset class="macro-recorder">
      <legend>{t('macros.recorder')}</legend>
      <div role="radiogroup" aria-label={t('macros.delayMode')} class="macro-modes">
        {(['recorded', 'fixed', 'none'] as DelayMode[]).map((m) => (
          <label key={m}>
            <input type="radio" name="macro-delay-mode" value={m} checked={mode === m} disabled={recording} onChange={() => setMode(m)} />
            {t(`macros.delayMode.${m}`)}
          </label>
        ))}
      </div>
      {mode === 'fixed' ? (
        <label class="macro-number">
          <span>{t('macros.fixedDelay')}</span>
          <input
            type="number"
            min={0}
            max={MAX_DELAY}
            value={String(fixedMs)}
            disabled={recording}
            onChange={(e) => setFixedMs(clampInt(Number((e.currentTarget as HTMLInputElement).value), 0, MAX_DELAY))}
          />
        </label>
      ) : null}
      {recording ? (
        <button ref={stopButton} type="button" class="button danger" aria-keyshortcuts="Control+Shift+Escape" title={t('macros.stopShortcut')} onClick={stop}>
          <Square size={16} aria-hidden="true" />
          {t('macros.stopRecording')}
        </button>
      ) : (
        <button
          type="button"
          class="button"
          onClick={() => {
            setCount(0);
            setRecording(true);
          }}
        >
          <Circle size={16} aria-hidden="true" />
          {t('macros.startRecording')}
        </button>
      )}
      <p class="page-note" aria-live="polite">
        {recording ? tn('macros.recording', count) : t('macros.recorderHint')}
      </p>
      {/* Kept out of the live region: it would be read again with every recorded step. */}
      {recording ? <p class="page-note">{t('macros.stopShortcut')}</p> : null}
    </fieldset>
  );
}

function DeviceSlots({ session, macro, model }: { session: DeviceSession; macro: Macro | null; model: string }) {
  const slots = macrosOf(session.doc.value);
  const [slot, setSlot] = useState(slots[0]?.name ?? '');
  const [confirming, setConfirming] = useState(false);
  const generation = generationOf(session.family) ?? 'D2.0';
  const chosen = slots.find((s) => s.name === slot) ?? slots[0];
  const slotName = (name: string) => t('macros.slotN', { n: parseInt(name.replace(/^\D+/, ''), 10) });
  if (!chosen) return null;
  // The packet keyboard's table holds key presses and pauses only.
  const unplayable = session.family === 'hfd' && macro ? macro.steps.filter((x) => x.kind !== 'keyDown' && x.kind !== 'keyUp' && x.kind !== 'delay').length : 0;

  const store = () => {
    setConfirming(false);
    if (!macro) return;
    const text = macroText(macro.steps, macro.playback, generation);
    const slot = chosen.name;
    const before = chosen.text;
    let keys = 0;
    const forward = (d: XmlElement) => {
      const c = storeMacro(d, slot, text);
      keys = c.documents.length;
      return c;
    };
    // Like every other change to a device: a refused one is said so by the commit model, and a
    // taken one can be undone by putting the slot's old macro back.
    void commitEdit(session, t('macros.slotEdit', { name: macro.name, slot: slotName(slot) }), forward, (d) => storeMacro(d, slot, before)).then((ok) => {
      if (!ok) return;
      if (session.family === 'hfd') showMessage(() => t('macros.tableSent', { name: macro.name, slot: slotName(slot), model }));
      else if (!keys) showMessage(() => t('macros.storedForKeys', { name: macro.name, slot: slotName(slot) }), 'success');
      else showMessage(() => tn('macros.keysRewritten', keys, { name: macro.name, slot: slotName(slot), model }));
    });
  };

  return (
    <fieldset class="macro-slots">
      <legend>{t('macros.deviceSlots', { model })}</legend>
      <label class="macro-number">
        <span>{t('macros.slot')}</span>
        <select value={chosen.name} onChange={(e) => setSlot((e.currentTarget as HTMLSelectElement).value)}>
          {slots.map((s) => (
            <option key={s.name} value={s.name}>
              {s.text ? tn('macros.slotFull', parseMacroText(s.text).steps.length, { slot: slotName(s.name) }) : t('macros.slotEmpty', { slot: slotName(s.name) })}
            </option>
          ))}
        </select>
      </label>
      <button type="button" class="button primary" disabled={!macro || macro.steps.length === 0} onClick={() => (chosen.text ? setConfirming(true) : store())}>
        {t('macros.store')}
      </button>
      <p class="page-note">{t(session.family === 'hfd' ? 'macros.slotHintTable' : 'macros.slotHintKeys')}</p>
      {unplayable > 0 ? <p class="page-note">{tn('macros.keysOnly', unplayable)}</p> : null}
      <ConfirmDialog
        open={confirming}
        title={t('macros.replaceTitle')}
        message={t('macros.replaceQuestion', { slot: slotName(chosen.name), model, name: macro?.name ?? '' })}
        confirmLabel={t('macros.replace')}
        cancelLabel={t('ui.cancel')}
        onConfirm={store}
        onCancel={() => setConfirming(false)}
      />
    </fieldset>
  );
}

export function MacrosPage({ device, template }: PageProps) {
  const native = useNative();
  const session = useSession(device, template);
  const list = macros.value;
  const [selectedId, setSelectedId] = useState<string | null>(list[0]?.id ?? null);
  const [renaming, setRenaming] = useState(false);
  const [deleting, setDeleting] = useState(false);
  const fileTurn = useRef(0);
  const nameInput = useRef<HTMLInputElement>(null);
  useEffect(() => {
    if (renaming) nameInput.current?.select();
  }, [renaming]);
  const macro = list.find((m) => m.id === selectedId) ?? list[0] ?? null;
  const model = template.model || device.record.Version;

  const create = () => {
    const m = addMacro({ name: t('macros.newName'), steps: [], playback: { ...DEFAULT_PLAYBACK } });
    setSelectedId(m.id);
  };

  const fileFailed = (e: unknown, key: TextKey) => {
    if (e instanceof NativeError && e.kind === 'timeout') return; // the dialog was closed unanswered
    showMessage(() => t(e instanceof NativeError && e.kind === 'unavailable' ? 'macros.notSent' : key), 'error');
  };

  const saveFile = async () => {
    if (!macro) return;
    const turn = ++fileTurn.current;
    try {
      await native.request('SaveCommand', { CommandString: macroFileText(macro, macroText(macro.steps, macro.playback)) });
      if (turn === fileTurn.current) showMessage(() => t('macros.saved', { name: macro.name }), 'success');
    } catch (e) {
      if (turn === fileTurn.current) fileFailed(e, 'macros.saveFailed');
    }
  };

  const loadFile = async () => {
    const turn = ++fileTurn.current;
    let text: string;
    try {
      text = await native.request('LoadCommand');
    } catch (e) {
      if (turn === fileTurn.current) fileFailed(e, 'macros.loadFailed');
      return;
    }
    if (turn !== fileTurn.current) return;
    const m = parseMacroFile(text, t('macros.newName'));
    if (!m) {
      showMessage(() => t('macros.notMacroFile'), 'error');
      return;
    }
    const added = addMacro(m);
    setSelectedId(added.id);
    showMessage(() => t('macros.loaded', { name: added.name }), 'success');
  };

  return (
    <div class="macros-page">
      <section class="macro-library" aria-labelledby="macro-library-title">
        <h2 id="macro-library-title">{t('macros.library')}</h2>
        {list.length === 0 ? <p class="page-note">{t('macros.emptyLibrary')}</p> : null}
        <ul class="macro-list">
          {list.map((m) => (
            <li key={m.id}>
              <button type="button" class="macro-list-item" aria-pressed={macro?.id === m.id ? 'true' : 'false'} onClick={() => setSelectedId(m.id)}>
                {m.name}
              </button>
            </li>
          ))}
        </ul>
        <div class="macro-actions">
          <button type="button" class="button" onClick={create}>
            <Plus size={16} aria-hidden="true" />
            {t('macros.new')}
          </button>
          <button type="button" class="button" disabled={!macro} onClick={() => setRenaming(true)}>
            <Pencil size={16} aria-hidden="true" />
            {t('macros.rename')}
          </button>
          <button type="button" class="button" disabled={!macro} onClick={() => macro && setSelectedId(duplicateMacro(macro.id)?.id ?? macro.id)}>
            <Copy size={16} aria-hidden="true" />
            {t('macros.duplicate')}
          </button>
          <button type="button" class="button danger-outline" disabled={!macro} onClick={() => setDeleting(true)}>
            <Trash2 size={16} aria-hidden="true" />
            {t('macros.delete')}
          </button>
          <button type="button" class="button" disabled={!macro} onClick={() => void saveFile()}>
            <Download size={16} aria-hidden="true" />
            {t('macros.saveFile')}
          </button>
          <button type="button" class="button" onClick={() => void loadFile()}>
            <Upload size={16} aria-hidden="true" />
            {t('macros.loadFile')}
          </button>
        </div>
        {renaming && macro ? (
          <form
            class="macro-rename"
            onSubmit={(e) => {
              e.preventDefault();
              const input = (e.currentTarget as HTMLFormElement).elements.namedItem('name') as HTMLInputElement;
              if (renameMacro(macro.id, input.value)) setRenaming(false);
              else showMessage(() => t('macros.nameNeeded'), 'error');
            }}
          >
            <label>
              <span>{t('macros.name')}</span>
              <input name="name" type="text" maxLength={60} value={macro.name} ref={nameInput} onKeyDown={(e) => e.key === 'Escape' && setRenaming(false)} />
            </label>
            <button type="submit" class="button primary">
              {t('macros.saveName')}
            </button>
            <button type="button" class="button" onClick={() => setRenaming(false)}>
              {t('ui.cancel')}
            </button>
          </form>
        ) : null}
      </section>
      {macro ? (
        <section class="macro-detail" aria-label={t('macros.editing', { name: macro.name })}>
          <h2>{macro.name}</h2>
          <Recorder
            onDone={(r) => {
              updateMacro(macro.id, { steps: [...macro.steps, ...r.steps] });
              showMessage(() => tn('macros.recorded', r.steps.length) + (r.skipped ? ' ' + tn('macros.skipped', r.skipped) : ''));
            }}
          />
          <MacroEditor steps={macro.steps} playback={macro.playback} onSteps={(steps) => updateMacro(macro.id, { steps })} onPlayback={(playback) => updateMacro(macro.id, { playback })} />
          {session ? <DeviceSlots session={session} macro={macro} model={model} /> : null}
        </section>
      ) : null}
      <ConfirmDialog
        open={deleting && !!macro}
        title={t('macros.deleteTitle')}
        message={t('macros.deleteQuestion', { name: macro?.name ?? '' })}
        confirmLabel={t('macros.delete')}
        cancelLabel={t('ui.cancel')}
        danger
        onConfirm={() => {
          setDeleting(false);
          if (macro) deleteMacro(macro.id);
        }}
        onCancel={() => setDeleting(false)}
      />
    </div>
  );
}
