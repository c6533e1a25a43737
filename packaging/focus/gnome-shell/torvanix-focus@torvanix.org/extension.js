// Tells Torvanix the application of the window in front. GNOME Shell keeps its window list to
// itself under Wayland, so Torvanix cannot see it on its own.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

function appOf(window) {
    if (!window)
        return '';
    // The class is what X11 reports too; a Wayland window's class is its app id.
    return window.get_wm_class() || window.get_gtk_application_id() || '';
}

export default class TorvanixFocus extends Extension {
    enable() {
        this._handler = global.display.connect('notify::focus-window', () => this._tell());
        this._tell();
    }

    disable() {
        global.display.disconnect(this._handler);
        this._handler = null;
    }

    _tell() {
        const app = appOf(global.display.focus_window);
        if (!app)
            return;
        // Not started by the bus on every focus change: only a running Torvanix hears it.
        Gio.DBus.session.call('org.torvanix.Torvanix', '/org/torvanix/Torvanix',
            'org.torvanix.Torvanix', 'SetActiveApplication', new GLib.Variant('(s)', [app]),
            null, Gio.DBusCallFlags.NO_AUTO_START, 1000, null, (bus, result) => {
                try {
                    bus.call_finish(result);
                } catch (e) {
                    // Torvanix is not running: nothing to tell.
                }
            });
    }
}
