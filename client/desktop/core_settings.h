#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace torvanix {

class CommandDispatcher;
class EventSink;

// The settings the core acts on while no window is open (battery notices, profiles that follow
// the application in front, the lighting server): one JSON object of named sections in the
// user's configuration folder. The page keeps its own preferences in its storage; these live
// here because the core needs them without a page.
class CoreSettings : public QObject {
    Q_OBJECT
public:
    // Makes `value` (the stored object, or {} when nothing is stored) into the section's valid
    // form, defaults filled in. False refuses the value; `why` says why in words.
    using Normaliser = std::function<bool(QJsonObject &value, QString *why)>;

    explicit CoreSettings(const QString &path, QObject *parent = nullptr);
    // $TORVANIX_CORE_SETTINGS, else $XDG_CONFIG_HOME/torvanix/core-settings.json (XDG's
    // default ~/.config when unset or relative).
    static QString defaultPath();
    QString path() const { return path_; }

    void addSection(const QString &name, Normaliser normalise);
    QStringList sections() const;
    // The section in its valid form; {} for an unknown name. Any thread.
    QJsonObject section(const QString &name) const;
    QJsonObject all() const;
    // Stores the section's valid form of `value` and tells `changed` when it differs. False
    // for an unknown section, a refused value or a file that cannot be written (the stored
    // settings then stay as they were).
    bool setSection(const QString &name, const QJsonObject &value, QString *why = nullptr);

signals:
    void changed(const QString &section, const QJsonObject &value);

private:
    QJsonObject normalised(const QString &name, const QJsonObject &stored) const;
    bool write(const QJsonObject &file, QString *why) const;

    const QString path_;
    mutable QMutex mutex_;
    QJsonObject stored_; // as read from the file, unknown sections kept
    QHash<QString, Normaliser> normalisers_;
    QStringList order_;
};

// GetCoreSettings and SetCoreSettings, and the CoreSettingsChanged event to the page.
void registerCoreSettingsCommands(CommandDispatcher &dispatcher, CoreSettings &settings,
                                  EventSink &events);

namespace events {
inline const char *const CoreSettingsChanged = "CoreSettingsChanged";
} // namespace events

} // namespace torvanix
