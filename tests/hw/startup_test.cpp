#include "hw/bit_timing.h"
#include "hw/hardware_check.h"
#include "hw/line_driver.h"
#include "hw/settings.h"
#include "hw/startup.h"
#include "support/recording.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::test::RecordingHost;
using vardel::test::RecordingPort;
using vardel::test::ScriptedClock;

namespace {
struct TempStore {
    QTemporaryDir dir;
    std::string file() const { return (dir.path() + "/VARDEL.ini").toStdString(); }
};
} // namespace

TEST(Settings, IntegersAreTextAndBadTextGivesTheDefault)
{
    TempStore store;
    {
        Settings s(store.file());
        s.WriteInteger("RETARDO", 12);
        s.WriteString("OTHER", "abc");
        s.WriteString("EMPTY", "");
    }
    QFile f(QString::fromStdString(store.file()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("[CONFIG]"));
    EXPECT_TRUE(text.contains("RETARDO=12"));

    Settings s(store.file());
    EXPECT_EQ(s.ReadInteger("RETARDO", 1), 12);
    EXPECT_EQ(s.ReadInteger("OTHER", 1), 1);
    EXPECT_EQ(s.ReadInteger("EMPTY", 1), 1);
    EXPECT_EQ(s.ReadInteger("MISSING", 5), 5);
    EXPECT_EQ(s.ReadString("MISSING", "."), ".");
}

TEST(StartUp, FirstStartUsesDefaultsAndWritesOnlyTheClockValue)
{
    TempStore store;
    Settings settings(store.file());
    ScriptedClock clock;
    BitTiming timing(clock);
    const DialogFolders folders = StartUp(settings, timing);
    EXPECT_EQ(folders.open, ".");
    EXPECT_EQ(folders.save, ".");
    EXPECT_EQ(timing.DelayFactor, 1);
    Settings reread(store.file());
    EXPECT_TRUE(reread.Contains("RELOJ_TIEMPO_REAL"));
    EXPECT_FALSE(reread.Contains("RETARDO"));
    EXPECT_FALSE(reread.Contains("OPEN_DIR"));
    EXPECT_FALSE(reread.Contains("SAVE_DIR"));
}

TEST(StartUp, StoredValuesAreTakenWithoutARangeTest)
{
    TempStore store;
    {
        Settings s(store.file());
        s.WriteString("RETARDO", "500");
        s.WriteString("OPEN_DIR", "/tmp/a.hex");
        s.WriteString("SAVE_DIR", "/nowhere");
    }
    Settings settings(store.file());
    ScriptedClock clock;
    BitTiming timing(clock);
    const DialogFolders folders = StartUp(settings, timing);
    EXPECT_EQ(timing.DelayFactor, 500);
    EXPECT_EQ(folders.open, "/tmp/a.hex");
    EXPECT_EQ(folders.save, "/nowhere");

    Settings bad(store.file());
    bad.WriteString("RETARDO", "fast");
    BitTiming timing2(clock);
    StartUp(bad, timing2);
    EXPECT_EQ(timing2.DelayFactor, 1);
}

TEST(ShutDown, LinesGoLowFirstThenTheThreeValuesAreSaved)
{
    TempStore store;
    RecordingPort port;
    LineDriver lines(port);
    lines.SetAvrLines(1, 1, 1, 1, 1);
    {
        Settings settings(store.file());
        ScriptedClock clock;
        BitTiming timing(clock);
        timing.DelayFactor = 500;
        timing.BitDelay(); // an EEPROM operation clamps it
        ShutDown(lines, settings, timing.DelayFactor, kInitialDialogFileName, "/x/y.bin");
    }
    EXPECT_EQ(port.writes.back(), 0x00);
    Settings reread(store.file());
    EXPECT_EQ(reread.ReadString("RETARDO", ""), "200");
    EXPECT_EQ(reread.ReadString("OPEN_DIR", ""), "*.hex");
    EXPECT_EQ(reread.ReadString("SAVE_DIR", ""), "/x/y.bin");
}

TEST(HardwareCheck, PassesWhenSdaFollowsAndEndsLow)
{
    RecordingPort port;
    port.statusScript = {0x00, 0x80}; // SDA high, then low
    LineDriver lines(port);
    RecordingHost host;
    EXPECT_TRUE(CheckBoard(lines, host));
    EXPECT_EQ(port.writes, (std::vector<std::uint8_t>{0x1F, 0x0F, 0x1F, 0x00}));
    EXPECT_EQ(host.messages(), (std::vector<std::string>{"OK|Corvid respond correct!!!"}));
}

TEST(HardwareCheck, WithTheBitDelayEachReadWaitsForTheLinesToSettleAndWritesTheSame)
{
    // The time of each status read since the write before it.
    struct SettlePort final : RecordingPort {
        Clock& clock;
        std::int64_t lastWrite = 0;
        std::vector<std::int64_t> settled;
        explicit SettlePort(Clock& c) : clock(c) {}
        void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override
        {
            lastWrite = clock.nanoseconds();
            RecordingPort::DlPortWritePortUchar(port, value);
        }
        std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
        {
            settled.push_back(clock.nanoseconds() - lastWrite);
            return RecordingPort::DlPortReadPortUchar(port);
        }
    };
    VirtualClock clock;
    BitTiming timing(clock);
    timing.MeasureClock();
    timing.DelayFactor = 2;
    SettlePort port(clock);
    port.statusScript = {0x00, 0x80};
    LineDriver lines(port);
    RecordingHost host;
    EXPECT_TRUE(CheckBoard(lines, host, nullptr, &timing));
    EXPECT_EQ(port.writes, (std::vector<std::uint8_t>{0x1F, 0x0F, 0x1F, 0x00}));
    ASSERT_EQ(port.settled.size(), 2u);
    for (const std::int64_t ns : port.settled)
        EXPECT_GE(ns, 50'000);
    port.settled.clear();
    ReadStatusWithSda(lines, false, &timing);
    EXPECT_GE(port.settled.at(0), 50'000);
}

TEST(HardwareCheck, NamesWhichLevelTheLineDidNotFollow)
{
    RecordingPort port;
    LineDriver lines(port);
    RecordingHost host;
    port.status = 0x80; // stuck low
    EXPECT_FALSE(CheckBoard(lines, host));
    EXPECT_EQ(port.writes, (std::vector<std::uint8_t>{0x1F, 0x00}));
    port.writes.clear();
    port.status = 0x00; // stuck high
    EXPECT_FALSE(CheckBoard(lines, host));
    EXPECT_EQ(port.writes, (std::vector<std::uint8_t>{0x1F, 0x0F, 0x00}));
    EXPECT_EQ(host.messages(), (std::vector<std::string>{"ERROR|Corvid don't respond correct!!!",
                                                         "ERROR|Corvid DON'T respond correct!!!"}));
}
