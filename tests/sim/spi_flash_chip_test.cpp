#include "sim/spi_flash_chip.h"

#include <gtest/gtest.h>

using namespace vardel::sim;

namespace {

// SPI mode 0 on the AVR socket's lines, a microsecond per line change; `reset` is /CS.
struct Lines {
    SpiFlashChip& chip;
    std::int64_t now = 0;
    bool reset = true, sck = false, mosi = false;

    void apply()
    {
        now += 1000;
        chip.pins(true, reset, false, sck, mosi, now);
    }
    void wait(std::int64_t ns)
    {
        now += ns;
        chip.timeIs(now);
    }
    std::vector<std::uint8_t> frame(std::vector<std::uint8_t> bytes)
    {
        reset = false;
        apply();
        for (std::uint8_t& b : bytes) {
            std::uint8_t in = 0;
            for (int bit = 7; bit >= 0; --bit) {
                mosi = (b >> bit) & 1;
                sck = false;
                apply();
                in = static_cast<std::uint8_t>((in << 1) | (chip.miso() ? 1 : 0));
                sck = true;
                apply();
            }
            b = in;
        }
        sck = false;
        apply();
        reset = true;
        apply();
        return bytes;
    }
    std::uint8_t status() { return frame({0x05, 0})[1]; }
    std::vector<std::uint8_t> read(std::uint32_t a, std::size_t n)
    {
        std::vector<std::uint8_t> out{0x03, std::uint8_t(a >> 16), std::uint8_t(a >> 8),
                                      std::uint8_t(a)};
        out.resize(4 + n);
        out = frame(out);
        return {out.begin() + 4, out.end()};
    }
};

} // namespace

TEST(SpiFlashChip, AnswersItsIdsSleepsInDeepPowerDownAndWakesOnRes)
{
    const struct {
        const char* part;
        std::vector<std::uint8_t> id;
        std::uint8_t deviceId;
    } cases[] = {{"W25Q64", {0xEF, 0x40, 0x17}, 0x16}, {"GD25Q16", {0xC8, 0x40, 0x15}, 0x14}};
    for (const auto& c : cases) {
        auto chip = MakeSpiFlashChip(c.part);
        Lines l{*chip};
        l.apply();
        EXPECT_EQ(l.frame({0x9F, 0, 0, 0}),
                  (std::vector<std::uint8_t>{0xFF, c.id[0], c.id[1], c.id[2]}));
        l.frame({0xB9});
        EXPECT_TRUE(chip->poweredDown());
        EXPECT_EQ(l.frame({0x9F, 0, 0, 0})[1], 0xFF);
        EXPECT_EQ(l.frame({0xAB, 0, 0, 0, 0})[4], c.deviceId);
        EXPECT_FALSE(chip->poweredDown());
    }
}

TEST(SpiFlashChip, ProgramsOnlyClearBitsWrapInThePageAndEndTheLatch)
{
    auto chip = MakeSpiFlashChip("GD25Q16");
    Lines l{*chip};
    l.apply();
    l.frame({0x02, 0, 0x01, 0xFE, 0x00}); // no WREN: ignored
    EXPECT_EQ(l.read(0x1FE, 1)[0], 0xFF);
    l.frame({0x06});
    EXPECT_EQ(l.status(), 0x02);
    l.frame({0x02, 0, 0x01, 0xFE, 0xF0, 0xF1, 0x3C}); // the third byte wraps to 0x100
    EXPECT_EQ(l.status(), 0x01);                      // busy, latch ended
    l.frame({0x06});                                  // ignored while busy
    l.wait(400'000);
    EXPECT_EQ(l.status(), 0x00);
    EXPECT_EQ(l.read(0x1FE, 2), (std::vector<std::uint8_t>{0xF0, 0xF1}));
    EXPECT_EQ(l.read(0x100, 2), (std::vector<std::uint8_t>{0x3C, 0xFF}));
    l.frame({0x06});
    l.frame({0x02, 0, 0x01, 0x00, 0x0F});
    l.wait(400'000);
    EXPECT_EQ(l.read(0x100, 1)[0], 0x0C); // the AND of both
    l.frame({0x06});
    l.frame({0x20, 0, 0x01, 0x23});
    l.wait(44'000'000);
    EXPECT_EQ(l.status() & 1, 1);
    l.wait(1'000'000);
    EXPECT_EQ(l.status(), 0x00);
    EXPECT_EQ(l.read(0x100, 1)[0], 0xFF);
    EXPECT_EQ(chip->erasedBytes(), 4096u);
}

TEST(SpiFlashChip, IgnoresProgramsAndErasesIntoTheProtectedRange)
{
    // GD25Q16: BP0 the upper 64K, with TB the lower, with CMP all but the upper 64K.
    const struct {
        const char* status;
        std::uint32_t address;
        bool kept;
    } cases[] = {{"04", 0x1F0000, true},  {"04", 0x1E0000, false},  {"24", 0x000000, true},
                 {"24", 0x1F0000, false}, {"4004", 0x000000, true}, {"4004", 0x1F0000, false},
                 {"1C", 0x000000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.status) + " " + std::to_string(c.address));
        auto chip = MakeSpiFlashChip("GD25Q16");
        std::string error;
        ASSERT_TRUE(chip->set("flash.status", c.status, error)) << error;
        Lines l{*chip};
        l.apply();
        const auto a = [&](int shift) {
            return std::uint8_t(c.address >> shift);
        };
        l.frame({0x06});
        l.frame({0x02, a(16), a(8), a(0), 0x00});
        EXPECT_EQ(l.status() & 0x02, 0); // the latch ends either way
        l.wait(1'000'000);
        EXPECT_EQ(l.read(c.address, 1)[0], c.kept ? 0xFF : 0x00);
        l.frame({0x06});
        l.frame({0xD8, a(16), a(8), a(0)});
        l.wait(200'000'000);
        EXPECT_EQ(chip->erasedBytes(), c.kept ? 0u : 65536u);
    }
}

TEST(SpiFlashChip, TheMx25l25645TakesFourAddressBytesAfterB7AndByItsFourByteOpcodes)
{
    auto chip = MakeSpiFlashChip("MX25L25645");
    chip->memory()[0x1000002] = 0x42;
    chip->memory()[0x000002] = 0x24;
    Lines l{*chip};
    l.apply();
    const std::vector<std::uint8_t> read4 = {0x13, 0x01, 0x00, 0x00, 0x02, 0};
    EXPECT_EQ(l.frame(read4)[5], 0x42);
    // 03 with three address bytes reaches the lower 16 MiB only; after B7 it takes four.
    EXPECT_EQ(l.read(0x000002, 1)[0], 0x24);
    l.frame({0xB7});
    EXPECT_TRUE(chip->fourByteAddressing());
    EXPECT_EQ(l.frame({0x03, 0x01, 0x00, 0x00, 0x02, 0})[5], 0x42);
    l.frame({0x06});
    l.frame({0x21, 0x01, 0x00, 0x00, 0x00}); // SE4B
    l.wait(50'000'000);
    EXPECT_EQ(chip->memory()[0x1000002], 0xFF);
    l.frame({0xE9});
    EXPECT_FALSE(chip->fourByteAddressing());
    EXPECT_EQ(l.read(0x000002, 1)[0], 0x24);
    // Power cycled: 3-byte mode again.
    l.frame({0xB7});
    chip->pins(false, true, false, false, false, l.now);
    EXPECT_FALSE(chip->fourByteAddressing());
}

TEST(SpiFlashChip, TheSst25ComesUpProtectedAndProgramsTwoBytesAFrameInAai)
{
    auto chip = MakeSpiFlashChip("SST25VF016B");
    Lines l{*chip};
    l.apply();
    EXPECT_EQ(l.status(), 0x1C);
    EXPECT_EQ(l.frame({0x90, 0, 0, 1, 0, 0}),
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0xBF}));
    l.frame({0x06});
    l.frame({0xAD, 0, 0x10, 0x00, 0x11, 0x22}); // protected: nothing written
    l.frame({0x04});
    l.frame({0x50});
    l.frame({0x01, 0x00});
    EXPECT_EQ(l.status(), 0x00);
    l.frame({0x06});
    l.frame({0xAD, 0, 0x10, 0x01, 0x11, 0x22}); // A0 is taken as 0
    EXPECT_EQ(l.status(), 0x42); // AAI and WEL: the word's 7 us are over by the status bits
    l.frame({0xAD, 0x33, 0x44});
    l.frame({0x04});
    EXPECT_EQ(l.status(), 0x00);
    EXPECT_EQ(l.read(0x1000, 5), (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44, 0xFF}));
    l.frame({0x06});
    l.frame({0x02, 0, 0x10, 0x04, 0x0F, 0x00}); // byte program: the first data byte alone
    EXPECT_EQ(l.read(0x1004, 2), (std::vector<std::uint8_t>{0x0F, 0xFF}));
    // Power cycled: BP0-BP2 set again.
    chip->pins(false, true, false, false, false, l.now);
    l.apply();
    EXPECT_EQ(l.status(), 0x1C);
}

TEST(SpiFlashChip, AnswersSfdpWithItsSignatureAndDensity)
{
    const struct {
        const char* part;
        std::uint32_t densityBits;
        std::uint8_t addressModes; // DWORD1 bits 18:17
    } cases[] = {{"W25Q64", 64u << 20, 0}, {"MX25L25645", 256u << 20, 1}};
    for (const auto& c : cases) {
        auto chip = MakeSpiFlashChip(c.part);
        Lines l{*chip};
        l.apply();
        std::vector<std::uint8_t> frame = {0x5A, 0, 0, 0, 0};
        frame.resize(5 + 0x38);
        frame = l.frame(frame);
        const std::uint8_t* sfdp = frame.data() + 5;
        EXPECT_EQ(std::string(sfdp, sfdp + 4), "SFDP");
        const std::uint32_t table = sfdp[12];
        std::uint32_t density = 0;
        for (int i = 3; i >= 0; --i)
            density = density << 8 | sfdp[table + 4 + static_cast<std::uint32_t>(i)];
        EXPECT_EQ(density, c.densityBits - 1);
        EXPECT_EQ((sfdp[table + 2] >> 1) & 3, c.addressModes);
    }
    auto chip = MakeSpiFlashChip("GD25Q16");
    Lines l{*chip};
    l.apply();
    EXPECT_EQ(l.frame({0x5A, 0, 0, 0, 0, 0})[5], 0xFF);
}
