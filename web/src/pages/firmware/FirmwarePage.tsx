import { Download, FileUp, RefreshCw } from 'lucide-preact';
import { useRef, useState } from 'preact/hooks';
import { t } from '../../i18n';
import { deviceName } from '../../state/deviceName';
import type { Device } from '../../state/devices';
import { Dialog } from '../../ui/Dialog';
import { uniqueId } from '../../ui/focus';
import {
  firmwareBusy,
  indexState,
  loadIndex,
  looksLikeFirmwareImage,
  updateFromFile,
  updateFromIndex,
  type FirmwareTarget,
} from '../../updates/run';
import { compareVersions, firmwareOf, type UpdateEntry } from '../../updates/updateIndex';
import type { PageProps } from '../index';
import { formatBytes, installedVersion, problemText } from '../../updates/format';
import { UpdateNotes } from '../../updates/UpdateNotes';

type Pending =
  | { kind: 'index'; entry: UpdateEntry }
  | { kind: 'file'; file: string; bytes: Uint8Array };

function targetOf(device: Device, next: string | null): FirmwareTarget {
  return {
    deviceId: device.id,
    identity: device.record.Version,
    devicePath: device.record.DevicePath ?? '',
    name: deviceName(device),
    current: firmwareOf(device.record.Version)?.version ?? null,
    next,
  };
}

function OnlineUpdate({ device, onChoose }: { device: Device; onChoose: (entry: UpdateEntry) => void }) {
  const fw = firmwareOf(device.record.Version);
  const state = indexState.value;
  const busy = firmwareBusy.value;
  const waiting = device.record.BootLoader === '1';
  if (!fw) return <p class="page-note">{t('updates.fw.notReported')}</p>;

  // Checked when asked for only: the page makes no network request of its own accord.
  let status = '';
  let problem = false;
  let offer: UpdateEntry | null = null;
  let newer = false;
  if (state.status === 'loading') status = t('updates.fw.checking');
  else if (state.status === 'error') {
    status = t('updates.index.refused', { reason: problemText(state.problems[0]) });
    problem = true;
  } else if (state.status === 'ready') {
    const entry = state.index.firmware[fw.model];
    const refused = state.problems.find((p) => p.where === `firmware.${fw.model}`);
    if (refused) {
      status = t('updates.fw.entryRefused', { reason: problemText(refused) });
      problem = true;
    } else if (!entry) status = t('updates.fw.notListed');
    else {
      const order = compareVersions(entry.version, fw.version);
      newer = order > 0;
      status =
        order > 0
          ? t('updates.fw.available', { version: entry.version, size: formatBytes(entry.size) })
          : order === 0
            ? t('updates.fw.latest', { version: entry.version })
            : t('updates.fw.older', { version: entry.version });
      // A device stranded in its update mode takes the same version again.
      if (newer || waiting) offer = entry;
    }
  }
  return (
    <>
      <p role="status" class={problem ? 'update-status update-problem' : 'update-status'} aria-busy={state.status === 'loading' ? 'true' : undefined}>
        {status}
      </p>
      <UpdateNotes notes={offer?.notes} />
      <div class="update-actions">
        {offer ? (
          <button type="button" class="button primary" disabled={busy} onClick={() => offer && onChoose(offer)}>
            <Download size={16} aria-hidden="true" />
            {t(newer ? 'updates.fw.updateTo' : 'updates.fw.reinstall', { version: offer.version })}
          </button>
        ) : null}
        <button type="button" class="button" disabled={state.status === 'loading'} onClick={() => void loadIndex()}>
          <RefreshCw size={16} aria-hidden="true" />
          {t('updates.fw.check')}
        </button>
      </div>
    </>
  );
}

export function FirmwarePage({ device }: PageProps) {
  const name = deviceName(device);
  const version = installedVersion(device);
  const [pending, setPending] = useState<Pending | null>(null);
  const [fileProblem, setFileProblem] = useState<string | null>(null);
  const fileInput = useRef<HTMLInputElement>(null);
  const ids = useRef({ installed: uniqueId('fw-installed'), online: uniqueId('fw-online'), file: uniqueId('fw-file') }).current;
  const waiting = device.record.BootLoader === '1';
  const busy = firmwareBusy.value;

  const onFile = async (e: Event) => {
    const input = e.currentTarget as HTMLInputElement;
    const file = input.files?.[0];
    input.value = '';
    if (!file) return;
    setFileProblem(null);
    let bytes: Uint8Array;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch {
      setFileProblem(t('updates.fw.unreadable', { file: file.name }));
      return;
    }
    if (!looksLikeFirmwareImage(bytes)) {
      setFileProblem(t('updates.fw.notImage', { file: file.name }));
      return;
    }
    setPending({ kind: 'file', file: file.name, bytes });
  };

  const start = () => {
    const p = pending;
    setPending(null);
    if (!p) return;
    if (p.kind === 'index') void updateFromIndex(targetOf(device, p.entry.version), p.entry);
    else void updateFromFile(targetOf(device, null), p.bytes);
  };

  const current = firmwareOf(device.record.Version)?.version ?? t('updates.unknownVersion');
  return (
    <div class="firmware-page">
      <section aria-labelledby={ids.installed}>
        <h3 id={ids.installed}>{t('updates.fw.current')}</h3>
        <p>{version ?? t('updates.fw.notReported')}</p>
        {waiting ? <p class="update-warning">{t('updates.fw.bootLoader', { name })}</p> : null}
      </section>
      <section aria-labelledby={ids.online}>
        <h3 id={ids.online}>{t('updates.fw.online')}</h3>
        <OnlineUpdate device={device} onChoose={(entry) => setPending({ kind: 'index', entry })} />
      </section>
      <section aria-labelledby={ids.file}>
        <h3 id={ids.file}>{t('updates.fw.fromFile')}</h3>
        <p class="page-note">{t('updates.fw.fromFileHint')}</p>
        <input
          ref={fileInput}
          type="file"
          accept=".bin"
          class="update-file-input"
          tabIndex={-1}
          aria-hidden="true"
          onChange={(e) => void onFile(e)}
        />
        <button type="button" class="button" disabled={busy} onClick={() => fileInput.current?.click()}>
          <FileUp size={16} aria-hidden="true" />
          {t('updates.fw.chooseFile')}
        </button>
        {fileProblem ? (
          <p class="update-problem" role="alert">
            {fileProblem}
          </p>
        ) : null}
      </section>
      <Dialog
        open={pending !== null}
        title={t('updates.confirm.title')}
        role="alertdialog"
        onClose={() => setPending(null)}
        describedBy="update-confirm-text"
      >
        <div id="update-confirm-text">
          <p>
            {pending?.kind === 'index'
              ? t('updates.confirm.fromIndex', { name, current, next: pending.entry.version })
              : t('updates.confirm.fromFile', { name, current, file: pending?.kind === 'file' ? pending.file : '' })}
          </p>
          {pending?.kind === 'file' ? <p class="update-warning">{t('updates.confirm.unsigned')}</p> : null}
          <p class="update-warning">{t('updates.confirm.unplug', { name })}</p>
        </div>
        <div class="dialog-actions">
          <button type="button" class="button" onClick={() => setPending(null)}>
            {t('updates.confirm.cancel')}
          </button>
          <button type="button" class="button primary" onClick={start}>
            {t('updates.confirm.start')}
          </button>
        </div>
      </Dialog>
    </div>
  );
}
