// The frame protocol between the hidraw device libraries and a device (see PROTOCOL.md beside
// this file): encoding, decoding and the report-descriptor and path helpers around it. Pure
// functions only, shared by the libraries and the device emulator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torvanix::hidraw {

constexpr uint8_t kReportId = 0x06;
constexpr int kFrameSize = 64;
constexpr int kWireSize = kFrameSize + 1; // report id first
constexpr int kDataSize = 56;
// A payload or answer this short travels inside the execute frame and its reply (data bytes
// 4 on), so a small register write or read is one request and one reply.
constexpr int kInlineSize = kDataSize - 4;
constexpr uint8_t kFlagInlinePayload = 0x01; // request byte 3
constexpr int kPayloadCapacity = 4096;
constexpr uint8_t kProtocolVersion = 1;
constexpr uint16_t kBootVendor = 0x258a;
constexpr uint16_t kBootProduct = 0xff12;

enum Command : uint8_t {
    CmdIdentify = 0x01,
    CmdStage = 0x02,
    CmdFetch = 0x03,
    CmdWriteProperty = 0x10,
    CmdWritePropertyQpa = 0x11,
    CmdReadProperty = 0x12,
    CmdWritePacket = 0x13,
    CmdSingleValue = 0x14,
    CmdReadPacket = 0x15,
    CmdReset = 0x16,
    CmdNotify = 0x17,
    CmdUpdateVersion = 0x18,
    CmdReadInput = 0x19,
    CmdHasBootLoader = 0x1A,
    CmdEraseRom = 0x20,
    CmdWriteRom = 0x21,
    CmdCheckRom = 0x22,
    CmdFinishRom = 0x23,
    CmdKbSetHardwareInfo = 0x30,
    CmdKbInitDevice = 0x31,
    CmdKbSetLed = 0x32,
    CmdKbSetKeyColor = 0x33,
    CmdKbSetMacro = 0x34,
    CmdKbSetKey = 0x35,
    CmdKbNewKeyAction = 0x36,
    CmdKbSetDebug = 0x37,
    CmdKbUnInitDevice = 0x38,
    CmdMsSetHardwareInfo = 0x40,
    CmdMsInitDevice = 0x41,
    CmdMsUnInitDevice = 0x42,
    CmdMsSetKeyMatrix = 0x43,
    CmdMsSetConfig = 0x44,
    CmdMsSetDebug = 0x45,
    CmdMsIsDeviceOnline = 0x46,
    CmdMsGetPower = 0x47,
    CmdMsGetFwVersion = 0x48,
};

enum Status : uint8_t {
    StatusDone = 0x00,
    StatusBusy = 0x01,
    StatusUnknownCommand = 0x02,
    StatusBadFrame = 0x03,
    StatusNotAllowed = 0x04,
};

// ROM programming belongs to the boot loader; everything else to the device itself.
bool isBootLoaderCommand(uint8_t command);
bool isKnownCommand(uint8_t command);

struct Frame {
    uint8_t command = 0;
    uint8_t seq = 0;
    uint8_t arg = 0;
    uint8_t status = 0;
    uint16_t count = 0;
    uint16_t offset = 0;
    std::array<uint8_t, kDataSize> data{};

    int32_t value(int index) const; // 32-bit little-endian value `index` of the data bytes
    void setValue(int index, int32_t v);
};

// Frame -> 65 wire bytes (report id first).
std::array<uint8_t, kWireSize> encode(const Frame &frame);
// 65 wire bytes -> frame. False when the length or the report id is wrong.
bool decode(const uint8_t *wire, size_t length, Frame *frame);
// A reply read back for `request`: false unless it decodes and carries the request's command,
// sequence number and the done status.
bool acceptReply(const uint8_t *wire, size_t length, const Frame &request, Frame *reply);

struct Identity {
    bool bootLoader = false;
    std::string bluetooth; // up to 5 bytes
    std::string firmware;  // up to 17 bytes
    std::string serial;    // up to 14 bytes
    uint8_t battery = 0;
    uint8_t status = 0;
};
void encodeIdentity(const Identity &identity, Frame *reply);
bool decodeIdentity(const Frame &reply, Identity *identity);

// One top-level collection of a report descriptor.
struct Collection {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    // Declares the 64-byte input report with kReportId and, to carry requests, the feature
    // report of that id or, failing that, the output report (interruptFrames).
    bool frameReport = false;
    bool interruptFrames = false;
};
// Top-level collections in descriptor order. A malformed descriptor gives what was read
// before the fault, with no frame report claimed in an unfinished collection.
std::vector<Collection> parseCollections(const uint8_t *descriptor, size_t length);

// A report descriptor of `collections` top-level collections with the frame report in
// collection `frameAt` (from 1) under the given usage page and usage; the others carry a
// one-byte vendor input report of their own, so the frame collection gets a number. With
// `interrupt` the frame collection declares an output report instead of the feature report.
std::vector<uint8_t> frameDescriptor(int collections, int frameAt, int usagePage, int usage,
                                     bool interrupt = false);

// The devices the program's catalogue supports, and the boot loader (kBootVendor, kBootProduct)
// their firmware update talks to: the only ones a library opens and asks to identify. Any
// other maker's device may declare a report of the same id and size.
bool mayIdentify(uint16_t vendor, uint16_t product);

// The interface number at the end of a HID physical path ("usb-0000:00:14.0-1/input1" -> 1),
// -1 when it has none.
int interfaceFromPhys(const std::string &phys);
// The stable instance text of an interface path: the physical path before "/input", lower
// case, every character outside [a-z0-9] turned into '_'; `fallback` when that is empty.
std::string instanceFromPhys(const std::string &phys, const std::string &fallback);
// The interface path the catalogue reads; interfaceNumber < 0 and collection 0 leave their
// parts out.
std::string interfacePath(uint16_t vendor, uint16_t product, int interfaceNumber, int collection,
                          const std::string &instance);

} // namespace torvanix::hidraw
