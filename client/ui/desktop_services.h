#pragma once

#include <QRect>
#include <QString>

class QScreen;

namespace torvanix {

// The once-only quit: the first call asks the event loop to quit (when an application
// exists); later calls do nothing.
void quitOnce();
bool quitRequested();
// For tests that run several quit cycles in one process.
void resetQuitRequest();

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
