#include "theme_pack.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace torvanix {

namespace {

void unscramble(char *p, qint64 n, quint8 key, bool subtract) {
    for (qint64 i = 0; i < n; ++i) {
        const quint8 b = static_cast<quint8>(p[i]);
        p[i] = static_cast<char>(subtract ? quint8(b - key) : quint8(b + key));
    }
}

quint32 u32(const QByteArray &b, int offset) {
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(b.constData() + offset));
}

// The part of the stored path after the first "<base>" plus one separator character.
QString entryName(const QByteArray &record, const QString &baseName) {
    const QByteArray raw = record.mid(50, 150);
    const int nul = raw.indexOf('\0');
    const QString stored = QString::fromUtf8(nul < 0 ? raw : raw.left(nul));
    const int at = stored.indexOf(baseName);
    if (at < 0)
        return stored;
    return stored.mid(at + baseName.size() + 1);
}

} // namespace

bool ThemePack::Load(const QString &path) {
    qDebug() << "theme pack:" << path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        header_.clear();
        records_.clear();
        entries_.clear();
        loaded_ = false;
        return false;
    }
    // Whole-file read: the pack is held in memory anyway and this keeps one code path for
    // packs from files and from memory.
    return LoadFromData(file.readAll(), QFileInfo(path).fileName().chopped(4));
}

bool ThemePack::LoadFromData(const QByteArray &data, const QString &baseName) {
    entries_.clear();
    records_.clear();
    loaded_ = false;
    header_ = data.left(kHeaderSize);
    if (header_.size() < kHeaderSize)
        return false;
    if (memcmp(header_.constData(), "DBPAK\0", 6) != 0 ||
        memcmp(header_.constData() + 6, "1.0\0", 4) != 0)
        return false;
    const qint32 count = static_cast<qint32>(u32(header_, 12));
    if (count <= 0)
        return false;
    const bool subtract = header_.at(16) != 0;
    const quint8 key = static_cast<quint8>(header_.at(17));

    // A directory that claims more records than the file holds is read as far as it goes.
    const qint64 available = (data.size() - kHeaderSize) / kRecordSize;
    const qint64 n = qMin<qint64>(count, available);
    records_.reserve(int(n));
    for (qint64 i = 0; i < n; ++i) {
        QByteArray rec = data.mid(int(kHeaderSize + i * kRecordSize), kRecordSize);
        unscramble(rec.data(), rec.size(), key, subtract);
        records_.push_back(rec);
    }
    loaded_ = true;

    for (const QByteArray &rec : qAsConst(records_)) {
        const quint32 size = u32(rec, 200);
        const quint32 offset = u32(rec, 204);
        QByteArray bytes;
        if (offset < quint32(data.size())) {
            const qint64 avail = qint64(data.size()) - offset;
            bytes = data.mid(int(offset), int(qMin<qint64>(size, avail)));
            unscramble(bytes.data(), bytes.size(), key, subtract);
        }
        entries_.insert(entryName(rec, baseName), bytes);
    }
    return true;
}

} // namespace torvanix
