import { createTexts } from '../i18n/core';
import help from './dictionary';

export const { t } = createTexts([help]);
