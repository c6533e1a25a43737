import './styles/base.css';
import { effect } from '@preact/signals';
import { render } from 'preact';
import { bindDocumentLanguage, t } from './i18n';
import { loadPages } from './pages';
import { App } from './shell/App';
import { installShortcuts } from './shell/shortcuts';
import { watchDesktop } from './state/desktop';
import { watchDevices } from './state/devices';
import { startNotifyRouting } from './state/notify';
import { bindDocumentTheme } from './state/prefs';
import { busyCount } from './state/messages';
import { pendingEdits, setUndoTexts } from './state/undo';
import { checkFirstStart } from './state/settings';

bindDocumentLanguage();
bindDocumentTheme();
setUndoTexts({
  failed: (label) => t('shell.editFailed', { label }),
  undone: (label) => t('shell.undone', { label }),
  undoFailed: (label) => t('shell.undoFailed', { label }),
});
startNotifyRouting();
watchDevices();
watchDesktop();
void loadPages();
installShortcuts();
void checkFirstStart();

// Lets scripted checks (and the end-to-end tests) wait until nothing is in flight.
effect(() => {
  document.body.dataset.busy = busyCount.value + pendingEdits.value > 0 ? 'true' : 'false';
});

const root = document.getElementById('app');
if (root) render(<App />, root);
