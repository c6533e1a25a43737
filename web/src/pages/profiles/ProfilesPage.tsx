import { Download, RotateCcw, Upload } from 'lucide-preact';
import { useState } from 'preact/hooks';
import { t, tn } from '../../i18n';
import { useNative } from '../../native/context';
import { showMessage } from '../../state/messages';
import {
  configurationReplaced,
  currentConfiguration,
  profileCount,
  profileOf,
  setProfileOf,
} from '../../state/profiles';
import { clearUndo } from '../../state/undo';
import { ConfirmDialog } from '../../ui/ConfirmDialog';
import { useLatestDialog } from '../../ui/fileDialog';
import type { PageProps } from '../index';
import {
  buildProfileFile,
  importDocuments,
  parseProfileFile,
  profileSwitchDocument,
  resetDocument,
  writesProfileSlot,
} from './profileFile';

export function ProfilesPage({ device, template }: PageProps) {
  const native = useNative();
  const count = profileCount(device, template.root);
  const current = Math.min(profileOf(device.id), count);
  const model = template.model || device.record.Version;
  const [confirming, setConfirming] = useState(false);
  const askExport = useLatestDialog();
  const askImport = useLatestDialog();
  const profileName = (n: number) => t('profiles.profileN', { n });

  const choose = (n: number) => {
    if (n === current) return;
    setProfileOf(device.id, n);
    const doc = writesProfileSlot(device.record.Version) ? profileSwitchDocument(template.root, n) : null;
    if (doc) native.send('NoticeModify', { XmlConfigStr: doc });
    configurationReplaced(device.id, null, n);
    showMessage(() => t('profiles.switched', { profile: profileName(n), model }));
  };

  const reset = () => {
    setConfirming(false);
    const sent = native.send('NoticeModify', { XmlConfigStr: resetDocument(template.root, current) });
    if (!sent) {
      showMessage(() => t('profiles.notSent'), 'error');
      return;
    }
    // Whatever the history held no longer describes the device.
    clearUndo(device.id);
    configurationReplaced(device.id, null, current);
    showMessage(() => t('profiles.resetSent', { profile: profileName(current), model }));
  };

  const exportProfile = async () => {
    const text = buildProfileFile({
      model,
      device: device.record.Version,
      profile: current,
      configuration: currentConfiguration(device, template.text, current),
      name: t('profiles.fileName', { model, profile: profileName(current) }),
    });
    // Not counted as work in flight: a cancelled dialog never answers, and the page would look
    // busy until the time-out.
    const r = await askExport(() => native.request('SaveProfile', { CommandString: text }));
    if (r?.ok) showMessage(() => t('profiles.exported', { profile: profileName(current) }), 'success');
    else if (r) showMessage(() => t(r.kind === 'unavailable' ? 'profiles.notSent' : 'profiles.exportFailed'), 'error');
  };

  const importProfile = async () => {
    const r = await askImport(() => native.request('LoadProfile'));
    if (!r) return;
    if (!r.ok) {
      showMessage(() => t(r.kind === 'unavailable' ? 'profiles.notSent' : 'profiles.readFailed'), 'error');
      return;
    }
    const text = r.value;
    const parsed = parseProfileFile(text, device.record.Version);
    if (!parsed.ok) {
      showMessage(
        () => t(`profiles.problem.${parsed.problem}`, { model, other: parsed.file?.model || parsed.file?.device || '' }),
        'error',
      );
      return;
    }
    const docs = importDocuments(parsed.doc, current);
    let sent = 0;
    for (const doc of docs) if (native.send('NoticeModify', { XmlConfigStr: doc })) sent++;
    if (sent < docs.length) {
      showMessage(() => t('profiles.notSent'), 'error');
      return;
    }
    clearUndo(device.id);
    configurationReplaced(device.id, parsed.doc, current);
    showMessage(() => tn('profiles.imported', sent, { profile: profileName(current) }), 'success');
  };

  return (
    <div class="profiles-page">
      <fieldset class="profile-choice">
        <legend>{t('profiles.current')}</legend>
        <div class="profile-options">
          {Array.from({ length: count }, (_, i) => i + 1).map((n) => (
            <label key={n} class={n === current ? 'profile-option selected' : 'profile-option'}>
              <input
                type="radio"
                name={`profile-${device.id}`}
                value={String(n)}
                checked={n === current}
                onChange={() => choose(n)}
              />
              {profileName(n)}
            </label>
          ))}
        </div>
        <p class="page-note">{t('profiles.currentHint')}</p>
      </fieldset>
      <div class="profile-actions">
        <button type="button" class="button" onClick={() => void exportProfile()}>
          <Download size={16} aria-hidden="true" />
          {t('profiles.export')}
        </button>
        <button type="button" class="button" onClick={() => void importProfile()}>
          <Upload size={16} aria-hidden="true" />
          {t('profiles.import')}
        </button>
        <button type="button" class="button danger-outline" onClick={() => setConfirming(true)}>
          <RotateCcw size={16} aria-hidden="true" />
          {t('profiles.reset')}
        </button>
      </div>
      <ConfirmDialog
        open={confirming}
        title={t('profiles.resetTitle')}
        message={t('profiles.resetQuestion', { profile: profileName(current), model })}
        confirmLabel={t('profiles.resetConfirm')}
        cancelLabel={t('ui.cancel')}
        danger
        onConfirm={reset}
        onCancel={() => setConfirming(false)}
      />
    </div>
  );
}
