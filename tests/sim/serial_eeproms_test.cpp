#include "sim/serial_eeproms.h"

#include <gtest/gtest.h>

using namespace vardel::sim;

namespace {

// Drives a chip in the AVR socket line by line, a microsecond per change.
struct Lines {
    AvrSocketChip& chip;
    std::int64_t now = 0;
    bool vcc = true, cs = false, sck = false, mosi = false;

    void apply()
    {
        now += 1000;
        chip.pins(vcc, cs, false, sck, mosi, now);
    }
    void wait(std::int64_t ns)
    {
        now += ns;
        chip.timeIs(now);
    }
    void power(bool on)
    {
        vcc = on;
        cs = sck = mosi = false;
        apply();
    }
    // SPI mode 0, /CS is `cs` low: one byte each way.
    std::uint8_t spi(std::uint8_t out)
    {
        std::uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            mosi = (out >> bit) & 1;
            apply();
            in = static_cast<std::uint8_t>((in << 1) | (chip.miso() ? 1 : 0));
            sck = true;
            apply();
            sck = false;
            apply();
        }
        return in;
    }
    std::vector<std::uint8_t> frame(std::vector<std::uint8_t> out)
    {
        cs = false; // selected
        apply();
        for (std::uint8_t& b : out)
            b = spi(b);
        cs = true;
        apply();
        return out;
    }
    // Microwire: CS high, bits in on rising SK; returns DO after each rising edge.
    std::uint32_t bits(std::uint32_t value, int count)
    {
        std::uint32_t in = 0;
        for (int bit = count - 1; bit >= 0; --bit) {
            mosi = (value >> bit) & 1;
            apply();
            sck = true;
            apply();
            in = (in << 1) | (chip.miso() ? 1 : 0);
            sck = false;
            apply();
        }
        return in;
    }
};

std::uint8_t status(Lines& l)
{
    return l.frame({0x05, 0x00})[1];
}

} // namespace

TEST(Eeprom25xx, WritesNeedTheLatchWrapInTheirPageAndRunACycle)
{
    Eeprom25xx chip(*Eeprom25xx::findType("25256"));
    Lines l{chip};
    l.power(true);
    l.cs = true;
    l.apply();
    // Powered up with WEL reset: the write is lost.
    l.frame({0x02, 0x00, 0x10, 0xAA});
    EXPECT_EQ(chip.memory()[0x10], 0xFF);
    EXPECT_EQ(status(l), 0x00);
    l.frame({0x06});
    EXPECT_EQ(status(l), 0x02);
    // From the page's last byte on, bytes wrap to the page's start (64-byte pages).
    l.frame({0x02, 0x01, 0x3F, 0x11, 0x22, 0x33});
    EXPECT_EQ(chip.memory()[0x13F], 0x11);
    EXPECT_EQ(chip.memory()[0x100], 0x22);
    EXPECT_EQ(chip.memory()[0x101], 0x33);
    EXPECT_EQ(chip.memory()[0x140], 0xFF);
    // The cycle: WIP set, WEL reset, READ ignored (SO floats high) until it ends.
    EXPECT_EQ(status(l), 0x01);
    EXPECT_EQ(l.frame({0x03, 0x01, 0x00, 0x00})[3], 0xFF);
    l.wait(Eeprom25xx::kWriteCycleNs);
    EXPECT_EQ(status(l), 0x00);
    EXPECT_EQ(l.frame({0x03, 0x01, 0x3F, 0x00, 0x00})[3], 0x11);
    // Sequential reads roll over at the end of memory.
    chip.memory()[0x7FFF] = 0x5A;
    EXPECT_EQ(l.frame({0x03, 0x7F, 0xFF, 0x00, 0x00}),
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x5A, 0xFF}));
    // A supply cut during the cycle leaves the bytes being written erased, WEL reset.
    chip.memory()[0] = 0x77;
    l.frame({0x06});
    l.frame({0x02, 0x00, 0x00, 0x12});
    l.power(false);
    l.power(true);
    EXPECT_EQ(chip.memory()[0], 0xFF);
    l.cs = true;
    l.apply();
    EXPECT_EQ(status(l), 0x00);
}

TEST(Eeprom25xx, BlockProtectBitsGuardTheirPartAndTheStatusKeyTakesOnlyThem)
{
    Eeprom25xx chip(*Eeprom25xx::findType("25M01"));
    std::string error;
    for (const char* bad : {"03", "10", "8", "8C0", "ZZ", "-1"}) {
        EXPECT_FALSE(chip.set("eeprom.status", bad, error)) << bad;
        EXPECT_NE(error.find("eeprom.status takes"), std::string::npos);
    }
    EXPECT_FALSE(chip.set("eeprom.speed", "1", error));
    ASSERT_TRUE(chip.set("eeprom.status", "04", error));
    Lines l{chip};
    l.power(true);
    l.cs = true;
    l.apply();
    // BP = 01: the upper quarter (three address bytes on the 25LC1024).
    for (const std::uint32_t address : {0x17FFFu, 0x18000u}) {
        l.frame({0x06});
        l.frame({0x02, static_cast<std::uint8_t>(address >> 16),
                 static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
                 0x42});
        l.wait(Eeprom25xx::kWriteCycleNs);
    }
    EXPECT_EQ(chip.memory()[0x17FFF], 0x42);
    EXPECT_EQ(chip.memory()[0x18000], 0xFF);
    // WRSR needs the latch too, and keeps only WPEN, BP1 and BP0.
    l.frame({0x01, 0x00});
    EXPECT_EQ(chip.status(), 0x04);
    l.frame({0x06});
    l.frame({0x01, 0xFF});
    EXPECT_EQ(chip.status(), 0x8C);
}

TEST(Eeprom93Cxx, WritesNeedEwenAndShowBusyThenReady)
{
    Eeprom93Cxx chip(*Eeprom93Cxx::findType("93C46x16"));
    Lines l{chip};
    l.power(true);
    auto instruction = [&](std::uint32_t value, int count) {
        l.cs = true;
        l.apply();
        const std::uint32_t in = l.bits(value, count);
        l.cs = false;
        l.apply();
        return in;
    };
    // Start bit, WRITE (01), address 5, the word: lost while write-disabled.
    instruction(0b101'000101u << 16 | 0xBEEF, 9 + 16);
    EXPECT_EQ(chip.memory()[10], 0xFF);
    instruction(0b100'110000u, 9); // EWEN
    EXPECT_TRUE(chip.writeEnabled());
    instruction(0b101'000101u << 16 | 0xBEEF, 9 + 16);
    EXPECT_EQ(chip.memory()[10], 0xBE);
    EXPECT_EQ(chip.memory()[11], 0xEF);
    // CS high again: DO busy (0) during the cycle, ready (1) after it.
    l.cs = true;
    l.apply();
    EXPECT_FALSE(chip.miso());
    l.wait(Eeprom93Cxx::kWriteCycleNs);
    EXPECT_TRUE(chip.miso());
    // READ at 5: the dummy 0 comes with the last address bit, then word after word.
    l.cs = false;
    l.apply();
    l.cs = true;
    l.apply();
    EXPECT_EQ(l.bits(0b110'000101u, 9) & 1, 0u);
    EXPECT_EQ(l.bits(0, 16), 0xBEEFu);
    EXPECT_EQ(l.bits(0, 16), 0xFFFFu);
    l.cs = false;
    l.apply();
    // ERAL, then a supply cycle: write-disabled again.
    instruction(0b100'100000u, 9);
    l.wait(Eeprom93Cxx::kWriteCycleNs);
    EXPECT_EQ(chip.memory(), std::vector<std::uint8_t>(128, 0xFF));
    l.power(false);
    l.power(true);
    EXPECT_FALSE(chip.writeEnabled());
    instruction(0b101'000000u << 16 | 0x1234, 9 + 16);
    EXPECT_EQ(chip.memory()[0], 0xFF);
}

TEST(Eeprom25xx, AnAtmel25040ShowsBits7To4DuringAWriteAndHasNoWpen)
{
    Eeprom25xx chip(*Eeprom25xx::findType("25040"));
    std::string error;
    ASSERT_TRUE(chip.set("eeprom.maker", "atmel", error)) << error;
    Lines l{chip};
    l.power(true);
    l.cs = true;
    l.apply();
    l.frame({0x06});
    l.frame({0x01, 0x8C});
    EXPECT_EQ(status(l), 0xFD);
    l.wait(Eeprom25xx::kWriteCycleNs);
    EXPECT_EQ(status(l), 0x0C);
}
