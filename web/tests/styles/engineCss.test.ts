import { readdirSync, readFileSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { describe, expect, it } from 'vitest';

// Style rules the embedded engine (Chromium 87) silently drops: a page that uses them looks
// fine in a current browser and broken in the program.
const UNSUPPORTED: Array<[RegExp, string]> = [
  [/:has\(/, ':has()'],
  [/@container\b/, 'container queries'],
  [/\baspect-ratio\s*:/, 'aspect-ratio'],
  [/:(is|where)\(/, ':is() / :where()'],
  [/@layer\b/, 'cascade layers'],
  [/\bcolor-mix\(/, 'color-mix()'],
  [/\b\d+(dvh|svh|lvh|dvw|svw|lvw)\b/, 'dynamic viewport units'],
  [/(^|[;{}]\s*)&/m, 'nesting'],
  [/\binset\s*:/, 'inset shorthand'],
];

function cssFiles(dir: string): string[] {
  return readdirSync(dir).flatMap((name) => {
    const path = join(dir, name);
    if (statSync(path).isDirectory()) return cssFiles(path);
    return name.endsWith('.css') ? [path] : [];
  });
}

describe('style sheets', () => {
  const files = cssFiles(join(__dirname, '../../src'));

  it('exist', () => {
    expect(files.length).toBeGreaterThan(0);
  });

  for (const file of files) {
    it(`${file.slice(file.indexOf('src'))} uses only what the engine understands`, () => {
      const text = readFileSync(file, 'utf8').replace(/\/\*[\s\S]*?\*\//g, '');
      const found = UNSUPPORTED.filter(([re]) => re.test(text)).map(([, name]) => name);
      expect(found).toEqual([]);
    });
  }
});
