#include "translation_context.h"

namespace torvanix {

void writeMacroArray(TranslationContext &ctx, const QString &ver, const QString &macroArr)
{
    (void)ctx;
    (void)ver;
    (void)macroArr;
}

} // namespace torvanix
