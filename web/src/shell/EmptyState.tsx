import { RefreshCw } from 'lucide-preact';
import { t } from '../i18n';
import { listStatus, refreshDevices } from '../state/devices';

// Shown when the list is empty or could not be had; says what usually causes it and what to do.
export function EmptyState() {
  const status = listStatus.value;
  if (status === 'loading' || status === 'idle')
    return (
      <section class="empty-state" aria-busy="true">
        <p>{t('shell.searching')}</p>
      </section>
    );
  const title =
    status === 'unavailable' ? t('shell.noNative') : status === 'error' ? t('shell.listFailed') : t('shell.noDevice');
  return (
    <section class="empty-state" aria-labelledby="empty-title">
      <h1 id="empty-title">{title}</h1>
      {status === 'unavailable' ? (
        <p>{t('shell.noNativeHint')}</p>
      ) : (
        <>
          <h2>{t('shell.causesTitle')}</h2>
          <ul>
            <li>{t('shell.causeUnplugged')}</li>
            <li>{t('shell.causePermission')}</li>
            <li>{t('shell.causeUnsupported')}</li>
          </ul>
          <h2>{t('shell.whatToDoTitle')}</h2>
          <ul>
            <li>{t('shell.doPlug')}</li>
            <li>{t('shell.doPermission')}</li>
          </ul>
          <button type="button" class="button primary" onClick={() => void refreshDevices()}>
            <RefreshCw size={16} aria-hidden="true" />
            {t('shell.searchAgain')}
          </button>
        </>
      )}
    </section>
  );
}
