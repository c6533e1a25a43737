#include "update_firmware.h"

#include "device_catalogue.h"
#include "device_registry.h"
#include "event_sink.h"
#include "pacer.h"
#include "plain_file.h"
#include "whole_file.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>
#include <cstring>
#include <vector>

namespace torvanix {

namespace {

std::vector<tvx_char16> wide(const QString &text) {
    std::vector<tvx_char16> out(text.utf16(), text.utf16() + text.size());
    out.push_back(0);
    return out;
}

QMutex runningMutex;
bool runningUpdate = false;

} // namespace

FirmwareRunSlot::FirmwareRunSlot() {
    QMutexLocker lock(&runningMutex);
    owned_ = !runningUpdate;
    if (owned_)
        runningUpdate = true;
}

FirmwareRunSlot::~FirmwareRunSlot() {
    if (!owned_)
        return;
    QMutexLocker lock(&runningMutex);
    runningUpdate = false;
}

bool FirmwareRunSlot::taken() {
    QMutexLocker lock(&runningMutex);
    return runningUpdate;
}

bool FirmwareImage::parse(const QByteArray &file, FirmwareImage *image) {
    // A file that ends before its trailer would read as length 0 and check 0: the device
    // would be erased and given an empty image.
    if (file.size() < TrailerEnd || file.size() > AreaSize)
        return false;
    if (qFromLittleEndian<quint32>(file.constData()) != FormatMark ||
        qFromLittleEndian<quint32>(file.constData() + 4) != 0)
        return false;
    const quint64 length = qFromLittleEndian<quint64>(file.constData() + LengthOffset);
    // Nothing to write is no image; and the payload cannot reach into its own trailer (the
    // trailer lies inside the file, so neither can it run past the file).
    if (length == 0 || length > static_cast<quint64>(LengthOffset - PayloadOffset))
        return false;
    QByteArray area(AreaSize, '\0');
    std::memcpy(area.data(), file.constData(), static_cast<size_t>(file.size()));
    image->area = area;
    image->payloadLength = length;
    image->check = qFromLittleEndian<quint32>(file.constData() + CheckOffset);
    return true;
}

bool FirmwareImage::read(const QString &path, FirmwareImage *image) {
    QByteArray bytes;
    // One byte over the area is enough to tell an oversized file.
    if (!readPlainFile(path, AreaSize, &bytes))
        return false;
    return parse(bytes, image);
}

bool FirmwareImage::removeIfDownloaded(const QString &path, const QString &downloadFolder) {
    if (downloadFolder.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return false;
    const QString folder = QFileInfo(downloadFolder).canonicalFilePath();
    const QString file = info.canonicalFilePath();
    if (folder.isEmpty() || !file.startsWith(folder + QLatin1Char('/')))
        return false;
    FirmwareImage image;
    if (!read(file, &image))
        return false;
    return QFile::remove(file);
}

// --- devices waiting in their boot loader ---------------------------------------------------

namespace {
const QString kBootLoaderField = QStringLiteral("BootLoader");
// In the file only: the page's records carry no boot path.
const QString kBootPathField = QStringLiteral("BootPath");

bool samePath(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}
} // namespace

BootLoaderDevices::BootLoaderDevices()
    : storeFile_(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                 QStringLiteral("/torvanix/firmware-boot-loader.json")) {}

BootLoaderDevices &BootLoaderDevices::instance() {
    static BootLoaderDevices devices;
    return devices;
}

void BootLoaderDevices::setStoreFile(const QString &path) {
    QMutexLocker lock(&mutex_);
    storeFile_ = path;
    loaded_ = false;
    waiting_.clear();
    bootPaths_.clear();
}

void BootLoaderDevices::ensureLoaded() const {
    if (loaded_)
        return;
    loaded_ = true;
    QByteArray bytes;
    if (storeFile_.isEmpty() || !readPlainFile(storeFile_, 1024 * 1024, &bytes))
        return;
    const QJsonObject stored = QJsonDocument::fromJson(bytes).object();
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it) {
        QJsonObject record = it.value().toObject();
        if (record.isEmpty())
            continue;
        const QString bootPath = record.take(kBootPathField).toString();
        record.insert(kBootLoaderField, QStringLiteral("1"));
        waiting_.insert(it.key(), record);
        if (!bootPath.isEmpty())
            bootPaths_.insert(it.key(), bootPath);
    }
}

void BootLoaderDevices::save() const {
    if (storeFile_.isEmpty())
        return;
    QJsonObject stored;
    for (auto it = waiting_.constBegin(); it != waiting_.constEnd(); ++it) {
        QJsonObject record = it.value();
        const QString bootPath = bootPaths_.value(it.key());
        if (!bootPath.isEmpty())
            record.insert(kBootPathField, bootPath);
        stored.insert(it.key(), record);
    }
    QDir().mkpath(QFileInfo(storeFile_).absolutePath());
    QSaveFile out(storeFile_);
    const QByteArray bytes = QJsonDocument(stored).toJson(QJsonDocument::Compact);
    if (!out.open(QIODevice::WriteOnly) || !commitWhole(out, bytes))
        qDebug() << "firmware update: could not keep the boot-loader devices in" << storeFile_;
}

void BootLoaderDevices::add(const QString &identity, const QJsonObject &record,
                            const QString &bootPath) {
    QMutexLocker lock(&mutex_);
    ensureLoaded();
    QJsonObject waiting = record;
    waiting.remove(kBootPathField);
    waiting.insert(kBootLoaderField, QStringLiteral("1"));
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (it.key().compare(identity, Qt::CaseInsensitive) == 0) {
            bootPaths_.remove(it.key());
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }
    waiting_.insert(identity, waiting);
    if (!bootPath.isEmpty())
        bootPaths_.insert(identity, bootPath);
    save();
}

void BootLoaderDevices::remove(const QString &identity) {
    QMutexLocker lock(&mutex_);
    ensureLoaded();
    bool changed = false;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (it.key().compare(identity, Qt::CaseInsensitive) == 0) {
            bootPaths_.remove(it.key());
            it = waiting_.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed)
        save();
}

QJsonObject BootLoaderDevices::lookup(const QString &identity) const {
    QMutexLocker lock(&mutex_);
    ensureLoaded();
    for (auto it = waiting_.constBegin(); it != waiting_.constEnd(); ++it) {
        if (it.key().compare(identity, Qt::CaseInsensitive) == 0)
            return it.value();
    }
    return {};
}

QString BootLoaderDevices::bootPath(const QString &identity) const {
    QMutexLocker lock(&mutex_);
    ensureLoaded();
    for (auto it = bootPaths_.constBegin(); it != bootPaths_.constEnd(); ++it) {
        if (it.key().compare(identity, Qt::CaseInsensitive) == 0)
            return it.value();
    }
    return {};
}

bool BootLoaderDevices::othersWaiting(const QString &identity, const QString &bootPath) const {
    QMutexLocker lock(&mutex_);
    ensureLoaded();
    for (auto it = waiting_.constBegin(); it != waiting_.constEnd(); ++it) {
        if (it.key().compare(identity, Qt::CaseInsensitive) != 0 &&
            (bootPath.isEmpty() || samePath(bootPaths_.value(it.key()), bootPath)))
            return true;
    }
    return false;
}

bool BootLoaderDevices::isEmpty() const {
    QMutexLocker lock(&mutex_);
    ensureLoaded();
    return waiting_.isEmpty();
}

void BootLoaderDevices::reconcile(QMap<QString, QJsonObject> &listed,
                                  const std::function<bool()> &bootLoaderPresent) {
    QMutexLocker lock(&mutex_);
    ensureLoaded();
    if (waiting_.isEmpty())
        return;
    bool changed = false;
    int present = -1; // asked once, only when needed
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        bool listedAgain = false;
        for (auto l = listed.constBegin(); l != listed.constEnd(); ++l) {
            if (l.key().compare(it.key(), Qt::CaseInsensitive) == 0 &&
                l.value().value(kBootLoaderField).toString() != QLatin1String("1")) {
                listedAgain = true;
                break;
            }
        }
        if (listedAgain) {
            bootPaths_.remove(it.key());
            it = waiting_.erase(it);
            changed = true;
            continue;
        }
        if (present < 0)
            present = bootLoaderPresent && bootLoaderPresent() ? 1 : 0;
        if (present == 1)
            listed.insert(it.key(), it.value());
        ++it;
    }
    if (changed)
        save();
}

update_firmware::update_firmware(QThread *thread, const QString &identity, const QString &filePath,
                                 EventSink &events)
    : devices_handler(nullptr), identity_(identity), filePath_(filePath), events_(events) {
    attach(thread);
}

update_firmware::update_firmware(UsbInterfaceTable table, QThread *thread, const QString &identity,
                                 const QString &filePath, EventSink &events)
    : devices_handler(std::move(table), nullptr), identity_(identity), filePath_(filePath),
      events_(events) {
    attach(thread);
}

void update_firmware::attach(QThread *thread) {
    if (!thread)
        return;
    moveToThread(thread);
    connect(thread, &QThread::started, this, &update_firmware::UpdateFirmware);
}

void update_firmware::start(const QString &identity, const QString &filePath, EventSink &events,
                            std::function<void()> finished, const QString &downloadFolder) {
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("firmware-update"));
    auto *worker = new update_firmware(thread, identity, filePath, events);
    worker->setDownloadFolder(downloadFolder);
    connect(worker, &update_firmware::done, thread, &QThread::quit, Qt::DirectConnection);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater, Qt::DirectConnection);
    connect(
        thread, &QThread::finished, thread,
        [thread, finished] {
            thread->deleteLater();
            if (finished)
                finished();
        },
        Qt::DirectConnection);
    thread->start();
}

void update_firmware::report(const char *text) {
    events_.sendEvent(QString::fromLatin1(events::RefreshUpdateState), {QString::fromLatin1(text)});
}

const char *update_firmware::stepName(Step step) {
    switch (step) {
    case Step::Busy:
        return "busy";
    case Step::Image:
        return "image";
    case Step::Device:
        return "device";
    case Step::BootLoader:
        return "bootloader";
    case Step::Erase:
        return "erase";
    case Step::Write:
        return "write";
    case Step::Check:
        return "check";
    case Step::Commit:
        return "commit";
    case Step::Restart:
        return "restart";
    }
    return "";
}

void update_firmware::UpdateFirmware() {
    Step failed = Step::Image;
    if (!run(&failed)) {
        // The page reads the first argument as before; the second names the step.
        events_.sendEvent(QString::fromLatin1(events::RefreshUpdateState),
                          {QStringLiteral("-1"), QString::fromLatin1(stepName(failed))});
    }
    emit done();
}

bool update_firmware::run(Step *failed) {
    FirmwareRunSlot slot;
    if (!slot.owned()) {
        qDebug() << "firmware update refused: another update is running";
        *failed = Step::Busy;
        return false;
    }
    // Everything about the file is settled before the device is touched.
    FirmwareImage image;
    if (!FirmwareImage::read(filePath_, &image)) {
        *failed = Step::Image;
        return false;
    }
    report("20");

    // A device left in its boot loader by an earlier run is no longer listed under its own
    // identity; its record was kept, and the switch is not needed again.
    QJsonObject record = BootLoaderDevices::instance().lookup(identity_);
    const bool inBootLoader =
        !record.isEmpty() || PublishedDevices::instance().lookup(identity_).value(
                                 QStringLiteral("BootLoader")) == QLatin1String("1");
    if (record.isEmpty())
        record = PublishedDevices::instance().lookup(identity_);
    if (record.isEmpty()) {
        *failed = Step::Device;
        return false;
    }
    const std::vector<tvx_char16> devicePath =
        wide(record.value(QStringLiteral("DevicePath")).toString());
    Pacer &wait = pacer();
    const UsbInterfaceTable &lib = usb();
    QJsonObject waiting = record;
    waiting.remove(QStringLiteral("BootLoader"));

    // Every device's boot loader answers to the same id. One that answers before the switch
    // belongs to another device; the one remembered for a waiting device is its own.
    BootLoaderDevices &waitingDevices = BootLoaderDevices::instance();
    const QString remembered = inBootLoader ? waitingDevices.bootPath(identity_) : QString();
    // Without the BootLoader entry the device is expected to wait in its boot loader already.
    const bool switches = !inBootLoader && lib.BootLoader && lib.Reset;
    const QString before = switches ? findBootLoader() : QString();

    if (!inBootLoader) {
        wait.pause(2000);
        if (switches)
            lib.Reset(devicePath.data(), 1, 0);
    }
    report("40");
    if (!inBootLoader)
        wait.pause(8000);

    const QString found = findBootLoader();
    if (found.isEmpty()) {
        *failed = Step::BootLoader;
        return false;
    }
    bool ours = false;
    if (!remembered.isEmpty())
        ours = samePath(found, remembered);
    else if (!switches) // no switch to watch: taken only when no other device waits
        ours = !waitingDevices.othersWaiting(identity_);
    else
        ours = (before.isEmpty() || !samePath(found, before)) &&
               !waitingDevices.othersWaiting(identity_, found);
    if (!ours) {
        qDebug() << "firmware update: the boot loader found" << found
                 << "may be another device's; nothing is written";
        // Switched, this device waits in its boot loader too; a retry once the other device
        // is done can reach it.
        if (switches)
            waitingDevices.add(identity_, waiting);
        *failed = Step::BootLoader;
        return false;
    }
    const std::vector<tvx_char16> bootPath = wide(found);
    // From here until the commit the device only answers as its boot loader: it is kept so
    // that the page can still see it and a retry can reach it.
    waitingDevices.add(identity_, waiting, found);

    report("60");
    if (!lib.dcEraseRom || lib.dcEraseRom(bootPath.data()) == 0) {
        qDebug() << "firmware update: erase failed";
        *failed = Step::Erase;
        return false;
    }
    wait.pause(5000);

    report("70");
    if (!writePayload(bootPath, image)) {
        qDebug() << "firmware update: write failed";
        *failed = Step::Write;
        return false;
    }
    wait.pause(8000);

    if (!lib.CheckRom ||
        lib.CheckRom(bootPath.data(), static_cast<int>(static_cast<quint32>(image.payloadLength)),
                     image.check) == 0) {
        qDebug() << "firmware update: check failed";
        *failed = Step::Check;
        return false;
    }
    report("80");
    wait.pause(1000);

    if (!lib.FinishUpdateRom || lib.FinishUpdateRom(bootPath.data()) == 0) {
        qDebug() << "firmware update: commit failed";
        *failed = Step::Commit;
        return false;
    }
    BootLoaderDevices::instance().remove(identity_);
    // The image served; only now may a downloaded image go.
    FirmwareImage::removeIfDownloaded(filePath_, downloadFolder_);
    wait.pause(8000);

    // The new firmware is in place from here on; a device that does not take the version
    // stamp or the restart still runs it, so these only leave a trace.
    if (!lib.UpdateVersion || lib.UpdateVersion(devicePath.data(), 2, 17) == 0)
        qDebug() << "firmware update: version stamp not taken";
    wait.pause(1000);
    if (!lib.Reset || lib.Reset(devicePath.data(), 2, 0) == 0)
        qDebug() << "firmware update: restart not taken";
    if (!listedAgain(record)) {
        qDebug() << "firmware update: the device was not listed again after its restart";
        *failed = Step::Restart;
        return false;
    }
    report("100");
    return true;
}

QString update_firmware::findBootLoader() const {
    const UsbInterfaceTable &lib = usb();
    if (!lib.dcDeviceExist)
        return {};
    std::vector<tvx_char16> buffer(TVX_EXIST_PATH_BUFFER / sizeof(tvx_char16) + 1, 0);
    const std::vector<tvx_char16> bootId = wide(QString::fromLatin1(BootLoaderId));
    if (lib.dcDeviceExist(bootId.data(), buffer.data()) == 0)
        return {};
    buffer.back() = 0; // the library fills at most the 500-byte buffer
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer.data()));
}

bool update_firmware::listedAgain(const QJsonObject &record) {
    const UsbInterfaceTable &lib = usb();
    if (!lib.dcDevices)
        return false;
    const QString devicePath = record.value(QStringLiteral("DevicePath")).toString();
    // The interfaces the enumeration asks for.
    uint16_t filter[TVX_FILTER_PAIRS * 2] = {0x0001, 0xFFA0, 0x0001, 0xFFAA};
    std::vector<uint8_t> list(TVX_LIST_BLOCK_SIZE);
    // A restarted device takes a few seconds to be listed.
    for (int attempt = 0; attempt < RelistAttempts; ++attempt) {
        pacer().pause(1000);
        std::fill(list.begin(), list.end(), 0);
        lib.dcDevices(list.data(), filter);
        const int count = qMin<int>(list[0] | (list[1] << 8), TVX_MAX_DESCRIPTIONS);
        for (int i = 0; i < count; ++i) {
            const DeviceDescription d =
                parseDeviceDescription(list.data() + 2 + size_t(i) * TVX_DESCRIPTION_SIZE);
            if ((!devicePath.isEmpty() && samePath(d.path, devicePath)) ||
                d.firmwareIdentity.compare(identity_, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

bool update_firmware::writePayload(const std::vector<tvx_char16> &bootPath,
                                   const FirmwareImage &image) {
    const UsbInterfaceTable &lib = usb();
    if (!lib.dcWriteRom)
        return false;
    const quint64 chunks = image.payloadLength / FirmwareImage::ChunkSize + 1;
    qint64 remaining = static_cast<quint32>(image.payloadLength);
    std::vector<uint8_t> block(TVX_TRANSFER_BLOCK_SIZE);
    for (quint64 k = 0; k < chunks; ++k) {
        const int n = remaining > FirmwareImage::ChunkSize ? FirmwareImage::ChunkSize
                                                           : static_cast<int>(remaining);
        const int offset = static_cast<int>(k * FirmwareImage::ChunkSize);
        std::fill(block.begin(), block.end(), 0);
        std::memcpy(block.data(), image.area.constData() + FirmwareImage::PayloadOffset + offset,
                    static_cast<size_t>(n));
        if (lib.dcWriteRom(bootPath.data(), block.data(), n, offset) != 1)
            return false;
        remaining -= FirmwareImage::ChunkSize;
        pacer().pause(20);
    }
    return true;
}

} // namespace torvanix
