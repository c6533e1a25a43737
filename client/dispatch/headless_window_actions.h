#pragma once

#include "window_actions.h"

#include <QMutex>
#include <QStringList>
#include <functional>

namespace torvanix {

// WindowActions without a window, for the command-line tool and tests: file dialogs take
// their answers from a list, in order (an exhausted list cancels); everything else is
// recorded and reported through `note`.
class HeadlessWindowActions : public WindowActions {
public:
    explicit HeadlessWindowActions(QStringList choices = {});

    // Called with a one-line description of every action ("openExternal file:///...").
    std::function<void(const QString &)> note;

    void showClient() override;
    void openView(const QString &url, double width, double height) override;
    void closeView() override;
    void closeMainWindow() override;
    bool openExternal(const QString &url) override;
    void setAutoRun(bool enabled) override;
    void quitApplication() override;
    QStringList getOpenFileNames(const QString &title, const QString &directory,
                                 const QString &filter) override;
    QString getOpenFileName(const QString &title, const QString &directory,
                            const QString &filter) override;
    QString getSaveFileName(const QString &title, const QString &directory,
                            const QString &filter) override;
    QString lastVisitedDirectory() const override;

    // What happened, in order: "dialog <title>|<directory>|<filter>", "openExternal <url>",
    // "quit", ...
    QStringList log() const;
    int quitCount() const;

private:
    QString take(const QString &kind, const QString &title, const QString &directory,
                 const QString &filter);
    void record(const QString &line);

    mutable QMutex mutex_;
    QStringList choices_;
    QStringList log_;
    QString lastVisited_;
    int quits_ = 0;
};

} // namespace torvanix
