#include "d2_settings.h"

#include "command_string.h"
#include "driver_templates.h"
#include "translate_xml.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <cmath>

namespace torvanix::d2 {

namespace {
double numberOf(const QJsonValue &v) {
    if (v.isDouble())
        return v.toDouble();
    if (v.isString()) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

// x cut after two decimals, the way the decimal text the page sends reads: 1.999 gives 199,
// while 2.3 (229.999... as x * 100 in binary) stays 230. Working on the shortest text that
// reads back as x keeps binary rounding from cutting a hundredth off. x is finite and far
// below 1e12 here (the caller takes anything else as 0), so the text has no exponent.
long long hundredthsOf(double x) {
    QString text = QString::number(x, 'f', QLocale::FloatingPointShortest);
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        text.remove(0, 1);
    const int dot = text.indexOf(QLatin1Char('.'));
    const QString whole = dot < 0 ? text : text.left(dot);
    const QString fraction = (dot < 0 ? QString() : text.mid(dot + 1)) + QStringLiteral("00");
    const long long h = whole.toLongLong() * 100 + fraction.left(2).toInt();
    return negative ? -h : h;
}
} // namespace

QString globalPerformanceBytes(const QString &json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return QString();
    const QJsonArray array = doc.array();
    QStringList items;
    for (int i = 0; i < array.size(); ++i) {
        double x = numberOf(array.at(i));
        if (i == 1)
            x /= 1000.0;
        if (!std::isfinite(x) || std::fabs(x) >= 1e12)
            x = 0.0;
        if (x == 0.0) {
            items << QStringLiteral("0x00") << QStringLiteral("0x00");
            continue;
        }
        const long long hundredths = hundredthsOf(x);
        items << cmd::hex(static_cast<int>(hundredths % 100))
              << cmd::hex(static_cast<int>(hundredths / 100));
    }
    return items.join(QLatin1Char(','));
}

int reportRateCode(const QString &rate) {
    switch (cmd::toInt(rate)) {
    case 125:
        return 0;
    case 250:
        return 1;
    case 500:
        return 2;
    case 1000:
        return 3;
    case 2000:
        return 4;
    default:
        return 5;
    }
}

int reportRateFromCode(int code) {
    switch (code) {
    case 0:
        return 125;
    case 1:
        return 250;
    case 2:
        return 500;
    case 3:
        return 1000;
    default:
        return code;
    }
}

QString byteOf(const QString &decimal) {
    const int v = cmd::toInt(decimal);
    return cmd::hex(((v % 256) + 256) % 256);
}

QString perKeyColourTable(const DriverTemplate &tmpl, const pugi::xml_node &mode) {
    QStringList items;
    for (pugi::xml_node key = mode.child("key"); key; key = key.next_sibling("key")) {
        const QStringList rgb = cmd::colourItems(xml::attr(key, "rgb"));
        items << lookupTaskCode(tmpl, xml::attr(key, "name")) << rgb;
    }
    return items.join(QLatin1Char(','));
}

QString effectKeyBytes(const QString &name, const QString &value, bool directionAllowed) {
    if (name == QLatin1String("LightRGB"))
        return cmd::colourItems(value).join(QLatin1Char(','));
    if (name == QLatin1String("LightSpeed") || name == QLatin1String("LightBrightness"))
        return value;
    if (name == QLatin1String("LightMode") ||
        (directionAllowed && name == QLatin1String("LightDirection")))
        return cmd::decimalToHex(value);
    return QString();
}

QString screenSlotRecord(const QString &md5Hex, int slot, int length) {
    QStringList items;
    for (int i = 0; i < 16; ++i)
        items << md5Hex.mid(2 * i, 2);
    items << cmd::hex(slot & 0xFF);
    return cmd::padWithZeros(items.join(QLatin1Char(',')), length);
}

} // namespace torvanix::d2
