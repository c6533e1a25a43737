// The keyboard with the screen (a picture sent to its slot, the live figures, the mouse-button
// switch) and the music player, as a user drives them; the picture's bytes are checked in the
// simulator's trace against torvanix-ctl applying the same document to the converter's output.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { describe, test } from 'node:test';
import { ModelDocument } from '../lib/documents.mjs';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { assertLaidOut } from '../lib/layout.mjs';
import { toneWav } from '../lib/media.mjs';
import { expectedWrites } from '../lib/trace.mjs';
import { programDir, sleep, waitUntil } from '../lib/util.mjs';

const KEYBOARD = 'Torvanix Keystone 84 Screen';

// A small truecolour PNG, so the test needs no picture files of its own.
function png(width, height, pixel) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (buf) => {
    let c = 0xffffffff;
    for (const b of buf) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const len = Buffer.alloc(4);
    len.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const sum = Buffer.alloc(4);
    sum.writeUInt32BE(crc(body));
    return Buffer.concat([len, body, sum]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;
  header[9] = 2;
  const raw = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) raw.set(pixel(x, y), y * (width * 3 + 1) + 1 + x * 3);
  }
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', zlib.deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// A two-second stereo tone at 8 kHz.
// The converter the program runs, run by the test on the stored picture: its output is what
// torvanix-ctl then sends, as the program must have.
function convert(name) {
  return new Promise((resolve, reject) => {
    execFile(path.join(programDir, 'torvanix-imgconv'),
      [`name=temp_abc&img=screen/${name}&format=bin_565_swap&cf=true_color&outdir=screen/`],
      { cwd: programDir, timeout: 20000 }, (err, stdout, stderr) => (err ? reject(new Error(`${err.message}\n${stderr}`)) : resolve()));
  });
}

async function expectPictureSent(app, mark, name) {
  const m = new ModelDocument('keystone-84-screen.xml');
  m.clearActions();
  m.set(m.key('GlobalScreen'), { value: `screen/${name}`, action: 'set' });
  await convert(name);
  const expected = await expectedWrites(m.text(), { devicesFile: app.devicesFile, stateFile: `${app.stateFile}.before` });
  const actual = app.trace.writesSince(mark);
  // A slot record, then 110084 converted bytes in 441 pieces.
  assert.equal(expected.writes.length, 442);
  assert.deepEqual(actual, expected.writes, 'the picture bytes differ from the converter output sent by torvanix-ctl');
}

function keepState(app) {
  if (fs.existsSync(app.stateFile)) fs.copyFileSync(app.stateFile, `${app.stateFile}.before`);
  else fs.rmSync(`${app.stateFile}.before`, { force: true });
}

describe('the keyboard with the screen, and music', () => {
  const ctx = useApp({ name: 'screen' });
  const files = fs.mkdtempSync(path.join(os.tmpdir(), 'tvx-screen-files-'));
  const picture = path.join(files, 'stripes.png');
  fs.writeFileSync(picture, png(320, 172, (x, y) => [x & 0xff, (y * 3) & 0xff, x % 16 < 8 ? 255 : 0]));
  const square = path.join(files, 'square.png');
  fs.writeFileSync(square, png(200, 200, (x, y) => [(x + y) & 0xff, 90, 200]));
  const track = path.join(files, 'tone.wav');
  fs.writeFileSync(track, toneWav(2));

  test('a chosen 320x172 picture is sent to the slot, byte for byte', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: KEYBOARD });
    await page.click({ role: 'tab', name: 'Screen' });
    await app.focusWindow();
    await page.click({ role: 'button', name: 'Choose a 320 × 172 picture' });
    await app.answerFileDialog(picture);
    const preview = await page.find({ role: 'img', name: /^Screen preview of screen_\d+\.png/ });
    const name = /(screen_\d+\.png)/.exec(preview.name)[1];
    assert.deepEqual(fs.readFileSync(path.join(programDir, 'screen', name)), fs.readFileSync(picture));
    await app.quiet();
    keepState(app);
    const mark = app.trace.mark();
    await page.click({ role: 'button', name: 'Send to the keyboard' });
    await page.waitText(/The picture has been sent\./, { timeout: 90000 });
    await expectPictureSent(app, mark, name);
    await page.find({ role: 'img', name: 'Picture sent to slot 1' });
  });

  test('a picture of another size is fitted in the page, stored and sent', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    // The dialog of the screen folder takes only the screen's size, and says what to do.
    await page.click({ role: 'button', name: 'Choose a 320 × 172 picture' });
    await app.answerFileDialog(square);
    await page.waitText(/not 320 × 172 pixels\. Use “Open a picture to crop”/);
    await page.click({ role: 'button', name: 'Open a picture to crop' });
    await app.answerFileDialog(square);
    await page.find({ role: 'img', name: /^Screen preview of square\.png, Fill the screen/ });
    await page.click({ role: 'radio', name: 'Whole picture (fit)' });
    await page.find({ role: 'img', name: /^Screen preview of square\.png, Whole picture/ });
    await app.quiet();
    keepState(app);
    const mark = app.trace.mark();
    await page.click({ role: 'button', name: 'Send to the keyboard' });
    await page.waitText(/The picture has been sent\./, { timeout: 90000 });
    // What the page stored is the screen's size, black bars beside the fitted square.
    const header = fs.readFileSync(path.join(programDir, 'screen', 'screen_slot0.png')).subarray(16, 24);
    assert.deepEqual([header.readUInt32BE(0), header.readUInt32BE(4)], [320, 172]);
    await expectPictureSent(app, mark, 'screen_slot0.png');
  });

  test('the live figures appear and the mouse-button switch is not available', { timeout: 60000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.waitText(/Processor clock\s+\d+\.\d\d GHz/);
    await page.waitText(/Used memory\s+\d+\.\d\d GB/);
    // The program counts the readings over windows of more than two seconds.
    await page.waitText(/Readings per second\s+\d\.\d\d per second/, { timeout: 15000 });
    const chart = await page.find({ role: 'img', name: /^Processor clock over the last minute, now \d/ });
    assert.ok(chart);
    await page.click({ role: 'switch', name: 'Pass mouse buttons to the keyboard' });
    await page.waitText(/Not available on this computer/);
    const sw = await page.find({ role: 'switch', name: 'Pass mouse buttons to the keyboard' });
    assert.equal(sw.props.checked, 'false');
  });

  test('music: a track is added, played with a live level, paused', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    // The figures are asked for while the Screen page is shown, and no longer once it is left
    // (the program logs every sample it takes).
    const samples = () => (app.programLog().match(/cpu:\d/g) || []).length;
    const before = samples();
    await waitUntil(() => samples() >= before + 2, { timeout: 5000, what: 'figure samples' });
    await page.click({ role: 'tab', name: 'Music' });
    await sleep(300); // a query already under way may still be answered
    const asked = samples();
    await sleep(1500);
    assert.equal(samples(), asked, 'figures asked for after the page was left');
    await page.click({ role: 'button', name: 'Add tracks' });
    await app.answerFileDialog(track);
    await page.click({ role: 'button', name: 'Play tone.wav' });
    // Without a sound device the track still runs (silently) and the page says so.
    await page.waitText(/Playing/, { timeout: 15000 });
    await waitUntil(async () => {
      const meters = await page.queryAll({ role: 'img', name: /^Left channel level \d+ of 100$/ });
      return meters.some((m) => Number(/(\d+) of/.exec(m.name)[1]) > 0);
    }, { timeout: 10000, what: 'a level above zero' });
    await page.click({ role: 'button', name: 'Pause' });
    await page.waitText(/Paused/);
    const info = JSON.parse(await page.eval(`new Promise((ok, no) => window.ClientRequest({ request: '{"FuncName":"GetMusicInfo"}', onSuccess: ok, onFailure: (c, t) => no(new Error(t)) }))`));
    assert.equal(info.state, 'paused');
    assert.equal(info.source, track);
    // The lighting follows the level while the track plays, and gets its own brightness back
    // when the music stops.
    await app.quiet();
    keepState(app);
    const mark = app.trace.mark();
    await page.click({ role: 'switch', name: 'Lighting follows the music' });
    await page.click({ role: 'button', name: 'Play' });
    await page.waitText(/Playing/);
    await app.trace.settle(mark, { atLeast: 2, quietMs: 300 });
    await page.click({ role: 'button', name: 'Pause' });
    await page.waitText(/Paused/);
    await app.quiet();
    const m = new ModelDocument('keystone-84-screen.xml');
    m.clearActions();
    const mode = m.set(m.element('mode', 'Default'), { action: 'set' });
    m.set(m.key('LightBrightness', mode), { action: 'set' });
    const held = await expectedWrites(m.text(), { devicesFile: app.devicesFile, stateFile: `${app.stateFile}.before` });
    const writes = app.trace.writesSince(mark);
    assert.ok(writes.length > held.writes.length, 'the lighting followed the music');
    assert.deepEqual(writes.slice(-held.writes.length), held.writes, 'the held brightness went back');
    await page.click({ role: 'switch', name: 'Lighting follows the music' });
  });

  test('screens in English and Chinese, dark and light', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    for (const [lang, label, tabs] of [['en', 'English', ['Screen', 'Music']], ['zh', '中文', ['屏幕', '音乐']]]) {
      await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, label);
      for (const theme of ['dark', 'light']) {
        const light = await page.find({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        if ((light.props.checked === 'true') !== (theme === 'light')) await page.click({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        for (const tab of tabs) {
          await page.click({ role: 'tab', name: tab });
          await app.quiet();
          await page.screenshot(`screen-keyboard-${tab === tabs[0] ? 'screen' : 'music'}-${lang}-${theme}`);
          await assertLaidOut(page, `screen-keyboard-${tab === tabs[0] ? 'screen' : 'music'}-${lang}-${theme}`);
          await assertAccessible(page, `${tab} ${lang} ${theme}`);
        }
      }
    }
    await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, 'English');
  });
});

describe('a picture the keyboard refuses', () => {
  // The third write and every later one fail: the upload breaks off after its first piece.
  const ctx = useApp({ name: 'screen-refused', env: { TORVANIX_SIM_FAULTS: 'dcWriteProperty@3+' } });
  const files = fs.mkdtempSync(path.join(os.tmpdir(), 'tvx-screen-refused-'));
  const picture = path.join(files, 'plain.png');
  fs.writeFileSync(picture, png(320, 172, () => [0, 128, 255]));

  test('is reported as not sent, with what to do', { timeout: 90000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: KEYBOARD });
    await page.click({ role: 'tab', name: 'Screen' });
    await app.focusWindow();
    await page.click({ role: 'button', name: 'Choose a 320 × 172 picture' });
    await app.answerFileDialog(picture);
    await page.find({ role: 'img', name: /^Screen preview of screen_\d+\.png/ });
    await page.click({ role: 'button', name: 'Send to the keyboard' });
    await page.waitText(/The keyboard did not take the picture\. Unplug it, plug it in again and send once more\./, { timeout: 60000 });
    assert.doesNotMatch(await page.eval('document.body.innerText'), /The picture has been sent/);
    // The button is free again for another try.
    const send = await page.find({ role: 'button', name: 'Send to the keyboard' });
    assert.notEqual(send.props.disabled, true);
  });
});
