import { language, t } from '../i18n';
import { notesText } from './format';
import type { Notes } from './updateIndex';

/** The notes of an offered version in the page's language; nothing when there are none. */
export function UpdateNotes({ notes }: { notes: Notes | null | undefined }) {
  const text = notes ? notesText(notes, language.value) : '';
  if (!text) return null;
  return (
    <div class="update-notes">
      <h4>{t('updates.notes')}</h4>
      <p>{text}</p>
    </div>
  );
}
