#include "translation_context.h"

namespace torvanix {

void translateHfdKeyboard(TranslationContext &ctx, const QString &document)
{
    (void)document;
    if (ctx.callbackResult)
        ctx.callbackResult(false);
}

} // namespace torvanix
