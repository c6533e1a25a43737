#include "library_tables.h"

#include <QStringList>

namespace torvanix {

namespace {
QString item(const QStringList &items, int k) {
    return k < items.size() ? items.at(k) : QString();
}

int32_t hexValue(const QString &text) {
    bool ok = false;
    const uint v = text.trimmed().toUInt(&ok, 16);
    return ok ? int32_t(v) : 0;
}

int32_t decimalValue(const QString &text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return ok ? v : 0;
}

int keyboardModifier(int code) {
    switch (code) {
    case 16: // shift
        return 2;
    case 17: // control
        return 1;
    case 18: // alt
        return 4;
    case 91: // system key
        return 8;
    default:
        return 0;
    }
}
} // namespace

int32_t keyboardKeyEntry(const QString &type, const QString &value) {
    const QString t = type.toUpper();
    const QStringList items = value.split(QLatin1Char(','));
    if (t == QLatin1String("MOUSE"))
        return hexValue(value);
    if (t == QLatin1String("HOTKEY") || t == QLatin1String("KEYBOARD")) {
        const int modifier = keyboardModifier(decimalValue(item(items, 1)));
        return ((decimalValue(item(items, 2)) & 0xFF) << 16) | ((modifier & 0xFF) << 8);
    }
    if (t == QLatin1String("MEDIA"))
        return ((hexValue(item(items, 1)) & 0xFF) << 16) + 1;
    if (t == QLatin1String("MACRO"))
        return 0x10002;
    return 0;
}

int32_t mouseKeyEntry(const QString &type, const QString &value) {
    const QString t = type.toUpper();
    const QStringList items = value.split(QLatin1Char(','));
    if (t == QLatin1String("MOUSE"))
        return ((hexValue(item(items, 1)) & 0xFF) << 8) + 17;
    if (t == QLatin1String("HOTKEY") || t == QLatin1String("KEYBOARD"))
        return ((decimalValue(item(items, 2)) & 0xFF) << 16) +
               ((decimalValue(item(items, 1)) & 0xFF) << 8) + 33;
    if (t == QLatin1String("MEDIA"))
        return ((hexValue(item(items, 1)) & 0xFF) << 8) + 34;
    if (t == QLatin1String("MACRO"))
        return 0x10002;
    return 0;
}

int dpiToSensorValue(int sensorModel, int dpi) {
    switch (sensorModel) {
    case kSensor3335:
        return dpi >= 100 && dpi <= 16000 ? dpi / 100 - 1 : -1;
    case kSensor3104:
        // 250 .. 4000 in steps of 250 (positions 1-16), then 4500 .. 8000 in steps of 500.
        if (dpi >= 250 && dpi <= 4000 && dpi % 250 == 0)
            return dpi / 250;
        if (dpi >= 4500 && dpi <= 8000 && dpi % 500 == 0)
            return 16 + (dpi - 4000) / 500;
        return -1;
    case kSensor3389:
        // 100 .. 16000 in steps of 100 (positions 1-160), then 17000 .. 26000 in steps of 1000.
        if (dpi >= 100 && dpi <= 16000 && dpi % 100 == 0)
            return dpi / 100;
        if (dpi >= 17000 && dpi <= 26000 && dpi % 1000 == 0)
            return 160 + (dpi - 16000) / 1000;
        return -1;
    case kSensor3360:
        return dpi >= 400 && dpi <= 12000 && dpi % 100 == 0 ? dpi / 100 - 1 : -1;
    default:
        return -1;
    }
}

int lightModeLibraryCode(int mode) {
    switch (mode) {
    case 2:
        return 1;
    case 3:
    case 6:
        return 7;
    case 7:
        return 2;
    default:
        return mode;
    }
}

MouseConfigBlock defaultMouseConfig(int sensorModel) {
    using namespace mouseconfig;
    static const int32_t colours[8] = {0xFF0000, 0x00FF00, 0xFF0000, 0xFF00FF,
                                       0x00FFFF, 0xFFFF00, 0xFFFFFF, 0x0080FF};
    MouseConfigBlock block{};
    block[SelectedMode] = 2;
    for (int m = 0; m < kLightModes; ++m) {
        int32_t *record = block.data() + FirstModeRecord + ModeRecordSize * m;
        record[0] = m;
        record[1] = 3;
        record[2] = 4;
        record[3] = 0;
        for (int c = 0; c < 8; ++c)
            record[4 + c] = colours[c];
        record[12] = lightModeLibraryCode(m);
    }
    block[CurrentStage] = 1;
    static const int32_t stages[4][3] = {{1200, 1200, 0x0000FF},
                                         {2000, 2000, 0xFF0000},
                                         {4000, 4000, 0x00FF00},
                                         {5000, 5000, 0xFF00FF}};
    for (int s = 0; s < 4; ++s) {
        block[FirstStage + 3 * s] = dpiToSensorValue(sensorModel, stages[s][0]);
        block[FirstStage + 3 * s + 1] = dpiToSensorValue(sensorModel, stages[s][1]);
        block[FirstStage + 3 * s + 2] = stages[s][2];
    }
    block[StageCount] = 4;
    block[Constant] = 1280;
    return block;
}

int32_t mouseLightColour(int c1, int c2, int c3) {
    return ((c2 & 0xFF) << 16) | ((c3 & 0xFF) << 8) | (c1 & 0xFF);
}

int32_t keyboardLedColour(int e, int f, int g) {
    return ((e & 0xFF) << 16) | ((g & 0xFF) << 8) | (f & 0xFF);
}

} // namespace torvanix
