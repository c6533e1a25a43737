#include "packet_transfer.h"

#include "../device/device_operations.h"
#include "../device/pacer.h"
#include "d4_code_lookup.h"

namespace torvanix {

PacketTransferPlan macroTableTransfer(int itemCount) {
    PacketTransferPlan s;
    s.command = QStringLiteral("21");
    s.firstByte = QStringLiteral("0x00");
    s.packetCount = QString::number(std::max(9, itemCount / kPacketItems));
    s.handshakeCommand = 21;
    s.handshakeCount = 1;
    s.dataCommand = QStringLiteral("19");
    s.finishFirstByte = s.firstByte;
    return s;
}

PacketTransferPlan keyColourTransfer() {
    PacketTransferPlan s;
    s.command = QStringLiteral("19");
    s.firstByte = QStringLiteral("0x81");
    s.packetCount = QStringLiteral("9");
    s.handshakeCommand = 19;
    s.handshakeCount = 576;
    s.dataCommand = QStringLiteral("19");
    s.finishFirstByte = s.firstByte;
    return s;
}

PacketTransferPlan lightingEffectTransfer() {
    PacketTransferPlan s;
    s.command = QStringLiteral("19");
    s.firstByte = QStringLiteral("0x00");
    s.packetCount = QStringLiteral("6");
    s.handshakeCommand = 19;
    s.handshakeCount = 384;
    s.dataCommand = QStringLiteral("19");
    s.finishFirstByte = s.firstByte;
    s.trailingCommand = QStringLiteral("240");
    s.trailingFirstByte = QStringLiteral("0x00");
    s.trailingCount = QStringLiteral("0");
    return s;
}

PacketTransferPlan keyTableTransfer(int profile) {
    PacketTransferPlan s;
    s.command = QStringLiteral("17");
    // The profile travels as a byte; written in hexadecimal like every other item.
    s.firstByte = hexByte(profile);
    s.packetCount = QStringLiteral("10");
    s.handshakeCommand = 17;
    s.handshakeCount = 10;
    s.dataCommand = QStringLiteral("11");
    s.finishFirstByte = QStringLiteral("0x00");
    s.trailingCommand = QStringLiteral("24");
    s.trailingFirstByte = QStringLiteral("0x00");
    s.trailingCount = QStringLiteral("0");
    return s;
}

PacketTransferPlan powerQueryTransfer() {
    PacketTransferPlan s;
    s.command = QStringLiteral("97");
    s.firstByte = QStringLiteral("0x00");
    s.packetCount = QStringLiteral("64");
    s.handshakeCommand = 97;
    s.handshakeCount = 64;
    s.finishFirstByte = s.firstByte;
    s.sendsData = false;
    return s;
}

void padToPackets(QStringList &items, int minimum) {
    const QString zero = QStringLiteral("0x00");
    int target = std::max(minimum, int(items.size()));
    target = (target + kPacketItems - 1) / kPacketItems * kPacketItems;
    items.reserve(target);
    while (items.size() < target)
        items.append(zero);
}

PacketTransferResult runPacketTransfer(DeviceOperations &ops, Pacer &pacer, const QString &identity,
                                       const PacketTransferPlan &plan, const QStringList &items) {
    PacketTransferResult r;
    auto failed = [&r](const QString &step) {
        r.ok = false;
        r.failedStep = step;
        return r;
    };

    if (!ops.writeSingleValue(identity, plan.command, plan.firstByte, plan.packetCount))
        return failed(QStringLiteral("announce"));
    pacer.pause(kPacketPauseMs);
    r.handshakeReply = ops.requestPacket(identity, plan.handshakeCommand, plan.handshakeCount);
    if (r.handshakeReply.isEmpty())
        return failed(QStringLiteral("handshake"));

    if (plan.sendsData) {
        pacer.pause(kPacketPauseMs);
        const int groups = int(items.size()) / kPacketItems;
        const QString count = QString::number(kPacketItems);
        for (int g = 0; g < groups; ++g) {
            const QString packet = items.mid(g * kPacketItems, kPacketItems).join(QLatin1Char(','));
            if (!ops.writePacket(identity, plan.dataCommand, packet, count))
                return failed(QStringLiteral("data packet %1 of %2").arg(g + 1).arg(groups));
            ++r.packetsSent;
            pacer.pause(kPacketPauseMs);
        }
    }

    pacer.pause(kPacketPauseMs);
    if (!ops.writeSingleValue(identity, QStringLiteral("2"), plan.finishFirstByte,
                              QStringLiteral("0")))
        return failed(QStringLiteral("finish"));
    pacer.pause(kPacketFinishPauseMs);
    r.finishReply = ops.requestPacket(identity, 2, 1);
    if (r.finishReply.isEmpty())
        return failed(QStringLiteral("finish handshake"));

    if (!plan.trailingCommand.isEmpty() &&
        !ops.writeSingleValue(identity, plan.trailingCommand, plan.trailingFirstByte,
                              plan.trailingCount))
        return failed(QStringLiteral("command %1 after the finish").arg(plan.trailingCommand));
    return r;
}

QString transferFailure(const QString &what, const QString &identity,
                        const PacketTransferResult &result) {
    return QStringLiteral("%1 transfer to %2 failed at the %3")
        .arg(what, identity, result.failedStep);
}

int packetTransferPauseMs(const PacketTransferPlan &plan, int itemCount) {
    int ms = kPacketPauseMs; // after the announce
    if (plan.sendsData)
        ms += kPacketPauseMs + (itemCount / kPacketItems) * kPacketPauseMs;
    return ms + kPacketPauseMs + kPacketFinishPauseMs; // before and after the finish
}

} // namespace torvanix
