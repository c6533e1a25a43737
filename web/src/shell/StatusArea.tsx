import { t } from '../i18n';
import { busyCount, statusMessage } from '../state/messages';
import { pendingEdits } from '../state/undo';

// One polite live region for short messages; errors look different but do not interrupt.
export function StatusArea() {
  const m = statusMessage.value;
  const busy = busyCount.value + pendingEdits.value > 0;
  return (
    <footer class="status-bar">
      <div role="status" aria-live="polite" class={m ? `status-message ${m.kind}` : 'status-message'}>
        {m ? <span key={m.id}>{m.text}</span> : null}
      </div>
      {busy ? (
        <span class="status-busy" aria-hidden="true">
          {t('shell.working')}
        </span>
      ) : null}
    </footer>
  );
}
