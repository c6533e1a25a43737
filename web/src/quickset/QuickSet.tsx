import { useEffect, useRef, useState } from 'preact/hooks';
import { locale } from '../i18n/core';
import type { NativeClient } from '../native/client';
import { useNative } from '../native/context';
import { ACTIONS, HOT_KEYS, hotKeyOf, loadAssignments, saveAssignments, type Assignments, type HotKey, type HotKeyAction } from './hotkeys';
import { t } from './texts';

interface Received {
  key: HotKey;
  action: HotKeyAction;
  ok: boolean;
  at: Date;
}

// Carries out what the user chose for a key; false when the program did not take it.
function perform(client: NativeClient, action: HotKeyAction): boolean {
  if (action === 'showMain') return client.send('ShowClient');
  if (action === 'closePanel') return client.send('CloseView');
  return true;
}

export function QuickSet() {
  const client = useNative();
  const [assignments, setAssignments] = useState<Assignments>(loadAssignments);
  const [last, setLast] = useState<Received | null>(null);
  const [saveFailed, setSaveFailed] = useState(false);

  // The handler reads the choices at the time of the key, not those of the first render.
  const current = useRef(assignments);
  current.current = assignments;
  useEffect(
    () =>
      client.on('HotKeyMsg', (args) => {
        const key = hotKeyOf(args);
        if (!key) return;
        const action = current.current[key];
        setLast({ key, action, ok: perform(client, action), at: new Date() });
      }),
    [client],
  );

  const choose = (key: HotKey, action: HotKeyAction) => {
    const next = { ...assignments, [key]: action };
    setAssignments(next);
    setSaveFailed(!saveAssignments(next));
  };

  const outcome = last ? (last.ok ? t(`quickset.did.${last.action}`) : t('quickset.did.failed')) : '';
  return (
    <div class="app quickset">
      <header class="titlebar">
        <img class="titlebar-logo" src="logo.png" alt="" width={20} height={20} />
        <h1 class="titlebar-title">{t('quickset.title')}</h1>
        <span class="titlebar-spacer" />
        <button type="button" class="icon-button close" aria-label={t('quickset.close')} title={t('quickset.close')} onClick={() => client.send('CloseView')}>
          <svg width="16" height="16" viewBox="0 0 24 24" aria-hidden="true" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round">
            <path d="M18 6 6 18M6 6l12 12" />
          </svg>
        </button>
      </header>
      <main class="main">
        <section class="quickset-last" aria-labelledby="quickset-last">
          <h2 id="quickset-last">{t('quickset.last')}</h2>
          <div role="status" aria-live="polite" aria-atomic="true">
            {last ? (
              <>
                <p class="quickset-key">
                  <kbd>{last.key}</kbd>
                  <span>{t('quickset.received', { key: last.key, action: outcome })}</span>
                </p>
                <p class="page-note">
                  {t('quickset.receivedAt', { time: new Intl.DateTimeFormat(locale.value, { timeStyle: 'medium' }).format(last.at) })}
                </p>
              </>
            ) : (
              <p class="page-note">{t('quickset.none')}</p>
            )}
          </div>
        </section>
        <section aria-labelledby="quickset-assignments">
          <h2 id="quickset-assignments">{t('quickset.assignments')}</h2>
          <ul class="quickset-list">
            {HOT_KEYS.map((key) => (
              <li key={key} class={last && last.key === key ? 'current' : undefined}>
                <kbd aria-hidden="true">{key}</kbd>
                <select aria-label={t('quickset.actionFor', { key })} value={assignments[key]} onChange={(e) => choose(key, (e.currentTarget as HTMLSelectElement).value as HotKeyAction)}>
                  {ACTIONS.map((a) => (
                    <option key={a} value={a}>
                      {t(`quickset.action.${a}`)}
                    </option>
                  ))}
                </select>
              </li>
            ))}
          </ul>
          {saveFailed ? <p class="page-note">{t('quickset.saveFailed')}</p> : null}
        </section>
        <p class="page-note">{t('quickset.sources')}</p>
      </main>
    </div>
  );
}
