#include "i2c/eeprom_page.h"
#include "i2c/i2c_bus.h"
#include "support/recording.h"

#include <gtest/gtest.h>

using namespace vardel;
using vardel::test::RecordingHost;
using vardel::test::RecordingPort;
using vardel::test::ScriptedClock;

namespace {

// Reads the bus back from the bytes written on the EEPROM wiring, as a logic analyser would:
// "S" for START, "P" for STOP, and each 9-bit frame as two hex digits of its first eight bits.
std::vector<std::string> decode(const std::vector<std::uint8_t>& writes)
{
    std::vector<std::string> events;
    bool scl = false, sda = false;
    unsigned bits = 0, count = 0;
    for (const std::uint8_t w : writes) {
        const bool nscl = w & 0x08, nsda = w & 0x10;
        if (scl && nscl && sda != nsda) {
            events.push_back(nsda ? "P" : "S");
            bits = count = 0;
        } else if (!scl && nscl) {
            bits = (bits << 1) | (nsda ? 1 : 0);
            if (++count == 9) {
                char text[8];
                std::snprintf(text, sizeof text, "%02X", (bits >> 1) & 0xFF);
                events.push_back(text);
                bits = count = 0;
            }
        }
        scl = nscl;
        sda = nsda;
    }
    return events;
}

struct Rig {
    RecordingPort port;
    ScriptedClock clock;
    LineDriver lines{port};
    BitTiming timing{clock};
    RecordingHost host;
    OperationLock lock;
    EepromPage page{lines, timing, host, lock};
    Rig()
    {
        timing.MeasureClock();
        timing.DelayFactor = 1;
        page.cbChipChange(FindEepromType("24C32")); // two address bytes
    }
    // Each pause reads the counter 27 times (1 MHz counter, one count per read, 25 us).
    int pausesSince(int reads) const { return (clock.counterReads - reads) / 27; }
};

} // namespace

TEST(I2CBus, WriteByteShowsEachBitOnTheRisingClockMostSignificantFirst)
{
    Rig rig;
    rig.lines.SetI2CLines(1, 1, 1);
    rig.port.writes.clear();
    const int reads = rig.clock.counterReads;
    rig.page.bus().I2CWriteByte(0xA0);
    std::vector<int> sampled;
    bool scl = true;
    for (const auto w : rig.port.writes) {
        if (!scl && (w & 0x08))
            sampled.push_back((w & 0x10) ? 1 : 0);
        scl = w & 0x08;
    }
    EXPECT_EQ(sampled, (std::vector<int>{1, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(rig.port.writes.size(), 24u);
    EXPECT_EQ(rig.pausesSince(reads), 24);
    // The acknowledge clock adds eight pauses: 32 for a byte sent.
    rig.page.bus().I2CReadAck();
    EXPECT_EQ(rig.pausesSince(reads), 32);
}

TEST(I2CBus, StartStopAndMasterAckLineOrder)
{
    Rig rig;
    I2CBus& bus = rig.page.bus();
    bus.I2CIdle();
    bus.I2CStart();
    EXPECT_EQ(rig.port.writes, (std::vector<std::uint8_t>{0x1F, 0x17, 0x07, 0x17, 0x1F, 0x0F}));
    rig.port.writes.clear();
    bus.I2CStop();
    EXPECT_EQ(rig.port.writes, (std::vector<std::uint8_t>{0x07, 0x07, 0x0F, 0x1F}));
    rig.port.writes.clear();
    bus.I2CMasterAck();
    EXPECT_EQ(rig.port.writes, (std::vector<std::uint8_t>{0x17, 0x07, 0x17, 0x07, 0x0F}));
}

TEST(I2CBus, ReadByteTakesSdaAsSeenAtEachSample)
{
    Rig rig;
    rig.port.status = 0x00; // SDA high
    EXPECT_EQ(rig.page.bus().I2CReadByte(), 0xFF);
    rig.port.status = 0x80; // SDA low
    EXPECT_EQ(rig.page.bus().I2CReadByte(), 0x00);
    rig.port.statusScript = {0x00, 0x80, 0x00, 0x80, 0x80, 0x80, 0x00, 0x00};
    EXPECT_EQ(rig.page.bus().I2CReadByte(), 0xA3);
    // A received bit costs four line changes.
    EXPECT_EQ(rig.port.writes.size(), 3 * 32u);
}

TEST(EepromWritePage, PutsControlAddressAndThePageOnTheBus)
{
    Rig rig;
    rig.port.statusScript = {0x00}; // the bus is free
    rig.port.status = 0x80;         // then the slave acknowledges everything
    for (int i = 0; i < 32; ++i)
        rig.page.EepromImage[0x1240 + i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_TRUE(rig.page.EepromWritePage(0x1240));
    std::vector<std::string> expected{"S", "A0", "12", "40"};
    for (int i = 0; i < 32; ++i) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", (i * 7) & 0xFF);
        expected.push_back(text);
    }
    expected.push_back("P");
    EXPECT_EQ(decode(rig.port.writes), expected);
}

TEST(EepromWritePage, SmallTypesTakeOneAddressByteAndBlockBitsIn16BytePages)
{
    Rig rig;
    rig.page.cbChipChange(FindEepromType("24C16"));
    rig.port.statusScript = {0x00};
    rig.port.status = 0x80;
    EXPECT_TRUE(rig.page.EepromWritePage(0x5A0));
    const auto events = decode(rig.port.writes);
    ASSERT_EQ(events.size(), 1u + 2 + 16 + 1);
    EXPECT_EQ(events[1], "AA"); // 0xA0 | 5 << 1
    EXPECT_EQ(events[2], "A0");
}

TEST(EepromWritePage, AddressBitsAboveTheWordAddressGoToTheControlByte)
{
    const EepromType& big = kEepromTypes[FindEepromType("24C1024")];
    EXPECT_EQ(ControlByte(big, 0xFFFF, true), 0xA1);
    EXPECT_EQ(ControlByte(big, 0x10000, true), 0xA3);
    EXPECT_EQ(ControlByte(kEepromTypes[FindEepromType("24C04")], 0x1FF, true), 0xA3);
    EXPECT_EQ(ControlByte(kEepromTypes[FindEepromType("24C512")], 0xFFFF, false), 0xA0);
}

TEST(EepromWritePage, AMissingAcknowledgeEndsThePageAtOnce)
{
    Rig rig;
    rig.port.status = 0x00; // nothing answers
    EXPECT_FALSE(rig.page.EepromWritePage(0));
    EXPECT_EQ(decode(rig.port.writes), (std::vector<std::string>{"S", "A0", "P"}));

    rig.port.writes.clear();
    rig.port.statusScript = {0x00, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
    EXPECT_FALSE(rig.page.EepromWritePage(0x20));
    const auto events = decode(rig.port.writes);
    ASSERT_EQ(events.size(), 1u + 3 + 5 + 1); // control, two address bytes, five data bytes
    EXPECT_EQ(events.back(), "P");
}

TEST(EepromWritePage, AStuckBusIsNoChip)
{
    Rig rig;
    rig.port.status = 0x80; // SDA low even with every line released
    EXPECT_FALSE(rig.page.EepromWritePage(0));
    EXPECT_EQ(decode(rig.port.writes), (std::vector<std::string>{"P"}));
    rig.port.writes.clear();
    EXPECT_FALSE(rig.page.EepromReadAll());
    EXPECT_EQ(decode(rig.port.writes), (std::vector<std::string>{"P"}));
}

TEST(EepromGrid, CellTexts)
{
    std::vector<std::uint8_t> image(65536, 0xFF);
    image[13] = 0x41;
    image[0] = 0x00;
    image[1] = 0x1F;
    image[2] = 0x80;
    image[3] = 0x9F;
    image[4] = 0x7F;
    image[5] = 0xA0;
    EXPECT_EQ(GridCellText(image.data(), 0, 0), "0000");
    EXPECT_EQ(GridCellText(image.data(), 63, 0), "01F8");
    EXPECT_EQ(GridCellText(image.data(), 8191, 0), "FFF8");
    // Position 13 is row 1, hex column 6, character column 14.
    EXPECT_EQ(GridCellText(image.data(), 1, 6), "41");
    EXPECT_EQ(GridCellText(image.data(), 1, 14), "A");
    const std::string dot = "\xC2\xB7";
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(GridCellText(image.data(), 0, 9 + k), dot) << k;
    EXPECT_EQ(GridCellText(image.data(), 0, 13), dot); // DEL is a control character
    EXPECT_EQ(GridCellText(image.data(), 0, 14), "\xC2\xA0");
    EXPECT_EQ(GridCellText(image.data(), 0, 15), "\xC3\xBF"); // 255 is printable
    EXPECT_EQ(GridCellText(image.data(), 0, 1), "00");
    EXPECT_EQ(GridCellText(image.data(), 0, 7), "FF");
    // The upper half of a 24C1024 takes a fifth digit.
    const std::vector<std::uint8_t> big(131072, 0x5A);
    EXPECT_EQ(GridCellText(big.data(), 8191, 0), "FFF8");
    EXPECT_EQ(GridCellText(big.data(), 8192, 0), "10000");
    EXPECT_EQ(GridCellText(big.data(), 16383, 0), "1FFF8");
    EXPECT_EQ(GridCellText(big.data(), 16383, 8), "5A");
}

TEST(EepromTypes, EachFamilyGrowsInListOrderAndItsAddressesReachTheWholeChip)
{
    EepromBus bus = EepromBus::I2C;
    int previous = 0;
    for (const EepromType& t : kEepromTypes) {
        SCOPED_TRACE(t.name);
        // The families follow each other, each from its smallest type up.
        EXPECT_TRUE(t.bus == bus || static_cast<int>(t.bus) == static_cast<int>(bus) + 1);
        EXPECT_TRUE(t.size >= previous || t.bus != bus);
        bus = t.bus;
        previous = t.size;
        EXPECT_EQ(t.size % t.pageSize, 0);
        EXPECT_EQ(FindEepromType(t.name), &t - kEepromTypes.data());
        if (t.bus == EepromBus::Spi) {
            // Address bytes plus the 25040's a8 in the instruction cover the chip, no more.
            const int reach = t.addressBytes == 1 ? 512 : 1 << (8 * t.addressBytes);
            EXPECT_LE(t.size, reach);
            EXPECT_GT(t.size, t.addressBytes == 1 ? 0 : reach >> 8);
        } else if (t.bus == EepromBus::Microwire) {
            // The address field counts words; the 93C56 and 93C76 carry one don't-care bit.
            const int words = t.size * 8 / t.wordBits;
            EXPECT_GE(1 << t.addressBits, words);
            EXPECT_LE(1 << t.addressBits, 2 * words);
            EXPECT_EQ(t.pageSize, t.wordBits / 8);
        }
    }
    EXPECT_EQ(std::string(kEepromTypes[kInitialEepromType].entry), "24C128 -16 kb");
    EXPECT_EQ(FindEepromType("24c512"), 9);
    EXPECT_EQ(FindEepromType("25m01"), FindEepromType("25LC1024"));
    EXPECT_EQ(FindEepromType("93c46X16"), FindEepromType("93C46x16"));
    EXPECT_EQ(FindEepromType("24C2048"), -1);
    Rig rig;
    rig.page.EepromImage[600] = 0x12;
    rig.page.cbChipChange(FindEepromType("24C04"));
    EXPECT_EQ(rig.page.ChipSize, 512);
    EXPECT_EQ(rig.page.EepromImage[511], 0xFF);
    EXPECT_EQ(rig.page.EepromImage[600], 0x12); // beyond the chip: kept
}
