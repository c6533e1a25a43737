import { t } from '../i18n';
import { loadPages, pagesFor, pagesStatus } from '../pages';
import { devices, listStatus, selectedDevice } from '../state/devices';
import { loadTemplate, templates } from '../state/templates';
import { ControlledBanner } from './ControlledBanner';
import { DeviceBar, deviceName } from './DeviceBar';
import { EmptyState } from './EmptyState';
import { PageTabs } from './PageTabs';
import { StatusArea } from './StatusArea';
import { TitleBar } from './TitleBar';
import { Welcome } from './Welcome';

function DeviceView() {
  const device = selectedDevice.value;
  if (!device) return null;
  const name = device.record.Version;
  const state = templates.value[name];
  if (!state || state.status === 'loading')
    return (
      <p class="page-note" aria-busy="true">
        {t('shell.loadingDevice')}
      </p>
    );
  if (state.status === 'error')
    return (
      <div class="page-note">
        <p>{t('shell.templateFailed')}</p>
        <button type="button" class="button" onClick={() => void loadTemplate(name).catch(() => undefined)}>
          {t('shell.tryAgain')}
        </button>
      </div>
    );
  if (state.status === 'missing')
    return <p class="page-note">{t('shell.notConfigurableLong', { name: deviceName(device) })}</p>;
  if (pagesStatus.value === 'error')
    return (
      <div class="page-note">
        <p>{t('shell.pagesFailed')}</p>
        <button type="button" class="button" onClick={() => void loadPages()}>
          {t('shell.tryAgain')}
        </button>
      </div>
    );
  if (pagesStatus.value !== 'ready')
    return (
      <p class="page-note" aria-busy="true">
        {t('shell.loadingDevice')}
      </p>
    );
  const list = pagesFor(state.template, device);
  if (list.length === 0) return <p class="page-note">{t('shell.nothingToConfigure')}</p>;
  return (
    <>
      <ControlledBanner device={device} />
      <PageTabs pages={list} device={device} template={state.template} />
    </>
  );
}

export function App() {
  const list = devices.value;

  const empty = list.length === 0 || listStatus.value === 'unavailable';
  return (
    <div class="app" data-screen={empty ? 'empty' : 'device'}>
      <TitleBar />
      {/* The devices stand in a column beside the pages: a row of cards ran out of room with a
          handful of devices, and the welcome sits over the pages so it never hides them. */}
      <div class="app-body">
        {empty ? null : <DeviceBar />}
        <div class="app-pages">
          <Welcome />
          {empty ? (
            <main class="main">
              <EmptyState />
            </main>
          ) : (
            <main class="main" aria-label={selectedDevice.value ? deviceName(selectedDevice.value) : undefined}>
              <DeviceView />
            </main>
          )}
        </div>
      </div>
      <StatusArea />
    </div>
  );
}
