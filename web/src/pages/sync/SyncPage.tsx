import { useState } from 'preact/hooks';
import { t, tn } from '../../i18n';
import { useNative } from '../../native/context';
import { deviceName } from '../../state/deviceName';
import { devices } from '../../state/devices';
import { showMessage } from '../../state/messages';
import { ColourField } from '../../ui/ColourField';
import { Select } from '../../ui/Select';
import { normaliseIdentity } from '../../model/generations';
import type { PageProps } from '../index';
import { DEFAULT_CHOICE, SYNC_CHOICES, canFollow, colourReaches, loadChoices, saveChoices, syncDocument, type SyncChoice } from './syncDocument';

function choiceLabel(sync: number): string {
  if (sync === 0) return t('sync.leave');
  if (sync === 1) return t('sync.steady');
  return t('sync.effectN', { n: sync });
}

export function SyncPage(_props: PageProps) {
  const native = useNative();
  const [choices, setChoices] = useState<Record<string, SyncChoice>>(loadChoices);
  const followers = devices.value.filter((d) => canFollow(d.record.Version));
  // One entry per identity: the program addresses each library once, whichever interface.
  const seen = new Set<string>();
  const rows = followers.filter((d) => {
    const id = normaliseIdentity(d.record.Version);
    if (seen.has(id)) return false;
    seen.add(id);
    return true;
  });
  const choiceOf = (id: string) => choices[id] ?? DEFAULT_CHOICE;
  const change = (id: string, c: Partial<SyncChoice>) => setChoices({ ...choices, [id]: { ...choiceOf(id), ...c } });

  const apply = () => {
    const entries = rows.map((d) => {
      const id = normaliseIdentity(d.record.Version);
      return { identity: id, name: deviceName(d), choice: choiceOf(id) };
    });
    const following = entries.filter((e) => e.choice.sync > 0).length;
    if (!native.send('NoticeModify', { XmlConfigStr: syncDocument(entries) })) {
      showMessage(() => t('sync.notSent'), 'error');
      return;
    }
    const kept: Record<string, SyncChoice> = { ...choices };
    for (const e of entries) kept[e.identity] = e.choice;
    setChoices(kept);
    saveChoices(kept);
    // The libraries confirm nothing, so the page says what it sent.
    showMessage(() => tn('sync.sent', following), 'success');
  };

  return (
    <section class="sync-page" aria-labelledby="sync-title">
      <h2 id="sync-title">{t('sync.title')}</h2>
      <p class="page-note">{t('sync.intro')}</p>
      <ul class="sync-list">
        {rows.map((d) => {
          const id = normaliseIdentity(d.record.Version);
          const c = choiceOf(id);
          const name = deviceName(d);
          const reaches = colourReaches(id, c.sync);
          return (
            <li key={id} class="sync-device">
              <h3>{name}</h3>
              <Select
                label={t('sync.effectFor', { name })}
                value={String(c.sync)}
                options={SYNC_CHOICES.map((n) => ({ value: String(n), label: choiceLabel(n) }))}
                onChange={(v) => change(id, { sync: Number(v) })}
              />
              <ColourField
                label={t('sync.colourFor', { name })}
                value={c.rgb}
                disabled={!reaches}
                onCommit={(rgb) => change(id, { rgb })}
                colourLabel={t('sync.colourArea')}
                hueLabel={t('sync.hue')}
                hexLabel={t('sync.hexFor', { name })}
              />
              {c.sync > 1 && !reaches ? <p class="page-note">{t('sync.ownColours')}</p> : null}
            </li>
          );
        })}
      </ul>
      <button type="button" class="button primary" onClick={apply}>
        {t('sync.apply')}
      </button>
    </section>
  );
}
