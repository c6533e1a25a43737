import { useSession } from '../../model/session';
import { t } from '../../i18n';
import type { PageProps } from '../index';
import { FiguresPanel } from './FiguresPanel';
import { MonitorSwitch } from './MonitorSwitch';
import { PicturePanel } from './PicturePanel';

export function ScreenPage({ device, template }: PageProps) {
  const session = useSession(device, template);
  if (!session) return <p class="page-note">{t('screen.noDocument')}</p>;
  return (
    <div class="screen-page">
      <PicturePanel session={session} />
      <FiguresPanel />
      <MonitorSwitch />
    </div>
  );
}
