// The hidraw libraries' frame protocol and the helpers around it, without a device.
#include "frame.h"
#include "hid_api.h"
#include "torvanix/devlib.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

using namespace torvanix::hidraw;

namespace {

Frame request(uint8_t command, uint8_t seq) {
    Frame f;
    f.command = command;
    f.seq = seq;
    f.arg = 23;
    f.count = 15;
    return f;
}

std::u16string u16(const char *s) {
    std::u16string out;
    while (*s)
        out += char16_t(*s++);
    return out;
}

} // namespace

TEST(HidrawFrame, EncodesReportIdFirstAndDecodesBack) {
    Frame f = request(CmdWriteProperty, 7);
    f.offset = 0x0102;
    f.setValue(0, -2);
    f.data[55] = 0xAB;
    const auto wire = encode(f);
    ASSERT_EQ(wire.size(), 65u);
    EXPECT_EQ(wire[0], kReportId);
    EXPECT_EQ(wire[1], CmdWriteProperty);
    EXPECT_EQ(wire[5], 15);   // count, little endian
    EXPECT_EQ(wire[7], 0x02); // offset low byte
    Frame back;
    ASSERT_TRUE(decode(wire.data(), wire.size(), &back));
    EXPECT_EQ(back.value(0), -2);
    EXPECT_EQ(back.offset, 0x0102);
    EXPECT_EQ(back.data[55], 0xAB);
    EXPECT_EQ(back.value(14), 0); // past the data: no read beyond it
}

TEST(HidrawFrame, RepliesAreTrustedOnlyWhenTheyAnswerTheRequest) {
    const Frame req = request(CmdReadProperty, 9);
    Frame reply = req;
    reply.setValue(0, 1);
    auto wire = encode(reply);
    Frame got;
    EXPECT_TRUE(acceptReply(wire.data(), wire.size(), req, &got));
    EXPECT_EQ(got.value(0), 1);

    // Short (a reply without its report id, as hidapi hands a device that omits it).
    EXPECT_FALSE(acceptReply(wire.data() + 1, 64, req, &got));
    // Shifted by one: the report id position holds the command.
    std::vector<uint8_t> shifted(wire.begin() + 1, wire.end());
    shifted.push_back(0);
    EXPECT_FALSE(acceptReply(shifted.data(), shifted.size(), req, &got));

    for (auto spoil : {+[](Frame &f) { f.seq = 10; }, +[](Frame &f) { f.command = CmdFetch; },
                       +[](Frame &f) { f.arg = 24; }, +[](Frame &f) { f.status = StatusBusy; },
                       +[](Frame &f) { f.status = StatusNotAllowed; }}) {
        Frame bad = reply;
        spoil(bad);
        wire = encode(bad);
        EXPECT_FALSE(acceptReply(wire.data(), wire.size(), req, &got));
    }
}

TEST(HidrawFrame, IdentityRoundTripsAndRejectsStrangers) {
    Identity id;
    id.bootLoader = true;
    id.bluetooth = "1.02";
    id.firmware = "QPA-RTE-V1.1.0.12-and-more"; // cut at 17 bytes
    id.serial = "QR10010000B002";
    id.battery = 85;
    id.status = 1;
    Frame reply = request(CmdIdentify, 1);
    encodeIdentity(id, &reply);
    Identity back;
    ASSERT_TRUE(decodeIdentity(reply, &back));
    EXPECT_TRUE(back.bootLoader);
    EXPECT_EQ(back.firmware, "QPA-RTE-V1.1.0.12");
    EXPECT_EQ(back.serial, "QR10010000B002");
    EXPECT_EQ(back.battery, 85);

    Frame wrongMark = reply;
    wrongMark.data[0] = 'X';
    Frame wrongVersion = reply;
    wrongVersion.data[4] = 2;
    Frame wrongRole = reply;
    wrongRole.data[5] = 7;
    Frame zeros = request(CmdIdentify, 1); // what an unrelated device's feature report may hold
    zeros.count = 46;
    for (const Frame &f : {wrongMark, wrongVersion, wrongRole, zeros})
        EXPECT_FALSE(decodeIdentity(f, &back));
}

TEST(HidrawDescriptor, FindsTheFrameCollectionAndNothingElse) {
    const std::vector<uint8_t> two = frameDescriptor(3, 2, 0xFFA0, 0x01);
    const std::vector<Collection> c = parseCollections(two.data(), two.size());
    ASSERT_EQ(c.size(), 3u);
    EXPECT_FALSE(c[0].frameReport);
    EXPECT_TRUE(c[1].frameReport);
    EXPECT_EQ(c[1].usagePage, 0xFFA0);
    EXPECT_EQ(c[1].usage, 0x01);
    EXPECT_FALSE(c[2].frameReport);
    EXPECT_FALSE(c[1].interruptFrames);

    // Requests as output reports (a device without feature reports): the same frames over
    // the interrupt endpoints; an output report alone, with no input to answer, is no frame.
    const std::vector<uint8_t> irq = frameDescriptor(2, 2, 0xFFA0, 0x01, true);
    const auto i = parseCollections(irq.data(), irq.size());
    ASSERT_EQ(i.size(), 2u);
    EXPECT_TRUE(i[1].frameReport);
    EXPECT_TRUE(i[1].interruptFrames);
    std::vector<uint8_t> outputOnly = frameDescriptor(1, 1, 0xFFA0, 0x01, true);
    const uint8_t input[] = {0x09, 0x02, 0x81, 0x02};
    auto at = std::search(outputOnly.begin(), outputOnly.end(), input, input + 4);
    ASSERT_NE(at, outputOnly.end());
    outputOnly.erase(at, at + 4);
    ASSERT_EQ(parseCollections(outputOnly.data(), outputOnly.size()).size(), 1u);
    EXPECT_FALSE(parseCollections(outputOnly.data(), outputOnly.size())[0].frameReport);

    // An ordinary boot keyboard never qualifies for a frame.
    const uint8_t keyboard[] = {0x05, 0x01, 0x09, 0x06, 0xa1, 0x01, 0x05, 0x07, 0x19, 0xe0,
                                0x29, 0xe7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,
                                0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x03, 0xc0};
    const auto k = parseCollections(keyboard, sizeof keyboard);
    ASSERT_EQ(k.size(), 1u);
    EXPECT_EQ(k[0].usagePage, 0x01);
    EXPECT_FALSE(k[0].frameReport);

    // Cut anywhere before the frame collection ends: no claim, and no read past the cut.
    const size_t frameEnd = frameDescriptor(2, 2, 0xFFA0, 0x01).size();
    for (size_t n = 0; n < frameEnd; ++n)
        for (const Collection &part : parseCollections(two.data(), n))
            EXPECT_FALSE(part.frameReport) << n;
    EXPECT_TRUE(parseCollections(nullptr, 10).empty());
}

TEST(HidrawPaths, ReadAsTheCatalogueExpects) {
    EXPECT_EQ(interfaceFromPhys("usb-0000:00:14.0-1/input1"), 1);
    EXPECT_EQ(interfaceFromPhys("torvanix-emu-3/input12"), 12);
    EXPECT_EQ(interfaceFromPhys("torvanix-emu-3"), -1);
    EXPECT_EQ(interfaceFromPhys("x/inputA"), -1);
    EXPECT_EQ(instanceFromPhys("usb-0000:00:14.0-1/input1", "x"), "usb_0000_00_14_0_1");
    EXPECT_EQ(instanceFromPhys("", "0003:258A:0013.0001"), "0003_258a_0013_0001");
    EXPECT_EQ(interfacePath(0x258a, 0x13, 1, 2, "usb_1"),
              "\\\\?\\hid#vid_258a&pid_0013&mi_01&col02#usb_1#"
              "{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(interfacePath(0x0c45, 0x8075, -1, 0, "i"),
              "\\\\?\\hid#vid_0c45&pid_8075#i#{4d1e55b2-f16f-11cf-88cb-001111000030}");
}

// Another maker's device may declare a report of the same id and size: only the catalogue's
// devices and their boot loader are asked to identify.
TEST(HidrawPaths, OnlyCataloguedDevicesAreAskedToIdentify) {
    EXPECT_TRUE(mayIdentify(0x258a, 0x0013)); // a full-record row
    EXPECT_TRUE(mayIdentify(0x1c4f, 0xee88)); // the last one
    EXPECT_TRUE(mayIdentify(0x0c45, 0x8075)); // a special row
    EXPECT_TRUE(mayIdentify(kBootVendor, kBootProduct));
    EXPECT_FALSE(mayIdentify(0x258a, 0x0015)); // excluded by the catalogue
    EXPECT_FALSE(mayIdentify(0x1234, 0x5678));
    EXPECT_FALSE(mayIdentify(0x0013, 0x258a));
}

// Without devices (or on a machine without hidraw) every entry is a plain failure.
TEST(HidrawLibraries, FailCleanlyWithoutADevice) {
    std::vector<uint8_t> list(TVX_LIST_BLOCK_SIZE, 0xEE);
    const uint16_t filter[40] = {1, 0xFFA0, 1, 0xFFAA};
    const int listed = usbDevices(list.data(), filter);
    EXPECT_GE(listed, 0);
    EXPECT_EQ(list[0] | list[1] << 8, listed);
    EXPECT_EQ(usbDevices(nullptr, filter), 0);

    const std::u16string path = u16("\\\\?\\hid#vid_258a&pid_0013&mi_01&col02#none#{x}");
    const auto *p = reinterpret_cast<const uint16_t *>(path.c_str());
    uint8_t buf[TVX_TRANSFER_BLOCK_SIZE] = {1, 2, 3};
    EXPECT_EQ(usbWriteProperty(false, p, buf, 23, 3), 0);
    EXPECT_EQ(usbWriteProperty(false, p, buf, 23, 4096), 0);
    EXPECT_EQ(usbReadProperty(p, buf, 2, 17), 0);
    EXPECT_EQ(usbReadInputReport(p, buf, 64, 0), -1);
    EXPECT_EQ(usbEraseRom(p), 0);
    EXPECT_EQ(usbWriteRom(nullptr, buf, 10, 0), 0);
    uint16_t unterminated[TVX_DESC_PATH_UNITS];
    for (auto &u : unterminated)
        u = 'a';
    EXPECT_EQ(usbReset(unterminated, 2, 0), 0);
    uint16_t out[TVX_EXIST_PATH_BUFFER / 2] = {};
    EXPECT_EQ(usbDeviceExist(reinterpret_cast<const uint16_t *>(u"Vid_258a&Pid_ff12"), out), 0);
    EXPECT_EQ(out[0], 0);
    const int32_t ids[2] = {0x05AC, 0x024F};
    EXPECT_EQ(libSetHardwareInfo(0, ids, 2), 1); // remembered, the device may come later
    EXPECT_EQ(libCall(0, CmdKbInitDevice, nullptr, 0, nullptr, 0, 0), 0);
    EXPECT_EQ(libCall(1, CmdMsGetPower, nullptr, 0, nullptr, 0, -1), -1);
    char text[16] = {};
    EXPECT_EQ(libGetFwVersion(text, sizeof text), 0);
}
