#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace torvanix::pack {

// One file going into a theme pack: the path stored in its directory record (the reader
// names the entry after what follows "<pack base name>/") and its bytes.
struct PackEntry {
    QString storedPath;
    QByteArray data;
};

// Scrambling of every stored byte. With subtractOnRead the writer adds the key and the
// reader subtracts it; otherwise the other way round.
struct PackKey {
    quint8 key = 0x5a;
    bool subtractOnRead = true;
};

// Serialises a complete pack: header, directory, data. Returns an empty array when an
// entry cannot be described in the fixed record (path of 150 bytes or more).
QByteArray buildPack(const QVector<PackEntry> &entries, const PackKey &key = PackKey(),
                     QString *error = nullptr);

// Collects every file below folder (sorted, recursive) with stored paths
// "<baseName>/<relative path>", e.g. "theme/Torvanix/client.html".
QVector<PackEntry> collectFolder(const QString &folder, const QString &baseName,
                                 QString *error = nullptr);

} // namespace torvanix::pack
