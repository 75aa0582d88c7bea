#include "hw/hardware_check.h"
#include "hw/line_driver.h"
#include "sim/board.h"
#include "sim/line_trace.h"
#include "sim/sim_board.h"
#include "support/recording.h"

#include <QTemporaryDir>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::sim::SimBoard;

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
    EXPECT_TRUE(Checkearcorvid1Click(lines, host));
    EXPECT_EQ(board.data(), 0x00);
    board.setDisconnected(true);
    EXPECT_FALSE(Checkearcorvid1Click(lines, host));
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

TEST(Board, TheSimulatedBoardKeepsItsFolder)
{
    QTemporaryDir dir;
    const std::string folder = (dir.path() + "/board").toStdString();
    std::string error;
    sim::BoardOptions options;
    options.port = "sim:" + folder;
    options.virtualTime = true;
    auto board = sim::Board::open(options, error);
    ASSERT_TRUE(board) << error;
    ASSERT_TRUE(board->sim());
    EXPECT_EQ(board->describe(), "simulated board (EEPROM socket: empty; AVR socket: empty)");
    EXPECT_TRUE(board->save(error)) << error;
    EXPECT_TRUE(std::ifstream(folder + "/board.ini").good());
}
