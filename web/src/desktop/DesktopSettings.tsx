import { useEffect } from 'preact/hooks';
import { useNative } from '../native/context';
import { followCoreSettings, loadCoreSettings } from '../state/coreSettings';
import { loadSdkServer } from '../state/desktop';
import { BatterySection } from './BatterySection';
import { FocusSection } from './FocusSection';
import { SdkSection } from './SdkSection';
import './desktop.css';

// The settings the core process keeps for the desktop, asked for afresh whenever the dialog
// opens; the core's change events keep them current while it is open.
export function DesktopSettings() {
  const native = useNative();
  useEffect(() => {
    followCoreSettings(native);
    void loadCoreSettings(native);
    void loadSdkServer(native);
  }, [native]);
  return (
    <>
      <BatterySection />
      <FocusSection />
      <SdkSection />
    </>
  );
}
