#include "library_translators.h"

#include "../device/device_operations.h"
#include "driver_templates.h"
#include "key_encoding.h"
#include "translate_xml.h"
#include "translation_context.h"

namespace torvanix {

namespace libcolour {

bool setKeyboardLed(KeyboardLibrary &kb, int effect, int brightness, int speed, int flag, int red,
                    int green, int blue) {
    return kb.setLed(effect, brightness, speed, flag, red, blue, green);
}

bool setMouseColour(MouseLibrary &ms, int mode, int value, int red, int green, int blue) {
    return ms.setLightColor(mode, value, 4, 4, blue, red, green);
}

bool setKeyColour(KeyboardLibrary &kb, int key, int red, int green, int blue) {
    return kb.setKeyColor(key, green, blue, red);
}

} // namespace libcolour

QString restoreType(const CodeLookup &lookup, const QString &value) {
    return keyUsage(lookup, value) >= 0 ? QStringLiteral("KEYBOARD") : QStringLiteral("MOUSE");
}

QString mouseLibraryKeyCode(const CodeLookup &lookup, const QString &task) {
    int modifiers = 0;
    int usage = 0;
    for (const QString &part : splitCombination(task)) {
        const int code = keyUsage(lookup, part);
        if (code >= 0xE0 && code <= 0xE3)
            modifiers |= 1 << (code - 0xE0);
        else if (code >= 0)
            usage = code;
    }
    return QStringLiteral("0x02,%1,%2,0").arg(modifiers).arg(usage);
}

namespace {

int effectKey(const pugi::xml_node &mode, const char *name) {
    const std::string path = std::string("key[@name='") + name + "']";
    return decimalValue(xml::attr(mode.select_node(path.c_str()).node(), "value"));
}

// The library key number of a key element. A key without a usable `nc` is not written: an empty
// number would read as 0 and replace the assignment of key 0.
bool libraryKey(const pugi::xml_node &key, int &nc) {
    return keyNumber(xml::attr(key, "nc"), nc);
}

struct Document {
    pugi::xml_document doc;
    QString identity;
    bool ok = false;
    explicit Document(const QString &text) {
        ok = xml::load(doc, text);
        if (ok)
            identity = xml::identity(doc).toLower();
    }
};

} // namespace

void translateKeyboardD4(TranslationContext &ctx, const QString &document) {
    Document d(document);
    if (!d.ok)
        return;
    const DriverTemplate &tmpl = ctx.templates.generation(QStringLiteral("D4.0"));
    KeyboardLibrary &kb = ctx.ops.keyboard();

    if (pugi::xml_node mode = xml::select(d.doc, "/configuration/light/mode[@action='set']")) {
        if (xml::attr(mode, "name") == QLatin1String("LightUp")) {
            for (pugi::xml_node key : mode.children("key")) {
                int rc;
                if (!keyNumber(xml::attr(key, "rc"), rc))
                    continue;
                int r, g, b;
                splitColour(xml::attr(key, "rgb"), r, g, b);
                libcolour::setKeyColour(kb, rc, r, g, b);
            }
        } else {
            libcolour::setKeyboardLed(
                kb, effectKey(mode, "LightMode"), 5, 5, 1, kKeyboardPresetColour >> 16,
                (kKeyboardPresetColour >> 8) & 0xFF, kKeyboardPresetColour & 0xFF);
        }
        return;
    }
    if (pugi::xml_node key = xml::select(d.doc, "/configuration/key[@action='set']")) {
        const QString type = xml::attr(key, "type");
        int nc;
        if (libraryKey(key, nc))
            kb.setKey(type, nc,
                      encodeKeyFunctionD4(tmpl, d.identity, type, xml::attr(key, "task")));
        return;
    }
    if (pugi::xml_node key = xml::select(d.doc, "/configuration/key[@action='delete']")) {
        const QString value = xml::attr(key, "value");
        const QString type =
            restoreType(templateLookup(ctx.templates, QStringLiteral("D4.0")), value);
        int nc;
        if (libraryKey(key, nc))
            kb.setKey(type, nc, encodeKeyFunctionD4(tmpl, d.identity, type, value));
    }
}

void translateMouseD3(TranslationContext &ctx, const QString &document) {
    Document d(document);
    if (!d.ok)
        return;
    const DriverTemplate &tmpl = ctx.templates.generation(QStringLiteral("D3.0"));
    MouseLibrary &ms = ctx.ops.mouse();

    if (pugi::xml_node mode = xml::select(d.doc, "/configuration/light/mode[@action='set']")) {
        const int effect = effectKey(mode, "LightMode");
        int r, g, b;
        splitColour(xml::attr(mode.select_node("key[@name='LightRGB']").node(), "value"), r, g, b);
        // Brightness, speed and direction are the device's own (4) whatever the page says.
        if (effect == 2)
            libcolour::setMouseColour(ms, effect, 4, r, g, b);
        else
            ms.setLightValue(effect, 4);
        return;
    }
    const CodeLookup lookup = templateLookup(ctx.templates, QStringLiteral("D3.0"));
    // Key combinations take the library's own layout; every other function its table code.
    auto keyCode = [&](const QString &type, const QString &task) {
        const QString t = type.toUpper();
        if (t == QLatin1String("HOTKEY") || t == QLatin1String("KEYBOARD"))
            return mouseLibraryKeyCode(lookup, task);
        return encodeKeyFunction(tmpl, d.identity, type, task);
    };
    if (pugi::xml_node key = xml::select(d.doc, "/configuration/key[@action='set']")) {
        const QString type = xml::attr(key, "type");
        int nc;
        if (libraryKey(key, nc))
            ms.setKey(type, nc, keyCode(type, xml::attr(key, "task")));
        return;
    }
    if (pugi::xml_node key = xml::select(d.doc, "/configuration/key[@action='delete']")) {
        const QString value = xml::attr(key, "value");
        const QString type = restoreType(lookup, value);
        int nc;
        if (libraryKey(key, nc))
            ms.setKey(type, nc, keyCode(type, value));
        return;
    }
    if (xml::select(d.doc, "/configuration/dpi/key[@action='set']")) {
        if (pugi::xml_node dpi = xml::select(d.doc, "/configuration/dpi"))
            ms.setDpiStages(dpi);
    }
}

} // namespace torvanix
