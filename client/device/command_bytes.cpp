#include "command_bytes.h"

#include <cstring>

namespace torvanix {

namespace {
int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}
} // namespace

uint32_t commandItemValue(const QString &item) {
    int i = 0;
    const int n = item.size();
    while (i < n && item.at(i).isSpace())
        ++i;
    if (i + 1 < n && item.at(i) == QLatin1Char('0') &&
        (item.at(i + 1) == QLatin1Char('x') || item.at(i + 1) == QLatin1Char('X')))
        i += 2;
    // Unsigned arithmetic wraps, so any number of digits is safe.
    uint32_t value = 0;
    for (; i < n; ++i) {
        const int d = hexDigit(item.at(i));
        if (d < 0)
            break;
        value = (value << 4) | uint32_t(d);
    }
    return value;
}

uint8_t commandItemToByte(const QString &item) {
    return uint8_t(commandItemValue(item) & 0xFFu);
}

QStringList commandItems(const QString &commandString) {
    return commandString.split(QLatin1Char(','), Qt::KeepEmptyParts);
}

int parseDecimal(const QString &text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

bool commandStringToBlock(const QString &commandString, int count, uint8_t *block) {
    std::memset(block, 0, kTransferBlockSize);
    if (count < 0 || count > kTransferBlockSize)
        return false;
    const QStringList items = commandItems(commandString);
    if (items.size() != count)
        return false;
    for (int i = 0; i < count; ++i)
        block[i] = commandItemToByte(items.at(i));
    return true;
}

bool commandItemsToBlock(const QString &commandString, uint8_t *block) {
    std::memset(block, 0, kTransferBlockSize);
    const QStringList items = commandItems(commandString);
    if (items.size() > kTransferBlockSize)
        return false;
    for (int i = 0; i < items.size(); ++i)
        block[i] = commandItemToByte(items.at(i));
    return true;
}

QString bytesToCommandString(const uint8_t *bytes, int count) {
    static const char digits[] = "0123456789abcdef";
    if (count <= 0 || !bytes)
        return QString();
    QString text;
    text.reserve(count * 5);
    for (int i = 0; i < count; ++i) {
        if (i)
            text += QLatin1Char(',');
        text += QLatin1String("0x");
        text += QLatin1Char(digits[bytes[i] >> 4]);
        text += QLatin1Char(digits[bytes[i] & 0xF]);
    }
    return text;
}

std::vector<uint16_t> toLibraryPath(const QString &path) {
    std::vector<uint16_t> units(size_t(path.size()) + 1, 0);
    for (int i = 0; i < path.size(); ++i)
        units[size_t(i)] = path.at(i).unicode();
    return units;
}

QString fromLibraryPath(const uint16_t *units, int maxUnits) {
    int n = 0;
    while (n < maxUnits && units[n] != 0)
        ++n;
    return QString(reinterpret_cast<const QChar *>(units), n);
}

} // namespace torvanix
