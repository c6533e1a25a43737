import { describe, expect, it } from 'vitest';
import {
  addRule,
  parseCoreSettings,
  parsePort,
  renameRule,
  withBattery,
  withRuleProfile,
  type FocusSettings,
} from '../../src/desktop/coreSettings';
import { controllerOf, endpointText, parseSdkServer } from '../../src/desktop/server';

describe('core settings answers', () => {
  it('survive bad answers: nothing usable gives no section, a bad section leaves only itself out', () => {
    for (const bad of ['', 'failed', '[]', 'null', '{"battery":', 42])
      expect(parseCoreSettings(bad), String(bad)).toEqual({});
    const some = parseCoreSettings(JSON.stringify({ battery: 'on', sdk: { enabled: true, port: 70000 }, other: {} }));
    expect(some.battery).toBeUndefined();
    expect(some.focus).toBeUndefined();
    expect(some.sdk).toEqual({ enabled: true, port: 6742, allowNetwork: false });
  });

  it('keep the battery thresholds in order', () => {
    const swapped = parseCoreSettings(JSON.stringify({ battery: { notices: false, low: 5, critical: 15 } })).battery;
    expect(swapped).toEqual({ notices: false, low: 15, critical: 5 });
    const b = { notices: true, low: 20, critical: 10 };
    // Moved past the other, a threshold pushes it along.
    expect(withBattery(b, { critical: 20 })).toEqual({ notices: true, low: 21, critical: 20 });
    expect(withBattery(b, { low: 10 })).toEqual({ notices: true, low: 10, critical: 9 });
    expect(withBattery(b, { critical: 49 })).toEqual({ notices: true, low: 50, critical: 49 });
    expect(withBattery(b, { low: 51 })).toBeNull();
    expect(withBattery(b, { critical: 50 })).toBeNull();
    expect(withBattery(b, { critical: 19 })).toEqual({ notices: true, low: 20, critical: 19 });
  });

  it('read rules leniently: rules without an application and profiles out of range are dropped', () => {
    const focus = parseCoreSettings(
      JSON.stringify({
        focus: {
          enabled: true,
          rules: [{ app: ' Firefox ', profiles: { 'TOB-NIR-V1.2.0': 2, X: 17, Y: '3' } }, { app: '' }, 'steam', { profiles: {} }],
          default: { 'TOB-NIR-V1.2.0': 1, Z: 0 },
        },
      }),
    ).focus;
    expect(focus).toEqual({
      enabled: true,
      notify: false,
      rules: [{ app: 'Firefox', profiles: { 'TOB-NIR-V1.2.0': 2 } }],
      default: { 'TOB-NIR-V1.2.0': 1 },
    });
  });
});

describe('editing focus rules', () => {
  const base: FocusSettings = {
    enabled: true,
    notify: false,
    rules: [{ app: 'firefox', profiles: { 'tob-nir-v1.2.0': 2, 'QPA-RTE-V1.1.0': 3 } }],
    default: { 'QPA-RTE-V1.1.0': 1 },
  };

  it('change one device and keep the others, connected or not', () => {
    // The core may answer the identity in another case; the edit must replace, not add.
    const next = withRuleProfile(base, 0, 'TOB-NIR-V1.2.0', 4);
    expect(next.rules[0].profiles).toEqual({ 'QPA-RTE-V1.1.0': 3, 'TOB-NIR-V1.2.0': 4 });
    const left = withRuleProfile(next, 0, 'TOB-NIR-V1.2.0', null);
    expect(left.rules[0].profiles).toEqual({ 'QPA-RTE-V1.1.0': 3 });
    expect(withRuleProfile(base, -1, 'TOB-NIR-V1.2.0', 2).default).toEqual({ 'QPA-RTE-V1.1.0': 1, 'TOB-NIR-V1.2.0': 2 });
    expect(base.rules[0].profiles).toEqual({ 'tob-nir-v1.2.0': 2, 'QPA-RTE-V1.1.0': 3 });
  });

  it('refuse an empty application and a second rule for the same one', () => {
    expect(addRule(base, '  ')).toBe('empty');
    expect(addRule(base, 'FireFox')).toBe('duplicate');
    const added = addRule(base, ' steam ');
    expect(typeof added !== 'string' && added.rules.map((r) => r.app)).toEqual(['firefox', 'steam']);
    if (typeof added === 'string') return;
    expect(renameRule(added, 1, 'FIREFOX')).toBe('duplicate');
    expect(renameRule(added, 0, 'Firefox')).not.toBe('duplicate');
  });
});

describe('lighting server state', () => {
  it('names the client that drives a device, and nothing for a bad state', () => {
    const state = parseSdkServer(
      JSON.stringify({
        enabled: true,
        listening: true,
        address: '::',
        port: 6742,
        clients: [{ id: 1, name: 'Player', peer: '127.0.0.1:40312', devices: ['/dev/hidraw3', 7] }, null],
      }),
    );
    expect(state?.clients).toEqual([{ id: 1, name: 'Player', peer: '127.0.0.1:40312', devices: ['/dev/hidraw3'] }]);
    expect(controllerOf(state, '/dev/hidraw3')?.name).toBe('Player');
    expect(controllerOf(state, '/dev/hidraw4')).toBeNull();
    expect(controllerOf(state, undefined)).toBeNull();
    expect(parseSdkServer('[]')).toBeNull();
    expect(endpointText('::', 6742)).toBe('[::]:6742');
    expect(endpointText('0.0.0.0', 6742)).toBe('0.0.0.0:6742');
  });

  it('takes only whole port numbers in range', () => {
    expect(parsePort(' 6743 ')).toBe(6743);
    for (const bad of ['', '0', '65536', '67.5', '1e3', '-1', 'port']) expect(parsePort(bad), bad).toBeNull();
  });
});
