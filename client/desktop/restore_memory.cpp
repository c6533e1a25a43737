#include "restore_memory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace torvanix {

namespace {
// A state file is small; anything much larger is no file of ours.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

QStringList textsOf(const QJsonValue &value) {
    QStringList texts;
    for (const QJsonValue &item : value.toArray())
        if (item.isString() && !item.toString().isEmpty())
            texts << item.toString();
    return texts;
}
} // namespace

RestoreMemory::RestoreMemory(QString path, QString bootId)
    : path_(std::move(path)), bootId_(std::move(bootId)) {}

QString RestoreMemory::defaultPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/torvanix/restore.json");
}

QString RestoreMemory::currentBootId() {
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.read(64)).trimmed();
}

bool RestoreMemory::load(QString *why) {
    devices_ = QJsonObject();
    QFile file(path_);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes) {
        if (why)
            *why = QStringLiteral("cannot read %1").arg(path_);
        return false;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        if (why)
            *why = QStringLiteral("%1 is no state file of ours").arg(path_);
        return false;
    }
    const QJsonObject devices = doc.object().value(QStringLiteral("devices")).toObject();
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const QStringList documents = textsOf(entry.value(QStringLiteral("documents")));
        if (it.key().isEmpty() || documents.isEmpty())
            continue;
        devices_.insert(
            it.key().toUpper(),
            QJsonObject{{QStringLiteral("boot"), entry.value(QStringLiteral("boot")).toString()},
                        {QStringLiteral("documents"), QJsonArray::fromStringList(documents)}});
    }
    return true;
}

bool RestoreMemory::save(QString *why) {
    if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
        if (why)
            *why = QStringLiteral("cannot make the folder of %1").arg(path_);
        return false;
    }
    QSaveFile file(path_);
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("devices"), devices_}})
                                 .toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (why)
            *why = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
        return false;
    }
    return true;
}

QStringList RestoreMemory::fromEarlierBoot(const QString &identity) const {
    const QJsonObject entry = devices_.value(identity.toUpper()).toObject();
    // Without a boot id nothing tells a logon from a restart of the core: nothing is given.
    if (bootId_.isEmpty() || entry.value(QStringLiteral("boot")).toString() == bootId_)
        return {};
    return textsOf(entry.value(QStringLiteral("documents")));
}

bool RestoreMemory::remember(const QString &identity, const QStringList &documents) {
    const QString key = identity.toUpper();
    if (documents.isEmpty()) {
        const bool had = devices_.contains(key);
        devices_.remove(key);
        return had;
    }
    const QJsonObject entry{{QStringLiteral("boot"), bootId_},
                            {QStringLiteral("documents"), QJsonArray::fromStringList(documents)}};
    if (devices_.value(key) == entry)
        return false;
    devices_.insert(key, entry);
    return true;
}

} // namespace torvanix
