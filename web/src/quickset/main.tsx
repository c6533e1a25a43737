import '../styles/base.css';
import './quickset.css';
import { render } from 'preact';
import { bindDocumentLanguage, followStoredLanguage } from '../i18n/core';
import { bindDocumentTheme, followStoredTheme } from '../state/prefs';
import { QuickSet } from './QuickSet';

bindDocumentLanguage();
bindDocumentTheme();
// The main window's language and theme switches apply here while the panel is open.
followStoredLanguage();
followStoredTheme();
const root = document.getElementById('app');
if (root) render(<QuickSet />, root);
