// The D2.0 translator for every device identity without a family of its own: property
// registers written with write property, answers read with read property.

#include "command_string.h"
#include "d2_screen.h"
#include "d2_settings.h"
#include "device/device_operations.h"
#include "device/pacer.h"
#include "driver_templates.h"
#include "key_encoding.h"
#include "translate_xml.h"
#include "translation_context.h"

#include <QStringList>

namespace torvanix {

namespace {

const QString D2 = QStringLiteral("D2.0");

struct GenericD2 {
    TranslationContext &ctx;
    const DriverTemplate &tmpl;
    pugi::xml_document &doc;
    QString identity;

    // An element without an address would be written at register 0 (the empty text reads as
    // 0) and overwrite whatever lives there; such malformed elements write nothing.
    bool write(const QString &address, const QString &bytes, const QString &count) {
        if (address.trimmed().isEmpty())
            return false;
        return ctx.ops.writeProperty(identity, address, bytes, count);
    }

    void answer(const QStringList &remove) {
        xml::sendSaveXml(ctx.events, xml::answer(doc, remove));
    }
};

void writeLighting(GenericD2 &t, const pugi::xml_node &zone, const pugi::xml_node &mode,
                   const pugi::xml_node &effectKey, bool directionAllowed) {
    t.write(xml::attr(zone, "index"), cmd::decimalToHex(xml::attr(mode, "index")),
            xml::attr(zone, "length"));
    const QString name = xml::attr(mode, "name");
    if (name == QLatin1String("Default")) {
        if (!effectKey)
            return;
        const QString keyName = xml::attr(effectKey, "name");
        const bool known =
            keyName == QLatin1String("LightRGB") || keyName == QLatin1String("LightSpeed") ||
            keyName == QLatin1String("LightBrightness") || keyName == QLatin1String("LightMode") ||
            (directionAllowed && keyName == QLatin1String("LightDirection"));
        if (!known)
            return;
        t.write(xml::attr(effectKey, "index"),
                d2::effectKeyBytes(keyName, xml::attr(effectKey, "value"), directionAllowed),
                xml::attr(effectKey, "length"));
    } else if (name == QLatin1String("LightUp")) {
        const QString table = cmd::padWithZeros(d2::perKeyColourTable(t.tmpl, mode), 440);
        t.write(QStringLiteral("201"), table, xml::attr(mode, "length"));
        t.write(QStringLiteral("6"), QStringLiteral("0xdc"), QStringLiteral("1"));
    }
}

int firstByte(const QString &reply) {
    const QList<int> b = cmd::bytes(reply);
    return b.isEmpty() ? 0 : b.first();
}

void lightingQuery(GenericD2 &t) {
    const int effect = firstByte(t.ctx.ops.readProperty(t.identity, 162, 1));
    const int brightness = firstByte(t.ctx.ops.readProperty(t.identity, 163, 1));
    const int speed = firstByte(t.ctx.ops.readProperty(t.identity, 164, 1));
    const int direction = firstByte(t.ctx.ops.readProperty(t.identity, 165, 1));
    const pugi::xml_node mode = xml::select(t.doc, "/configuration/light/mode[@name='Default']");
    xml::setAttr(mode, "index", QString::number(effect));
    xml::setAttr(mode.find_child_by_attribute("key", "name", "LightMode"), "value",
                 QString::number(effect));
    xml::setAttr(mode.find_child_by_attribute("key", "name", "LightBrightness"), "value",
                 QString::number(brightness));
    xml::setAttr(mode.find_child_by_attribute("key", "name", "LightSpeed"), "value",
                 QString::number(speed));
    xml::setAttr(mode.find_child_by_attribute("key", "name", "LightDirection"), "value",
                 QString::number(direction));
    t.answer({QString::fromLatin1(xml::ActionSet)});
}

void keySet(GenericD2 &t, const pugi::xml_node &key) {
    const int index = cmd::toInt(xml::attr(key, "index"));
    if (index == 5) {
        t.write(xml::attr(key, "index"), xml::attr(key, "value"), xml::attr(key, "length"));
        t.ctx.pacer.pause(100);
        return;
    }
    if (index > 150)
        return;
    const QString record = buildD2KeyRecord(t.tmpl, t.identity, KeyAssignment::fromNode(key));
    const QString count = QString::number(cmd::itemCount(record));
    t.ctx.pacer.pause(100);
    t.write(xml::attr(key, "index"), record, count);
}

void parameterSet(GenericD2 &t, const pugi::xml_node &key) {
    const QString name = xml::attr(key, "name");
    const QString index = xml::attr(key, "index");
    const QString value = xml::attr(key, "value");
    if (name == QLatin1String("sleep")) {
        t.write(index, d2::byteOf(value), QStringLiteral("1"));
    } else if (name == QLatin1String("sleepscreen") || name == QLatin1String("ratesscreen")) {
        const pugi::xml_node sleep =
            xml::select(t.doc, "/configuration/parameters/key[@name='sleep']");
        const pugi::xml_node sleepscreen =
            xml::select(t.doc, "/configuration/parameters/key[@name='sleepscreen']");
        const pugi::xml_node ratesscreen =
            xml::select(t.doc, "/configuration/parameters/key[@name='ratesscreen']");
        const QStringList items{d2::byteOf(xml::attr(sleep, "value")),
                                d2::byteOf(xml::attr(sleepscreen, "value")),
                                d2::byteOf(xml::attr(ratesscreen, "value")),
                                d2::byteOf(xml::attr(sleepscreen, "sync"))};
        t.write(index, items.join(QLatin1Char(',')), QStringLiteral("4"));
    } else if (name == QLatin1String("SensorAltitude")) {
        t.write(index, value, QStringLiteral("1"));
    } else if (name == QLatin1String("Reportrate")) {
        t.write(index, QString::number(d2::reportRateCode(value)), QStringLiteral("1"));
    }
}

// Byte 1 of one input report, or -1 when none arrived.
int reportByte(GenericD2 &t) {
    uint8_t buffer[64] = {};
    const int n = t.ctx.ops.readInputReport(t.identity, buffer, 64, 100);
    return n >= 2 ? buffer[1] : -1;
}

void dpiQuery(GenericD2 &t, const pugi::xml_node &dpi) {
    t.write(xml::attr(dpi, "index"), QStringLiteral("0x05"), QStringLiteral("1"));
    t.ctx.pacer.pause(100);
    const int level = reportByte(t);
    t.ctx.pacer.pause(100);
    t.write(QStringLiteral("178"), QStringLiteral("0x05"), QStringLiteral("1"));
    const int rateCode = reportByte(t);
    if (level >= 0)
        xml::setAttr(dpi, "current", QString::number(level));
    if (rateCode >= 0)
        xml::setAttr(xml::select(t.doc, "/configuration/parameters/key[@name='Reportrate']"),
                     "value", QString::number(d2::reportRateFromCode(rateCode)));
    t.answer({QString::fromLatin1(xml::ActionSet), QString::fromLatin1(xml::ActionGet)});
}

void dpiSet(GenericD2 &t, const pugi::xml_node &dpi) {
    const QString current = xml::attr(dpi, "current");
    const pugi::xml_node level =
        xml::selectBuilt(t.doc, QStringLiteral("/configuration/dpi/key[@name='Dpi") + current +
                                    QStringLiteral("']"));
    const QString task =
        QStringList{xml::attr(level, "sync"), xml::attr(level, "x"), xml::attr(level, "y")}.join(
            QLatin1Char('|'));
    const QString record = encodeKeyFunction(t.tmpl, t.identity, QStringLiteral("Dpi"), task);
    t.write(xml::attr(dpi, "index"), current, QStringLiteral("1"));
    t.ctx.pacer.pause(100);
    if (level) // no record for a level the document does not describe
        t.write(xml::attr(level, "index"), record, QStringLiteral("8"));
}

} // namespace

void translateGenericD2(TranslationContext &ctx, const QString &document) {
    const DriverTemplate &tmpl = ctx.templates.generation(D2);
    pugi::xml_document doc;
    if (!xml::load(doc, document))
        return;
    QString identity = xml::identity(doc);
    identity.replace(QStringLiteral("WSU-DFO-V1.1.0.6"), QStringLiteral("WSU-DFO-V1.1.0"));
    GenericD2 t{ctx, tmpl, doc, identity};
    pugi::xml_node n;

    if ((n = xml::select(doc, "/configuration[@action='reset']"))) {
        ctx.ops.resetDevice(identity);
    } else if ((n = xml::select(doc, "/configuration/key[@name='Route' and @action='set']"))) {
        t.write(xml::attr(n, "index"), cmd::decimalToHex(xml::attr(n, "value")),
                QStringLiteral("1"));
    } else if ((n = xml::select(doc, "/configuration/key[@name='FullSpeed' and @action='set']"))) {
        t.write(xml::attr(n, "index"), xml::attr(n, "value"), QStringLiteral("1"));
    } else if ((n = xml::select(doc, "/configuration/light/mode[@action='set']"))) {
        writeLighting(t, xml::select(doc, "/configuration/light"), n,
                      xml::select(doc, "/configuration/light/mode/key[@action='set']"), true);
    } else if ((n = xml::select(doc, "/configuration/lightLeft/mode[@action='set']"))) {
        writeLighting(t, xml::select(doc, "/configuration/lightLeft"), n,
                      xml::select(doc, "/configuration/lightLeft/mode/key[@action='set']"), false);
    } else if ((n = xml::select(
                    doc, "/configuration/key[@name='GlobalPerformance' and @action='set']"))) {
        const QString bytes = d2::globalPerformanceBytes(xml::attr(n, "value"));
        if (!bytes.isEmpty())
            t.write(xml::attr(n, "index"), bytes, xml::attr(n, "length"));
    } else if ((n = xml::select(doc, "/configuration/key[@name='GlobalKnob' and @action='set']"))) {
        t.write(xml::attr(n, "index"), xml::attr(n, "value"), xml::attr(n, "length"));
    } else if ((n = xml::select(doc,
                                "/configuration/key[@name='GlobalScreen' and @action='set']"))) {
        // The upload is long and otherwise silent: its end is answered with the bytes sent
        // (0 when the converted picture was missing, -1 when the picture was refused or a write
        // did not reach the device), so the page can tell success from a skipped or torn picture.
        const qint64 sent = uploadScreenImage(ctx, identity, n);
        xml::setAttr(n, "sent", QString::number(qMax<qint64>(sent, -1)));
        t.answer({QString::fromLatin1(xml::ActionSet)});
    } else if ((n = xml::select(doc,
                                "/configuration/key[@name='GlobalScreen' and @action='del']"))) {
        deleteScreenImage(ctx, identity, n);
    } else if ((n = xml::select(doc,
                                "/configuration/key[@name='Electricity' and @action='set']"))) {
        const QList<int> b =
            cmd::bytes(ctx.ops.readProperty(identity, cmd::toInt(xml::attr(n, "index")), 2));
        xml::setAttr(n, "value", QStringLiteral("%1,%2").arg(b.value(0)).arg(b.value(1)));
        t.answer({QString::fromLatin1(xml::ActionSet)});
    } else if ((n = xml::select(doc, "/configuration/key[@name='ResetFlg' and @action='get']"))) {
        const int flag = firstByte(ctx.ops.readProperty(identity, 8, 1));
        xml::setAttr(xml::select(doc, "/configuration/key[@name='ResetFlg']"), "value",
                     QString::number(flag));
        t.answer({QString::fromLatin1(xml::ActionGet)});
    } else if ((n = xml::select(doc, "/configuration/light/mode[@action='get']"))) {
        lightingQuery(t);
    } else if ((n = xml::select(doc, "/configuration/key[@name='Hibernate' and @action='set']"))) {
        t.write(xml::attr(n, "index"), xml::attr(n, "value"), xml::attr(n, "length"));
    } else if ((n = xml::select(doc,
                                "/configuration/key[@name='MoveLightSwitch' and @action='set']"))) {
        // Tested before the key assignments: a key "set" expression would otherwise take the
        // switch for a key and write a key record over its register.
        t.write(xml::attr(n, "index"), xml::attr(n, "value"), QStringLiteral("1"));
    } else if ((n = xml::select(doc, "/configuration/key[@action='set']"))) {
        keySet(t, n);
    } else if ((n = xml::select(doc, "/configuration/key[@action='conf']"))) {
        t.write(xml::attr(n, "index"),
                d2RouteConfRecord(xml::attr(n, "burttonroute"), xml::attr(n, "dynamicroutedown"),
                                  xml::attr(n, "dynamicrouteup")),
                QStringLiteral("15"));
    } else if ((n = xml::select(doc, "/configuration/key[@action='over']"))) {
        t.write(xml::attr(n, "index"), d2RouteOverRecord(), QStringLiteral("15"));
    } else if ((n = xml::select(doc, "/configuration/parameters/key[@action='set']"))) {
        parameterSet(t, n);
    } else if ((n = xml::select(doc, "/configuration/dpi[@action='get']"))) {
        dpiQuery(t, n);
    } else if ((n = xml::select(doc, "/configuration/dpi[@action='set']"))) {
        dpiSet(t, n);
    } else if ((n = xml::select(doc, "/configuration/key[@action='delete']"))) {
        t.write(xml::attr(n, "index"), cmd::zeros(15), QStringLiteral("15"));
    }
}

} // namespace torvanix
