import { Moon, Sun } from 'lucide-preact';
import { language, LANGUAGE_NAMES, LANGUAGE_TAGS, LANGUAGES, setLanguage, type Language } from '../i18n/core';
import { setTheme, theme } from '../state/prefs';

// The language and theme choices of a window bar. Labels come from the caller, whose page
// may carry its own small dictionary instead of the main one.
export function LookControls({ id, languageLabel, themeLabel }: { id: string; languageLabel: string; themeLabel: string }) {
  const light = theme.value === 'light';
  return (
    <>
      <label class="visually-hidden" for={id}>
        {languageLabel}
      </label>
      <select id={id} class="titlebar-select" value={language.value} onChange={(e) => setLanguage((e.currentTarget as HTMLSelectElement).value as Language)}>
        {LANGUAGES.map((l) => (
          <option key={l} value={l} lang={LANGUAGE_TAGS[l]}>
            {LANGUAGE_NAMES[l]}
          </option>
        ))}
      </select>
      <button
        type="button"
        class="icon-button"
        role="switch"
        aria-checked={light ? 'true' : 'false'}
        aria-label={themeLabel}
        title={themeLabel}
        onClick={() => setTheme(light ? 'dark' : 'light')}
      >
        {light ? <Sun size={16} aria-hidden="true" /> : <Moon size={16} aria-hidden="true" />}
      </button>
    </>
  );
}
