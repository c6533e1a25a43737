#include "input_mapping.h"

#include <linux/input.h>

namespace torvanix::input {

QString hotKeyName(int keyCode) {
    switch (keyCode) {
    case KEY_F1:
        return QStringLiteral("F1");
    case KEY_F2:
        return QStringLiteral("F2");
    case KEY_F3:
        return QStringLiteral("F3");
    case KEY_F4:
        return QStringLiteral("F4");
    case KEY_F11:
        return QStringLiteral("F11");
    case KEY_F12:
    case KEY_CAPSLOCK:
        return QStringLiteral("F12");
    default:
        return QString();
    }
}

namespace {

struct ButtonEntry {
    int code;
    uint8_t value;
    uint8_t blockCode;
};

// The screen keyboard's numbering: the fourth button is 10, where a bit pattern would give 16.
constexpr ButtonEntry kButtons[] = {
    {BTN_LEFT, 1, 0x74},  {BTN_RIGHT, 2, 0x75}, {BTN_MIDDLE, 4, 0x76},
    {BTN_SIDE, 10, 0x77}, {BTN_EXTRA, 8, 0x78},
};

const ButtonEntry *findButton(int code) {
    for (const ButtonEntry &entry : kButtons)
        if (entry.code == code)
            return &entry;
    return nullptr;
}

} // namespace

bool isForwardedButton(int buttonCode) {
    return findButton(buttonCode) != nullptr;
}

std::optional<ButtonBlock> buttonBlock(int buttonCode, int value, ButtonBlockState &state) {
    const ButtonEntry *entry = findButton(buttonCode);
    if (!entry)
        return std::nullopt;
    if (value == 1) {
        state.lastValue = entry->value;
        state.lastCode = entry->blockCode;
        return ButtonBlock{0x01, 0x00, entry->value, entry->blockCode};
    }
    if (value == 0)
        return ButtonBlock{0x01, 0x01, state.lastValue, state.lastCode};
    return std::nullopt;
}

QString deviceIdText(int bus, int vendor, int product, const QString &name) {
    QString busName;
    switch (bus) {
    case BUS_USB:
        busName = QStringLiteral("USB");
        break;
    case BUS_BLUETOOTH:
        busName = QStringLiteral("BTH");
        break;
    case BUS_I8042:
        busName = QStringLiteral("I8042");
        break;
    case BUS_VIRTUAL:
        busName = QStringLiteral("VIRTUAL");
        break;
    default:
        busName = QStringLiteral("BUS_%1").arg(bus & 0xFFFF, 2, 16, QLatin1Char('0')).toUpper();
        break;
    }
    auto hex4 = [](int v) {
        return QStringLiteral("%1").arg(v & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper();
    };
    return busName + QStringLiteral("\\VID_") + hex4(vendor) + QStringLiteral("&PID_") +
           hex4(product) + QLatin1Char('\\') + name;
}

bool isSystemOwnDevice(const QString &idText) {
    return idText.contains(QLatin1String("kestreluxvd"), Qt::CaseSensitive) ||
           idText.contains(QLatin1String("VID_258A&PID_0014"), Qt::CaseSensitive);
}

} // namespace torvanix::input
