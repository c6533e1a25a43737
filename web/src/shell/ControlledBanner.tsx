import { controllerOf } from '../desktop/server';
import { t } from '../i18n';
import { sdkServer } from '../state/desktop';
import type { Device } from '../state/devices';

// Says which program of the lighting server drives this device's lighting now. The core drops
// the device from that program's list once the user changes the lighting here.
export function ControlledBanner({ device }: { device: Device }) {
  const client = controllerOf(sdkServer.value, device.record.DevicePath);
  if (!client) return null;
  return (
    <p role="status" class="controlled-banner">
      {t('desktop.controlledBy', { client: client.name || t('desktop.sdk.unnamed') })}
    </p>
  );
}
