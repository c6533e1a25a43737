import type { PageDefinition } from '../index';
import { MacrosPage } from './MacrosPage';
import { trySessionFor } from '../../model/session';
import './macros.css';

export const page: PageDefinition = {
  id: 'macros',
  titleKey: 'macros.tab',
  order: 35,
  component: MacrosPage,
  available: (template, device) => (trySessionFor(device, template)?.traits.assign.indexOf('macro') ?? -1) >= 0 && /name="命令\d+"/.test(template.text),
};
