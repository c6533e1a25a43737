#pragma once

#include <QString>
#include <QStringList>

namespace torvanix {

class DeviceOperations;
class Pacer;

// One table transfer to the packet keyboard: announce, handshake, whole 64-item data packets,
// finish, finish handshake and, for some tables, a trailing single value that makes the device
// take the new table into use.
struct PacketTransferPlan {
    QString command;     // announce command ("21" macro table, "19" lighting, "17" keys)
    QString firstByte;   // announce first byte ("0x00", "0x81", the profile number)
    QString packetCount; // announced packet count, passed through unchanged
    int handshakeCommand = 0;
    int handshakeCount = 0;
    QString dataCommand;     // packet type of every data packet
    QString finishFirstByte; // first byte of the finish
    bool sendsData = true;   // false for queries (power) that only announce and read
    QString trailingCommand; // empty: none; otherwise written after the finish handshake
    QString trailingFirstByte;
    QString trailingCount;
};

// The transfers the packet keyboard knows.
// The macro table announces nine packets, the size of a table with little in it; a larger
// table announces every packet it sends, since the device takes no more packets than announced.
PacketTransferPlan macroTableTransfer(int itemCount = 0);
PacketTransferPlan keyColourTransfer();
PacketTransferPlan lightingEffectTransfer();
PacketTransferPlan keyTableTransfer(int profile);
PacketTransferPlan powerQueryTransfer();

// The pauses (milliseconds) of a transfer around the device operations.
enum : int {
    kPacketPauseMs = 10,
    kPacketFinishPauseMs = 30,
    kPacketItems = 64,
};

struct PacketTransferResult {
    bool ok = true;         // every device operation succeeded
    int packetsSent = 0;    // data packets written (whole 64-item groups only)
    QString handshakeReply; // what the handshake request answered
    QString finishReply;    // what the finish handshake answered
    QString failedStep;     // when not ok: "announce", "handshake", "data packet N", "finish", ...
};

// Runs one transfer of `items` (byte texts); only whole groups of 64 items are sent. The
// transfer stops at the first step that fails and sends no finish: a finish would make the
// device commit a table with a packet missing and everything after it shifted. The device
// drops the open transfer at the next announce.
PacketTransferResult runPacketTransfer(DeviceOperations &ops, Pacer &pacer, const QString &identity,
                                       const PacketTransferPlan &plan, const QStringList &items);

// Sum of the pauses runPacketTransfer makes for `itemCount` items (benchmark reference).
int packetTransferPauseMs(const PacketTransferPlan &plan, int itemCount);

// The reason a failed transfer gives the page's tools: "<what> transfer to <identity> failed
// at <step>".
QString transferFailure(const QString &what, const QString &identity,
                        const PacketTransferResult &result);

// Pads `items` with "0x00" to a multiple of 64 (at least `minimum` items).
void padToPackets(QStringList &items, int minimum = 0);

} // namespace torvanix
