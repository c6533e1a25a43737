// Starts the real program on a virtual X server with remote debugging on loopback, in a
// temporary home of its own (state, cache, single-instance socket, simulated devices), and
// always takes both down again.
import { execFile, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import CDP from 'chrome-remote-interface';
import { Page } from './page.mjs';
import { Trace } from './trace.mjs';
import { programDir, sleep, waitUntil, withTimeout } from './util.mjs';

const live = new Set();

// Process groups still running when node leaves for any reason are killed outright.
function killGroup(child, signal) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  try {
    process.kill(-child.pid, signal);
  } catch {
    try {
      child.kill(signal);
    } catch {
      // already gone
    }
  }
}
process.on('exit', () => {
  for (const child of live) killGroup(child, 'SIGKILL');
});
for (const sig of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.on(sig, () => {
    for (const child of live) killGroup(child, 'SIGKILL');
    process.exit(128 + os.constants.signals[sig]);
  });
}

// Programs that still run with this run's temporary folder (e.g. started again by the one
// we stopped) are killed with their process groups.
function killStrays(tmp) {
  const mark = Buffer.from(`TMPDIR=${tmp}\0`);
  let entries = [];
  try {
    entries = fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e));
  } catch {
    return;
  }
  for (const pid of entries) {
    if (Number(pid) === process.pid) continue;
    try {
      if (!fs.readFileSync(`/proc/${pid}/environ`).includes(mark)) continue;
      const pgid = Number(fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ')[2]);
      process.kill(pgid > 1 && pgid !== process.pid ? -pgid : Number(pid), 'SIGKILL');
    } catch {
      // gone meanwhile, or not ours to read
    }
  }
}

function exited(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => child.once('exit', () => resolve()));
}

async function stopChild(child, graceMs = 3000) {
  if (!child) return;
  killGroup(child, 'SIGTERM');
  try {
    await withTimeout(exited(child), graceMs, 'exit after SIGTERM');
  } catch {
    killGroup(child, 'SIGKILL');
    await withTimeout(exited(child), 5000, 'exit after SIGKILL').catch(() => {});
  }
  live.delete(child);
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.unref();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

export function which(program) {
  return (process.env.PATH || '').split(':').some((dir) => {
    try {
      fs.accessSync(path.join(dir, program), fs.constants.X_OK);
      return true;
    } catch {
      return false;
    }
  });
}

// Xvfb tells the display it chose through -displayfd once it accepts clients.
async function startXvfb(logFile) {
  const log = fs.openSync(logFile, 'a');
  const child = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1920x1080x24', '-dpi', '96', '-nolisten', 'tcp',
    '-noreset'], { stdio: ['ignore', log, log, 'pipe'], detached: true });
  fs.closeSync(log);
  live.add(child);
  let text = '';
  const display = await withTimeout(new Promise((resolve, reject) => {
    child.on('error', reject);
    child.on('exit', (code) => reject(new Error(`Xvfb ended (${code}); see ${logFile}`)));
    child.stdio[3].on('data', (d) => {
      text += d;
      if (text.includes('\n')) resolve(`:${text.trim()}`);
    });
  }), 15000, 'Xvfb to accept clients').catch(async (e) => {
    await stopChild(child);
    throw e;
  });
  child.removeAllListeners('exit');
  return { child, display };
}

export function run(program, args, env, timeout = 10000) {
  return new Promise((resolve, reject) => {
    execFile(program, args, { env, timeout, killSignal: 'SIGKILL' }, (err, stdout, stderr) => {
      if (err) reject(new Error(`${program} ${args.join(' ')}: ${err.message} ${stderr}`));
      else resolve(stdout);
    });
  });
}

export const DEMO_DEVICES = path.join(programDir, 'sim-devices.json');

// The processes whose parent is `pid`, with the name of their program.
function childrenOf(pid) {
  const out = [];
  let entries = [];
  try {
    entries = fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e));
  } catch {
    return out;
  }
  for (const entry of entries) {
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const open = stat.indexOf('(');
      const close = stat.lastIndexOf(')');
      const fields = stat.slice(close + 2).split(' ');
      if (Number(fields[1]) === pid && fields[0] !== 'Z') out.push({ pid: Number(entry), name: stat.slice(open + 1, close) });
    } catch {
      // gone meanwhile
    }
  }
  return out;
}

export class App {
  // devices: a device set (array of interfaces) or the name of a device set file.
  // offscreen: no X server (no keyboard input then), as the figures are taken.
  // tray: a tray (trayer) on the display, so closing the window hides it instead of quitting.
  // args: extra command-line arguments of the program.
  static async launch({ devices = DEMO_DEVICES, env = {}, observeFromStart = true, name = 'app', offscreen = false, onConnected = null, tray = false, args = [] } = {}) {
    for (const tool of offscreen ? [] : ['Xvfb', 'xdotool', ...(tray ? ['trayer'] : [])]) {
      if (!which(tool)) throw new Error(`${tool} is missing: run scripts/deps.sh`);
    }
    const program = path.join(programDir, 'torvanix');
    if (!fs.existsSync(program)) throw new Error(`${program} is not built`);
    const app = new App();
    app.dir = fs.mkdtempSync(path.join(os.tmpdir(), `tvx-e2e-${name}-`));
    try {
      app.offscreen = offscreen;
      app.onConnected = onConnected;
      app.tray = tray;
      app.args = args;
      await app.#start(program, devices, env, observeFromStart);
    } catch (e) {
      const log = app.programLog();
      await app.stop();
      e.message += log ? `\n--- program output ---\n${log.slice(-4000)}` : '';
      throw e;
    }
    return app;
  }

  async #start(program, devices, extraEnv, observeFromStart) {
    const dir = this.dir;
    for (const sub of ['tmp', 'home', 'runtime']) fs.mkdirSync(path.join(dir, sub), { mode: 0o700 });
    this.devicesFile = path.join(dir, 'devices.json');
    if (Array.isArray(devices)) this.setDevices(devices);
    else fs.copyFileSync(devices, this.devicesFile);
    this.stateFile = path.join(dir, 'state.json');
    this.trace = new Trace(path.join(dir, 'trace.jsonl'));

    if (!this.offscreen) {
      const x = await startXvfb(path.join(dir, 'xvfb.log'));
      this.xvfb = x.child;
      this.display = x.display;
      if (this.tray) await this.#startTray();
    }
    this.port = await freePort();

    const env = { ...process.env };
    // ./test runs everything offscreen; this run needs the X server for real input.
    for (const k of ['QT_QPA_PLATFORM', 'WAYLAND_DISPLAY', 'TORVANIX_SIM_FAULTS', 'TORVANIX_SCREENSHOT']) delete env[k];
    Object.assign(env, {
      QT_QPA_PLATFORM: this.offscreen ? 'offscreen' : 'xcb',
      // The offscreen screen reports 100 dpi, which would scale the window by 1.04 and put
      // clicks off by that factor; both runs see a 96-dpi screen like the Xvfb one.
      QT_FONT_DPI: '96',
      QT_QUICK_BACKEND: 'software',
      QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${this.port}`,
      TMPDIR: path.join(dir, 'tmp'),
      HOME: path.join(dir, 'home'),
      XDG_CONFIG_HOME: path.join(dir, 'home', '.config'),
      XDG_DATA_HOME: path.join(dir, 'home', '.local', 'share'),
      XDG_CACHE_HOME: path.join(dir, 'home', '.cache'),
      XDG_RUNTIME_DIR: path.join(dir, 'runtime'),
      TORVANIX_SIM_DEVICES: this.devicesFile,
      TORVANIX_SIM_STATE: this.stateFile,
      TORVANIX_SIM_TRACE: this.trace.file,
      TORVANIX_NO_PAUSE: '1',
      LANG: 'en_US.UTF-8',
      LANGUAGE: 'en_US',
      LC_ALL: 'en_US.UTF-8',
    }, extraEnv);
    if (this.display) env.DISPLAY = this.display;
    else delete env.DISPLAY;
    if (process.getuid && process.getuid() === 0) env.QTWEBENGINE_DISABLE_SANDBOX = '1';
    this.env = env;

    const log = fs.openSync(path.join(dir, 'program.log'), 'a');
    this.startedAt = Date.now();
    this.child = spawn(program, this.args, { env, cwd: programDir, stdio: ['ignore', log, log], detached: true });
    fs.closeSync(log);
    live.add(this.child);
    this.child.on('exit', (code, signal) => {
      this.exit = { code, signal };
    });

    await this.#connect(observeFromStart);
  }

  // The debugger on the main page of the window program now running.
  async #connect(reload) {
    const target = await waitUntil(async () => {
      if (this.exit) throw new Error(`the program ended early (${JSON.stringify(this.exit)})`);
      const targets = await CDP.List({ host: '127.0.0.1', port: this.port });
      return targets.find((t) => t.type === 'page' && /client\.html/.test(t.url));
    }, { timeout: 30000, interval: 100, what: 'the main page to appear on the debugging port' });
    this.client = await withTimeout(CDP({ host: '127.0.0.1', port: this.port, target }), 10000, 'debugger connection');
    if (this.onConnected) await this.onConnected(this.client);
    this.page = new Page(this);
    await this.page.attach({ reload });
  }

  // After the window program ended and another one started: the new one's main page, watched
  // from the start only as far as the page had not loaded yet.
  async reconnect() {
    if (this.client) await withTimeout(this.client.close(), 3000, 'debugger close').catch(() => {});
    this.client = null;
    this.window = null;
    await this.#connect(false);
  }

  // An XEmbed tray on the display, as desktops have one.
  async #startTray() {
    const log = fs.openSync(path.join(this.dir, 'trayer.log'), 'a');
    this.trayer = spawn('trayer', ['--edge', 'bottom', '--align', 'right', '--widthtype', 'request', '--height', '24'],
      { env: { ...process.env, DISPLAY: this.display }, stdio: ['ignore', log, log], detached: true });
    fs.closeSync(log);
    live.add(this.trayer);
    await waitUntil(async () => (await this.xdotool(['search', '--class', 'trayer']).catch(() => '')).trim(),
      { timeout: 10000, interval: 100, what: 'the tray to appear' });
  }

  // The window program ("torvanix-ui") the core runs now; null while it runs none.
  windowPid() {
    if (!this.child) return null;
    const face = childrenOf(this.child.pid).find((p) => p.name === 'torvanix-ui');
    return face ? face.pid : null;
  }

  // Starts the program a second time, as a user does: the running one shows its window.
  async startAgain() {
    await run(path.join(programDir, 'torvanix'), [], this.env, 30000);
  }

  // Waits until the page has stopped talking to the devices: nothing marked busy and no
  // library call for `quietMs`. Reads answer asynchronously; values shown before are stale.
  async quiet({ quietMs = 400, timeout = 15000 } = {}) {
    let size = -1;
    let since = Date.now();
    await waitUntil(async () => {
      const now = this.trace.size();
      if (now !== size) {
        size = now;
        since = Date.now();
        return false;
      }
      if (Date.now() - since < quietMs) return false;
      // The page marks what it is still reading as busy.
      return !(await this.page.eval('document.querySelector(\'[aria-busy="true"]\') !== null'));
    }, { timeout, interval: 100, what: 'the page to finish reading the device' });
  }

  programLog() {
    try {
      return fs.readFileSync(path.join(this.dir, 'program.log'), 'utf8');
    } catch {
      return '';
    }
  }

  // Replaces the device set the way a test plugs or unplugs: a new file renamed over the old.
  setDevices(devices) {
    const tmp = `${this.devicesFile}.new`;
    fs.writeFileSync(tmp, JSON.stringify(devices, null, 1));
    fs.renameSync(tmp, this.devicesFile);
  }
  devices() {
    return JSON.parse(fs.readFileSync(this.devicesFile, 'utf8'));
  }

  xdotool(args, timeout = 10000) {
    return run('xdotool', args, { ...process.env, DISPLAY: this.display }, timeout);
  }

  // The program's top-level window; keyboard input goes to it through the X server.
  async windowId() {
    if (this.window && this.window.pid === this.windowPid()) return this.window.id;
    const out = await waitUntil(async () => {
      const pid = this.windowPid();
      if (!pid) return null;
      const ids = (await this.xdotool(['search', '--onlyvisible', '--pid', String(pid)]).catch(() => ''))
        .split('\n').filter(Boolean);
      return ids.length ? { pid, ids } : null;
    }, { timeout: 10000, interval: 200, what: 'the program window on the X server' });
    this.window = { pid: out.pid, id: out.ids[out.ids.length - 1] };
    return this.window.id;
  }

  // The visible windows of the window program.
  async visibleWindows() {
    const pid = this.windowPid();
    if (!pid) return [];
    return (await this.xdotool(['search', '--onlyvisible', '--pid', String(pid)]).catch(() => ''))
      .split('\n').filter(Boolean);
  }

  async focusWindow() {
    const id = await this.windowId();
    await this.xdotool(['windowfocus', '--sync', id]);
  }

  // Answers the file dialog the program opens next (save or open) with `file`, typed into
  // its name field as a user would.
  async answerFileDialog(file, { timeout = 15000 } = {}) {
    const main = await this.windowId();
    const dialog = await waitUntil(async () => {
      const ids = (await this.visibleWindows()).filter((id) => id !== main);
      return ids[ids.length - 1];
    }, { timeout, interval: 200, what: 'a file dialog' });
    await this.xdotool(['windowfocus', '--sync', dialog]);
    await this.xdotool(['key', '--delay', '40', 'ctrl+a']);
    await this.xdotool(['type', '--delay', '20', file]);
    await this.xdotool(['key', 'Return']);
    await waitUntil(async () => !(await this.visibleWindows()).includes(dialog),
      { timeout: 5000, interval: 100, what: 'the file dialog to close' });
  }

  async stop() {
    if (this.stopped) return;
    this.stopped = true;
    if (this.client) await withTimeout(this.client.close(), 3000, 'debugger close').catch(() => {});
    await stopChild(this.child);
    await stopChild(this.trayer);
    await stopChild(this.xvfb);
    if (this.dir) killStrays(path.join(this.dir, 'tmp'));
    if (this.dir && !process.env.TORVANIX_E2E_KEEP) {
      // A browser helper may still be finishing a file; a leftover folder fails nothing.
      try {
        fs.rmSync(this.dir, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 });
      } catch (e) {
        process.stderr.write(`e2e: could not remove ${this.dir}: ${e.message}\n`);
      }
    }
  }
}

export { sleep };
