#include "../device/device_operations.h"
#include "d4_code_lookup.h"
#include "library_translators.h"
#include "translate_xml.h"
#include "translation_context.h"

namespace torvanix {

// Lighting synchronisation: one colour or effect for every listed device that has its own
// access library. Colours reach both libraries as 0xRRGGBB (see libcolour): the static colour
// and the effects use the same helpers as the lighting translators, so a colour shows the same
// on every device whichever path set it.
void translateLightSync(TranslationContext &ctx, const QString &document) {
    pugi::xml_document doc;
    if (!xml::load(doc, document))
        return;
    const pugi::xml_node devices = xml::select(doc, "/configuration/devices");
    for (pugi::xml_node device : devices.children()) {
        if (device.type() != pugi::node_element)
            continue;
        const QString identity = xml::attr(device, "version").trimmed().toUpper();
        const int sync = decimalValue(xml::attr(device, "sync"));
        if (sync <= 0)
            continue;
        int r, g, b;
        splitColour(xml::attr(device, "rgb"), r, g, b);
        if (identity == QLatin1String("258A002E")) {
            if (sync == 1)
                libcolour::setMouseColour(ctx.ops.mouse(), 2, 4, r, g, b);
            else // effect 2 is the mouse's static colour; the sync list means its breathing
                ctx.ops.mouse().setLightValue(sync == 2 ? 3 : sync, 4);
        } else if (identity == QLatin1String("05AC024F")) {
            if (sync == 1)
                libcolour::setKeyboardLed(ctx.ops.keyboard(), 1, 5, 5, 0, r, g, b);
            else
                libcolour::setKeyboardLed(ctx.ops.keyboard(), sync == 4 ? 17 : sync, 5, 5, 1, r, g,
                                          b);
        }
    }
}

} // namespace torvanix
