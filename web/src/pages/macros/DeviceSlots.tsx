import { useState } from 'preact/hooks';
import { t, tn } from '../../i18n';
import type { Macro } from '../../macros/library';
import { parseMacroText } from '../../macros/text';
import type { DeviceSession } from '../../model/session';
import { macrosOf } from '../../model/template';
import { showMessage } from '../../state/messages';
import { ConfirmDialog } from '../../ui/ConfirmDialog';
import { slotNumber, storeInSlot, unplayableSteps } from './slots';

export function DeviceSlots({ session, macro, model }: { session: DeviceSession; macro: Macro | null; model: string }) {
  const slots = macrosOf(session.doc.value);
  const [slot, setSlot] = useState(slots[0]?.name ?? '');
  const [confirming, setConfirming] = useState(false);
  const chosen = slots.find((s) => s.name === slot) ?? slots[0];
  const slotName = (name: string) => t('macros.slotN', { n: slotNumber(name) });
  if (!chosen) return null;
  const unplayable = macro ? unplayableSteps(session.family, macro.steps) : 0;

  const store = () => {
    setConfirming(false);
    if (!macro) return;
    const slot = chosen.name;
    void storeInSlot(session, macro, chosen, t('macros.slotEdit', { name: macro.name, slot: slotName(slot) })).then((keys) => {
      if (keys === null) return;
      if (session.family === 'hfd') showMessage(() => t('macros.tableSent', { name: macro.name, slot: slotName(slot), model }));
      else if (!keys) showMessage(() => t('macros.storedForKeys', { name: macro.name, slot: slotName(slot) }), 'success');
      else showMessage(() => tn('macros.keysRewritten', keys, { name: macro.name, slot: slotName(slot), model }));
    });
  };

  return (
    <fieldset class="macro-slots">
      <legend>{t('macros.deviceSlots', { model })}</legend>
      <label class="macro-number">
        <span>{t('macros.slot')}</span>
        <select value={chosen.name} onChange={(e) => setSlot((e.currentTarget as HTMLSelectElement).value)}>
          {slots.map((s) => (
            <option key={s.name} value={s.name}>
              {s.text ? tn('macros.slotFull', parseMacroText(s.text).steps.length, { slot: slotName(s.name) }) : t('macros.slotEmpty', { slot: slotName(s.name) })}
            </option>
          ))}
        </select>
      </label>
      <button type="button" class="button primary" disabled={!macro || macro.steps.length === 0} onClick={() => (chosen.text ? setConfirming(true) : store())}>
        {t('macros.store')}
      </button>
      <p class="page-note">{t(session.family === 'hfd' ? 'macros.slotHintTable' : 'macros.slotHintKeys')}</p>
      {unplayable > 0 ? <p class="page-note">{tn('macros.keysOnly', unplayable)}</p> : null}
      <ConfirmDialog
        open={confirming}
        title={t('macros.replaceTitle')}
        message={t('macros.replaceQuestion', { slot: slotName(chosen.name), model, name: macro?.name ?? '' })}
        confirmLabel={t('macros.replace')}
        cancelLabel={t('ui.cancel')}
        onConfirm={store}
        onCancel={() => setConfirming(false)}
      />
    </fieldset>
  );
}
