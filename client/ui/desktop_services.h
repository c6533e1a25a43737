#pragma once

#include "dispatch/window_commands.h"

#include <QRect>
#include <QString>
#include <functional>

class QScreen;

namespace torvanix {

// Process-wide shell state the page commands read (first start).
ShellState &shellState();

// The edition word this program was built with ("Torvanix" unless the build chose another).
QString buildBrand();

// The once-only quit: the first call asks the event loop to quit (when an application
// exists); later calls do nothing. While a firmware update is being written the request is
// refused (and logged): quitting then would leave the device half written.
void quitOnce();
bool quitRequested();
// For tests that run several quit cycles in one process.
void resetQuitRequest();
// True (and logs why, naming `what` was held back) while a firmware update is being written.
bool firmwareUpdateHoldsQuit(const char *what);
// The quit of a stop request (a session end): waits, with the event loop running, for a
// firmware update being written to end, at most `maxWaitMs`, then quits whatever happens.
// `log` (may be empty) hears why the quit waits and how the wait ended.
void quitAfterFirmwareUpdate(int maxWaitMs, const std::function<void(const QString &)> &log = {});

// Logon start through the user's XDG autostart entry "LUMSetup.desktop". Enabling writes an
// entry that starts programPath; disabling keeps the entry but marks it disabled.
class AutoStart {
public:
    // autostartDir empty: $XDG_CONFIG_HOME/autostart (~/.config/autostart).
    explicit AutoStart(QString autostartDir = QString());

    bool setEnabled(bool enabled, const QString &programPath);
    bool isEnabled() const;
    QString entryPath() const;

    // The Exec= value that runs exactly programPath: quoted and escaped by the desktop entry
    // rules, so a path with spaces, quotes or "$" cannot turn into other commands.
    static QString execValue(const QString &programPath);

private:
    QString dir_;
};

// Renders windows and pages at each screen's own device scale (fractional scales too) and
// keeps widget sizes in device-independent units. Called before the application object exists.
void configureHighDpi();

// The desktop scale (desktop height in device pixels / 1080) and the DPI step of a screen (the
// primary one when none is given), measured in device pixels whatever scale the toolkit
// applies: at 144 DPI the step is 1.5 on a screen the toolkit scales by 1.5 and on one it
// does not scale.
struct ScreenScales {
    double desktopScale = 1.0;
    double dpiScale = 1.0;
    int desktopWidth = 0;
    int desktopHeight = 0;
    // Device pixels per window unit.
    double devicePixelRatio = 1.0;
};
ScreenScales currentScreenScales(QScreen *screen = nullptr);

// The window rectangle for a window that wants size wanted and is now at current, on a screen
// whose free area is available: shrunk to fit with its aspect kept, moved inside when it
// sticks out.
QRect fitWindowToScreen(const QSize &wanted, const QRect &current, const QRect &available);

} // namespace torvanix
