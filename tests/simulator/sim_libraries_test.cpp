#include "sim_fixture.h"

using namespace simtest;

namespace {

const QString kKeyboard = hidPath(QStringLiteral("vid_05ac&pid_024f&mi_01"));
const QString kMouse = hidPath(QStringLiteral("vid_258a&pid_002e&mi_01"));

using KbHardware = int (*)(int, int);
using MsHardware = int (*)(int, int, int, int, int);
using Init = int (*)(void *);
using NoArgs = int (*)();

} // namespace

class Libraries : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        kb = openLibrary("libKBAccess.so");
        ms = openLibrary("libByDevInterface.so");
        QJsonObject mouse{{QStringLiteral("path"), kMouse},
                          {QStringLiteral("battery"), 76},
                          {QStringLiteral("sensor"), 0x3335},
                          {QStringLiteral("firmware"), QStringLiteral("MS-002E-V1.03")}};
        useDevices(QJsonArray{QJsonObject{{QStringLiteral("path"), kKeyboard}}, mouse});
    }
    void *kb = nullptr;
    void *ms = nullptr;
};

TEST_F(Libraries, KeyboardFindsItsInterfaceAndRemembersTables) {
    auto setHardware = entry<KbHardware>(kb, "SetHardwareInfo");
    auto init = entry<Init>(kb, "InitDevice");
    for (const char *name : {"SetLED", "SetKeyColor", "SetMacro", "SetKey", "new_key_action",
                             "SetDebug", "UnInitDevice"})
        EXPECT_NE(dlsym(kb, name), nullptr) << name;

    EXPECT_EQ(init(nullptr), 0) << "no hardware chosen yet";
    setHardware(0x05AC, 0x0250);
    EXPECT_EQ(init(nullptr), 0);
    setHardware(0x05AC, 0x024F);
    EXPECT_NE(init(nullptr), 0);

    int32_t table[132] = {};
    table[7] = 0x00040100;
    EXPECT_EQ(entry<tvx_kb_SetKey_fn>(kb, "SetKey")(table, 528), 1);
    std::vector<uint8_t> macro(4096, 0);
    macro[0] = 0x90;
    macro[4095] = 0x55;
    EXPECT_EQ(entry<tvx_kb_SetMacro_fn>(kb, "SetMacro")(macro.data(), 4096), 1);
    EXPECT_EQ(entry<tvx_kb_SetLED_fn>(kb, "SetLED")(1, 5, 5, 1, 0xFFEA7B), 1);
    EXPECT_EQ(entry<tvx_kb_SetKeyColor_fn>(kb, "SetKeyColor")(12, 1, 2, 3), 1);
    EXPECT_EQ(entry<tvx_kb_new_key_action_fn>(kb, "new_key_action")(4, 1, 2, 3, 4), 1);
    EXPECT_EQ(entry<tvx_kb_SetMacro_fn>(kb, "SetMacro")(nullptr, 4096), 0);
    EXPECT_EQ(entry<tvx_kb_SetKey_fn>(kb, "SetKey")(table, -4), 0);

    const QJsonObject k = state().value(QStringLiteral("KBAccess")).toObject();
    EXPECT_EQ(k.value(QStringLiteral("hardware")).toArray(), (QJsonArray{0x05AC, 0x024F}));
    EXPECT_TRUE(k.value(QStringLiteral("initialised")).toBool());
    EXPECT_EQ(k.value(QStringLiteral("keyTable")).toArray().size(), 132);
    EXPECT_EQ(k.value(QStringLiteral("keyTable")).toArray()[7].toInt(), 0x00040100);
    EXPECT_TRUE(k.value(QStringLiteral("macro")).toString().startsWith(QStringLiteral("90")));
    EXPECT_TRUE(k.value(QStringLiteral("macro")).toString().endsWith(QStringLiteral("55")));
    EXPECT_EQ(k.value(QStringLiteral("led")).toArray(), (QJsonArray{1, 5, 5, 1, 0xFFEA7B}));
    EXPECT_EQ(k.value(QStringLiteral("keyColors")).toObject().value(QStringLiteral("12")).toArray(),
              (QJsonArray{1, 2, 3}));

    // One model per process, even without a state file: the keyboard unplugged through a
    // USB library call is gone for the keyboard library too.
    qunsetenv("TORVANIX_SIM_STATE");
    qputenv("TORVANIX_SIM_FAULTS", "vanish:vid_05ac@1");
    setHardware(0x05AC, 0x024F);
    EXPECT_EQ(write(kKeyboard, 1, {1}), 1);
    EXPECT_EQ(entry<tvx_kb_SetKey_fn>(kb, "SetKey")(table, 528), 0);
    EXPECT_EQ(init(nullptr), 0);
    EXPECT_EQ(write(kKeyboard, 1, {1}), 0);
}

TEST_F(Libraries, MouseChecksSensorAndAnswersQueries) {
    auto setHardware = entry<MsHardware>(ms, "SetHardwareInfo");
    auto init = entry<Init>(ms, "InitDevice");
    setHardware(0x258A, 0x002E, 0x002F, 0x3104, 0);
    EXPECT_EQ(init(nullptr), 0) << "another sensor model";
    setHardware(0x258A, 0x002E, 0x002F, 0x3335, 0);
    EXPECT_NE(init(nullptr), 0);
    EXPECT_EQ(entry<NoArgs>(ms, "IsDeviceOnline")(), 1);
    EXPECT_EQ(entry<NoArgs>(ms, "GetPower")(), 76);
    char fw[6];
    EXPECT_EQ(entry<tvx_ms_GetFwVersion_fn>(ms, "GetFwVersion")(fw, sizeof fw), 5);
    EXPECT_STREQ(fw, "MS-00");

    int32_t config[165] = {};
    config[131] = 3;
    config[164] = 1280;
    EXPECT_EQ(entry<tvx_ms_SetConfig_fn>(ms, "SetConfig")(config), 1);
    int32_t matrix[132] = {};
    matrix[2] = 0x00040221;
    char work[64];
    EXPECT_EQ(entry<tvx_ms_SetKeyMatrix_fn>(ms, "SetKeyMatrix")(matrix, work), 1);
    EXPECT_EQ(entry<tvx_ms_SetConfig_fn>(ms, "SetConfig")(nullptr), 0);

    const QJsonObject m = state().value(QStringLiteral("ByDevInterface")).toObject();
    EXPECT_EQ(m.value(QStringLiteral("config")).toArray().size(), 165);
    EXPECT_EQ(m.value(QStringLiteral("config")).toArray()[164].toInt(), 1280);
    EXPECT_EQ(m.value(QStringLiteral("keyMatrix")).toArray()[2].toInt(), 0x00040221);
    EXPECT_EQ(m.value(QStringLiteral("hardware")).toArray(),
              (QJsonArray{0x258A, 0x002E, 0x002F, 0x3335, 0}));

    // Both libraries share one model: the keyboard library sees the mouse library's state.
    const QVector<QJsonObject> lines = traceLines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last().value(QStringLiteral("lib")).toString(),
              QStringLiteral("ByDevInterface"));
    EXPECT_EQ(entry<NoArgs>(ms, "UnInitDevice")(), 1);
    EXPECT_FALSE(state()
                     .value(QStringLiteral("ByDevInterface"))
                     .toObject()
                     .value(QStringLiteral("initialised"))
                     .toBool());
}
