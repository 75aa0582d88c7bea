#include "hw/bit_timing.h"
#include "hw/settings.h"
#include "support/recording.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using vardel::BitTiming;
using vardel::Settings;
using vardel::test::ScriptedClock;

namespace {
struct TempStore {
    QTemporaryDir dir;
    std::string file() const { return (dir.path() + "/VARDEL.ini").toStdString(); }
};
} // namespace

TEST(BitDelay, ClampsTheFactorAndKeepsTheClampedValue)
{
    ScriptedClock clock;
    TempStore store;
    Settings settings(store.file());
    BitTiming timing(clock);
    timing.Calibrate(settings);
    timing.DelayFactor = 0;
    timing.BitDelay();
    EXPECT_EQ(timing.DelayFactor, 1);
    timing.DelayFactor = -7;
    timing.BitDelay();
    EXPECT_EQ(timing.DelayFactor, 1);
    timing.DelayFactor = 201;
    timing.BitDelay();
    EXPECT_EQ(timing.DelayFactor, 200);
}

TEST(BitDelay, CounterMethodWaitsStrictlyLongerThanTheFactor)
{
    ScriptedClock clock; // 1 MHz counter moving one count per read
    TempStore store;
    Settings settings(store.file());
    BitTiming timing(clock);
    timing.Calibrate(settings);

    timing.DelayFactor = 1;
    const std::int64_t start = clock.counter;
    timing.BitDelay();
    // 25 counts are 25 us exactly, which is not yet more than 25 us.
    EXPECT_EQ(clock.counter - start, 1 + 26);

    timing.DelayFactor = 200;
    const std::int64_t start2 = clock.counter;
    timing.BitDelay();
    EXPECT_EQ(clock.counter - start2, 1 + 5001);
    EXPECT_EQ(clock.tickReads, 0);
}

TEST(WaitMilliseconds, CountsAcrossTheTickWrap)
{
    ScriptedClock clock;
    BitTiming timing(clock);
    clock.lastTick = 0xFFFFFFFDu;
    clock.tickStep = 1;
    timing.WaitMilliseconds(3);
    EXPECT_EQ(clock.lastTick, 0x00000001u); // start 0xFFFFFFFE, three ticks later
    const int before = clock.tickReads;
    timing.WaitMilliseconds(0);
    timing.WaitMilliseconds(-5);
    EXPECT_EQ(clock.tickReads - before, 2); // one read each
}

TEST(Calibration, WithACounterRecordsSIAndLoadsTheFactor)
{
    ScriptedClock clock;
    TempStore store;
    {
        Settings settings(store.file());
        settings.WriteString("RETARDO", "7");
        BitTiming timing(clock);
        timing.Calibrate(settings);
        EXPECT_TRUE(timing.counterAvailable());
        EXPECT_DOUBLE_EQ(timing.counterFrequency(), 1e6);
        EXPECT_EQ(timing.loopCount(), 0);
        EXPECT_EQ(timing.DelayFactor, 7);
    }
    Settings reread(store.file());
    EXPECT_EQ(reread.ReadString("RELOJ_TIEMPO_REAL", ""), "SI");
    EXPECT_FALSE(reread.Contains("BASE_TIEMPO"));
    EXPECT_FALSE(reread.Contains("DT"));
}

TEST(Calibration, WithoutACounterOneLongPassIsEnoughAndTheFloorHolds)
{
    ScriptedClock clock;
    clock.hasCounter = false;
    clock.frequency = 0;
    clock.ticks = {1000, 1150};
    TempStore store;
    Settings settings(store.file());
    BitTiming timing(clock);
    timing.Calibrate(settings);
    EXPECT_FALSE(timing.counterAvailable());
    EXPECT_EQ(clock.tickReads, 2);
    EXPECT_EQ(clock.counterReads, 0);
    EXPECT_DOUBLE_EQ(timing.secondsPerIteration(), 150 * 0.001 / 10000000.0);
    // 25 us / 15 ns is about 1667 iterations, below the floor.
    EXPECT_EQ(timing.loopCount(), 3000);
    EXPECT_EQ(timing.DelayFactor, 1);
    EXPECT_EQ(settings.ReadString("BASE_TIEMPO", ""), "3000");
    EXPECT_EQ(settings.ReadString("RELOJ_TIEMPO_REAL", ""), "NO");
    const std::string dt = settings.ReadString("DT", "");
    EXPECT_EQ(dt.substr(0, 1) + dt.substr(2), "150000000000000E-008");
}

TEST(Calibration, ShortPassesDoubleTheCallsUntilOneTakes100ms)
{
    ScriptedClock clock;
    clock.hasCounter = false;
    clock.ticks = {0, 40, 100, 180, 200, 360};
    TempStore store;
    Settings settings(store.file());
    BitTiming timing(clock);
    timing.Calibrate(settings);
    EXPECT_EQ(clock.tickReads, 6);
    EXPECT_DOUBLE_EQ(timing.secondsPerIteration(), 160 * 0.001 / (40 * 1000000.0));
    EXPECT_EQ(timing.loopCount(), 6250);
    EXPECT_EQ(settings.ReadString("BASE_TIEMPO", ""), "6250");
}

TEST(Calibration, TheLoopMethodDelaysWithoutTouchingTheClock)
{
    ScriptedClock clock;
    clock.hasCounter = false;
    clock.ticks = {0, 500};
    TempStore store;
    Settings settings(store.file());
    settings.WriteString("RETARDO", "3");
    BitTiming timing(clock);
    timing.Calibrate(settings);
    const int ticks = clock.tickReads;
    timing.BitDelay();
    EXPECT_EQ(clock.tickReads, ticks);
    EXPECT_EQ(clock.counterReads, 0);
    EXPECT_EQ(timing.DelayFactor, 3);
}

TEST(FormatE, FifteenDigitsCapitalESignedThreeDigitExponentLocaleSeparator)
{
    EXPECT_EQ(BitTiming::FormatE(1.5e-8, '.'), "1.50000000000000E-008");
    EXPECT_EQ(BitTiming::FormatE(1.5e-8, ','), "1,50000000000000E-008");
    EXPECT_EQ(BitTiming::FormatE(123.456, '.'), "1.23456000000000E+002");
    EXPECT_EQ(BitTiming::FormatE(2.5e-123, '.'), "2.50000000000000E-123");
    EXPECT_EQ(BitTiming::FormatE(0.0, '.'), "0.00000000000000E+000");
}
