import { updateHost } from '../../updates/guard';
import type { PageDefinition } from '../index';
import { FirmwarePage } from './FirmwarePage';
import { UpdateHost } from './UpdateHost';
import '../../updates/updates.css';

// The progress window of a running update lives above the pages: the device may leave the
// list while its firmware is written.
updateHost.value = UpdateHost;

export const page: PageDefinition = {
  id: 'firmware',
  titleKey: 'updates.tab',
  order: 90,
  component: FirmwarePage,
  // Firmware is written through the device's own interface; records without one cannot be.
  available: (_template, device) => !!device.record.DevicePath,
};
