import { createTexts } from '../i18n/core';
import quickset from '../i18n/quickset';

// Only the panel's own texts travel with it.
export const { t } = createTexts([quickset]);
