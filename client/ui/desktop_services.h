#pragma once

#include <QString>

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

// The desktop scale (desktop height / 1080) and the DPI step of the primary screen.
struct ScreenScales {
    double desktopScale = 1.0;
    double dpiScale = 1.0;
    int desktopWidth = 0;
    int desktopHeight = 0;
};
ScreenScales currentScreenScales();

} // namespace torvanix
