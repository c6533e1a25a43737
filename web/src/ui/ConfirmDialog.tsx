import { useRef } from 'preact/hooks';
import { Dialog } from './Dialog';
import { uniqueId } from './focus';

export interface ConfirmDialogProps {
  open: boolean;
  title: string;
  // Names the object the action touches ("Reset Profile 2 of Torvanix Glide 6 to its defaults?").
  message: string;
  confirmLabel: string;
  cancelLabel: string;
  danger?: boolean;
  onConfirm: () => void;
  onCancel: () => void;
}

// Asks before an action that cannot be taken back. The safe choice has the focus first.
export function ConfirmDialog(props: ConfirmDialogProps) {
  const cancel = useRef<HTMLButtonElement>(null);
  const messageId = useRef(uniqueId('confirm-message')).current;
  return (
    <Dialog
      open={props.open}
      title={props.title}
      onClose={props.onCancel}
      role="alertdialog"
      describedBy={messageId}
      initialFocus={() => cancel.current}
    >
      <p id={messageId}>{props.message}</p>
      <div class="dialog-actions">
        <button ref={cancel} type="button" class="button" onClick={props.onCancel}>
          {props.cancelLabel}
        </button>
        <button type="button" class={props.danger ? 'button danger' : 'button primary'} onClick={props.onConfirm}>
          {props.confirmLabel}
        </button>
      </div>
    </Dialog>
  );
}
