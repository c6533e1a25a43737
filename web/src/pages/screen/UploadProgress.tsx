import { formatNumber, formatPercent, t, type TextKey } from '../../i18n';
import { expectedSendMs } from '../../screen/upload';
import type { Progress } from './pictureStore';

// Where an upload to the screen stands; the sending stage counts down the expected time.
export function UploadProgress({ progress }: { progress: Progress }) {
  return (
    <div class="screen-progress">
      <div
        class="progress-bar"
        role="progressbar"
        aria-label={t('screen.picture.progress')}
        aria-valuemin={0}
        aria-valuemax={100}
        aria-valuenow={Math.round(progress.share * 100)}
        aria-valuetext={t(`screen.stage.${progress.stage}`)}
      >
        <span style={{ width: `${Math.round(progress.share * 100)}%` }} />
      </div>
      <p role="status" class={progress.stage === 'failed' ? 'page-note warn' : 'page-note'}>
        {progress.stage === 'sending'
          ? t('screen.stage.sendingAbout', {
              share: formatPercent(progress.share),
              seconds: formatNumber(Math.max(1, Math.round((expectedSendMs() * (1 - progress.share)) / 1000))),
            })
          : progress.stage === 'failed'
            ? t(`screen.problem.${progress.problem ?? 'notSent'}` as TextKey)
            : t(`screen.stage.${progress.stage}`)}
      </p>
      {progress.stage === 'sending' && <p class="page-note">{t('screen.picture.keepPlugged')}</p>}
    </div>
  );
}
