import { useEffect, useRef } from 'preact/hooks';
import { t, type TextKey } from '../../i18n';
import { focusableIn, keepTabInside } from '../../ui/focus';
import { isRunning, type RunState } from '../../updates/progress';
import { afterUpdate, cancelDownload, dismissFirmwareRun, firmwareRun, firmwareTarget, retryFlash } from '../../updates/run';
import { firmwareOf } from '../../updates/updateIndex';
import { formatBytes } from './format';

export function ProgressBar({ label, value }: { label: string; value: number }) {
  const v = Math.max(0, Math.min(100, Math.round(value)));
  return (
    <div class="update-progress" role="progressbar" aria-label={label} aria-valuemin={0} aria-valuemax={100} aria-valuenow={v}>
      <div class="update-progress-fill" style={{ width: `${v}%` }} />
    </div>
  );
}

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
// stays reachable, so that it can say why it does not close now. Keyboard focus stays in here
// while it is shown.
export function UpdateHost() {
  const state = firmwareRun.value;
  const target = firmwareTarget.value;
  const box = useRef<HTMLDivElement>(null);
  const shown = !!target && state.phase !== 'idle';
  const running = isRunning(state) || state.phase === 'saved';

  useEffect(() => {
    if (!shown) return undefined;
    const opener = document.activeElement as HTMLElement | null;
    box.current?.focus();
    return () => {
      if (opener && document.contains(opener)) opener.focus();
    };
  }, [shown]);

  // A finished run moves focus to its first action, so that Enter closes or retries.
  useEffect(() => {
    if (!running && box.current) focusableIn(box.current)[0]?.focus();
  }, [running]);

  if (!shown || !target) return null;

  const onKeyDown = (e: KeyboardEvent) => {
    if (e.key === 'Escape' && !running) {
      e.preventDefault();
      dismissFirmwareRun();
      return;
    }
    if (box.current) keepTabInside(e, box.current);
  };

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
    <div class="update-overlay">
      <div
        ref={box}
        class="dialog update-run"
        role="dialog"
        aria-modal="true"
        aria-labelledby="update-run-title"
        tabIndex={-1}
        onKeyDown={onKeyDown}
      >
        <h2 id="update-run-title" class="dialog-title">
          {t('updates.run.title', { name: target.name })}
        </h2>
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
      </div>
    </div>
  );
}
