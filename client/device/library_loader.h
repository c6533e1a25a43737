#pragma once

#include <QFunctionPointer>
#include <QString>
#include <functional>

class QLibrary;

namespace torvanix {

// Where the device access libraries are loaded from, first that applies:
//   1. the folder set here (--devices DIR of the program and of torvanix-ctl, tests);
//   2. TORVANIX_DEVICES_DIR;
//   3. the folder "hidraw" beside the program when it holds the USB device access library:
//      the installed layout, where the program reaches the real devices;
//   4. the program's own folder: the build tree, whose program folder holds the simulator
//      (its hidraw libraries sit in a folder of their own, <build>/hidraw).
// Thread-safe.
void setDevicesDirectory(const QString &directory);
QString devicesDirectory();

enum class DevicesSource { Option, Environment, Installed, ProgramFolder };
struct DevicesChoice {
    QString directory;
    DevicesSource source = DevicesSource::ProgramFolder;
};
DevicesChoice devicesChoice();
// The rule above over given inputs (empty: not given).
DevicesChoice chooseDevicesDirectory(const QString &option, const QString &environment,
                                     const QString &programFolder);
// "DIR (why)" for the log, e.g. "/usr/lib/torvanix/hidraw (installed program)".
QString describeDevicesChoice(const DevicesChoice &choice);

// The folder of the installed layout's real-device libraries, beside the program.
inline constexpr const char *kHardwareDevicesFolder = "hidraw";

// Takes "--devices DIR" or "--devices=DIR" out of a program's arguments (argc shrinks, argv
// keeps its order), so the browser engine never sees it. `error` is set when the value is
// missing or names no folder; the last occurrence wins.
struct DevicesOption {
    bool given = false;
    QString directory;
    QString error;
};
DevicesOption takeDevicesOption(int &argc, char **argv);

// The file of the library with the given base name ("UsbInterface", "KBAccess",
// "ByDevInterface") inside devicesDirectory(): libUsbInterface.so on Unix.
QString deviceLibraryFile(const QString &baseName);

// Loads `library` from deviceLibraryFile(baseName). False (and a debug trace) when the file is
// absent or does not load; the caller then treats the whole family as absent.
bool loadDeviceLibrary(QLibrary &library, const QString &baseName);

// Looks one entry up by name; null when the library lacks it.
using EntryResolver = std::function<QFunctionPointer(const char *name)>;

// Turns a resolved entry into a callable of the entry's type; an empty callable when missing,
// which every caller treats as "this operation fails".
template <typename Signature>
std::function<Signature> resolveEntry(const EntryResolver &resolve, const char *name) {
    if (!resolve)
        return {};
    QFunctionPointer entry = resolve(name);
    if (!entry)
        return {};
    return reinterpret_cast<Signature *>(entry);
}

// The opaque handle of the main window handed to the keyboard and mouse libraries'
// InitDevice. Null when the program runs without a window (command-line tool, tests).
void setMainWindowHandle(void *handle);
void *mainWindowHandle();

} // namespace torvanix
