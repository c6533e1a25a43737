// Figures of the lighting server: a client sends full-keyboard frames as fast as it can to the
// core on the simulated devices with their real pauses. Per keyboard: frames written per
// second, how old the frame a device write carries is (send to first write of its batch), the
// same for a single frame to an idle device, and the core's processor time meanwhile.
// Run through bench/sdk_frames.sh.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { App } from '../tests/e2e/lib/app.mjs';
import { readTrace } from '../tests/e2e/lib/trace.mjs';
import { freePort, sleep, sourceDir, waitUntil } from '../tests/e2e/lib/util.mjs';

const require = createRequire(path.join(sourceDir, 'tests', 'e2e', 'package.json'));
const { Client } = require('openrgb-sdk');

const FLOOD_MS = Number(process.argv[2] || 10000);
const IDLE_FRAMES = 10;
const TICKS = Number(execFileSync('getconf', ['CLK_TCK']).toString().trim()) || 100;

const now = () => performance.timeOrigin + performance.now();

function cpuTicks(pid) {
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  return Number(fields[11]) + Number(fields[12]);
}

// Frame `id` rides in the first key's colour; the other keys change with it.
function frame(id, leds) {
  return Array.from({ length: leds }, (_, n) => (n === 0
    ? { red: id & 255, green: (id >> 8) & 255, blue: (id >> 16) & 255 }
    : { red: (id + n) & 255, green: (id * 3) & 255, blue: n & 255 }));
}
const idOf = (bytes) => parseInt(bytes.slice(2, 4), 16) | (parseInt(bytes.slice(4, 6), 16) << 8)
  | (parseInt(bytes.slice(6, 8), 16) << 16);

// The batches a device was written with since `offset`: when each began and the frame it carried.
function batches(trace, offset, devicePath) {
  const out = [];
  let start = null;
  let carried = false;
  for (const line of readTrace(trace, offset)) {
    if (line.path !== devicePath) continue;
    if ((line.call === 'dcWriteStartTr' && line.count > 0) || (line.call === 'dcWriteProperty' && line.arg === 162)) {
      start = line.time;
      carried = false;
    } else if (start !== null && !carried
      && ((line.call === 'dcWriteHFDData') || (line.call === 'dcWriteProperty' && line.arg === 201))) {
      out.push({ start, id: idOf(line.bytes) });
      carried = true;
    }
  }
  return out;
}

const percentile = (xs, p) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length ? s[Math.min(s.length - 1, Math.floor(p * s.length))] : NaN;
};
const ms = (v) => `${v.toFixed(1)} ms`;

async function waitDrained(client) {
  const socket = client.socket;
  if (socket.writableNeedDrain) await new Promise((resolve) => socket.once('drain', resolve));
}

const port = await freePort();
const app = await App.launch({ name: 'sdk-bench', offscreen: true, args: [`--sdk-server=${port}`],
  env: { TORVANIX_NO_PAUSE: '0' } });
try {
  const client = new Client('bench', port, '127.0.0.1');
  await client.connect(5000);
  await waitUntil(async () => (await client.getControllerCount()) >= 7, { timeout: 20000, what: 'the controllers' });
  const devices = await client.getAllControllerData();
  let nextId = 1;
  console.log(`lighting server figures (simulator with its pauses, ${FLOOD_MS / 1000} s of frames per keyboard)`);
  for (const name of ['Torvanix Pulse 104', 'Torvanix Keystone 104']) {
    const index = devices.findIndex((d) => d.name === name);
    const device = devices[index];
    const leds = device.leds.length;

    // A single frame to an idle device.
    const idle = [];
    for (let i = 0; i < IDLE_FRAMES; i++) {
      const offset = app.trace.size();
      const id = nextId++;
      const sent = now();
      client.updateLeds(index, frame(id, leds));
      const b = await waitUntil(() => batches(app.trace.file, offset, device.location).find((x) => x.id === id),
        { timeout: 20000, interval: 5, what: `frame ${id} at ${name}` });
      idle.push(b.start - sent);
      await sleep(300);
    }

    // Frames as fast as the client can send them.
    await sleep(500);
    const offset = app.trace.size();
    const sentAt = new Map();
    const cpu0 = cpuTicks(app.child.pid);
    const t0 = now();
    let sentCount = 0;
    while (now() - t0 < FLOOD_MS) {
      const id = nextId++;
      sentAt.set(id, now());
      client.updateLeds(index, frame(id, leds));
      sentCount++;
      await waitDrained(client);
      if (sentCount % 50 === 0) await new Promise((resolve) => setImmediate(resolve));
    }
    const t1 = now();
    const cpu1 = cpuTicks(app.child.pid);
    await sleep(3000);
    const written = batches(app.trace.file, offset, device.location).filter((b) => sentAt.has(b.id));
    const ages = written.map((b) => b.start - sentAt.get(b.id));
    const seconds = (t1 - t0) / 1000;
    console.log(`\n${name} (${leds} keys)`);
    console.log(`  frames sent:           ${sentCount} (${(sentCount / seconds).toFixed(0)}/s)`);
    console.log(`  frames written:        ${written.length} (${(written.length / seconds).toFixed(1)}/s)`);
    console.log(`  frame to first write:  idle median ${ms(percentile(idle, 0.5))}, max ${ms(Math.max(...idle))}`);
    console.log(`                         under load median ${ms(percentile(ages, 0.5))}, p95 ${ms(percentile(ages, 0.95))}`);
    console.log(`  core CPU under load:   ${(((cpu1 - cpu0) / TICKS) / seconds * 100).toFixed(1)} % of one core`);
  }
  client.disconnect();
} finally {
  await app.stop();
}
