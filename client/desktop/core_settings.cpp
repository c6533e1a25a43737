#include "core_settings.h"

#include "device/event_sink.h"
#include "dispatch/command_dispatcher.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace torvanix {

namespace {
QString compact(const QJsonObject &o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}
} // namespace

CoreSettings::CoreSettings(const QString &path, QObject *parent) : QObject(parent), path_(path) {
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly)) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
        // A damaged file is left on disk untouched until the next change replaces it, so a
        // hand edit gone wrong costs the defaults for a while, not the file.
        if (error.error == QJsonParseError::NoError && doc.isObject())
            stored_ = doc.object();
        else
            qWarning().noquote() << "core settings" << path_
                                 << "unreadable:" << error.errorString();
    }
}

QString CoreSettings::defaultPath() {
    const QString forced = qEnvironmentVariable("TORVANIX_CORE_SETTINGS");
    if (!forced.isEmpty())
        return forced;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/torvanix/core-settings.json");
}

void CoreSettings::addSection(const QString &name, Normaliser normalise) {
    QMutexLocker lock(&mutex_);
    if (!normalisers_.contains(name))
        order_.append(name);
    normalisers_.insert(name, std::move(normalise));
}

QStringList CoreSettings::sections() const {
    QMutexLocker lock(&mutex_);
    return order_;
}

QJsonObject CoreSettings::normalised(const QString &name, const QJsonObject &stored) const {
    const Normaliser normalise = normalisers_.value(name);
    if (!normalise)
        return {};
    QJsonObject value = stored;
    if (normalise(value, nullptr))
        return value;
    // What is on disk no longer passes (an older or hand-edited file): the defaults.
    value = QJsonObject();
    normalise(value, nullptr);
    return value;
}

QJsonObject CoreSettings::section(const QString &name) const {
    QMutexLocker lock(&mutex_);
    return normalised(name, stored_.value(name).toObject());
}

QJsonObject CoreSettings::all() const {
    QMutexLocker lock(&mutex_);
    QJsonObject out;
    for (const QString &name : order_)
        out.insert(name, normalised(name, stored_.value(name).toObject()));
    return out;
}

bool CoreSettings::setSection(const QString &name, const QJsonObject &value, QString *why) {
    QJsonObject result;
    {
        QMutexLocker lock(&mutex_);
        const Normaliser normalise = normalisers_.value(name);
        if (!normalise) {
            if (why)
                *why = QStringLiteral("no settings section \"%1\"").arg(name);
            return false;
        }
        result = value;
        if (!normalise(result, why))
            return false;
        if (result == normalised(name, stored_.value(name).toObject()) && stored_.contains(name))
            return true;
        QJsonObject file = stored_;
        file.insert(name, result);
        if (!write(file, why))
            return false;
        stored_ = file;
    }
    emit changed(name, result);
    return true;
}

bool CoreSettings::write(const QJsonObject &file, QString *why) const {
    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        if (why)
            *why = QStringLiteral("cannot create %1").arg(info.absolutePath());
        return false;
    }
    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(QJsonDocument(file).toJson(QJsonDocument::Indented)) < 0 || !out.commit()) {
        if (why)
            *why = QStringLiteral("cannot write %1: %2").arg(path_, out.errorString());
        return false;
    }
    return true;
}

void registerCoreSettingsCommands(CommandDispatcher &dispatcher, CoreSettings &settings,
                                  EventSink &events) {
    dispatcher.registerCommand(QStringLiteral("GetCoreSettings"),
                               [&settings](const QVariantMap &, const ReplyPtr &reply) {
                                   replySuccess(reply, compact(settings.all()));
                               });
    dispatcher.registerCommand(
        QStringLiteral("SetCoreSettings"),
        [&settings](const QVariantMap &args, const ReplyPtr &reply) {
            const QString name = CommandDispatcher::arg(args, QStringLiteral("Section"));
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(
                CommandDispatcher::arg(args, QStringLiteral("Value")).toUtf8(), &error);
            QString why;
            if (error.error != QJsonParseError::NoError || !doc.isObject()) {
                why = QStringLiteral("the value is not a JSON object");
            } else if (settings.setSection(name, doc.object(), &why)) {
                replySuccess(reply, compact(settings.section(name)));
                return;
            }
            qWarning().noquote() << "SetCoreSettings" << name << "refused:" << why;
            replyFailure(reply, 0, QStringLiteral("failed"));
        });
    QObject::connect(&settings, &CoreSettings::changed, &settings,
                     [&events](const QString &name, const QJsonObject &value) {
                         events.sendEvent(QString::fromLatin1(events::CoreSettingsChanged),
                                          {name, compact(value)});
                     });
}

} // namespace torvanix
