import { effect, signal } from '@preact/signals';

// The look chosen in the page: dark unless the user picked light.
export type Theme = 'dark' | 'light';

const STORAGE_KEY = 'torvanix.theme';

function stored(): Theme {
  try {
    return localStorage.getItem(STORAGE_KEY) === 'light' ? 'light' : 'dark';
  } catch {
    return 'dark';
  }
}

export const theme = signal<Theme>(stored());

export function setTheme(t: Theme): void {
  theme.value = t;
  try {
    localStorage.setItem(STORAGE_KEY, t);
  } catch {
    // kept for this session only
  }
}

export function bindDocumentTheme(): () => void {
  return effect(() => {
    const root = document.documentElement;
    root.setAttribute('data-theme', theme.value);
    root.style.colorScheme = theme.value;
  });
}
