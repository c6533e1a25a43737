import {
  createTexts,
  locale,
  type AreaDictionary,
  type Params,
} from './core';

// Dictionaries live per area in this folder: each module's default export is
// `{ en: {...}, zh: {...} }` with the same keys in both languages. Texts take named
// placeholders ("{name}"); sentences are never pieced together from parts.

export {
  bindDocumentLanguage,
  language,
  languageFromLocale,
  LANGUAGES,
  locale,
  setLanguage,
  type AreaDictionary,
  type Entries,
  type Language,
  type Params,
} from './core';

const modules = import.meta.glob<{ default: AreaDictionary }>(['./*.ts', '!./index.ts', '!./core.ts'], {
  eager: true,
});

export const areas: Record<string, AreaDictionary> = {};
for (const [path, mod] of Object.entries(modules)) {
  const name = path.replace(/^\.\//, '').replace(/\.ts$/, '');
  if (mod && mod.default) areas[name] = mod.default;
}

const texts = createTexts(Object.values(areas));

export const translate = texts.translate;

// The text in the current language (components that call it follow language changes).
export function t(key: string, params?: Params): string {
  return texts.t(key, params);
}

// Counted texts: `key.one` / `key.other` chosen by the language's plural rules; {count} is
// filled with the formatted number.
export function tn(key: string, count: number, params?: Params): string {
  const rule = new Intl.PluralRules(locale.value).select(count);
  const chosen = texts.has(`${key}.${rule}`) ? `${key}.${rule}` : `${key}.other`;
  return t(chosen, { ...params, count: formatNumber(count) });
}

export function hasText(key: string): boolean {
  return texts.has(key);
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
