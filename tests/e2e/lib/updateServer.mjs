// A stand-in for the vendor's update server on loopback: the program is pointed at it with
// TORVANIX_UPSTREAM, and it serves the files a test gives it (path -> bytes or text), counting
// what was asked for. The index is served signed with the test key, which builds with the
// tests trust for a TORVANIX_UPSTREAM server, unless the test gives a signature of its own.
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const INDEX = '/updates/index.json';
const TEST_KEY = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'keys', 'index-test.key');

// The Ed25519 signature of the bytes by the test key, in base64.
export function signWithTestKey(bytes) {
  const seed = Buffer.from(fs.readFileSync(TEST_KEY, 'utf8').trim(), 'hex');
  const key = crypto.createPrivateKey({
    key: Buffer.concat([Buffer.from('302e020100300506032b657004220420', 'hex'), seed]),
    format: 'der',
    type: 'pkcs8',
  });
  return crypto.sign(null, bytes, key).toString('base64');
}

const asBytes = (body) => (Buffer.isBuffer(body) ? body : Buffer.from(typeof body === 'string' ? body : JSON.stringify(body)));

export async function startUpdateServer(files = {}) {
  if (files[INDEX] !== undefined && files[`${INDEX}.sig`] === undefined) {
    files[INDEX] = asBytes(files[INDEX]);
    files[`${INDEX}.sig`] = `${signWithTestKey(files[INDEX])}\n`;
  }
  const served = [];
  const server = http.createServer((req, res) => {
    const path = new URL(req.url, 'http://x').pathname;
    served.push(path);
    const body = Object.prototype.hasOwnProperty.call(files, path) ? files[path] : undefined;
    if (body === undefined) {
      res.writeHead(404, { 'Content-Type': 'text/plain' });
      res.end('not found');
      return;
    }
    const bytes = asBytes(body);
    res.writeHead(200, {
      'Content-Type': path.endsWith('.json') ? 'application/json' : 'application/octet-stream',
      'Content-Length': bytes.length,
      'Cache-Control': 'no-store',
    });
    res.end(bytes);
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', resolve);
  });
  return {
    url: `http://127.0.0.1:${server.address().port}`,
    files,
    served,
    close: () => new Promise((resolve) => server.close(() => resolve())),
  };
}

export const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

// A firmware image as the boot loader takes it: format mark 4118, a zero word, the payload
// from offset 264, its length (64-bit) at 66143 and the check value at 66151.
export function firmwareImage(payloadLength, check = 0x12345678, size = 67200) {
  const image = Buffer.alloc(size);
  image.writeUInt32LE(4118, 0);
  for (let i = 0; i < payloadLength; i += 1) image[264 + i] = (i * 31 + 7) & 0xff;
  image.writeBigUInt64LE(BigInt(payloadLength), 66143);
  image.writeUInt32LE(check, 66151);
  return image;
}
