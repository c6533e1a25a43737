#include "update_firmware.h"

#include "device_registry.h"
#include "event_sink.h"
#include "pacer.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
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

// Claims the one update slot for the life of the object.
class RunSlot {
public:
    RunSlot() {
        QMutexLocker lock(&runningMutex);
        owned_ = !runningUpdate;
        if (owned_)
            runningUpdate = true;
    }
    ~RunSlot() {
        if (!owned_)
            return;
        QMutexLocker lock(&runningMutex);
        runningUpdate = false;
    }
    bool owned() const { return owned_; }

private:
    bool owned_ = false;
};

} // namespace

bool FirmwareImage::parse(const QByteArray &file, FirmwareImage *image) {
    if (file.size() < 8 || file.size() > AreaSize)
        return false;
    if (qFromLittleEndian<quint32>(file.constData()) != FormatMark ||
        qFromLittleEndian<quint32>(file.constData() + 4) != 0)
        return false;
    QByteArray area(AreaSize, '\0');
    std::memcpy(area.data(), file.constData(), static_cast<size_t>(file.size()));
    const quint64 length = qFromLittleEndian<quint64>(area.constData() + LengthOffset);
    // The payload cannot reach into its own trailer, let alone past the area.
    if (length > static_cast<quint64>(LengthOffset - PayloadOffset))
        return false;
    image->area = area;
    image->payloadLength = length;
    image->check = qFromLittleEndian<quint32>(area.constData() + CheckOffset);
    return true;
}

bool FirmwareImage::readAndRemove(const QString &path, FirmwareImage *image) {
    // Only a plain file is an image: a device or pipe named by the page is neither read nor
    // removed.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // One byte more than the area tells an oversized file without reading all of it.
    const QByteArray bytes = file.read(AreaSize + 1);
    file.close();
    file.remove();
    return parse(bytes, image);
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
                            std::function<void()> finished) {
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("firmware-update"));
    auto *worker = new update_firmware(thread, identity, filePath, events);
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

void update_firmware::UpdateFirmware() {
    if (!run())
        report("-1");
    emit done();
}

bool update_firmware::run() {
    RunSlot slot;
    if (!slot.owned()) {
        qDebug() << "firmware update refused: another update is running";
        return false;
    }
    FirmwareImage image;
    if (!FirmwareImage::readAndRemove(filePath_, &image))
        return false;
    report("20");

    const QJsonObject record = PublishedDevices::instance().lookup(identity_);
    if (record.isEmpty())
        return false;
    const std::vector<tvx_char16> devicePath =
        wide(record.value(QStringLiteral("DevicePath")).toString());
    Pacer &wait = pacer();
    const UsbInterfaceTable &lib = usb();

    wait.pause(2000);
    if (lib.BootLoader && lib.Reset)
        lib.Reset(devicePath.data(), 1, 0);
    report("40");
    wait.pause(8000);

    std::vector<tvx_char16> bootPath(TVX_EXIST_PATH_BUFFER / sizeof(tvx_char16) + 1, 0);
    const std::vector<tvx_char16> bootId = wide(QString::fromLatin1(BootLoaderId));
    if (!lib.dcDeviceExist || lib.dcDeviceExist(bootId.data(), bootPath.data()) == 0)
        return false;
    bootPath.back() = 0; // the library fills at most the 500-byte buffer

    report("60");
    if (!lib.dcEraseRom || lib.dcEraseRom(bootPath.data()) == 0) {
        qDebug() << "firmware update: erase failed";
        return false;
    }
    wait.pause(5000);

    report("70");
    if (!writePayload(bootPath, image)) {
        qDebug() << "firmware update: write failed";
        return false;
    }
    wait.pause(8000);

    if (!lib.CheckRom ||
        lib.CheckRom(bootPath.data(), static_cast<int>(static_cast<quint32>(image.payloadLength)),
                     image.check) == 0) {
        qDebug() << "firmware update: check failed";
        return false;
    }
    report("80");
    wait.pause(1000);

    if (!lib.FinishUpdateRom || lib.FinishUpdateRom(bootPath.data()) == 0) {
        qDebug() << "firmware update: commit failed";
        return false;
    }
    wait.pause(8000);

    // The new firmware is in place from here on; a device that does not take the version
    // stamp or the restart still runs it, so these only leave a trace.
    if (!lib.UpdateVersion || lib.UpdateVersion(devicePath.data(), 2, 17) == 0)
        qDebug() << "firmware update: version stamp not taken";
    wait.pause(1000);
    if (!lib.Reset || lib.Reset(devicePath.data(), 2, 0) == 0)
        qDebug() << "firmware update: restart not taken";
    report("100");
    return true;
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
