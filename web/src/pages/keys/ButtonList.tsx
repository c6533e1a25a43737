import { useRef } from 'preact/hooks';
import type { KeyDef } from '../../model/template';

export interface ButtonListProps {
  keys: KeyDef[];
  label: string;
  selected: string | null;
  /** "4 — side, back". */
  place: (key: KeyDef) => string;
  /** What the button does now. */
  describe: (key: KeyDef) => string;
  onSelect: (name: string) => void;
}

// The mouse's buttons in words beside the drawing, and the keyboard's way to them: a
// single-select listbox whose selection follows the arrows, so moving through it shows each
// button's assignment panel in turn.
export function ButtonList({ keys, label, selected, place, describe, onSelect }: ButtonListProps) {
  const items = useRef(new Map<string, HTMLLIElement>());
  const active = keys.some((k) => k.name === selected) ? selected : keys.length ? keys[0].name : null;

  const go = (name: string) => {
    onSelect(name);
    items.current.get(name)?.focus();
  };

  const onKeyDown = (e: KeyboardEvent) => {
    // From the option that has focus: a click or a screen reader may have put it elsewhere.
    const option = (e.target as HTMLElement).closest ? (e.target as HTMLElement).closest('[role="option"]') : null;
    const focused = keys.findIndex((k) => items.current.get(k.name) === option);
    const at = focused >= 0 ? focused : keys.findIndex((k) => k.name === active);
    let to = -1;
    if (e.key === 'ArrowDown') to = Math.min(at + 1, keys.length - 1);
    else if (e.key === 'ArrowUp') to = Math.max(at - 1, 0);
    else if (e.key === 'Home') to = 0;
    else if (e.key === 'End') to = keys.length - 1;
    else if ((e.key === 'Enter' || e.key === ' ') && active) to = at;
    if (to < 0) return;
    e.preventDefault();
    go(keys[to].name);
  };

  return (
    <div class="button-list-box">
      <h2 id="button-list-title">{label}</h2>
      <ul class="button-list" role="listbox" aria-labelledby="button-list-title" onKeyDown={onKeyDown}>
        {keys.map((k) => {
          const where = place(k);
          const does = describe(k);
          return (
            <li
              key={k.name}
              id={`button-option-${k.name}`}
              role="option"
              aria-selected={k.name === selected ? 'true' : 'false'}
              tabIndex={k.name === active ? 0 : -1}
              class={`button-option${k.name === selected ? ' is-selected' : ''}`}
              ref={(el) => {
                if (el) items.current.set(k.name, el);
                else items.current.delete(k.name);
              }}
              onClick={() => go(k.name)}
            >
              <span class="button-place">{where}</span>
              {/* Spoken between the two, so the name reads "4 — side, back: Back". */}
              <span class="visually-hidden">: </span>
              <span class="button-does">{does}</span>
            </li>
          );
        })}
      </ul>
    </div>
  );
}
