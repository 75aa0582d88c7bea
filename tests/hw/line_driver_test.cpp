#include "hw/line_driver.h"
#include "support/recording.h"

#include <gtest/gtest.h>

using vardel::LineDriver;
using vardel::test::RecordingPort;
using Bytes = std::vector<std::uint8_t>;

TEST(LineDriver, EepromWiringComposesOneByteEachCall)
{
    RecordingPort port;
    LineDriver lines(port);
    lines.SetI2CLines(1, 1, 1);
    lines.SetI2CLines(1, 0, 1);
    lines.SetI2CLines(0, 0, 0);
    lines.SetI2CLines(0, 0, 0); // a repeated call writes again
    lines.SetI2CLines(0, 1, 0);
    lines.SetI2CLines(0, 0, 1);
    EXPECT_EQ(port.writes, (Bytes{0x1F, 0x17, 0x00, 0x00, 0x08, 0x10}));
}

TEST(LineDriver, AvrWiringComposesOneByteEachCall)
{
    RecordingPort port;
    LineDriver lines(port);
    lines.SetAvrLines(1, 0, 0, 0, 0);
    lines.SetAvrLines(1, 1, 1, 1, 1);
    lines.SetAvrLines(0, 0, 0, 0, 1);
    lines.SetAvrLines(0, 1, 0, 0, 0);
    lines.SetAvrLines(0, 0, 1, 0, 0);
    lines.SetAvrLines(0, 0, 0, 1, 0);
    EXPECT_EQ(port.writes, (Bytes{0x07, 0x7F, 0x08, 0x40, 0x20, 0x10}));
}

TEST(LineDriver, AnyNonZeroLevelIsHighAndIsStoredAsGiven)
{
    RecordingPort port;
    LineDriver lines(port);
    lines.SetI2CLines(2, 0xFF, 0);
    EXPECT_EQ(port.writes.back(), 0x0F);
    EXPECT_EQ(lines.i2cLevels().power, 2);
    EXPECT_EQ(lines.i2cLevels().scl, 0xFF);
    lines.SetAvrLines(0x80, 2, 3, 4, 5);
    EXPECT_EQ(port.writes.back(), 0x7F);
    EXPECT_EQ(lines.avrLevels().vcc, 0x80);
    EXPECT_EQ(lines.avrLevels().xtal, 5);
}

TEST(LineDriver, SingleLineSettersKeepTheOtherCachedLevels)
{
    RecordingPort port;
    LineDriver lines(port);
    lines.SetI2CLines(1, 0, 1);
    lines.SetI2CScl(1);
    lines.SetI2CSda(0);
    EXPECT_EQ(port.writes, (Bytes{0x17, 0x1F, 0x0F}));

    port.writes.clear();
    lines.SetAvrLines(1, 0, 0, 0, 1); // VCC on, RESET low, XTAL high
    lines.SetAvrMosi(1);
    lines.SetAvrXtal(0);
    lines.SetAvrXtal(1);
    lines.SetAvrSck(1);
    lines.SetAvrSck(0);
    EXPECT_EQ(port.writes, (Bytes{0x0F, 0x2F, 0x27, 0x2F, 0x6F, 0x2F}));
}

TEST(LineDriver, TheTwoWiringsKeepSeparateCaches)
{
    RecordingPort port;
    LineDriver lines(port);
    lines.SetAvrLines(1, 0, 1, 1, 0);
    lines.SetI2CLines(0, 0, 0);
    // The AVR setter drives its own stale levels back onto the port.
    lines.SetAvrSck(1);
    EXPECT_EQ(port.writes, (Bytes{0x37, 0x00, 0x77}));
    // And the EEPROM cache is untouched by the AVR calls.
    lines.SetI2CScl(1);
    EXPECT_EQ(port.writes.back(), 0x08);
}

TEST(LineDriver, InputsAreDecodedFromTheirStatusBitsWithOneReadEach)
{
    RecordingPort port;
    LineDriver lines(port);
    port.statusScript = {0x80, 0x00, 0x7F, 0x40, 0xBF, 0xFF};
    EXPECT_FALSE(lines.ReadI2CSda());
    EXPECT_TRUE(lines.ReadI2CSda());
    EXPECT_TRUE(lines.ReadI2CSda());
    EXPECT_TRUE(lines.ReadAvrMiso());
    EXPECT_FALSE(lines.ReadAvrMiso());
    EXPECT_TRUE(lines.ReadAvrMiso());
    EXPECT_EQ(port.reads, 6);
    EXPECT_TRUE(port.writes.empty());
}
