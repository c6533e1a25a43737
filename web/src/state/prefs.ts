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

// A theme chosen in another page of the program (same storage) is followed here at once.
export function followStoredTheme(): () => void {
  const onStorage = (e: StorageEvent) => {
    if (e.key === STORAGE_KEY) theme.value = e.newValue === 'light' ? 'light' : 'dark';
  };
  window.addEventListener('storage', onStorage);
  return () => window.removeEventListener('storage', onStorage);
}
