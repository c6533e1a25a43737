#!/usr/bin/env node
// Figures of the page in the real program (offscreen, simulated demo devices, no device
// pauses), printed, never asserted:
//   1. JavaScript + CSS of all pages together and of each page, gzip (fonts and pictures
//      excluded)
//   2. program start -> device bar showing every demo device, median of N starts; for the
//      hot-key panel and the help page, their address opened -> first paint of their content
//   3. a UI action -> its first device library call (page input time vs. trace time)
//   4. the longest page task during a scripted session (PerformanceObserver "longtask")
// Usage: bench/web/figures.sh [build folder] [starts]
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { App } from '../../tests/e2e/lib/app.mjs';
import { buildDir, sleep, waitUntil } from '../../tests/e2e/lib/util.mjs';

const STARTS = Number(process.argv[2] || process.env.TORVANIX_BENCH_STARTS || 10);
const DEMO_CARDS = 9;

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const ms = (x) => `${x.toFixed(1)} ms`;

function pageSize() {
  const root = path.join(buildDir, 'web-dist');
  const files = [];
  const walk = (dir) => {
    for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
      const p = path.join(dir, e.name);
      if (e.isDirectory()) walk(p);
      else if (/\.(m?js|css)$/.test(e.name)) files.push(p);
    }
  };
  walk(root);
  const gzipped = new Map();
  let raw = 0;
  let gz = 0;
  for (const f of files) {
    const data = fs.readFileSync(f);
    raw += data.length;
    gzipped.set(f, zlib.gzipSync(data, { level: 9 }).length);
    gz += gzipped.get(f);
  }
  // Per page: the scripts and styles its HTML names, and the scripts those import in turn
  // (statically or when first wanted), each counted once.
  const perPage = [];
  for (const html of ['client.html', 'quick_set.html', 'bbs/index.html']) {
    const file = path.join(root, 'Torvanix', html);
    if (!fs.existsSync(file)) continue;
    const seen = new Set();
    const add = (f) => {
      if (seen.has(f) || !gzipped.has(f)) return;
      seen.add(f);
      if (!f.endsWith('.js')) return;
      const text = fs.readFileSync(f, 'utf8');
      for (const m of text.matchAll(/["'`]\.\/([\w.-]+\.(?:js|css))["'`]/g)) add(path.join(path.dirname(f), m[1]));
    };
    const text = fs.readFileSync(file, 'utf8');
    for (const m of text.matchAll(/(?:src|href)="([^"]+\.(?:js|css))"/g)) add(path.resolve(path.dirname(file), m[1]));
    let pageGz = 0;
    for (const f of seen) pageGz += gzipped.get(f);
    perPage.push({ html, gz: pageGz, files: seen.size });
  }
  return { files: files.length, raw, gz, perPage };
}

// Opens each small page in the program's own engine (the main view navigates to it) and
// takes the first paint of its content, which the page renders in its first task.
async function smallPageStarts(app, runs) {
  const origin = await app.page.eval('location.origin');
  const out = {};
  for (const html of ['quick_set.html', 'bbs/index.html']) {
    const times = [];
    for (let i = 0; i < runs; i++) {
      const loaded = app.client.Page.loadEventFired();
      await app.client.Page.navigate({ url: `${origin}/local/Torvanix/${html}` });
      await loaded;
      const t = await waitUntil(() => app.page.eval(`(() => {
        const p = performance.getEntriesByName('first-contentful-paint')[0];
        return p && document.querySelector('h1') ? p.startTime : null;
      })()`), { timeout: 10000, what: `${html} painted` });
      times.push(t);
    }
    out[html] = times;
  }
  return out;
}

// Resolves with the wall-clock time at which the device bar first held every demo device.
// Installed the moment the debugger connects; a bar already complete then gives that moment
// (an upper bound), which the output says.
const BAR_PROBE = `new Promise((resolve) => {
  const now = () => performance.timeOrigin + performance.now();
  const done = () => {
    const nav = document.querySelector('nav');
    return nav && nav.querySelectorAll('button').length >= ${DEMO_CARDS};
  };
  if (done()) return resolve({ at: now(), late: true });
  const watch = new MutationObserver(() => {
    if (done()) { watch.disconnect(); resolve({ at: now(), late: false }); }
  });
  watch.observe(document, { childList: true, subtree: true });
})`;

async function startToDeviceBar() {
  let result;
  let connectedAt;
  const t0 = Date.now();
  const app = await App.launch({
    name: 'bench-start', offscreen: true, observeFromStart: false,
    onConnected: async (client) => {
      connectedAt = Date.now();
      for (;;) {
        const r = await client.Runtime.evaluate({ expression: BAR_PROBE, awaitPromise: true, returnByValue: true })
          .catch(() => null);
        if (r && r.result && r.result.value) {
          result = r.result.value;
          return;
        }
        await sleep(5); // the context was being replaced by the page load; ask again
      }
    },
  });
  await app.stop();
  return { ms: result.at - t0, late: result.late, page: connectedAt - t0 };
}

const INPUT_PROBE = `(() => {
  window.__tvxInputs = [];
  const now = () => performance.timeOrigin + performance.now();
  for (const type of ['mousedown', 'keydown']) document.addEventListener(type, () => __tvxInputs.push(now()), true);
  window.__tvxLongest = 0; window.__tvxLongTasks = 0; window.__tvxStep = 'start'; window.__tvxByStep = {};
  try {
    new PerformanceObserver((list) => {
      for (const e of list.getEntries()) {
        __tvxLongTasks++; __tvxLongest = Math.max(__tvxLongest, e.duration);
        __tvxByStep[__tvxStep] = Math.max(__tvxByStep[__tvxStep] || 0, e.duration);
      }
    }).observe({ entryTypes: ['longtask'] });
  } catch (e) { window.__tvxLongest = -1; }
})()`;

async function session() {
  const app = await App.launch({
    name: 'bench-session', offscreen: true, observeFromStart: true,
    onConnected: (client) => client.Page.addScriptToEvaluateOnNewDocument({ source: INPUT_PROBE }),
  });
  const { page } = app;
  try {
    await waitUntil(() => page.eval('typeof __tvxInputs === "object"'), { what: 'the input probe' });
    // Action -> first library call: profile switches on a key-record keyboard.
    await page.click({ role: 'button', name: 'Torvanix Keystone 104' });
    await app.quiet();
    await page.click({ role: 'tab', name: 'Profiles' });
    await app.quiet();
    const delays = [];
    for (let i = 0; i < 10; i++) {
      const radio = `Profile ${(i % 2) + 2}`;
      const mark = app.trace.mark();
      await page.eval('__tvxInputs.length = 0');
      await page.click({ role: 'radio', name: radio });
      const lines = await app.trace.settle(mark, { quietMs: 200 });
      const first = lines.find((l) => l.call === 'dcWriteProperty');
      const inputAt = (await page.eval('__tvxInputs'))[0];
      delays.push(first.time - inputAt);
    }
    // A scripted session over every device and page, for the longest task.
    const cards = (await page.queryAll({ role: 'button' })).map((n) => n.name)
      .filter((n) => /^Torvanix /.test(n));
    const step = async (name, fn) => {
      await page.eval(`__tvxStep = ${JSON.stringify(name)}`);
      await fn();
      await app.quiet();
      await sleep(100); // long-task entries arrive after their task
    };
    for (const card of cards) {
      await step(card, () => page.click({ role: 'button', name: card }));
      for (const tab of (await page.queryAll({ role: 'tab' })).map((t) => t.name)) {
        await step(`${card} / ${tab}`, () => page.click({ role: 'tab', name: tab }));
      }
    }
    await step('Keystone 104 / Lighting', async () => {
      await page.click({ role: 'button', name: 'Torvanix Keystone 104' });
      await page.click({ role: 'tab', name: 'Lighting' });
    });
    await step('paint all keys', async () => {
      await page.click({ role: 'radio', name: 'Per-key colours' });
      await page.click({ role: 'button', name: 'Select all keys' });
      await page.click({ role: 'button', name: 'Paint selected keys' });
    });
    const byStep = await page.eval('__tvxByStep');
    const longest = await page.eval('__tvxLongest');
    const count = await page.eval('__tvxLongTasks');
    const smallPages = await smallPageStarts(app, STARTS);
    const errors = page.takeErrors();
    return { delays, longest, count, errors, byStep, smallPages };
  } finally {
    await app.stop();
  }
}

const size = pageSize();
console.log(`all pages' JavaScript + CSS: ${(size.gz / 1024).toFixed(1)} kB gzip (${(size.raw / 1024).toFixed(1)} kB raw, ${size.files} files; target <= 200 kB)`);
for (const p of size.perPage) console.log(`  ${p.html}: ${(p.gz / 1024).toFixed(1)} kB gzip in ${p.files} files${p.html === 'client.html' ? ' (target <= 120 kB)' : ''}`);

const starts = [];
const pages = [];
let late = 0;
for (let i = 0; i < STARTS; i++) {
  const r = await startToDeviceBar();
  starts.push(r.ms);
  pages.push(r.page);
  late += r.late ? 1 : 0;
}
console.log(`start -> device bar with the demo devices: median ${ms(median(starts))} of ${STARTS} (min ${ms(Math.min(...starts))}, max ${ms(Math.max(...starts))}${late ? `; ${late} seen complete at first look, an upper bound` : ''}; offscreen, no device pauses; target <= 400 ms)`);
console.log(`  of which start -> main page on the debugging port: median ${ms(median(pages))}`);

const s = await session();
console.log(`UI action -> first device library call: median ${ms(median(s.delays))}, max ${ms(Math.max(...s.delays))} over ${s.delays.length} profile switches (no device pauses; target <= 30 ms)`);
console.log(s.longest < 0
  ? 'longest page task: the engine offers no "longtask" entries'
  : `longest page task in the scripted session: ${s.count ? ms(s.longest) : 'none over 50 ms'} (${s.count} task(s) over 50 ms; target none)`);
const worst = Object.entries(s.byStep).sort((a, b) => b[1] - a[1]).slice(0, 5);
if (worst.length) console.log(`  longest tasks by step: ${worst.map(([k, v]) => `${k} ${ms(v)}`).join('; ')}`);
for (const [html, times] of Object.entries(s.smallPages)) {
  console.log(`${html} opened -> its content painted: median ${ms(median(times))} of ${times.length} (min ${ms(Math.min(...times))}, max ${ms(Math.max(...times))}; target <= 400 ms)`);
}
if (s.errors.length) console.log(`page errors during the session: ${s.errors.join(' | ')}`);
