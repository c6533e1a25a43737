import { Battery, BatteryLow, Bluetooth, Cable, ShieldAlert, Wifi } from 'lucide-preact';
import { formatPercent, t } from '../i18n';
import { batteryOf, connectionOf, devices, selectDevice, selectedId, type Device } from '../state/devices';
import { deviceName } from '../state/deviceName';
import { templates } from '../state/templates';
import { DevicePicture } from './DevicePicture';

export { deviceName };

function DeviceCard({ device, place }: { device: Device; place: number }) {
  const selected = selectedId.value === device.id;
  const conn = connectionOf(device.record);
  const battery = batteryOf(device.record);
  const state = templates.value[device.record.Version];
  const kind = state?.status === 'ready' ? state.template.root : null;
  const name = deviceName(device);
  const detailsId = `device-details-${place}`;
  // The native side found the device but may not open it: the user has to install the rules.
  const denied = device.record.Permission === 'denied';
  // The button holds only the picture and the name, so its name is exactly what it shows; the
  // details sit beside it in the card and describe it. The button covers the whole card.
  return (
    <li class={selected ? 'device-card selected' : 'device-card'}>
      <button
        type="button"
        class="device-select"
        aria-pressed={selected ? 'true' : 'false'}
        aria-describedby={detailsId}
        onClick={() => selectDevice(device.id)}
      >
        <DevicePicture template={kind} />
        <span class="device-name">{name}</span>
      </button>
      <span id={detailsId} class="device-details">
        {conn ? (
          <span class="device-connection">
            {conn === 'bluetooth' ? (
              <Bluetooth size={14} aria-hidden="true" />
            ) : conn === 'wireless' ? (
              <Wifi size={14} aria-hidden="true" />
            ) : (
              <Cable size={14} aria-hidden="true" />
            )}
            {t(`shell.connection.${conn}`)}
          </span>
        ) : null}
        {battery ? (
          <span class={battery.low ? 'device-battery low' : 'device-battery'}>
            {battery.low ? <BatteryLow size={14} aria-hidden="true" /> : <Battery size={14} aria-hidden="true" />}
            {t(battery.low ? 'shell.batteryLow' : 'shell.battery', { level: formatPercent(battery.level) })}
          </span>
        ) : null}
        {denied ? (
          <span class="device-note device-denied" style={{ color: 'var(--danger)' }}>
            <ShieldAlert size={14} aria-hidden="true" />
            {t('shell.noPermission', { rule: device.record.PermissionRule || t('shell.udevRulesFile') })}
          </span>
        ) : state?.status === 'missing' ? (
          <span class="device-note">{t('shell.notConfigurable')}</span>
        ) : null}
      </span>
    </li>
  );
}

export function DeviceBar() {
  const list = devices.value;
  return (
    <nav class="device-bar" aria-label={t('shell.devices')}>
      <ul class="device-list">
        {list.map((d, i) => (
          <DeviceCard key={d.id} device={d} place={i} />
        ))}
      </ul>
    </nav>
  );
}
