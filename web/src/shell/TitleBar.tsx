import { CircleHelp, Minus, Settings, Undo2, X } from 'lucide-preact';
import type { ComponentType } from 'preact';
import { useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import { useNative } from '../native/context';
import { canUndo, undo, undoLabel } from '../state/undo';
import { Dialog } from '../ui/Dialog';
import { LookControls } from '../ui/LookControls';
import { closeBlockedBy, updateHost } from '../updates/guard';

function UpdateHostSlot() {
  const Host = updateHost.value;
  return Host ? <Host /> : null;
}

// The frameless window's own chrome. Dragging the bar moves the window by the pointer's
// movement; none of the window requests is waited for (the native side never answers them).
export function TitleBar() {
  const native = useNative();
  const last = useRef<{ x: number; y: number; id: number } | null>(null);
  // Movement is gathered and sent once per frame: a fast drag would otherwise queue a window
  // request for every pointer event.
  const pending = useRef({ dx: 0, dy: 0, frame: 0 });
  const [settingsOpen, setSettingsOpen] = useState(false);
  // The device whose firmware was being written when closing was asked for.
  const [closeRefused, setCloseRefused] = useState<string | null>(null);
  // The dialog uses the form controls that travel with the settings pages, so it is fetched
  // when first wanted instead of weighing on the window's first paint.
  const [SettingsDialog, setSettingsDialog] = useState<ComponentType<{ open: boolean; onClose: () => void }> | null>(null);
  const openSettings = () => {
    if (SettingsDialog) return setSettingsOpen(true);
    import('./SettingsDialog').then(
      (m) => {
        setSettingsDialog(() => m.SettingsDialog);
        setSettingsOpen(true);
      },
      (e: unknown) => console.error('the settings could not be loaded', e),
    );
  };

  const flush = () => {
    const p = pending.current;
    p.frame = 0;
    if (p.dx !== 0 || p.dy !== 0) native.moveWindow(p.dx, p.dy);
    p.dx = 0;
    p.dy = 0;
  };

  const onPointerDown = (e: PointerEvent) => {
    if (e.button !== 0) return;
    if ((e.target as Element).closest('button, select, input, a')) return;
    last.current = { x: e.screenX, y: e.screenY, id: e.pointerId };
    (e.currentTarget as Element).setPointerCapture?.(e.pointerId);
  };
  const onPointerMove = (e: PointerEvent) => {
    const l = last.current;
    if (!l || l.id !== e.pointerId) return;
    const dx = e.screenX - l.x;
    const dy = e.screenY - l.y;
    if (dx === 0 && dy === 0) return;
    // The window moves under the pointer, so the next delta is measured from here.
    last.current = { x: e.screenX, y: e.screenY, id: l.id };
    const p = pending.current;
    p.dx += dx;
    p.dy += dy;
    if (!p.frame) p.frame = requestAnimationFrame(flush);
  };
  const onPointerUp = (e: PointerEvent) => {
    if (last.current?.id !== e.pointerId) return;
    last.current = null;
    if (pending.current.frame) cancelAnimationFrame(pending.current.frame);
    flush();
  };

  const label = undoLabel.value;
  return (
    <header
      class="titlebar"
      onPointerDown={onPointerDown}
      onPointerMove={onPointerMove}
      onPointerUp={onPointerUp}
      onPointerCancel={onPointerUp}
    >
      <img class="titlebar-logo" src="logo.png" alt="" width={20} height={20} />
      <span class="titlebar-title">{t('shell.appName')}</span>
      <span class="titlebar-spacer" />
      <button
        type="button"
        class="icon-button"
        disabled={!canUndo.value}
        aria-keyshortcuts="Control+Z"
        aria-label={label ? t('shell.undoNamed', { label }) : t('shell.undo')}
        title={label ? t('shell.undoNamed', { label }) : t('shell.undo')}
        onClick={() => void undo()}
      >
        <Undo2 size={16} aria-hidden="true" />
      </button>
      <LookControls id="language-select" languageLabel={t('shell.language')} themeLabel={t('shell.lightTheme')} />
      {/* The help page is shown in this window; it links back with the same address query. */}
      <a class="icon-button" href={`bbs/index.html${location.search}`} aria-label={t('links.help')} title={t('links.help')}>
        <CircleHelp size={16} aria-hidden="true" />
      </a>
      <button
        type="button"
        class="icon-button"
        aria-haspopup="dialog"
        aria-label={t('settings.open')}
        title={t('settings.open')}
        onClick={openSettings}
      >
        <Settings size={16} aria-hidden="true" />
      </button>
      {SettingsDialog ? <SettingsDialog open={settingsOpen} onClose={() => setSettingsOpen(false)} /> : null}
      <button
        type="button"
        class="icon-button"
        aria-label={t('shell.minimise')}
        title={t('shell.minimise')}
        onClick={() => native.minimise()}
      >
        <Minus size={16} aria-hidden="true" />
      </button>
      <button
        type="button"
        class="icon-button close"
        aria-label={t('shell.close')}
        title={t('shell.close')}
        onClick={() => {
          // Closing while firmware is written would stop the update half way.
          if (closeBlockedBy.value !== null) setCloseRefused(closeBlockedBy.value);
          else native.close();
        }}
      >
        <X size={16} aria-hidden="true" />
      </button>
      <Dialog open={closeRefused !== null} title={t('updates.close.title')} onClose={() => setCloseRefused(null)}>
        <p>{t('updates.close.text', { name: closeRefused ?? '' })}</p>
        <div class="dialog-actions">
          <button type="button" class="button primary" onClick={() => setCloseRefused(null)}>
            {t('updates.close.ok')}
          </button>
        </div>
      </Dialog>
      <UpdateHostSlot />
    </header>
  );
}
