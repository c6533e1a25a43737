#!/usr/bin/env node
// What the program costs while it lives in the tray and while its window is shown, printed,
// never asserted. Under Xvfb with an XEmbed tray (trayer), the demo devices with the device
// pauses on (TORVANIX_NO_PAUSE=0). The process tree is the program and every descendant
// (browser helpers, a separate window process), summed.
//   - start -> device bar holding the 9 demo devices (median of the starts)
//   - whole tree PSS with the window shown on the device page
//   - idle CPU of the tree with the window shown, nothing happening
//   - page query round trip (GetMonitorStatus from the page), p50 / p99
//   - whole tree PSS hidden in the tray for 10 s
//   - wake-ups of the program's main thread (context switches) and CPU of the tree, hidden
//   - whether the multimedia libraries are mapped
//   - tray click -> page usable (window shown, device bar complete, visible)
//   - client.html JS + CSS, gzip
// Usage: bench/footprint.sh [build folder] [starts, default 3]
// FOOTPRINT_IDLE_SECONDS shortens the two idle windows (default 60).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { createRequire } from 'node:module';
import { buildDir, freePort, programDir, sleep, waitUntil, withTimeout } from '../tests/e2e/lib/util.mjs';

// The debugger client comes with the end-to-end harness.
const CDP = createRequire(new URL('../tests/e2e/package.json', import.meta.url))('chrome-remote-interface');

const STARTS = Number(process.argv[2] || 3);
const IDLE_S = Number(process.env.FOOTPRINT_IDLE_SECONDS || 60);
const DEMO_CARDS = 9;
const QUERIES = 300;
const TICK = 100; // clock ticks per second of /proc/*/stat on Linux
const TRAY = { x: 12, y: 12 }; // the first icon of a 24-pixel tray in the screen's corner

const children = new Set();
const killAll = () => {
  for (const c of children) {
    try {
      process.kill(-c.pid, 'SIGKILL');
    } catch {
      // gone
    }
  }
};
process.on('exit', killAll);
for (const sig of ['SIGINT', 'SIGTERM']) process.on(sig, () => process.exit(1));

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const pct = (xs, p) => {
  const s = [...xs].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))];
};

function start(program, args, env, logFile, extra = {}) {
  const log = fs.openSync(logFile, 'a');
  const child = spawn(program, args, { env, stdio: ['ignore', log, log, ...(extra.fd3 ? ['pipe'] : [])], detached: true, cwd: extra.cwd });
  fs.closeSync(log);
  children.add(child);
  return child;
}

async function stop(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  const gone = new Promise((r) => child.once('exit', r));
  try {
    process.kill(-child.pid, 'SIGTERM');
  } catch {
    return;
  }
  await withTimeout(gone, 5000, 'exit').catch(() => {
    try {
      process.kill(-child.pid, 'SIGKILL');
    } catch {
      // gone
    }
  });
  children.delete(child);
}

// --- /proc ---------------------------------------------------------------------------------

function tree(root) {
  const parent = new Map();
  for (const e of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(e)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${e}/stat`, 'utf8');
      parent.set(Number(e), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
    } catch {
      // ended meanwhile
    }
  }
  const out = [root];
  for (let i = 0; i < out.length; i++) for (const [pid, pp] of parent) if (pp === out[i]) out.push(pid);
  return out;
}

const readOr = (file, fallback) => {
  try {
    return fs.readFileSync(file, 'utf8');
  } catch {
    return fallback;
  }
};

function pssKb(root) {
  let sum = 0;
  const per = [];
  for (const pid of tree(root)) {
    const m = /^Pss:\s+(\d+)/m.exec(readOr(`/proc/${pid}/smaps_rollup`, ''));
    if (!m) continue;
    sum += Number(m[1]);
    per.push(`${readOr(`/proc/${pid}/comm`, '?').trim()} ${Math.round(Number(m[1]) / 1024)}`);
  }
  return { sum, per };
}

function cpuTicks(root) {
  let sum = 0;
  for (const pid of tree(root)) {
    const stat = readOr(`/proc/${pid}/stat`, '');
    if (!stat) continue;
    const f = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    sum += Number(f[11]) + Number(f[12]); // utime, stime
  }
  return sum;
}

function switches(pid, tid = pid) {
  const s = readOr(`/proc/${pid}/task/${tid}/status`, '');
  const v = /voluntary_ctxt_switches:\s+(\d+)/.exec(s);
  const n = /nonvoluntary_ctxt_switches:\s+(\d+)/.exec(s);
  return (v ? Number(v[1]) : 0) + (n ? Number(n[1]) : 0);
}

function treeSwitches(root) {
  let sum = 0;
  for (const pid of tree(root)) {
    let tasks = [];
    try {
      tasks = fs.readdirSync(`/proc/${pid}/task`);
    } catch {
      continue;
    }
    for (const tid of tasks) sum += switches(pid, tid);
  }
  return sum;
}

const mapsMultimedia = (root) => tree(root).some((pid) => /libQt5Multimedia/.test(readOr(`/proc/${pid}/maps`, '')));

// --- the page ------------------------------------------------------------------------------

const BAR_DONE = `(() => {
  const nav = document.querySelector('nav');
  return !!nav && nav.querySelectorAll('button').length >= ${DEMO_CARDS};
})()`;

const BAR_PROBE = `new Promise((resolve) => {
  const now = () => performance.timeOrigin + performance.now();
  const done = () => ${BAR_DONE};
  if (done()) return resolve({ at: now(), late: true });
  const watch = new MutationObserver(() => {
    if (done()) { watch.disconnect(); resolve({ at: now(), late: false }); }
  });
  watch.observe(document, { childList: true, subtree: true });
})`;

const ROUND_TRIPS = `(async () => {
  const ask = () => new Promise((ok, no) => window.ClientRequest({ request: '{"FuncName":"GetMonitorStatus"}', onSuccess: ok, onFailure: (c, t) => no(new Error(t)) }));
  for (let i = 0; i < 20; i++) await ask();
  const times = [];
  for (let i = 0; i < ${QUERIES}; i++) {
    const t = performance.now();
    await ask();
    times.push(performance.now() - t);
  }
  return times;
})()`;

async function evaluate(client, expression) {
  const r = await client.Runtime.evaluate({ expression, awaitPromise: true, returnByValue: true });
  if (r.exceptionDetails) throw new Error(r.exceptionDetails.text);
  return r.result.value;
}

async function mainPage(port) {
  const targets = await CDP.List({ host: '127.0.0.1', port });
  return targets.find((t) => t.type === 'page' && /client\.html/.test(t.url));
}

// --- one run -------------------------------------------------------------------------------

async function launch(name) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), `tvx-footprint-${name}-`));
  for (const sub of ['tmp', 'home', 'runtime']) fs.mkdirSync(path.join(dir, sub), { mode: 0o700 });
  const xvfb = start('Xvfb', ['-displayfd', '3', '-screen', '0', '1920x1080x24', '-dpi', '96', '-nolisten', 'tcp', '-noreset'],
    process.env, path.join(dir, 'xvfb.log'), { fd3: true });
  let text = '';
  const display = await withTimeout(new Promise((resolve) => xvfb.stdio[3].on('data', (d) => {
    text += d;
    if (text.includes('\n')) resolve(`:${text.trim()}`);
  })), 15000, 'Xvfb');
  const xenv = { ...process.env, DISPLAY: display };
  const tray = start('trayer', ['--edge', 'top', '--align', 'left', '--widthtype', 'pixel', '--width', '24', '--heighttype', 'pixel',
    '--height', '24', '--SetDockType', 'false', '--expand', 'false'], xenv, path.join(dir, 'trayer.log'));
  await sleep(500);
  const port = await freePort();
  fs.copyFileSync(path.join(programDir, 'sim-devices.json'), path.join(dir, 'devices.json'));
  const env = { ...xenv };
  for (const k of ['QT_QPA_PLATFORM', 'WAYLAND_DISPLAY', 'TORVANIX_SIM_FAULTS', 'TORVANIX_SCREENSHOT']) delete env[k];
  Object.assign(env, {
    QT_QPA_PLATFORM: 'xcb', QT_FONT_DPI: '96', QT_QUICK_BACKEND: 'software',
    QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`,
    TMPDIR: path.join(dir, 'tmp'), HOME: path.join(dir, 'home'),
    XDG_CONFIG_HOME: path.join(dir, 'home', '.config'), XDG_DATA_HOME: path.join(dir, 'home', '.local', 'share'),
    XDG_CACHE_HOME: path.join(dir, 'home', '.cache'), XDG_RUNTIME_DIR: path.join(dir, 'runtime'),
    TORVANIX_SIM_DEVICES: path.join(dir, 'devices.json'), TORVANIX_SIM_STATE: path.join(dir, 'state.json'),
    TORVANIX_NO_PAUSE: '0', LANG: 'en_US.UTF-8', LANGUAGE: 'en_US', LC_ALL: 'en_US.UTF-8',
  });
  if (process.getuid && process.getuid() === 0) env.QTWEBENGINE_DISABLE_SANDBOX = '1';
  const t0 = Date.now();
  const program = start(path.join(programDir, 'torvanix'), [], env, path.join(dir, 'program.log'), { cwd: programDir });
  const target = await waitUntil(() => mainPage(port), { timeout: 30000, interval: 20, what: 'the main page' });
  const pageAt = Date.now() - t0;
  const client = await CDP({ host: '127.0.0.1', port, target });
  let bar;
  for (;;) {
    bar = await evaluate(client, BAR_PROBE).catch(() => null);
    if (bar) break;
    await sleep(5); // the page was being replaced by its load; ask again
  }
  const run = { dir, display, port, program, client, target, xvfb, tray, bar: { ms: bar.at - t0, late: bar.late, page: pageAt } };
  run.stop = async () => {
    await withTimeout(client.close(), 3000, 'close').catch(() => {});
    await stop(program);
    await stop(tray);
    await stop(xvfb);
    fs.rmSync(dir, { recursive: true, force: true });
  };
  return run;
}

async function idle(root, seconds) {
  const c0 = cpuTicks(root);
  const w0 = switches(root);
  const a0 = treeSwitches(root);
  await sleep(seconds * 1000);
  return {
    cpu: ((cpuTicks(root) - c0) / TICK / seconds) * 100,
    mainWakeups: switches(root) - w0,
    allWakeups: treeSwitches(root) - a0,
  };
}

async function trayClickToUsable(run) {
  const t0 = Date.now();
  await new Promise((resolve) => {
    const x = spawn('xdotool', ['mousemove', String(TRAY.x), String(TRAY.y), 'click', '1'], { env: { ...process.env, DISPLAY: run.display } });
    x.on('exit', resolve);
  });
  let client = run.client;
  let targetId = run.target.id;
  await waitUntil(async () => {
    const t = await mainPage(run.port).catch(() => null);
    if (!t) return false;
    if (t.id !== targetId) {
      // A window process started afresh: its page is a new target.
      await withTimeout(client.close(), 1000, 'close').catch(() => {});
      client = await CDP({ host: '127.0.0.1', port: run.port, target: t });
      targetId = t.id;
      run.client = client;
    }
    return evaluate(client, `document.visibilityState === 'visible' && ${BAR_DONE}`).catch(() => false);
  }, { timeout: 20000, interval: 10, what: 'the page after the tray click' });
  return Date.now() - t0;
}

function pageSize() {
  const root = path.join(buildDir, 'web-dist', 'Torvanix');
  const html = fs.readFileSync(path.join(root, 'client.html'), 'utf8');
  const gz = (f) => zlib.gzipSync(fs.readFileSync(f), { level: 9 }).length;
  const named = [...html.matchAll(/(?:src|href)="([^"]+\.(?:js|css))"/g)].map((m) => path.resolve(root, m[1]));
  const seen = new Set();
  const add = (f) => {
    if (seen.has(f) || !fs.existsSync(f)) return;
    seen.add(f);
    if (!f.endsWith('.js')) return;
    for (const m of fs.readFileSync(f, 'utf8').matchAll(/["'`]\.\/([\w.-]+\.(?:js|css))["'`]/g)) add(path.join(path.dirname(f), m[1]));
  };
  named.forEach(add);
  return {
    named: named.reduce((s, f) => s + gz(f), 0),
    all: [...seen].reduce((s, f) => s + gz(f), 0),
  };
}

const kB = (n) => `${(n / 1024).toFixed(1)} kB`;
const MB = (kb) => `${(kb / 1024).toFixed(0)} MB`;

const size = pageSize();
const bars = [];
let long = null;
for (let i = 0; i < STARTS; i++) {
  const run = await launch(`start${i}`);
  try {
    bars.push(run.bar);
    if (i === STARTS - 1) {
      long = {};
      const root = run.program.pid;
      await sleep(3000);
      long.shownPss = pssKb(root);
      long.shownIdle = await idle(root, IDLE_S);
      const times = await evaluate(run.client, ROUND_TRIPS);
      long.rtt = { p50: pct(times, 50), p99: pct(times, 99) };
      await evaluate(run.client, `window.ClientRequest({ request: '{"FuncName":"CloseX"}' }), true`);
      await sleep(10000);
      long.hiddenPss = pssKb(root);
      long.hiddenIdle = await idle(root, IDLE_S);
      long.multimedia = mapsMultimedia(root);
      long.trayClick = await trayClickToUsable(run).catch((e) => `failed: ${e.message}`);
    }
  } finally {
    await run.stop();
  }
}

console.log(`start -> device bar with ${DEMO_CARDS} devices (device pauses on): median ${median(bars.map((b) => b.ms)).toFixed(0)} ms of ${bars.length} (${bars.map((b) => `${b.ms.toFixed(0)}${b.late ? '*' : ''}`).join(', ')}; * = already complete when the debugger connected; page target listed after ${bars.map((b) => b.page).join(', ')} ms)`);
console.log(`whole tree PSS, window shown on the device page: ${MB(long.shownPss.sum)} (${long.shownPss.per.join(', ')})`);
console.log(`idle, window shown, ${IDLE_S} s: CPU ${long.shownIdle.cpu.toFixed(2)} % of a core, main-thread wake-ups ${long.shownIdle.mainWakeups}, all threads ${long.shownIdle.allWakeups}`);
console.log(`page query round trip (GetMonitorStatus, ${QUERIES}): p50 ${long.rtt.p50.toFixed(3)} ms, p99 ${long.rtt.p99.toFixed(3)} ms`);
console.log(`whole tree PSS, hidden in the tray for 10 s: ${MB(long.hiddenPss.sum)} (${long.hiddenPss.per.join(', ')})`);
console.log(`idle, hidden, ${IDLE_S} s: CPU ${long.hiddenIdle.cpu.toFixed(2)} % of a core, main-thread wake-ups ${long.hiddenIdle.mainWakeups}, all threads ${long.hiddenIdle.allWakeups}`);
console.log(`multimedia libraries mapped (no music played): ${long.multimedia ? 'yes' : 'no'}`);
console.log(`tray click -> page usable: ${typeof long.trayClick === 'number' ? `${long.trayClick} ms` : long.trayClick}`);
console.log(`client.html JS + CSS, gzip: ${kB(size.named)} named by the page, ${kB(size.all)} with what they load later`);
