import { t, type TextKey } from '../i18n';
import { type Change, EditError } from '../model/builders';
import { type DeviceSession, commitEdit } from '../model/session';
import type { XmlElement } from '../model/xml';
import { showMessage } from '../state/messages';

/**
 * An edit of a device page: tried on the document first, so a refused one says why (through
 * the page's `failedKey` text, which takes {reason}) and nothing is sent.
 */
export function tryEdit(
  s: DeviceSession,
  failedKey: TextKey,
  label: string,
  forward: (d: XmlElement) => Change,
  backward: (d: XmlElement) => Change,
): void {
  try {
    forward(s.doc.peek());
  } catch (e) {
    showMessage(() => t(failedKey, { reason: e instanceof EditError ? e.message : String(e) }), 'error');
    return;
  }
  void commitEdit(s, label, forward, backward);
}
