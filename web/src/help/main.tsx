import '../styles/base.css';
import './help.css';
import { effect } from '@preact/signals';
import { render } from 'preact';
import { bindDocumentLanguage, followStoredLanguage } from '../i18n/core';
import { bindDocumentTheme, followStoredTheme } from '../state/prefs';
import { Help } from './Help';
import { t } from './texts';

bindDocumentLanguage();
bindDocumentTheme();
followStoredLanguage();
followStoredTheme();
effect(() => {
  document.title = t('help.documentTitle');
});
const root = document.getElementById('app');
if (root) render(<Help />, root);
