// A stand-in for the vendor's update server on loopback: the program is pointed at it with
// TORVANIX_UPSTREAM, and it serves the files a test gives it (path -> bytes or text), counting
// what was asked for.
import crypto from 'node:crypto';
import http from 'node:http';

export async function startUpdateServer(files = {}) {
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
    const bytes = Buffer.isBuffer(body) ? body : Buffer.from(typeof body === 'string' ? body : JSON.stringify(body));
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
