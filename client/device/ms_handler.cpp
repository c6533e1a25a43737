#include "ms_handler.h"

#include "pacer.h"

#include <QLibrary>
#include <pugixml.hpp>

namespace torvanix {

bool MouseLibraryTable::usable() const {
    return InitDevice && UnInitDevice && SetKeyMatrix && SetHardwareInfo;
}

MouseLibraryTable resolveMouseLibrary(const EntryResolver &resolve) {
    MouseLibraryTable t;
    t.SetHardwareInfo = resolveEntry<int(int, int, int, int, int)>(resolve, "SetHardwareInfo");
    t.InitDevice = resolveEntry<int(void *)>(resolve, "InitDevice");
    t.UnInitDevice = resolveEntry<int()>(resolve, "UnInitDevice");
    t.SetKeyMatrix = resolveEntry<int(int32_t *, void *)>(resolve, "SetKeyMatrix");
    t.SetConfig = resolveEntry<int(int32_t *)>(resolve, "SetConfig");
    t.SetDebug = resolveEntry<void(int)>(resolve, "SetDebug");
    t.IsDeviceOnline = resolveEntry<int()>(resolve, "IsDeviceOnline");
    t.GetPower = resolveEntry<int()>(resolve, "GetPower");
    t.GetFwVersion = resolveEntry<int(char *, int)>(resolve, "GetFwVersion");
    return t;
}

ms_handler::ms_handler() : library_(std::make_unique<QLibrary>()) {
    if (loadDeviceLibrary(*library_, QStringLiteral("ByDevInterface"))) {
        QLibrary *lib = library_.get();
        table_ = resolveMouseLibrary([lib](const char *name) { return lib->resolve(name); });
    }
}

ms_handler::ms_handler(MouseLibraryTable table) : table_(std::move(table)) {}

ms_handler::~ms_handler() {
    if (table_.usable())
        table_.UnInitDevice();
}

bool ms_handler::probeDevice() {
    if (!table_.usable())
        return false;
    table_.SetHardwareInfo(0x258A, 0x002E, 0x002F, sensorModel(), 0);
    return table_.InitDevice(mainWindowHandle()) != 0;
}

bool ms_handler::setKey(const QString &type, int keyIndex, const QString &value) {
    if (value.isEmpty() || keyIndex < 0 || keyIndex >= kKeyTableEntries || !table_.usable())
        return false;
    int32_t keyTable[kKeyTableEntries] = {};
    keyTable[keyIndex] = mouseKeyEntry(type, value);
    // The mouse drops a key matrix that follows the previous call too closely.
    pacer().pause(40);
    uint8_t workArea[kKeyMatrixWorkAreaBytes] = {};
    table_.SetKeyMatrix(keyTable, workArea);
    return true;
}

bool ms_handler::sendConfig(MouseConfigBlock &block) {
    if (!table_.usable() || !table_.SetConfig)
        return false;
    return table_.SetConfig(block.data()) != 0;
}

bool ms_handler::setDpiStages(const pugi::xml_node &node) {
    using namespace mouseconfig;
    MouseConfigBlock block = defaultMouseConfig(sensorModel());
    block[CurrentStage] = node.attribute("current").as_int();
    block[StageCount] = node.attribute("count").as_int();
    // The block has room for ten stages; further children are not sent.
    int s = 0;
    for (pugi::xml_node child = node.first_child(); child && s < kDpiStages;
         child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        block[FirstStage + 3 * s] = dpiToSensor(child.attribute("x").as_int());
        block[FirstStage + 3 * s + 1] = dpiToSensor(child.attribute("y").as_int());
        ++s;
    }
    return sendConfig(block);
}

bool ms_handler::setLightValue(int mode, int value) {
    using namespace mouseconfig;
    // A mode outside the ten records would put the value into another part of the block.
    if (mode < 0 || mode >= kLightModes)
        return false;
    MouseConfigBlock block = defaultMouseConfig(sensorModel());
    block[SelectedMode] = mode;
    block[FirstModeRecord + ModeRecordSize * mode + 2] = value;
    if (!table_.usable() || !table_.SetConfig)
        return false;
    sendConfig(block);
    return true;
}

bool ms_handler::setLightColor(int mode, int value, int unused1, int unused2, int c1, int c2,
                               int c3) {
    using namespace mouseconfig;
    Q_UNUSED(value);
    const int32_t colour = mouseLightColour(c1, c2, c3);
    MouseConfigBlock block = defaultMouseConfig(sensorModel());
    block[SelectedMode] = mode;
    // A colour call sends the record values the mouse expects for a static colour (3 and 4)
    // in every mode; the value of the chosen mode is set separately with setLightValue.
    for (int m = 0; m < kLightModes; ++m) {
        int32_t *record = block.data() + FirstModeRecord + ModeRecordSize * m;
        record[1] = 3;
        record[2] = 4;
        for (int c = 0; c < 8; ++c)
            record[4 + c] = colour;
    }
    block[CurrentStage] = 3;
    block[StageCount] = 4;
    static const int stages[4] = {1200, 2000, 4000, 2000};
    for (int s = 0; s < 4; ++s) {
        block[FirstStage + 3 * s] = dpiToSensor(stages[s]);
        block[FirstStage + 3 * s + 1] = dpiToSensor(stages[s]);
        block[FirstStage + 3 * s + 2] = colour;
    }
    if (!table_.usable() || !table_.SetConfig)
        return false;
    sendConfig(block);
    return true;
}

int ms_handler::dpiToSensor(int dpi) const {
    return dpiToSensorValue(sensorModel(), dpi);
}

} // namespace torvanix
