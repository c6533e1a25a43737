import { readdirSync } from 'fs';
import { resolve } from 'path';
import { describe, expect, it, vi } from 'vitest';
import help from '../../src/help/dictionary';
import { areas, languageFromLocale, translate, type AreaDictionary } from '../../src/i18n';

// The help page carries its own dictionary; it is held to the same rules.
const all: Record<string, AreaDictionary> = { ...areas, help };

const placeholders = (text: string) => (text.match(/\{\w+\}/g) ?? []).sort().join(' ');

describe('dictionaries', () => {
  it('are found for every area module', () => {
    const files = readdirSync(resolve(__dirname, '../../src/i18n'))
      .filter((f) => f.endsWith('.ts') && f !== 'index.ts' && f !== 'core.ts')
      .map((f) => f.replace(/\.ts$/, ''));
    expect(files.length).toBeGreaterThan(10);
    expect(Object.keys(areas).sort()).toEqual(files.sort());
  });

  for (const [area, dict] of Object.entries(all)) {
    it(`${area}: both languages have the same keys, non-empty texts and the same placeholders`, () => {
      const en = Object.keys(dict.en).sort();
      const zh = Object.keys(dict.zh).sort();
      expect(en.filter((k) => !(k in dict.zh)), 'missing in Chinese').toEqual([]);
      expect(zh.filter((k) => !(k in dict.en)), 'missing in English').toEqual([]);
      for (const k of en) {
        expect(dict.en[k].trim(), k).not.toBe('');
        expect(dict.zh[k].trim(), k).not.toBe('');
        expect(placeholders(dict.zh[k]), k).toBe(placeholders(dict.en[k]));
      }
    });
  }

  it('keys do not collide between areas', () => {
    const seen = new Map<string, string>();
    for (const [area, dict] of Object.entries(all))
      for (const k of Object.keys(dict.en)) {
        expect(seen.get(k), `${k} in ${area}`).toBeUndefined();
        seen.set(k, area);
      }
  });

  it('fills named placeholders and leaves unknown ones visible', () => {
    expect(translate('en', 'profiles.profileN', { n: 3 })).toBe('Profile 3');
    expect(translate('zh', 'profiles.profileN', {})).toBe('配置 {n}');
  });

  it('refuses an unknown key when type checked and shows it as written at run time', () => {
    const warn = vi.spyOn(console, 'warn').mockImplementation(() => undefined);
    // @ts-expect-error no dictionary has this key
    expect(translate('en', 'shell.noSuchText')).toBe('shell.noSuchText');
    expect(warn).toHaveBeenCalledTimes(1);
    warn.mockRestore();
  });

  it('takes the language from the system locale the program reports', () => {
    expect(languageFromLocale('zh_CN')).toBe('zh');
    expect(languageFromLocale('zh-TW')).toBe('zh');
    expect(languageFromLocale('en_US')).toBe('en');
    expect(languageFromLocale('')).toBe('en');
    expect(languageFromLocale(null)).toBe('en');
  });
});
