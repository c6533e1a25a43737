#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace torvanix {

// What a device forgets when the machine is switched off (the notebook's lighting), kept in
// the user's state folder so that the core started at the next logon can give it back. Each
// identity's documents are kept with the boot they reached the device in: in that same boot
// the device still holds them (a restart of the core alone puts nothing back).
class RestoreMemory {
public:
    // path: the file; bootId: the running boot (currentBootId() in the program).
    RestoreMemory(QString path, QString bootId);

    // $XDG_STATE_HOME/torvanix/restore.json (else ~/.local/state/torvanix/restore.json).
    static QString defaultPath();
    // The kernel's id of this boot; empty where there is none.
    static QString currentBootId();

    // Reads the file; a missing file is an empty memory, an unreadable one is set aside (the
    // next save replaces it) and said in *why.
    bool load(QString *why = nullptr);
    // Writes the file atomically: a failed write leaves the one before intact.
    bool save(QString *why = nullptr);

    // The documents remembered for identity when they reached the device in an earlier boot;
    // empty otherwise.
    QStringList fromEarlierBoot(const QString &identity) const;
    // Remembers documents for identity as reached in this boot (an empty list forgets it).
    // true when that changed the memory (a save is due).
    bool remember(const QString &identity, const QStringList &documents);

private:
    QString path_;
    QString bootId_;
    QJsonObject devices_; // upper-case identity -> {"boot": id, "documents": [text, ...]}
};

} // namespace torvanix
