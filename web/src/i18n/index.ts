import { computed, effect, signal } from '@preact/signals';

// Dictionaries live per area in this folder: each module's default export is
// `{ en: {...}, zh: {...} }` with the same keys in both languages. Texts take named
// placeholders ("{name}"); sentences are never pieced together from parts.

export type Language = 'en' | 'zh';
export const LANGUAGES: readonly Language[] = ['en', 'zh'];
export type Entries = Record<string, string>;
export interface AreaDictionary {
  en: Entries;
  zh: Entries;
}
export type Params = Record<string, string | number>;

const modules = import.meta.glob<{ default: AreaDictionary }>(['./*.ts', '!./index.ts'], {
  eager: true,
});

export const areas: Record<string, AreaDictionary> = {};
for (const [path, mod] of Object.entries(modules)) {
  const name = path.replace(/^\.\//, '').replace(/\.ts$/, '');
  if (mod && mod.default) areas[name] = mod.default;
}

function merge(language: Language): Entries {
  const all: Entries = {};
  for (const name of Object.keys(areas)) Object.assign(all, areas[name][language]);
  return all;
}
const dictionaries: Record<Language, Entries> = { en: merge('en'), zh: merge('zh') };

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

// The program puts the system locale into the start address (`?lang=`).
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

function fill(text: string, params?: Params): string {
  if (!params) return text;
  return text.replace(/\{(\w+)\}/g, (whole, name: string) =>
    Object.prototype.hasOwnProperty.call(params, name) ? String(params[name]) : whole,
  );
}

export function translate(l: Language, key: string, params?: Params): string {
  const text = dictionaries[l][key] ?? dictionaries.en[key];
  if (text === undefined) {
    console.warn(`missing text ${key}`);
    return key;
  }
  return fill(text, params);
}

// The text in the current language (components that call it follow language changes).
export function t(key: string, params?: Params): string {
  return translate(language.value, key, params);
}

// Counted texts: `key.one` / `key.other` chosen by the language's plural rules; {count} is
// filled with the formatted number.
export function tn(key: string, count: number, params?: Params): string {
  const rule = new Intl.PluralRules(locale.value).select(count);
  const entries = dictionaries[language.value];
  const chosen = entries[`${key}.${rule}`] !== undefined ? `${key}.${rule}` : `${key}.other`;
  return t(chosen, { ...params, count: formatNumber(count) });
}

export function hasText(key: string): boolean {
  return dictionaries.en[key] !== undefined;
}

export function formatNumber(n: number, options?: Intl.NumberFormatOptions): string {
  return new Intl.NumberFormat(locale.value, options).format(n);
}

export function formatPercent(n: number): string {
  return new Intl.NumberFormat(locale.value, { style: 'percent', maximumFractionDigits: 0 }).format(n / 100);
}

export function formatDate(d: Date, options?: Intl.DateTimeFormatOptions): string {
  return new Intl.DateTimeFormat(locale.value, options ?? { dateStyle: 'medium', timeStyle: 'short' }).format(d);
}
