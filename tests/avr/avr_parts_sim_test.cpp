#include "files/binary_file.h"
#include "files/scratch_folder.h"
#include "parts/part_clock.h"
#include "sim_rig.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <tuple>

using namespace vardel;
using vardel::test::ScratchFolder;
using vardel::test::SimRig;
using Outcome = AvrPage::Outcome;

namespace {

std::string AsText(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// Random bytes in a few pages of the memory (the first, one past 64 Ki words where the flash has
// them, the last), 0xFF elsewhere: a page of nothing but 0xFF is the common case of a program.
std::vector<std::uint8_t> SparseImage(std::uint32_t size, std::uint32_t page, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> image(size, 0xFF);
    page = std::max<std::uint32_t>(page, 16);
    for (std::uint32_t start : {0u, size > 0x20000 ? 0x20000u : size / 2, size - page})
        for (std::uint32_t i = start; i < start + page && i < size; ++i)
            image[i] = static_cast<std::uint8_t>(random());
    return image;
}

} // namespace

// One part of each family, through the window's commands on the simulated board: identification
// by the table's name, flash and EEPROM program, verify and read, blank test and erase.
TEST(AvrPartRoundTrip, OnePartOfEachFamily)
{
    // The AT90S1200 and ATtiny15 write their flash byte by byte, with value polling and a fixed
    // wait.
    for (const char* name : {"ATmega328P", "ATtiny85", "ATmega8", "ATtiny2313", "ATmega2560",
                             "ATmega32U4", "AT90S1200", "ATtiny15"}) {
        SCOPED_TRACE(name);
        const AvrPart& part = *FindPartByName(name);
        ScratchFolder folder;
        SimRig rig;
        ASSERT_TRUE(rig.insert(name));
        // Leftovers that the erase before programming must clear.
        std::fill(rig.target().flash().begin(), rig.target().flash().end(), 0x00);

        ASSERT_EQ(rig.page.btnTipoClick(), Outcome::Done);
        EXPECT_EQ(rig.page.model().lbTipo(), part.label());
        EXPECT_EQ(rig.page.model().Notebook1(), "Part");

        const auto flash = SparseImage(part.flashBytes, part.flashPageBytes, 17);
        const std::string flashFile = folder.file("flash.bin");
        ASSERT_TRUE(WriteBinaryFile(flashFile, flash.data(), flash.size()));
        rig.answer = flashFile;
        ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done)
            << testing::PrintToString(rig.host.messages());
        EXPECT_TRUE(rig.target().flash() == flash);
        EXPECT_EQ(rig.board.data(), 0x00);
        rig.host.calls.clear();
        EXPECT_EQ(rig.page.btnFLashVerifClick(), Outcome::Done);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{"Verification complete|VERIFICATION: OK !!!!!"}));

        const auto eeprom = SparseImage(part.eepromBytes, 0, 23);
        const std::string eepromFile = folder.file("eeprom.bin");
        ASSERT_TRUE(WriteBinaryFile(eepromFile, eeprom.data(), eeprom.size()));
        rig.answer = eepromFile;
        ASSERT_EQ(rig.page.BitBtn1Click(), Outcome::Done);
        EXPECT_EQ(rig.target().eeprom(), eeprom);
        const std::string back = folder.file("back.bin");
        rig.answer = back;
        ASSERT_EQ(rig.page.btnLeerEEPIntClick(), Outcome::Done);
        EXPECT_EQ(test::ReadWholeFile(back), AsText(eeprom));

        rig.host.calls.clear();
        EXPECT_EQ(rig.page.btnTestBlankClick(), Outcome::Failed);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{"NO BLANK|Flash is not blank!!!"}));
        // One byte changed behind the program's back is found where it is.
        rig.target().flash()[part.flashBytes - 1] ^= 0x01;
        rig.host.calls.clear();
        rig.answer = flashFile;
        EXPECT_EQ(rig.page.btnFLashVerifClick(), Outcome::Failed);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%04X", part.flashBytes - 1);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{"End verification|VERIFICATION: ERROR (Difference "
                                            "at byte: $" +
                                            std::string(digits) + ")"}));

        ASSERT_EQ(rig.page.btnBorrarClick(), Outcome::Done);
        rig.host.calls.clear();
        EXPECT_EQ(rig.page.btnTestBlankClick(), Outcome::Done);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{"BLANK-TEST|Flash and internal eeprom are blank"}));
    }
}

// The flash read of a part past 128 KiB reaches its upper half through Load Extended Address.
TEST(AvrPartRoundTrip, ReadingPast128KiB)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega2560"));
    auto& flash = rig.target().flash();
    for (std::size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<std::uint8_t>(i * 7 + (i >> 17));
    const std::string file = folder.file("read.bin");
    rig.answer = file;
    ASSERT_EQ(rig.page.btnLeerFlashClick(), Outcome::Done);
    EXPECT_EQ(test::ReadWholeFile(file), AsText(flash));
}

// Every part that `avr parts` lists goes into the simulated socket by that name, is identified
// (under the first of its names) and takes a flash image; the EEPROM, whose every byte is
// written, once for each way a part reports its EEPROM writes and each EEPROM page.
TEST(AvrPartRoundTrip, EveryListedPartIsInsertedIdentifiedAndProgrammed)
{
    ScratchFolder folder;
    const std::string flashFile = folder.file("flash.bin");
    const std::string eepromFile = folder.file("eeprom.bin");
    const std::string flash("\x12\x34\x7F\x80\x00\xFF\x56\x78", 8);
    const std::string eeprom("\x9A\xFF\x00\xBC\x7F\x80", 6);
    test::WriteWholeFile(flashFile, flash);
    test::WriteWholeFile(eepromFile, eeprom);
    const auto holds = [](const std::string& bytes, const std::vector<std::uint8_t>& memory) {
        return std::equal(bytes.begin(), bytes.end(), memory.begin(),
                          [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
    };
    std::set<std::tuple<bool, std::uint8_t, std::uint8_t, std::uint8_t, std::uint32_t, bool>>
        eepromKinds;
    for (const AvrPart& part : AvrParts()) {
        SCOPED_TRACE(part.name);
        SimRig rig;
        ASSERT_TRUE(rig.insert(part.name));
        ASSERT_EQ(rig.page.btnTipoClick(), Outcome::Done);
        EXPECT_EQ(rig.page.model().lbTipo().rfind(part.variantOf ? part.variantOf : part.name, 0),
                  0u)
            << rig.page.model().lbTipo();
        rig.answer = flashFile;
        ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done)
            << testing::PrintToString(rig.host.messages());
        EXPECT_TRUE(holds(flash, rig.target().flash()));
        if (eepromKinds
                .insert({part.catalogued, part.eepromMode, part.eepromReadback[0],
                         part.eepromReadback[1], part.eepromPageBytes,
                         part.instructions.eepromLoadPage != nullptr})
                .second) {
            rig.answer = eepromFile;
            ASSERT_EQ(rig.page.BitBtn1Click(), Outcome::Done)
                << testing::PrintToString(rig.host.messages());
            EXPECT_TRUE(holds(eeprom, rig.target().eeprom()));
        }
        EXPECT_EQ(rig.board.data(), 0x00);
        // At the pace its clock allows, and never faster.
        EXPECT_EQ(rig.target().lostSckEdges(), 0);
    }
}

// The clock select bits read by their family: a part is never taken for another whose name
// begins the same, and CKDIV8 divides what the part's own oscillator gives.
TEST(AvrChipClock, TheFusesChooseTheClock)
{
    using S = ChipClock::Source;
    const struct {
        const char* part;
        std::uint8_t low;
        ChipClock clock;
    } cases[] = {
        {"ATmega328P", 0x62, {S::Own, 1'000'000, 1}}, // factory: 8 MHz RC / 8
        {"ATmega328P", 0xE3, {S::Own, 128'000, 1}},
        {"ATmega328P", 0x60, {S::Xtal, 0, 8}}, // external clock, divided by 8
        {"ATmega328P", 0xFF, {S::Xtal, 0, 1}},
        {"ATmega328P", 0xE5, {}}, // low-frequency crystal: not told
        {"ATmega128", 0xE1, {S::Own, 1'000'000, 1}},
        {"ATmega1284", 0x62, {S::Own, 1'000'000, 1}}, // not the ATmega128's table
        {"ATmega164A", 0x63, {S::Own, 16'000, 1}},    // nor the ATmega16's
        {"ATmega16A", 0xE4, {S::Own, 8'000'000, 1}},
        {"ATtiny13A", 0x6A, {S::Own, 1'200'000, 1}},
        {"ATtiny2313", 0x64, {S::Own, 1'000'000, 1}},
        {"AT90S2313", 0xFF, {S::Xtal, 0, 1}},
        {"AT90S2343", 0xDE, {S::Own, 500'000, 1}}, // RCEN programmed
        {"AT90S2343", 0xDF, {S::Xtal, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
        const AvrPart* part = FindPartByName(c.part);
        ASSERT_NE(part, nullptr);
        const std::vector<std::uint8_t> fuses{c.low, 0xFF, 0xFF};
        EXPECT_EQ(ClockOf(*part, std::span(fuses).first(
                                     static_cast<std::size_t>(std::max(part->fuseCount, 1)))),
                  c.clock);
    }
}

// The simulated chip judges the pace: after identification each chip is clocked as its fuses
// say (XTAL pulses, or time on its own oscillator, 128 kHz the slowest here) and takes a program
// and verify without losing an edge; at a pace its oscillator cannot follow it garbles them.
TEST(AvrChipClock, EachChipIsPacedByItsOwnClock)
{
    ScratchFolder folder;
    const std::string file = folder.file("flash.bin");
    const std::string image("\x0C\x94\x34\x00\x11\x24\x1F\xBE", 8);
    test::WriteWholeFile(file, image);
    const struct {
        const char* device;
        const char* lowFuse;
        bool safe;
        int phasePulses;
    } cases[] = {
        {"ATmega328P", "62", false, 0}, {"ATmega328P", "E3", false, 0},
        {"ATmega328P", "E0", false, 3}, {"ATtiny13", "7B", false, 0},
        {"ATmega328P", "E3", true, 4},  {"ATmega128", "EF", false, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.lowFuse + (c.safe ? " safe" : ""));
        SimRig rig;
        ASSERT_TRUE(rig.insert(c.device));
        std::string error;
        ASSERT_TRUE(rig.target().set("avr.fuse.low", c.lowFuse, error)) << error;
        rig.page.serial().setSafePace(c.safe);
        rig.answer = file;
        ASSERT_EQ(rig.page.ProgramMemory(AvrPage::Memory::Flash, file, true), Outcome::Done)
            << testing::PrintToString(rig.host.messages());
        EXPECT_EQ(rig.page.serial().pace().phasePulses, c.phasePulses);
        EXPECT_EQ(AsText(rig.target().flash()).substr(0, image.size()), image);
        EXPECT_EQ(rig.target().lostSckEdges(), 0);
    }

    // The pace of an 8 MHz oscillator is too fast for one of 128 kHz: the chip loses edges and
    // answers garbage.
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega328P"));
    std::string error;
    ASSERT_TRUE(rig.target().set("avr.fuse.low", "E3", error)) << error;
    ASSERT_EQ(rig.page.btnTipoClick(), Outcome::Done);
    ASSERT_TRUE(rig.page.serial().ProgrammingEnable());
    rig.page.serial().usePace(rig.page.serial().paceFor({ChipClock::Source::Own, 8'000'000, 1}));
    EXPECT_NE(rig.page.serial().ReadSignature(), (std::array<std::uint8_t, 3>{0x1E, 0x95, 0x0F}));
    EXPECT_GT(rig.target().lostSckEdges(), 0);
}

// Lock bits that forbid writing refuse an EEPROM programming before its first byte, naming the
// mode; the flash's erase releases them. Catalogue and part-table parts, each with its lock
// layout.
TEST(AvrLockedChip, AnEepromProgrammingIsRefusedWithTheLockModeNamed)
{
    struct Case {
        const char* device;
        const char* lock;
        const char* mode;
    };
    for (const Case c : {Case{"ATmega328P", "FC", "3 (LB1 and LB2 programmed)"},
                         Case{"ATtiny85", "FE", "2 (LB1 programmed)"},
                         Case{"ATmega128", "FC", "3 (LB1 and LB2 programmed)"},
                         Case{"ATmega103", "F9", "3 (LB1 and LB2 programmed)"},
                         Case{"AT90S8535", "FD", "2 (LB1 programmed)"}}) {
        SCOPED_TRACE(c.device);
        ScratchFolder folder;
        SimRig rig;
        ASSERT_TRUE(rig.insert(c.device));
        std::string error;
        ASSERT_TRUE(rig.target().set("avr.lock", c.lock, error)) << error;
        const std::vector<std::uint8_t> eeprom = rig.target().eeprom();
        const std::string file = folder.file("image.bin");
        test::WriteWholeFile(file, "\x12\x34\x56");
        rig.answer = file;
        EXPECT_EQ(rig.page.BitBtn1Click(), Outcome::Failed);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{
                      std::string("ERROR|The lock bits forbid programming the EEPROM: the chip is "
                                  "in lock mode ") +
                      c.mode +
                      ".\rOnly \"Erase chip\" releases them, and it erases the flash and the "
                      "EEPROM with them.\rNothing was written."}));
        EXPECT_EQ(rig.target().eeprom(), eeprom);
        EXPECT_EQ(rig.board.data(), 0x00);
        ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done);
        EXPECT_EQ(rig.target().flash()[1], 0x34);
    }
}

// The file's bytes that a memory cannot hold, or that belong to another memory, are named and
// left out; a verify compares what the memory holds and says so.
TEST(AvrImageFiles, WholeProgramsAndOversizeImagesSayWhatIsLeftOut)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega328P"));
    rig.answer = std::string(VARDEL_SAMPLES_DIR) + "/blink-atmega328p-all.hex";
    ASSERT_EQ(rig.page.BitBtn1Click(), Outcome::Done);
    const std::string text = "hello from the EEPROM";
    EXPECT_TRUE(std::equal(text.begin(), text.end(), rig.target().eeprom().begin()));
    EXPECT_EQ(rig.target().eeprom()[text.size()], 0x00);
    EXPECT_TRUE(std::all_of(rig.target().eeprom().begin() + 22, rig.target().eeprom().end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(rig.host.messages(),
              (std::vector<std::string>{"WARNING:|File holds 162 bytes of flash besides the "
                                        "EEPROM: they are left out\rFile holds 3 bytes of fuses "
                                        "besides the EEPROM: they are left out\rFile holds 1 "
                                        "byte of lock bits besides the EEPROM: they are left "
                                        "out"}));
    rig.host.calls.clear();
    ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done);
    EXPECT_EQ(rig.target().flash()[0], 0x0C);
    EXPECT_EQ(rig.target().flash()[162], 0xFF);
    EXPECT_EQ(rig.host.messages().front().rfind("WARNING:|File holds 22 bytes of EEPROM", 0), 0u);

    const std::string big = folder.file("big.bin");
    test::WriteWholeFile(big, std::string(0x20000, '\x5A'));
    rig.answer = big;
    rig.host.calls.clear();
    ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done);
    ASSERT_EQ(rig.page.btnFLashVerifClick(), Outcome::Done);
    EXPECT_EQ(rig.host.messages(),
              (std::vector<std::string>{
                  "WARNING:|File contains more data than processor can fit: the file holds "
                  "131072 bytes, the flash 32768.\rData will be truncated",
                  "WARNING:|File contains more data than processor can fit: the file holds "
                  "131072 bytes, the flash 32768.\rOnly the first 32768 bytes are compared",
                  "Verification complete|VERIFICATION: OK !!!!!"}));
}
