#include "files/scratch_folder.h"
#include "hw/hardware_check.h"
#include "hw/line_driver.h"
#include "sim/avr_target.h"
#include "sim/board.h"
#include "sim/board_ini.h"
#include "sim/chips.h"
#include "sim/line_trace.h"
#include "sim/sim_board.h"
#include "support/recording.h"

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::sim::SimBoard;
using vardel::test::FileInodes;

TEST(SimBoard, AnEmptySocketLetsSdaFollowTheOutputAndMisoFloatHigh)
{
    VirtualClock clock;
    SimBoard board(clock);
    LineDriver lines(board);
    lines.SetI2CLines(1, 1, 1);
    EXPECT_TRUE(lines.ReadI2CSda());
    EXPECT_EQ(board.status() & 0x80, 0);
    lines.SetI2CLines(1, 1, 0);
    EXPECT_FALSE(lines.ReadI2CSda());
    EXPECT_EQ(board.status() & 0x80, 0x80);
    EXPECT_TRUE(lines.ReadAvrMiso());
    // Every port access moves the virtual clock on.
    EXPECT_EQ(clock.nanoseconds(), 5 * VirtualClock::kPortAccessNs);
}

TEST(SimBoard, TheHardwareCheckPassesOnTheBoardAndFailsWithoutIt)
{
    VirtualClock clock;
    SimBoard board(clock);
    LineDriver lines(board);
    test::RecordingHost host;
    EXPECT_TRUE(CheckBoard(lines, host));
    EXPECT_EQ(board.data(), 0x00);
    board.setDisconnected(true);
    EXPECT_FALSE(CheckBoard(lines, host));
    EXPECT_EQ(host.messages(), (std::vector<std::string>{"OK|Corvid respond correct!!!",
                                                         "ERROR|Corvid DON'T respond correct!!!"}));
    EXPECT_EQ(board.data(), 0x00);
}

TEST(LineTrace, WritesEveryChangeOnceWithStrictlyIncreasingTimes)
{
    QTemporaryDir dir;
    const std::string file = (dir.path() + "/t.vcd").toStdString();
    {
        VirtualClock clock;
        SimBoard board(clock);
        std::string error;
        std::unique_ptr<sim::LineTrace> trace(sim::LineTrace::create(file, error));
        ASSERT_TRUE(trace) << error;
        board.setTrace(trace.get());
        LineDriver lines(board);
        lines.SetI2CLines(1, 1, 1);
        lines.SetI2CLines(1, 1, 1); // no change: no sample
        lines.SetI2CSda(0);
        board.setTrace(nullptr);
    }
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string vcd = text.str();
    EXPECT_NE(vcd.find("$timescale 1 us $end"), std::string::npos);
    for (const char* name : {"vcc", "scl", "sda", "xtal", "reset", "mosi", "sck", "miso"})
        EXPECT_NE(vcd.find(std::string(" ") + name + " $end"), std::string::npos) << name;
    // Port writes are 1 us apart on the virtual clock; the second write changed nothing.
    EXPECT_NE(vcd.find("#1\n1!\n1\"\n1#\n1$\n1%\n0&\n0'\n1(\n"), std::string::npos) << vcd;
    EXPECT_NE(vcd.find("#3\n0#\n0%\n"), std::string::npos) << vcd;
    EXPECT_EQ(vcd.find("#2\n"), std::string::npos);
}

TEST(Board, AMissingDeviceIsNamedAndNothingFallsBack)
{
    std::string error;
    sim::BoardOptions options;
    options.port = "ppdev:/dev/no-such-port";
    EXPECT_FALSE(sim::Board::open(options, error));
    EXPECT_NE(error.find("/dev/no-such-port"), std::string::npos) << error;
    options.port = "parallel";
    EXPECT_FALSE(sim::Board::open(options, error));
    EXPECT_NE(error.find("parallel"), std::string::npos);
    options.port = "direct:0x37Z";
    EXPECT_FALSE(sim::Board::open(options, error));
}

namespace {

sim::BoardOptions simAt(const std::string& folder, std::chrono::milliseconds wait)
{
    sim::BoardOptions options;
    options.port = "sim:" + folder;
    options.virtualTime = true;
    options.folderWait = wait;
    return options;
}

} // namespace

TEST(Board, ANewFolderStartsWithBothSocketsFilledAndIsWrittenOnlyWhereItChanged)
{
    QTemporaryDir dir;
    const std::string folder = (dir.path() + "/board").toStdString();
    std::string error;
    auto board = sim::Board::open(simAt(folder, {}), error);
    ASSERT_TRUE(board) << error;
    EXPECT_EQ(board->describe(), "simulated board (EEPROM socket: 24C256; AVR socket: ATmega128)");
    ASSERT_TRUE(board->release(error)) << error;
    const auto written = FileInodes(folder);
    EXPECT_EQ(written.size(), 4u); // board.ini and the three memories

    // Nothing changed: nothing written. One chip changed: its file alone.
    ASSERT_TRUE(board->claim(error)) << error;
    ASSERT_TRUE(board->release(error)) << error;
    EXPECT_EQ(FileInodes(folder), written);
    ASSERT_TRUE(board->claim(error)) << error;
    static_cast<sim::AvrTarget*>(board->sim()->avr())->eeprom()[7] = 0x00;
    ASSERT_TRUE(board->release(error)) << error;
    // A new version of that memory, named by a new board.ini; the old one is gone.
    auto now = FileInodes(folder);
    EXPECT_EQ(now.count("avr-eeprom-1.bin"), 0u);
    EXPECT_EQ(now.count("avr-eeprom-2.bin"), 1u);
    EXPECT_NE(now.at("board.ini"), written.at("board.ini"));
    for (const char* same : {"eeprom-1.bin", "flash-1.bin"})
        EXPECT_EQ(now.at(same), written.at(same)) << same;
    EXPECT_EQ(now.size(), 4u);
}

TEST(Board, OneProcessAtATimeHasTheFolder)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::string error;
    auto window = sim::Board::open(simAt(folder, {}), error);
    ASSERT_TRUE(window) << error;
    EXPECT_FALSE(sim::Board::open(simAt(folder, {}), error));
    EXPECT_EQ(error,
              "Another program is using the simulated board in " + folder + " (waited 0 s for it)");
    ASSERT_TRUE(window->release(error)) << error;
    EXPECT_TRUE(sim::Board::open(simAt(folder, {}), error)) << error;

    // Another process's flock on the folder keeps it until that process lets go.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_FALSE(window->claim(error));
    ::close(fd);
    EXPECT_TRUE(window->claim(error)) << error;
}

TEST(BoardIni, ParsesKeysWithTheirLinesAndNamesTheFirstBadLine)
{
    struct Case {
        std::string text;
        int errorLine; // 0: parses
        const char* error;
    };
    const std::vector<Case> cases{
        {"", 0, ""},
        {"# comment\r\n\r\n  eeprom = 24C04 \r\navr=ATmega128", 0, ""},
        {"eeprom=24C04\nfrobnicate\n", 2, "\"frobnicate\" is not key=value"},
        {"eeprom=24C04\n\navr.fuse.middle=00\n", 3, "there is no key \"avr.fuse.middle\""},
        {"eeprom=\n", 1, "eeprom has no value"},
        {"avr=ATmega128\navr = ATmega163\n", 2, "avr was already given on line 1"},
        {std::string("\x7F"
                     "ELF\0\x01\x02",
                     7),
         1, "\"?ELF???\" is not key=value"},
        {"[CONFIG]\n", 1, "\"[CONFIG]\" is not key=value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const sim::BoardIni ini = sim::ParseBoardIni(c.text);
        EXPECT_EQ(ini.errorLine, c.errorLine);
        EXPECT_EQ(ini.error.rfind(c.error, 0), 0u) << ini.error;
        EXPECT_EQ(ini.ok(), c.errorLine == 0);
    }
    const sim::BoardIni ini = sim::ParseBoardIni(cases[1].text);
    ASSERT_EQ(ini.keys.size(), 2u);
    EXPECT_EQ(ini.keys.at("eeprom").value, "24C04");
    EXPECT_EQ(ini.keys.at("eeprom").line, 3);
    EXPECT_EQ(ini.keys.at("avr").value, "ATmega128");
    EXPECT_EQ(sim::BoardIniText({{"eeprom", "24C04"}, {"avr", "ATmega128"}}),
              "avr=ATmega128\neeprom=24C04\n");
}
