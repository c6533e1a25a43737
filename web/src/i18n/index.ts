import { createTexts, locale, type KeysOf, type Params } from './core';
import desktop from './desktop';
import keys from './keys';
import lighting from './lighting';
import macros from './macros';
import music from './music';
import performance from './performance';
import profiles from './profiles';
import quickset from './quickset';
import screen from './screen';
import settings from './settings';
import shell from './shell';
import sync from './sync';
import updates from './updates';

// Dictionaries live per area in this folder: each module's default export is
// `{ en: {...}, zh: {...} }` with the same keys in both languages. Texts take named
// placeholders ("{name}"); sentences are never pieced together from parts.

export {
  area,
  bindDocumentLanguage,
  language,
  languageFromLocale,
  LANGUAGES,
  LANGUAGE_OPTIONS,
  locale,
  setLanguage,
  type AreaDictionary,
  type Entries,
  type Language,
  type Params,
} from './core';

// Listed by hand so that the keys are known to the type check.
export const areas = { desktop, keys, lighting, macros, music, performance, profiles, quickset, screen, settings, shell, sync, updates };

type Area = (typeof areas)[keyof typeof areas];

// Every text key the page knows.
export type TextKey = KeysOf<Area>;

// Keys of counted texts, without their `.one` / `.other` ending.
export type CountedKey = TextKey extends infer K ? (K extends `${infer Base}.other` ? Base : never) : never;

const texts = createTexts<Area>(Object.values(areas));

export const translate = texts.translate;

// The text in the current language (components that call it follow language changes).
export function t(key: TextKey, params?: Params): string {
  return texts.t(key, params);
}

// Counted texts: `key.one` / `key.other` chosen by the language's plural rules; {count} is
// filled with the formatted number.
export function tn(key: CountedKey, count: number, params?: Params): string {
  const rule = new Intl.PluralRules(locale.value).select(count);
  // Only `.other` is sure to be there; the other forms are taken when a language has them.
  const chosen = (texts.has(`${key}.${rule}`) ? `${key}.${rule}` : `${key}.other`) as TextKey;
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
