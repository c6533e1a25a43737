#include "translation_context.h"

namespace torvanix {

void translateKeyboardD4(TranslationContext &ctx, const QString &document)
{
    (void)ctx;
    (void)document;
}

void translateMouseD3(TranslationContext &ctx, const QString &document)
{
    (void)ctx;
    (void)document;
}

} // namespace torvanix
