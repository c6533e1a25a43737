import { useEffect, useRef, useState } from 'preact/hooks';
import { uniqueId } from './focus';

export interface RangeFieldProps {
  label: string;
  value: number;
  min: number;
  max: number;
  step?: number;
  unit?: string;
  disabled?: boolean;
  // Called once the value settles (pointer released, Enter, leaving the box), never for
  // every pixel of a drag.
  onCommit: (value: number) => void;
  // Text for the number box's name; by default the label.
  numberLabel?: string;
}

// Snaps to the step grid counted from min and keeps within the limits.
export function settleValue(raw: number, min: number, max: number, step = 1): number {
  if (!Number.isFinite(raw)) return min;
  const clamped = Math.min(max, Math.max(min, raw));
  if (!(step > 0)) return clamped;
  // The small nudge keeps 0.35 / 0.1 (3.4999…) rounding the way a person expects.
  const snapped = min + Math.round((clamped - min) / step + 1e-9) * step;
  const decimals = (String(step).split('.')[1] || '').length;
  const fixed = Number(snapped.toFixed(decimals));
  return fixed > max ? fixed - step : fixed;
}

// A slider with a typed twin. Both show the draft while it moves; the value goes out once.
export function RangeField({ label, value, min, max, step = 1, unit, disabled, onCommit, numberLabel }: RangeFieldProps) {
  const [draft, setDraft] = useState(value);
  const [text, setText] = useState(String(value));
  const dragging = useRef(false);
  const id = useRef(uniqueId('range')).current;

  useEffect(() => {
    if (!dragging.current) {
      setDraft(value);
      setText(String(value));
    }
  }, [value]);

  const commit = (raw: number) => {
    dragging.current = false;
    const v = settleValue(raw, min, max, step);
    setDraft(v);
    setText(String(v));
    if (v !== value) onCommit(v);
  };

  const commitText = () => {
    const trimmed = text.trim();
    const n = trimmed === '' ? NaN : Number(trimmed);
    if (!Number.isFinite(n)) {
      setText(String(value));
      setDraft(value);
      return;
    }
    commit(n);
  };

  return (
    <div class="range-field">
      <label for={id}>{label}</label>
      <div class="range-row">
        <input
          id={id}
          type="range"
          min={min}
          max={max}
          step={step}
          value={draft}
          disabled={disabled}
          aria-valuetext={unit ? `${draft} ${unit}` : undefined}
          onPointerDown={() => {
            dragging.current = true;
          }}
          // A press that moves nothing brings no change event; the value shown must follow
          // the device again all the same.
          onPointerUp={() => {
            dragging.current = false;
          }}
          onPointerCancel={() => {
            dragging.current = false;
            setDraft(value);
            setText(String(value));
          }}
          onInput={(e) => {
            const v = Number((e.currentTarget as HTMLInputElement).value);
            setDraft(v);
            setText(String(v));
          }}
          onChange={(e) => commit(Number((e.currentTarget as HTMLInputElement).value))}
        />
        <input
          type="number"
          class="range-number"
          aria-label={numberLabel ?? label}
          min={min}
          max={max}
          step={step}
          value={text}
          disabled={disabled}
          onInput={(e) => setText((e.currentTarget as HTMLInputElement).value)}
          onKeyDown={(e) => {
            if (e.key === 'Enter') {
              e.preventDefault();
              commitText();
            } else if (e.key === 'Escape') {
              setText(String(value));
              setDraft(value);
            }
          }}
          onBlur={commitText}
        />
        {unit ? <span class="range-unit">{unit}</span> : null}
      </div>
    </div>
  );
}
