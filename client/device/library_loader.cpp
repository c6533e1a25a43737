#include "library_loader.h"

#include "device_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QMutex>
#include <QMutexLocker>
#include <atomic>

namespace torvanix {

Q_LOGGING_CATEGORY(lcDevices, "torvanix.device")

namespace {
QMutex &directoryMutex() {
    static QMutex mutex;
    return mutex;
}

QString &directoryOverride() {
    static QString directory;
    return directory;
}

std::atomic<void *> g_mainWindow{nullptr};
} // namespace

void setDevicesDirectory(const QString &directory) {
    QMutexLocker locker(&directoryMutex());
    directoryOverride() = directory;
}

QString devicesDirectory() {
    {
        QMutexLocker locker(&directoryMutex());
        if (!directoryOverride().isEmpty())
            return directoryOverride();
    }
    // Lets a whole session (the tests, a machine with real devices) choose the backend
    // without a command-line option.
    const QString fromEnvironment = qEnvironmentVariable("TORVANIX_DEVICES_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

QString deviceLibraryFile(const QString &baseName) {
#if defined(Q_OS_WIN)
    const QString fileName = baseName + QLatin1String(".dll");
#elif defined(Q_OS_MACOS)
    const QString fileName = QLatin1String("lib") + baseName + QLatin1String(".dylib");
#else
    const QString fileName = QLatin1String("lib") + baseName + QLatin1String(".so");
#endif
    return QDir(devicesDirectory()).filePath(fileName);
}

bool loadDeviceLibrary(QLibrary &library, const QString &baseName) {
    const QString file = deviceLibraryFile(baseName);
    // A bare name would make the loader search the system paths; only the program folder
    // (or the folder the user named) may supply these libraries.
    if (!QFileInfo::exists(file)) {
        qCDebug(lcDevices).noquote() << "device library not found:" << file;
        return false;
    }
    library.setFileName(file);
    if (!library.load()) {
        qCDebug(lcDevices).noquote() << "device library did not load:" << library.errorString();
        return false;
    }
    return true;
}

void setMainWindowHandle(void *handle) {
    g_mainWindow.store(handle);
}

void *mainWindowHandle() {
    return g_mainWindow.load();
}

} // namespace torvanix
