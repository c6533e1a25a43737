import type { PageDefinition } from '../index';
import { PerformancePage } from './PerformancePage';

export const page: PageDefinition = {
  id: 'performance',
  titleKey: 'page.performance',
  order: 30,
  component: PerformancePage,
  available: (template) => template.features.performance,
};
