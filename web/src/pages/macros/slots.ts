import type { Macro } from '../../macros/library';
import { macroText, type MacroStep } from '../../macros/text';
import { storeMacro } from '../../model/builders';
import { generationOf, type Family } from '../../model/generations';
import { commitEdit, type DeviceSession } from '../../model/session';
import type { MacroRow } from '../../model/template';
import type { XmlElement } from '../../model/xml';

export const slotNumber = (name: string) => parseInt(name.replace(/^\D+/, ''), 10);

/** Steps the device's macro store cannot play: the packet keyboard's table holds key presses and pauses only. */
export function unplayableSteps(family: Family, steps: MacroStep[]): number {
  if (family !== 'hfd') return 0;
  return steps.filter((x) => x.kind !== 'keyDown' && x.kind !== 'keyUp' && x.kind !== 'delay').length;
}

/**
 * Puts the macro into the slot like every other change to a device: a refused one is said so by
 * the commit model, and a taken one can be undone by putting the slot's old macro back.
 * Resolves to the number of key records written again for it, or null when refused.
 */
export async function storeInSlot(session: DeviceSession, macro: Macro, slot: MacroRow, label: string): Promise<number | null> {
  const text = macroText(macro.steps, macro.playback, generationOf(session.family) ?? 'D2.0');
  const before = slot.text;
  let keys = 0;
  const forward = (d: XmlElement) => {
    const c = storeMacro(d, slot.name, text);
    keys = c.documents.length;
    return c;
  };
  const ok = await commitEdit(session, label, forward, (d) => storeMacro(d, slot.name, before));
  return ok ? keys : null;
}
