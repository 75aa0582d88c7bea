#include "sim/sim_board.h"
#include "sim/spi_flash_chip.h"
#include "spi/spi_flash.h"
#include "support/recording.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::test::PassingPort;
using vardel::test::RecordingHost;

namespace {

// Counts the program's port accesses and keeps its last data-register write.
class CountingPort final : public PassingPort {
public:
    using PassingPort::PassingPort;
    std::uint64_t accesses = 0;
    std::uint8_t lastData = 0xFF;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        ++accesses;
        return PassingPort::DlPortReadPortUchar(port);
    }

private:
    void written(std::uint16_t port, std::uint8_t value) override
    {
        ++accesses;
        if (port == LptDataPort)
            lastData = value;
    }
};

struct FlashBench {
    VirtualClock clock;
    sim::SimBoard board{clock};
    CountingPort port{board};
    LineDriver lines{port};
    BitTiming timing{clock};
    RecordingHost host;
    OperationLock lock;
    SpiFlash flash{lines, timing, host, lock};
    sim::SpiFlashChip* chip = nullptr;

    FlashBench()
    {
        timing.MeasureClock();
        host.recordGauges = false;
        auto c = sim::MakeSpiFlashChip("GD25Q16");
        chip = c.get();
        board.insertAvr(std::move(c));
        std::mt19937 rng(3);
        for (std::uint8_t& b : chip->memory())
            b = static_cast<std::uint8_t>(rng());
    }
};

} // namespace

TEST(SpiFlash, TheWinbondProtectionMapGivesEachRange)
{
    // W25Q64 (8 MiB, BP 001 = the upper 128K): TB the bottom, SEC 4K steps, CMP the complement.
    const struct {
        std::uint16_t status;
        std::uint32_t from, to; // to 0: nothing protected
    } cases[] = {
        {0x0000, 0, 0},
        {0x0004, 0x7E0000, 0x800000},
        {0x000C, 0x780000, 0x800000},
        {0x0018, 0x400000, 0x800000},
        {0x0024, 0, 0x20000},
        {0x0038, 0, 0x400000},
        {0x001C, 0, 0x800000},
        {0x0044, 0x7FF000, 0x800000},
        {0x0064, 0, 0x1000},
        {0x0054, 0x7F8000, 0x800000},
        {0x4004, 0, 0x7E0000},
        {0x401C, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        const auto range = WinbondProtectedRange(c.status, 8 << 20, 128 << 10);
        ASSERT_EQ(range.has_value(), c.to != 0);
        if (range) {
            EXPECT_EQ(range->from, c.from);
            EXPECT_EQ(range->to, c.to);
        }
    }
}

TEST(SpiFlash, AReadTakesThreePortAccessesABitAndEndsWithTheLinesLow)
{
    FlashBench b;
    std::vector<std::uint8_t> read;
    ASSERT_EQ(b.flash.Read(read), SpiFlash::Outcome::Done);
    EXPECT_EQ(read, b.chip->memory());
    const std::uint64_t bits = std::uint64_t{8} * read.size();
    EXPECT_GE(b.port.accesses, 3 * bits);
    EXPECT_LT(b.port.accesses, 3 * bits + bits / 100);
    EXPECT_EQ(b.port.lastData, 0);
}

TEST(SpiFlash, AChangeWithinOneSectorErasesItAloneAndProgramsItsPages)
{
    FlashBench b;
    std::vector<std::uint8_t> image = b.chip->memory();
    for (int i = 0; i < 100; ++i)
        image[0x23000 + static_cast<std::size_t>(i) * 40] ^= 0x5A;
    ASSERT_EQ(b.flash.Program(image, true), SpiFlash::Outcome::Done);
    EXPECT_EQ(b.flash.sectorsErased, 1);
    EXPECT_EQ(b.flash.blocksErased, 0);
    EXPECT_EQ(b.flash.pagesProgrammed, 16);
    EXPECT_EQ(b.chip->erasedBytes(), 4096u);
    EXPECT_EQ(b.chip->memory(), image);
    EXPECT_EQ(b.port.lastData, 0);
}

TEST(SpiFlash, APageThatStaysBusyPastItsDeadlineFailsTheProgramWithTheLinesLow)
{
    // The GD25Q16's page limit is 50 ms (no maximum known): 40 ms more stays within it, 60 not.
    const struct {
        std::int64_t extraNs;
        SpiFlash::Outcome outcome;
    } cases[] = {{40'000'000, SpiFlash::Outcome::Done}, {60'000'000, SpiFlash::Outcome::Failed}};
    for (const auto& c : cases) {
        FlashBench b;
        b.chip->extraBusyNs = c.extraNs;
        std::vector<std::uint8_t> image = b.chip->memory();
        // One byte's bits cleared: a page program without an erase.
        *std::find_if(image.begin(), image.end(), [](std::uint8_t v) { return v != 0; }) = 0;
        EXPECT_EQ(b.flash.Program(image, false), c.outcome);
        EXPECT_EQ(b.flash.pagesProgrammed, c.outcome == SpiFlash::Outcome::Done ? 1 : 0);
        EXPECT_EQ(b.port.lastData, 0);
        const auto messages = b.host.messages();
        EXPECT_EQ(!messages.empty() &&
                      messages.back().find("did not end in time") != std::string::npos,
                  c.outcome == SpiFlash::Outcome::Failed);
    }
}
