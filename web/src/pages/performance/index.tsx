import type { PageDefinition } from '../index';
import { PerformancePage, hasPerformance } from './PerformancePage';

export const page: PageDefinition = {
  id: 'performance',
  titleKey: 'page.performance',
  order: 30,
  component: PerformancePage,
  available: (template) => hasPerformance(template.text),
};
