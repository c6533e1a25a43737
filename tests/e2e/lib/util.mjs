// Small helpers shared by the harness: bounded waits and paths of the build.
import net from 'node:net';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceDir = path.resolve(here, '..', '..', '..');
export const buildDir = path.resolve(process.env.TORVANIX_BUILD_DIR || path.join(sourceDir, 'build'));
export const programDir = path.join(buildDir, 'bin');
export const screensDir = path.join(buildDir, 'screens');

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Rejects with a message naming what was awaited when `promise` takes longer than `ms`.
export function withTimeout(promise, ms, what) {
  let timer;
  const limit = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
  });
  return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}

// Polls `probe` until it returns something truthy; fails after `ms` with the last value seen.
export async function waitUntil(probe, { timeout = 10000, interval = 50, what = 'condition' } = {}) {
  const end = Date.now() + timeout;
  let last;
  let lastError;
  for (;;) {
    try {
      last = await probe();
      if (last) return last;
    } catch (e) {
      lastError = e;
    }
    if (Date.now() >= end) {
      const detail = lastError ? ` (last error: ${lastError.message})` : '';
      throw new Error(`timed out after ${timeout} ms waiting for ${what}${detail}`);
    }
    await sleep(interval);
  }
}

// A loopback port nobody listens on at the moment of asking.
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}
