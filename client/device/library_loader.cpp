#include "library_loader.h"

#include "device_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QMutex>
#include <QMutexLocker>
#include <atomic>
#include <cstring>

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

namespace {
QString programFolder() {
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                        : QDir::currentPath();
}

QString usbLibraryFileName() {
#if defined(Q_OS_WIN)
    return QStringLiteral("UsbInterface.dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("libUsbInterface.dylib");
#else
    return QStringLiteral("libUsbInterface.so");
#endif
}
} // namespace

DevicesChoice chooseDevicesDirectory(const QString &option, const QString &environment,
                                     const QString &program) {
    if (!option.isEmpty())
        return {option, DevicesSource::Option};
    if (!environment.isEmpty())
        return {environment, DevicesSource::Environment};
    const QString hardware = QDir(program).filePath(QLatin1String(kHardwareDevicesFolder));
    if (QFileInfo::exists(QDir(hardware).filePath(usbLibraryFileName())))
        return {hardware, DevicesSource::Installed};
    return {program, DevicesSource::ProgramFolder};
}

DevicesChoice devicesChoice() {
    QString option;
    {
        QMutexLocker locker(&directoryMutex());
        option = directoryOverride();
    }
    // The variable lets a whole session (the tests, a machine with real devices) choose the
    // backend without a command-line option.
    return chooseDevicesDirectory(option, qEnvironmentVariable("TORVANIX_DEVICES_DIR"),
                                  programFolder());
}

QString describeDevicesChoice(const DevicesChoice &choice) {
    const char *why = "";
    switch (choice.source) {
    case DevicesSource::Option:
        why = "--devices";
        break;
    case DevicesSource::Environment:
        why = "TORVANIX_DEVICES_DIR";
        break;
    case DevicesSource::Installed:
        why = "installed program: the real devices";
        break;
    case DevicesSource::ProgramFolder:
        why = "the program's folder";
        break;
    }
    return QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(choice.directory),
                                         QLatin1String(why));
}

QString devicesDirectory() {
    return devicesChoice().directory;
}

DevicesOption takeDevicesOption(int &argc, char **argv) {
    DevicesOption option;
    if (argc < 1 || !argv)
        return option;
    static const char flag[] = "--devices";
    const size_t flagLength = sizeof flag - 1;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strncmp(arg, flag, flagLength) != 0 ||
            (arg[flagLength] != '\0' && arg[flagLength] != '=')) {
            argv[kept++] = argv[i];
            continue;
        }
        option.given = true;
        option.error.clear();
        if (arg[flagLength] == '=') {
            option.directory = QString::fromLocal8Bit(arg + flagLength + 1);
        } else if (i + 1 < argc) {
            option.directory = QString::fromLocal8Bit(argv[++i]);
        } else {
            option.directory.clear();
            option.error = QStringLiteral("--devices needs a folder");
            continue;
        }
        if (option.directory.isEmpty())
            option.error = QStringLiteral("--devices needs a folder");
        else if (!QFileInfo(option.directory).isDir())
            option.error = QStringLiteral("--devices %1 is not a folder").arg(option.directory);
    }
    // argv holds argc + 1 entries, the last a null one, and keeps that shape.
    argc = kept;
    argv[argc] = nullptr;
    return option;
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
