#include "key_encoding.h"

#include "command_string.h"
#include "driver_templates.h"
#include "macro_steps.h"
#include "translate_xml.h"

namespace torvanix {

namespace {

// A key on its own: the page writes the modifier words as "Ctrl", "Alt", "Shift", "Win" for the
// left-hand keys; a lone upper-case word such as "CTRL" is a key of its own with its own table
// row (the D2.0 row "CTRL" carries code 1), not the left-hand modifier.
QString lonePartTask(const QString &part) {
    if (part == QLatin1String("Ctrl") || part == QLatin1String("Alt") ||
        part == QLatin1String("Shift") || part == QLatin1String("Win"))
        return QLatin1Char('L') + part.toUpper();
    return part.toUpper();
}

QString hotKeyCode(const DriverTemplate &tmpl, const QString &task) {
    QStringList codes;
    const QStringList parts = splitCombination(task);
    for (const QString &part : parts)
        codes << lookupTaskCode(tmpl,
                                parts.size() == 1 ? lonePartTask(part) : hotKeyPartTask(part));
    if (codes.size() == 1) {
        codes << QStringLiteral("0x00");
    } else {
        int mask = 0;
        for (QString &c : codes) {
            int bit = 0;
            if (c == QLatin1String("E0"))
                bit = 1;
            else if (c == QLatin1String("E1"))
                bit = 2;
            else if (c == QLatin1String("E2"))
                bit = 4;
            else if (c == QLatin1String("E3"))
                bit = 8;
            if (bit) {
                c = QStringLiteral("0");
                mask += bit;
            }
        }
        codes[0] = cmd::hex(mask);
    }
    return cmd::fill(QStringLiteral("0x02,%1,%2,%3"),
                     {codes.first(), codes.last(), QStringLiteral("0")});
}

// "ET" is an empty slot; anything else a decimal number.
QString specialItem(const QString &item) {
    const QString t = item.trimmed();
    if (t == QLatin1String("ET"))
        return QStringLiteral("0x00");
    return cmd::decimalToHex(t);
}

// Items of "a-b|c-d|..." in order.
QStringList groupItems(const QString &task) {
    QStringList out;
    for (const QString &group : task.split(QLatin1Char('|')))
        for (const QString &item : group.split(QLatin1Char('-')))
            out << item;
    return out;
}

// Six items of a special function; missing ones become "0x00".
QString sixItems(const QString &task) {
    const QStringList items = groupItems(task);
    QStringList values;
    for (int i = 0; i < 6; ++i)
        values << (i < items.size() ? specialItem(items.at(i)) : QStringLiteral("0x00"));
    return cmd::fill(QStringLiteral("%1,%2,%3,%4,%5,%6"), values);
}

QString dksItems(const DriverTemplate &tmpl, const QString &task) {
    const QStringList groups = task.split(QLatin1Char('|'));
    QStringList values;
    values << specialItem(groups.value(0));
    const QStringList keys = groups.value(1).split(QLatin1Char('-'));
    for (int i = 0; i < 4; ++i) {
        const QString k = keys.value(i).trimmed();
        if (k.isEmpty() || k == QLatin1String("ET"))
            values << QStringLiteral("0x00");
        else
            values << lookupTaskCode(tmpl, hotKeyPartTask(k));
    }
    for (int i = 0; i < 4; ++i) {
        const QString f = groups.value(2 + i).trimmed();
        values << (f.isEmpty() || f == QLatin1String("ET") ? QStringLiteral("0x00")
                                                           : modifierMask(f));
    }
    return cmd::fill(QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9"), values);
}

QString dpiCode(const QString &task) {
    const QStringList parts = task.split(QLatin1Char('|'));
    const QString mode = parts.value(0);
    const int x = cmd::toInt(parts.value(1)) / 50;
    const int y = cmd::toInt(parts.value(2)) / 50;
    const QStringList sx = splitWord(x);
    const QStringList sy = splitWord(cmd::toInt(mode) == 1 ? x : y);
    return cmd::fill(QStringLiteral("%1,%2,%3,%4,%5,0x00,0x00,0x00"),
                     {mode, sx.at(0), sx.at(1), sy.at(0), sy.at(1)});
}

// The key usage of one combination part for the access-library keyboard: as written, then
// upper-cased (the D4.0 table spells most keys like "A", some like "Enter"), as a decimal
// number. The library reads this item in decimal, so the table's hexadecimal usage ("3D" for
// F4, "1D" for Z) has to be converted, or every usage with a letter digit or above 9 would
// reach the device as no key or as another key. Empty when no keyboard row carries the part.
QString d4KeyUsage(const DriverTemplate &tmpl, const QString &part) {
    for (const QString &task : {part, part.toUpper()}) {
        const QString code = lookupTaskCode(tmpl, task);
        if (code.isEmpty() || code.contains(QLatin1Char(',')))
            continue; // a function row is no key usage
        return QString::number(cmd::itemValue(code) & 0xFF);
    }
    return QString();
}

QString d4FunctionCode(const DriverTemplate &tmpl, const QString &task) {
    const QString vk = lookupTaskVkCode(tmpl, task);
    return vk.isEmpty() ? lookupTaskCode(tmpl, task) : vk;
}

QString d4HotKeyCode(const DriverTemplate &tmpl, const QString &task) {
    QString modifier;
    QString key;
    for (const QString &part : splitCombination(task)) {
        if (isModifierWord(part)) {
            if (modifier.isEmpty())
                modifier = lookupTaskVkCode(tmpl, part.left(1).toUpper() + part.mid(1).toLower());
        } else {
            key = d4KeyUsage(tmpl, part);
        }
    }
    if (modifier.isEmpty())
        modifier = QStringLiteral("0");
    return cmd::fill(QStringLiteral("0x02,%1,%2,0"), {modifier, key});
}

} // namespace

bool isModifierWord(const QString &part) {
    return part.compare(QLatin1String("Ctrl"), Qt::CaseInsensitive) == 0 ||
           part.compare(QLatin1String("Alt"), Qt::CaseInsensitive) == 0 ||
           part.compare(QLatin1String("Shift"), Qt::CaseInsensitive) == 0 ||
           part.compare(QLatin1String("Win"), Qt::CaseInsensitive) == 0;
}

QString hotKeyPartTask(const QString &part) {
    if (isModifierWord(part))
        return QLatin1Char('L') + part.toUpper();
    return part.toUpper();
}

QStringList splitCombination(const QString &task) {
    if (task == QLatin1String("+"))
        return {task};
    if (task.endsWith(QLatin1String("++"))) {
        const QString left = task.left(task.size() - 2);
        QStringList parts = left.isEmpty() ? QStringList() : left.split(QLatin1Char('+'));
        parts << QStringLiteral("+");
        return parts;
    }
    return task.split(QLatin1Char('+'));
}

QStringList splitWord(int n) {
    const QString text = cmd::hex(n);
    if (n > 255)
        return {text.right(2), text.left(text.size() - 2)};
    return {text, QStringLiteral("0x00")};
}

QString modifierMask(const QString &flags) {
    const QStringList items = flags.split(QLatin1Char(','));
    int mask = 0;
    for (int i = 0; i < items.size() && i < 8; ++i)
        if (cmd::toInt(items.at(i)) != 0)
            mask |= 1 << i;
    return cmd::hex(mask);
}

QString encodeKeyFunction(const DriverTemplate &tmpl, const QString &identity, const QString &type,
                          const QString &task) {
    const QString t = type.toUpper();
    if (t == QLatin1String("MOUSE") || t == QLatin1String("MACROFUN") ||
        t == QLatin1String("MEDIA"))
        return lookupTaskCode(tmpl, task);
    if (t == QLatin1String("HOTKEY") || t == QLatin1String("KEYBOARD"))
        return hotKeyCode(tmpl, task);
    if (t == QLatin1String("MACRO"))
        return encodeMacroSteps(identity, parseMacroText(tmpl, task));
    if (t == QLatin1String("DPI"))
        return dpiCode(task);
    if (t == QLatin1String("END"))
        return QStringLiteral("0x09,0x00,0x00,0x00,") + lookupTaskCode(tmpl, task);
    if (t == QLatin1String("MPT"))
        return QStringLiteral("0x08,0x00,0x00,0x00,") + sixItems(task);
    if (t == QLatin1String("TGL"))
        return QStringLiteral("0x07,0x00,0x00,0x00,") + sixItems(task);
    if (t == QLatin1String("MT"))
        return QStringLiteral("0x06,0x00,0x00,0x00,") + sixItems(task);
    if (t == QLatin1String("DKS"))
        return QStringLiteral("0x05,0x00,0x00,0x00,") + dksItems(tmpl, task);
    return QString();
}

QString encodeKeyFunctionD4(const DriverTemplate &tmpl, const QString &identity,
                            const QString &type, const QString &task) {
    const QString t = type.toUpper();
    if (t == QLatin1String("MOUSE") || t == QLatin1String("MACROFUN") ||
        t == QLatin1String("MEDIA"))
        return d4FunctionCode(tmpl, task);
    if (t == QLatin1String("HOTKEY") || t == QLatin1String("KEYBOARD"))
        return d4HotKeyCode(tmpl, task);
    return encodeKeyFunction(tmpl, identity, type, task);
}

// ---- D2.0 records ----------------------------------------------------------------------------

KeyAssignment KeyAssignment::fromNode(const pugi::xml_node &key) {
    KeyAssignment k;
    k.type = xml::attr(key, "type");
    k.task = xml::attr(key, "task");
    k.playtype = xml::attr(key, "playtype");
    k.playcount = xml::attr(key, "playcount");
    k.playdelay = xml::attr(key, "playdelay");
    k.burttonroute = xml::attr(key, "burttonroute");
    k.dynamicroutedown = xml::attr(key, "dynamicroutedown");
    k.dynamicrouteup = xml::attr(key, "dynamicrouteup");
    return k;
}

QString buildD2KeyRecord(const DriverTemplate &tmpl, const QString &identity,
                         const KeyAssignment &key) {
    QString playtype = key.playtype;
    QString playcount = key.playcount;
    QString playdelay = key.playdelay;
    QString code = encodeKeyFunction(tmpl, identity, key.type, key.task);
    if (key.type == QLatin1String("Macro")) {
        const QStringList fields = macroPlaybackFields(key.task);
        playtype = fields.value(0);
        playdelay = fields.value(1);
        playcount = fields.value(2);
        QString steps = code;
        if (steps.endsWith(QLatin1Char(',')))
            steps.chop(1);
        const int n = cmd::itemCount(steps);
        // A macro may carry up to 798 step bytes; the count's high byte goes into the header's
        // last byte instead of being cut off (it is 0x00 for counts up to 255).
        code = cmd::fill(QStringLiteral("0x04,%1,%2,%3"),
                         {QStringLiteral("b5"), cmd::hex(n & 0xFF),
                          n > 0xFF ? cmd::hex(n >> 8) : QStringLiteral("0x00")});
        if (n > 0)
            code += QLatin1Char(',') + steps;
    } else if (code.isEmpty()) {
        code = QStringLiteral("0,0,0,0");
    }

    const bool mouseFunction = code.startsWith(QLatin1String("0x01"));
    const int delay = cmd::toInt(playdelay);
    QStringList values;
    values << QString::number(cmd::toInt(playtype)) << cmd::decimalToHex(playcount);
    if (mouseFunction) {
        values << QStringLiteral("0") << QStringLiteral("0") << QStringLiteral("0")
               << QStringLiteral("0") << QStringLiteral("0") << QStringLiteral("0");
    } else {
        values << cmd::hex(delay & 0xFF) << cmd::hex((delay >> 8) & 0xFF) << QStringLiteral("0")
               << cmd::decimalToHex(key.burttonroute) << cmd::decimalToHex(key.dynamicroutedown)
               << cmd::decimalToHex(key.dynamicrouteup);
    }
    return cmd::fill(QStringLiteral("0x01,%1,%2,%3,%4,%5,%6,0x00,0x00,%7,%8"), values) +
           QLatin1Char(',') + code;
}

QString d2RouteConfRecord(const QString &burttonroute, const QString &dynamicroutedown,
                          const QString &dynamicrouteup) {
    return cmd::fill(QStringLiteral("0x02,0x00,0x00,0x00,0x00,%1,0x00,0x00,0x00,%2,%3,0x00,0x00,"
                                    "0x00,0x00"),
                     {cmd::decimalToHex(burttonroute), cmd::decimalToHex(dynamicroutedown),
                      cmd::decimalToHex(dynamicrouteup)});
}

QString d2RouteOverRecord() {
    return QStringLiteral(
        "0x02,0x01,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00");
}

QString buildD2MouseRecord(const QString &playtype, const QString &playcount, const QString &code) {
    QStringList values;
    if (code.startsWith(QLatin1String("0x01")))
        values << QStringLiteral("0") << QStringLiteral("0") << QStringLiteral("0")
               << QStringLiteral("0") << QStringLiteral("0x00");
    else
        values << playtype << cmd::decimalToHex(playcount) << QStringLiteral("0")
               << QStringLiteral("0") << QStringLiteral("0x00");
    return cmd::fill(QStringLiteral("0x01,%1,%2,%3,%4,%5,0x00,0x00,0x00,0x00,0x00"), values) +
           QLatin1Char(',') + code;
}

} // namespace torvanix
