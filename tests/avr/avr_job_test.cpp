// Auto runs and program-and-verify as jobs of one session, on the simulated board.
#include "avr/avr_session.h"
#include "avr_rig.h"
#include "files/scratch_folder.h"
#include "production/auto_run.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/sim_board.h"
#include "sim/spi_flash_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vardel::test {
namespace {

// The port gives out after this many data writes, as a pulled cable does.
class FailingPort final : public PassingPort {
public:
    explicit FailingPort(PortIo& inner) : PassingPort(inner) {}
    // Data writes left before the port fails; negative: it never does.
    long left = -1;

private:
    void written(std::uint16_t port, std::uint8_t) override
    {
        if (port == LptDataPort && left >= 0 && --left < 0)
            throw PortError("simulated board", "the cable is gone");
    }
};

struct AutoRig {
    SleepLog clock;
    sim::SimBoard board{clock};
    FailingPort port{board};
    LineDriver lines{port};
    BitTiming timing{clock};
    RecordingHost host;
    OperationLock lock;
    ScratchFolder folder;

    AutoRig() { host.recordGauges = false; }
    sim::AvrTarget& insert(const std::string& part)
    {
        std::string error;
        board.insertAvr(sim::MakeAvrChip(part, "", error));
        return dynamic_cast<sim::AvrTarget&>(*board.avr());
    }
    std::string file(const std::string& name, const std::string& text)
    {
        const std::string path = (folder.path() / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string read(const std::string& name)
    {
        std::ifstream in(folder.path() / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // The power cycles of the run: each programming enable starts with the supply off for 500 ms.
    long powerCycles() const { return std::ranges::count(clock.sleeps, AvrSerial::kPowerOffMs); }
};

// One Intel HEX record.
std::string Record(std::uint16_t address, std::uint8_t type, std::vector<std::uint8_t> data)
{
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                    static_cast<std::uint8_t>(address >> 8),
                                    static_cast<std::uint8_t>(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    std::string text = ":";
    char digits[3];
    for (const std::uint8_t b : bytes) {
        sum = static_cast<std::uint8_t>(sum + b);
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", static_cast<std::uint8_t>(-sum));
    return text + digits + "\n";
}

// A fuse that ends serial programming takes effect at the next power-up: the lock byte after it
// is written in the same session, and the chip is then locked out as asked.
TEST(AvrJob, TheLockFollowsAFuseThatEndsSerialProgrammingInTheSameSession)
{
    struct Case {
        const char* part;
        bool oneImage;
        std::string job; // a one-image HEX or a project's bit lines
        std::uint8_t high;
    };
    const Case cases[] = {
        {"ATtiny85", true,
         Record(0, 0, {0x0C, 0x94, 0x34, 0x00}) + Record(0, 4, {0x00, 0x82}) +
             Record(0, 0, {0x62, 0x55, 0xFF}) + Record(0, 4, {0x00, 0x83}) + Record(0, 0, {0xFC}) +
             ":00000001FF\n",
         0x55},
        {"ATmega328P", false, "fuse.high = 0x51\nlock = LB1=0 LB2=0\nallow-lockout = yes\n", 0x51},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        AutoRig rig;
        sim::AvrTarget& chip = rig.insert(c.part);
        const std::string name =
            c.oneImage ? rig.file("all.hex", c.job)
                       : rig.file("p.vardel",
                                  "socket = avr\npart = " + std::string(c.part) + "\n" + c.job);
        AutoJobLoad load = LoadAutoJob(name);
        ASSERT_TRUE(load.ok()) << load.error;
        AutoRun run(rig.lines, rig.clock, rig.timing, rig.host, rig.lock);
        run.allowLockout = true;
        EXPECT_EQ(run.run(load.job), AutoRun::Result::Ok) << rig.host.messages().back();
        EXPECT_EQ(chip.fuse(1), c.high);
        EXPECT_EQ(chip.lock() & 0x03, 0x00);
        // Once for the run, once after its confirmation was open with the lines low.
        EXPECT_LE(rig.powerCycles(), 2);
        AvrSerial serial(rig.lines, rig.clock);
        EXPECT_EQ(IdentifyAvr(serial).result, AvrIdentification::NotDetected);
    }
}

// A Cancel of the one confirmation writes nothing: not even the erase has gone out.
TEST(AvrJob, ACancelledConfirmationLeavesTheChipAsItWasAndIsLoggedAsACancel)
{
    AutoRig rig;
    sim::AvrTarget& chip = rig.insert("ATmega328P");
    chip.flash()[0] = 0x12;
    const std::string project =
        rig.file("p.vardel", "socket = avr\npart = ATmega328P\nflash = " VARDEL_SAMPLES_DIR
                             "/blink-atmega328p-all.hex\nfuse.low = 0xFF\nlog = runs.csv\n");
    AutoJobLoad load = LoadAutoJob(project);
    ASSERT_TRUE(load.ok()) << load.error;
    AutoRun run(rig.lines, rig.clock, rig.timing, rig.host, rig.lock);
    rig.host.answers = {Host::Result::Cancel};
    EXPECT_EQ(run.run(load.job), AutoRun::Result::Cancelled);
    EXPECT_EQ(chip.flash()[0], 0x12);
    EXPECT_EQ(chip.fuse(0), 0x62);
    for (const std::string& m : rig.host.messages())
        EXPECT_EQ(m.find("ERROR"), std::string::npos) << m;
    EXPECT_NE(rig.host.statuses.back().find("cancelled"), std::string::npos);
    EXPECT_NE(rig.read("runs.csv").find(",cancelled,"), std::string::npos) << rig.read("runs.csv");
    EXPECT_EQ(rig.board.data() & 0x1F, 0);
}

// Only what a project names is written: a serial number alone in the EEPROM is its own bytes (the
// rest is the board's data, kept through an erase by EESAVE), and without an image nothing is
// erased.
TEST(AutoRun, ASerialNumberAloneWritesOnlyItsBytes)
{
    const std::string head = "socket = avr\npart = ATmega328P\n";
    const struct {
        const char* lines;
        bool flashKept;
        const char* eepromText; // what the image gives the EEPROM: all of it is written
    } cases[] = {
        {"serial.memory = eeprom\nserial.address = 0x20\nserial.length = 2\n"
         "serial.format = big-endian\nserial.next = 0x1234\n",
         true, nullptr},
        {"fuses = CKDIV8=1\n", true, nullptr},
        // The chip's calibration byte (9A) beside the number: each written alone.
        {"serial.memory = eeprom\nserial.address = 0x20\nserial.length = 2\n"
         "serial.format = big-endian\nserial.next = 0x1234\ncalibration.memory = eeprom\n"
         "calibration.address = 0x3FF\n",
         true, nullptr},
        // A whole-program HEX as the flash gives the EEPROM its text, and its fuses.
        {"flash = " VARDEL_SAMPLES_DIR "/blink-atmega328p-all.hex\nserial.memory = eeprom\n"
         "serial.address = 0x20\nserial.length = 2\nserial.format = big-endian\n"
         "serial.next = 0x1234\nallow-lockout = no\n",
         false, "hello from the EEPROM"},
    };
    for (const auto& c : cases) {
        AutoRig rig;
        sim::AvrTarget& chip = rig.insert("ATmega328P");
        std::string error;
        ASSERT_TRUE(chip.set("avr.fuse.high", "D1", error)) << error; // EESAVE programmed
        chip.flash()[0x7000] = 0x5A;
        for (std::size_t i = 0; i < chip.eeprom().size(); ++i)
            chip.eeprom()[i] = static_cast<std::uint8_t>(i);
        std::vector<std::uint8_t> expected = chip.eeprom();
        if (c.eepromText) {
            std::ranges::fill(expected, 0xFF);
            std::copy_n(c.eepromText, std::strlen(c.eepromText) + 1, expected.begin());
        }
        AutoJobLoad load = LoadAutoJob(rig.file("p.vardel", head + c.lines));
        ASSERT_TRUE(load.ok()) << load.error;
        AutoRun run(rig.lines, rig.clock, rig.timing, rig.host, rig.lock);
        rig.host.answers = {Host::Result::Ok};
        ASSERT_EQ(run.run(load.job), AutoRun::Result::Ok) << c.lines;
        if (load.job.project.serial) {
            expected[0x20] = 0x12;
            expected[0x21] = 0x34;
        }
        if (load.job.project.calibration)
            expected[0x3FF] = 0x9A;
        EXPECT_EQ(chip.eeprom(), expected) << c.lines;
        EXPECT_EQ(chip.flash()[0x7000] == 0x5A, c.flashKept) << c.lines;
        if (c.eepromText) {
            EXPECT_EQ(chip.fuse(0), 0xE2);
            EXPECT_EQ(chip.fuse(1), 0xD9);
        }
    }
}

// --wait-for-chip's probe: a chip of the project's socket answers while it is in, on every bus,
// and the lines are low after each look.
TEST(AutoRun, AChipAnswersInItsSocketUntilItIsTakenOut)
{
    for (const char* part : {"ATmega328P", "24C256", "25040", "93C46x16", "GD25Q16"}) {
        SCOPED_TRACE(part);
        AutoRig rig;
        Project project;
        project.part = part;
        project.socket = std::string(part).starts_with("AT")   ? ProjectSocket::Avr
                         : std::string(part).starts_with("GD") ? ProjectSocket::SpiFlash
                                                               : ProjectSocket::Eeprom;
        std::string error;
        if (project.socket == ProjectSocket::Avr)
            rig.insert(part);
        else if (project.socket == ProjectSocket::SpiFlash)
            rig.board.insertAvr(sim::MakeSpiFlashChip(part));
        else
            sim::InsertSerialEeprom(rig.board, sim::MakeSerialEeprom(part, error));
        EXPECT_TRUE(ChipAnswers(rig.lines, rig.clock, rig.timing, project));
        EXPECT_EQ(rig.board.data(), 0x00);
        rig.board.removeAvr();
        rig.board.removeEeprom();
        EXPECT_FALSE(ChipAnswers(rig.lines, rig.clock, rig.timing, project));
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

// blank-only: the same chip run twice, or a locked one, is refused before anything is written,
// and takes no number.
TEST(AutoRun, BlankOnlyRefusesAChipThatHoldsAnything)
{
    AutoRig rig;
    sim::AvrTarget& chip = rig.insert("ATmega328P");
    const std::string project =
        rig.file("p.vardel", "socket = avr\npart = ATmega328P\nflash = " VARDEL_SAMPLES_DIR
                             "/blink-atmega163.hex\nblank-only = yes\nserial.memory = eeprom\n"
                             "serial.address = 0\nserial.length = 1\nserial.format = bcd\n"
                             "serial.next = 1\n");
    const struct {
        const char* lock; // set on the chip first, or null
        AutoRun::Result result;
        const char* says;
    } runs[] = {
        {nullptr, AutoRun::Result::Ok, ""},
        {nullptr, AutoRun::Result::Refused, "its flash holds "},
        {"FC", AutoRun::Result::Refused, "its lock bits are programmed (lock mode 3)"},
    };
    for (const auto& r : runs) {
        std::string error;
        if (r.lock) {
            ASSERT_TRUE(chip.set("avr.lock", r.lock, error)) << error;
        }
        const std::vector<std::uint8_t> before = chip.flash();
        AutoJobLoad load = LoadAutoJob(project);
        ASSERT_TRUE(load.ok()) << load.error;
        AutoRun run(rig.lines, rig.clock, rig.timing, rig.host, rig.lock);
        EXPECT_EQ(run.run(load.job), r.result) << r.says;
        if (r.result == AutoRun::Result::Refused) {
            EXPECT_EQ(chip.flash(), before);
            EXPECT_NE(rig.host.messages().back().find(r.says), std::string::npos)
                << rig.host.messages().back();
        }
    }
    EXPECT_NE(rig.read("p.vardel").find("serial.next = 2\n"), std::string::npos);
}

// The images are stamped when the batch starts: one that changes under it is found before the
// next chip.
TEST(AutoRun, AnImageChangedDuringABatchIsFound)
{
    AutoRig rig;
    const std::string image = rig.file("fw.bin", std::string(64, '\x5A'));
    AutoJobLoad load =
        LoadAutoJob(rig.file("p.vardel", "socket = avr\npart = ATmega328P\nflash = fw.bin\n"));
    ASSERT_TRUE(load.ok()) << load.error;
    ASSERT_EQ(ImagesText(load.job).size(), 1u);
    EXPECT_EQ(ChangedImage(load.job), "");
    rig.file("fw.bin", std::string(64, '\x5B'));
    EXPECT_EQ(ChangedImage(load.job), image);
}

// The project is read again when the next serial number is saved: an edit made during the run
// stays, and a serial.next given meanwhile is not overwritten (the run says so).
TEST(AutoRun, AnEditOfTheProjectDuringTheRunIsKept)
{
    const std::string head = "socket = avr\npart = ATmega328P\nserial.memory = eeprom\n"
                             "serial.address = 0\nserial.length = 2\nserial.format = bcd\n"
                             "log = runs.csv\n";
    const struct {
        const char* edit; // the project as another hand leaves it during the run
        AutoRun::Result result;
        const char* after;
    } cases[] = {
        {"serial.next = 41\n# a note made meanwhile\n", AutoRun::Result::Ok,
         "serial.next = 42\n# a note made meanwhile\n"},
        {"serial.next = 9000\n", AutoRun::Result::Failed, "serial.next = 9000\n"},
    };
    for (const auto& c : cases) {
        AutoRig rig;
        rig.insert("ATmega328P");
        const std::string project = rig.file("p.vardel", head + "serial.next = 41\n");
        AutoJobLoad load = LoadAutoJob(project, true);
        ASSERT_TRUE(load.ok()) << load.error;
        AutoRun run(rig.lines, rig.clock, rig.timing, rig.host, rig.lock);
        bool edited = false;
        run.stopRequested = [&] {
            if (!edited)
                rig.file("p.vardel", head + c.edit);
            edited = true;
            return false;
        };
        EXPECT_EQ(run.run(load.job), c.result) << c.edit;
        EXPECT_EQ(rig.read("p.vardel"), head + c.after);
        EXPECT_EQ(rig.read("runs.csv").find("was given serial.next = 9000 meanwhile") !=
                      std::string::npos,
                  c.result == AutoRun::Result::Failed)
            << rig.read("runs.csv");
    }
}

// A stop or a port fault during a verify says where the compare ended, never that the chip
// differs from the image.
TEST(AvrJob, AVerifyCutShortNeverSaysTheChipDiffers)
{
    std::vector<std::uint8_t> image(32768);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (const bool portFault : {false, true}) {
        SCOPED_TRACE(portFault ? "port fault" : "stop");
        AutoRig rig;
        sim::AvrTarget& chip = rig.insert("ATmega328P");
        const std::string project = rig.file(
            "p.vardel", "socket = avr\npart = ATmega328P\nflash = f.bin\nlog = runs.csv\n");
        rig.file("f.bin", std::string(image.begin(), image.end()));
        AutoJobLoad load = LoadAutoJob(project);
        ASSERT_TRUE(load.ok()) << load.error;
        AutoRun run(rig.lines, rig.clock, rig.timing, rig.host, rig.lock);
        // Once the whole image is in the chip, the verify is under way.
        const auto written = [&] {
            return std::equal(image.begin(), image.end(), chip.flash().begin());
        };
        bool armed = false;
        run.stopRequested = [&] {
            if (!armed && written()) {
                armed = true;
                if (portFault)
                    rig.port.left = 1000;
            }
            return armed && !portFault;
        };
        EXPECT_EQ(run.run(load.job), AutoRun::Result::Failed);
        ASSERT_TRUE(armed);
        const std::string last = rig.host.messages().back();
        EXPECT_NE(last.find("step \"verify flash\""), std::string::npos) << last;
        EXPECT_EQ(last.find("does not hold"), std::string::npos) << last;
        EXPECT_NE(last.find("the flash is programmed"), std::string::npos) << last;
        if (!portFault) {
            EXPECT_NE(last.find("nothing from there on was compared"), std::string::npos) << last;
        }
        EXPECT_NE(rig.read("runs.csv").find(portFault ? ",failed,Port error" : ",stopped,"),
                  std::string::npos)
            << rig.read("runs.csv");
    }
}

} // namespace
} // namespace vardel::test
