import { computed, effect, signal } from '@preact/signals';

// The language machinery without any dictionary: the main page merges every area of this
// folder, while the small pages (the hot-key panel, the help page) bring only their own texts.

export type Language = 'en' | 'zh';
export const LANGUAGES: readonly Language[] = ['en', 'zh'];
// Each language under its own name, as every language choice offers them.
export const LANGUAGE_NAMES: Record<Language, string> = { en: 'English', zh: '中文' };
export const LANGUAGE_TAGS: Record<Language, string> = { en: 'en', zh: 'zh-CN' };
export const LANGUAGE_OPTIONS = LANGUAGES.map((l) => ({ value: l, label: LANGUAGE_NAMES[l] }));
export type Entries = Record<string, string>;
export interface AreaDictionary {
  en: Entries;
  zh: Entries;
}
export type Params = Record<string, string | number>;

// Keeps a dictionary's keys in its type, so a mistyped key fails the type check instead of
// showing up on screen; the Chinese half must carry every English key.
export function area<E extends Entries>(d: { en: E; zh: Record<keyof E, string> }): { en: E; zh: Entries } {
  return d;
}

// The keys of one dictionary, or of every dictionary in a union of them.
export type KeysOf<D> = D extends { en: infer E } ? keyof E & string : never;

// The language the native side reported (the system locale), e.g. "zh_CN", "zh-TW", "en_GB".
export function languageFromLocale(locale: string | null | undefined): Language {
  return locale && /^zh([-_]|$)/i.test(locale.trim()) ? 'zh' : 'en';
}

const STORAGE_KEY = 'torvanix.language';

function storedChoice(): Language | null {
  try {
    const v = localStorage.getItem(STORAGE_KEY);
    return v === 'en' || v === 'zh' ? v : null;
  } catch {
    return null;
  }
}

// The program puts the system locale into the start address (`?lang=`); pages it opens
// without one follow the choice stored by the main page.
function systemLanguage(): Language {
  try {
    return languageFromLocale(new URLSearchParams(location.search).get('lang'));
  } catch {
    return 'en';
  }
}

export const language = signal<Language>(storedChoice() ?? systemLanguage());
export const locale = computed(() => (language.value === 'zh' ? 'zh-CN' : 'en'));

export function setLanguage(l: Language): void {
  language.value = l;
  try {
    localStorage.setItem(STORAGE_KEY, l);
  } catch {
    // a page without storage keeps the choice for this session only
  }
}

// Keeps <html lang> in step: it also picks the CJK font.
export function bindDocumentLanguage(): () => void {
  return effect(() => {
    document.documentElement.lang = locale.value;
  });
}

// A choice made in another page of the program (same storage) is followed here at once.
export function followStoredLanguage(): () => void {
  const onStorage = (e: StorageEvent) => {
    if (e.key === STORAGE_KEY && (e.newValue === 'en' || e.newValue === 'zh')) language.value = e.newValue;
  };
  window.addEventListener('storage', onStorage);
  return () => window.removeEventListener('storage', onStorage);
}

function fill(text: string, params?: Params): string {
  if (!params) return text;
  return text.replace(/\{(\w+)\}/g, (whole, name: string) =>
    Object.prototype.hasOwnProperty.call(params, name) ? String(params[name]) : whole,
  );
}

export interface Texts<K extends string = string> {
  translate(l: Language, key: K, params?: Params): string;
  t(key: K, params?: Params): string;
  // Any text, e.g. a key made at run time, may be asked about.
  has(key: string): boolean;
}

export function createTexts<D extends AreaDictionary>(areas: readonly D[]): Texts<KeysOf<D>> {
  const merge = (l: Language): Entries => {
    const all: Entries = {};
    for (const area of areas) Object.assign(all, area[l]);
    return all;
  };
  const dictionaries: Record<Language, Entries> = { en: merge('en'), zh: merge('zh') };
  const translate = (l: Language, key: string, params?: Params): string => {
    const text = dictionaries[l][key] ?? dictionaries.en[key];
    if (text === undefined) {
      console.warn(`missing text ${key}`);
      return key;
    }
    return fill(text, params);
  };
  return {
    translate,
    // Components that call it follow language changes.
    t: (key, params) => translate(language.value, key, params),
    has: (key) => dictionaries.en[key] !== undefined,
  };
}
