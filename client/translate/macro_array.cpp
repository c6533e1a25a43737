#include "macro_array.h"

#include "packet_transfer.h"
#include "translation_context.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace torvanix {

namespace {

const QString kZero = QStringLiteral("0x00");

// Appends the four items of one step; returns false for a step the device cannot store.
bool appendStep(const CodeLookup &lookup, const QString &kind, const QString &argument,
                QStringList &body) {
    const bool down = kind == QString::fromUtf8(macro_words::KeyDown);
    if (down || kind == QString::fromUtf8(macro_words::KeyUp)) {
        const int usage = keyUsage(lookup, modifierTask(argument));
        body << kZero << kZero << hexByte(std::max(usage, 0))
             << (down ? QStringLiteral("0xb0") : QStringLiteral("0x30"));
        return true;
    }
    if (kind == QString::fromUtf8(macro_words::Delay)) {
        const int ms = std::clamp(decimalValue(argument), 0, 0xFFFF);
        body << hexByte(ms & 0xFF) << hexByte(ms >> 8) << kZero << QStringLiteral("0x50");
        return true;
    }
    return false;
}

QStringList macroBody(const CodeLookup &lookup, const QString &text) {
    QStringList steps;
    int count = 0;
    const QString list = text.section(QLatin1Char(':'), 0, 0);
    for (const QString &piece : list.split(QLatin1Char(')'))) {
        if (piece.trimmed().isEmpty())
            continue;
        const int open = piece.indexOf(QLatin1Char('('));
        const QString kind = (open < 0 ? piece : piece.left(open)).trimmed();
        const QString argument = open < 0 ? QString() : piece.mid(open + 1).trimmed();
        if (appendStep(lookup, kind, argument, steps))
            ++count;
    }
    QStringList body{
        hexByte(count & 0xFF), hexByte(count >> 8), kZero, kZero, kZero, kZero, kZero, kZero};
    return body + steps;
}

} // namespace

namespace {

bool isJsonSpace(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

// The end (one past) of the JSON value starting at `from`, found by bracket depth outside
// strings; -1 when the text ends first. The value itself is checked by the parser later.
int valueEnd(const QString &text, int from) {
    int depth = 0;
    bool inString = false;
    for (int i = from; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inString) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"'))
                inString = false;
            continue;
        }
        if (c == QLatin1Char('"')) {
            inString = true;
        } else if (c == QLatin1Char('[') || c == QLatin1Char('{')) {
            ++depth;
        } else if (c == QLatin1Char(']') || c == QLatin1Char('}')) {
            if (depth == 0)
                return i; // the end of the enclosing array
            if (--depth == 0)
                return i + 1;
        } else if (depth == 0 && c == QLatin1Char(',')) {
            return i;
        }
    }
    return depth == 0 && !inString ? int(text.size()) : -1;
}

} // namespace

QStringList macroTexts(const QString &macroArr, int limit) {
    // The table holds `limit` macros; a list of a million entries is read only as far as
    // that, never parsed whole.
    QStringList out;
    int i = 0;
    const int n = int(macroArr.size());
    auto skipSpace = [&] {
        while (i < n && isJsonSpace(macroArr.at(i)))
            ++i;
    };
    skipSpace();
    if (i >= n || macroArr.at(i) != QLatin1Char('['))
        return {};
    ++i;
    skipSpace();
    if (i < n && macroArr.at(i) == QLatin1Char(']')) {
        ++i;
        skipSpace();
        return QStringList();
    }
    while (true) {
        if (out.size() == limit)
            return out;
        skipSpace();
        const int end = valueEnd(macroArr, i);
        if (end < 0 || end == i)
            return {};
        // One element at a time through the parser, wrapped so that strings parse too.
        const QString element = QLatin1Char('[') + macroArr.mid(i, end - i) + QLatin1Char(']');
        const QJsonDocument json = QJsonDocument::fromJson(element.toUtf8());
        if (!json.isArray() || json.array().size() != 1)
            return {};
        const QJsonValue v = json.array().at(0);
        out.append(v.isObject() ? v.toObject().value(QLatin1String("content")).toString()
                                : v.toString());
        i = end;
        skipSpace();
        if (i >= n)
            return {};
        if (macroArr.at(i) == QLatin1Char(']')) {
            ++i;
            skipSpace();
            return i == n ? out : QStringList();
        }
        if (macroArr.at(i) != QLatin1Char(','))
            return {};
        ++i;
    }
}

QStringList macroTableImage(const CodeLookup &lookup, const QStringList &texts) {
    QStringList image;
    QStringList bodies;
    int offset = kMacroTableOffsetItems;
    for (const QString &text : texts.mid(0, kMacroTableMaxMacros)) {
        const QStringList body = macroBody(lookup, text);
        if (offset + body.size() > 0xFFFF)
            break; // an offset must fit its 16-bit entry
        image << hexByte(offset & 0xFF) << hexByte(offset >> 8) << kZero << kZero;
        bodies += body;
        offset += int(body.size());
    }
    // An empty list still tells the device where the (empty) macro area starts.
    if (image.isEmpty())
        image << hexByte(kMacroTableOffsetItems & 0xFF) << hexByte(kMacroTableOffsetItems >> 8)
              << kZero << kZero;
    padToPackets(image, kMacroTableOffsetItems);
    image.erase(image.begin() + kMacroTableOffsetItems, image.end());
    image += bodies;
    padToPackets(image);
    image[62] = QStringLiteral("0xaa");
    image[63] = QStringLiteral("0x55");
    return image;
}

bool writeMacroArray(TranslationContext &ctx, const QString &ver, const QString &macroArr) {
    const QString identity = ver.toLower();
    const CodeLookup lookup = templateLookup(ctx.templates, QStringLiteral("D4.0"));
    const QStringList image = macroTableImage(lookup, macroTexts(macroArr));
    const PacketTransferResult r = runPacketTransfer(ctx.ops, ctx.pacer, identity,
                                                     macroTableTransfer(int(image.size())), image);
    if (!r.ok && ctx.failed)
        ctx.failed(transferFailure(QStringLiteral("macro table"), identity, r));
    return r.ok;
}

} // namespace torvanix
