import { describe, expect, it } from 'vitest';
import { looksLikeFirmwareImage } from '../../src/updates/run';
import { sha256Hex, Sha256 } from '../../src/updates/sha256';
import { compareVersions, firmwareOf, parseUpdateIndex } from '../../src/updates/updateIndex';

const INDEX = 'http://www.torvanix.invalid/updates/index.json';
const DIGEST = 'a'.repeat(64);
const fw = (over: Record<string, unknown> = {}) => ({ version: '1.3.0', url: 'firmware/TOB-NIR-1.3.0.bin', size: 67200, sha256: DIGEST, ...over });
const parse = (doc: unknown) => parseUpdateIndex(JSON.stringify(doc), INDEX);

describe('update index', () => {
  it('reads a good index and resolves files below it', () => {
    const r = parse({
      format: 1,
      client: { version: '1.1.0', url: 'client/torvanix-1.1.0.tvxpkg', size: 5000, sha256: DIGEST, notes: { en: 'Faster', zh: '更快' } },
      firmware: { 'TOB-NIR': fw() },
    });
    expect(r.ok).toBe(true);
    if (!r.ok) return;
    expect(r.problems).toEqual([]);
    expect(r.index.client?.url).toBe('http://www.torvanix.invalid/updates/client/torvanix-1.1.0.tvxpkg');
    expect(r.index.client?.notes).toEqual({ en: 'Faster', zh: '更快' });
    expect(r.index.firmware['TOB-NIR'].size).toBe(67200);
  });

  it('refuses a document that is not the format, whole', () => {
    for (const text of ['', 'nope', '[]', '{"format":2}', '{"format":"1"}', '{"format":1,"extra":{}}', '{"format":1,"firmware":[]}']) {
      const r = parseUpdateIndex(text, INDEX);
      expect(r.ok, text).toBe(false);
      expect(r.problems).toHaveLength(1);
    }
  });

  it('leaves out each kind of bad entry with its reason and keeps the rest', () => {
    const cases: Array<[string, unknown, string]> = [
      ['AAA-001', 'x', 'updates.index.entryNotObject'],
      ['AAA-002', fw({ extra: 1 }), 'updates.index.unknownField'],
      ['AAA-003', fw({ version: '1.3' }), 'updates.index.badVersion'],
      ['AAA-004', fw({ url: 'http://evil.test/fw.bin' }), 'updates.index.badUrl'],
      ['AAA-005', fw({ url: '../../etc/fw.bin' }), 'updates.index.badUrl'],
      ['AAA-006', fw({ url: '//evil.test/fw.bin' }), 'updates.index.badUrl'],
      ['AAA-007', fw({ size: 1000 }), 'updates.index.badSize'],
      ['AAA-008', fw({ size: 67200.5 }), 'updates.index.badSize'],
      ['AAA-009', fw({ sha256: DIGEST.toUpperCase() }), 'updates.index.badDigest'],
      ['AAA-010', fw({ notes: { fr: 'x' } }), 'updates.index.badNotes'],
      ['tob-nir', fw(), 'updates.index.badModel'],
    ];
    const firmware: Record<string, unknown> = { 'TOB-NIR': fw() };
    for (const [model, entry] of cases) firmware[model] = entry;
    const r = parse({ format: 1, firmware, client: { version: 'x' } });
    expect(r.ok).toBe(true);
    if (!r.ok) return;
    expect(Object.keys(r.index.firmware)).toEqual(['TOB-NIR']);
    expect(r.index.client).toBeNull();
    const reasons = Object.fromEntries(r.problems.map((p) => [p.where, p.key]));
    for (const [model, , key] of cases) expect(reasons[`firmware.${model}`], model).toBe(key);
    expect(reasons.client).toBe('updates.index.badVersion');
  });

  it('reads versions from firmware identities and orders them by number', () => {
    expect(firmwareOf('TOB-NIR-V1.2.0')).toEqual({ model: 'TOB-NIR', version: '1.2.0' });
    expect(firmwareOf('05AC024F')).toBeNull();
    expect(compareVersions('1.10.0', '1.9.9')).toBeGreaterThan(0);
    expect(compareVersions('1.2.0', '1.2.0')).toBe(0);
  });
});

describe('file checks', () => {
  it('hashes like SHA-256, in one piece or in chunks', () => {
    const enc = new TextEncoder();
    expect(sha256Hex(new Uint8Array())).toBe('e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855');
    expect(sha256Hex(enc.encode('abc'))).toBe('ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad');
    const long = enc.encode('abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq');
    expect(sha256Hex(long)).toBe('248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1');
    const big = new Uint8Array(70001).map((_, i) => i * 7);
    const chunked = new Sha256();
    for (let i = 0; i < big.length; i += 4093) chunked.update(big.subarray(i, i + 4093));
    expect(chunked.hex()).toBe(sha256Hex(big));
  });

  it('takes only what the boot loader reads as an image', () => {
    const image = (length: number, size = 67200, mark = 4118) => {
      const b = new Uint8Array(size);
      const v = new DataView(b.buffer);
      v.setUint32(0, mark, true);
      if (size >= 66151) v.setUint32(66143, length, true);
      return b;
    };
    expect(looksLikeFirmwareImage(image(4000))).toBe(true);
    expect(looksLikeFirmwareImage(image(4000, 66155))).toBe(true);
    expect(looksLikeFirmwareImage(image(0))).toBe(false);
    expect(looksLikeFirmwareImage(image(66143 - 263))).toBe(false);
    expect(looksLikeFirmwareImage(image(4000, 66154))).toBe(false);
    expect(looksLikeFirmwareImage(image(4000, 67201))).toBe(false);
    expect(looksLikeFirmwareImage(image(4000, 67200, 4119))).toBe(false);
  });
});
