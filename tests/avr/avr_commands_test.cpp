#include "files/binary_file.h"
#include "files/image_file.h"
#include "files/scratch_folder.h"
#include "files/unHEX.h"
#include "sim_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>

using namespace vardel;
using vardel::test::ReadWholeFile;
using vardel::test::ScratchFolder;
using vardel::test::SimRig;
using vardel::test::WriteWholeFile;
using Outcome = AvrPage::Outcome;

namespace {

const std::string kSamples = VARDEL_SAMPLES_DIR;

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

// The flash a HEX file describes, read by the files unit into an erased flash of this size.
std::vector<std::uint8_t> HexFileImage(const std::string& file, std::size_t size)
{
    std::vector<std::uint8_t> image(size, 0xFF);
    const vardel::ImageRead read = vardel::ReadImageFile(file, 0);
    EXPECT_TRUE(read.ok()) << read.detail;
    vardel::PlaceImageFile(read.file, image);
    return image;
}

// The pages of the image that hold a byte other than 0xFF: the only ones programming writes.
long NonBlankPages(const std::vector<std::uint8_t>& image, std::size_t pageBytes)
{
    long pages = 0;
    for (std::size_t start = 0; start < image.size(); start += pageBytes)
        pages += std::any_of(image.begin() + start, image.begin() + start + pageBytes,
                             [](std::uint8_t b) { return b != 0xFF; });
    return pages;
}

long CountSleeps(const SimRig& rig, std::uint32_t ms)
{
    return std::count(rig.clock.sleeps.begin(), rig.clock.sleeps.end(), ms);
}

// A host that asks the running operation to stop once it has let messages run this often.
class StoppingHost : public test::RecordingHost {
public:
    OperationLock* lock = nullptr;
    int stopAfter = 0;
    void ProcessMessages() override
    {
        if (--stopAfter == 0)
            lock->requestStop();
    }
};

} // namespace

TEST(AvrFlash, ByteWrittenChipProgramsVerifiesAndReadsBack)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("AT90S2313"));
    const std::string file = kSamples + "/blink-at90s2313.hex";
    const auto image = HexFileImage(file, 2048);
    // Leftovers that the erase must clear.
    std::fill(rig.target().flash().begin(), rig.target().flash().end(), 0x00);

    rig.answer = file;
    ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done);
    EXPECT_EQ(rig.titles, (std::vector<std::string>{"Open file"}));
    EXPECT_EQ(rig.target().flash(), image);
    EXPECT_EQ(rig.host.essentials(), (std::vector<std::string>{"busy", "normal"}));
    EXPECT_EQ(rig.board.data(), 0x00);
    // Only 0x7F and 0x80 wait a fixed time; the erase waits 100 ms.
    EXPECT_EQ(CountSleeps(rig, 12), std::count_if(image.begin(), image.end(),
                                                  [](auto b) { return b == 0x7F || b == 0x80; }));
    EXPECT_EQ(CountSleeps(rig, 100), 1);
    EXPECT_EQ(rig.page.model().prFlash(), 100);

    rig.host.calls.clear();
    rig.titles.clear();
    ASSERT_EQ(rig.page.btnFLashVerifClick(), Outcome::Done);
    EXPECT_EQ(rig.titles, (std::vector<std::string>{"Select file to verify FLASH"}));
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal",
                                        "message Verification complete|VERIFICATION: OK !!!!!"}));

    rig.host.calls.clear();
    rig.answer = folder.file("dump.bin");
    ASSERT_EQ(rig.page.btnLeerFlashClick(), Outcome::Done);
    EXPECT_EQ(Bytes(ReadWholeFile(folder.file("dump.bin"))), image);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal", "busy", "normal"}));
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(AvrFlash, SixtyFourWordPagesAreWrittenAfterEachLastWord)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega163"));
    const std::string file = kSamples + "/blink-atmega163.hex";
    rig.answer = file;
    ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done);
    // Pages the erase left as the file has them are not written.
    const auto image = HexFileImage(file, 16384);
    EXPECT_EQ(CountSleeps(rig, 18), NonBlankPages(image, 128));
    EXPECT_LT(NonBlankPages(image, 128), 128);
    EXPECT_EQ(rig.target().flash(), image);

    rig.answer = folder.file("dump.hex");
    ASSERT_EQ(rig.page.btnLeerFlashClick(), Outcome::Done);
    EXPECT_EQ(HexFileImage(folder.file("dump.hex"), 16384), HexFileImage(file, 16384));
}

TEST(AvrFlash, OneHundredTwentyEightKiBGoesThroughExtendedAddressRecords)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega128"));
    const auto flash = Bytes(ReadWholeFile(kSamples + "/app-and-boot-atmega128.bin"));
    ASSERT_EQ(flash.size(), 131072u);

    rig.answer = kSamples + "/app-and-boot-atmega128.hex";
    ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Done);
    EXPECT_EQ(CountSleeps(rig, 6), NonBlankPages(flash, 256));
    EXPECT_LT(NonBlankPages(flash, 256), 512);
    // The boot code lands at 0x1E000, not at 0xE000.
    EXPECT_EQ(rig.target().flash(), flash);
    ASSERT_NE(flash[0x1E000], 0xFF);

    rig.answer = folder.file("dump.hex");
    ASSERT_EQ(rig.page.btnLeerFlashClick(), Outcome::Done);
    EXPECT_EQ(HexFileImage(folder.file("dump.hex"), 131072), flash);

    // avr-objcopy's extended segment record: the boot code alone, at 0x1E000.
    rig.target().flash() = Bytes(ReadWholeFile(kSamples + "/boot-atmega128-at-1E000.bin"));
    rig.host.calls.clear();
    rig.answer = kSamples + "/boot-atmega128-at-1E000.hex";
    EXPECT_EQ(rig.page.btnFLashVerifClick(), Outcome::Done);
    EXPECT_EQ(rig.host.messages(),
              (std::vector<std::string>{"Verification complete|VERIFICATION: OK !!!!!"}));
}

TEST(AvrFlash, VerifyReportsTheFirstDifferenceInHexadecimal)
{
    struct Case {
        const char* device;
        std::uint32_t address;
        const char* digits;
    };
    for (const Case& c : {Case{"AT90S8515", 0x1A0, "01A0"}, Case{"AT90S8515", 0x1234, "1234"},
                          Case{"ATmega161", 0x3FFF, "3FFF"}}) {
        ScratchFolder folder;
        SimRig rig;
        ASSERT_TRUE(rig.insert(c.device));
        rig.target().flash()[c.address] = 0x12;
        // One erased byte: the rest of the image is erased as well.
        WriteWholeFile(folder.file("erased.bin"), "\xFF");
        rig.answer = folder.file("erased.bin");
        EXPECT_EQ(rig.page.btnFLashVerifClick(), Outcome::Failed);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{
                      std::string("End verification|VERIFICATION: ERROR (Difference at byte: $") +
                      c.digits + ")"}));
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

TEST(AvrFlash, FiveDigitAddressOnTheLargestFlash)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega103"));
    rig.target().flash()[0x12345] = 0x00;
    WriteWholeFile(folder.file("blank.bin"), std::string(0x20000, '\xFF'));
    rig.answer = folder.file("blank.bin");
    EXPECT_EQ(rig.page.btnFLashVerifClick(), Outcome::Failed);
    EXPECT_EQ(rig.host.messages(),
              (std::vector<std::string>{
                  "End verification|VERIFICATION: ERROR (Difference at byte: $12345)"}));
}

TEST(AvrFlash, ACellThatNeverReadsBackEndsWithACommunicationError)
{
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATtiny12"));
    rig.target().faults.pollingNeverDone = true;
    ScratchFolder folder;
    WriteWholeFile(folder.file("one.bin"), "\x12\x34");
    rig.answer = folder.file("one.bin");
    EXPECT_EQ(rig.page.btnProgFlashClick(), Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal",
                                        "message ERROR|Atmel communication error...\rThe flash "
                                        "is erased and partly written (up to 0x0000)."}));
    EXPECT_EQ(CountSleeps(rig, 1), 5000);
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(AvrFiles, UnreadableFilesNeverReachTheChip)
{
    ScratchFolder folder;
    WriteWholeFile(folder.file("image.txt"), std::string(100, '\0'));
    struct Case {
        std::string file;
        const char* message;
    };
    for (const Case& c : {Case{folder.file("missing.bin"), "ERROR|Can't open file!!"},
                          Case{folder.file("missing.hex"), "ERROR|Can't open file!!"},
                          Case{folder.file("image.txt"),
                               "ERROR|Unknown file type: the name must end in BIN or HEX!!"}}) {
        for (Outcome (AvrPage::*command)() :
             {&AvrPage::btnProgFlashClick, &AvrPage::BitBtn1Click, &AvrPage::btnFLashVerifClick,
              &AvrPage::btnEEPIntClick}) {
            SimRig rig;
            ASSERT_TRUE(rig.insert("AT90S8515"));
            std::fill(rig.target().flash().begin(), rig.target().flash().end(), 0x5A);
            std::fill(rig.target().eeprom().begin(), rig.target().eeprom().end(), 0xA5);
            const auto flash = rig.target().flash();
            const auto eeprom = rig.target().eeprom();
            rig.answer = c.file;
            EXPECT_EQ((rig.page.*command)(), Outcome::Failed) << c.file;
            EXPECT_EQ(rig.host.essentials(),
                      (std::vector<std::string>{"message " + std::string(c.message)}));
            EXPECT_EQ(rig.target().flash(), flash);
            EXPECT_EQ(rig.target().eeprom(), eeprom);
            EXPECT_EQ(rig.clock.sleeps.size(), 0u) << "the chip was powered";
        }
    }
}

TEST(AvrFiles, ReadsThatCannotBeSavedSayCantCreateFile)
{
    ScratchFolder folder;
    for (const char* name : {"no-such-folder/dump.bin", "no-such-folder/dump.hex"}) {
        for (Outcome (AvrPage::*command)() :
             {&AvrPage::btnLeerFlashClick, &AvrPage::btnLeerEEPIntClick}) {
            SimRig rig;
            ASSERT_TRUE(rig.insert("ATtiny12"));
            rig.answer = folder.file(name);
            EXPECT_EQ((rig.page.*command)(), Outcome::Failed) << name;
            const auto essentials = rig.host.essentials();
            ASSERT_FALSE(essentials.empty());
            EXPECT_EQ(essentials.back(), "message ERROR|Can't create file!!") << name;
            EXPECT_EQ(rig.board.data(), 0x00);
        }
    }
    // A name that selects no format is refused before the chip is read.
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATtiny12"));
    rig.answer = folder.file("dump.txt");
    EXPECT_EQ(rig.page.btnLeerFlashClick(), Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{
                  "message ERROR|Unknown file type: the name must end in BIN or HEX!!"}));
    EXPECT_TRUE(rig.clock.sleeps.empty());
    EXPECT_TRUE(folder.names().empty());
}

TEST(AvrFiles, CancelledDialogsDoNothingAndVerifyTitlesDoNotStick)
{
    SimRig rig;
    ASSERT_TRUE(rig.insert("AT90S2313"));
    for (Outcome (AvrPage::*command)() :
         {&AvrPage::btnFLashVerifClick, &AvrPage::btnProgFlashClick, &AvrPage::btnEEPIntClick,
          &AvrPage::BitBtn1Click, &AvrPage::btnLeerFlashClick, &AvrPage::btnLeerEEPIntClick})
        EXPECT_EQ((rig.page.*command)(), Outcome::Cancelled);
    EXPECT_EQ(rig.titles,
              (std::vector<std::string>{"Select file to verify FLASH", "Open file",
                                        "Select file to verify internal EEPROM", "Open file"}));
    EXPECT_EQ(rig.saveDialogs, 2);
    EXPECT_TRUE(rig.host.calls.empty());
    EXPECT_TRUE(rig.clock.sleeps.empty());
}

TEST(AvrEeprom, ProgramsEveryByteAndWaitsForTheUnpolledValues)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("AT90S8515"));
    std::fill(rig.target().eeprom().begin(), rig.target().eeprom().end(), 0x00);
    const std::string ten("\x01\x80\x7F\xFF\x00\x10\x20\x30\x40\x50", 10);
    WriteWholeFile(folder.file("ten.bin"), ten);
    rig.answer = folder.file("ten.bin");
    ASSERT_EQ(rig.page.BitBtn1Click(), Outcome::Done);
    std::vector<std::uint8_t> expected(512, 0xFF);
    std::copy(ten.begin(), ten.end(), expected.begin());
    EXPECT_EQ(rig.target().eeprom(), expected);
    // 0x80, 0x7F and 0xFF (one in the file, 502 after it) wait; the others are polled.
    EXPECT_EQ(CountSleeps(rig, 12), 3 + 502);
    EXPECT_EQ(rig.host.essentials(), (std::vector<std::string>{"busy", "normal"}));

    rig.answer = folder.file("ten.bin");
    EXPECT_EQ(rig.page.btnEEPIntClick(), Outcome::Done);
    rig.answer = folder.file("eeprom.hex");
    ASSERT_EQ(rig.page.btnLeerEEPIntClick(), Outcome::Done);
    EXPECT_EQ(HexFileImage(folder.file("eeprom.hex"), 512), expected);
}

TEST(AvrEeprom, ZeroBytesOnPartsThatPollWithZeroAreWaitedFor)
{
    // These parts answer 0x00 while the erase half of a write lasts: a polled 0x00 would let the
    // next write start too early, and the chip ignores it.
    for (const char* device : {"AT90S8535", "AT90S2343"}) {
        ScratchFolder folder;
        SimRig rig;
        ASSERT_TRUE(rig.insert(device));
        const std::size_t size = rig.target().eeprom().size();
        WriteWholeFile(folder.file("zero.bin"), std::string(size, '\0'));
        rig.answer = folder.file("zero.bin");
        ASSERT_EQ(rig.page.BitBtn1Click(), Outcome::Done) << device;
        EXPECT_EQ(rig.target().eeprom(), std::vector<std::uint8_t>(size, 0x00)) << device;
        EXPECT_EQ(rig.page.btnEEPIntClick(), Outcome::Done) << device;
    }
}

TEST(AvrEeprom, SampleFileAndTheGaugeOfASixtyFourByteEeprom)
{
    SimRig rig;
    rig.host.recordGauges = true;
    ASSERT_TRUE(rig.insert("ATtiny12"));
    rig.answer = kSamples + "/blink-atmega163-eeprom.hex";
    ASSERT_EQ(rig.page.BitBtn1Click(), Outcome::Done);
    EXPECT_EQ(
        std::vector<std::uint8_t>(rig.target().eeprom().begin(),
                                  rig.target().eeprom().begin() + 17),
        (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0xFF}));
    // ceil(63 * 100 / 64): the last step shows 99.
    EXPECT_EQ(rig.page.model().prEEPInt(), 99);
    std::vector<std::string> gauges;
    for (const auto& call : rig.host.calls)
        if (call.rfind("eeprom ", 0) == 0)
            gauges.push_back(call);
    ASSERT_FALSE(gauges.empty());
    EXPECT_EQ(gauges.front(), "eeprom 2");
    EXPECT_EQ(gauges.back(), "eeprom 99");
    EXPECT_EQ(rig.page.model().prFlash(), 0);
}

// Parts that write their EEPROM by pages: every byte of a full image lands where it belongs over
// what the EEPROM held; a chip that drops the page is named at the first byte it did not take.
TEST(AvrEeprom, PagePartsTakeEveryByteAndNameTheFirstOneLost)
{
    ScratchFolder folder;
    for (const char* device : {"ATmega2560", "ATmega328P"}) {
        SCOPED_TRACE(device);
        SimRig rig;
        ASSERT_TRUE(rig.insert(device));
        const std::size_t size = rig.target().eeprom().size();
        std::fill(rig.target().eeprom().begin(), rig.target().eeprom().end(), 0x5A);
        const auto image = test::RandomBytes(size, 11);
        WriteWholeFile(folder.file("image.bin"), std::string(image.begin(), image.end()));
        rig.answer = folder.file("image.bin");
        ASSERT_EQ(rig.page.BitBtn1Click(), Outcome::Done) << rig.host.messages().back();
        EXPECT_EQ(rig.target().eeprom(), image);
        EXPECT_EQ(rig.board.data(), 0x00);

        // The chip already holds the image but for one byte of the page at 0x108.
        rig.target().eeprom()[0x10A] ^= 0xFF;
        rig.target().faults.dropWrites = true;
        rig.host.calls.clear();
        EXPECT_EQ(rig.page.BitBtn1Click(), Outcome::Failed);
        char text[128];
        std::snprintf(text, sizeof text,
                      "ERROR|The chip did not take the write at 0x010A: 0x%02X written, 0x%02X "
                      "read back.\rThe EEPROM is partly written (up to 0x0108).",
                      image[0x10A], image[0x10A] ^ 0xFF);
        EXPECT_EQ(rig.host.messages(), std::vector<std::string>{text});
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

TEST(AvrErase, EraseThenBlankTest)
{
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATtiny12"));
    std::fill(rig.target().flash().begin(), rig.target().flash().end(), 0x00);
    std::fill(rig.target().eeprom().begin(), rig.target().eeprom().end(), 0x00);
    ASSERT_EQ(rig.page.btnBorrarClick(), Outcome::Done);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal", "message OK|Chip erased !!"}));
    // "Erase chip" does not identify the chip: it waits for the slowest erase of every part, the
    // ATmega103's 112 ms.
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300, 112}));

    rig.host.calls.clear();
    ASSERT_EQ(rig.page.btnTestBlankClick(), Outcome::Done);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal",
                                        "message BLANK-TEST|Flash and internal eeprom are blank"}));
    EXPECT_EQ(rig.page.model().prFlash(), 100);
    EXPECT_EQ(rig.page.model().prEEPInt(), 99);
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(AvrErase, BlankTestStopsAtTheFirstMemoryInUse)
{
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("ATmega161"));
        rig.target().flash().back() = 0x00;
        rig.target().eeprom()[0] = 0x00;
        EXPECT_EQ(rig.page.btnTestBlankClick(), Outcome::Failed);
        EXPECT_EQ(
            rig.host.essentials(),
            (std::vector<std::string>{"busy", "normal", "message NO BLANK|Flash is not blank!!!"}));
        EXPECT_EQ(rig.page.model().prFlash(), 100);
        EXPECT_EQ(rig.page.model().prEEPInt(), 0);
    }
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("ATtiny12"));
        rig.target().eeprom()[63] = 0x00;
        EXPECT_EQ(rig.page.btnTestBlankClick(), Outcome::Failed);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{"NO BLANK|EEPROM is not blank!!!"}));
        // Both memories in one session: one power-up.
        EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300}));
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

TEST(AvrErase, EraseUnlocksAProtectedChipAndNeedsAnAnswer)
{
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("", "000102"));
        EXPECT_EQ(rig.page.btnBorrarClick(), Outcome::Done);
        EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{"OK|Chip erased !!"}));
    }
    {
        SimRig rig;
        EXPECT_EQ(rig.page.btnBorrarClick(), Outcome::Failed);
        EXPECT_EQ(rig.host.essentials(),
                  (std::vector<std::string>{"busy", "normal",
                                            "message ERROR|Processor not detected!!!"}));
        EXPECT_EQ(rig.clock.sleptNs(), 2'400'000'000);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

TEST(AvrOperations, OneAtATimeAndAStopEndsAfterTheByteInHand)
{
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("AT90S2313"));
        Operation running(rig.lock);
        for (Outcome (AvrPage::*command)() :
             {&AvrPage::btnTipoClick, &AvrPage::btnLeerFlashClick, &AvrPage::btnProgFlashClick,
              &AvrPage::btnFLashVerifClick, &AvrPage::btnLeerEEPIntClick, &AvrPage::BitBtn1Click,
              &AvrPage::btnEEPIntClick, &AvrPage::btnBorrarClick, &AvrPage::btnTestBlankClick})
            EXPECT_EQ((rig.page.*command)(), Outcome::Busy);
        EXPECT_TRUE(rig.host.calls.empty());
        EXPECT_TRUE(rig.titles.empty());
        EXPECT_EQ(rig.saveDialogs, 0);
    }
    // The host is asked before each step and after each byte; a stop ends the job before the
    // next write goes out (a byte on the AT90S2313, an EEPROM page of 4 bytes on the ATmega328P).
    for (const auto& [device, eeprom, written] :
         {std::tuple{"AT90S2313", false, 8}, {"ATmega328P", true, 12}}) {
        SCOPED_TRACE(device);
        ScratchFolder folder;
        test::SleepLog clock;
        sim::SimBoard board(clock);
        LineDriver lines(board);
        StoppingHost host;
        OperationLock lock;
        host.lock = &lock;
        host.stopAfter = 10;
        AvrPage page(lines, clock, host, lock);
        std::string error;
        board.insertAvr(sim::MakeAvrChip(device, "", error));
        auto& target = dynamic_cast<sim::AvrTarget&>(*board.avr());
        auto& memory = eeprom ? target.eeprom() : target.flash();
        WriteWholeFile(folder.file("image.bin"), std::string(memory.size(), '\x11'));
        page.dialogs.open = [&](const std::string&) {
            return std::optional<std::string>(folder.file("image.bin"));
        };
        EXPECT_EQ(eeprom ? page.BitBtn1Click() : page.btnProgFlashClick(), Outcome::Stopped);
        EXPECT_EQ(host.messages(),
                  (std::vector<std::string>{
                      "WARNING:|Operation stopped: the chip may be partly written."}));
        EXPECT_EQ(board.data(), 0x00);
        EXPECT_FALSE(lock.busy());
        EXPECT_EQ(std::count(memory.begin(), memory.begin() + written, 0x11), written);
        EXPECT_EQ(std::count(memory.begin(), memory.end(), 0x11), written);
    }
}

TEST(AvrTiming, EveryPartProgramsAndVerifiesAtEitherEndOfItsWriteTimes)
{
    // The values byte-written parts cannot poll (0xFF, 0x7F, 0x80, 0x00) back to back and between
    // polled ones: a fixed wait shorter than the chip's write loses the next byte.
    const std::string pattern("\x7F\x80\x00\xFF\x3C\x80\x7F\xFF\x00\xC3\x01", 11);
    for (const sim::AvrDevice& device : sim::AvrCatalogue()) {
        // The fastest end matters where the program polls; the page parts are waited for.
        for (const char* speed : {"slowest", device.pageWords ? nullptr : "fastest"}) {
            if (!speed)
                continue;
            SCOPED_TRACE(std::string(device.name) + " " + speed);
            ScratchFolder folder;
            SimRig rig;
            ASSERT_TRUE(rig.insert(device.name));
            std::string error;
            ASSERT_TRUE(rig.target().set("avr.timing", speed, error)) << error;
            std::string flash, eeprom;
            while (flash.size() < 300)
                flash += pattern;
            eeprom = flash.substr(0, std::min<std::size_t>(flash.size(), device.eepromBytes));
            WriteWholeFile(folder.file("flash.bin"), flash);
            WriteWholeFile(folder.file("eeprom.bin"), eeprom);

            rig.answer = folder.file("flash.bin");
            EXPECT_EQ(rig.page.btnProgFlashClick(), Outcome::Done);
            EXPECT_EQ(rig.page.btnFLashVerifClick(), Outcome::Done);
            rig.answer = folder.file("eeprom.bin");
            EXPECT_EQ(rig.page.BitBtn1Click(), Outcome::Done);
            EXPECT_EQ(rig.page.btnEEPIntClick(), Outcome::Done);
            EXPECT_EQ(rig.host.messages(),
                      std::vector<std::string>(2, "Verification complete|VERIFICATION: OK !!!!!"));
            EXPECT_TRUE(std::equal(flash.begin(), flash.end(), rig.target().flash().begin(),
                                   [](char a, std::uint8_t b) { return std::uint8_t(a) == b; }));
        }
    }
}

TEST(AvrTiming, PagesLostToAChipSlowerThanEveryWaitAreReadBack)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega103"));
    std::string image(1024, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7);
    WriteWholeFile(folder.file("image.bin"), image);

    // The program waits for the ATmega103's slowest times, 56 ms a page and 112 ms to erase. A
    // chip slower than that is still writing the first page when the program reads it back: the
    // command ends there, naming the byte and how it left the chip.
    rig.target().timing.flashWriteNs = 1'000'000'000;
    rig.answer = folder.file("image.bin");
    ASSERT_EQ(rig.page.btnProgFlashClick(), Outcome::Failed);
    EXPECT_EQ(CountSleeps(rig, 56), 1);
    EXPECT_EQ(CountSleeps(rig, 112), 1);
    EXPECT_EQ(rig.host.messages(),
              (std::vector<std::string>{"ERROR|The chip did not take the write at 0x0000: 0x00 "
                                        "written, 0xFF read back.\rThe flash is erased and "
                                        "partly written (up to 0x0000)."}));
}

TEST(AvrOperations, TheStatusLineFollowsTheAddressAndSaysHowTheCommandEnded)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega128"));
    rig.target().flash()[0x100] = 0x12;
    rig.answer = folder.file("dump.bin");
    ASSERT_EQ(rig.page.btnLeerFlashClick(), Outcome::Done);
    const auto& s = rig.host.statuses;
    // Every 256 bytes from 0 to 0x1FF00, then the end: 513 lines of progress and the outcome.
    ASSERT_EQ(s.size(), 514u);
    EXPECT_EQ(s[0], "Flash 0x0000 of 0x20000");
    EXPECT_EQ(s[0x1A], "Flash 0x1A00 of 0x20000");
    EXPECT_EQ(s[512], "Flash 0x20000 of 0x20000");
    EXPECT_TRUE(
        std::regex_match(s.back(), std::regex(R"(Read 131072 bytes of flash in [0-9.]+ s)")))
        << s.back();

    struct Case {
        const char* what;
        std::function<Outcome()> run;
        const char* last;
    };
    const Case cases[] = {
        {"blank test of a used chip", [&] { return rig.page.btnTestBlankClick(); },
         R"(Blank test in [0-9.]+ s: not blank)"},
        {"erase", [&] { return rig.page.btnBorrarClick(); }, R"(Chip erased in [0-9.]+ s)"},
        {"blank test", [&] { return rig.page.btnTestBlankClick(); },
         R"(Blank test in [0-9.]+ s: flash and internal eeprom are blank)"},
        {"verify against the old dump",
         [&] {
             rig.answer = folder.file("dump.bin");
             return rig.page.btnFLashVerifClick();
         },
         R"(Verify found 1 differing byte of flash, the first at 0x0100)"},
        {"cancelled dialog",
         [&] {
             rig.answer.reset();
             return rig.page.BitBtn1Click();
         },
         R"(Programming internal eeprom cancelled: no file chosen)"},
        // The dump's only programmed byte, at 0x100, is the first the chip must take.
        {"a write the chip drops",
         [&] {
             rig.target().faults.dropWrites = true;
             rig.answer = folder.file("dump.bin");
             return rig.page.BitBtn1Click();
         },
         R"(Programming internal eeprom failed at 0x0100 after [0-9.]+ s)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rig.host.statuses.clear();
        c.run();
        ASSERT_FALSE(rig.host.statuses.empty());
        EXPECT_TRUE(std::regex_match(rig.host.statuses.back(), std::regex(c.last)))
            << rig.host.statuses.back();
    }
}
