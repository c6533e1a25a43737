import { t } from '../i18n';
import { useNative } from '../native/context';
import { coreSettings, saveSection } from '../state/coreSettings';
import { showMessage } from '../state/messages';
import { RangeField } from '../ui/RangeField';
import { Toggle } from '../ui/Toggle';
import { BATTERY_MAX, BATTERY_MIN, withBattery, type BatterySettings } from './coreSettings';
import { SectionFrame } from './SectionFrame';

export function BatterySection() {
  return (
    <SectionFrame name="battery" heading={t('desktop.battery.heading')}>
      <BatteryControls />
    </SectionFrame>
  );
}

function BatteryControls() {
  const native = useNative();
  const value = coreSettings.value.battery;
  if (!value) return null;
  const change = (part: Partial<BatterySettings>) => {
    const next = withBattery(value, part);
    if (!next) return;
    void saveSection('battery', next, native).then((stored) => {
      if (!stored) showMessage(() => t('desktop.notSaved'), 'error');
    });
  };
  return (
    <>
      <Toggle label={t('desktop.battery.notices')} checked={value.notices} onChange={(on) => change({ notices: on })} />
      {/* One scale for both, so the thumbs sit where the levels are; moving one past the other
          pushes the other along. */}
      <RangeField
        label={t('desktop.battery.low')}
        value={value.low}
        min={BATTERY_MIN + 1}
        max={BATTERY_MAX}
        unit="%"
        disabled={!value.notices}
        onCommit={(low) => change({ low })}
      />
      <RangeField
        label={t('desktop.battery.critical')}
        value={value.critical}
        min={BATTERY_MIN}
        max={BATTERY_MAX - 1}
        unit="%"
        disabled={!value.notices}
        onCommit={(critical) => change({ critical })}
      />
    </>
  );
}
