#include "i2c/eeprom_page.h"
#include "sim/serial_eeproms.h"
#include "sim/sim_board.h"
#include "support/recording.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::test::PassingPort;
using vardel::test::RecordingHost;
using Outcome = EepromPage::Outcome;

namespace {

// Splits the data-register writes into SPI frames: the MOSI bytes clocked in (rising SCK) while
// RESET, the 25xx's /CS, is low.
class SpiFrames final : public PassingPort {
public:
    using PassingPort::PassingPort;
    std::vector<std::vector<std::uint8_t>> frames;

private:
    void written(std::uint16_t port, std::uint8_t value) override
    {
        if (port == LptDataPort && (value & 0x07)) {
            const bool selected = !(value & 0x10);
            if (selected && !(last_ & 0x40) && (value & 0x40)) {
                if (bits_ == 0)
                    frame_.push_back(0);
                frame_.back() =
                    static_cast<std::uint8_t>((frame_.back() << 1) | ((value >> 5) & 1));
                bits_ = (bits_ + 1) % 8;
            }
            if (!selected && !frame_.empty()) {
                frames.push_back(frame_);
                frame_.clear();
            }
        }
        last_ = value;
    }

    std::uint8_t last_ = 0;
    int bits_ = 0;
    std::vector<std::uint8_t> frame_;
};

// Holds the program off the processor for 60 ms once, after the `look`-th status read since the
// chip select last changed, if the chip's write cycle runs then.
class Descheduling final : public PassingPort {
public:
    Descheduling(PortIo& inner, VirtualClock& clock) : PassingPort(inner), clock_(clock) {}
    int look = 0;
    sim::AvrSocketEeprom* chip = nullptr;
    bool held = false;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        const std::uint8_t value = PassingPort::DlPortReadPortUchar(port);
        if (++reads_ == look && !held && chip->inWriteCycle(clock_.nanoseconds())) {
            held = true;
            clock_.advance(60'000'000);
        }
        return value;
    }

private:
    void written(std::uint16_t, std::uint8_t value) override
    {
        reads_ = (value ^ last_) & 0x10 ? 0 : reads_;
        last_ = value;
    }
    VirtualClock& clock_;
    std::uint8_t last_ = 0;
    int reads_ = 0;
};

// The EEPROM page with a 25xx or 93Cxx on the simulated board's AVR socket.
struct SerialBench {
    VirtualClock clock;
    sim::SimBoard board{clock};
    Descheduling held{board, clock};
    SpiFrames port{held};
    LineDriver lines{port};
    BitTiming timing{clock};
    RecordingHost host;
    OperationLock lock;
    EepromPage page{lines, timing, host, lock};
    sim::AvrSocketEeprom* chip = nullptr;

    // chipType: the chip in the socket, when it is not the type chosen.
    explicit SerialBench(const std::string& type, bool withChip = true,
                         const std::string& chipType = {})
    {
        timing.MeasureClock();
        timing.DelayFactor = 1;
        host.recordGauges = false;
        page.cbChipChange(FindEepromType(type));
        if (withChip) {
            auto c = sim::MakeAvrSocketEeprom(chipType.empty() ? type : chipType);
            chip = c.get();
            held.chip = chip;
            board.insertAvr(std::move(c));
        }
    }
    std::vector<std::uint8_t> randomImage(unsigned seed)
    {
        std::mt19937 rng(seed);
        for (int i = 0; i < page.ChipSize; ++i)
            page.EepromImage[i] = static_cast<std::uint8_t>(rng());
        return {page.EepromImage.begin(), page.EepromImage.begin() + page.ChipSize};
    }
};

} // namespace

TEST(SerialEepromCommands, RandomFullImagesRoundTripOnBothBuses)
{
    for (const char* type :
         {"25010", "25040", "25256", "25LC1024", "93C46x8", "93C46x16", "93C56x16", "93C86x8"}) {
        SCOPED_TRACE(type);
        SerialBench b(type);
        const std::vector<std::uint8_t> image = b.randomImage(static_cast<unsigned>(type[3]));
        EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
        EXPECT_EQ(b.chip->memory(), image);
        EXPECT_EQ(b.board.data(), 0x00);
        EXPECT_EQ(b.page.Verificar1Click(), Outcome::Done);
        std::fill_n(b.page.EepromImage.begin(), b.page.ChipSize, 0x00);
        EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Done);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), b.page.EepromImage.begin()));
        EXPECT_EQ(b.board.data(), 0x00);
        // A byte the chip holds otherwise is found where it is.
        const int odd = b.page.ChipSize - 3;
        b.chip->memory()[odd] ^= 0x10;
        EXPECT_EQ(b.page.Verificar1Click(), Outcome::Failed);
        EXPECT_EQ(b.host.messages(),
                  (std::vector<std::string>{
                      "VERIFICATION COMPLETE|Weryfikacja chipu przebiegła prawidłowo!!!",
                      "VERIFICATION ERROR|Defference found at byte no.: " + std::to_string(odd)}));
    }
}

TEST(SerialEepromCommands, AWriteProtected25256IsLeftAloneUnlessTheUserClearsItsBits)
{
    using P = EepromPage::Protection;
    const std::string range = "The 25256 is write-protected from 0x4000 to 0x7FFF (block-protect "
                              "bits BP1 BP0 = 10).";
    struct Case {
        P protection;
        Host::Result answer;
        Outcome outcome;
        const char* status;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases{
        {P::Refuse,
         Host::Result::Ok,
         Outcome::Failed,
         "88",
         {"ERROR|" + range + "\rNothing was written."}},
        {P::Ask,
         Host::Result::Cancel,
         Outcome::Cancelled,
         "88",
         {"WARNING:|" + range +
          "\rClear the block-protect bits and program the whole chip?|okcancel|default "
          "cancel|exclamation"}},
        {P::Ask,
         Host::Result::Ok,
         Outcome::Done,
         "80",
         {"WARNING:|" + range +
          "\rClear the block-protect bits and program the whole chip?|okcancel|default "
          "cancel|exclamation"}},
        {P::Clear, Host::Result::Ok, Outcome::Done, "80", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status + std::to_string(static_cast<int>(c.protection)));
        SerialBench b("25256");
        std::string error;
        ASSERT_TRUE(b.chip->set("eeprom.status", "88", error)) << error;
        const std::vector<std::uint8_t> image = b.randomImage(3);
        b.page.protection = c.protection;
        b.host.answers = {c.answer};
        EXPECT_EQ(b.page.Grabarchip1Click(), c.outcome);
        EXPECT_EQ(b.chip->memory() == image, c.outcome == Outcome::Done);
        if (c.outcome != Outcome::Done) {
            EXPECT_EQ(b.chip->memory(), std::vector<std::uint8_t>(32768, 0xFF));
        }
        sim::ChipKeys keys;
        b.chip->describe(keys);
        EXPECT_EQ(keys["eeprom.status"], c.status);
        EXPECT_EQ(b.host.messages(), c.messages);
        EXPECT_EQ(b.page.refusedProtected(), c.outcome != Outcome::Done);
        EXPECT_EQ(b.board.data(), 0x00);
    }
}

TEST(SerialEepromCommands, AnEmptyAvrSocketAnswersNeitherBus)
{
    for (const char* type : {"25256", "93C46x16"}) {
        SCOPED_TRACE(type);
        SerialBench b(type, false);
        EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Failed);
        EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Failed);
        EXPECT_EQ(b.page.Verificar1Click(), Outcome::Failed);
        const std::string error = "ERROR|" + b.page.NoAnswerMessage();
        EXPECT_EQ(b.host.messages(), (std::vector<std::string>{error, error, error}));
        EXPECT_EQ(b.board.data(), 0x00);
    }
}

TEST(SerialEepromCommands, Each25040PageIsEnabledAndWrittenWithinItsPageWithA8InTheInstruction)
{
    SerialBench b("25040");
    const std::vector<std::uint8_t> image = b.randomImage(9);
    ASSERT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
    int pages = 0;
    for (std::size_t i = 0; i < b.port.frames.size(); ++i) {
        const std::vector<std::uint8_t>& f = b.port.frames[i];
        if ((f[0] & 0xF7) != 0x02)
            continue;
        SCOPED_TRACE(pages);
        // WREN, then RDSR to see the latch set, then the page.
        ASSERT_GE(i, 2u);
        EXPECT_EQ(b.port.frames[i - 2], (std::vector<std::uint8_t>{0x06}));
        EXPECT_EQ(b.port.frames[i - 1][0], 0x05);
        const unsigned address = ((f[0] >> 3) & 1u) << 8 | f[1];
        EXPECT_EQ(address, pages * 8u);
        ASSERT_EQ(f.size(), 2u + 8u);
        EXPECT_TRUE(std::equal(f.begin() + 2, f.end(), image.begin() + address));
        ++pages;
    }
    EXPECT_EQ(pages, 512 / 8);
}

TEST(SerialEepromCommands, EraseAllEmptiesA93CxxAndIsRefusedForOtherTypes)
{
    SerialBench b("93C66x8");
    b.randomImage(4);
    ASSERT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
    ASSERT_NE(b.chip->memory(), std::vector<std::uint8_t>(512, 0xFF));
    EXPECT_EQ(b.page.EraseAllClick(), Outcome::Done);
    EXPECT_EQ(b.chip->memory(), std::vector<std::uint8_t>(512, 0xFF));
    EXPECT_EQ(b.board.data(), 0x00);

    SerialBench spi("25256");
    EXPECT_EQ(spi.page.EraseAllClick(), Outcome::Failed);
    EXPECT_TRUE(spi.port.frames.empty());
}

TEST(SerialEepromCommands, OtherMakers25xxAndStatusChecksDelayedPastTheBusyLimitProgram)
{
    const struct {
        const char* type;
        const char* maker;
        int look; // the status read after which the program is held off; 0: none
    } cases[] = {{"25040", "atmel", 0},
                 {"25020", "st", 0},
                 {"25256", "atmel", 0},
                 {"25256", "st", 16},
                 {"93C46x16", "", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + c.maker);
        SerialBench b(c.type);
        std::string error;
        // All protected: cleared first, with ST's bits 7..4 read as ones.
        ASSERT_TRUE(!*c.maker || (b.chip->set("eeprom.maker", c.maker, error) &&
                                  b.chip->set("eeprom.status", "8C", error)))
            << error;
        b.held.look = c.look;
        b.page.protection = EepromPage::Protection::Clear;
        const std::vector<std::uint8_t> image = b.randomImage(21);
        EXPECT_EQ(b.page.ProgramChip(true), Outcome::Done) << b.page.lastOutcome();
        EXPECT_EQ(b.held.held, c.look > 0);
        EXPECT_EQ(b.chip->memory(), image);
    }
}

TEST(SerialEepromCommands, A93CxxOfTheOtherOrganisationIsNamedAndAnIgnoredEralIsTold)
{
    // Word 0 begins with a 0, which the x8 READ takes for the dummy 0.
    SerialBench b("93C46x8", true, "93C46x16");
    b.chip->memory()[0] = 0x00;
    const std::vector<std::uint8_t> before = b.chip->memory();
    b.randomImage(8);
    EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Failed);
    EXPECT_NE(b.host.messages().at(0).find("no. 0: is it wired for 16-bit words (ORG high)? Then "
                                           "it is a 93C46x16, not a 93C46x8."),
              std::string::npos);
    EXPECT_EQ(b.chip->memory(), before);

    SerialBench e("93C66x16");
    std::string error;
    ASSERT_TRUE(e.chip->set("eeprom.eral", "ignored", error)) << error;
    e.chip->memory()[7] = 0x00;
    EXPECT_EQ(e.page.EraseAllClick(), Outcome::Failed);
    EXPECT_EQ(e.page.lastOutcome(), "Erase failed: the chip ignored ERAL, 1 bytes are not FF, "
                                    "the first at 0x0007");
}
