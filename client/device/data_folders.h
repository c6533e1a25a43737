#pragma once

#include <QString>
#include <functional>

namespace torvanix {

// Where the program keeps files it writes itself. The program folder is used when the running
// user may write there (a build tree, an unpacked release): everything stays beside the
// program as before. An installed program lives in a folder the user cannot write, so its
// downloads ("update/") and screen pictures ("screen/") go to the per-user data folder.
// Helper programs (converter, updater, flashing tool) are always taken from the program folder.
namespace data_folders {

using WritableProbe = std::function<bool(const QString &folder)>;

// The per-user data folder, "torvanix" in the user's data location ($XDG_DATA_HOME, else
// ~/.local/share). Not created here.
QString userDataFolder();

// True when a file can be created in `folder` (tried, not guessed from the mode bits: root
// passes those everywhere, and a read-only mount fails whatever they say).
bool canCreateFiles(const QString &folder);

// The folder for the program's own writes: `programFolder` when `writable` says so, otherwise
// the user data folder, created on demand (an empty answer when it cannot be created).
QString writableFolder(const QString &programFolder,
                       const WritableProbe &writable = canCreateFiles);

// The browser's persistent storage (local storage, cookies) belongs in `storageFolder`, kept
// across reboots; earlier runs kept it in `tempFolder`, which is emptied at boot. When
// `storageFolder` does not exist yet and `tempFolder` holds storage, that storage is moved
// over once (entries named in `keep`, such as the cache and the log, stay). The answer is the
// folder to use: `storageFolder`, or `tempFolder` when the move failed, so nothing saved is
// lost and the move is tried again next time. `why` (may be null) gets a line for the log.
QString settleBrowserStorage(const QString &tempFolder, const QString &storageFolder,
                             const QStringList &keep, QString *why = nullptr);

} // namespace data_folders
} // namespace torvanix
