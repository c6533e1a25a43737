#include "pack_writer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtEndian>

#include <algorithm>

namespace torvanix::pack {

namespace {

constexpr int kHeaderSize = 20;
constexpr int kRecordSize = 208;
constexpr int kPathOffset = 50;
constexpr int kPathCapacity = 150;

void putU32(QByteArray &buf, int offset, quint32 value) {
    qToLittleEndian<quint32>(value, reinterpret_cast<uchar *>(buf.data() + offset));
}

void scramble(QByteArray &bytes, int from, const PackKey &key) {
    char *p = bytes.data();
    for (int i = from; i < bytes.size(); ++i) {
        const quint8 b = static_cast<quint8>(p[i]);
        p[i] = static_cast<char>(key.subtractOnRead ? quint8(b + key.key) : quint8(b - key.key));
    }
}

} // namespace

QByteArray buildPack(const QVector<PackEntry> &entries, const PackKey &key, QString *error) {
    if (entries.isEmpty()) {
        if (error)
            *error = QStringLiteral("a pack needs at least one entry");
        return {};
    }
    const int count = entries.size();
    QByteArray out(kHeaderSize + kRecordSize * count, '\0');
    memcpy(out.data(), "DBPAK\0", 6);
    memcpy(out.data() + 6, "1.0\0", 4);
    putU32(out, 12, static_cast<quint32>(count));
    out[16] = key.subtractOnRead ? char(1) : char(0);
    out[17] = static_cast<char>(key.key);

    quint64 dataOffset = static_cast<quint64>(out.size());
    for (int i = 0; i < count; ++i) {
        const QByteArray path = entries[i].storedPath.toUtf8();
        if (path.size() >= kPathCapacity) {
            if (error)
                *error = QStringLiteral("stored path too long for a pack record: %1")
                             .arg(entries[i].storedPath);
            return {};
        }
        const int rec = kHeaderSize + kRecordSize * i;
        memcpy(out.data() + rec + kPathOffset, path.constData(), size_t(path.size()));
        putU32(out, rec + 200, static_cast<quint32>(entries[i].data.size()));
        if (dataOffset > 0xffffffffu) {
            if (error)
                *error = QStringLiteral("pack larger than 4 GiB");
            return {};
        }
        putU32(out, rec + 204, static_cast<quint32>(dataOffset));
        dataOffset += static_cast<quint64>(entries[i].data.size());
    }
    for (const PackEntry &e : entries)
        out.append(e.data);
    scramble(out, kHeaderSize, key);
    return out;
}

QVector<PackEntry> collectFolder(const QString &folder, const QString &baseName, QString *error) {
    QVector<PackEntry> entries;
    const QDir root(folder);
    if (!root.exists()) {
        if (error)
            *error = QStringLiteral("no such folder: %1").arg(folder);
        return entries;
    }
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << root.relativeFilePath(it.next());
    std::sort(files.begin(), files.end());
    for (const QString &rel : files) {
        QFile f(root.filePath(rel));
        if (!f.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("cannot read %1").arg(f.fileName());
            return {};
        }
        entries.push_back({baseName + QLatin1Char('/') + rel, f.readAll()});
    }
    return entries;
}

} // namespace torvanix::pack
