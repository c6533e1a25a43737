import { Keyboard, Laptop, Mouse } from 'lucide-preact';
import { type DeviceKind, deviceKindOf } from '../model/template';
import type { XmlElement } from '../model/xml';

export type { DeviceKind };

export function deviceKind(doc: XmlElement | null): DeviceKind {
  return doc ? deviceKindOf(doc) : 'keyboard';
}

export function DevicePicture({ template }: { template: XmlElement | null }) {
  const kind = deviceKind(template);
  const Icon = kind === 'mouse' ? Mouse : kind === 'notebook' ? Laptop : Keyboard;
  return (
    <span class={`device-picture ${kind}`} aria-hidden="true">
      <Icon size={22} />
    </span>
  );
}
