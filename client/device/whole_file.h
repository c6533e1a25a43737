#pragma once

#include <QByteArray>
#include <QSaveFile>

namespace torvanix {

// Writes `bytes` into an opened save file and renames it into place. The flush is checked
// before the commit: a write that fails in the buffer (disk full, file size limit) would
// otherwise surface only while committing, which then still renames the cut file into place.
inline bool commitWhole(QSaveFile &file, const QByteArray &bytes) {
    if (file.write(bytes) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace torvanix
