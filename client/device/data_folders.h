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

// A folder that is this user's alone: a real folder (not a link), owned by the user, closed to
// group and others.
bool isPrivateFolder(const QString &path);

// `path` once it is a private folder: made with mode 0700 when missing; empty when it is a
// link, another user's, or open to others (whoever made it first in a shared folder).
QString ensurePrivateFolder(const QString &path);

// The per-user folder for what must be neither shared nor kept: the log "ozk.log" and the
// browser cache. "torvanix" in the user's runtime folder ($XDG_RUNTIME_DIR) when that is
// private, else "torvanix-<uid>" in the temporary folder, checked as above: another user who
// makes it first does not get this user's log or cache. Empty when neither can be had.
QString privateRuntimeFolder();

// The browser's persistent storage (local storage, cookies) belongs in `storageFolder`, kept
// across reboots; earlier runs kept it in `tempFolder`, which is emptied at boot. When
// `storageFolder` does not exist yet and `tempFolder` holds storage, that storage is moved
// over once (entries named in `keep`, such as the cache and the log, stay). The answer is the
// folder to use: `storageFolder`, or `tempFolder` when the move failed, so nothing saved is
// lost and the move is tried again next time. Storage is taken only from a real folder (not a
// link) of this user's that others cannot write: any other user may have made `tempFolder` in
// the shared temporary folder and filled it. `why` (may be null) gets a line for the log.
QString settleBrowserStorage(const QString &tempFolder, const QString &storageFolder,
                             const QStringList &keep, QString *why = nullptr);

} // namespace data_folders
} // namespace torvanix
