import { useEffect, useRef, useState } from 'preact/hooks';
import { t } from '../../i18n';
import { useNative } from '../../native/context';
import { showMessage } from '../../state/messages';
import { Toggle } from '../../ui/Toggle';

type MonitorState = 'unknown' | 'on' | 'off' | 'unavailable';

interface MonitorInfo {
  status: 'on' | 'off';
  // Why the switch cannot be turned on, in the program's words; empty when it can.
  reason: string;
}

// The program's own account of the switch; null when it cannot be asked.
export function parseMonitorInfo(answer: string): MonitorInfo | null {
  try {
    const info = JSON.parse(answer) as { Status?: unknown; Available?: unknown; Reason?: unknown };
    if (info.Status !== 'on' && info.Status !== 'off') return null;
    const reason = typeof info.Reason === 'string' ? info.Reason : '';
    return { status: info.Status, reason: info.Available === '0' ? reason || '?' : '' };
  } catch {
    return null;
  }
}

// Passing the mouse buttons to the keyboard with the screen. The switch answers "failed" both
// when it has just been turned off and when it cannot be turned on at all; the status read
// afterwards tells the two apart, and the reason comes with it.
export function MonitorSwitch() {
  const native = useNative();
  const [state, setState] = useState<MonitorState>('unknown');
  const [reason, setReason] = useState('');
  const [busy, setBusy] = useState(false);
  const alive = useRef(true);

  const readStatus = async (): Promise<MonitorInfo | null> => {
    try {
      const info = parseMonitorInfo(await native.request('GetMonitorInfo'));
      if (info) {
        if (alive.current) setReason(info.reason);
        return info;
      }
    } catch {
      // An older program without the info command: the plain status still tells on from off.
    }
    try {
      const answer = await native.request('GetMonitorStatus');
      return { status: answer === 'on' ? 'on' : 'off', reason: '' };
    } catch {
      return null;
    }
  };

  useEffect(() => {
    alive.current = true;
    void readStatus().then((info) => {
      if (!alive.current) return;
      // Said before the user tries, when the program already knows the switch cannot work.
      setState(!info || (info.status === 'off' && info.reason) ? 'unavailable' : info.status);
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
    const now = (await readStatus())?.status ?? null;
    if (!alive.current) return;
    setBusy(false);
    if (now === 'on' || (ok && now === null)) {
      setState('on');
      if (!want) showMessage(() => t('screen.monitor.stillOn'), 'error');
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
          {reason && <p class="page-note">{t('screen.monitor.details', { reason })}</p>}
          <button type="button" class="button" onClick={() => setState('off')}>
            {t('screen.monitor.tryAgain')}
          </button>
        </div>
      )}
    </section>
  );
}
