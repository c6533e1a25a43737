import { useEffect } from 'preact/hooks';
import { t, type TextKey } from '../../i18n';
import { Dialog } from '../../ui/Dialog';
import { focusableIn } from '../../ui/focus';
import { ProgressBar } from '../../ui/ProgressBar';
import { isRunning, type RunState } from '../../updates/progress';
import { afterUpdate, cancelDownload, dismissFirmwareRun, firmwareRun, firmwareTarget, retryFlash } from '../../updates/run';
import { firmwareOf } from '../../updates/updateIndex';
import { formatBytes } from '../../updates/format';

function stageText(state: RunState): string {
  switch (state.phase) {
    case 'downloading':
      return t('updates.run.downloading', { received: formatBytes(state.received), total: formatBytes(state.total) });
    case 'saving':
    case 'saved':
      return t('updates.run.saving');
    case 'flashing':
      return state.percent === 0 ? t('updates.run.starting') : t(`updates.run.stage${state.percent}` as TextKey);
    default:
      return '';
  }
}

function failureText(state: RunState): string {
  const f = state.failure;
  if (!f) return '';
  if (f.stage !== 'flash' || f.reason !== 'updates.fail.flash') return t(f.reason);
  const step = f.step ?? '';
  return t(['image', 'signature', 'device', 'busy', 'bootloader', 'erase', 'write', 'check', 'commit', 'restart'].indexOf(step) >= 0 ? (`updates.step.${step}` as TextKey) : 'updates.step.other');
}

// The running update, above every page and below the title bar: the window's own close button
// stays reachable, so that it can say why it does not close now. Esc closes it only once the
// run has ended.
export function UpdateHost() {
  const state = firmwareRun.value;
  const target = firmwareTarget.value;
  const shown = !!target && state.phase !== 'idle';
  const running = isRunning(state) || state.phase === 'saved';
  const boxOf = () => document.querySelector<HTMLElement>('.dialog.update-run');

  // A finished run moves focus to its first action, so that Enter closes or retries.
  useEffect(() => {
    const box = boxOf();
    if (shown && !running && box) focusableIn(box)[0]?.focus();
  }, [running]);

  if (!shown || !target) return null;

  const downloading = state.phase === 'downloading' || (state.phase === 'failed' && state.failure?.stage !== 'flash' && state.percent === 0);
  const percent = state.phase === 'downloading' ? (state.total > 0 ? (state.received / state.total) * 100 : 0) : state.percent;
  // What the device says once listed again, found by its interface path (its identity may change).
  const after = afterUpdate.value;
  const afterVersion = state.phase === 'done' && after ? firmwareOf(after.Version)?.version : undefined;
  const stillListed = state.phase === 'failed' && !!after;

  let status: string;
  if (state.phase === 'done') status = t('updates.run.done', { name: target.name });
  else if (state.phase === 'failed') status = t('updates.run.failed');
  else status = stageText(state);

  return (
    <Dialog
      open
      title={t('updates.run.title', { name: target.name })}
      className="update-run"
      backdropClass="update-overlay"
      // While it runs the only action may be Cancel: the box itself takes focus, so that a
      // stray Enter does not stop the download.
      initialFocus={boxOf}
      onClose={() => {
        if (!running) dismissFirmwareRun();
      }}
    >
      {running ? <p class="update-warning">{t('updates.run.unplug', { name: target.name })}</p> : null}
      <ProgressBar
        label={t(downloading ? 'updates.run.downloadLabel' : 'updates.run.flashLabel')}
        value={state.phase === 'saving' || state.phase === 'saved' ? 100 : percent}
      />
      <div role="status" aria-live="polite" class={state.phase === 'failed' ? 'update-stage update-problem' : 'update-stage'}>
        <p>{status}</p>
        {state.phase === 'failed' ? <p>{failureText(state)}</p> : null}
      </div>
      {afterVersion ? <p>{t('updates.run.doneVersion', { name: target.name, version: afterVersion })}</p> : null}
      {stillListed ? <p>{t('updates.run.stillListed', { name: target.name })}</p> : null}
      <div class="dialog-actions">
        {state.phase === 'downloading' ? (
          <button type="button" class="button" onClick={cancelDownload}>
            {t('updates.run.cancel')}
          </button>
        ) : null}
        {state.phase === 'failed' && state.failure?.stage === 'flash' && state.failure.step !== 'image' ? (
          <button type="button" class="button primary" onClick={() => retryFlash()}>
            {t('updates.run.retry')}
          </button>
        ) : null}
        {!running ? (
          <button type="button" class="button" onClick={dismissFirmwareRun}>
            {t('updates.run.close')}
          </button>
        ) : null}
      </div>
    </Dialog>
  );
}
