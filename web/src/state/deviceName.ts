import { t } from '../i18n';
import type { Device } from './devices';
import { templates } from './templates';

// The name a device goes by everywhere: the template's model name once it is known, else the
// identity.
export function deviceName(device: Device): string {
  const state = templates.value[device.record.Version];
  if (state && state.status === 'ready' && state.template.model) return state.template.model;
  return t('shell.unknownDevice', { id: device.record.Version });
}
