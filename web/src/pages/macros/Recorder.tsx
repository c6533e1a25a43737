import { Circle, Square } from 'lucide-preact';
import { useEffect, useRef, useState } from 'preact/hooks';
import { t, tn } from '../../i18n';
import { MacroRecorder, type DelayMode, type RecordResult } from '../../macros/recorder';
import { MAX_DELAY, clampInt } from '../../macros/text';
import { d2KeyName, modifierOf } from '../../model/generations';
import { captureKeys } from '../../ui/capture';

function keyOf(e: KeyboardEvent): string {
  return modifierOf(e.code) ?? d2KeyName(e.code);
}

// Ctrl+Shift+Esc ends a recording from the keyboard.
const STOP_CHORD_KEYS = ['Ctrl', 'Shift'];
function isStopChord(e: KeyboardEvent): boolean {
  return e.code === 'Escape' && e.ctrlKey && e.shiftKey && !e.altKey && !e.metaKey;
}

export function Recorder({ onDone }: { onDone: (r: RecordResult) => void }) {
  const [mode, setMode] = useState<DelayMode>('recorded');
  const [fixedMs, setFixedMs] = useState(50);
  const [recording, setRecording] = useState(false);
  const [count, setCount] = useState(0);
  const rec = useRef<MacroRecorder | null>(null);
  const stopButton = useRef<HTMLButtonElement>(null);

  useEffect(() => {
    if (!recording) return undefined;
    const r = new MacroRecorder(mode, fixedMs);
    rec.current = r;
    const seen = () => setCount(r.stop().steps.length);
    // Every key is part of the macro (Enter and Esc too), so none may act on the page.
    const onKey = (e: KeyboardEvent) => {
      // The one combination that is not recorded: it stops the recording for those who
      // cannot reach the button with a pointer (every key on its own, Esc too, is recorded).
      if (e.type === 'keydown' && isStopChord(e)) {
        finish(r.stopWithout(STOP_CHORD_KEYS));
        return;
      }
      r.key(e.type === 'keydown', keyOf(e), e.timeStamp);
      seen();
    };
    const onMouse = (e: MouseEvent) => {
      if (e.button !== 0 && e.button !== 2) return;
      // The press that stops the recording is not part of it.
      if (stopButton.current && stopButton.current.contains(e.target as Node)) return;
      r.button(e.type === 'mousedown', e.button === 2 ? 'right' : 'left', e.timeStamp);
      seen();
    };
    const noMenu = (e: Event) => e.preventDefault();
    // Presses are recorded, not acted on: only the stop button still works.
    const noClick = (e: Event) => {
      if (stopButton.current && stopButton.current.contains(e.target as Node)) return;
      e.preventDefault();
      e.stopPropagation();
    };
    stopButton.current?.focus();
    return captureKeys(onKey, { mousedown: onMouse, mouseup: onMouse, contextmenu: noMenu, click: noClick });
  }, [recording]);

  function finish(result: RecordResult) {
    rec.current = null;
    setRecording(false);
    onDone(result);
  }
  const stop = () => {
    const r = rec.current;
    if (r) finish(r.stop());
  };

  return (
    <fieldset class="macro-recorder">
      <legend>{t('macros.recorder')}</legend>
      <div role="radiogroup" aria-label={t('macros.delayMode')} class="macro-modes">
        {(['recorded', 'fixed', 'none'] as DelayMode[]).map((m) => (
          <label key={m}>
            <input type="radio" name="macro-delay-mode" value={m} checked={mode === m} disabled={recording} onChange={() => setMode(m)} />
            {t(`macros.delayMode.${m}`)}
          </label>
        ))}
      </div>
      {mode === 'fixed' ? (
        <label class="macro-number">
          <span>{t('macros.fixedDelay')}</span>
          <input
            type="number"
            min={0}
            max={MAX_DELAY}
            value={String(fixedMs)}
            disabled={recording}
            onChange={(e) => setFixedMs(clampInt(Number((e.currentTarget as HTMLInputElement).value), 0, MAX_DELAY))}
          />
        </label>
      ) : null}
      {recording ? (
        <button ref={stopButton} type="button" class="button danger" aria-keyshortcuts="Control+Shift+Escape" title={t('macros.stopShortcut')} onClick={stop}>
          <Square size={16} aria-hidden="true" />
          {t('macros.stopRecording')}
        </button>
      ) : (
        <button
          type="button"
          class="button"
          onClick={() => {
            setCount(0);
            setRecording(true);
          }}
        >
          <Circle size={16} aria-hidden="true" />
          {t('macros.startRecording')}
        </button>
      )}
      <p class="page-note" aria-live="polite">
        {recording ? tn('macros.recording', count) : t('macros.recorderHint')}
      </p>
      {/* Kept out of the live region: it would be read again with every recorded step. */}
      {recording ? <p class="page-note">{t('macros.stopShortcut')}</p> : null}
    </fieldset>
  );
}
