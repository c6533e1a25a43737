import { useEffect, useRef, useState } from 'preact/hooks';
import { t } from '../i18n';
import { useNative } from '../native/context';
import { coreSettings, saveSection } from '../state/coreSettings';
import { sdkServer } from '../state/desktop';
import { showMessage } from '../state/messages';
import { uniqueId } from '../ui/focus';
import { Toggle } from '../ui/Toggle';
import { parsePort, type SdkSettings } from './coreSettings';
import { endpointText } from './server';
import { SectionFrame } from './SectionFrame';

export function SdkSection() {
  return (
    <SectionFrame name="sdk" heading={t('desktop.sdk.heading')}>
      <SdkControls />
    </SectionFrame>
  );
}

function PortField({ value, onCommit }: { value: number; onCommit: (port: number) => void }) {
  const [text, setText] = useState(String(value));
  const [bad, setBad] = useState(false);
  const id = useRef(uniqueId('sdk-port')).current;
  const problemId = `${id}-problem`;
  useEffect(() => {
    setText(String(value));
    setBad(false);
  }, [value]);
  const commit = () => {
    const port = parsePort(text);
    setBad(port === null);
    if (port !== null && port !== value) onCommit(port);
  };
  return (
    <div class="sdk-port">
      <label for={id}>{t('desktop.sdk.port')}</label>
      <input
        id={id}
        type="text"
        inputMode="numeric"
        value={text}
        aria-invalid={bad ? 'true' : undefined}
        aria-describedby={bad ? problemId : undefined}
        onInput={(e) => setText((e.currentTarget as HTMLInputElement).value)}
        onKeyDown={(e) => {
          if (e.key === 'Enter') {
            e.preventDefault();
            commit();
          }
        }}
        onBlur={commit}
      />
      {bad ? (
        <p id={problemId} role="alert" class="desktop-problem">
          {t('desktop.sdk.badPort')}
        </p>
      ) : null}
    </div>
  );
}

function ServerState() {
  const state = sdkServer.value;
  if (!state) return null;
  let line: string;
  let failed = false;
  if (state.listening) line = t('desktop.sdk.listening', { endpoint: endpointText(state.address, state.port) });
  else if (state.error) {
    line = t('desktop.sdk.failed', { error: state.error });
    failed = true;
  } else if (state.enabled) line = t('desktop.sdk.notListening');
  else line = t('desktop.sdk.off');
  return (
    <>
      <p role="status" class={failed ? 'desktop-problem' : undefined}>
        {line}
      </p>
      {state.listening || state.clients.length ? (
        <div class="sdk-clients">
          <h4 id="settings-sdk-clients">{t('desktop.sdk.clients')}</h4>
          {state.clients.length ? (
            <ul aria-labelledby="settings-sdk-clients">
              {state.clients.map((c) => {
                const name = c.name || t('desktop.sdk.unnamed');
                return <li key={c.id}>{c.peer ? t('desktop.sdk.client', { name, peer: c.peer }) : name}</li>;
              })}
            </ul>
          ) : (
            <p class="page-note">{t('desktop.sdk.noClients')}</p>
          )}
        </div>
      ) : null}
    </>
  );
}

function SdkControls() {
  const native = useNative();
  const value = coreSettings.value.sdk;
  if (!value) return null;
  const save = (part: Partial<SdkSettings>) => {
    void saveSection('sdk', { ...value, ...part }, native).then((stored) => {
      if (!stored) showMessage(() => t('desktop.notSaved'), 'error');
    });
  };
  return (
    <>
      <Toggle label={t('desktop.sdk.enabled')} checked={value.enabled} onChange={(on) => save({ enabled: on })} />
      <label class="check-field">
        <input type="checkbox" checked={value.allowNetwork} onChange={(e) => save({ allowNetwork: (e.currentTarget as HTMLInputElement).checked })} />
        {t('desktop.sdk.allowNetwork')}
      </label>
      {value.allowNetwork ? (
        <p role="note" class="desktop-warning">
          {t('desktop.sdk.networkWarning')}
        </p>
      ) : null}
      <PortField value={value.port} onCommit={(port) => save({ port })} />
      <ServerState />
    </>
  );
}
