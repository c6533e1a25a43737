#include "resume_watch.h"

#include "app/app_log.h"
#include "desktop_hub.h"
#include "restore_memory.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QXmlStreamReader>

namespace torvanix {

namespace {
const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kOrigin = QStringLiteral("resume");

// USB devices are enumerated again a second or two after the machine wakes.
constexpr int kSettleMs = 2000;
// A read that never comes (the commands ended) does not hold the restore for ever.
constexpr int kReadWaitMs = 15000;
constexpr int kSaveDelayMs = 1000;
// What a device starts in when it gets power again.
constexpr int kDefaultProfile = 1;

bool isReset(const QString &document) {
    QXmlStreamReader xml(document);
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement)
            return xml.attributes().value(QLatin1String("action")) == QLatin1String("reset");
    return false;
}
} // namespace

ResumeWatch::ResumeWatch(QObject *parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        APP_LOG(QStringLiteral("Application Info: no system bus (%1); settings are not put back "
                               "after suspend")
                    .arg(bus.lastError().message()));
        return;
    }
    // Subscribed by the service's name: only logind's signal arrives, also when logind starts
    // after us.
    watching_ = bus.connect(kLogin, kLoginPath, kLoginManager, QStringLiteral("PrepareForSleep"),
                            this, SLOT(onPrepareForSleep(bool)));
    if (!watching_) {
        APP_LOG(QStringLiteral("Application Info: cannot watch for suspend on the system bus "
                               "(%1); settings are not put back after suspend")
                    .arg(bus.lastError().message()));
        return;
    }
    const QDBusConnectionInterface *names = bus.interface();
    if (names && !names->isServiceRegistered(kLogin).value())
        APP_LOG(QStringLiteral("Application Info: logind is not on the system bus; watching for "
                               "suspend in case it starts"));
}

void ResumeWatch::onPrepareForSleep(bool start) {
    if (start) {
        APP_LOG(QStringLiteral("Application Info: the session is going to sleep"));
        emit suspending();
    } else {
        APP_LOG(QStringLiteral("Application Info: the session resumed from sleep"));
        emit resumed();
    }
}

ResumeRestore::ResumeRestore(DesktopHub &hub, std::unique_ptr<RestoreMemory> memory, int settleMs,
                             QObject *parent)
    : QObject(parent), hub_(hub), memory_(std::move(memory)) {
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    readWait_.setSingleShot(true);
    readWait_.setInterval(kReadWaitMs);
    saveSoon_.setSingleShot(true);
    saveSoon_.setInterval(kSaveDelayMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
        awaitingRead_ = true;
        readWait_.start();
        hub_.refreshDevices();
    });
    connect(&readWait_, &QTimer::timeout, this, &ResumeRestore::restoreAll);
    connect(&saveSoon_, &QTimer::timeout, this, &ResumeRestore::saveMemory);

    DeviceBook &book = hub_.book();
    connect(&book, &DeviceBook::recordsRead, this, [this] {
        if (awaitingRead_)
            restoreAll();
    });
    connect(&book, &DeviceBook::deviceAdded, this, &ResumeRestore::onDeviceAdded);
    connect(&hub_, &DesktopHub::documentApplied, this,
            [this](const QString &identity, const QString &document, const QString &origin,
                   const ApplyResult &result) {
                if (result.status == ApplyResult::Applied)
                    onDocumentApplied(identity, document, origin);
            });
    connect(&hub_, &DesktopHub::sessionResumed, this, &ResumeRestore::onResumed);

    if (memory_) {
        QString why;
        if (!memory_->load(&why))
            APP_LOG(QStringLiteral("Application Error: the restore memory was not read (%1); "
                                   "the next lighting change writes it anew")
                        .arg(why));
    }
    // The first device list may have been read before this piece started.
    for (const BookDevice &device : book.devices())
        onDeviceAdded(device);
}

ResumeRestore::~ResumeRestore() {
    if (saveSoon_.isActive())
        saveMemory();
}

QStringList ResumeRestore::lightingOf(const QString &identity) const {
    QStringList documents = hub_.book().restoreDocuments(identity);
    if (const std::optional<BookDevice> device = hub_.book().device(identity))
        documents.removeAll(DeviceBook::profileSwitchDocument(
            device->record.value(QLatin1String("Version")).toString(), device->profile));
    return documents;
}

QStringList ResumeRestore::forgotten(const QString &identity) const {
    const std::optional<BookDevice> device = hub_.book().device(identity);
    if (!device)
        return {};
    if (device->profile == kDefaultProfile)
        return lightingOf(identity);
    return hub_.book().restoreDocuments(identity);
}

void ResumeRestore::onSuspending() {
    // A sleep that comes before the last wake's restore ran: the next wake does it.
    settle_.stop();
    readWait_.stop();
    awaitingRead_ = false;
}

void ResumeRestore::onResumed() {
    putBack_.clear();
    awaitingRead_ = false;
    readWait_.stop();
    settle_.start();
}

void ResumeRestore::restoreAll() {
    awaitingRead_ = false;
    readWait_.stop();
    for (const BookDevice &device : hub_.book().devices())
        if (!putBack_.contains(device.identity.toUpper()))
            put(device.identity, forgotten(device.identity), QStringLiteral("after the resume"));
}

void ResumeRestore::onDeviceAdded(const BookDevice &device) {
    const QString key = device.identity.toUpper();
    if (!seen_.contains(key)) {
        // First sight in this run: only what an earlier boot left (the core started at logon).
        seen_.insert(key);
        if (memory_ && lightingOf(device.identity).isEmpty())
            put(device.identity, memory_->fromEarlierBoot(device.identity),
                QStringLiteral("from the last session"));
        return;
    }
    putBack_.insert(key);
    put(device.identity, forgotten(device.identity), QStringLiteral("on its return"));
}

void ResumeRestore::put(const QString &identity, const QStringList &documents,
                        const QString &when) {
    if (documents.isEmpty())
        return;
    const std::optional<BookDevice> device = hub_.book().device(identity);
    const QString name = device && device->model != identity
                             ? QStringLiteral("%1 (%2)").arg(device->model, identity)
                             : identity;
    const QString profileSwitch =
        device ? DeviceBook::profileSwitchDocument(
                     device->record.value(QLatin1String("Version")).toString(), device->profile)
               : QString();
    for (const QString &document : documents) {
        const QString what = !profileSwitch.isEmpty() && document == profileSwitch
                                 ? QStringLiteral("profile %1").arg(device->profile)
                                 : QStringLiteral("the lighting");
        APP_LOG(QStringLiteral("Application Info: putting back %1 on %2 %3").arg(what, name, when));
        hub_.apply(document, kOrigin, [what, name](const ApplyResult &result) {
            if (result.status != ApplyResult::Applied)
                APP_LOG(QStringLiteral("Application Error: %1 could not be put back on %2: %3")
                            .arg(what, name, result.reason));
        });
    }
}

void ResumeRestore::onDocumentApplied(const QString &identity, const QString &document,
                                      const QString &) {
    if (!memory_ || !seen_.contains(identity.toUpper()))
        return;
    const QStringList lighting = lightingOf(identity);
    // Forgotten only by a reset: a failed restore at logon must not cost the remembered state.
    if (lighting.isEmpty() && !isReset(document))
        return;
    if (memory_->remember(identity, lighting))
        saveSoon_.start();
}

void ResumeRestore::saveMemory() {
    saveSoon_.stop();
    QString why;
    if (memory_ && !memory_->save(&why))
        APP_LOG(QStringLiteral("Application Error: the lighting for the next logon is not kept: %1")
                    .arg(why));
}

QObject *startResumeRestore(DesktopHub &hub) {
    auto *restore =
        new ResumeRestore(hub,
                          std::make_unique<RestoreMemory>(RestoreMemory::defaultPath(),
                                                          RestoreMemory::currentBootId()),
                          kSettleMs);
    auto *watch = new ResumeWatch(restore);
    QObject::connect(watch, &ResumeWatch::resumed, &hub, &DesktopHub::sessionResumed);
    QObject::connect(watch, &ResumeWatch::suspending, restore, &ResumeRestore::onSuspending);
    return restore;
}

} // namespace torvanix
