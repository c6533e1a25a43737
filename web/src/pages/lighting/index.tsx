import type { PageDefinition } from '../index';
import { LightingPage } from './LightingPage';

export const page: PageDefinition = {
  id: 'lighting',
  titleKey: 'page.lighting',
  order: 20,
  component: LightingPage,
  available: (template) => template.features.lighting,
};
