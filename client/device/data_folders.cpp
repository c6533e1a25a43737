#include "data_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace torvanix {
namespace data_folders {

QString userDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/torvanix");
}

bool canCreateFiles(const QString &folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/.write-probe-XXXXXX"));
    return probe.open();
}

QString writableFolder(const QString &programFolder, const WritableProbe &writable) {
    if (writable(programFolder))
        return programFolder;
    const QString user = userDataFolder();
    if (!QDir().mkpath(user))
        return QString();
    return user;
}

} // namespace data_folders
} // namespace torvanix
