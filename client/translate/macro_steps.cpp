#include "macro_steps.h"

#include "command_string.h"
#include "driver_templates.h"
#include "key_encoding.h"

namespace torvanix {

namespace {

// Low byte and high byte of a step value: value % 256 and value / 256, both truncated towards
// zero, in hexadecimal.
QString lowByte(long long v) {
    return QString::number(v % 256, 16);
}
QString highByte(long long v) {
    return QString::number(v / 256, 16);
}

// Whole milliseconds of a delay text ("12.7" -> 12).
long long wholeNumber(const QString &text) {
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    if (!ok)
        return 0;
    return static_cast<long long>(d);
}

// A coordinate as a 16-bit two's complement value.
int word16(long long v) {
    return static_cast<int>(v & 0xFFFF);
}

void appendMove(QString &out, long long x, long long y) {
    if (x != 0) {
        const int w = word16(x);
        out += QStringLiteral("0x85,%1,%2,")
                   .arg(QString::number(w & 0xFF, 16), QString::number(w >> 8, 16));
    }
    if (y != 0) {
        const int w = word16(-y);
        out += QStringLiteral("0x05,%1,%2,")
                   .arg(QString::number(w & 0xFF, 16), QString::number(w >> 8, 16));
    }
}

void coordinates(const QString &value, long long &x, long long &y) {
    const QStringList parts = value.split(QLatin1Char(','));
    x = wholeNumber(parts.value(0));
    y = wholeNumber(parts.value(1));
}

// Steps written so far: every item is followed by a comma.
int items(const QString &out) {
    return out.count(QLatin1Char(','));
}

} // namespace

QString encodeMacroSteps(const QString &identity, const MacroSteps &steps) {
    Q_UNUSED(identity);
    QString out;
    out.reserve(steps.size() * 14);
    long long rememberedDelay = 0;
    int previousReplays = -1;
    for (int i = 0; i < steps.size(); ++i) {
        if (items(out) > MacroItemLimit)
            break;
        const QString &kind = steps.at(i).first;
        const QString &value = steps.at(i).second;
        if (kind == QLatin1String("mDown")) {
            out += QStringLiteral("0x81,%1,0x00,").arg(value);
        } else if (kind == QLatin1String("mUp")) {
            out += QStringLiteral("0x01,%1,0x00,").arg(value);
        } else if (kind == QLatin1String("keyDown")) {
            out += QStringLiteral("0x84,%1,0x00,").arg(value);
        } else if (kind == QLatin1String("keyUp")) {
            out += QStringLiteral("0x04,%1,0x00,").arg(value);
        } else if (kind == QLatin1String("WheelDown")) {
            out += QStringLiteral("0x83,0x01,0x00,");
        } else if (kind == QLatin1String("WheelUp")) {
            out += QStringLiteral("0x03,0x01,0x00,");
        } else if (kind == QLatin1String("AbsoluteXY")) {
            long long x, y;
            coordinates(value, x, y);
            out += QStringLiteral("0x82,%1,%2,").arg(lowByte(x), highByte(x));
            out += QStringLiteral("0x02,%1,%2,").arg(lowByte(y), highByte(y));
        } else if (kind == QLatin1String("RelativeXY") || kind == QLatin1String("SpearXY") ||
                   kind == QLatin1String("SpearLB")) {
            long long x, y;
            coordinates(value, x, y);
            appendMove(out, x, y);
        } else if (kind == QLatin1String("delay")) {
            const long long d = wholeNumber(value);
            out += QStringLiteral("0x06,%1,%2,").arg(lowByte(d), highByte(d));
        } else if (kind == QLatin1String("Replays")) {
            const QStringList parts = value.split(QLatin1Char('|'));
            const long long count = wholeNumber(parts.value(0));
            rememberedDelay = wholeNumber(parts.value(1));
            const int back = previousReplays < 0 ? 0 : previousReplays + 2;
            out += QStringLiteral("0x0A,%1,%2,")
                       .arg(QString::number(back, 16), QString::number(count, 16));
            previousReplays = i;
        } else if (kind == QLatin1String("MacrosDelay")) {
            out += QStringLiteral("0x06,%1,%2,")
                       .arg(lowByte(rememberedDelay), highByte(rememberedDelay));
        }
    }
    return out;
}

MacroSteps parseMacroText(const DriverTemplate &tmpl, const QString &macroText) {
    MacroSteps steps;
    const int colon = macroText.indexOf(QLatin1Char(':'));
    const QString body = colon < 0 ? macroText : macroText.left(colon);
    const QStringList parts = body.split(QLatin1Char(')'));
    for (const QString &part : parts) {
        const int open = part.indexOf(QLatin1Char('('));
        const QString word = (open < 0 ? part : part.left(open)).trimmed();
        QString argument = open < 0 ? QString() : part.mid(open + 1).trimmed();
        if (isModifierWord(argument))
            argument = hotKeyPartTask(argument);

        QString kind;
        QString value;
        if (word == QStringLiteral("键盘按下"))
            kind = QStringLiteral("keyDown");
        else if (word == QStringLiteral("键盘弹起"))
            kind = QStringLiteral("keyUp");
        else if (word == QStringLiteral("延迟"))
            kind = QStringLiteral("delay");
        else if (word == QStringLiteral("鼠标按下"))
            kind = QStringLiteral("mDown");
        else if (word == QStringLiteral("鼠标弹起"))
            kind = QStringLiteral("mUp");
        else if (word == QStringLiteral("相对定位XY"))
            kind = QStringLiteral("RelativeXY");

        if (kind == QLatin1String("delay") || kind == QLatin1String("RelativeXY"))
            value = argument;
        else if (!kind.isEmpty())
            value = lookupTaskCode(tmpl, argument);
        if (kind.isEmpty() || value.isEmpty())
            continue;
        steps.append(MacroStep(kind, value));
    }
    return steps;
}

QStringList macroPlaybackFields(const QString &macroText) {
    const int colon = macroText.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return {};
    return macroText.mid(colon + 1).split(QLatin1Char('|'));
}

} // namespace torvanix
