#include "headless_window_actions.h"

#include <QFileInfo>

namespace torvanix {

HeadlessWindowActions::HeadlessWindowActions(QStringList choices) : choices_(std::move(choices)) {}

void HeadlessWindowActions::record(const QString &line) {
    {
        QMutexLocker lock(&mutex_);
        log_.append(line);
    }
    if (note)
        note(line);
}

void HeadlessWindowActions::showClient() {
    record(QStringLiteral("showClient"));
}

void HeadlessWindowActions::openView(const QString &url, double width, double height) {
    record(QStringLiteral("openView %1 %2 %3").arg(url).arg(width).arg(height));
}

void HeadlessWindowActions::closeView() {
    record(QStringLiteral("closeView"));
}

void HeadlessWindowActions::closeMainWindow() {
    record(QStringLiteral("closeMainWindow"));
}

bool HeadlessWindowActions::openExternal(const QString &url) {
    record(QStringLiteral("openExternal ") + url);
    return true;
}

void HeadlessWindowActions::setAutoRun(bool enabled) {
    record(QStringLiteral("setAutoRun ") + (enabled ? QLatin1String("1") : QLatin1String("0")));
}

void HeadlessWindowActions::quitApplication() {
    {
        QMutexLocker lock(&mutex_);
        ++quits_;
    }
    record(QStringLiteral("quit"));
}

QString HeadlessWindowActions::take(const QString &kind, const QString &title,
                                    const QString &directory, const QString &filter) {
    QString chosen;
    {
        QMutexLocker lock(&mutex_);
        if (!choices_.isEmpty())
            chosen = choices_.takeFirst();
        // Like the toolkit's dialogs: the next dialog opens where this one ended.
        lastVisited_ =
            chosen.isEmpty()
                ? (QFileInfo(directory).isDir() ? directory : QFileInfo(directory).path())
                : QFileInfo(chosen).absolutePath();
    }
    record(QStringLiteral("%1 %2|%3|%4").arg(kind, title, directory, filter));
    return chosen;
}

QStringList HeadlessWindowActions::getOpenFileNames(const QString &title, const QString &directory,
                                                    const QString &filter) {
    QStringList files;
    // A multi-selection takes every remaining answer.
    QString first = take(QStringLiteral("openFiles"), title, directory, filter);
    if (first.isEmpty())
        return files;
    files.append(first);
    QMutexLocker lock(&mutex_);
    files.append(choices_);
    choices_.clear();
    return files;
}

QString HeadlessWindowActions::getOpenFileName(const QString &title, const QString &directory,
                                               const QString &filter) {
    return take(QStringLiteral("open"), title, directory, filter);
}

QString HeadlessWindowActions::getSaveFileName(const QString &title, const QString &directory,
                                               const QString &filter) {
    return take(QStringLiteral("save"), title, directory, filter);
}

QString HeadlessWindowActions::lastVisitedDirectory() const {
    QMutexLocker lock(&mutex_);
    return lastVisited_;
}

QStringList HeadlessWindowActions::log() const {
    QMutexLocker lock(&mutex_);
    return log_;
}

int HeadlessWindowActions::quitCount() const {
    QMutexLocker lock(&mutex_);
    return quits_;
}

} // namespace torvanix
