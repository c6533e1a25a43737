#include "recording_device.h"

#include <QMutexLocker>
#include <pugixml.hpp>

namespace torvanix::test {

void CallLog::add(const QString &line) {
    QMutexLocker lock(&mutex_);
    lines_ << line;
}

QStringList CallLog::lines() const {
    QMutexLocker lock(&mutex_);
    return lines_;
}

void CallLog::clear() {
    QMutexLocker lock(&mutex_);
    lines_.clear();
}

// ---- library families ------------------------------------------------------------------------

bool RecordingKeyboard::probeDevice() {
    log_.add(QStringLiteral("kb.probeDevice"));
    return result;
}

bool RecordingKeyboard::setKey(const QString &type, int keyIndex, const QString &value) {
    log_.add(QStringLiteral("kb.setKey %1 %2 %3").arg(type).arg(keyIndex).arg(value));
    return result;
}

bool RecordingKeyboard::setKeyColor(int key, int c1, int c2, int c3) {
    log_.add(QStringLiteral("kb.setKeyColor %1 %2 %3 %4").arg(key).arg(c1).arg(c2).arg(c3));
    return result;
}

bool RecordingKeyboard::setLed(int a, int b, int c, int d, int e, int f, int g) {
    log_.add(QStringLiteral("kb.setLed %1 %2 %3 %4 %5 %6 %7")
                 .arg(a)
                 .arg(b)
                 .arg(c)
                 .arg(d)
                 .arg(e)
                 .arg(f)
                 .arg(g));
    return result;
}

bool RecordingKeyboard::setMacro(const QByteArray &block4096) {
    log_.add(QStringLiteral("kb.setMacro %1").arg(QString::fromLatin1(block4096.toHex())));
    return result;
}

int RecordingKeyboard::newKeyAction(const QString &key, int p2, int p3, int p4, int p5) {
    log_.add(
        QStringLiteral("kb.newKeyAction %1 %2 %3 %4 %5").arg(key).arg(p2).arg(p3).arg(p4).arg(p5));
    return result ? 1 : 0;
}

bool RecordingMouse::probeDevice() {
    log_.add(QStringLiteral("ms.probeDevice"));
    return result;
}

bool RecordingMouse::setKey(const QString &type, int keyIndex, const QString &value) {
    log_.add(QStringLiteral("ms.setKey %1 %2 %3").arg(type).arg(keyIndex).arg(value));
    return result;
}

bool RecordingMouse::setDpiStages(const pugi::xml_node &node) {
    QStringList stages;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        stages << QStringLiteral("%1x%2").arg(QString::fromUtf8(child.attribute("x").value()),
                                              QString::fromUtf8(child.attribute("y").value()));
    log_.add(QStringLiteral("ms.setDpiStages current=%1 count=%2 %3")
                 .arg(QString::fromUtf8(node.attribute("current").value()),
                      QString::fromUtf8(node.attribute("count").value()), stages.join(',')));
    return result;
}

bool RecordingMouse::setLightValue(int mode, int value) {
    log_.add(QStringLiteral("ms.setLightValue %1 %2").arg(mode).arg(value));
    return result;
}

bool RecordingMouse::setLightColor(int mode, int value, int unused1, int unused2, int c1, int c2,
                                   int c3) {
    log_.add(QStringLiteral("ms.setLightColor %1 %2 %3 %4 %5 %6 %7")
                 .arg(mode)
                 .arg(value)
                 .arg(unused1)
                 .arg(unused2)
                 .arg(c1)
                 .arg(c2)
                 .arg(c3));
    return result;
}

int RecordingMouse::dpiToSensor(int dpi) const {
    return dpi >= 100 && dpi <= 16000 ? dpi / 100 - 1 : -1;
}

// ---- device operations -----------------------------------------------------------------------

RecordingDeviceOperations::RecordingDeviceOperations()
    : log_(&ownLog_), keyboard_(ownLog_), mouse_(ownLog_) {}

RecordingDeviceOperations::RecordingDeviceOperations(CallLog &sharedLog)
    : log_(&sharedLog), keyboard_(sharedLog), mouse_(sharedLog) {}

bool RecordingDeviceOperations::write(const char *op, const QString &identity,
                                      const QString &address, const QString &commandString,
                                      const QString &count) {
    log_->add(QStringLiteral("%1 %2 %3 %4 %5")
                  .arg(QLatin1String(op), identity, address, count, commandString));
    bool ok = false;
    const int n = count.toInt(&ok);
    if (!ok || commandString.split(QLatin1Char(',')).size() != n) {
        QMutexLocker lock(&mutex_);
        ++refused_;
        return false;
    }
    return writeResult;
}

bool RecordingDeviceOperations::writeProperty(const QString &identity, const QString &address,
                                              const QString &commandString, const QString &count) {
    return write("writeProperty", identity, address, commandString, count);
}

bool RecordingDeviceOperations::writePropertyForQpa(const QString &identity, const QString &address,
                                                    const QString &commandString,
                                                    const QString &count) {
    return write("writePropertyForQpa", identity, address, commandString, count);
}

bool RecordingDeviceOperations::writePacket(const QString &identity, const QString &packetType,
                                            const QString &commandString, const QString &count) {
    return write("writePacket", identity, packetType, commandString, count);
}

bool RecordingDeviceOperations::writeSingleValue(const QString &identity, const QString &address,
                                                 const QString &commandString,
                                                 const QString &count) {
    // The count of a single-value transfer is the packet count, not the item count.
    log_->add(QStringLiteral("writeSingleValue %1 %2 %3 %4")
                  .arg(identity, address, count, commandString));
    return writeResult;
}

static QString zeroItems(int count) {
    QStringList items;
    for (int i = 0; i < count; ++i)
        items << QStringLiteral("0x00");
    return items.join(QLatin1Char(','));
}

QString RecordingDeviceOperations::readProperty(const QString &identity, int address, int count) {
    log_->add(QStringLiteral("readProperty %1 %2 %3").arg(identity).arg(address).arg(count));
    QMutexLocker lock(&mutex_);
    return readReplies_.contains(address) ? readReplies_.value(address) : zeroItems(count);
}

QString RecordingDeviceOperations::requestPacket(const QString &identity, int packetType,
                                                 int count) {
    log_->add(QStringLiteral("requestPacket %1 %2 %3").arg(identity).arg(packetType).arg(count));
    QMutexLocker lock(&mutex_);
    return packetReplies_.contains(packetType) ? packetReplies_.value(packetType)
                                               : zeroItems(count);
}

bool RecordingDeviceOperations::isAreaBlank(const QString &identity, int address, int count) {
    log_->add(QStringLiteral("isAreaBlank %1 %2 %3").arg(identity).arg(address).arg(count));
    QMutexLocker lock(&mutex_);
    return blank_.value(address, true);
}

bool RecordingDeviceOperations::clearArea(const QString &identity, int address, int count) {
    log_->add(QStringLiteral("clearArea %1 %2 %3").arg(identity).arg(address).arg(count));
    return writeResult;
}

bool RecordingDeviceOperations::resetDevice(const QString &identity) {
    log_->add(QStringLiteral("resetDevice %1").arg(identity));
    return writeResult;
}

void RecordingDeviceOperations::notifyDevice(const QString &identity, const QByteArray &block4) {
    log_->add(
        QStringLiteral("notifyDevice %1 %2").arg(identity, QString::fromLatin1(block4.toHex())));
}

int RecordingDeviceOperations::readInputReport(const QString &identity, uint8_t *buffer, int length,
                                               int timeoutMs) {
    log_->add(QStringLiteral("readInputReport %1 %2 %3").arg(identity).arg(length).arg(timeoutMs));
    QMutexLocker lock(&mutex_);
    if (inputReports_.isEmpty())
        return 0;
    const QByteArray report = inputReports_.dequeue();
    const int n = qMin(length, report.size());
    for (int i = 0; i < n; ++i)
        buffer[i] = static_cast<uint8_t>(report.at(i));
    return n;
}

void RecordingDeviceOperations::setReadReply(int address, const QString &commandString) {
    QMutexLocker lock(&mutex_);
    readReplies_.insert(address, commandString);
}

void RecordingDeviceOperations::setPacketReply(int type, const QString &commandString) {
    QMutexLocker lock(&mutex_);
    packetReplies_.insert(type, commandString);
}

void RecordingDeviceOperations::queueInputReport(const QByteArray &report) {
    QMutexLocker lock(&mutex_);
    inputReports_.enqueue(report);
}

void RecordingDeviceOperations::setAreaBlank(int address, bool blank) {
    QMutexLocker lock(&mutex_);
    blank_.insert(address, blank);
}

int RecordingDeviceOperations::refusedWrites() const {
    QMutexLocker lock(&mutex_);
    return refused_;
}

// ---- pacer and events ------------------------------------------------------------------------

void RecordingPacer::pause(int milliseconds) {
    log_.add(QStringLiteral("pause %1").arg(milliseconds));
}

void CollectingEventSink::sendEvent(const QString &name, const QVariantList &args) {
    QMutexLocker lock(&mutex_);
    events_ << CollectedEvent{name, args};
}

QList<CollectedEvent> CollectingEventSink::events() const {
    QMutexLocker lock(&mutex_);
    return events_;
}

QStringList CollectingEventSink::texts(const QString &name) const {
    QMutexLocker lock(&mutex_);
    QStringList out;
    for (const CollectedEvent &e : events_)
        if (e.name == name)
            out << (e.args.isEmpty() ? QString() : e.args.first().toString());
    return out;
}

void CollectingEventSink::clear() {
    QMutexLocker lock(&mutex_);
    events_.clear();
}

} // namespace torvanix::test
