import { t } from '../i18n';
import { showMessage } from '../state/messages';
import { dismissWelcome, firstStart, restartForFirstStart } from '../state/settings';

// Shown once, on the program's first start. It does not block the page: the devices can be
// set up before the restart, which changes nothing they hold.
export function Welcome() {
  const state = firstStart.value;
  if (state !== 'welcome' && state !== 'restarting') return null;
  return (
    <section class="welcome" aria-labelledby="welcome-title">
      <h2 id="welcome-title">{t('welcome.title')}</h2>
      <p>{t('welcome.what')}</p>
      <p>{t('welcome.next')}</p>
      <div class="welcome-actions">
        <button
          type="button"
          class="button primary"
          disabled={state === 'restarting'}
          onClick={() =>
            void restartForFirstStart().then((ok) => {
              if (!ok) showMessage(() => t('welcome.notSent'), 'error');
            })
          }
        >
          {state === 'restarting' ? t('welcome.restarting') : t('welcome.restart')}
        </button>
        <button type="button" class="button" disabled={state === 'restarting'} onClick={dismissWelcome}>
          {t('welcome.later')}
        </button>
      </div>
    </section>
  );
}
