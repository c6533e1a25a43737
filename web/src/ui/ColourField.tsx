import 'vanilla-colorful/hex-color-picker.js';
import { useEffect, useRef, useState } from 'preact/hooks';
import { uniqueId } from './focus';

// Six hex digits, red first, as the configuration documents carry them ("00ffff").
export function normaliseHex(text: string): string | null {
  const m = /^#?([0-9a-f]{6}|[0-9a-f]{3})$/i.exec(text.trim());
  if (!m) return null;
  const h = m[1].toLowerCase();
  return h.length === 3 ? h.replace(/./g, (c) => c + c) : h;
}

export interface ColourFieldProps {
  label: string;
  // Six hex digits without "#".
  value: string;
  disabled?: boolean;
  onCommit: (hex: string) => void;
  // Names of the picker's two sliders in the user's language.
  colourLabel: string;
  hueLabel: string;
  hexLabel: string;
  // Sees every step of a drag (for a live preview); the device gets only the settled value.
  onDraft?: (hex: string) => void;
}

type PickerElement = HTMLElement & { color: string };

export function ColourField({ label, value, disabled, onCommit, colourLabel, hueLabel, hexLabel, onDraft }: ColourFieldProps) {
  const picker = useRef<PickerElement>(null);
  const [draft, setDraft] = useState(value);
  const [text, setText] = useState(value);
  const draftRef = useRef(value);
  const groupId = useRef(uniqueId('colour')).current;

  useEffect(() => {
    draftRef.current = value;
    setDraft(value);
    setText(value);
    if (picker.current) picker.current.color = `#${value}`;
  }, [value]);

  useEffect(() => {
    const el = picker.current;
    if (!el) return undefined;
    const root = el.shadowRoot;
    const sliders = root ? Array.from(root.querySelectorAll('[role="slider"]')) : [];
    if (sliders[0]) sliders[0].setAttribute('aria-label', colourLabel);
    if (sliders[1]) sliders[1].setAttribute('aria-label', hueLabel);
    const onChanged = (e: Event) => {
      const v = normaliseHex((e as CustomEvent<{ value: string }>).detail.value);
      if (!v) return;
      draftRef.current = v;
      setDraft(v);
      setText(v);
      onDraft?.(v);
    };
    const settle = () => {
      if (draftRef.current !== value) onCommit(draftRef.current);
    };
    el.addEventListener('color-changed', onChanged);
    el.addEventListener('pointerup', settle);
    el.addEventListener('keyup', settle);
    return () => {
      el.removeEventListener('color-changed', onChanged);
      el.removeEventListener('pointerup', settle);
      el.removeEventListener('keyup', settle);
    };
  }, [value, onCommit, onDraft, colourLabel, hueLabel]);

  const commitText = () => {
    const v = normaliseHex(text);
    if (!v) {
      setText(draft);
      return;
    }
    setText(v);
    setDraft(v);
    if (picker.current) picker.current.color = `#${v}`;
    if (v !== value) onCommit(v);
  };

  return (
    <div class="colour-field" role="group" aria-labelledby={groupId}>
      <span id={groupId} class="field-label">
        {label}
      </span>
      <div class={disabled ? 'colour-body disabled' : 'colour-body'}>
        <hex-color-picker ref={picker} color={`#${draft}`} />
        <div class="colour-hex">
          <span class="colour-swatch" style={{ background: `#${draft}` }} aria-hidden="true" />
          <input
            type="text"
            aria-label={hexLabel}
            value={text}
            maxLength={7}
            spellcheck={false}
            disabled={disabled}
            onInput={(e) => setText((e.currentTarget as HTMLInputElement).value)}
            onKeyDown={(e) => {
              if (e.key === 'Enter') {
                e.preventDefault();
                commitText();
              }
            }}
            onBlur={commitText}
          />
        </div>
      </div>
    </div>
  );
}

declare module 'preact' {
  // eslint-disable-next-line @typescript-eslint/no-namespace
  namespace JSX {
    interface IntrinsicElements {
      'hex-color-picker': { ref?: preact.Ref<PickerElement>; color?: string; class?: string };
    }
  }
}
