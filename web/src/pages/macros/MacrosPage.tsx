import { Copy, Download, Pencil, Plus, Trash2, Upload } from 'lucide-preact';
import { useEffect, useRef, useState } from 'preact/hooks';
import { t, tn, type TextKey } from '../../i18n';
import { addMacro, deleteMacro, duplicateMacro, macroFileText, macros, parseMacroFile, renameMacro, updateMacro } from '../../macros/library';
import { DEFAULT_PLAYBACK, macroText } from '../../macros/text';
import { useSession } from '../../model/session';
import { useNative } from '../../native/context';
import { showMessage } from '../../state/messages';
import { ConfirmDialog } from '../../ui/ConfirmDialog';
import { useLatestDialog } from '../../ui/fileDialog';
import type { PageProps } from '../index';
import { DeviceSlots } from './DeviceSlots';
import { MacroEditor } from './MacroEditor';
import { Recorder } from './Recorder';

export function MacrosPage({ device, template }: PageProps) {
  const native = useNative();
  const session = useSession(device, template);
  const list = macros.value;
  const [selectedId, setSelectedId] = useState<string | null>(list[0]?.id ?? null);
  const [renaming, setRenaming] = useState(false);
  const [deleting, setDeleting] = useState(false);
  // Saving and loading share one dialog: the later call's answer is the one shown.
  const askFile = useLatestDialog();
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

  const fileFailed = (kind: string, key: TextKey) => showMessage(() => t(kind === 'unavailable' ? 'macros.notSent' : key), 'error');

  const saveFile = async () => {
    if (!macro) return;
    const r = await askFile(() => native.request('SaveCommand', { CommandString: macroFileText(macro, macroText(macro.steps, macro.playback)) }));
    if (r?.ok) showMessage(() => t('macros.saved', { name: macro.name }), 'success');
    else if (r) fileFailed(r.kind, 'macros.saveFailed');
  };

  const loadFile = async () => {
    const r = await askFile(() => native.request('LoadCommand'));
    if (!r) return;
    if (!r.ok) {
      fileFailed(r.kind, 'macros.loadFailed');
      return;
    }
    const text = r.value;
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
