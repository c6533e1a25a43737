import { language, LANGUAGE_OPTIONS, setLanguage, t, tn, type Language } from '../i18n';
import { UDEV_COMMANDS } from '../help/udev';
import { devices } from '../state/devices';
import { showMessage } from '../state/messages';
import {
  autorun,
  dismissWelcome,
  finishFirstStart,
  firstStart,
  restartForFirstStart,
  restartGainsNothing,
  setAutorun,
} from '../state/settings';
import { Select } from '../ui/Select';
import { Toggle } from '../ui/Toggle';
import { deviceName } from './DeviceBar';

// Where a restart gains nothing the first run says what was found and offers the choices a
// new user makes once; Done ends it in place.
function FirstRun() {
  const list = devices.value;
  const denied = list.filter((d) => d.record.Permission === 'denied');
  return (
    <section class="welcome first-run" aria-labelledby="welcome-title">
      <div class="first-run-found">
        <h2 id="welcome-title">{t('welcome.title')}</h2>
        <p>{list.length ? tn('welcome.found', list.length) : t('welcome.foundNone')}</p>
        {denied.length ? (
          <div class="first-run-denied">
            <p>{t('welcome.denied', { names: denied.map(deviceName).join(', ') })}</p>
            <pre class="first-run-code" tabIndex={0} aria-label={t('welcome.rulesCommand')}>
              <code>{UDEV_COMMANDS.join('\n')}</code>
            </pre>
          </div>
        ) : null}
      </div>
      <div class="first-run-choices">
        <Toggle
          label={t('welcome.autorun')}
          checked={autorun.value}
          onChange={(on) => {
            if (!setAutorun(on)) showMessage(() => t('welcome.notSent'), 'error');
          }}
        />
        <Select
          label={t('welcome.language')}
          value={language.value}
          options={LANGUAGE_OPTIONS}
          onChange={(v) => setLanguage(v as Language)}
        />
        <button
          type="button"
          class="button primary"
          onClick={() =>
            void finishFirstStart().then((ok) => {
              if (!ok) showMessage(() => t('welcome.notSent'), 'error');
            })
          }
        >
          {t('welcome.done')}
        </button>
      </div>
    </section>
  );
}

// Shown once, on the program's first start. It does not block the page: the devices can be
// set up before the restart, which changes nothing they hold.
export function Welcome() {
  const state = firstStart.value;
  if (state !== 'welcome' && state !== 'restarting') return null;
  if (restartGainsNothing()) return <FirstRun />;
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
