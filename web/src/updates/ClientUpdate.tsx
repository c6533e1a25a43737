import { Download, RefreshCw } from 'lucide-preact';
import { version } from '../../package.json';
import { t } from '../i18n';
import { clientRun, dismissClientRun, downloadClient, indexState, installClient, loadIndex } from './run';
import { compareVersions } from './updateIndex';
import { formatBytes, problemText } from './format';
import { UpdateNotes } from './UpdateNotes';
import { ProgressBar } from '../ui/ProgressBar';
import './updates.css';

// The program's own update, in the settings: check, download with progress, install.
export function ClientUpdate() {
  const index = indexState.value;
  const run = clientRun.value;
  const entry = index.status === 'ready' ? index.index.client : null;
  const newer = !!entry && compareVersions(entry.version, version) > 0;

  let found: string;
  if (index.status === 'loading') found = t('updates.client.checking');
  else if (index.status === 'error') found = t('updates.index.refused', { reason: problemText(index.problems[0]) });
  else if (index.status === 'ready') {
    const refused = index.problems.find((p) => p.where === 'client');
    if (refused) found = t('updates.client.entryRefused', { reason: problemText(refused) });
    else if (!entry) found = t('updates.client.notListed');
    else if (newer) found = t('updates.client.available', { version: entry.version, size: formatBytes(entry.size) });
    else found = t('updates.client.latest', { version });
  } else found = '';

  let progress: string = '';
  if (run.phase === 'downloading')
    progress = t('updates.client.downloading', { received: formatBytes(run.received), total: formatBytes(run.total) });
  else if (run.phase === 'saving') progress = t('updates.client.saving');
  else if (run.phase === 'saved') progress = t('updates.client.ready');
  else if (run.phase === 'installing') progress = t('updates.client.installing');
  else if (run.phase === 'failed') progress = t('updates.client.failed');

  const idle = run.phase === 'idle';
  return (
    <section aria-labelledby="settings-update" class="client-update">
      <h3 id="settings-update">{t('updates.client.heading')}</h3>
      <p>{t('updates.client.current', { version })}</p>
      <p role="status" class="update-status">
        {found}
      </p>
      <UpdateNotes notes={entry && newer ? entry.notes : null} />
      {run.phase === 'downloading' || run.phase === 'saving' ? (
        <ProgressBar
          label={t('updates.client.downloadLabel')}
          value={run.phase === 'saving' ? 100 : run.total > 0 ? (run.received / run.total) * 100 : 0}
        />
      ) : null}
      <div role="status" aria-live="polite" class={run.phase === 'failed' ? 'update-stage update-problem' : 'update-stage'}>
        <p>{progress}</p>
        {run.phase === 'failed' && run.failure ? <p>{t(run.failure.reason)}</p> : null}
      </div>
      {run.phase === 'saved' ? <p class="page-note">{t('updates.client.unpackHint')}</p> : null}
      <div class="update-actions">
        {idle || run.phase === 'done' ? (
          <button type="button" class="button" disabled={index.status === 'loading'} onClick={() => void loadIndex()}>
            <RefreshCw size={16} aria-hidden="true" />
            {t('updates.client.check')}
          </button>
        ) : null}
        {idle && entry && newer ? (
          <button type="button" class="button primary" onClick={() => void downloadClient(entry)}>
            <Download size={16} aria-hidden="true" />
            {t('updates.client.download', { version: entry.version })}
          </button>
        ) : null}
        {run.phase === 'saved' ? (
          <>
            <button type="button" class="button primary" onClick={() => void installClient('updater')}>
              {t('updates.client.install')}
            </button>
            <button type="button" class="button" onClick={() => void installClient('folder')}>
              {t('updates.client.unpack')}
            </button>
          </>
        ) : null}
        {run.phase === 'failed' ? (
          <button type="button" class="button" onClick={dismissClientRun}>
            {t('updates.client.again')}
          </button>
        ) : null}
      </div>
    </section>
  );
}
