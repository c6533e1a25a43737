import type { PageDefinition } from '../index';
import { KeysPage } from './KeysPage';

export const page: PageDefinition = {
  id: 'keys',
  titleKey: 'page.keys',
  order: 10,
  component: KeysPage,
  available: (template) => template.features.keys,
};
