import { Keyboard, Laptop, Mouse } from 'lucide-preact';

export type DeviceKind = 'keyboard' | 'mouse' | 'notebook';

// What kind of device a template describes: a second lighting zone means the notebook, a DPI
// table or a handful of buttons a mouse, anything else a keyboard.
export function deviceKind(doc: XMLDocument | null): DeviceKind {
  if (!doc) return 'keyboard';
  const root = doc.documentElement;
  if (root.getElementsByTagName('lightLeft').length) return 'notebook';
  if (root.getElementsByTagName('dpi').length) return 'mouse';
  let buttons = 0;
  let dpiKeys = 0;
  for (const el of Array.from(root.children)) {
    const name = el.getAttribute('name') ?? '';
    if (/^Button\d+$/.test(name)) buttons++;
    if (/^Dpi(Count|Current)$/.test(name)) dpiKeys++;
  }
  return dpiKeys > 0 || (buttons > 0 && buttons <= 12) ? 'mouse' : 'keyboard';
}

export function DevicePicture({ template }: { template: XMLDocument | null }) {
  const kind = deviceKind(template);
  const Icon = kind === 'mouse' ? Mouse : kind === 'notebook' ? Laptop : Keyboard;
  return (
    <span class={`device-picture ${kind}`} aria-hidden="true">
      <Icon size={22} />
    </span>
  );
}
