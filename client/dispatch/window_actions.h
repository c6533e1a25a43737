#pragma once

#include <QString>
#include <QStringList>

namespace torvanix {

// What page commands ask of the desktop side: the main window, pop-up views, the desktop's
// default handlers, file dialogs and the application's lifetime. The window implements it;
// the command-line tool and the tests implement it headless (dialogs answered from a list).
class WindowActions {
public:
    virtual ~WindowActions() = default;

    // ShowClient: tool window, frameless, stays on top, shown.
    virtual void showClient() = 0;
    // OpenView / CloseView / CloseX.
    virtual void openView(const QString &url, double width, double height) = 0;
    virtual void closeView() = 0;
    virtual void closeMainWindow() = 0;

    // Opens a URL (http..., file:///...) or a folder with the desktop's default handler.
    virtual bool openExternal(const QString &url) = 0;
    // Logon start on (true) or off (false).
    virtual void setAutoRun(bool enabled) = 0;

    // The once-only quit of the application.
    virtual void quitApplication() = 0;

    // Modal file dialogs. An empty result means cancelled. After a dialog,
    // lastVisitedDirectory() tells the folder the next dialog would open.
    virtual QStringList getOpenFileNames(const QString &title, const QString &directory,
                                         const QString &filter) = 0;
    virtual QString getOpenFileName(const QString &title, const QString &directory,
                                    const QString &filter) = 0;
    virtual QString getSaveFileName(const QString &title, const QString &directory,
                                    const QString &filter) = 0;
    virtual QString lastVisitedDirectory() const = 0;
};

} // namespace torvanix
