#include "hfd_keyboard.h"

#include "../device/device_operations.h"
#include "../device/event_sink.h"
#include "packet_transfer.h"
#include "sync_model_templates.h"
#include "translation_context.h"

#include <QByteArray>
#include <QVariantList>
#include <pugixml.hpp>
#include <sstream>

namespace torvanix {
namespace hfd {

namespace {

const QString kZero = QStringLiteral("0x00");

QStringList zeros(int n) {
    QStringList out;
    out.reserve(n);
    for (int i = 0; i < n; ++i)
        out.append(kZero);
    return out;
}

// "Ctrl+Shift+A", "Ctrl++" (the plus key), "Alt+单击左键()".
QStringList combinationParts(const QString &task) {
    QStringList parts;
    QString current;
    for (int i = 0; i < task.size(); ++i) {
        const QChar c = task.at(i);
        if (c == QLatin1Char('+') && !current.trimmed().isEmpty()) {
            parts.append(current.trimmed());
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (!current.trimmed().isEmpty())
        parts.append(current.trimmed());
    return parts;
}

QStringList combinationEntry(const CodeLookup &lookup, const QString &task) {
    int modifiers = 0;
    int usage = -1;
    QStringList function;
    for (const QString &part : combinationParts(task)) {
        const int code = keyUsage(lookup, part);
        if (code >= 0xE0 && code <= 0xE7) {
            modifiers |= 1 << (code - 0xE0);
        } else if (code >= 0) {
            usage = code;
        } else {
            const QStringList bytes = functionBytes(lookup, part);
            if (bytes.size() >= 2)
                function = bytes;
        }
    }
    if (usage < 0 && !function.isEmpty()) {
        while (function.size() < 4)
            function.append(kZero);
        const int kind = parseHexByte(function.at(0));
        if (kind == 0x01) // a mouse button: its bit is the third byte of the row
            return {hexByte(0x01), hexByte(0x01), function.at(2), kZero};
        if (kind == 0x03) // a consumer key: usage low and high byte
            return {hexByte(0x03), function.at(1), function.at(2), kZero};
        if (kind == 0x07)
            return {hexByte(0x07), function.at(1), function.at(2), function.at(3)};
    }
    if (usage < 0 && modifiers == 0)
        return zeros(4);
    return {hexByte(0x02), hexByte(modifiers), hexByte(std::max(usage, 0)), kZero};
}

QStringList repeatKeyEntry(const CodeLookup &lookup, const QString &task) {
    const QString buttonPart =
        task.contains(QLatin1Char(':')) ? task.section(QLatin1Char(':'), 1) : task;
    const QStringList items = buttonPart.split(QLatin1Char('|'));
    const QString button = items.value(0);
    const int rate = std::clamp(decimalValue(items.value(1)), 0, 255);
    static const struct {
        const char *word;
        int bit;
    } buttons[] = {{"", 0x01},
                   {gkey::MouseLeft, 0x01},
                   {gkey::MouseRight, 0x02},
                   {gkey::MouseMiddle, 0x04},
                   {gkey::MouseForward, 0x10},
                   {gkey::MouseBack, 0x08}};
    for (const auto &b : buttons) {
        if (button == QLatin1String(b.word))
            return {hexByte(0x07), hexByte(rate), hexByte(b.bit), kZero};
    }
    // A keyboard key repeats with its usage in the button place; the last byte tells the
    // device that the middle byte is a usage, not a button mask (usage 0x04 is also a bit).
    const int usage = keyUsage(lookup, button);
    if (usage < 0)
        return zeros(4);
    return {hexByte(0x07), hexByte(rate), hexByte(usage), hexByte(0x01)};
}

QStringList macroEntry(const QString &task, const QString &count, const QString &delay) {
    // The task names the macro's place in the macro table ("3", or "3:..." when the page keeps
    // the macro's text behind it).
    const int number = std::clamp(decimalValue(task.section(QLatin1Char(':'), 0, 0)), 0, 255);
    return {hexByte(0x06), hexByte(number), hexByte(std::clamp(decimalValue(count), 0, 255)),
            hexByte(std::clamp(decimalValue(delay), 0, 255))};
}

} // namespace

QStringList encodeKeyEntry(const CodeLookup &lookup, const QString &type, const QString &task,
                           const QString &count, const QString &delay) {
    const QString t = type.trimmed().toUpper();
    if (t == QLatin1String("MOUSE") || t == QLatin1String("MEDIA")) {
        QStringList bytes = functionBytes(lookup, task);
        if (bytes.isEmpty())
            return zeros(4);
        while (bytes.size() < 4)
            bytes.append(kZero);
        return bytes.mid(0, 4);
    }
    if (t == QLatin1String("HOTKEY") || t == QLatin1String("KEYBOARD"))
        return combinationEntry(lookup, task);
    if (t == QLatin1String("GKEY"))
        return repeatKeyEntry(lookup, task);
    if (t == QLatin1String("MACRO"))
        return macroEntry(task, count, delay);
    return zeros(4);
}

QStringList keyTable(const QVector<QPair<int, QStringList>> &entries) {
    QStringList table = zeros(kKeyTableKeys * 4);
    for (const auto &e : entries) {
        if (e.first < 0 || e.first >= kKeyTableKeys)
            continue;
        for (int i = 0; i < 4; ++i)
            table[e.first * 4 + i] = e.second.value(i, kZero);
    }
    table[638] = QStringLiteral("0xaa");
    table[639] = QStringLiteral("0x55");
    return table;
}

QStringList keyColourTable(const QVector<QPair<int, QString>> &entries) {
    QStringList table;
    table.reserve(kKeyColourKeys * 4);
    for (int k = 0; k < kKeyColourKeys; ++k)
        table << QStringLiteral("0x80") << kZero << kZero << kZero;
    for (const auto &e : entries) {
        if (e.first < 0 || e.first >= kKeyColourKeys)
            continue;
        int r, g, b;
        splitColour(e.second, r, g, b);
        table[e.first * 4 + 1] = hexByte(r);
        table[e.first * 4 + 2] = hexByte(g);
        table[e.first * 4 + 3] = hexByte(b);
    }
    return table;
}

QStringList effectRecord(int effect, int flag, int red, int green, int blue, int direction,
                         int brightness, int speed) {
    return {hexByte(effect),
            hexByte(flag),
            hexByte(red),
            hexByte(green),
            hexByte(blue),
            hexByte(direction),
            hexByte(brightness),
            hexByte(speed),
            QStringLiteral("0x01"),
            QStringLiteral("0x10"),
            QStringLiteral("0x0c"),
            kZero,
            kZero,
            kZero,
            QStringLiteral("0xaa"),
            QStringLiteral("0x55")};
}

QStringList effectTable(int mode, const QString &rgb, int direction, int brightness, int speed) {
    int r, g, b;
    splitColour(rgb, r, g, b);
    QStringList items;
    items.reserve(6 * 64);
    for (int n = 1; n <= kEffectRecords; ++n)
        items += effectRecord(n, 1, r, g, b, direction, brightness, speed);
    items += effectRecord(mode, 0, r, g, b, direction, brightness, speed);
    padToPackets(items);
    return items;
}

int batteryFromReply(const QString &reply) {
    const QStringList items = reply.split(QLatin1Char(','));
    if (items.size() < 5)
        return -1;
    return parseHexByte(items.at(4));
}

} // namespace hfd

namespace {

// The model templates come with the translators: whoever links these can serve GetLocalConf.
const bool modelTemplatesRegistered = (initModelTemplates(), true);

QString attr(const pugi::xml_node &node, const char *name) {
    return QString::fromUtf8(node.attribute(name).value());
}

int keyValue(const pugi::xml_node &mode, const char *name) {
    const std::string path = std::string("key[@name='") + name + "']";
    return decimalValue(attr(mode.select_node(path.c_str()).node(), "value"));
}

// False (and the reason told) when the transfer did not reach the device.
bool checked(TranslationContext &ctx, const QString &what, const QString &identity,
             const PacketTransferResult &r) {
    if (!r.ok && ctx.failed)
        ctx.failed(transferFailure(what, identity, r));
    return r.ok;
}

bool sendLighting(TranslationContext &ctx, const QString &identity, const pugi::xml_node &mode) {
    if (attr(mode, "name") == QLatin1String("LightUp")) {
        QVector<QPair<int, QString>> colours;
        for (pugi::xml_node key : mode.children("key")) {
            int rc;
            if (keyNumber(attr(key, "rc"), rc))
                colours.append({rc, attr(key, "rgb")});
        }
        return checked(ctx, QStringLiteral("key colour"), identity,
                       runPacketTransfer(ctx.ops, ctx.pacer, identity, keyColourTransfer(),
                                         hfd::keyColourTable(colours)));
    }
    const pugi::xml_node colour = mode.select_node("key[@name='LightRGB']").node();
    const QString rgb = colour.attribute("value") ? attr(colour, "value") : attr(colour, "rgb");
    return checked(ctx, QStringLiteral("lighting effect"), identity,
                   runPacketTransfer(ctx.ops, ctx.pacer, identity, lightingEffectTransfer(),
                                     hfd::effectTable(keyValue(mode, "LightMode"), rgb,
                                                      keyValue(mode, "LightDirection"),
                                                      keyValue(mode, "LightBrightness"),
                                                      keyValue(mode, "LightSpeed"))));
}

bool sendKeyTable(TranslationContext &ctx, const QString &identity, const pugi::xml_node &root,
                  int profile) {
    const CodeLookup lookup = templateLookup(ctx.templates, QStringLiteral("D4.0"));
    QVector<QPair<int, QStringList>> entries;
    for (pugi::xml_node child : root.children()) {
        int rc;
        if (!keyNumber(attr(child, "rc"), rc))
            continue;
        // A key being deleted goes back to its default: an empty entry.
        if (attr(child, "action") == QLatin1String("delete"))
            continue;
        entries.append({rc, hfd::encodeKeyEntry(lookup, attr(child, "type"), attr(child, "task"),
                                                attr(child, "count"), attr(child, "delay"))});
    }
    return checked(ctx, QStringLiteral("key table"), identity,
                   runPacketTransfer(ctx.ops, ctx.pacer, identity, keyTableTransfer(profile),
                                     hfd::keyTable(entries)));
}

QString withoutActions(QString text) {
    text.remove(QStringLiteral("action=\"set\""));
    text.remove(QStringLiteral("action=\"reset\""));
    text.remove(QStringLiteral("action=\"delete\""));
    return text;
}

} // namespace

void translateHfdKeyboard(TranslationContext &ctx, const QString &document) {
    pugi::xml_document doc;
    const QByteArray utf8 = document.toUtf8();
    if (!doc.load_buffer(utf8.constData(), size_t(utf8.size())))
        return;
    const pugi::xml_node root = doc.child("configuration");
    const QString identity =
        attr(doc.select_node("/configuration/key[@name='UsbId']").node(), "value").toLower();
    const int profile = decimalValue(
        attr(doc.select_node("/configuration/key[@name='CurProfile']").node(), "value"));
    const bool reset = bool(doc.select_node("/configuration[@action='reset']"));

    // A transfer that did not reach the device ends the document: nothing further is sent
    // and the page gets no "saved" answer.
    auto giveUp = [&ctx] {
        if (ctx.callbackResult)
            ctx.callbackResult(false);
    };

    // Lighting: a reset restores the effect of mode 0 (missing keys read as 0).
    if (reset) {
        if (!sendLighting(ctx, identity,
                          doc.select_node("/configuration/light/mode[@index=0]").node()))
            return giveUp();
    } else if (pugi::xml_node mode =
                   doc.select_node("/configuration/light/mode[@action='set']").node()) {
        if (!sendLighting(ctx, identity, mode))
            return giveUp();
    }

    // The Power key is a query, not an assignment: it must not rebuild (and so clear) the key
    // table, which a plain "key with action set" test would do.
    pugi::xml_node power =
        doc.select_node("/configuration/key[@name='Power' and @action='set']").node();
    const bool keyChange =
        reset || doc.select_node("/configuration/key[@action='set' and not(@name='Power')]") ||
        doc.select_node("/configuration/key[@action='delete']");
    if (keyChange && !sendKeyTable(ctx, identity, root, profile))
        return giveUp();

    QString answer = document;
    if (power) {
        const PacketTransferResult r =
            runPacketTransfer(ctx.ops, ctx.pacer, identity, powerQueryTransfer(), {});
        if (!checked(ctx, QStringLiteral("power query"), identity, r))
            return giveUp();
        const int battery = hfd::batteryFromReply(r.handshakeReply);
        if (battery >= 0) {
            // The page learns the level from the answered document.
            power.attribute("value")
                ? power.attribute("value").set_value(std::to_string(battery).c_str())
                : power.append_attribute("value").set_value(std::to_string(battery).c_str());
            std::ostringstream out;
            doc.save(out, "\t", pugi::format_default | pugi::format_no_declaration);
            answer = QString::fromStdString(out.str());
        }
    }

    ctx.events.sendEvent(QString::fromLatin1(events::OnNotifySaveXml),
                         QVariantList{withoutActions(answer)});
    if (ctx.callbackResult)
        ctx.callbackResult(false);
}

} // namespace torvanix
