// Interface descriptions as the USB access library hands them over: any bytes at all.
#include "device/device_catalogue.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> entry(torvanix::kDescriptionSize, 0);
    std::memcpy(entry.data(), data, size < entry.size() ? size : entry.size());
    const torvanix::DeviceDescription description = torvanix::parseDeviceDescription(entry.data());
    const bool confirm = size > 0 && (data[0] & 1);
    torvanix::SpecialInterfaceProbes probes{[confirm] { return confirm; },
                                            [confirm] { return !confirm; }};
    const auto listed = torvanix::classifyDeviceDescription(description, probes);
    if (listed) {
        // Every record value is a string, and the identity is what the record says it is.
        for (auto it = listed->record.constBegin(); it != listed->record.constEnd(); ++it)
            if (!it.value().isString())
                std::abort();
    }
    return 0;
}
