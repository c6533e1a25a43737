// Firmware and program updates from a loopback update server: the update list, the download,
// the device's flash stages in the page and in the trace, a write the device refuses, closing
// held while firmware is written, and a program package the program refuses.
// Pauses are real here (the device's waits are what the user sees), so the flash takes its
// time: about 40 s over both runs.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { assertAccessible, useApp } from '../lib/fixture.mjs';
import { assertLaidOut } from '../lib/layout.mjs';
import { firmwareImage, sha256, startUpdateServer } from '../lib/updateServer.mjs';
import { programDir, waitUntil } from '../lib/util.mjs';

const KEYBOARD = 'Torvanix Keystone 104';
const VARIANTS = [
  ['en', 'English', 'dark'],
  ['en', 'English', 'light'],
  ['zh', '中文', 'dark'],
  ['zh', '中文', 'light'],
];
const IMAGE = firmwareImage(4000);
const FIRMWARE_FILE = '/updates/firmware/TOB-NIR-1.3.0.bin';
const PACKAGE_FILE = '/updates/client/torvanix-9.0.0.tvxpkg';

// A program package signed with a key of the test's own: sound in form, refused by the program.
function foreignPackage(dir) {
  const tool = path.join(programDir, 'torvanix-updatepack');
  const secret = path.join(dir, 'secret.key');
  execFileSync(tool, ['--make-key', secret, path.join(dir, 'public.key')]);
  const release = path.join(dir, 'release');
  fs.mkdirSync(path.join(release, 'bin'), { recursive: true });
  fs.writeFileSync(path.join(release, 'bin', 'torvanix'), 'not the program');
  const out = path.join(dir, 'package.tvxpkg');
  execFileSync(tool, ['--key', secret, '--label', '9.0.0', release, out]);
  return fs.readFileSync(out);
}

// The file a user picks in the engine's file chooser, handed to the page's file field the way
// the chooser does (the debugging protocol's own way is refused by this engine).
async function pickFile(page, name, bytes) {
  await page.eval(`(() => {
    const bytes = Uint8Array.from(atob(${JSON.stringify(Buffer.from(bytes).toString('base64'))}), (c) => c.charCodeAt(0));
    const input = document.querySelector('input[type=file]');
    const files = new DataTransfer();
    files.items.add(new File([bytes], ${JSON.stringify(name)}));
    input.files = files.files;
    input.dispatchEvent(new Event('change', { bubbles: true }));
  })()`);
}

async function setLook(page, label, theme) {
  await page.choose({ role: 'combobox', name: /^(Language|语言)$/ }, label);
  const light = await page.find({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
  if ((light.props.checked === 'true') !== (theme === 'light')) await page.click({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
}

// Screenshots, axe-core (a long task by itself), the harness's own queries and language switches
// are the test's work, not the update's: tasks that overlap them are left out of the figure.
async function notCounted(page, work) {
  await page.eval('__tvxChecks.push([performance.now(), Infinity])');
  try {
    await work();
  } finally {
    await page.eval('__tvxChecks[__tvxChecks.length - 1][1] = performance.now()');
  }
}

async function checkScreen(page, name, screen) {
  await notCounted(page, async () => {
    await page.screenshot(name);
    await assertAccessible(page, screen);
    // At the window's own size: the update runs on while the screen is checked.
    await assertLaidOut(page, name, []);
  });
}

// What the page showed while the update ran: every change of the progress bar and the stage text.
const WATCH = `(() => {
  window.__tvxSeen = [];
  // The longest task while the update runs, apart from the test's own checks (axe-core runs
  // in the page and is a long task by itself).
  window.__tvxTasks = [];
  window.__tvxChecks = [];
  const now = () => performance.timeOrigin + performance.now();
  new MutationObserver(() => {
    const bar = document.querySelector('.update-run [role="progressbar"]');
    const stage = document.querySelector('.update-run [role="status"]');
    const entry = (bar ? bar.getAttribute('aria-label') + ' ' + bar.getAttribute('aria-valuenow') : '-') + ' | ' + (stage ? stage.textContent : '');
    if (__tvxSeen[__tvxSeen.length - 1] !== entry) __tvxSeen.push(entry);
  }).observe(document.body, { subtree: true, childList: true, attributes: true, characterData: true });
  try {
    new PerformanceObserver((list) => {
      for (const e of list.getEntries()) __tvxTasks.push([e.startTime, e.duration]);
    }).observe({ entryTypes: ['longtask'] });
  } catch (e) { __tvxTasks = null; }
  performance.clearMarks();
  return now();
})()`;

describe('updates', () => {
  const options = { name: 'updates', env: { TORVANIX_NO_PAUSE: '0', TORVANIX_SIM_FAULTS: 'dcWriteRom@1' } };
  const box = { server: null, dir: null };
  before(async () => {
    box.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tvx-e2e-updates-'));
    const pkg = foreignPackage(box.dir);
    box.server = await startUpdateServer({
      '/updates/index.json': {
        format: 1,
        client: { version: '9.0.0', url: 'client/torvanix-9.0.0.tvxpkg', size: pkg.length, sha256: sha256(pkg), notes: { en: 'A test release.', zh: '测试版本。' } },
        firmware: {
          'TOB-NIR': { version: '1.3.0', url: 'firmware/TOB-NIR-1.3.0.bin', size: IMAGE.length, sha256: sha256(IMAGE), notes: { en: 'Steadier key scanning.', zh: '按键扫描更稳定。' } },
          'QPA-RTE': { version: '1.2', url: 'firmware/QPA-RTE.bin', size: IMAGE.length, sha256: sha256(IMAGE) },
        },
      },
      [FIRMWARE_FILE]: IMAGE,
      [PACKAGE_FILE]: pkg,
    });
    options.env.TORVANIX_UPSTREAM = box.server.url;
  });
  const ctx = useApp(options);
  after(async () => {
    if (box.server) await box.server.close();
    if (box.dir) fs.rmSync(box.dir, { recursive: true, force: true });
    // What the page saved into the program's download folder.
    for (const f of fs.existsSync(path.join(programDir, 'update')) ? fs.readdirSync(path.join(programDir, 'update')) : []) {
      if (/^(firmware-TOB-NIR|torvanix-9\.0\.0)/.test(f)) fs.rmSync(path.join(programDir, 'update', f), { force: true });
    }
  });

  test('the firmware tab shows the installed version and what the update list offers', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Torvanix Glide 6' });
    await page.click({ role: 'tab', name: 'Firmware' });
    await page.waitText(/Version 1\.1\.0 \(12\)/);
    // Nothing is asked of the server before the user asks.
    assert.deepEqual(box.server.served, []);
    await page.click({ role: 'button', name: 'Check for firmware updates' });
    await page.waitText(/cannot be used: The version is not of the form 1\.2\.3\./);
    await page.click({ role: 'button', name: KEYBOARD });
    await page.click({ role: 'tab', name: 'Firmware' });
    await page.waitText(/Version 1\.3\.0 is available/);
    await page.find({ role: 'button', name: 'Update to 1.3.0' });
    for (const [lang, label, theme] of VARIANTS) {
      await setLook(page, label, theme);
      await page.waitText(lang === 'zh' ? /版本 1\.3\.0 可用/ : /Version 1\.3\.0 is available/);
      await page.screenshot(`updates-firmware-${lang}-${theme}`);
      await assertLaidOut(page, `updates-firmware-${lang}-${theme}`, []);
      await assertAccessible(page, `firmware tab ${lang} ${theme}`);
      await page.click({ role: 'button', name: lang === 'zh' ? '更新到 1.3.0' : 'Update to 1.3.0' });
      const dialog = await page.find({ role: 'alertdialog' });
      assert.match(await page.eval('document.querySelector(\'[role="alertdialog"]\').textContent'),
        lang === 'zh' ? /从版本 1\.2\.0 更新到版本 1\.3\.0/ : /from version 1\.2\.0 to version 1\.3\.0/);
      assert.ok(dialog);
      await page.screenshot(`updates-confirm-${lang}-${theme}`);
      await assertLaidOut(page, `updates-confirm-${lang}-${theme}`, []);
      await assertAccessible(page, `confirmation ${lang} ${theme}`);
      await page.click({ role: 'button', name: lang === 'zh' ? '取消' : 'Cancel' });
      await page.waitGone({ role: 'alertdialog' });
    }
    await setLook(page, 'English', 'dark');
    assert.ok(!box.server.served.includes(FIRMWARE_FILE), 'nothing is downloaded before the user confirms');

    // A file the user picks: checked as an image before anything else happens.
    const mark = app.trace.mark();
    await pickFile(page, 'notes.bin', Buffer.from('not firmware'));
    await page.waitText(/“notes\.bin” is not a firmware image\. Nothing was sent to the device\./);
    await pickFile(page, 'keystone.bin', IMAGE);
    await page.find({ role: 'alertdialog' });
    assert.match(await page.eval('document.querySelector(\'[role="alertdialog"]\').textContent'),
      /\(now version 1\.2\.0\) with the file “keystone\.bin”\? The file does not state its version\..*The file is not signed/);
    await page.click({ role: 'button', name: 'Cancel' });
    await page.waitGone({ role: 'alertdialog' });
    assert.deepEqual(app.trace.since(mark).filter((l) => /Rom|Reset|dcDeviceExist/.test(l.call)), []);
  });

  test('a write the device refuses fails clearly with the device still listed; a retry finishes', { timeout: 180000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    const startedAt = await page.eval(WATCH);
    const mark = app.trace.mark();
    let at;
    await notCounted(page, async () => {
      await page.click({ role: 'button', name: 'Update to 1.3.0' });
      at = await page.centre({ role: 'button', name: 'Update firmware' });
    });
    // The click itself counts: the update starts with it.
    await page.mouse('mousePressed', at.x, at.y, { clickCount: 1 });
    await page.mouse('mouseReleased', at.x, at.y, { clickCount: 1 });

    // Closing waits while the firmware is written, and says why.
    await page.waitText(/Switching the device to its update mode/, { timeout: 30000 });
    await notCounted(page, async () => {
      await page.click({ role: 'button', name: 'Close' });
      await page.find({ role: 'dialog', name: 'Torvanix cannot close now' });
      await page.screenshot('updates-close-held-en-dark');
      await assertLaidOut(page, 'updates-close-held-en-dark', []);
      await assertAccessible(page, 'close held');
      await page.click({ role: 'button', name: 'Keep updating' });
    });
    assert.equal(app.exit, undefined, 'the program closed during the update');

    await page.waitText(/The firmware update did not finish\.\s+The device refused the new firmware/, { timeout: 60000 });
    const failed = app.trace.since(mark);
    assert.ok(failed.some((l) => l.call === 'dcWriteRom' && l.fault), 'the refused write is in the trace');
    assert.ok(!failed.some((l) => l.call === 'FinishUpdateRom'), 'nothing was committed');
    // The device waits in its boot loader and is listed as such.
    await notCounted(page, async () => {
      await page.find({ role: 'button', name: KEYBOARD });
      await page.waitText(/is still in the device list/);
      await page.waitText(/is waiting in its update mode/);
      for (const [lang, label, theme] of VARIANTS) {
        await setLook(page, label, theme);
        await page.waitText(lang === 'zh' ? /固件更新没有完成/ : /firmware update did not finish/);
        await page.screenshot(`updates-failed-${lang}-${theme}`);
        await assertLaidOut(page, `updates-failed-${lang}-${theme}`, []);
        await assertAccessible(page, `failure ${lang} ${theme}`);
      }
      await setLook(page, 'English', 'dark');
    });

    const retry = app.trace.mark();
    await notCounted(page, () => page.click({ role: 'button', name: 'Try again' }));
    await page.waitText(/Torvanix Keystone 104 accepted the new firmware/, { timeout: 90000 });
    await page.waitText(/Torvanix Keystone 104 now reports version 1\.2\.0\./);
    await checkScreen(page, 'updates-done-en-dark', 'update done');
    const calls = app.trace.since(retry).map((l) => l.call);
    const rom = calls.filter((c) => ['dcDeviceExist', 'dcEraseRom', 'dcWriteRom', 'CheckRom', 'FinishUpdateRom'].includes(c));
    assert.deepEqual(rom, ['dcDeviceExist', 'dcEraseRom', 'dcWriteRom', 'dcWriteRom', 'dcWriteRom', 'CheckRom', 'FinishUpdateRom']);
    const written = app.trace.since(retry).filter((l) => l.call === 'dcWriteRom');
    assert.deepEqual(written.map((l) => [l.count, l.args[0]]), [[2000, 0], [2000, 2000], [0, 4000]]);
    assert.equal(written[0].bytes, IMAGE.subarray(264, 264 + 2000).toString('hex'));

    // What the page showed: the download, then every flash stage of both runs in order.
    const seen = await page.eval('__tvxSeen');
    const stages = seen.map((s) => /^Firmware update (\d+)/.exec(s)).filter(Boolean).map((m) => Number(m[1]));
    assert.ok(seen.some((s) => /^Download \d+ \| Downloading the firmware/.test(s)), `download progress: ${seen.join(' / ')}`);
    for (const v of [20, 40, 60, 70, 80, 100]) assert.ok(stages.includes(v), `stage ${v} shown: ${seen.join(' / ')}`);

    // Figures: from the library call before each event to the page's receipt, and the longest task.
    const marks = await page.eval('performance.getEntriesByType("mark").map(m => [m.name, performance.timeOrigin + m.startTime])');
    marks.timeOrigin = await page.eval('performance.timeOrigin');
    const lines = app.trace.since(mark);
    const before = (call, test) => (at) => lines.filter((l) => l.call === call && (!test || test(l)) && l.time <= at).pop();
    const pairs = { 40: before('Reset', (l) => l.args[0] === 1), 60: before('dcDeviceExist'), 80: before('CheckRom'), 100: before('dcDevices') };
    const delays = [];
    for (const [name, at] of marks) {
      const stage = name.split(':')[1];
      const call = pairs[stage] && pairs[stage](at);
      if (call && at - call.time < 5000) delays.push(at - call.time);
    }
    const { tasks, checks } = await page.eval('({ tasks: __tvxTasks, checks: __tvxChecks })');
    const own = tasks && tasks.filter(([start, length]) => !checks.some(([from, to]) => start < to && start + length > from));
    const longest = !own ? -1 : own.reduce((m, [, length]) => Math.max(m, length), 0);
    const long = (own || []).filter(([, length]) => length > 50).map(([start, length]) => `${length.toFixed(0)} ms at ${start.toFixed(0)}`);
    console.log(`# update figures: ${delays.length} events, device call -> page max ${Math.max(...delays).toFixed(1)} ms, `
      + `median ${delays.sort((a, b) => a - b)[delays.length >> 1].toFixed(1)} ms; ${longest < 0 ? "long tasks not reported by the engine" : longest === 0 ? "no page task over 50 ms" : `longest page task ${longest.toFixed(0)} ms`}; `
      + `run ${((Date.now() - startedAt) / 1000).toFixed(0)} s${long.length ? `; tasks over 50 ms: ${long.join(', ')} (stages at ${marks.map(([n, t]) => `${n.split(':')[1]}@${(t - marks.timeOrigin).toFixed(0)}`).join(' ')})` : ''}`);
    await page.click({ role: 'button', name: 'OK' });
    await page.waitGone({ role: 'dialog', name: /^Firmware update/ });
  });

  test('program update: check, download with progress, a refused package is not called installed', { timeout: 120000 }, async () => {
    const { app } = ctx;
    const { page } = app;
    await page.click({ role: 'button', name: 'Settings' });
    await page.waitText(/Torvanix 9\.0\.0 is available/);
    await page.click({ role: 'button', name: 'Check for program updates' });
    await page.waitText(/Torvanix 9\.0\.0 is available/);
    await page.click({ role: 'button', name: 'Download 9.0.0' });
    await page.waitText(/The package is downloaded and matches the update list/, { timeout: 30000 });
    assert.ok(box.server.served.includes(PACKAGE_FILE));
    const saved = fs.readdirSync(path.join(programDir, 'update')).filter((f) => f.startsWith('torvanix-9.0.0'));
    assert.equal(saved.length, 1, `the package in the download folder: ${saved}`);
    await page.screenshot('updates-client-ready-en-dark');
    await assertLaidOut(page, 'updates-client-ready-en-dark', []);
    await page.click({ role: 'button', name: 'Install and restart' });
    await page.waitText(/Torvanix refused the update package/, { timeout: 60000 });
    assert.equal(app.exit, undefined, 'the program quit for a refused package');
    assert.ok(!fs.existsSync(path.join(programDir, 'update.manifest')), 'nothing was handed to the updater');
    await page.focus({ role: 'button', name: 'Start again' });
    await page.key('Escape');
    await page.waitGone({ role: 'dialog', name: 'Settings' });
    for (const [lang, label, theme] of VARIANTS) {
      await setLook(page, label, theme);
      await page.click({ role: 'button', name: lang === 'zh' ? '设置' : 'Settings' });
      await page.waitText(lang === 'zh' ? /程序更新没有完成/ : /program update did not happen/);
      await page.screenshot(`updates-client-${lang}-${theme}`);
      await assertLaidOut(page, `updates-client-${lang}-${theme}`, []);
      await assertAccessible(page, `program update ${lang} ${theme}`);
      await page.focus({ role: 'button', name: lang === 'zh' ? '重新开始' : 'Start again' });
      await page.key('Escape');
      await page.waitGone({ role: 'dialog' });
    }
    await setLook(page, 'English', 'dark');
    await waitUntil(() => !fs.existsSync(path.join(programDir, 'update.manifest')), { what: 'no manifest' });
  });
});
