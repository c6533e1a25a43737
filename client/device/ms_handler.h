#pragma once

#include "device_operations.h"
#include "library_loader.h"
#include "library_tables.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QLibrary;

namespace torvanix {

// The mouse access library's entries. Empty callables are entries the library lacks.
struct MouseLibraryTable {
    std::function<int(int vendor, int product, int product2, int sensorModel, int reserved)>
        SetHardwareInfo;
    std::function<int(void *window)> InitDevice;
    std::function<int()> UnInitDevice;
    std::function<int(int32_t *table, void *workArea)> SetKeyMatrix;
    std::function<int(int32_t *block)> SetConfig;
    std::function<void(int)> SetDebug;
    std::function<int()> IsDeviceOnline;
    std::function<int()> GetPower;
    std::function<int(char *text, int length)> GetFwVersion;

    // Usable when InitDevice, UnInitDevice, SetKeyMatrix and SetHardwareInfo are there.
    bool usable() const;
};

MouseLibraryTable resolveMouseLibrary(const EntryResolver &resolve);

// Size of the zeroed work area handed to SetKeyMatrix next to the key table; the library
// may use it as scratch space, so it is as large as the table.
constexpr int kKeyMatrixWorkAreaBytes = kKeyTableBytes;

// Feeds the mouse that is driven through its own access library (identity "258A002E").
// Loads the library once, at creation; calls UnInitDevice when destroyed. Every
// configuration call builds its block from the defaults, so calls from several threads do
// not share state.
class ms_handler : public MouseLibrary {
public:
    ms_handler();
    // Uses the given table instead of loading the library (tests record the blocks passed).
    explicit ms_handler(MouseLibraryTable table);
    ~ms_handler() override;

    ms_handler(const ms_handler &) = delete;
    ms_handler &operator=(const ms_handler &) = delete;

    bool probeDevice() override;
    bool setKey(const QString &type, int keyIndex, const QString &value) override;
    bool setDpiStages(const pugi::xml_node &node) override;
    bool setLightValue(int mode, int value) override;
    bool setLightColor(int mode, int value, int unused1, int unused2, int c1, int c2,
                       int c3) override;
    int dpiToSensor(int dpi) const override;

    int sensorModel() const { return sensorModel_.load(); }
    void setSensorModel(int model) { sensorModel_.store(model); }

    const MouseLibraryTable &table() const { return table_; }

private:
    bool sendConfig(MouseConfigBlock &block);

    std::unique_ptr<QLibrary> library_;
    MouseLibraryTable table_;
    std::atomic<int> sensorModel_{kSensor3335};
};

} // namespace torvanix
