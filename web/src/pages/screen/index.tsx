import type { PageDefinition } from '../index';
import { ScreenPage } from './ScreenPage';
import './screen.css';

// Only the model whose document has a screen slot gets the tab.
export const page: PageDefinition = {
  id: 'screen',
  titleKey: 'screen.tab',
  order: 40,
  component: ScreenPage,
  available: (template) => template.features.screen,
};
