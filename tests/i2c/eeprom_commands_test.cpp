#include "i2c/eeprom_page.h"
#include "sim/eeprom_24cxx.h"
#include "sim/line_trace.h"
#include "sim/sim_board.h"
#include "support/recording.h"

#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::test::RecordingHost;
using vardel::test::StartCounter;
using Outcome = EepromPage::Outcome;

namespace {

// The EEPROM page over the simulated board with a chip of the given type in its socket.
struct Bench {
    VirtualClock clock;
    sim::SimBoard board{clock};
    StartCounter port{board, clock};
    LineDriver lines{port};
    BitTiming timing{clock};
    RecordingHost host;
    OperationLock lock;
    EepromPage page{lines, timing, host, lock};
    sim::Eeprom24Cxx* chip = nullptr;

    explicit Bench(int typeIndex, bool withChip = true)
    {
        timing.MeasureClock();
        timing.DelayFactor = 1;
        host.recordGauges = false;
        page.cbChipChange(typeIndex);
        if (withChip) {
            auto c = std::make_unique<sim::Eeprom24Cxx>(
                *sim::Eeprom24Cxx::findType(kEepromTypes[typeIndex].name));
            chip = c.get();
            board.insertEeprom(std::move(c));
        }
    }
    void fillImage(unsigned seed)
    {
        std::mt19937 rng(seed);
        for (int i = 0; i < page.ChipSize; ++i)
            page.EepromImage[i] = static_cast<std::uint8_t>(rng());
    }
};

} // namespace

TEST(EepromCommands, EveryTypeProgramsReadsBackAndVerifies)
{
    for (int t = 0; t < static_cast<int>(kEepromTypes.size()); ++t) {
        if (kEepromTypes[t].bus != EepromBus::I2C)
            continue;
        SCOPED_TRACE(kEepromTypes[t].name);
        Bench b(t);
        b.fillImage(t + 1);
        const std::vector<std::uint8_t> image(b.page.EepromImage.begin(),
                                              b.page.EepromImage.begin() + b.page.ChipSize);
        EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), b.chip->memory().begin()));
        EXPECT_EQ(b.board.data(), 0x00);

        EXPECT_EQ(b.page.Verificar1Click(), Outcome::Done);
        std::fill_n(b.page.EepromImage.begin(), b.page.ChipSize, 0x00);
        EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Done);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), b.page.EepromImage.begin()));
        EXPECT_EQ(b.host.messages(),
                  (std::vector<std::string>{
                      "VERIFICATION COMPLETE|Weryfikacja chipu przebiegła prawidłowo!!!"}));
        EXPECT_EQ(b.board.data(), 0x00);
    }
}

TEST(EepromCommands, VerifyNamesTheFirstDifferenceAndKeepsTheImage)
{
    Bench b(FindEepromType("24C32"));
    b.fillImage(7);
    ASSERT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
    b.chip->memory()[100] ^= 0x01;
    b.chip->memory()[200] ^= 0x80;
    const std::vector<std::uint8_t> before = b.page.EepromImage;
    int refreshes = 0;
    b.page.RefreshGrid = [&] {
        ++refreshes;
    };
    EXPECT_EQ(b.page.Verificar1Click(), Outcome::Failed);
    EXPECT_EQ(b.host.messages(),
              (std::vector<std::string>{"VERIFICATION ERROR|Defference found at byte no.: 100"}));
    EXPECT_EQ(b.page.EepromImage, before);
    EXPECT_EQ(refreshes, 0);
}

TEST(EepromCommands, AMissingChipGivesTheAckMessageWithoutProgress)
{
    Bench b(FindEepromType("24C128"), false);
    b.page.EepromImage[3] = 0x33;
    int refreshes = 0;
    b.page.RefreshGrid = [&] {
        ++refreshes;
    };
    EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Failed);
    EXPECT_EQ(
        b.host.essentials(),
        (std::vector<std::string>{"busy", "message ERROR|" + EepromPage::AckMessage(), "normal"}));
    EXPECT_EQ(b.page.EepromImage[3], 0x33);
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(b.board.data(), 0x00);

    b.host.calls.clear();
    EXPECT_EQ(b.page.Verificar1Click(), Outcome::Failed);
    EXPECT_EQ(b.page.EepromImage[3], 0x33);
    EXPECT_EQ(b.board.data(), 0x00);
}

TEST(EepromCommands, ProgrammingGivesUpAfter26AttemptsAtAPage)
{
    Bench b(FindEepromType("24C128"));
    b.chip->busyForever = true;
    EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Failed);
    EXPECT_EQ(b.port.starts, 26);
    EXPECT_EQ(b.host.essentials(),
              (std::vector<std::string>{"busy", "progress show", "progress hide",
                                        "message ERROR|Brak potwierdzenia odbioru danych przez "
                                        "chip!!!\r(Didn't receive ACK at byte no. 0)",
                                        "normal"}));
    // A failed programming switches the chip off too.
    EXPECT_EQ(b.board.data(), 0x00);
}

TEST(EepromCommands, ProgrammingRetriesAPageWhileTheChipIsBusy)
{
    // A write cycle longer than the 3 ms pause: the next page's first attempts are not
    // acknowledged, and a later attempt gets through.
    Bench b(FindEepromType("24C04"));
    b.chip->writeCycleNs = 4'000'000;
    b.fillImage(3);
    EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
    EXPECT_GT(b.port.starts, 32);
    EXPECT_TRUE(std::equal(b.page.EepromImage.begin(), b.page.EepromImage.begin() + 512,
                           b.chip->memory().begin()));
}

TEST(EepromCommands, FullAndSecondSourceWriteCyclesAreCarriedToTheEnd)
{
    // The datasheets' 5 ms and the 10 ms of some second sources: both outlast the 3 ms pause, so
    // the retries carry every page after the first, and the supply stays on until the last
    // page's cycle has ended.
    for (const std::int64_t cycleNs : {5'000'000LL, 10'000'000LL}) {
        SCOPED_TRACE(cycleNs);
        Bench b(FindEepromType("24C32"));
        b.chip->writeCycleNs = cycleNs;
        b.fillImage(5);
        EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
        EXPECT_GT(b.port.starts, 4096 / 32);
        EXPECT_GE(b.port.powerOffNs - b.port.lastStopNs, cycleNs);
        EXPECT_TRUE(std::equal(b.chip->memory().begin(), b.chip->memory().end(),
                               b.page.EepromImage.begin()));
        EXPECT_EQ(b.page.Verificar1Click(), Outcome::Done);
    }
}

TEST(EepromCommands, EachTypeIsWrittenInItsOwnPagesWithTheirPause)
{
    const struct {
        const char* type;
        int pageSize;
    } cases[] = {{"24C01", 8}, {"24C02", 8}, {"24C04", 16}, {"24C1024", 256}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        Bench b(FindEepromType(c.type));
        b.chip->writeCycleNs = 2'000'000; // within the pause: every page goes through at once
        b.host.recordGauges = true;
        b.fillImage(9);
        const int pages = b.page.ChipSize / c.pageSize;
        const std::int64_t start = b.clock.nanoseconds();
        EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
        EXPECT_EQ(b.port.starts, pages);
        EXPECT_GE(b.clock.nanoseconds() - start, pages * 3'000'000LL);
        EXPECT_TRUE(std::equal(b.chip->memory().begin(), b.chip->memory().end(),
                               b.page.EepromImage.begin()));
        std::vector<std::string> labels;
        for (const auto& call : b.host.calls)
            if (call.rfind("label ", 0) == 0)
                labels.push_back(call.substr(6));
        ASSERT_EQ(labels.size(), static_cast<std::size_t>(pages));
        EXPECT_EQ(labels.front(), "0 bytes deleted...");
        EXPECT_EQ(labels[1], std::to_string(c.pageSize) + " bytes deleted...");
        EXPECT_EQ(labels.back(),
                  std::to_string(b.page.ChipSize - c.pageSize) + " bytes deleted...");
    }
}

TEST(EepromCommands, A24C1024ReadsRightWhicheverWayItsCounterRollsOver)
{
    for (const bool wrapsWithinHalf : {false, true}) {
        SCOPED_TRACE(wrapsWithinHalf ? "wraps within the half" : "goes on into the other half");
        Bench b(FindEepromType("24C1024"));
        b.chip->readWrapsWithinHalf = wrapsWithinHalf;
        std::mt19937 rng(17);
        for (auto& byte : b.chip->memory())
            byte = static_cast<std::uint8_t>(rng());
        EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Done);
        EXPECT_TRUE(std::equal(b.chip->memory().begin(), b.chip->memory().end(),
                               b.page.EepromImage.begin()));
        // Each half is a random read of its own: a START and a repeated START.
        EXPECT_EQ(b.port.starts, 4);
        EXPECT_EQ(b.page.Verificar1Click(), Outcome::Done);
        EXPECT_EQ(b.board.data(), 0x00);
    }
}

namespace {
// sigrok-cli's I2C decode of a trace: one event a line.
std::vector<std::string> decodeWithSigrok(const std::string& vcd)
{
    const std::string command =
        "sigrok-cli -i " + vcd +
        " -P i2c:scl=scl:sda=sda -A i2c=start:repeat-start:address-write:address-read:"
        "data-write:data-read:stop:ack:nack 2>&1";
    std::vector<std::string> events;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return events;
    std::string out;
    std::array<char, 4096> buf{};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p))
        out.append(buf.data(), n);
    if (::pclose(p) != 0)
        return {"sigrok-cli failed: " + out};
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        events.push_back(line);
    return events;
}
} // namespace

TEST(EepromCommands, APageWriteDecodesAsI2CWithTheTypesFraming)
{
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sigrok-cli is not installed";
    const struct {
        const char* type;
        unsigned address;
        const char* device; // the 7-bit device address
        std::vector<std::string> wordAddress;
        int pageSize;
    } cases[] = {
        {"24C02", 0x48, "50", {"48"}, 8},
        {"24C1024", 0x1FF00, "51", {"FF", "00"}, 256}, // the upper half: P0 set
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        Bench b(FindEepromType(c.type));
        b.fillImage(5);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::string vcd = dir.path().toStdString() + "/page.vcd";
        std::string error;
        {
            std::unique_ptr<sim::LineTrace> trace(sim::LineTrace::create(vcd, error));
            ASSERT_TRUE(trace) << error;
            b.board.setTrace(trace.get());
            EXPECT_TRUE(b.page.EepromWritePage(c.address));
            // The supply stays on until the page's write cycle has ended.
            b.clock.Sleep(10);
            b.lines.SetI2CLines(0, 0, 0);
            b.board.setTrace(nullptr);
        }
        std::vector<std::string> expected{"i2c-1: Start", "i2c-1: Write",
                                          std::string("i2c-1: Address write: ") + c.device,
                                          "i2c-1: ACK"};
        auto dataWrite = [&expected](unsigned value) {
            char text[32];
            std::snprintf(text, sizeof text, "i2c-1: Data write: %02X", value & 0xFF);
            expected.push_back(text);
            expected.push_back("i2c-1: ACK");
        };
        for (const std::string& byte : c.wordAddress)
            dataWrite(static_cast<unsigned>(std::stoul(byte, nullptr, 16)));
        for (int i = 0; i < c.pageSize; ++i)
            dataWrite(b.page.EepromImage[c.address + i]);
        expected.push_back("i2c-1: Stop");
        EXPECT_EQ(decodeWithSigrok(vcd), expected);
        EXPECT_TRUE(std::equal(b.page.EepromImage.begin() + c.address,
                               b.page.EepromImage.begin() + c.address + c.pageSize,
                               b.chip->memory().begin() + c.address));
    }
}

TEST(EepromCommands, ReadReportsEachByteWithItsPercentage)
{
    Bench b(FindEepromType("24C04"));
    b.host.recordGauges = true;
    EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Done);
    const auto& c = b.host.calls;
    const auto show = std::find(c.begin(), c.end(), "progress show");
    ASSERT_NE(show, c.end());
    EXPECT_EQ(*(show - 1), "gauge 0");
    EXPECT_EQ(*(show + 1), "label 0 bytes read...");
    EXPECT_EQ(*(show + 2), "gauge 0");
    EXPECT_EQ(*(show + 4), "gauge 1");
    const auto hide = std::find(c.begin(), c.end(), "progress hide");
    EXPECT_EQ(*(hide - 2), "label 511 bytes read...");
    EXPECT_EQ(*(hide - 1), "gauge 100");
}

TEST(EepromCommands, CancelAfterByte99LeavesTheRestOfTheImage)
{
    Bench b(FindEepromType("24C128"));
    b.fillImage(11);
    ASSERT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
    std::fill_n(b.page.EepromImage.begin(), 16384, 0x5A);
    b.host.calls.clear();
    b.host.labels = 0;
    b.host.cancelAfterLabels = 100; // pressed while byte 99 is read
    b.port.writes.clear();
    EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Cancelled);
    EXPECT_TRUE(std::equal(b.page.EepromImage.begin(), b.page.EepromImage.begin() + 100,
                           b.chip->memory().begin()));
    EXPECT_TRUE(std::all_of(b.page.EepromImage.begin() + 100, b.page.EepromImage.begin() + 16384,
                            [](std::uint8_t v) { return v == 0x5A; }));
    EXPECT_TRUE(b.host.messages().empty());
    // After byte 99 the acknowledge clock with SDA released (SCL low, SDA high, SCL high), the
    // STOP (SCL low, SDA low, SCL high, SDA high), then every line low (by the read and again by
    // the command).
    const std::vector<std::uint8_t> tail(b.port.writes.end() - 9, b.port.writes.end());
    EXPECT_EQ(tail,
              (std::vector<std::uint8_t>{0x17, 0x17, 0x1F, 0x17, 0x07, 0x0F, 0x1F, 0x00, 0x00}));
}

TEST(EepromCommands, EveryReadEndsWithTheMastersMissingAcknowledgeAndAStop)
{
    for (const auto& [type, ends] : {std::pair<const char*, int>{"24C04", 1}, {"24C1024", 2}}) {
        Bench b(FindEepromType(type));
        // Zeros: a byte sent after an acknowledge would hold SDA low through the STOP.
        std::fill(b.chip->memory().begin(), b.chip->memory().end(), 0x00);
        EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Done);
        EXPECT_EQ(b.chip->readsEndedByStop, ends) << type;
    }
}

TEST(EepromCommands, ACancelledVerifyGivesNoVerdictAndRestoresTheImage)
{
    Bench b(FindEepromType("24C64"));
    // The chip is blank: a verify that stopped early and compared its FF padding would pass.
    std::fill(b.page.EepromImage.begin(), b.page.EepromImage.begin() + 8192, 0xFF);
    b.page.EepromImage[5000] = 0x00;
    const std::vector<std::uint8_t> before = b.page.EepromImage;
    b.host.cancelAfterLabels = 10;
    EXPECT_EQ(b.page.Verificar1Click(), Outcome::Cancelled);
    EXPECT_TRUE(b.host.messages().empty());
    EXPECT_EQ(b.page.EepromImage, before);
    EXPECT_EQ(b.board.data(), 0x00);
}

TEST(EepromCommands, OnlyOneOperationRunsAtATime)
{
    Bench b(FindEepromType("24C04"));
    Operation running(b.lock);
    EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Busy);
    EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Busy);
    EXPECT_EQ(b.page.Verificar1Click(), Outcome::Busy);
    EXPECT_TRUE(b.host.calls.empty());
    EXPECT_TRUE(b.port.writes.empty());
}

TEST(EepromCommands, TheWaitAfterTheLastPageLetsItsWriteCycleEndBeforeTheSupplyGoesOff)
{
    // The supply going off during a write cycle leaves that page erased: chips with the
    // datasheet's 5 ms and the 10 ms of some second sources keep everything; one slower than the
    // program's wait loses the last page.
    for (const auto& [cycleNs, lastPageKept] :
         {std::pair{5'000'000, true}, {10'000'000, true}, {15'000'000, false}}) {
        SCOPED_TRACE(cycleNs);
        Bench b(FindEepromType("24C04")); // 16-byte pages
        b.chip->writeCycleNs = cycleNs;
        b.fillImage(11);
        EXPECT_EQ(b.page.Grabarchip1Click(), Outcome::Done);
        EXPECT_EQ(b.board.data(), 0x00);
        const auto& memory = b.chip->memory();
        EXPECT_TRUE(std::equal(memory.begin(), memory.begin() + 496, b.page.EepromImage.begin()));
        if (lastPageKept)
            EXPECT_TRUE(
                std::equal(memory.begin() + 496, memory.end(), b.page.EepromImage.begin() + 496));
        else
            EXPECT_EQ(std::count(memory.begin() + 496, memory.end(), 0xFF), 16);
    }
}

// Open reads the file whole and checks it first: a file it cannot use leaves the image as it was,
// a HEX file partly outside the chip is used with a WARNING.
TEST(EepromOpen, OnlyAWholeWellFormedFileChangesTheImage)
{
    const std::string folder = ::testing::TempDir() + "vardel-open-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder + "/folder.hex");
    const auto write = [&](const char* name, const std::string& text) {
        std::ofstream(folder + "/" + name, std::ios::binary) << text;
        return folder + "/" + name;
    };
    const struct {
        std::string file;
        std::string message;      // "" for none
        std::uint8_t first, last; // the image's first and last chip byte after Open
    } cases[] = {
        {folder + "/folder.hex", "ERROR|Can't open file!!", 0x5A, 0x5A},
        {folder + "/absent.bin", "ERROR|Can't open file!!", 0x5A, 0x5A},
        {write("text.hex", "hello\n"), "ERROR|line 1: no start code ':'", 0x5A, 0x5A},
        {write("sum.hex", ":0100000011EE\n:0100010022FF\n"), "ERROR|line 2: bad checksum", 0x5A,
         0x5A},
        {write("empty.hex", ""),
         "ERROR|" + folder + "/empty.hex is empty (0 bytes): it holds no image", 0x5A, 0x5A},
        {write("empty.bin", ""),
         "ERROR|" + folder + "/empty.bin is empty (0 bytes): it holds no image", 0x5A, 0x5A},
        {write("cut.hex", ":0100000011EE\n"),
         "WARNING:|" + folder + "/cut.hex has no end record: the file may be cut short", 0x11,
         0xFF},
        {write("above.hex", ":0102000011EC\n:00000001FF\n"), "ERROR|no data for this memory", 0x5A,
         0x5A},
        {write("part.hex", ":0201FF001122CB\n:00000001FF\n"),
         "WARNING:|File contains 1 bytes outside this memory, the first at $0200:\rThey will be "
         "left out",
         0xFF, 0x11},
        {write("good.hex", ":0100000011EE\n:00000001FF\n"), "", 0x11, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Bench b(FindEepromType("24C04"), false); // 512 bytes
        std::fill(b.page.EepromImage.begin(), b.page.EepromImage.end(), 0x5A);
        EXPECT_EQ(b.page.Abrir1Click(c.file), c.first == 0x5A ? Outcome::Failed : Outcome::Done);
        EXPECT_EQ(b.host.messages(), c.message.empty() ? std::vector<std::string>{}
                                                       : std::vector<std::string>{c.message});
        EXPECT_EQ(b.page.EepromImage[0], c.first);
        EXPECT_EQ(b.page.EepromImage[511], c.last);
        EXPECT_TRUE(b.port.writes.empty()); // Open never touches the port
    }
    std::filesystem::remove_all(folder);
}

TEST(EepromCommands, EachCommandSaysHowItEndedInOneLine)
{
    const int t = FindEepromType("24C128");
    Bench b(t);
    b.fillImage(7);
    struct Case {
        const char* what;
        std::function<Outcome()> run;
        const char* status; // a regular expression over the whole line
    };
    const Case cases[] = {
        {"program", [&] { return b.page.Grabarchip1Click(); },
         R"(Programmed 16384 bytes in [0-9.]+ s, not verified)"},
        {"verify", [&] { return b.page.Verificar1Click(); },
         R"(Verified 16384 bytes of 24C128 in [0-9.]+ s: no difference)"},
        {"read", [&] { return b.page.Leerchip1Click(); },
         R"(Read 16384 bytes from 24C128 in [0-9.]+ s)"},
        // The cancel is seen after the byte whose label was the 0xF9C-th: byte 0xF9B.
        {"cancelled read",
         [&] {
             b.host.labels = 0;
             b.host.cancelAfterLabels = 0xF9C;
             const Outcome o = b.page.Leerchip1Click();
             b.host.cancelAfterLabels = -1;
             return o;
         },
         R"(Read cancelled at 0x0F9B: image partly updated)"},
        // Three bytes differ from the chip; the first is shown in hex.
        {"verify difference",
         [&] {
             b.page.EepromImage[0x1234] ^= 1;
             b.page.EepromImage[0x2000] ^= 0x80;
             b.page.EepromImage[0x3FFF] ^= 0xFF;
             return b.page.Verificar1Click();
         },
         R"(Verify found 3 differing bytes, the first at 0x1234)"},
    };
    const Outcome expected[] = {Outcome::Done, Outcome::Done, Outcome::Done, Outcome::Cancelled,
                                Outcome::Failed};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        b.host.statuses.clear();
        EXPECT_EQ(cases[i].run(), expected[i]);
        ASSERT_EQ(b.host.statuses.size(), 1u);
        EXPECT_TRUE(std::regex_match(b.page.lastOutcome(), std::regex(cases[i].status)))
            << b.page.lastOutcome();
        EXPECT_EQ(b.host.statuses[0], b.page.lastOutcome());
    }
    ASSERT_TRUE(b.page.lastDifference());
    EXPECT_EQ(b.page.lastDifference()->first, 0x1234);
    EXPECT_EQ(b.page.lastDifference()->count, 3);
    // Any other command forgets the difference; a chip that does not answer says so.
    b.board.removeEeprom();
    EXPECT_EQ(b.page.Leerchip1Click(), Outcome::Failed);
    EXPECT_FALSE(b.page.lastDifference());
    EXPECT_EQ(b.page.lastOutcome(), "Read failed: the chip did not acknowledge");
}
