#pragma once

#include "d4_code_lookup.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

namespace torvanix {

// Button words of a repeat-key ("GKEY") entry: the task reads "<text>:<button>|<rate>". The
// empty button word also selects the left button. Any other word is taken as a keyboard key.
namespace gkey {
inline const char *const MouseLeft = "mouseLeft";       // bit 0x01
inline const char *const MouseRight = "mouseRight";     // bit 0x02
inline const char *const MouseMiddle = "mouseMiddle";   // bit 0x04
inline const char *const MouseForward = "mouseForward"; // bit 0x10
inline const char *const MouseBack = "mouseBack";       // bit 0x08
} // namespace gkey

namespace hfd {

enum : int {
    kKeyTableKeys = 160,  // four bytes per key, the last entry's upper half holds the marker
    kKeyColourKeys = 144, // four bytes per key: 0x80, red, green, blue
    kEffectRecords = 20,  // preset effects 1..20, then the current-effect record
    kEffectRecordItems = 16,
};

// The four bytes of one key-table entry for the assignment (type, task, count, delay).
// Unknown types and names give an all-zero entry (the key keeps its default).
QStringList encodeKeyEntry(const CodeLookup &lookup, const QString &type, const QString &task,
                           const QString &count, const QString &delay);

// The 640-item key table: entries (key number, four bytes) placed at 4 x key; key numbers
// outside 0..159 are ignored; items 638/639 carry the 0xaa/0x55 end marker.
QStringList keyTable(const QVector<QPair<int, QStringList>> &entries);

// The 576-item per-key colour table from (key number, "rrggbb") pairs; keys outside 0..143
// are ignored, keys not named stay dark.
QStringList keyColourTable(const QVector<QPair<int, QString>> &entries);

// One 16-item effect record.
QStringList effectRecord(int effect, int flag, int red, int green, int blue, int direction,
                         int brightness, int speed);

// Twenty preset records (1..20, flag 1) with the colour and parameters, then the record that
// selects `mode` (flag 0), padded to 384 items.
QStringList effectTable(int mode, const QString &rgb, int direction, int brightness, int speed);

// The battery level in a power query reply: item 4, hexadecimal; -1 when the reply is short.
int batteryFromReply(const QString &reply);

} // namespace hfd
} // namespace torvanix
