// The D2.0 setting encoders on their own: performance profile bytes, rate codes, byte values.

#include "translate/d2_settings.h"

#include <gtest/gtest.h>

using namespace torvanix;

namespace {

TEST(D2Settings, GlobalPerformanceBytes) {
    EXPECT_EQ(d2::globalPerformanceBytes(R"(["2.5","3500","0","1","0.25"])"),
              "32,2,32,3,0x00,0x00,0,1,19,0");
    EXPECT_EQ(d2::globalPerformanceBytes(R"([2.5, 3500, 0, 1, 0.25])"),
              "32,2,32,3,0x00,0x00,0,1,19,0");
    // Hundredths that binary floating point cannot hold exactly are not cut one short.
    EXPECT_EQ(d2::globalPerformanceBytes(R"(["2.3","4290","0.29","1.1","0.07"])"),
              "1e,2,1d,4,1d,0,a,1,7,0");
    // Cut, not rounded, after two decimals; 1.15 keeps its last hundredth.
    EXPECT_EQ(d2::globalPerformanceBytes(R"([1.999,"1999","1.15",1.009,"0.999"])"),
              "63,1,63,1,f,1,0,1,63,0");
    // Out of any byte pair's reach or not finite: no overflowing conversion, a zero pair.
    EXPECT_EQ(d2::globalPerformanceBytes(R"([1e300,"inf","nan"])"),
              "0x00,0x00,0x00,0x00,0x00,0x00");
    EXPECT_EQ(d2::globalPerformanceBytes(R"(["x"])"), "0x00,0x00");
    EXPECT_EQ(d2::globalPerformanceBytes("2.5"), "");
    EXPECT_EQ(d2::globalPerformanceBytes("{}"), "");
}

TEST(D2Settings, ReportRates) {
    const char *rates[] = {"125", "250", "500", "1000", "2000", "4000", "8000", "0", "", "abc"};
    const int codes[] = {0, 1, 2, 3, 4, 5, 5, 5, 5, 5};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(d2::reportRateCode(QString::fromLatin1(rates[i])), codes[i]) << rates[i];
    EXPECT_EQ(d2::reportRateFromCode(0), 125);
    EXPECT_EQ(d2::reportRateFromCode(3), 1000);
    EXPECT_EQ(d2::reportRateFromCode(4), 4);
    EXPECT_EQ(d2::reportRateFromCode(9), 9);
}

TEST(D2Settings, ByteValuesAndEffectKeys) {
    EXPECT_EQ(d2::byteOf("300"), "2c");
    EXPECT_EQ(d2::byteOf("-1"), "ff");
    EXPECT_EQ(d2::byteOf(""), "0");
    EXPECT_EQ(d2::effectKeyBytes("LightRGB", "ff8000"), "ff,80,00");
    EXPECT_EQ(d2::effectKeyBytes("LightBrightness", "15"), "15");
    EXPECT_EQ(d2::effectKeyBytes("LightMode", "16"), "10");
    EXPECT_EQ(d2::effectKeyBytes("LightDirection", "16"), "10");
    EXPECT_EQ(d2::effectKeyBytes("LightDirection", "16", false), "");
    EXPECT_EQ(d2::screenSlotRecord("00112233445566778899AABBCCDDEEFF", 300, 19),
              "00,11,22,33,44,55,66,77,88,99,AA,BB,CC,DD,EE,FF,2c,0x00,0x00");
}

} // namespace
