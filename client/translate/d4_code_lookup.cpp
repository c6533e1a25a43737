#include "d4_code_lookup.h"

#include "driver_templates.h"

namespace torvanix {

CodeLookup templateLookup(const DriverTemplates &templates, const QString &generation) {
    // The table stays alive (and unchanged) as long as `templates` does.
    const DriverTemplate *table = &templates.generation(generation);
    return {[table](const QString &task) { return table->code(task); },
            [table](const QString &task) { return table->vkCode(task); }};
}

QString modifierTask(const QString &word) {
    const QString t = word.trimmed();
    static const char *const words[] = {"ctrl", "alt", "shift", "win"};
    for (const char *w : words) {
        if (t.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
            return QStringLiteral("L") + t.toUpper();
    }
    return word;
}

static int singleByteCode(const QString &code) {
    if (code.isEmpty() || code.contains(QLatin1Char(',')))
        return -1;
    return parseHexByte(code);
}

int keyUsage(const CodeLookup &lookup, const QString &name) {
    const QString n = name.trimmed();
    if (n.isEmpty() || !lookup.code)
        return -1;
    // Modifier words first: the tables also carry "Ctrl" ... as modifier-bit rows ("1"),
    // which are not key usages.
    const QString modifier = modifierTask(n);
    QStringList candidates;
    if (modifier != n)
        candidates << modifier;
    candidates << n << n.toUpper();
    for (const QString &candidate : candidates) {
        const int v = singleByteCode(lookup.code(candidate));
        if (v >= 0)
            return v;
    }
    return -1;
}

QStringList functionBytes(const CodeLookup &lookup, const QString &task) {
    QString code = lookup.code ? lookup.code(task) : QString();
    if (!code.contains(QLatin1Char(',')) && lookup.vkCode) {
        const QString vk = lookup.vkCode(task);
        if (vk.contains(QLatin1Char(',')))
            code = vk;
    }
    if (code.isEmpty())
        return {};
    QStringList out;
    for (const QString &item : code.split(QLatin1Char(',')))
        out.append(hexByte(std::max(0, parseHexByte(item))));
    return out;
}

QString hexByte(int value) {
    return QStringLiteral("0x%1").arg(value & 0xFF, 2, 16, QLatin1Char('0'));
}

int parseHexByte(const QString &text) {
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        t = t.mid(2);
    int value = 0;
    int digits = 0;
    for (QChar c : t) {
        const int d = c.isDigit() ? c.unicode() - '0'
                      : (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
                          ? c.toLower().unicode() - 'a' + 10
                          : -1;
        if (d < 0)
            break;
        value = ((value << 4) | d) & 0xFFFF;
        ++digits;
    }
    return digits ? (value & 0xFF) : -1;
}

int decimalValue(const QString &text) {
    bool ok = false;
    const QString t = text.trimmed();
    const int i = t.toInt(&ok);
    if (ok)
        return i;
    const double d = t.toDouble(&ok);
    if (ok && d > -2147483648.0 && d < 2147483648.0)
        return int(d);
    return 0;
}

bool keyNumber(const QString &text, int &number) {
    bool ok = false;
    number = text.trimmed().toInt(&ok);
    return ok && number >= 0;
}

void splitColour(const QString &rgb, int &red, int &green, int &blue) {
    const QString t = rgb.trimmed();
    auto part = [&t](int at) {
        const int v = parseHexByte(t.mid(at, 2));
        return v < 0 ? 0 : v;
    };
    red = part(0);
    green = part(2);
    blue = part(4);
}

} // namespace torvanix
