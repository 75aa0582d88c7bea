// Faults on the simulated board: no board, chips that stop answering, stay busy, hold a line, never
// echo, never finish a write, are pulled out, are protected, or drop what is written. Each command
// must end with the system's own message, every port line low, and nothing the user had lost.

#include "avr/sim_rig.h"
#include "files/scratch_folder.h"
#include "hw/hardware_check.h"
#include "i2c/eeprom_page.h"
#include "sim/eeprom_24cxx.h"
#include "sim/serial_eeproms.h"
#include "sim/sim_board.h"
#include "support/recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace vardel;
using vardel::test::RandomBytes;
using vardel::test::ReadWholeFile;
using vardel::test::RecordingHost;
using vardel::test::ScratchFolder;
using vardel::test::SimRig;
using vardel::test::StartCounter;
using vardel::test::WriteWholeFile;

namespace {

// ---- serial EEPROM side ----------------------------------------------------------------------

const std::string kAck = "message ERROR|" + EepromPage::AckMessage();

std::string PageFailure(int address)
{
    return "message ERROR|Brak potwierdzenia odbioru danych przez chip!!!\r(Didn't receive ACK at "
           "byte no. " +
           std::to_string(address) + ")";
}

// A recording host that runs `onLabel` when the progress label is given this text: a fault can
// then strike between two units of work.
class LabelHookHost final : public RecordingHost {
public:
    std::string hookLabel;
    std::function<void()> onLabel;
    void ProgressLabel(const std::string& text) override
    {
        RecordingHost::ProgressLabel(text);
        if (text == hookLabel && onLabel)
            onLabel();
    }
};

// The EEPROM page over the simulated board, a chip of the given type in the socket holding 0x5A in
// every cell, and an image of random bytes.
struct EepromRig {
    VirtualClock clock;
    sim::SimBoard board{clock};
    StartCounter port{board, clock};
    LineDriver lines{port};
    BitTiming timing{clock};
    LabelHookHost host;
    OperationLock lock;
    EepromPage page{lines, timing, host, lock};
    sim::Eeprom24Cxx* chip = nullptr;
    std::vector<std::uint8_t>* chipMemory = nullptr;

    explicit EepromRig(int typeIndex, unsigned seed = 1)
    {
        timing.MeasureClock();
        timing.DelayFactor = 1;
        host.recordGauges = false;
        page.cbChipChange(typeIndex);
        // A 25xx or 93Cxx sits in the AVR socket.
        if (auto serial = sim::MakeAvrSocketEeprom(kEepromTypes[typeIndex].name)) {
            chipMemory = &serial->memory();
            board.insertAvr(std::move(serial));
        } else {
            auto c = std::make_unique<sim::Eeprom24Cxx>(
                *sim::Eeprom24Cxx::findType(kEepromTypes[typeIndex].name));
            chip = c.get();
            chipMemory = &chip->memory();
            board.insertEeprom(std::move(c));
        }
        std::fill(chipMemory->begin(), chipMemory->end(), 0x5A);
        const auto bytes = RandomBytes(static_cast<std::size_t>(page.ChipSize), seed);
        std::copy(bytes.begin(), bytes.end(), page.EepromImage.begin());
    }
    std::vector<std::uint8_t> image() const
    {
        return {page.EepromImage.begin(), page.EepromImage.begin() + page.ChipSize};
    }
    std::vector<std::uint8_t> memory() const { return chip->memory(); }
    void clear() { host.calls.clear(); }
};

const int k24C32 = FindEepromType("24C32");

using EepromCommand = EepromPage::Outcome (EepromPage::*)();
constexpr EepromCommand kRead = &EepromPage::Leerchip1Click;
constexpr EepromCommand kVerify = &EepromPage::Verificar1Click;

// Each command fails for want of an acknowledge, between the busy and the normal cursor, with the
// image as it was and every line low.
void ExpectNoAck(EepromRig& rig, std::initializer_list<EepromCommand> commands)
{
    const auto image = rig.image();
    for (const EepromCommand command : commands) {
        rig.clear();
        EXPECT_EQ((rig.page.*command)(), EepromPage::Outcome::Failed);
        EXPECT_EQ(rig.host.essentials(), (std::vector<std::string>{"busy", kAck, "normal"}));
        EXPECT_EQ(rig.image(), image);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

// ---- AVR side --------------------------------------------------------------------------------

const char* const kNotDetected = "ERROR|Processor not detected!!!";
const char* const kProtected = "ERROR|Atmel is Read/Write protected (Received ID=00 01 02)";
const char* const kCommunication = "message ERROR|Atmel communication error...";
// The communication error with how the write left the chip below it.
std::string Communication(const char* left)
{
    return std::string(kCommunication) + "\r" + left;
}
const char* const kFlashAt0 = "The flash is erased and partly written (up to 0x0000).";
const char* const kFlashAt2 = "The flash is erased and partly written (up to 0x0002).";
const char* const kEepromAt0 = "The EEPROM is partly written (up to 0x0000).";
const char* const kEepromAt2 = "The EEPROM is partly written (up to 0x0002).";

long CountSleeps(const SimRig& rig, std::uint32_t ms)
{
    return std::count(rig.clock.sleeps.begin(), rig.clock.sleeps.end(), ms);
}

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> Pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return bytes;
}

using AvrCommand = AvrPage::Outcome (AvrPage::*)();

// Each command given `file` fails with `message` between the busy and the normal cursor and
// leaves the file as it was; a flash read then fails with it as well and writes no file. Every
// line ends low.
void ExpectEachFails(SimRig& rig, const ScratchFolder& folder, const std::string& file,
                     std::initializer_list<AvrCommand> commands, const std::string& message)
{
    const std::string before = ReadWholeFile(file);
    for (const AvrCommand command : commands) {
        rig.host.calls.clear();
        rig.answer = file;
        EXPECT_EQ((rig.page.*command)(), AvrPage::Outcome::Failed);
        EXPECT_EQ(rig.host.essentials(),
                  (std::vector<std::string>{"busy", "message " + message, "normal"}));
        EXPECT_EQ(ReadWholeFile(file), before);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
    const auto names = folder.names();
    rig.host.calls.clear();
    rig.answer = folder.file("dump" + file.substr(file.rfind('.')));
    EXPECT_EQ(rig.page.btnLeerFlashClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{message}));
    EXPECT_EQ(folder.names(), names);
    EXPECT_EQ(rig.board.data(), 0x00);
}

} // namespace

// ---- no board on the port --------------------------------------------------------------------

TEST(NoBoard, EepromCommandsFindNoChipAndKeepTheImage)
{
    EepromRig rig(k24C32);
    rig.board.setDisconnected(true);
    const auto image = rig.image();

    ExpectNoAck(rig, {kRead, kVerify});

    rig.clear();
    EXPECT_EQ(rig.page.Grabarchip1Click(), EepromPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages().size(), 1u);
    EXPECT_EQ("message " + rig.host.messages().front(), PageFailure(0));
    EXPECT_EQ(rig.image(), image);
    EXPECT_EQ(rig.board.data(), 0x00);
    // Nothing reached the socket.
    EXPECT_EQ(rig.memory(), std::vector<std::uint8_t>(4096, 0x5A));
}

TEST(NoBoard, AvrCommandsFindNoProcessor)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega163"));
    rig.target().flash() = Pattern(16384);
    rig.board.setDisconnected(true);

    EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{kNotDetected}));
    EXPECT_EQ(rig.page.model().lbTipo(), "??");
    EXPECT_EQ(rig.page.model().Notebook1(), "Empty");
    // Three power cycles before giving up.
    EXPECT_EQ(CountSleeps(rig, 500), 3);
    EXPECT_EQ(rig.board.data(), 0x00);

    const std::string file = folder.file("image.bin");
    WriteWholeFile(file, Text(RandomBytes(1000, 3)));
    const std::string before = ReadWholeFile(file);
    rig.host.calls.clear();
    rig.answer = file;
    EXPECT_EQ(rig.page.btnProgFlashClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", std::string("message ") + kNotDetected, "normal"}));
    EXPECT_EQ(ReadWholeFile(file), before);
    EXPECT_EQ(rig.target().flash(), Pattern(16384));
    EXPECT_EQ(rig.board.data(), 0x00);

    rig.host.calls.clear();
    EXPECT_EQ(rig.page.btnBorrarClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{kNotDetected}));
    EXPECT_EQ(rig.target().flash(), Pattern(16384));
    EXPECT_EQ(rig.board.data(), 0x00);
}

// ---- serial EEPROM faults --------------------------------------------------------------------

TEST(EepromFaults, AChipThatStopsAcknowledgingMidPageEndsProgrammingAtThatPage)
{
    EepromRig rig(k24C32);
    const auto image = rig.image();
    // Pages 0, 32 and 64 go through; from the fourth page on the chip refuses its eleventh byte.
    rig.host.hookLabel = "64 bytes deleted...";
    rig.host.onLabel = [&] {
        rig.chip->nackAfterDataBytes = 10;
        rig.port.starts = 0;
    };

    EXPECT_EQ(rig.page.Grabarchip1Click(), EepromPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "progress show", "progress hide", PageFailure(96),
                                        "normal"}));
    EXPECT_EQ(rig.port.starts, EepromPage::kAttemptsPerPage);
    EXPECT_EQ(rig.board.data(), 0x00);
    EXPECT_EQ(rig.image(), image);
    // The pages before it are written; the refused page and the rest keep what they held.
    const auto memory = rig.memory();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 96, memory.begin()));
    EXPECT_TRUE(std::all_of(memory.begin() + 96, memory.end(), [](auto b) { return b == 0x5A; }));
}

TEST(EepromFaults, AChipThatStaysBusyIsNeverAddressed)
{
    EepromRig rig(k24C32);
    rig.chip->busyForever = true;
    const auto image = rig.image();

    // Addressing fails before any byte is read: no progress window.
    ExpectNoAck(rig, {kRead, kVerify});

    rig.clear();
    rig.port.starts = 0;
    EXPECT_EQ(rig.page.Grabarchip1Click(), EepromPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "progress show", "progress hide", PageFailure(0),
                                        "normal"}));
    EXPECT_EQ(rig.port.starts, EepromPage::kAttemptsPerPage);
    EXPECT_EQ(rig.memory(), std::vector<std::uint8_t>(4096, 0x5A));
    EXPECT_EQ(rig.image(), image);
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(EepromFaults, AStuckSdaIsNoChipNotAChipFullOfZeros)
{
    EepromRig rig(k24C32);
    rig.chip->sdaStuckLow = true;
    ExpectNoAck(rig, {kRead});
    // An image of zeros is exactly what a held line would read as: it must not verify.
    std::fill_n(rig.page.EepromImage.begin(), rig.page.ChipSize, 0x00);
    ExpectNoAck(rig, {kVerify});

    rig.clear();
    EXPECT_EQ(rig.page.Grabarchip1Click(), EepromPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages().size(), 1u);
    EXPECT_EQ("message " + rig.host.messages().front(), PageFailure(0));
    EXPECT_EQ(rig.memory(), std::vector<std::uint8_t>(4096, 0x5A));
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(EepromFaults, AChipPulledOutBetweenOperationsKeepsItsContents)
{
    EepromRig rig(k24C32, 9);
    const auto image = rig.image();
    ASSERT_EQ(rig.page.Grabarchip1Click(), EepromPage::Outcome::Done);
    ASSERT_EQ(rig.memory(), image);

    auto pulled = rig.board.removeEeprom();
    ExpectNoAck(rig, {kVerify, kRead});

    // Put back, it still holds what was programmed.
    rig.board.insertEeprom(std::move(pulled));
    rig.clear();
    EXPECT_EQ(rig.page.Verificar1Click(), EepromPage::Outcome::Done);
    EXPECT_EQ(rig.host.messages(),
              (std::vector<std::string>{
                  "VERIFICATION COMPLETE|Weryfikacja chipu przebiegła prawidłowo!!!"}));
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(EepromFaults, AWriteTheChipDropsIsCaughtByVerify)
{
    EepromRig rig(k24C32, 5);
    rig.chip->dropWrites = true;
    // The chip holds 0x5A everywhere: the first byte of the image that differs from it is 10.
    std::fill_n(rig.page.EepromImage.begin(), 10, 0x5A);
    rig.page.EepromImage[10] = 0x00;
    const auto image = rig.image();

    // Every byte is acknowledged: programming itself cannot tell.
    EXPECT_EQ(rig.page.Grabarchip1Click(), EepromPage::Outcome::Done);
    EXPECT_TRUE(rig.host.messages().empty());
    EXPECT_EQ(rig.board.data(), 0x00);

    rig.clear();
    EXPECT_EQ(rig.page.Verificar1Click(), EepromPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "progress show", "progress hide", "normal",
                                        "message VERIFICATION ERROR|Defference found at byte "
                                        "no.: 10"}));
    EXPECT_EQ(rig.image(), image);
    EXPECT_EQ(rig.memory(), std::vector<std::uint8_t>(4096, 0x5A));
    EXPECT_EQ(rig.board.data(), 0x00);
}

// ---- AVR faults ------------------------------------------------------------------------------

TEST(AvrFaults, AChipThatNeverEchoesIsNotDetectedAndNotTouched)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("AT90S8515"));
    rig.target().faults.neverEcho = true;
    rig.target().flash() = Pattern(8192);
    rig.target().eeprom() = Pattern(512);

    EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{kNotDetected}));
    EXPECT_EQ(CountSleeps(rig, 500), 3);
    EXPECT_EQ(CountSleeps(rig, 300), 3);
    EXPECT_EQ(rig.board.data(), 0x00);

    // The erase does not identify, but needs the chip to answer Programming Enable.
    rig.host.calls.clear();
    EXPECT_EQ(rig.page.btnBorrarClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal", std::string("message ") + kNotDetected}));
    EXPECT_EQ(rig.board.data(), 0x00);

    const std::string file = folder.file("image.hex");
    WriteWholeFile(file, ":0400000001020304F2\r\n:00000001FF\r\n");
    ExpectEachFails(rig, folder, file, {&AvrPage::btnProgFlashClick, &AvrPage::BitBtn1Click},
                    kNotDetected);
    EXPECT_EQ(rig.target().flash(), Pattern(8192));
    EXPECT_EQ(rig.target().eeprom(), Pattern(512));
}

TEST(AvrFaults, PollingThatNeverEndsStopsByteWrittenFlashAndEeprom)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("AT90S2313"));
    rig.target().faults.pollingNeverDone = true;
    // The first byte is the one polled: neither 0xFF (skipped) nor 0x7F/0x80 (waited for).
    const std::string file = folder.file("image.bin");
    WriteWholeFile(file, "\x12\x34\x56\x78");
    const std::string before = ReadWholeFile(file);

    rig.answer = file;
    EXPECT_EQ(rig.page.btnProgFlashClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal", Communication(kFlashAt0)}));
    // The first read and 5000 retries, each after 1 ms.
    EXPECT_EQ(CountSleeps(rig, 1), AvrPage::kPollRetries);
    EXPECT_EQ(ReadWholeFile(file), before);
    EXPECT_EQ(rig.board.data(), 0x00);
    // The chip was erased and nothing after the failed byte was written.
    const auto& flash = rig.target().flash();
    EXPECT_TRUE(std::all_of(flash.begin() + 1, flash.end(), [](auto b) { return b == 0xFF; }));

    rig.host.calls.clear();
    rig.clock.sleeps.clear();
    rig.target().flash() = Pattern(2048);
    rig.target().eeprom() = Pattern(128);
    rig.answer = file;
    EXPECT_EQ(rig.page.BitBtn1Click(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal", Communication(kEepromAt0)}));
    // EEPROM polling does not sleep between reads.
    EXPECT_EQ(CountSleeps(rig, 1), 0);
    EXPECT_EQ(ReadWholeFile(file), before);
    EXPECT_EQ(rig.board.data(), 0x00);
    // There is no erase before an EEPROM programming: the bytes after the failed one are as they
    // were, and so is the flash.
    const auto pattern = Pattern(128);
    EXPECT_TRUE(std::equal(pattern.begin() + 1, pattern.end(), rig.target().eeprom().begin() + 1));
    EXPECT_EQ(rig.target().flash(), Pattern(2048));
}

TEST(AvrFaults, APortFasterThanTheChipStillPollsForSeveralOfItsSlowestWrites)
{
    // On a port that takes no time the 5000 EEPROM reads are over at once (the chip clocked
    // through XTAL, so no phase waits on the clock); the poll goes on a millisecond at a time for
    // four of the ATtiny12's slowest writes (20 ms) before giving up.
    ScratchFolder folder;
    SimRig rig;
    rig.clock.freePort = true;
    ASSERT_TRUE(rig.insert("ATtiny12"));
    std::string error;
    ASSERT_TRUE(rig.target().set("avr.fuse.low", "DF", error)) << error;
    const std::string file = folder.file("image.bin");
    WriteWholeFile(file, "\x12\x34\x56\x78");
    rig.answer = file;
    EXPECT_EQ(rig.page.BitBtn1Click(), AvrPage::Outcome::Done);
    EXPECT_EQ(rig.page.btnEEPIntClick(), AvrPage::Outcome::Done);
    // Each of the four polled bytes reads back after 20 sleeps of 1 ms.
    EXPECT_EQ(CountSleeps(rig, 1), 4 * 20);

    rig.host.calls.clear();
    rig.clock.sleeps.clear();
    rig.target().faults.pollingNeverDone = true;
    EXPECT_EQ(rig.page.BitBtn1Click(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"busy", "normal", Communication(kEepromAt0)}));
    // And a last look once the span is over.
    EXPECT_EQ(CountSleeps(rig, 1), AvrPage::kPollSpanWrites * 20 + 1);
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(AvrFaults, AChipPulledOutBetweenOperationsIsNotDetectedAndKeepsItsContents)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("ATmega163"));
    rig.target().flash() = Pattern(16384);
    ASSERT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Done);
    ASSERT_EQ(rig.page.model().lbTipo(), "ATmega163 (16kb flash)");
    auto pulled = rig.board.removeAvr();

    rig.host.calls.clear();
    EXPECT_EQ(rig.page.btnBorrarClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{kNotDetected}));
    EXPECT_EQ(rig.board.data(), 0x00);

    const std::string file = folder.file("image.bin");
    WriteWholeFile(file, Text(RandomBytes(300, 4)));
    const std::string before = ReadWholeFile(file);
    for (auto command : {&AvrPage::btnProgFlashClick, &AvrPage::btnFLashVerifClick}) {
        rig.host.calls.clear();
        rig.answer = file;
        EXPECT_EQ((rig.page.*command)(), AvrPage::Outcome::Failed);
        EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{kNotDetected}));
        EXPECT_EQ(ReadWholeFile(file), before);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
    // The label still names the chip last identified.
    EXPECT_EQ(rig.page.model().lbTipo(), "ATmega163 (16kb flash)");

    rig.board.insertAvr(std::move(pulled));
    EXPECT_EQ(rig.target().flash(), Pattern(16384));
    rig.host.calls.clear();
    EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Done);
    EXPECT_TRUE(rig.host.messages().empty());
    EXPECT_EQ(rig.board.data(), 0x00);
}

TEST(AvrFaults, AProtectedChipIsNamedAndLeftAlone)
{
    ScratchFolder folder;
    SimRig rig;
    ASSERT_TRUE(rig.insert("", "000102"));
    const auto flash = rig.target().flash();
    const auto eeprom = rig.target().eeprom();

    EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{kProtected}));
    EXPECT_EQ(rig.page.lastIdentification(), AvrPage::Identification::Protected);
    EXPECT_EQ(rig.page.model().lbTipo(), "??");
    EXPECT_EQ(rig.page.model().Notebook1(), "Empty");
    EXPECT_EQ(rig.board.data(), 0x00);

    const std::string file = folder.file("image.bin");
    WriteWholeFile(file, Text(RandomBytes(512, 6)));
    ExpectEachFails(rig, folder, file,
                    {&AvrPage::btnProgFlashClick, &AvrPage::btnFLashVerifClick,
                     &AvrPage::BitBtn1Click, &AvrPage::btnEEPIntClick, &AvrPage::btnTestBlankClick},
                    kProtected);
    EXPECT_EQ(rig.target().flash(), flash);
    EXPECT_EQ(rig.target().eeprom(), eeprom);
}

TEST(AvrFaults, WritesTheChipDropsAreCaught)
{
    ScratchFolder folder;
    // Page-written flash is not polled: each page is read back after its wait.
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("ATmega163"));
        rig.target().faults.dropWrites = true;
        auto image = RandomBytes(16384, 8);
        std::fill_n(image.begin(), 0x1234, 0xFF);
        image[0x1234] = 0x00;
        const std::string file = folder.file("pages.bin");
        WriteWholeFile(file, Text(image));

        rig.answer = file;
        EXPECT_EQ(rig.page.btnProgFlashClick(), AvrPage::Outcome::Failed);
        EXPECT_EQ(rig.host.essentials(),
                  (std::vector<std::string>{
                      "busy", "normal",
                      "message ERROR|The chip did not take the write at 0x1234: 0x00 written, "
                      "0xFF read back.\rThe flash is erased and partly written (up to 0x1200)."}));
        EXPECT_EQ(Bytes(ReadWholeFile(file)), image);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
    // Byte-written flash and EEPROM bytes are read back: polling tells at once.
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("AT90S8515"));
        rig.target().faults.dropWrites = true;
        const std::string file = folder.file("bytes.bin");
        WriteWholeFile(file, "\xFF\xFF\x12\x34");
        for (auto command : {&AvrPage::btnProgFlashClick, &AvrPage::BitBtn1Click}) {
            rig.host.calls.clear();
            rig.answer = file;
            EXPECT_EQ((rig.page.*command)(), AvrPage::Outcome::Failed);
            EXPECT_EQ(rig.host.essentials(),
                      (std::vector<std::string>{"busy", "normal",
                                                Communication(command == &AvrPage::btnProgFlashClick
                                                                  ? kFlashAt2
                                                                  : kEepromAt2)}));
            EXPECT_EQ(ReadWholeFile(file), "\xFF\xFF\x12\x34");
            EXPECT_EQ(rig.board.data(), 0x00);
        }
        // The EEPROM keeps what it had, as the erase before the flash programming left it.
        EXPECT_EQ(rig.target().eeprom(), std::vector<std::uint8_t>(512, 0xFF));
    }
}

// ---- a port that stops answering -------------------------------------------------------------

namespace {

const std::string kPortPrefix = "ERROR|Port error on the simulated board: the port does not ";
const std::string kStopped = ".\rThe operation was stopped.";

// The accesses a whole command takes, counted on a port that would stop only after a billion.
template <class Rig, class Command> long AccessesOf(Rig& rig, Command command)
{
    constexpr long kMany = 1'000'000'000;
    rig.board.stopAnsweringAfter(kMany);
    command();
    const long used = kMany - rig.board.answersLeft();
    rig.board.stopAnsweringAfter(-1);
    return used;
}

} // namespace

TEST(PortFaults, AnEepromCommandEndsAtOnceWithThePortsErrorAndKeepsTheImage)
{
    using Outcome = EepromPage::Outcome;
    using Command = Outcome (EepromPage::*)();
    struct Row {
        Command command;
        bool writesStillTaken;
    };
    for (const int type : {k24C32, FindEepromType("25256"), FindEepromType("93C46x16")})
        for (const Row row :
             {Row{&EepromPage::Leerchip1Click, true}, Row{&EepromPage::Grabarchip1Click, true},
              Row{&EepromPage::Verificar1Click, true}, Row{&EepromPage::Leerchip1Click, false},
              Row{&EepromPage::Verificar1Click, false}}) {
            SCOPED_TRACE(kEepromTypes[type].name);
            EepromRig rig(type);
            const auto image = rig.image();
            const long whole = AccessesOf(rig, [&] { (rig.page.*row.command)(); });
            std::copy(image.begin(), image.end(), rig.page.EepromImage.begin());
            std::fill(rig.chipMemory->begin(), rig.chipMemory->end(), 0x5A);
            int refreshes = 0;
            rig.page.RefreshGrid = [&] {
                ++refreshes;
            };
            rig.clear();

            rig.board.stopAnsweringAfter(whole / 2, row.writesStillTaken);
            EXPECT_EQ((rig.page.*row.command)(), Outcome::Failed);
            const auto calls = rig.host.essentials();
            ASSERT_EQ(calls.size(), 5u);
            EXPECT_EQ(
                std::vector<std::string>(calls.begin(), calls.begin() + 4),
                (std::vector<std::string>{"busy", "progress show", "progress hide", "normal"}));
            EXPECT_EQ(calls[4].rfind("message " + kPortPrefix, 0), 0u) << calls[4];
            EXPECT_EQ(calls[4].substr(calls[4].size() - kStopped.size()), kStopped);
            // Nothing read from the failing port reached the image or the grid.
            EXPECT_EQ(rig.image(), image);
            EXPECT_EQ(refreshes, 0);
            if (row.writesStillTaken) {
                EXPECT_EQ(rig.board.data(), 0x00);
            }
        }
}

TEST(PortFaults, AnAvrCommandEndsAtOnceWithThePortsErrorAndWritesNoFile)
{
    ScratchFolder folder;
    const std::string file = folder.file("flash.bin");
    using Command = AvrPage::Outcome (AvrPage::*)();
    for (const Command command :
         {&AvrPage::btnLeerFlashClick, &AvrPage::btnProgFlashClick, &AvrPage::btnFLashVerifClick,
          &AvrPage::btnLeerEEPIntClick, &AvrPage::BitBtn1Click}) {
        SimRig rig;
        ASSERT_TRUE(rig.insert("AT90S2313"));
        // Flash and file alike, so that a verify runs to its end.
        WriteWholeFile(file, Text(Pattern(2048)));
        rig.target().flash() = Pattern(2048);
        rig.answer = file;
        const long whole = AccessesOf(rig, [&] { (rig.page.*command)(); });
        // A read would replace the file; the others take it as their image.
        const bool reads =
            command == &AvrPage::btnLeerFlashClick || command == &AvrPage::btnLeerEEPIntClick;
        const std::string kept = reads ? "kept" : ReadWholeFile(file);
        WriteWholeFile(file, kept);
        rig.host.calls.clear();

        rig.board.stopAnsweringAfter(whole / 2, true);
        EXPECT_EQ((rig.page.*command)(), AvrPage::Outcome::Failed);
        const auto calls = rig.host.essentials();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end() - 1),
                  std::vector<std::string>{"normal"});
        const std::string failure = "message ERROR|Atmel communication error...\r" +
                                    kPortPrefix.substr(6) + "answer a status read any more" +
                                    kStopped;
        EXPECT_EQ(calls.back().rfind(failure, 0), 0u) << calls.back();
        // The commands that write say how they left the chip.
        const std::string left = calls.back().substr(std::min(failure.size(), calls.back().size()));
        EXPECT_EQ(left, command == &AvrPage::btnProgFlashClick
                            ? "\rThe flash is erased and partly written (up to 0x03FF)."
                        : command == &AvrPage::BitBtn1Click
                            ? "\rThe EEPROM is partly written (up to 0x003F)."
                            : "");
        EXPECT_EQ(ReadWholeFile(file), kept);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

// A port that fails at any tenth of a flash programming, or of an EEPROM one by pages: the message
// names how far the chip got, and the chip holds the file up to the address it names.
TEST(PortFaults, AFlashProgrammingCutShortNamesTheStateOfTheChip)
{
    ScratchFolder folder;
    for (const auto& [device, eeprom] : {std::pair{"AT90S2313", false},
                                         {"ATmega163", false},
                                         {"ATmega328P", false},
                                         {"ATmega328P", true}}) {
        const auto program = eeprom ? &AvrPage::BitBtn1Click : &AvrPage::btnProgFlashClick;
        SimRig rig;
        ASSERT_TRUE(rig.insert(device));
        auto& memory = eeprom ? rig.target().eeprom() : rig.target().flash();
        const auto image = RandomBytes(memory.size(), 3);
        const std::string file = folder.file("flash.bin");
        WriteWholeFile(file, Text(image));
        rig.answer = file;
        const long whole = AccessesOf(rig, [&] { (rig.page.*program)(); });
        for (int tenth = 1; tenth < 10; ++tenth) {
            SCOPED_TRACE(std::string(device) + (eeprom ? " EEPROM" : "") + " at tenth " +
                         std::to_string(tenth));
            std::fill(memory.begin(), memory.end(), 0x00);
            rig.host.calls.clear();
            rig.board.stopAnsweringAfter(whole * tenth / 10, true);
            EXPECT_EQ((rig.page.*program)(), AvrPage::Outcome::Failed);
            rig.board.stopAnsweringAfter(-1);
            const std::string message = rig.host.messages().back();
            const std::string upTo = eeprom ? "The EEPROM is partly written (up to 0x"
                                            : "The flash is erased and partly written (up to 0x";
            const std::size_t at = message.rfind('\r');
            ASSERT_NE(at, std::string::npos);
            const std::string left = message.substr(at + 1);
            ASSERT_EQ(left.rfind(upTo, 0), 0u) << left;
            const std::size_t written = std::stoul(left.substr(upTo.size()), nullptr, 16);
            EXPECT_GT(written, 0u);
            EXPECT_TRUE(std::equal(image.begin(), image.begin() + written, memory.begin()));
            EXPECT_EQ(rig.board.data(), 0x00);
        }
    }
}

TEST(PortFaults, TheBoardCheckNamesThePortNotTheBoard)
{
    EepromRig rig(k24C32);
    for (long answered : {0L, 1L, 3L}) {
        rig.clear();
        rig.board.stopAnsweringAfter(answered);
        BoardCheckReadings readings;
        EXPECT_FALSE(CheckBoard(rig.lines, rig.host, &readings));
        EXPECT_TRUE(readings.portFailed);
        ASSERT_EQ(rig.host.messages().size(), 1u);
        EXPECT_EQ(rig.host.messages()[0].rfind(kPortPrefix, 0), 0u) << rig.host.messages()[0];
    }
}

TEST(BoardCheck, TheStatusRegisterTellsNoBoardFromAStuckLineFromABoardThatAnswers)
{
    struct Row {
        std::function<void(EepromRig&)> fault;
        BoardDiagnosis diagnosis;
        bool passes;
    };
    const Row rows[] = {
        {[](EepromRig&) {}, BoardDiagnosis::Followed, true},
        {[](EepromRig& rig) { rig.chip->sdaStuckLow = true; }, BoardDiagnosis::StuckLow, false},
        {[](EepromRig& rig) { rig.board.setDisconnected(true); }, BoardDiagnosis::NeverChanged,
         false},
    };
    for (const Row& row : rows) {
        EepromRig rig(k24C32);
        row.fault(rig);
        BoardCheckReadings readings;
        EXPECT_EQ(CheckBoard(rig.lines, rig.host, &readings), row.passes);
        // The check stops at the first level that does not come back; vardel-cli reads the other.
        const std::uint8_t low =
            readings.afterLow ? *readings.afterLow : ReadStatusWithSda(rig.lines, false);
        EXPECT_EQ(DiagnoseBoard(*readings.afterHigh, low), row.diagnosis);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
    // Readings no simulated fault gives: a line held high, a board wired the other way round, and
    // an address where no port answers.
    EXPECT_EQ(DiagnoseBoard(0x47, 0x47), BoardDiagnosis::StuckHigh);
    EXPECT_EQ(DiagnoseBoard(0xC7, 0x47), BoardDiagnosis::Inverted);
    EXPECT_EQ(DiagnoseBoard(0xFF, 0xFF), BoardDiagnosis::NeverChanged);
}
