#include "desktop_services.h"

#include "browser/browser_rules.h"
#include "device/update_firmware.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

namespace torvanix {

ShellState &shellState() {
    static ShellState state;
    return state;
}

QString buildBrand() {
    return QStringLiteral(TORVANIX_BRAND);
}

namespace {
bool g_quitRequested = false;
bool g_quitWaiting = false;
const char *const kEntryName = "LUMSetup";

void quitNow() {
    g_quitRequested = true;
    if (QCoreApplication::instance())
        QCoreApplication::quit();
}
} // namespace

bool firmwareUpdateHoldsQuit(const char *what) {
    if (!FirmwareRunSlot::taken())
        return false;
    qWarning().noquote() << what
                         << "held back: a firmware update is being written and the device "
                            "would be left half written";
    return true;
}

void quitOnce() {
    if (g_quitRequested || firmwareUpdateHoldsQuit("quit"))
        return;
    quitNow();
}

bool quitRequested() {
    return g_quitRequested;
}

void resetQuitRequest() {
    g_quitRequested = false;
    g_quitWaiting = false;
}

void quitAfterFirmwareUpdate(int maxWaitMs, const std::function<void(const QString &)> &log) {
    if (g_quitWaiting)
        return;
    if (g_quitRequested || !FirmwareRunSlot::taken() || !QCoreApplication::instance()) {
        quitNow();
        return;
    }
    if (log)
        log(QStringLiteral("quit put off until the firmware update being written ends (at "
                           "most %1 s)")
                .arg(maxWaitMs / 1000));
    g_quitWaiting = true;
    auto *poll = new QTimer(QCoreApplication::instance());
    const QDeadlineTimer deadline(maxWaitMs);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, deadline, log] {
        const bool running = FirmwareRunSlot::taken();
        if (running && !deadline.hasExpired())
            return;
        poll->deleteLater();
        if (!g_quitWaiting)
            return; // reset meanwhile (tests)
        g_quitWaiting = false;
        if (log)
            log(running ? QStringLiteral("the firmware update is still running after the "
                                         "wait; quitting")
                        : QStringLiteral("the firmware update ended; quitting"));
        quitNow();
    });
    poll->start(100);
}

AutoStart::AutoStart(QString autostartDir) : dir_(std::move(autostartDir)) {
    if (dir_.isEmpty())
        dir_ = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/autostart");
}

QString AutoStart::entryPath() const {
    return dir_ + QLatin1Char('/') + QLatin1String(kEntryName) + QStringLiteral(".desktop");
}

QString AutoStart::execValue(const QString &programPath) {
    // Inside double quotes the desktop entry format reserves ", `, $ and \; a literal %
    // is written %%. The backslash itself is escaped once more by the string value rules.
    QString quoted;
    for (const QChar c : programPath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QStringLiteral("\\\\") + c;
        else if (c == QLatin1Char('\\'))
            quoted += QStringLiteral("\\\\\\\\");
        else if (c == QLatin1Char('%'))
            quoted += QStringLiteral("%%");
        else if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            continue;
        else
            quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool AutoStart::setEnabled(bool enabled, const QString &programPath) {
    if (!QDir().mkpath(dir_))
        return false;
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << kEntryName << "\n"
        << "Comment=Torvanix device centre\n"
        << "Exec=" << (enabled ? execValue(programPath) : QString()) << "\n"
        << "Terminal=false\n"
        << "Hidden=" << (enabled ? "false" : "true") << "\n"
        << "X-GNOME-Autostart-enabled=" << (enabled ? "true" : "false") << "\n";
    out.flush();
    return file.commit();
}

bool AutoStart::isEnabled() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool hidden = false;
    bool hasExec = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.trimmed() == QLatin1String("Hidden=true"))
            hidden = true;
        if (line.startsWith(QLatin1String("Exec=")) && line.size() > 5)
            hasExec = true;
    }
    return hasExec && !hidden;
}

void configureHighDpi() {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

ScreenScales currentScreenScales(QScreen *screen) {
    ScreenScales s;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return s;
    s.devicePixelRatio = screen->devicePixelRatio() > 0 ? screen->devicePixelRatio() : 1.0;
    const QSize size = screen->size() * s.devicePixelRatio;
    s.desktopWidth = size.width();
    s.desktopHeight = size.height();
    s.desktopScale = size.height() / 1080.0;
    s.dpiScale = dpiScaleFor(screen->logicalDotsPerInch() * s.devicePixelRatio);
    return s;
}

QRect fitWindowToScreen(const QSize &wanted, const QRect &current, const QRect &available) {
    if (available.isEmpty() || wanted.isEmpty())
        return QRect(current.topLeft(), wanted);
    QSize size = wanted;
    if (size.width() > available.width() || size.height() > available.height())
        size = wanted.scaled(available.size(), Qt::KeepAspectRatio);
    QPoint pos = current.topLeft();
    pos.setX(qBound(available.left(), pos.x(), available.right() + 1 - size.width()));
    pos.setY(qBound(available.top(), pos.y(), available.bottom() + 1 - size.height()));
    return QRect(pos, size);
}

} // namespace torvanix
