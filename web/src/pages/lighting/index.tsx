import { familyOf, FAMILY_TRAITS } from '../../model/generations';
import type { PageDefinition } from '../index';
import { LightingPage, hasLighting } from './LightingPage';

const usbId = (text: string) => (/<key\s+name="UsbId"[^>]*\svalue="([^"]*)"/.exec(text) || ['', ''])[1];

export const page: PageDefinition = {
  id: 'lighting',
  titleKey: 'page.lighting',
  order: 20,
  component: LightingPage,
  available: (template) => hasLighting(template.text) && !!FAMILY_TRAITS[familyOf(usbId(template.text))].lighting,
};
