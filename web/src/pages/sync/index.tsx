import type { PageDefinition } from '../index';
import { canFollow } from './syncDocument';
import { SyncPage } from './SyncPage';
import './sync.css';

// Shown on every device that can follow; the page itself lists all of them.
export const page: PageDefinition = {
  id: 'sync',
  titleKey: 'page.sync',
  order: 45,
  component: SyncPage,
  available: (_template, device) => canFollow(device.record.Version),
};
