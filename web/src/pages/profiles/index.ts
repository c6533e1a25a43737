import type { PageDefinition } from '../index';
import { ProfilesPage } from './ProfilesPage';

export const page: PageDefinition = {
  id: 'profiles',
  titleKey: 'profiles.tab',
  order: 40,
  component: ProfilesPage,
};
