import { useRef } from 'preact/hooks';
import { uniqueId } from './focus';

export interface SelectOption {
  value: string;
  label: string;
}

export interface SelectProps {
  label: string;
  value: string;
  options: SelectOption[];
  disabled?: boolean;
  onChange: (value: string) => void;
  hideLabel?: boolean;
}

export function Select({ label, value, options, disabled, onChange, hideLabel }: SelectProps) {
  const id = useRef(uniqueId('select')).current;
  return (
    <div class="select-field">
      <label for={id} class={hideLabel ? 'visually-hidden' : undefined}>
        {label}
      </label>
      <select
        id={id}
        value={value}
        disabled={disabled}
        onChange={(e) => onChange((e.currentTarget as HTMLSelectElement).value)}
      >
        {options.map((o) => (
          <option key={o.value} value={o.value}>
            {o.label}
          </option>
        ))}
      </select>
    </div>
  );
}
