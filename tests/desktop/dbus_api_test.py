#!/usr/bin/python3
# The core's session D-Bus API against the simulated devices, on a private session bus
# (dbus-run-session): the bus starts the core from the service file, gdbus sees the devices,
# a document applied over the bus reaches the device exactly as torvanix-ctl apply writes it
# and answers what the page would get, profile switches and device list changes show as
# signals.
#
#   dbus_api_test.py PROGRAM_DIR GOLDEN_DIR SERVICE_TEMPLATE
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

NAME = 'org.torvanix.Torvanix'
ROOT = '/org/torvanix/Torvanix'
DEVICE = 'org.torvanix.Torvanix.Device'
WSU = 'WSU-DFO-V1.1.0'  # notebook lighting: profiles, no battery
QPA = 'QPA-RTE-V1.1.0'  # a mouse with a battery
SKIP = 77


def fail(message):
    print('FAIL: ' + message, file=sys.stderr)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def wait_for(what, probe, timeout=30.0):
    end = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            fail('timed out waiting for ' + what)
        time.sleep(0.1)


def gvariant_string(text):
    return "'" + text.replace('\\', '\\\\').replace("'", "\\'") + "'"


def gdbus(*args, path=ROOT, ok=True, timeout=60):
    cmd = ['gdbus'] + list(args[:1]) + ['--session', '--dest', NAME, '--object-path', path] + \
        list(args[1:])
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    if ok and r.returncode != 0:
        fail('%s: %s' % (' '.join(cmd[:8]), r.stderr.strip()))
    return r


def call(path, method, *args, ok=True):
    return gdbus('call', '--method', method, *args, path=path, ok=ok)


def managed_objects():
    out = call(ROOT, 'org.freedesktop.DBus.ObjectManager.GetManagedObjects').stdout
    objects = {}
    for path, body in re.findall(r"'(%s/device/\d+)': \{'%s': \{(.*?)\}\}" %
                                 (re.escape(ROOT), re.escape(DEVICE)), out):
        identity = re.search(r"'Identity': <'([^']*)'>", body)
        objects[identity.group(1) if identity else ''] = (path, body)
    return objects


def library_writes(trace_file, path, start=0):
    """The writes one interface got, as the simulator traced them (from byte `start` on)."""
    out = []
    with open(trace_file, 'rb') as f:
        f.seek(start)
        for line in f.read().decode('utf-8', 'replace').splitlines():
            try:
                o = json.loads(line)
            except ValueError:
                continue
            if o.get('lib') != 'UsbInterface' or o.get('path', '').lower() != path.lower():
                continue
            call_name = o.get('call', '')
            if call_name.startswith('dcWrite') or call_name == 'Reset':
                out.append((call_name, o.get('arg'), o.get('count'), o.get('bytes')))
    return out


def ctl_apply(program_dir, work, document_file, devices_file):
    trace = os.path.join(work, 'ctl-%s.trace' % os.path.basename(document_file))
    env = dict(os.environ, TORVANIX_SIM_TRACE=trace, TORVANIX_SIM_DEVICES=devices_file,
               TORVANIX_SIM_STATE=trace + '.state')
    r = subprocess.run([os.path.join(program_dir, 'torvanix-ctl'), '--no-pause', 'apply',
                        document_file], capture_output=True, text=True, env=env, timeout=60)
    check(r.returncode == 0, 'torvanix-ctl apply %s: %s' % (document_file, r.stderr))
    answers = ''.join(json.loads(line)['args'][0] for line in r.stdout.splitlines()
                      if line.startswith('{') and json.loads(line)['event'] == 'OnNotifySaveXml')
    return trace, answers


def set_battery_register(state_file, path, level):
    """Register 7 (battery, status) of one simulated device, as the simulator keeps it."""
    import fcntl
    with open(state_file + '.lock', 'a') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with open(state_file) as f:
            state = json.load(f)
        for key, device in state.get('devices', {}).items():
            if key.lower() == path.lower():
                registers = device.setdefault('registers', {})
                registers['7'] = '%02x' % level + registers.get('7', '0001')[2:4]
        with open(state_file + '.new', 'w') as f:
            json.dump(state, f)
        os.replace(state_file + '.new', state_file)


def write_devices(file, devices):
    # Renamed over the old one, so the simulator's watcher sees one whole new set.
    with open(file + '.new', 'w') as f:
        json.dump(devices, f)
    os.replace(file + '.new', file)


def inner(program_dir, golden_dir, work):
    import dbus  # python3-dbus: the exact texts of answers and errors

    monitor_log = os.path.join(work, 'monitor.log')
    monitor = subprocess.Popen(['gdbus', 'monitor', '--session', '--dest', NAME],
                               stdout=open(monitor_log, 'w'), stderr=subprocess.STDOUT)
    try:
        wait_for('gdbus monitor', lambda: os.path.getsize(monitor_log) > 0, 10)
        run(program_dir, golden_dir, work, monitor_log, dbus)
    finally:
        monitor.terminate()
        # The core the bus started ends with the bus; asked first, so it leaves cleanly.
        bus_pid = subprocess.run(
            ['gdbus', 'call', '--session', '--dest', 'org.freedesktop.DBus', '--object-path',
             '/org/freedesktop/DBus', '--method',
             'org.freedesktop.DBus.GetConnectionUnixProcessID', NAME],
            capture_output=True, text=True).stdout
        m = re.search(r'uint32 (\d+)', bus_pid)
        if m:
            os.kill(int(m.group(1)), signal.SIGTERM)
            wait_for('the core to end', lambda: not os.path.exists('/proc/' + m.group(1)) or
                     open('/proc/%s/stat' % m.group(1)).read().split(') ')[1][0] == 'Z', 30)


def monitor_text(monitor_log):
    with open(monitor_log) as f:
        return f.read()


def run(program_dir, golden_dir, work, monitor_log, dbus):
    devices_file = os.environ['TORVANIX_SIM_DEVICES']
    trace_file = os.environ['TORVANIX_SIM_TRACE']

    # Started by the bus through the service file, for the first call to the name.
    call(ROOT, 'org.freedesktop.DBus.Peer.Ping')
    listed = subprocess.run([os.path.join(program_dir, 'torvanix-ctl'), '--no-pause', 'list'],
                            capture_output=True, text=True, timeout=60)
    count = len(json.loads(listed.stdout))
    objects = wait_for('every demo device on the bus',
                       lambda: (lambda o: o if len(o) == count else None)(managed_objects()))
    for identity in (WSU, QPA, 'TOB-NIR-V1.2.0', 'HJE-XAV-V1.2.0'):
        check(identity in objects, '%s is not among the device objects: %s' %
              (identity, sorted(objects)))
    wsu_path, wsu_body = objects[WSU]
    qpa_path, qpa_body = objects[QPA]
    # Only what a device has: the notebook lighting has no battery, the mouse has one.
    check("'Battery'" not in wsu_body and "'ProfileCount': <uint32 4>" in wsu_body, wsu_body)
    check("'Battery': <uint32 85>" in qpa_body and "'Connection': <'bluetooth'>" in qpa_body,
          qpa_body)

    root = gdbus('introspect').stdout
    for part in ('interface org.torvanix.Torvanix ', 'org.freedesktop.DBus.ObjectManager',
                 'GetManagedObjects(out a{oa{sa{sv}}} objects)', "readonly s Version = '",
                 'node device'):
        check(part in root, 'root introspection lacks %r:\n%s' % (part, root))
    device = gdbus('introspect', path=wsu_path).stdout
    for part in ('interface org.torvanix.Torvanix.Device', 'SwitchProfile(in  u profile)',
                 'out s answer', "readonly s Identity = '%s'" % WSU, 'PropertiesChanged'):
        check(part in device, 'device introspection lacks %r:\n%s' % (part, device))
    r = call(wsu_path, 'org.freedesktop.DBus.Properties.Get', DEVICE, 'Battery', ok=False)
    check('org.freedesktop.DBus.Error.UnknownProperty' in r.stderr, r.stderr)

    bus = dbus.SessionBus()
    wsu = dbus.Interface(bus.get_object(NAME, wsu_path), DEVICE)
    qpa = dbus.Interface(bus.get_object(NAME, qpa_path), DEVICE)
    with open(devices_file) as f:
        devices = json.load(f)
    wsu_device_path = next(d['path'] for d in devices if d.get('firmware', '').startswith(WSU))

    # A read answers the document the page gets back; the same as torvanix-ctl prints.
    get_file = os.path.join(golden_dir, 'g16_light_get.xml')
    _, ctl_answer = ctl_apply(program_dir, work, get_file, devices_file)
    answer = str(wsu.Apply(open(get_file).read(), timeout=60))
    check(answer == ctl_answer and 'LightRGB' in answer,
          'Apply answered %r, torvanix-ctl apply %r' % (answer, ctl_answer))

    # A write: the same library calls, byte for byte, as torvanix-ctl apply of the document.
    set_file = os.path.join(golden_dir, 'g04_light_rgb.xml')
    ctl_trace, ctl_answer = ctl_apply(program_dir, work, set_file, devices_file)
    start = os.path.getsize(trace_file)
    r = call(wsu_path, DEVICE + '.Apply', gvariant_string(open(set_file).read()))
    check(r.stdout.strip() == "('%s',)" % ctl_answer, 'Apply answered ' + r.stdout)
    expected = library_writes(ctl_trace, wsu_device_path)
    check(expected, 'torvanix-ctl wrote nothing for ' + set_file)
    got = wait_for('the document to reach the device',
                   lambda: library_writes(trace_file, wsu_device_path, start), 10)
    check(got == expected, 'over the bus: %s\ntorvanix-ctl: %s' % (got, expected))

    # Refusals are errors with their reasons, and nothing is written.
    start = os.path.getsize(trace_file)
    try:
        qpa.Apply(open(set_file).read())
        fail('a document for another device was taken')
    except dbus.DBusException as e:
        check(e.get_dbus_name() == 'org.torvanix.Torvanix.Error.WrongDevice' and
              WSU in e.get_dbus_message(), str(e))
    for bad, name in (('<configuration', 'org.freedesktop.DBus.Error.InvalidArgs'),
                      ('<configuration/>', 'org.freedesktop.DBus.Error.InvalidArgs')):
        try:
            wsu.Apply(bad)
            fail('%r was taken' % bad)
        except dbus.DBusException as e:
            check(e.get_dbus_name() == name, str(e))
    try:
        wsu.SwitchProfile(dbus.UInt32(9))
        fail('profile 9 of 4 was taken')
    except dbus.DBusException as e:
        check(e.get_dbus_name() == 'org.freedesktop.DBus.Error.InvalidArgs', str(e))
    mouse = dbus.Interface(bus.get_object(NAME, objects['258A002E'][0]), DEVICE)
    try:
        mouse.SwitchProfile(dbus.UInt32(1))
        fail('a device without profiles took a profile switch')
    except dbus.DBusException as e:
        check(e.get_dbus_name() == 'org.torvanix.Torvanix.Error.Refused', str(e))
    check(library_writes(trace_file, wsu_device_path, start) == [],
          'a refused document was written')

    # The profile switch: the device's current-profile register, and the property follows.
    start = os.path.getsize(trace_file)
    call(wsu_path, DEVICE + '.SwitchProfile', '2')
    got = wait_for('the profile switch', lambda: library_writes(trace_file, wsu_device_path, start),
                   10)
    check(('dcWriteProperty', 5, 1, '02') in got, 'the profile switch wrote %s' % got)
    wait_for('PropertiesChanged with Profile 2', lambda: re.search(
        r"%s: org\.freedesktop\.DBus\.Properties\.PropertiesChanged \('%s', \{[^}]*'Profile': "
        r"<uint32 2>" % (re.escape(wsu_path), re.escape(DEVICE)), monitor_text(monitor_log)), 10)
    r = call(wsu_path, 'org.freedesktop.DBus.Properties.Get', DEVICE, 'Profile')
    check(r.stdout.strip() == '(<uint32 2>,)', r.stdout)

    # The device list changes: the mouse's battery drops while the notebook lighting leaves.
    # The level is where the simulator keeps it (register 7) and in the set file's seed.
    for d in devices:
        if d.get('firmware', '').startswith(QPA):
            d['battery'] = 40
            set_battery_register(os.environ['TORVANIX_SIM_STATE'], d['path'], 40)
    write_devices(devices_file, [d for d in devices if d.get('path') != wsu_device_path])
    wait_for('InterfacesRemoved of the notebook lighting', lambda: re.search(
        r"%s: org\.freedesktop\.DBus\.ObjectManager\.InterfacesRemoved \(objectpath '%s', "
        r"\['%s'\]\)" % (ROOT, re.escape(wsu_path), re.escape(DEVICE)), monitor_text(monitor_log)))
    check(WSU not in managed_objects(), 'the removed device is still listed')
    r = call(wsu_path, DEVICE + '.Show', ok=False)
    check('org.freedesktop.DBus.Error.UnknownObject' in r.stderr, r.stderr)
    wait_for('PropertiesChanged with the new battery level', lambda: re.search(
        r"%s: org\.freedesktop\.DBus\.Properties\.PropertiesChanged \('%s', \{[^}]*'Battery': "
        r"<uint32 40>" % (re.escape(qpa_path), re.escape(DEVICE)), monitor_text(monitor_log)))

    # It comes back under its old number, announced again with its properties.
    removed_at = len(monitor_text(monitor_log))
    write_devices(devices_file, devices)
    wait_for('InterfacesAdded of the notebook lighting', lambda: re.search(
        r"InterfacesAdded \(objectpath '%s', \{'%s': \{[^}]*'Identity': <'%s'>" %
        (re.escape(wsu_path), re.escape(DEVICE), re.escape(WSU)),
        monitor_text(monitor_log)[removed_at:]))
    print('dbus api ok')


def kill_strays(work):
    """Programs still running with this run's folders (a core the bus started and a failed
    check left behind) are killed."""
    mark = ('TMPDIR=%s\0' % os.path.join(work, 'tmp')).encode()
    for entry in os.listdir('/proc'):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open('/proc/%s/environ' % entry, 'rb') as f:
                if mark in f.read():
                    os.kill(int(entry), signal.SIGKILL)
        except OSError:
            pass


def outer(program_dir, golden_dir, service_template):
    for tool in ('dbus-run-session', 'gdbus'):
        if not shutil.which(tool):
            print('%s is missing (scripts/deps.sh)' % tool)
            sys.exit(SKIP)
    for program in ('torvanix', 'torvanix-ctl', 'libUsbInterface.so'):
        if not os.path.exists(os.path.join(program_dir, program)):
            print('%s is not built' % program)
            sys.exit(SKIP)
    work = tempfile.mkdtemp(prefix='tvx-dbus-')
    try:
        for sub in ('home', 'runtime', 'tmp', 'state/torvanix', 'data/dbus-1/services'):
            os.makedirs(os.path.join(work, sub), mode=0o700)
        # No first start: that would start the program again after this run.
        open(os.path.join(work, 'state/torvanix/first-start-done'), 'w').close()
        shutil.copy(os.path.join(program_dir, 'sim-devices.json'),
                    os.path.join(work, 'devices.json'))
        with open(service_template) as f:
            service = f.read().replace('@TORVANIX_CORE_PATH@',
                                       os.path.join(program_dir, 'torvanix'))
        with open(os.path.join(work, 'data/dbus-1/services', NAME + '.service'), 'w') as f:
            f.write(service)
        env = dict(os.environ)
        for k in ('DISPLAY', 'WAYLAND_DISPLAY', 'DBUS_SESSION_BUS_ADDRESS', 'TORVANIX_SIM_FAULTS',
                  'TORVANIX_DEVICES_DIR'):
            env.pop(k, None)
        env.update({
            'HOME': os.path.join(work, 'home'),
            'TMPDIR': os.path.join(work, 'tmp'),
            'XDG_RUNTIME_DIR': os.path.join(work, 'runtime'),
            'XDG_STATE_HOME': os.path.join(work, 'state'),
            'XDG_CONFIG_HOME': os.path.join(work, 'home/.config'),
            # The bus reads its service files from here.
            'XDG_DATA_HOME': os.path.join(work, 'data'),
            'QT_QPA_PLATFORM': 'offscreen',
            'TORVANIX_SIM_DEVICES': os.path.join(work, 'devices.json'),
            'TORVANIX_SIM_STATE': os.path.join(work, 'state.json'),
            'TORVANIX_SIM_TRACE': os.path.join(work, 'trace.jsonl'),
            'TORVANIX_NO_PAUSE': '1',
        })
        try:
            r = subprocess.run(['dbus-run-session', '--', sys.executable,
                                os.path.abspath(__file__), '--inner', program_dir, golden_dir,
                                work], env=env, timeout=280)
        finally:
            kill_strays(work)
        if r.returncode != 0:
            log = os.path.join(work, 'runtime/torvanix/ozk.log')
            if os.path.exists(log):
                sys.stderr.write('--- ozk.log ---\n' + open(log).read()[-4000:])
            sys.exit(r.returncode)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    if sys.argv[1] == '--inner':
        inner(*sys.argv[2:5])
    else:
        outer(*sys.argv[1:4])
