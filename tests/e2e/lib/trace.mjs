// The simulator's call trace (one JSON line per device library call) and the expected calls
// for a configuration document, taken from torvanix-ctl running the same native code.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { programDir, waitUntil, withTimeout } from './util.mjs';

// Calls that change a device. Listing, reads and the library set-up calls made while listing
// are left out: they depend on when the page asks, not on what the user did.
export const WRITE_CALLS = new Set([
  'dcWriteProperty', 'dcWritePropertyForQPA', 'dcWriteStartTr', 'dcWriteHFDData', 'Reset',
  'dcNotifyDevice', 'UpdateVersion', 'SetLED', 'SetKeyColor', 'SetMacro', 'SetKey',
  'new_key_action', 'SetKeyMatrix', 'SetConfig',
]);

export function readTrace(file, fromOffset = 0) {
  let text;
  try {
    const fd = fs.openSync(file, 'r');
    try {
      const size = fs.fstatSync(fd).size;
      const buf = Buffer.alloc(Math.max(0, size - fromOffset));
      fs.readSync(fd, buf, 0, buf.length, fromOffset);
      text = buf.toString('utf8');
    } finally {
      fs.closeSync(fd);
    }
  } catch (e) {
    if (e.code === 'ENOENT') return [];
    throw e;
  }
  // A line is written in one piece; only a line still being written lacks its newline.
  const lines = text.split('\n');
  lines.pop();
  return lines.filter(Boolean).map((l) => JSON.parse(l));
}

// One write as a comparable text: library, entry, path, address, count, bytes, other values.
export function describeCall(c) {
  const parts = [`${c.lib}.${c.call}`];
  if (c.path !== undefined) parts.push(c.path);
  if (c.arg !== undefined) parts.push(`arg=${c.arg}`);
  if (c.count !== undefined) parts.push(`count=${c.count}`);
  if (c.bytes !== undefined) parts.push(`bytes=${c.bytes}`);
  if (c.args !== undefined) parts.push(`args=${c.args.join(',')}`);
  return parts.join(' ');
}

export const writesOf = (lines) => lines.filter((l) => WRITE_CALLS.has(l.call)).map(describeCall);

export class Trace {
  constructor(file) {
    this.file = file;
  }
  size() {
    try {
      return fs.statSync(this.file).size;
    } catch {
      return 0;
    }
  }
  // A point in the trace; later reads see only what came after it.
  mark() {
    return { offset: this.size(), time: Date.now() };
  }
  since(mark) {
    return readTrace(this.file, mark ? mark.offset : 0);
  }
  writesSince(mark) {
    return writesOf(this.since(mark));
  }
  // Waits until the writes after `mark` stop changing for `quietMs` and there is at least
  // `atLeast` of them; answers the lines after the mark.
  async settle(mark, { atLeast = 1, quietMs = 700, timeout = 15000 } = {}) {
    let seen = -1;
    let stableSince = Date.now();
    return waitUntil(
      () => {
        const lines = this.since(mark);
        const n = writesOf(lines).length;
        if (n !== seen) {
          seen = n;
          stableSince = Date.now();
          return null;
        }
        return n >= atLeast && Date.now() - stableSince >= quietMs ? lines : null;
      },
      { timeout, interval: 100, what: `at least ${atLeast} device write(s) in ${this.file}` },
    );
  }
}

// Runs torvanix-ctl on `document` against the same device set and a copy of the device state
// at `stateFile` (if any), and answers the device writes it made. `ctlArgs` names another
// command that reads standard input (e.g. a macro table: ['macro', identity, '-']).
export async function expectedWrites(document, { devicesFile, stateFile, ctlArgs = ['apply', '-'] } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tvx-expect-'));
  try {
    const state = path.join(dir, 'state.json');
    if (stateFile && fs.existsSync(stateFile)) fs.copyFileSync(stateFile, state);
    const trace = path.join(dir, 'trace.jsonl');
    const env = { ...process.env, TORVANIX_SIM_STATE: state, TORVANIX_SIM_TRACE: trace,
      TMPDIR: dir, HOME: dir };
    delete env.TORVANIX_SIM_FAULTS;
    if (devicesFile) env.TORVANIX_SIM_DEVICES = devicesFile;
    else delete env.TORVANIX_SIM_DEVICES;
    const child = spawn(path.join(programDir, 'torvanix-ctl'), ['--no-pause', ...ctlArgs], {
      env, stdio: ['pipe', 'pipe', 'pipe'],
    });
    let out = '';
    let err = '';
    child.stdout.on('data', (d) => { out += d; });
    child.stderr.on('data', (d) => { err += d; });
    child.stdin.end(document);
    const code = await withTimeout(
      new Promise((resolve, reject) => {
        child.on('error', reject);
        child.on('close', resolve);
      }),
      30000, `torvanix-ctl ${ctlArgs[0]}`,
    ).catch((e) => {
      child.kill('SIGKILL');
      throw e;
    });
    if (code !== 0) throw new Error(`torvanix-ctl ${ctlArgs[0]} failed (${code}): ${err}${out}`);
    return { writes: writesOf(readTrace(trace)), events: out.split('\n').filter(Boolean).map((l) => JSON.parse(l)) };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}
