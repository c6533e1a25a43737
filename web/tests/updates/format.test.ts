import { afterEach, describe, expect, it } from 'vitest';
import { setLanguage } from '../../src/i18n';
import { formatBytes } from '../../src/updates/format';

afterEach(() => setLanguage('en'));

describe('file sizes', () => {
  it('count a kB as 1000 bytes, and a size that rounds to 1000 kB as MB, in both languages', () => {
    const sizes = [999, 1500, 999_499, 999_999, 1_000_000, 64 * 1024 * 1024];
    expect(sizes.map(formatBytes)).toEqual(['999 B', '2 kB', '999 kB', '1 MB', '1 MB', '67.1 MB']);
    setLanguage('zh');
    expect(sizes.map(formatBytes)).toEqual(['999 B', '2 kB', '999 kB', '1 MB', '1 MB', '67.1 MB']);
  });
});
