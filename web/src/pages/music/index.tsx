import type { PageDefinition } from '../index';
import { MusicPage } from './MusicPage';
import './music.css';

// Devices whose lighting has a brightness can follow the music.
export const page: PageDefinition = {
  id: 'music',
  titleKey: 'music.tab',
  order: 45,
  component: MusicPage,
  available: (template) => template.features.music,
};
