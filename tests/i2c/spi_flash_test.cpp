#include "sim/line_trace.h"
#include "sim/sim_board.h"
#include "sim/spi_flash_chip.h"
#include "spi/spi_flash.h"
#include "support/recording.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::test::PassingPort;
using vardel::test::RecordingHost;

namespace {

// Counts the program's port accesses and keeps its last data-register write; notes whether the
// flash was ever in 4-byte mode, and whether it still was when its supply went low.
class CountingPort final : public PassingPort {
public:
    using PassingPort::PassingPort;
    std::uint64_t accesses = 0;
    std::uint8_t lastData = 0xFF;
    sim::SpiFlashChip* chip = nullptr;
    bool sawFourByteMode = false;
    bool poweredOffInFourByteMode = false;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        ++accesses;
        return PassingPort::DlPortReadPortUchar(port);
    }

private:
    void written(std::uint16_t port, std::uint8_t value) override
    {
        ++accesses;
        if (port != LptDataPort)
            return;
        lastData = value;
        if (chip && chip->fourByteAddressing()) {
            sawFourByteMode = true;
            poweredOffInFourByteMode |= (value & 0x07) == 0;
        }
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

    explicit FlashBench(const char* part = "GD25Q16", const char* id = nullptr, bool random = true)
    {
        timing.MeasureClock();
        host.recordGauges = false;
        auto c = sim::MakeSpiFlashChip(part);
        chip = c.get();
        std::string error;
        if (id) {
            EXPECT_TRUE(chip->set("flash.id", id, error)) << error;
        }
        board.insertAvr(std::move(c));
        port.chip = chip;
        if (random)
            fill(0, chip->memory().size(), 3);
    }
    void fill(std::size_t from, std::size_t count, unsigned seed)
    {
        std::mt19937 rng(seed);
        for (std::size_t i = from; i < from + count; ++i)
            chip->memory()[i] = static_cast<std::uint8_t>(rng());
    }
};

std::vector<std::uint8_t> randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(count);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

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

// A whole-chip erase says how long it has lasted while it runs, and lets the window repaint.
TEST(SpiFlash, AChipEraseShowsItsTimeWhileItRuns)
{
    FlashBench bench;
    bench.host.recordGauges = true;
    ASSERT_EQ(bench.flash.EraseChip(), SpiFlash::Outcome::Done);
    EXPECT_TRUE(
        std::ranges::all_of(bench.chip->memory(), [](std::uint8_t b) { return b == 0xFF; }));
    const auto shown = std::ranges::count_if(bench.host.calls, [](const std::string& call) {
        return call.rfind("label Erasing the whole chip: ", 0) == 0;
    });
    EXPECT_GE(shown, 2);
    EXPECT_EQ(bench.board.data(), 0x00);
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

TEST(SpiFlash, AFourBytePartIsReadAndProgrammedAcrossSixteenMebibytesAndLeftInThreeByteMode)
{
    // The listed MX25L25645 by the 4-byte opcodes; the same chip with an ID the table lacks is
    // sized by SFDP and driven in 4-byte mode, entered with B7 and left with E9.
    const struct {
        const char* id;
        SpiFlash::Addressing addressing;
    } cases[] = {{nullptr, SpiFlash::Addressing::FourByteOpcodes},
                 {"C22099", SpiFlash::Addressing::FourByteMode}};
    constexpr std::uint32_t k16M = 16u << 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id ? c.id : "listed");
        FlashBench b("MX25L25645", c.id, false);
        b.fill(k16M - 8192, 16384, 5);
        std::vector<std::uint8_t> read;
        ASSERT_EQ(b.flash.Read(k16M - 4096, 8192, read), SpiFlash::Outcome::Done);
        EXPECT_EQ(b.flash.addressing(), c.addressing);
        EXPECT_EQ(b.flash.size(), 32 << 20);
        EXPECT_TRUE(std::equal(read.begin(), read.end(), b.chip->memory().begin() + k16M - 4096));
        // 6 KiB on each side: the four sectors around the boundary erased, the rest kept.
        std::vector<std::uint8_t> expected = b.chip->memory();
        const std::vector<std::uint8_t> bytes = randomBytes(12288, 6);
        std::copy(bytes.begin(), bytes.end(), expected.begin() + k16M - 6144);
        ASSERT_EQ(b.flash.Program(k16M - 6144, bytes, true), SpiFlash::Outcome::Done);
        EXPECT_EQ(b.flash.sectorsErased, 4);
        EXPECT_TRUE(b.chip->memory() == expected);
        EXPECT_EQ(b.port.sawFourByteMode, c.addressing == SpiFlash::Addressing::FourByteMode);
        EXPECT_FALSE(b.port.poweredOffInFourByteMode);
        // A cancel and a port that stops answering in the middle of a read leave it too.
        b.host.cancelAfterLabels = 1;
        EXPECT_EQ(b.flash.Read(read), SpiFlash::Outcome::Cancelled);
        EXPECT_FALSE(b.port.poweredOffInFourByteMode);
        EXPECT_EQ(b.port.lastData, 0);
        b.host.cancelAfterLabels = -1;
        b.host.cancel = false;
        b.board.stopAnsweringAfter(20000, true);
        EXPECT_THROW(b.flash.Read(read), PortError);
        EXPECT_FALSE(b.chip->fourByteAddressing());
    }
}

TEST(SpiFlash, TheSst25IsProgrammedByAaiAfterItsPowerUpProtectionIsCleared)
{
    FlashBench b("SST25VF016B");
    const std::vector<std::uint8_t> bytes = randomBytes(5000, 8);
    std::vector<std::uint8_t> expected = b.chip->memory();
    std::copy(bytes.begin(), bytes.end(), expected.begin() + 0x1FE000);
    ASSERT_EQ(b.flash.Program(0x1FE000, bytes, true), SpiFlash::Outcome::Done);
    EXPECT_EQ(b.flash.sectorsErased, 2);
    EXPECT_EQ(b.flash.pagesProgrammed, 32);
    EXPECT_TRUE(b.chip->memory() == expected);
    EXPECT_TRUE(b.host.messages().empty());
    EXPECT_EQ(b.port.lastData, 0);
}

TEST(SpiFlash, APartMissingFromTheTableIsSizedBySfdpOrOnlyNamedByItsId)
{
    const struct {
        const char* part;
        const char* id;
        bool sfdp;
        int bytes;
    } cases[] = {{"W25Q64", "EF4099", true, 8 << 20}, {"GD25Q16", "C84099", false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
        FlashBench b(c.part, c.id, false);
        ASSERT_EQ(b.flash.Identify(), SpiFlash::Outcome::Done);
        EXPECT_EQ(b.flash.describedBySfdp(), c.sfdp);
        EXPECT_EQ(b.flash.size(), c.bytes);
        EXPECT_STREQ(b.flash.part()->maker, c.part[0] == 'W' ? "Winbond" : "GigaDevice");
        EXPECT_EQ(b.flash.part()->erase32k, c.sfdp);
        EXPECT_EQ(b.flash.addressing(), SpiFlash::Addressing::ThreeBytes);
    }
}

TEST(SpiFlash, SigroksSpiflashDecoderReadsAReadAndAProgramTraceWithoutWarnings)
{
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sigrok-cli is not installed";
    const std::string vcd = ::testing::TempDir() + "spi_flash_trace.vcd";
    std::string decoded;
    {
        FlashBench b("GD25Q16", nullptr, false);
        std::fill_n(b.chip->memory().begin() + 0x1000, 4096, 0); // a sector erase first
        std::string error;
        std::unique_ptr<sim::LineTrace> trace(sim::LineTrace::create(vcd, error));
        ASSERT_TRUE(trace) << error;
        b.board.setTrace(trace.get());
        std::vector<std::uint8_t> read;
        ASSERT_EQ(b.flash.Read(0x100, 16, read), SpiFlash::Outcome::Done);
        ASSERT_EQ(b.flash.Program(0x1000, randomBytes(300, 4), false), SpiFlash::Outcome::Done);
        b.board.setTrace(nullptr);
        ASSERT_TRUE(trace->finish(error)) << error;
    }
    std::FILE* out = popen(("sigrok-cli -i " + vcd +
                            " -P spi:clk=sck:mosi=mosi:miso=miso:cs=reset,spiflash"
                            " -A spi=warnings,spiflash 2>&1")
                               .c_str(),
                           "r");
    ASSERT_NE(out, nullptr);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        decoded.append(buffer, n);
    EXPECT_EQ(pclose(out), 0) << decoded;
    // The identification, the read, the erase and both pages of the program, and no warning.
    EXPECT_EQ(decoded.find("arning"), std::string::npos) << decoded;
    for (const char* said : {"Read identification (RDID)", "Read data (addr 0x000100, 16 bytes)",
                             "Sector erase (SE)", "Page program (addr 0x001000, 256 bytes): 7a ae",
                             "Page program (addr 0x001100, 256 bytes): 1a ee"})
        EXPECT_NE(decoded.find(said), std::string::npos) << said;
}
