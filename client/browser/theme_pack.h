#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

namespace torvanix {

// Reader of the page resource pack ("theme.pak"): a 20-byte header, 208-byte directory
// records and the entry data, every byte after the header shifted by a key byte. The whole
// pack is held in memory; lookups are by entry name ("Torvanix/bbs/index.html").
class ThemePack {
public:
    // Reads the pack at path. False (and an empty pack) when the file is missing, the header
    // is wrong or the entry count is not positive.
    bool Load(const QString &path);
    // Same from bytes already in memory; baseName is the pack file's name without ".pak".
    bool LoadFromData(const QByteArray &data, const QString &baseName);

    QByteArray Get(const QString &name) const { return entries_.value(name); }
    bool isLoaded() const { return loaded_; }
    int size() const { return entries_.size(); }
    QStringList names() const { return entries_.keys(); }

    static constexpr int kHeaderSize = 20;
    static constexpr int kRecordSize = 208;

private:
    QByteArray header_;
    bool loaded_ = false;
    QVector<QByteArray> records_;
    QHash<QString, QByteArray> entries_;
};

} // namespace torvanix
