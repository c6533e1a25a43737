import { ArrowDown, ArrowUp, Plus, Trash2 } from 'lucide-preact';
import { useRef, useState } from 'preact/hooks';
import { t } from '../../i18n';
import {
  MAX_COORD,
  MAX_COUNT,
  MAX_DELAY,
  MAX_STEPS,
  MIN_COORD,
  PLAY_TYPES,
  STEP_KINDS,
  clampInt,
  validKeyName,
  type MacroStep,
  type Playback,
  type StepKind,
} from '../../macros/text';
import { Select } from '../../ui/Select';

export const KEY_SUGGESTIONS = ['Ctrl', 'Shift', 'Alt', 'Win', 'ESC', 'ENTER', 'SPACE', 'TAB', 'BACKSPACE']
  .concat(Array.from({ length: 26 }, (_, i) => String.fromCharCode(65 + i)))
  .concat(Array.from({ length: 10 }, (_, i) => String(i)))
  .concat(Array.from({ length: 12 }, (_, i) => `F${i + 1}`));

export function stepFor(kind: StepKind, from?: MacroStep): MacroStep {
  const key = from && 'key' in from ? from.key : 'A';
  const button = from && 'button' in from ? from.button : 'left';
  switch (kind) {
    case 'keyDown':
    case 'keyUp':
      return { kind, key };
    case 'mouseDown':
    case 'mouseUp':
      return { kind, button };
    case 'move':
      return { kind, x: 0, y: 0 };
    case 'delay':
      return { kind, ms: 50 };
  }
}

/** Moves one entry; the list is returned unchanged when the move leaves it. */
export function moveItem<T>(list: T[], from: number, to: number): T[] {
  if (from === to || from < 0 || to < 0 || from >= list.length || to >= list.length) return list;
  const next = list.slice();
  const [item] = next.splice(from, 1);
  next.splice(to, 0, item);
  return next;
}

function NumberField(props: { label: string; value: number; min: number; max: number; onCommit: (v: number) => void; hideLabel?: boolean; unit?: string }) {
  return (
    <label class="macro-number">
      <span class={props.hideLabel ? 'visually-hidden' : undefined}>{props.label}</span>
      <input
        type="number"
        value={String(props.value)}
        min={props.min}
        max={props.max}
        step={1}
        onChange={(e) => {
          const input = e.currentTarget as HTMLInputElement;
          const v = clampInt(Number(input.value), props.min, props.max);
          input.value = String(v);
          props.onCommit(v);
        }}
      />
      {props.unit ? <span aria-hidden="true">{props.unit}</span> : null}
    </label>
  );
}

// Rows are keyed by the step they show, not by its place: a reordered step takes its own row
// (and the control in it that has the focus) along instead of leaving it to the step that now
// stands there. Steps carry no id of their own (the macro file is written from them as they
// are), so the editor remembers one per step object; an edited step keeps the one it had.
function useStepKeys(steps: MacroStep[]): { keys: number[]; carry: (from: MacroStep, to: MacroStep) => void } {
  const ids = useRef(new WeakMap<MacroStep, number>()).current;
  const next = useRef(0);
  const used = new Set<number>();
  const keys = steps.map((s) => {
    let k = ids.get(s);
    // The same object twice in a list still needs two rows.
    if (k === undefined || used.has(k)) {
      k = next.current++;
      if (!ids.has(s)) ids.set(s, k);
    }
    used.add(k);
    return k;
  });
  const carry = (from: MacroStep, to: MacroStep) => {
    const k = ids.get(from);
    if (k !== undefined && !ids.has(to)) ids.set(to, k);
  };
  return { keys, carry };
}

interface EditorProps {
  steps: MacroStep[];
  playback: Playback;
  onSteps: (steps: MacroStep[]) => void;
  onPlayback: (p: Playback) => void;
  disabled?: boolean;
}

export function MacroEditor({ steps, playback, onSteps, onPlayback, disabled }: EditorProps) {
  const dragFrom = useRef<number | null>(null);
  const [dropAt, setDropAt] = useState<number | null>(null);
  const list = useRef<HTMLOListElement>(null);
  const { keys, carry } = useStepKeys(steps);
  const change = (i: number, s: MacroStep) => {
    carry(steps[i], s);
    onSteps(steps.map((x, j) => (j === i ? s : x)));
  };
  const move = (from: number, to: number) => {
    onSteps(moveItem(steps, from, to));
    // Keep the keyboard user on the step that moved: on the same arrow, or on the other one
    // once the step has reached the end of the list and this one is disabled.
    requestAnimationFrame(() => {
      const arrows = Array.from(list.current?.querySelectorAll<HTMLButtonElement>(`[data-step="${to}"] .macro-step-move`) ?? []);
      const same = arrows[from < to ? 1 : 0];
      (same && !same.disabled ? same : arrows.find((b) => !b.disabled))?.focus();
    });
  };
  const kindOptions = STEP_KINDS.map((k) => ({ value: k, label: t(`macros.kind.${k}`) }));

  return (
    <div class="macro-editor">
      <h3 id="macro-steps-title">{t('macros.steps')}</h3>
      {steps.length === 0 ? <p class="page-note">{t('macros.noSteps')}</p> : null}
      {steps.length > MAX_STEPS ? <p class="page-note" role="alert">{t('macros.tooLong', { max: MAX_STEPS })}</p> : null}
      <datalist id="macro-key-names">
        {KEY_SUGGESTIONS.map((k) => (
          <option key={k} value={k} />
        ))}
      </datalist>
      <ol class="macro-steps" ref={list} aria-labelledby="macro-steps-title">
        {steps.map((s, i) => {
          const n = i + 1;
          return (
            <li
              key={keys[i]}
              data-step={i}
              class={dropAt === i ? 'macro-step drop-target' : 'macro-step'}
              draggable={!disabled}
              onDragStart={(e) => {
                dragFrom.current = i;
                e.dataTransfer?.setData('text/plain', String(i));
              }}
              onDragOver={(e) => {
                if (dragFrom.current === null) return;
                e.preventDefault();
                setDropAt(i);
              }}
              onDragLeave={() => setDropAt(null)}
              onDrop={(e) => {
                e.preventDefault();
                const from = dragFrom.current;
                dragFrom.current = null;
                setDropAt(null);
                if (from !== null) onSteps(moveItem(steps, from, i));
              }}
              onDragEnd={() => {
                dragFrom.current = null;
                setDropAt(null);
              }}
            >
              <span class="macro-step-number" aria-hidden="true">
                {n}
              </span>
              <Select hideLabel label={t('macros.stepKind', { n })} value={s.kind} options={kindOptions} disabled={disabled} onChange={(k) => change(i, stepFor(k as StepKind, s))} />
              {s.kind === 'keyDown' || s.kind === 'keyUp' ? (
                <label class="macro-key">
                  <span class="visually-hidden">{t('macros.stepKey', { n })}</span>
                  <input
                    type="text"
                    list="macro-key-names"
                    value={s.key}
                    disabled={disabled}
                    aria-invalid={validKeyName(s.key) ? undefined : 'true'}
                    onChange={(e) => {
                      const input = e.currentTarget as HTMLInputElement;
                      if (validKeyName(input.value)) change(i, { kind: s.kind, key: input.value.trim() });
                      else input.value = s.key;
                    }}
                  />
                </label>
              ) : s.kind === 'mouseDown' || s.kind === 'mouseUp' ? (
                <Select
                  hideLabel
                  label={t('macros.stepButton', { n })}
                  value={s.button}
                  disabled={disabled}
                  options={[
                    { value: 'left', label: t('macros.button.left') },
                    { value: 'right', label: t('macros.button.right') },
                  ]}
                  onChange={(b) => change(i, { kind: s.kind, button: b === 'right' ? 'right' : 'left' })}
                />
              ) : s.kind === 'move' ? (
                <>
                  <NumberField hideLabel unit="X" label={t('macros.moveX', { n })} value={s.x} min={MIN_COORD} max={MAX_COORD} onCommit={(x) => change(i, { ...s, x })} />
                  <NumberField hideLabel unit="Y" label={t('macros.moveY', { n })} value={s.y} min={MIN_COORD} max={MAX_COORD} onCommit={(y) => change(i, { ...s, y })} />
                </>
              ) : s.kind === 'delay' ? (
                <NumberField hideLabel unit="ms" label={t('macros.delayMs', { n })} value={s.ms} min={0} max={MAX_DELAY} onCommit={(ms) => change(i, { kind: 'delay', ms })} />
              ) : null}
              <span class="macro-step-actions">
                <button type="button" class="icon-button macro-step-move" disabled={disabled || i === 0} aria-label={t('macros.moveUp', { n })} title={t('macros.moveUp', { n })} onClick={() => move(i, i - 1)}>
                  <ArrowUp size={14} aria-hidden="true" />
                </button>
                <button type="button" class="icon-button macro-step-move" disabled={disabled || i === steps.length - 1} aria-label={t('macros.moveDown', { n })} title={t('macros.moveDown', { n })} onClick={() => move(i, i + 1)}>
                  <ArrowDown size={14} aria-hidden="true" />
                </button>
                <button type="button" class="icon-button" disabled={disabled} aria-label={t('macros.removeStep', { n })} title={t('macros.removeStep', { n })} onClick={() => onSteps(steps.filter((_, j) => j !== i))}>
                  <Trash2 size={14} aria-hidden="true" />
                </button>
              </span>
            </li>
          );
        })}
      </ol>
      <button type="button" class="button" disabled={disabled} onClick={() => onSteps([...steps, stepFor('delay')])}>
        <Plus size={16} aria-hidden="true" />
        {t('macros.addStep')}
      </button>
      <fieldset class="macro-playback">
        <legend>{t('macros.playback')}</legend>
        <Select
          label={t('macros.playType')}
          value={String(playback.playtype)}
          disabled={disabled}
          options={PLAY_TYPES.map((p) => ({ value: String(p), label: t(`macros.playType.${p}`) }))}
          onChange={(v) => onPlayback({ ...playback, playtype: Number(v) })}
        />
        <NumberField label={t('macros.playCount')} value={playback.count} min={1} max={MAX_COUNT} onCommit={(count) => onPlayback({ ...playback, count })} />
        <NumberField label={t('macros.playDelay')} value={playback.delay} min={0} max={MAX_DELAY} onCommit={(delay) => onPlayback({ ...playback, delay })} />
      </fieldset>
    </div>
  );
}
