#include "sim_fixture.h"

using namespace simtest;

namespace {

const QString kMouse = hidPath(QStringLiteral("vid_258a&pid_0013&mi_01&col02"));
const QString kHfd = hidPath(QStringLiteral("vid_0c45&pid_8075&mi_00"));

QJsonArray twoDevices() {
    QJsonObject mouse;
    mouse.insert(QStringLiteral("path"), kMouse);
    mouse.insert(QStringLiteral("firmware"), QStringLiteral("TOB-NIR-V1.2.0"));
    mouse.insert(QStringLiteral("battery"), 90);
    mouse.insert(QStringLiteral("dpiRegister"), 41);
    mouse.insert(QStringLiteral("registers"),
                 QJsonObject{{QStringLiteral("41"), QStringLiteral("02")},
                             {QStringLiteral("178"), QJsonArray{1}}});
    QJsonObject hfd;
    hfd.insert(QStringLiteral("path"), kHfd);
    hfd.insert(QStringLiteral("battery"), 87);
    hfd.insert(QStringLiteral("inputReports"), false);
    return QJsonArray{mouse, hfd};
}

} // namespace

class Protocol : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        useDevices(twoDevices());
    }

    int startTr(const QString &path, uint8_t command, uint8_t first, int packets) {
        uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {first};
        return usb.writeStartTr(wide(path).data(), block, command, packets);
    }
    int packet(const QString &path, uint8_t type, uint8_t fill) {
        uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {};
        std::fill(block, block + 64, fill);
        return usb.writeHfd(wide(path).data(), block, type, 64);
    }
    std::vector<uint8_t> answer(const QString &path, uint8_t type, int count) {
        uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {};
        EXPECT_EQ(usb.readHfd(wide(path).data(), block, type, count), 1);
        return std::vector<uint8_t>(block, block + count);
    }
};

TEST_F(Protocol, RegisterRoundTrips) {
    EXPECT_EQ(write(kMouse, 23, {1, 1, 3, 2, 0xFF}), 1);
    EXPECT_EQ(read(kMouse, 23, 5), (std::vector<uint8_t>{1, 1, 3, 2, 0xFF}));
    // Longer reads see zeros behind the content, shorter reads its start.
    EXPECT_EQ(read(kMouse, 23, 7), (std::vector<uint8_t>{1, 1, 3, 2, 0xFF, 0, 0}));
    EXPECT_EQ(read(kMouse, 23, 2), (std::vector<uint8_t>{1, 1}));
    // A later, shorter write replaces the whole content.
    EXPECT_EQ(write(kMouse, 23, {9}), 1);
    EXPECT_EQ(read(kMouse, 23, 3), (std::vector<uint8_t>{9, 0, 0}));
    EXPECT_EQ(read(kMouse, 200, 4), (std::vector<uint8_t>{0, 0, 0, 0}));

    // The QPA write stores the same way; registers of two devices never mix.
    uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {0x44, 0x55};
    EXPECT_EQ(usb.writePropertyQpa(wide(kHfd).data(), block, 23, 2), 1);
    EXPECT_EQ(read(kHfd, 23, 2), (std::vector<uint8_t>{0x44, 0x55}));
    EXPECT_EQ(read(kMouse, 23, 1), (std::vector<uint8_t>{9}));

    // Seeded and configured registers: identity, battery/status pair, DPI level.
    EXPECT_EQ(read(kMouse, 2, 3), (std::vector<uint8_t>{'T', 'O', 'B'}));
    EXPECT_EQ(read(kMouse, 7, 2), (std::vector<uint8_t>{90, 0}));
    EXPECT_EQ(read(kMouse, 41, 1), (std::vector<uint8_t>{2}));

    // Paths are compared like the system compares device paths: case-insensitively.
    EXPECT_EQ(read(kMouse.toUpper(), 23, 1), (std::vector<uint8_t>{9}));
    int ret = -1;
    read(hidPath(QStringLiteral("vid_1111&pid_2222&col02")), 23, 1, &ret);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(write(hidPath(QStringLiteral("vid_1111&pid_2222&col02")), 23, {1}), 0);
}

TEST_F(Protocol, PacketTransferHappyPathKeepsPayload) {
    // Macro table: announce 9 packets, send 7 (the program only sends whole groups).
    EXPECT_EQ(startTr(kHfd, 21, 0x00, 9), 1);
    EXPECT_EQ(answer(kHfd, 21, 1), std::vector<uint8_t>{0x01});
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(packet(kHfd, 19, uint8_t(i + 1)), 1);
    EXPECT_EQ(startTr(kHfd, 2, 0x00, 0), 1);
    EXPECT_EQ(answer(kHfd, 2, 1), std::vector<uint8_t>{0x01});

    // Key table: data travels with its own command.
    EXPECT_EQ(startTr(kHfd, 17, 0x01, 10), 1);
    const std::vector<uint8_t> ready = answer(kHfd, 17, 10);
    EXPECT_EQ(ready[0], 0x01);
    EXPECT_EQ(ready[2], 10); // packets announced
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(packet(kHfd, 11, 0xA0), 1);
    EXPECT_EQ(startTr(kHfd, 2, 0x00, 0), 1);
    EXPECT_EQ(startTr(kHfd, 24, 0x00, 0), 1); // apply

    const QJsonObject s = deviceState(kHfd);
    const QJsonObject transfers = s.value(QStringLiteral("transfers")).toObject();
    QByteArray expected;
    for (int i = 0; i < 7; ++i)
        expected.append(QByteArray(64, char(i + 1)));
    EXPECT_EQ(transfers.value(QStringLiteral("21")).toString(),
              QString::fromLatin1(expected.toHex()));
    EXPECT_EQ(transfers.value(QStringLiteral("17")).toString().size(), 10 * 64 * 2);
    EXPECT_EQ(
        s.value(QStringLiteral("transferHeads")).toObject().value(QStringLiteral("17")).toInt(), 1);
    EXPECT_EQ(
        s.value(QStringLiteral("singleValues")).toObject().value(QStringLiteral("24")).toInt(), 0);
    const QJsonObject byHead = s.value(QStringLiteral("transfersByHead")).toObject();
    EXPECT_EQ(byHead.value(QStringLiteral("21/00")), transfers.value(QStringLiteral("21")));
    EXPECT_EQ(byHead.value(QStringLiteral("17/01")), transfers.value(QStringLiteral("17")));

    // The power query answers with the battery in byte 4.
    EXPECT_EQ(startTr(kHfd, 97, 0x00, 64), 1);
    EXPECT_EQ(answer(kHfd, 97, 64)[4], 87);
    EXPECT_EQ(startTr(kHfd, 2, 0x00, 0), 1);
    EXPECT_EQ(answer(kHfd, 2, 1), std::vector<uint8_t>{0x01});
    EXPECT_FALSE(deviceState(kHfd)
                     .value(QStringLiteral("transfers"))
                     .toObject()
                     .contains(QStringLiteral("97")));
}

TEST_F(Protocol, OutOfOrderPacketsAreRefused) {
    // Data without an announce, and a finish without a transfer.
    EXPECT_EQ(packet(kHfd, 19, 1), 0);
    EXPECT_EQ(startTr(kHfd, 2, 0x00, 0), 1);
    EXPECT_EQ(answer(kHfd, 2, 1), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(startTr(kHfd, 2, 0x00, 0), 0);

    // A handshake for a transfer that was not announced.
    EXPECT_EQ(answer(kHfd, 21, 1), std::vector<uint8_t>{0xFF});

    // Data of the wrong command spoils the transfer: nothing is kept.
    EXPECT_EQ(startTr(kHfd, 17, 0x01, 10), 1);
    EXPECT_EQ(packet(kHfd, 11, 1), 1);
    EXPECT_EQ(packet(kHfd, 19, 1), 0);
    EXPECT_EQ(packet(kHfd, 11, 1), 0);
    EXPECT_EQ(startTr(kHfd, 2, 0x00, 0), 1);
    EXPECT_EQ(answer(kHfd, 2, 1), std::vector<uint8_t>{0xFF});

    // More packets than announced.
    EXPECT_EQ(startTr(kHfd, 19, 0x00, 1), 1);
    EXPECT_EQ(packet(kHfd, 19, 1), 1);
    EXPECT_EQ(packet(kHfd, 19, 1), 0);
    EXPECT_EQ(startTr(kHfd, 2, 0x00, 0), 1);
    EXPECT_EQ(answer(kHfd, 2, 1), std::vector<uint8_t>{0xFF});
    EXPECT_TRUE(deviceState(kHfd).value(QStringLiteral("transfers")).toObject().isEmpty());

    // A fresh announce recovers.
    EXPECT_EQ(startTr(kHfd, 19, 0x81, 1), 1);
    EXPECT_EQ(packet(kHfd, 19, 7), 1);
    EXPECT_EQ(startTr(kHfd, 2, 0x81, 0), 1);
    EXPECT_EQ(answer(kHfd, 2, 1), std::vector<uint8_t>{0x01});
}

TEST_F(Protocol, DpiAndRateQueriesAnswerWithInputReports) {
    uint8_t report[64] = {};
    // Nothing asked, nothing to read.
    EXPECT_EQ(usb.inputReport(wide(kMouse).data(), report, 64, 100), 0);

    EXPECT_EQ(write(kMouse, 41, {0x05}), 1);
    ASSERT_EQ(usb.inputReport(wide(kMouse).data(), report, 64, 100), 64);
    EXPECT_EQ(report[1], 2);
    EXPECT_EQ(write(kMouse, 178, {0x05}), 1);
    ASSERT_EQ(usb.inputReport(wide(kMouse).data(), report, 64, 100), 64);
    EXPECT_EQ(report[1], 1);
    // The query leaves the settings as they were.
    EXPECT_EQ(read(kMouse, 41, 1), std::vector<uint8_t>{2});
    EXPECT_EQ(read(kMouse, 178, 1), std::vector<uint8_t>{1});

    // A level set by the program is what the next query reports.
    EXPECT_EQ(write(kMouse, 41, {3}), 1);
    EXPECT_EQ(write(kMouse, 41, {0x05}), 1);
    ASSERT_EQ(usb.inputReport(wide(kMouse).data(), report, 8, 100), 8);
    EXPECT_EQ(report[1], 3);

    // A device without input reports never answers; a vanished path is an error.
    EXPECT_EQ(write(kHfd, 178, {0x05}), 1);
    EXPECT_EQ(usb.inputReport(wide(kHfd).data(), report, 64, 100), 0);
    EXPECT_LT(
        usb.inputReport(wide(hidPath(QStringLiteral("vid_1&pid_2&col02"))).data(), report, 64, 100),
        0);
}

TEST_F(Protocol, ResetBootLoaderAndRomRoundTrip) {
    EXPECT_EQ(write(kMouse, 41, {4}), 1);
    EXPECT_EQ(usb.reset(wide(kMouse).data(), 2, 0), 1);
    EXPECT_EQ(read(kMouse, 41, 1), std::vector<uint8_t>{2}); // initial content again
    EXPECT_EQ(usb.reset(wide(kMouse).data(), 3, 0), 0);
    EXPECT_NE(usb.bootLoader(wide(kMouse).data()), 0);

    uint16_t bootPath[TVX_EXIST_PATH_BUFFER / 2] = {};
    const auto bootId = wide(QStringLiteral("Vid_258a&Pid_ff12"));
    EXPECT_EQ(usb.exist(bootId.data(), bootPath), 0);

    EXPECT_EQ(usb.reset(wide(kMouse).data(), 1, 0), 1);
    EXPECT_FALSE(listed().contains(kMouse));
    int ret = -1;
    read(kMouse, 41, 1, &ret);
    EXPECT_EQ(ret, 0) << "the normal interface is gone while the boot loader runs";

    ASSERT_NE(usb.exist(bootId.data(), bootPath), 0);
    const QString boot = QString::fromUtf16(bootPath);
    EXPECT_TRUE(boot.contains(QStringLiteral("vid_258a&pid_ff12"), Qt::CaseInsensitive));
    const auto bp = wide(boot);

    uint8_t chunk[TVX_TRANSFER_BLOCK_SIZE] = {};
    EXPECT_EQ(usb.writeRom(bp.data(), chunk, 2000, 0), 0) << "flash is written only after an erase";
    EXPECT_EQ(usb.eraseRom(bp.data()), 1);
    std::vector<uint8_t> image(4000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 7);
    for (int k = 0; k < 3; ++k) {
        const int n = k < 2 ? 2000 : 0;
        std::fill(chunk, chunk + sizeof chunk, 0);
        std::copy(image.begin() + std::min(2000 * k, 4000),
                  image.begin() + std::min(2000 * k + n, 4000), chunk);
        EXPECT_EQ(usb.writeRom(bp.data(), chunk, n, 2000 * k), 1);
    }
    EXPECT_EQ(usb.checkRom(bp.data(), 4000, 0x12345678u), 1);
    EXPECT_EQ(usb.eraseRom(wide(kMouse).data()), 0) << "ROM steps need the boot loader's path";
    EXPECT_EQ(usb.finishRom(bp.data()), 1);

    EXPECT_TRUE(listed().contains(kMouse));
    EXPECT_EQ(usb.exist(bootId.data(), bootPath), 0);
    EXPECT_EQ(usb.updateVersion(wide(kMouse).data(), 2, 17), 1);

    const QJsonObject s = deviceState(kMouse);
    const QJsonObject rom = s.value(QStringLiteral("rom")).toObject();
    EXPECT_EQ(rom.value(QStringLiteral("image")).toString(),
              QString::fromLatin1(
                  QByteArray(reinterpret_cast<const char *>(image.data()), 4000).toHex()));
    EXPECT_EQ(rom.value(QStringLiteral("checkValue")).toDouble(), double(0x12345678u));
    EXPECT_EQ(rom.value(QStringLiteral("updates")).toInt(), 1);
    EXPECT_FALSE(s.value(QStringLiteral("bootloader")).toBool());

    // A device without a boot loader refuses the switch.
    QJsonArray devices = twoDevices();
    QJsonObject hfd = devices[1].toObject();
    hfd.insert(QStringLiteral("bootloader"), false);
    devices[1] = hfd;
    useDevices(devices);
    EXPECT_EQ(usb.reset(wide(kHfd).data(), 1, 0), 0);
    EXPECT_EQ(usb.bootLoader(wide(kHfd).data()), 0);
}

TEST_F(Protocol, HostileArgumentsAreRefused) {
    uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {};
    const auto p = wide(kMouse);
    for (auto fn : {usb.writeProperty, usb.writePropertyQpa, usb.readProperty, usb.writeHfd,
                    usb.writeStartTr, usb.readHfd}) {
        EXPECT_EQ(fn(nullptr, block, 1, 1), 0);
        EXPECT_EQ(fn(p.data(), nullptr, 1, 1), 0);
        EXPECT_EQ(fn(p.data(), block, 1, -1), 0);
        EXPECT_EQ(fn(p.data(), block, 1, 2049), 0);
    }
    // Reads deliver from offset 8: more than 2040 bytes would run past the block.
    EXPECT_EQ(usb.readProperty(p.data(), block, 1, 2041), 0);
    EXPECT_EQ(usb.readProperty(p.data(), block, 1, 2040), 1);

    // A path without its terminator within 510 units is not read past that.
    std::vector<uint16_t> endless(510, u'a');
    EXPECT_EQ(usb.writeProperty(endless.data(), block, 1, 1), 0);
    EXPECT_EQ(usb.reset(endless.data(), 2, 0), 0);
    const uint16_t empty[1] = {0};
    EXPECT_EQ(usb.writeProperty(empty, block, 1, 1), 0);

    EXPECT_EQ(usb.reset(nullptr, 2, 0), 0);
    EXPECT_EQ(usb.notify(nullptr, block, 2), 0);
    EXPECT_EQ(usb.notify(p.data(), nullptr, 2), 0);
    uint16_t pathBuffer[250];
    EXPECT_EQ(usb.exist(nullptr, pathBuffer), 0);
    EXPECT_EQ(usb.exist(wide(QStringLiteral("vid_258a")).data(), nullptr), 0);
    EXPECT_EQ(usb.exist(empty, pathBuffer), 0);
    EXPECT_EQ(usb.writeRom(p.data(), nullptr, 1, 0), 0);
    EXPECT_EQ(usb.writeRom(p.data(), block, 10, -1), 0);
    EXPECT_EQ(usb.writeRom(p.data(), block, 2000, 0x7FFFFFFF - 10), 0);
    EXPECT_EQ(usb.checkRom(p.data(), -5, 0), 0);
    EXPECT_EQ(usb.inputReport(p.data(), nullptr, 64, 100), 0);
    EXPECT_EQ(usb.inputReport(p.data(), block, 0, 100), 0);
    EXPECT_EQ(usb.eraseRom(nullptr), 0);
    EXPECT_EQ(usb.finishRom(nullptr), 0);
    EXPECT_EQ(usb.updateVersion(nullptr, 2, 17), 0);

    // After all that the device still works.
    EXPECT_EQ(write(kMouse, 1, {7}), 1);
    EXPECT_EQ(read(kMouse, 1, 1), std::vector<uint8_t>{7});
}
