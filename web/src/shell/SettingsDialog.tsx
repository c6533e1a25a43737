import { version } from '../../package.json';
import { language, LANGUAGE_OPTIONS, setLanguage, t, type Language } from '../i18n';
import { devices } from '../state/devices';
import { showMessage } from '../state/messages';
import { setTheme, theme } from '../state/prefs';
import { autorun, setAutorun } from '../state/settings';
import { openHotKeyPanel } from '../quickset/open';
import { DesktopSettings } from '../desktop/DesktopSettings';
import { ClientUpdate } from '../updates/ClientUpdate';
import { Dialog } from '../ui/Dialog';
import { Select } from '../ui/Select';
import { Toggle } from '../ui/Toggle';
import { deviceName } from '../state/deviceName';

export function SettingsDialog({ open, onClose }: { open: boolean; onClose: () => void }) {
  const list = devices.value;
  return (
    <Dialog open={open} title={t('settings.title')} onClose={onClose} className="settings-dialog">
      <div class="settings">
        <Toggle
          label={t('settings.autorun')}
          checked={autorun.value}
          onChange={(on) => {
            if (setAutorun(on)) showMessage(() => t(on ? 'settings.autorunOn' : 'settings.autorunOff'));
            else showMessage(() => t('settings.notSent'), 'error');
          }}
        />
        <Select
          label={t('shell.language')}
          value={language.value}
          options={LANGUAGE_OPTIONS}
          onChange={(v) => setLanguage(v as Language)}
        />
        <Toggle label={t('shell.lightTheme')} checked={theme.value === 'light'} onChange={(on) => setTheme(on ? 'light' : 'dark')} />
        <div>
          <button type="button" class="button" aria-describedby="settings-quickset-hint" onClick={() => {
            if (!openHotKeyPanel()) showMessage(() => t('quickset.notSent'), 'error');
          }}>
            {t('quickset.open')}
          </button>
          <p id="settings-quickset-hint" class="page-note">
            {t('quickset.openHint')}
          </p>
        </div>
        <DesktopSettings />
        <ClientUpdate />
        <section aria-labelledby="settings-about">
          <h3 id="settings-about">{t('settings.about')}</h3>
          <p>{t('settings.program', { version })}</p>
          {list.length ? (
            <dl class="settings-devices">
              {list.map((d) => (
                <div key={d.id}>
                  <dt>{deviceName(d)}</dt>
                  <dd>
                    {d.record.Version}
                    {d.record.LastVersionNum ? ` (${d.record.LastVersionNum})` : ''}
                    {d.record.BluetoothVersion ? ` · ${t('settings.bluetooth', { version: d.record.BluetoothVersion })}` : ''}
                  </dd>
                </div>
              ))}
            </dl>
          ) : (
            <p class="page-note">{t('settings.noDevices')}</p>
          )}
        </section>
        <div class="dialog-actions">
          <button type="button" class="button" onClick={onClose}>
            {t('settings.close')}
          </button>
        </div>
      </div>
    </Dialog>
  );
}
