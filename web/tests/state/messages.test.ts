import { afterEach, describe, expect, it } from 'vitest';
import { setLanguage, t } from '../../src/i18n';
import { showMessage, statusMessage } from '../../src/state/messages';

describe('status messages', () => {
  afterEach(() => setLanguage('en'));

  it('a message given as a function follows a language switch; a plain text stays as given', () => {
    setLanguage('en');
    showMessage(() => t('shell.deviceGone', { name: 'B' }));
    expect(statusMessage.value?.text).toBe('B was disconnected');
    setLanguage('zh');
    expect(statusMessage.value?.text).toBe('B 已断开连接');
    showMessage('as given');
    setLanguage('en');
    expect(statusMessage.value?.text).toBe('as given');
  });
});
