import type { ComponentChildren } from 'preact';
import { t } from '../i18n';
import { coreSettings, coreSettingsStatus } from '../state/coreSettings';
import type { SectionName } from './coreSettings';

// A section of the core's settings: its controls once the core gave it, else why not.
export function SectionFrame({ name, heading, children }: { name: SectionName; heading: string; children: ComponentChildren }) {
  const id = `settings-${name}`;
  const known = !!coreSettings.value[name];
  const loading = !known && (coreSettingsStatus.value === 'loading' || coreSettingsStatus.value === 'idle');
  return (
    <section aria-labelledby={id} class="desktop-section" aria-busy={loading ? 'true' : undefined}>
      <h3 id={id}>{heading}</h3>
      {known ? children : <p class="page-note">{t(loading ? 'desktop.loading' : 'desktop.unavailable')}</p>}
    </section>
  );
}
