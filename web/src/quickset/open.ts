import { native, type NativeClient } from '../native/client';

// The panel's size before the program scales it to the screen.
export const PANEL_WIDTH = 380;
export const PANEL_HEIGHT = 520;

// Asks the program to open the hot-key panel in a pop-up window of its own, the only page the
// hot keys are sent to. The program opens one window per address, so a second request while
// it is open does nothing.
export function openHotKeyPanel(client: NativeClient = native, base: string = location.href): boolean {
  // The address query carries the system language the program reported to the main page.
  const url = new URL('quick_set.html', base);
  url.search = new URL(base).search;
  url.hash = '';
  return client.send('OpenView', { Url: url.href, Width: PANEL_WIDTH, Height: PANEL_HEIGHT });
}
