import type { PageDefinition } from '../index';
import { MacrosPage } from './MacrosPage';
import './macros.css';

export const page: PageDefinition = {
  id: 'macros',
  titleKey: 'macros.tab',
  order: 35,
  component: MacrosPage,
  available: (template) => template.features.macros,
};
