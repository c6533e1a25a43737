import { formatNumber, t } from '../i18n';
import type { Device } from '../state/devices';
import { firmwareOf, type IndexProblem, type Notes } from './updateIndex';

// Decimal units, as their symbols say (1 kB = 1000 bytes): the sizes an update list gives and a
// download shows then read the same everywhere, in either language. A size that rounds up to
// 1000 kB is shown in MB.
export function formatBytes(n: number): string {
  if (Math.round(n / 1000) >= 1000) return `${formatNumber(n / 1e6, { maximumFractionDigits: 1 })} MB`;
  if (n >= 1000) return `${formatNumber(n / 1000, { maximumFractionDigits: 0 })} kB`;
  return `${formatNumber(n)} B`;
}

// The firmware version a device reports, as the user reads it; null when it reports none.
export function installedVersion(device: Device): string | null {
  const fw = firmwareOf(device.record.Version);
  if (!fw) return null;
  const build = device.record.LastVersionNum;
  return build ? t('updates.fw.versionBuild', { version: fw.version, build }) : t('updates.fw.version', { version: fw.version });
}

export function notesText(notes: Notes, lang: 'en' | 'zh'): string {
  return notes[lang] ?? notes.en ?? notes.zh ?? '';
}

export function problemText(p: IndexProblem): string {
  return t(p.key, p.params);
}
