// The D2.0 mouse families: QPA-RTE (writes through the QPA write entry, macros in one of twenty
// macro slots) and HJE-XAV (key records per profile through writeKeyRecord).

#include "command_string.h"
#include "d2_settings.h"
#include "d2_translators.h"
#include "device/device_operations.h"
#include "device/pacer.h"
#include "driver_templates.h"
#include "key_encoding.h"
#include "macro_steps.h"
#include "translate_xml.h"
#include "translation_context.h"

namespace torvanix {

namespace {

const QString D2 = QStringLiteral("D2.0");

// Elements without an address write nothing (the empty text would read as register 0).
bool writePlain(TranslationContext &ctx, const QString &identity, const QString &address,
                const QString &bytes, const QString &count) {
    if (address.trimmed().isEmpty())
        return false;
    return ctx.ops.writeProperty(identity, address, bytes, count);
}

bool writeQpa(TranslationContext &ctx, const QString &identity, const QString &address,
              const QString &bytes, const QString &count) {
    if (address.trimmed().isEmpty())
        return false;
    return ctx.ops.writePropertyForQpa(identity, address, bytes, count);
}

// The QPA macro slots are the twenty registers from the start of the macro area (181 .. 200).
// A slot is free when the first fifteen bytes of its register read back as zeros.
constexpr int QpaMacroBase = 181;
constexpr int QpaMacroSlots = 20;
constexpr int QpaMacroCheckBytes = 15;

QString stepBytes(const DriverTemplate &tmpl, const QString &identity, const QString &task) {
    QString steps = encodeMacroSteps(identity, parseMacroText(tmpl, task));
    if (steps.endsWith(QLatin1Char(',')))
        steps.chop(1);
    return steps;
}

// "0x04,<step bytes>,<slot>,0x00": a count above 255 keeps its high byte in the last item
// instead of losing it (the item stays "0x00" for shorter macros).
QString macroHeader(int stepBytes, const QString &slot) {
    return cmd::fill(QStringLiteral("0x04,%1,%2,%3"),
                     {cmd::hex(stepBytes & 0xFF), slot,
                      stepBytes > 0xFF ? cmd::hex(stepBytes >> 8) : QStringLiteral("0x00")});
}

// The first free macro slot register; when none is free all are cleared and the first is used.
int findQpaMacroSlot(TranslationContext &ctx, const QString &identity) {
    for (int s = 0; s < QpaMacroSlots; ++s) {
        if (s > 0)
            ctx.pacer.pause(50);
        if (ctx.ops.isAreaBlank(identity, QpaMacroBase + s, QpaMacroCheckBytes))
            return QpaMacroBase + s;
    }
    for (int s = 0; s < QpaMacroSlots; ++s)
        ctx.ops.clearArea(identity, QpaMacroBase + s, QpaMacroCheckBytes);
    return QpaMacroBase;
}

void qpaLighting(TranslationContext &ctx, const DriverTemplate &tmpl, pugi::xml_document &doc,
                 const QString &identity, const pugi::xml_node &mode) {
    const pugi::xml_node zone = xml::select(doc, "/configuration/light");
    writePlain(ctx, identity, xml::attr(zone, "index"), cmd::decimalToHex(xml::attr(mode, "index")),
               xml::attr(zone, "length"));
    const QString name = xml::attr(mode, "name");
    if (name == QLatin1String("Default")) {
        const pugi::xml_node key = xml::select(doc, "/configuration/light/mode/key[@action='set']");
        const QString keyName = xml::attr(key, "name");
        if (keyName == QLatin1String("LightRGB") || keyName == QLatin1String("LightSpeed") ||
            keyName == QLatin1String("LightBrightness") || keyName == QLatin1String("LightMode") ||
            keyName == QLatin1String("LightDirection"))
            writePlain(ctx, identity, xml::attr(key, "index"),
                       d2::effectKeyBytes(keyName, xml::attr(key, "value")),
                       xml::attr(key, "length"));
    } else if (name == QLatin1String("LightUp")) {
        const pugi::xml_node lightUp =
            xml::select(doc, "/configuration/light/mode[@name='LightUp']");
        const QString table = cmd::padWithZeros(d2::perKeyColourTable(tmpl, lightUp), 440);
        writeQpa(ctx, identity, QStringLiteral("201"), table, xml::attr(lightUp, "length"));
        writePlain(ctx, identity, QStringLiteral("6"), QStringLiteral("0xdc"), QStringLiteral("1"));
    }
}

void qpaKey(TranslationContext &ctx, const DriverTemplate &tmpl, const QString &identity,
            const pugi::xml_node &key) {
    const QString type = xml::attr(key, "type");
    const QString task = xml::attr(key, "task");
    QString code;
    if (type.toUpper() == QLatin1String("MACRO")) {
        const QString steps = stepBytes(tmpl, identity, task);
        const int slot = findQpaMacroSlot(ctx, identity);
        code = macroHeader(cmd::itemCount(steps), cmd::hex(slot));
        if (!steps.isEmpty())
            code += QLatin1Char(',') + steps;
    } else {
        code = encodeKeyFunction(tmpl, identity, type, task);
        if (code.isEmpty())
            code = QStringLiteral("0,0,0,0");
    }
    const QString record =
        buildD2MouseRecord(xml::attr(key, "playtype"), xml::attr(key, "playcount"), code);
    writeQpa(ctx, identity, xml::attr(key, "index"), record,
             QString::number(cmd::itemCount(record)));
}

} // namespace

bool writeKeyRecord(TranslationContext &ctx, const QString &identity, const QString &slot,
                    const QString &profile, const QString &playtype, const QString &playcount,
                    const QString &type, const QString &task, const QString &repeatDelay,
                    const QString &flag) {
    Q_UNUSED(repeatDelay);
    Q_UNUSED(flag);
    const DriverTemplate &tmpl = ctx.templates.generation(D2);
    bool ok;
    if (task.isEmpty()) {
        ok = writePlain(ctx, identity, slot, cmd::zeros(15), QStringLiteral("15"));
    } else {
        const QString upper = type.toUpper();
        QString code;
        if (upper == QLatin1String("MACRO") || upper == QLatin1String("MACROS")) {
            const QString steps = stepBytes(tmpl, identity, task);
            const int n = cmd::itemCount(steps);
            const QString macroSlot = cmd::hex(cmd::toInt(slot) + cmd::toInt(profile) + 89);
            if (upper == QLatin1String("MACRO"))
                code = macroHeader(n, macroSlot);
            else
                code = cmd::fill(QStringLiteral("0x04,%1,%2,%3"),
                                 {cmd::hex((n >> 8) & 0xFF), cmd::hex(n & 0xFF), macroSlot});
            if (n > 0)
                code += QLatin1Char(',') + steps;
        } else {
            code = encodeKeyFunction(tmpl, identity, type, task);
            if (code.isEmpty())
                code = QStringLiteral("0,0,0,0");
        }
        const QString record = buildD2MouseRecord(playtype, playcount, code);
        ok = writePlain(ctx, identity, slot, record, QString::number(cmd::itemCount(record)));
    }
    if (ctx.callbackResult)
        ctx.callbackResult(ok);
    return ok;
}

void translateQpaMouse(TranslationContext &ctx, const QString &document) {
    const DriverTemplate &tmpl = ctx.templates.generation(D2);
    pugi::xml_document doc;
    if (!xml::load(doc, document))
        return;
    const QString identity = xml::identity(doc);
    pugi::xml_node n;
    if ((n = xml::select(doc, "/configuration[@action='reset']"))) {
        ctx.ops.resetDevice(identity);
    } else if (xml::select(doc, "/configuration/light") &&
               (n = xml::select(doc, "/configuration/light/mode[@action='set']"))) {
        qpaLighting(ctx, tmpl, doc, identity, n);
    } else if ((n = xml::select(doc, "/configuration/key[@action='set']"))) {
        // A key that names a function type is an assignment; any other key a plain setting.
        if (!xml::attr(n, "type").isEmpty())
            qpaKey(ctx, tmpl, identity, n);
        else
            writePlain(ctx, identity, xml::attr(n, "index"), xml::attr(n, "value"),
                       xml::attr(n, "length"));
    } else if ((n = xml::select(doc, "/configuration/key[@action='delete']"))) {
        writePlain(ctx, identity, xml::attr(n, "index"), cmd::zeros(15), QStringLiteral("15"));
    }
}

void translateHjeMouse(TranslationContext &ctx, const QString &document) {
    pugi::xml_document doc;
    if (!xml::load(doc, document))
        return;
    const QString identity = xml::identity(doc);
    pugi::xml_node n;
    if ((n = xml::select(doc, "/configuration[@action='reset']"))) {
        ctx.ops.resetDevice(identity);
    } else if ((n = xml::select(doc, "/configuration/key[@action='delete']"))) {
        writePlain(ctx, identity, xml::attr(n, "index"), cmd::zeros(15), QStringLiteral("15"));
    } else if ((n = xml::select(doc, "/configuration/key[@action='set']"))) {
        const int index = cmd::toInt(xml::attr(n, "index"));
        if (xml::attr(n, "index").trimmed().isEmpty() || index == 5 || index > 150)
            return;
        // Profiles count from 1; a document without a usable CurProfile edits the first
        // profile rather than a slot below the key's own.
        const int profile =
            qMax(1, cmd::toInt(xml::attr(xml::select(doc, "/configuration/key[@name='CurProfile']"),
                                         "value")));
        const QString slot = QString::number(index + 6 * (profile - 1));
        writeKeyRecord(ctx, identity, slot, QString::number(profile), xml::attr(n, "playtype"),
                       xml::attr(n, "playcount"), xml::attr(n, "type"), xml::attr(n, "task"),
                       QStringLiteral("10"), QStringLiteral("0"));
    }
}

} // namespace torvanix
