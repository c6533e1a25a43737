import { useEffect, useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import type { PageDefinition } from '../pages';
import type { Device } from '../state/devices';
import type { ModelTemplate } from '../state/templates';

export interface PageTabsProps {
  pages: PageDefinition[];
  device: Device;
  template: ModelTemplate;
}

// WAI-ARIA tabs: one tab stop, arrows and Home/End move and select.
export function PageTabs({ pages, device, template }: PageTabsProps) {
  const [chosen, setChosen] = useState<string | null>(null);
  const refs = useRef(new Map<string, HTMLButtonElement>());
  const current = pages.find((p) => p.id === chosen) ?? pages[0];

  useEffect(() => {
    if (chosen && !pages.some((p) => p.id === chosen)) setChosen(null);
  }, [pages, chosen]);

  if (!current) return null;

  const onKeyDown = (e: KeyboardEvent) => {
    const i = pages.indexOf(current);
    let next = -1;
    if (e.key === 'ArrowRight') next = (i + 1) % pages.length;
    else if (e.key === 'ArrowLeft') next = (i - 1 + pages.length) % pages.length;
    else if (e.key === 'Home') next = 0;
    else if (e.key === 'End') next = pages.length - 1;
    if (next < 0) return;
    e.preventDefault();
    setChosen(pages[next].id);
    refs.current.get(pages[next].id)?.focus();
  };

  const Page = current.component;
  return (
    <div class="pages">
      <div class="tab-list" role="tablist" aria-label={t('shell.pages')} onKeyDown={onKeyDown}>
        {pages.map((p) => (
          <button
            key={p.id}
            ref={(el) => {
              if (el) refs.current.set(p.id, el);
              else refs.current.delete(p.id);
            }}
            type="button"
            role="tab"
            id={`tab-${p.id}`}
            aria-selected={p === current ? 'true' : 'false'}
            aria-controls={`panel-${p.id}`}
            tabIndex={p === current ? 0 : -1}
            class="tab"
            onClick={() => setChosen(p.id)}
          >
            {t(p.titleKey)}
          </button>
        ))}
      </div>
      <section
        class="tab-panel"
        role="tabpanel"
        id={`panel-${current.id}`}
        aria-labelledby={`tab-${current.id}`}
        data-page={current.id}
      >
        <Page key={`${device.id}:${current.id}`} device={device} template={template} />
      </section>
    </div>
  );
}
