#include "command_string.h"

#include "device/command_bytes.h"

namespace torvanix::cmd {

QString fill(const QString &pattern, const QStringList &values) {
    QString out;
    out.reserve(pattern.size() + 16 * values.size());
    const int n = pattern.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('%') && i + 1 < n) {
            const QChar d = pattern.at(i + 1);
            if (d >= QLatin1Char('1') && d <= QLatin1Char('9')) {
                const int index = d.unicode() - '1';
                if (index < values.size()) {
                    out += values.at(index);
                    ++i;
                    continue;
                }
            }
        }
        out += c;
    }
    return out;
}

int itemCount(const QString &commandString) {
    if (commandString.isEmpty())
        return 0;
    return commandString.count(QLatin1Char(',')) + 1;
}

QString padWithZeros(const QString &commandString, int items) {
    int have = itemCount(commandString);
    if (have >= items)
        return commandString;
    QString out = commandString;
    out.reserve(out.size() + 5 * (items - have));
    if (have == 0) {
        out = QStringLiteral("0x00");
        have = 1;
    }
    for (; have < items; ++have)
        out += QLatin1String(",0x00");
    return out;
}

QString zeros(int count) {
    return count > 0 ? padWithZeros(QString(), count) : QString();
}

QString hex(int value) {
    return QString::number(value, 16);
}

int toInt(const QString &decimal) {
    bool ok = false;
    const int v = decimal.trimmed().toInt(&ok);
    return ok ? v : 0;
}

QString decimalToHex(const QString &decimal) {
    return hex(toInt(decimal));
}

long long itemValue(const QString &item) {
    return static_cast<long long>(commandItemValue(item));
}

QList<int> bytes(const QString &commandString) {
    QList<int> out;
    if (commandString.isEmpty())
        return out;
    const QStringList items = commandString.split(QLatin1Char(','));
    out.reserve(items.size());
    for (const QString &item : items)
        out << static_cast<int>(itemValue(item) & 0xFF);
    return out;
}

QStringList colourItems(const QString &rgb) {
    return {rgb.mid(0, 2), rgb.mid(2, 2), rgb.mid(4, 2)};
}

} // namespace torvanix::cmd
