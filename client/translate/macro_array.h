#pragma once

#include "d4_code_lookup.h"

#include <QString>
#include <QStringList>

namespace torvanix {

// Step words of a macro text "<word>(<argument>)<word>(<argument>)...:<rest>".
namespace macro_words {
inline const char *const KeyDown = "键盘按下";
inline const char *const KeyUp = "键盘弹起";
inline const char *const Delay = "延迟";
} // namespace macro_words

enum : int {
    kMacroTableOffsetItems = 400, // offset table: 100 entries of four bytes
    kMacroTableMaxMacros = 100,
};

// The `content` texts of the page's macro list (a JSON array of objects), at most `limit` of
// them: the list is read only as far as the entries that are used, so what follows them is
// not looked at. Anything that is not a JSON array (up to there) gives no macros.
QStringList macroTexts(const QString &macroArr, int limit = kMacroTableMaxMacros);

// The macro memory image of the packet keyboard: the offset table, the bodies from offset 400,
// padded to whole 64-item packets, with the 0xaa/0x55 marker in items 62/63. Only key presses,
// key releases and delays are stored; other steps are left out of the body and of its count,
// so every offset points at the body it names.
QStringList macroTableImage(const CodeLookup &lookup, const QStringList &texts);

} // namespace torvanix
