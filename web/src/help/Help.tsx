import type { ComponentChildren } from 'preact';
import { useNative } from '../native/context';
import { LookControls } from '../ui/LookControls';
import { t } from './texts';
import { UDEV_COMMANDS } from './udev';


// Files the user places have a text saying where; the others have their path.
type ChosenFile = 'macroFiles' | 'library' | 'screen' | 'update';
type PlacedFile = 'log' | 'firmware' | 'autostart' | 'firstStart';

const FILES: ([ChosenFile, null] | [PlacedFile, string])[] = [
  ['macroFiles', null],
  ['library', null],
  ['log', '$XDG_RUNTIME_DIR/torvanix/ozk.log'],
  ['screen', null],
  ['update', null],
  ['firmware', '~/.local/share/torvanix/firmware-boot-loader.json'],
  ['autostart', '~/.config/autostart/LUMSetup.desktop'],
  ['firstStart', '~/.local/state/torvanix/first-start-done'],
];

// The main page reads the system language from its address; the way back keeps it.
function backAddress(): string {
  return `../client.html${location.search}`;
}

type SectionId = 'start' | 'permissions' | 'trouble' | 'files';

function Section({ id, children }: { id: SectionId; children: ComponentChildren }) {
  return (
    <section id={id} aria-labelledby={`${id}-title`}>
      <h2 id={`${id}-title`}>{t(`help.${id}.title`)}</h2>
      {children}
    </section>
  );
}

export function Help() {
  const native = useNative();
  const sections: SectionId[] = ['start', 'permissions', 'trouble', 'files'];
  return (
    <div class="app help">
      <header class="titlebar">
        <a class="button help-back" href={backAddress()}>
          <svg width="16" height="16" viewBox="0 0 24 24" aria-hidden="true" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round">
            <path d="M15 18l-6-6 6-6" />
          </svg>
          {t('help.back')}
        </a>
        <span class="titlebar-spacer" />
        <LookControls id="help-language" languageLabel={t('help.language')} themeLabel={t('help.lightTheme')} />
        <button type="button" class="icon-button" aria-label={t('help.minimise')} title={t('help.minimise')} onClick={() => native.minimise()}>
          <svg width="16" height="16" viewBox="0 0 24 24" aria-hidden="true" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round">
            <path d="M5 12h14" />
          </svg>
        </button>
        <button type="button" class="icon-button close" aria-label={t('help.close')} title={t('help.close')} onClick={() => native.close()}>
          <svg width="16" height="16" viewBox="0 0 24 24" aria-hidden="true" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round">
            <path d="M18 6 6 18M6 6l12 12" />
          </svg>
        </button>
      </header>
      <main class="main help-main">
        <h1>{t('help.title')}</h1>
        <p>{t('help.intro')}</p>
        <nav aria-label={t('help.contents')}>
          <ul class="help-contents">
            {sections.map((s) => (
              <li key={s}>
                <a href={`#${s}`}>{t(`help.${s}.title`)}</a>
              </li>
            ))}
          </ul>
        </nav>
        <Section id="start">
          <ol>
            {([1, 2, 3, 4, 5] as const).map((n) => (
              <li key={n}>{t(`help.start.${n}`)}</li>
            ))}
          </ol>
        </Section>
        <Section id="permissions">
          <p>{t('help.permissions.why')}</p>
          <p>{t('help.permissions.rule')}</p>
          <pre class="help-code" tabIndex={0} aria-label="udev">
            <code>{UDEV_COMMANDS.join('\n')}</code>
          </pre>
          <p>{t('help.permissions.after')}</p>
          <p>{t('help.permissions.check')}</p>
          <p>{t('help.permissions.remote')}</p>
        </Section>
        <Section id="trouble">
          <dl class="help-faq">
            {(['none', 'refused', 'hotkeys', 'log'] as const).map((k) => (
              <div key={k}>
                <dt>{t(`help.trouble.${k}.q`)}</dt>
                <dd>{t(`help.trouble.${k}.a`)}</dd>
              </div>
            ))}
          </dl>
        </Section>
        <Section id="files">
          <table class="help-files">
            <thead>
              <tr>
                <th scope="col">{t('help.files.what')}</th>
                <th scope="col">{t('help.files.where')}</th>
              </tr>
            </thead>
            <tbody>
              {FILES.map(([key, path]) => (
                <tr key={key}>
                  <th scope="row">{t(`help.files.${key}`)}</th>
                  <td>{path ? <code>{path}</code> : t(`help.files.${key as ChosenFile}Where`)}</td>
                </tr>
              ))}
            </tbody>
          </table>
        </Section>
      </main>
    </div>
  );
}
