import { useEffect, useRef, useState } from 'preact/hooks';
import { t } from '../../i18n';
import { native } from '../../native/client';
import { showMessage } from '../../state/messages';
import { Toggle } from '../../ui/Toggle';

type MonitorState = 'unknown' | 'on' | 'off' | 'unavailable';

// Passing the mouse buttons to the keyboard with the screen. The switch answers "failed" both
// when it has just been turned off and when it cannot be turned on at all; the status read
// afterwards tells the two apart.
export function MonitorSwitch() {
  const [state, setState] = useState<MonitorState>('unknown');
  const [busy, setBusy] = useState(false);
  const alive = useRef(true);

  const readStatus = async (): Promise<'on' | 'off' | null> => {
    try {
      const answer = await native.request('GetMonitorStatus');
      return answer === 'on' ? 'on' : 'off';
    } catch {
      return null;
    }
  };

  useEffect(() => {
    alive.current = true;
    void readStatus().then((s) => {
      if (alive.current) setState(s ?? 'unavailable');
    });
    return () => {
      alive.current = false;
    };
  }, []);

  const toggle = async (want: boolean) => {
    setBusy(true);
    let ok = false;
    try {
      ok = (await native.request('SwitchMonitor')) === 'success';
    } catch {
      ok = false;
    }
    const now = await readStatus();
    if (!alive.current) return;
    setBusy(false);
    if (now === 'on' || (ok && now === null)) {
      setState('on');
      if (!want) showMessage(t('screen.monitor.stillOn'), 'error');
      return;
    }
    if (want) {
      setState('unavailable');
      return;
    }
    setState('off');
  };

  const unavailable = state === 'unavailable';
  return (
    <section class="screen-section" aria-labelledby="screen-monitor-title">
      <h2 id="screen-monitor-title">{t('screen.monitor.title')}</h2>
      <p class="page-note">{t('screen.monitor.about')}</p>
      <Toggle
        label={t('screen.monitor.switch')}
        checked={state === 'on'}
        disabled={busy || state === 'unknown'}
        onChange={(on) => void toggle(on)}
      />
      {unavailable && (
        <div class="screen-unavailable" role="status">
          <strong>{t('screen.monitor.notAvailable')}</strong>
          <p>{t('screen.monitor.notAvailableWhy')}</p>
          <button type="button" class="button" onClick={() => setState('off')}>
            {t('screen.monitor.tryAgain')}
          </button>
        </div>
      )}
    </section>
  );
}
