import { undo } from '../state/undo';

function editsText(target: EventTarget | null): boolean {
  const el = target as HTMLElement | null;
  if (!el || !el.tagName) return false;
  if (el.isContentEditable) return true;
  if (el.tagName === 'TEXTAREA') return true;
  if (el.tagName !== 'INPUT') return false;
  const type = (el as HTMLInputElement).type;
  return ['text', 'number', 'search', 'email', 'url', 'tel', 'password'].indexOf(type) >= 0;
}

// Ctrl+Z undoes the last device edit, except inside a text box, where it undoes typing.
export function installShortcuts(target: Document = document): () => void {
  const onKey = (e: KeyboardEvent) => {
    if (e.defaultPrevented) return;
    if ((e.ctrlKey || e.metaKey) && !e.shiftKey && !e.altKey && (e.key === 'z' || e.key === 'Z')) {
      if (editsText(e.target)) return;
      e.preventDefault();
      void undo();
    }
  };
  target.addEventListener('keydown', onKey);
  return () => target.removeEventListener('keydown', onKey);
}
