import type { ComponentChildren } from 'preact';
import { useEffect, useRef } from 'preact/hooks';
import { focusableIn, keepTabInside, uniqueId } from './focus';

export interface DialogProps {
  open: boolean;
  title: string;
  onClose: () => void;
  children: ComponentChildren;
  // The control to focus first; by default the first focusable one.
  initialFocus?: () => HTMLElement | null;
  role?: 'dialog' | 'alertdialog';
  describedBy?: string;
  /** Further classes of the dialog box and of the backdrop behind it. */
  className?: string;
  backdropClass?: string;
}

// A modal dialog. The engine has no `inert`, so Tab and Shift+Tab are kept inside by hand;
// Esc closes, and focus goes back to whatever had it when the dialog opened.
export function Dialog(props: DialogProps) {
  const { open, title, onClose, children, initialFocus, role = 'dialog', describedBy, className, backdropClass } = props;
  const box = useRef<HTMLDivElement>(null);
  const titleId = useRef(uniqueId('dialog-title')).current;
  const closeRef = useRef(onClose);
  closeRef.current = onClose;

  useEffect(() => {
    if (!open) return undefined;
    const opener = document.activeElement as HTMLElement | null;
    const el = box.current;
    if (el) {
      const first = initialFocus?.() ?? focusableIn(el)[0] ?? el;
      first.focus();
    }
    return () => {
      if (opener && typeof opener.focus === 'function' && document.contains(opener)) opener.focus();
    };
    // Only opening and closing move focus.
  }, [open]);

  if (!open) return null;

  const onKeyDown = (e: KeyboardEvent) => {
    if (e.key === 'Escape') {
      e.preventDefault();
      e.stopPropagation();
      closeRef.current();
      return;
    }
    if (box.current) keepTabInside(e, box.current);
  };

  return (
    <div class={backdropClass ? `dialog-backdrop ${backdropClass}` : 'dialog-backdrop'} onMouseDown={(e) => e.target === e.currentTarget && e.preventDefault()}>
      <div
        ref={box}
        class={className ? `dialog ${className}` : 'dialog'}
        role={role}
        aria-modal="true"
        aria-labelledby={titleId}
        aria-describedby={describedBy}
        tabIndex={-1}
        onKeyDown={onKeyDown}
      >
        <h2 id={titleId} class="dialog-title">
          {title}
        </h2>
        {children}
      </div>
    </div>
  );
}
