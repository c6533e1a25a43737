// The lighting server (OpenRGB SDK protocol) driven by the published client library, against
// the core on the demo devices: what a client sees, and that its frames and modes reach the
// devices as the very bytes the page's documents give.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import openrgb from 'openrgb-sdk';
import { ModelDocument } from '../lib/documents.mjs';
import { useApp } from '../lib/fixture.mjs';
import { expectedWrites, writesOf } from '../lib/trace.mjs';
import { freePort, waitUntil } from '../lib/util.mjs';

const { Client } = openrgb;

const PORT = await freePort();

// The demo models with lighting, by template file; keyboards with a key picture.
const LIGHTING = {
  'Torvanix Keystone 104': 'keystone-104.xml',
  'Torvanix Keystone 84 Screen': 'keystone-84-screen.xml',
  'Torvanix Pulse 104': 'pulse-104.xml',
  'Torvanix Linkboard 104': 'linkboard-104.xml',
  'Torvanix Glide 6': 'glide-6.xml',
  'Torvanix Orbit 6': 'orbit-6.xml',
  'Torvanix Nimbus notebook lighting': 'nimbus-notebook.xml',
};
const KEYBOARD = 5;

function perKeyEntries(model) {
  return Array.from(model.element('mode', 'LightUp').getElementsByTagName('key'));
}

// Rows and columns of the keys that have a colour entry.
function matrixOf(model) {
  const rcs = new Set(perKeyEntries(model).map((e) => e.getAttribute('rc')));
  let rows = 0;
  let cols = 0;
  for (const k of Array.from(model.root.getElementsByTagName('key'))) {
    if (!/^Button\d+$/.test(k.getAttribute('name')) || !rcs.has(k.getAttribute('rc'))) continue;
    rows = Math.max(rows, Number(k.getAttribute('r')) + 1);
    cols = Math.max(cols, Number(k.getAttribute('c')) + 1);
  }
  return { height: rows, width: cols };
}

const hex = (c) => [c.red, c.green, c.blue].map((v) => v.toString(16).padStart(2, '0')).join('');

// A page command as the page sends it; resolves with its answer text.
function command(page, request) {
  return page.eval(`new Promise((ok, no) => window.ClientRequest({ request: ${JSON.stringify(JSON.stringify(request))},
    onSuccess: ok, onFailure: (c, t) => no(new Error(t)) }))`);
}

async function connected(name) {
  const client = new Client(name, PORT, '127.0.0.1');
  await client.connect(5000);
  return client;
}

describe('lighting server', () => {
  const ctx = useApp({ name: 'sdk', offscreen: true, args: [`--sdk-server=${PORT}`] });
  let client;
  let devices;
  const index = (name) => devices.findIndex((d) => d.name === name);

  test('a client negotiates and sees every demo device with lighting', { timeout: 30000 }, async () => {
    client = await connected('e2e client');
    assert.equal(client.protocolVersion, 5);
    await waitUntil(async () => (await client.getControllerCount()) === Object.keys(LIGHTING).length,
      { timeout: 15000, what: 'every device with lighting as a controller' });
    devices = await client.getAllControllerData();
    assert.deepEqual(devices.map((d) => d.name).sort(), Object.keys(LIGHTING).sort());
    for (const d of devices) {
      const model = new ModelDocument(LIGHTING[d.name]);
      if (d.type !== KEYBOARD) continue;
      const entries = perKeyEntries(model);
      assert.equal(d.leds.length, entries.length, d.name);
      assert.deepEqual(d.leds.map((l) => l.name), entries.map((e) => e.getAttribute('name')), d.name);
      const { height, width } = matrixOf(model);
      assert.deepEqual([d.zones[0].matrix.height, d.zones[0].matrix.width], [height, width], d.name);
      assert.ok(d.modes.some((m) => m.name === 'Direct'), d.name);
    }
    assert.deepEqual(devices.filter((d) => d.type === KEYBOARD).map((d) => d.name).sort(),
      ['Torvanix Keystone 104', 'Torvanix Keystone 84 Screen', 'Torvanix Linkboard 104', 'Torvanix Pulse 104']);
    const server = JSON.parse(await command(ctx.app.page, { FuncName: 'GetSdkServer' }));
    assert.equal(server.listening, true);
    assert.equal(server.port, PORT);
    assert.deepEqual(server.clients.map((c) => c.name), ['e2e client']);
  });

  test('updateLeds on a keyboard writes exactly what the LightUp document writes', { timeout: 45000 }, async () => {
    const { app } = ctx;
    for (const name of ['Torvanix Pulse 104', 'Torvanix Keystone 104']) {
      const i = index(name);
      const colours = devices[i].leds.map((_, n) => ({ red: (n * 7) % 256, green: 255 - n, blue: 0x40 }));
      const mark = app.trace.mark();
      client.updateLeds(i, colours);
      const actual = writesOf(await app.trace.settle(mark, { quietMs: 1000 }));

      const model = new ModelDocument(LIGHTING[name]);
      perKeyEntries(model).forEach((e, n) => e.setAttribute('rgb', hex(colours[n])));
      model.set(model.element('mode', 'LightUp'), { action: 'set' });
      const expected = await expectedWrites(model.text(), { devicesFile: app.devicesFile, stateFile: app.stateFile });
      assert.ok(expected.writes.length > 0);
      assert.deepEqual(actual, expected.writes, name);
    }
  });

  test('updateMode writes the preset the page writes for that effect', { timeout: 30000 }, async () => {
    const { app } = ctx;
    const name = 'Torvanix Pulse 104';
    const mark = app.trace.mark();
    await client.updateMode(index(name), { name: 'Effect 3', speed: 2, brightness: 3, colors: [{ red: 255, green: 128, blue: 0 }] });
    const actual = writesOf(await app.trace.settle(mark, { quietMs: 1000 }));

    const model = new ModelDocument(LIGHTING[name]);
    const preset = model.element('mode', 'Default');
    model.set(preset, { index: 3, action: 'set' });
    model.set(model.key('LightMode', preset), { value: 3, action: 'set' });
    model.set(model.key('LightRGB', preset), { value: 'ff8000' });
    model.set(model.key('LightBrightness', preset), { value: 3 });
    model.set(model.key('LightSpeed', preset), { value: 2 });
    const expected = await expectedWrites(model.text(), { devicesFile: app.devicesFile, stateFile: app.stateFile });
    assert.deepEqual(actual, expected.writes);
    const now = await client.getControllerData(index(name));
    assert.equal(now.modes[now.activeMode].name, 'Effect 3');

    // The user's own change in the page takes the keyboard back from the client.
    const driven = async () => JSON.parse(await command(app.page, { FuncName: 'GetSdkServer' }))
      .clients.flatMap((c) => c.devices);
    assert.ok((await driven()).includes(now.location));
    // The device page says who drives it.
    await app.page.click({ role: 'button', name: /^Torvanix Pulse 104/ });
    await app.page.waitText(/The lighting is controlled by /);
    // The window is offscreen here, so no keys reach the language list: its choice is set.
    const chooseLanguage = (label) =>
      app.page.eval(`(() => {
        const list = [...document.querySelectorAll('select')].find((s) => [...s.options].some((o) => o.text === ${JSON.stringify(label)}));
        list.value = [...list.options].find((o) => o.text === ${JSON.stringify(label)}).value;
        list.dispatchEvent(new Event('change', { bubbles: true }));
        return true;
      })()`);
    for (const [lang, label, text] of [['en', 'English', /The lighting is controlled by /], ['zh', '中文', /灯光正由 /]]) {
      await chooseLanguage(label);
      for (const theme of ['dark', 'light']) {
        const light = await app.page.find({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        if ((light.props.checked === 'true') !== (theme === 'light'))
          await app.page.click({ role: 'switch', name: /^(Light theme|浅色主题)$/ });
        await app.page.waitText(text);
        await app.page.screenshot(`sdk-controlled-${lang}-${theme}`);
      }
    }
    await chooseLanguage('English');
    // Fire and forget, as the page sends it: NoticeModify gives no answer.
    const notice = (doc) => app.page.eval(`(window.ClientRequest({ request: ${JSON.stringify(JSON.stringify({ FuncName: 'NoticeModify', XmlConfigStr: doc }))} }), true)`);
    // A key assignment carries the whole document, lighting included, but changes no lighting.
    const keys = new ModelDocument(LIGHTING[name]);
    keys.set(keys.key('Button2'), { action: 'set' });
    const before = app.trace.mark();
    await notice(keys.text());
    await app.trace.settle(before, { quietMs: 1000 });
    assert.ok((await driven()).includes(now.location), 'still driven after a key assignment');
    model.set(model.key('LightSpeed', preset), { value: 4 });
    await notice(model.text());
    await waitUntil(async () => !(await driven()).includes(now.location), { timeout: 15000, what: 'the keyboard taken back' });
    await waitUntil(async () => !/controlled by/.test(await app.page.eval('document.body.innerText')), {
      what: 'the banner gone',
    });
  });

  test('an unplugged device is announced and leaves the list', { timeout: 30000 }, async () => {
    const { app } = ctx;
    let announced = false;
    client.on('deviceListUpdated', () => { announced = true; });
    // The library passes on a packet without data only while it awaits an answer.
    client.readMessage(-1);
    const all = app.devices();
    app.setDevices(all.filter((d) => !/vid_258a&pid_002e/i.test(d.path)));
    await waitUntil(() => announced, { timeout: 15000, what: 'DeviceListUpdated' });
    client.resolver = [];
    assert.equal(await client.getControllerCount(), Object.keys(LIGHTING).length - 1);
    client.disconnect();
    app.setDevices(all);
  });
});
