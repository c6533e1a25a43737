#pragma once

#include <QString>

namespace torvanix {

struct TranslationContext;

// One key record of the D2.0 mouse families (QPA-RTE, HJE-XAV), written at `slot` with write
// property:
//   0x01, playtype, count, 0, 0, 0x00, 0x00 x5, <code>  (fifteen items)
// The code is the D2.0 function code of type/task; a mouse function is written with zeros for
// playtype, count and the rest. Type "MACRO" carries "0x04,<step bytes>,<macro slot>,0x00" and
// its step bytes, type "MACROS" "0x04,<steps high>,<steps low>,<macro slot>"; the macro slot is
// slot + profile + 89. An empty task clears the slot (fifteen "0x00"). `repeatDelay` and `flag`
// are carried for the page's signature and not written. Returns the write result.
bool writeKeyRecord(TranslationContext &ctx, const QString &identity, const QString &slot,
                    const QString &profile, const QString &playtype, const QString &playcount,
                    const QString &type, const QString &task, const QString &repeatDelay,
                    const QString &flag);

} // namespace torvanix
