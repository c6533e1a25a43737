// The state of the core's lighting server (GetSdkServer, SdkServerChanged): which programs are
// connected and which devices each of them drives now.
import { isObject, parseJson } from './json';

export interface SdkClient {
  id: number;
  name: string;
  peer: string;
  devices: string[];
}

export interface SdkServerState {
  enabled: boolean;
  listening: boolean;
  address: string;
  port: number;
  error: string;
  clients: SdkClient[];
}

const text = (v: unknown): string => (typeof v === 'string' ? v : '');

// The answer of GetSdkServer or the text of SdkServerChanged; null when it is no state.
export function parseSdkServer(answer: unknown): SdkServerState | null {
  const data = parseJson(answer);
  if (!isObject(data)) return null;
  const clients: SdkClient[] = [];
  if (Array.isArray(data.clients))
    for (const c of data.clients) {
      if (!isObject(c)) continue;
      clients.push({
        id: typeof c.id === 'number' ? c.id : clients.length,
        name: text(c.name),
        peer: text(c.peer),
        devices: Array.isArray(c.devices) ? c.devices.filter((d): d is string => typeof d === 'string' && d !== '') : [],
      });
    }
  return {
    enabled: data.enabled === true,
    listening: data.listening === true,
    address: text(data.address),
    port: typeof data.port === 'number' && Number.isInteger(data.port) && data.port >= 0 && data.port <= 65535 ? data.port : 0,
    error: text(data.error),
    clients,
  };
}

// The client that drives the device at this path now, if any.
export function controllerOf(state: SdkServerState | null, devicePath: string | undefined): SdkClient | null {
  if (!state || !devicePath) return null;
  return state.clients.find((c) => c.devices.indexOf(devicePath) >= 0) ?? null;
}

// "address:port", with an IPv6 address in brackets.
export function endpointText(address: string, port: number): string {
  return address.indexOf(':') >= 0 ? `[${address}]:${port}` : `${address}:${port}`;
}
