import { describe, expect, it } from 'vitest';
import { parseMonitorInfo } from '../../../src/pages/screen/MonitorSwitch';

describe('monitor info answer', () => {
  it('keeps the reason only when the switch cannot be used, and refuses other answers', () => {
    expect(parseMonitorInfo('{"Status":"on","Available":"1","Reason":""}')).toEqual({ status: 'on', reason: '' });
    expect(parseMonitorInfo('{"Status":"off","Available":"0","Reason":"no uinput"}')).toEqual({
      status: 'off',
      reason: 'no uinput',
    });
    expect(parseMonitorInfo('{"Status":"off","Available":"0"}')?.reason).toBe('?');
    expect(parseMonitorInfo('off')).toBeNull();
    expect(parseMonitorInfo('{"Status":"maybe"}')).toBeNull();
  });
});
