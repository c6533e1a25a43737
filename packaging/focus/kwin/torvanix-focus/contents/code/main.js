// Tells Torvanix the application of the window in front. KWin keeps its window list to itself
// under Wayland, so Torvanix cannot see it on its own. Nothing is sent while Torvanix is not
// running: a plain call would make the bus start it on every focus change.
function tell(window) {
    if (!window) return;
    const app = String(window.desktopFileName || window.resourceClass || "");
    if (!app) return;
    callDBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", "org.torvanix.Torvanix", function (running) {
            if (running)
                callDBus("org.torvanix.Torvanix", "/org/torvanix/Torvanix",
                    "org.torvanix.Torvanix", "SetActiveApplication", app);
        });
}
// Plasma 6 names it windowActivated, Plasma 5 clientActivated.
(workspace.windowActivated || workspace.clientActivated).connect(tell);
tell(workspace.activeWindow || workspace.activeClient);
