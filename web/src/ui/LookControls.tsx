import { Moon, Sun } from 'lucide-preact';
import { language, setLanguage, type Language } from '../i18n/core';
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
        <option value="en" lang="en">
          English
        </option>
        <option value="zh" lang="zh-CN">
          中文
        </option>
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
