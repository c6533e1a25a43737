#include "translation_context.h"

namespace torvanix {

void translateLightSync(TranslationContext &ctx, const QString &document)
{
    (void)ctx;
    (void)document;
}

} // namespace torvanix
