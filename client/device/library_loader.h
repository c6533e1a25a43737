#pragma once

#include <QFunctionPointer>
#include <QString>
#include <functional>

class QLibrary;

namespace torvanix {

// Where the device access libraries are loaded from: the folder set here (the command-line
// tool's --devices DIR, tests), else TORVANIX_DEVICES_DIR, else the folder of the running
// program. Thread-safe.
void setDevicesDirectory(const QString &directory);
QString devicesDirectory();

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
