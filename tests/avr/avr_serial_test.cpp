#include "avr/avr_part_ops.h"
#include "avr_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace vardel;
using vardel::test::MosiBytes;
using vardel::test::QueueMisoBytes;
using vardel::test::ScriptedRig;
using vardel::test::XtalPulses;

namespace {

// The programming state at the start of a bit: VCC on, RESET low, XTAL high, SCK and MOSI low.
void enterProgrammingLevels(ScriptedRig& rig)
{
    rig.lines.SetAvrLines(1, 0, 0, 0, 1);
    rig.port.writes.clear();
}

// A port that logs reads and writes in one sequence: -1 for a status read, the byte for a write.
class SequencePort : public PortIo {
public:
    std::vector<int> events;
    void DlPortWritePortUchar(std::uint16_t, std::uint8_t value) override
    {
        events.push_back(value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t) override
    {
        events.push_back(-1);
        return 0;
    }
    std::string describe() const override { return "sequence"; }
};

} // namespace

TEST(AvrSerial, ClockPulsesGivesCountPlusOnePulsesEndingHigh)
{
    ScriptedRig rig;
    enterProgrammingLevels(rig);
    rig.serial.ClockPulses(0);
    EXPECT_EQ(rig.port.writes, (std::vector<std::uint8_t>{0x07, 0x0F}));

    rig.port.writes.clear();
    rig.serial.ClockPulses(-1);
    EXPECT_TRUE(rig.port.writes.empty());

    for (const int count : {3, 10, 100, 1000}) {
        rig.port.writes.clear();
        rig.serial.ClockPulses(count);
        EXPECT_EQ(XtalPulses(rig.port.writes), count + 1) << count;
        EXPECT_EQ(rig.port.writes.back(), 0x0F);
    }
}

TEST(AvrSerial, EachBitWritesTheNineteenBytesOfTheWiring)
{
    const std::vector<std::uint8_t> one{0x2F, 0x27, 0x2F, 0x27, 0x2F, 0x27, 0x2F, 0x27, 0x2F, 0x6F,
                                        0x67, 0x6F, 0x67, 0x6F, 0x67, 0x6F, 0x67, 0x6F, 0x2F};
    const std::vector<std::uint8_t> zero{0x0F, 0x07, 0x0F, 0x07, 0x0F, 0x07, 0x0F, 0x07, 0x0F, 0x4F,
                                         0x47, 0x4F, 0x47, 0x4F, 0x47, 0x4F, 0x47, 0x4F, 0x0F};
    ScriptedRig rig;
    enterProgrammingLevels(rig);
    rig.serial.TransferByte(0x80);
    ASSERT_EQ(rig.port.writes.size(), 8u * 19u);
    EXPECT_EQ(std::vector<std::uint8_t>(rig.port.writes.begin(), rig.port.writes.begin() + 19),
              one);
    for (int bit = 1; bit < 8; ++bit)
        EXPECT_EQ(std::vector<std::uint8_t>(rig.port.writes.begin() + 19 * bit,
                                            rig.port.writes.begin() + 19 * (bit + 1)),
                  zero)
            << "bit " << 7 - bit;
    EXPECT_EQ(rig.port.reads, 8);
}

TEST(AvrSerial, TransferByteSendsMostSignificantBitFirstOnRisingEdges)
{
    ScriptedRig rig;
    enterProgrammingLevels(rig);
    rig.serial.TransferByte(0xAC);
    std::vector<int> mosi;
    int rising = 0;
    bool sck = false;
    for (const auto w : rig.port.writes) {
        if ((w & 0x40) && !sck) {
            ++rising;
            mosi.push_back((w & 0x20) ? 1 : 0);
        }
        sck = w & 0x40;
    }
    EXPECT_EQ(mosi, (std::vector<int>{1, 0, 1, 0, 1, 1, 0, 0}));
    EXPECT_EQ(rising, 8);
}

TEST(AvrSerial, TransferByteReceivesMisoBeforeDrivingEachBit)
{
    ScriptedRig rig;
    enterProgrammingLevels(rig);
    rig.port.status = 0x40;
    EXPECT_EQ(rig.serial.TransferByte(0x00), 0xFF);
    rig.port.status = 0x00;
    EXPECT_EQ(rig.serial.TransferByte(0xFF), 0x00);
    QueueMisoBytes(rig.port, {0xA5});
    EXPECT_EQ(rig.serial.TransferByte(0x3C), 0xA5);
    // Other status bits are not MISO.
    rig.port.status = 0xBF;
    EXPECT_EQ(rig.serial.TransferByte(0x00), 0x00);

    // Each bit: MISO read right after the falling edge, before MOSI is driven and SCK rises.
    SequencePort sequence;
    LineDriver lines(sequence);
    test::SleepLog clock;
    AvrSerial serial(lines, clock);
    lines.SetAvrLines(1, 0, 0, 0, 1);
    serial.TransferByte(0xAA);
    int reads = 0;
    for (std::size_t i = 0; i < sequence.events.size(); ++i) {
        if (sequence.events[i] != -1)
            continue;
        ++reads;
        ASSERT_GT(i, 0u);
        ASSERT_LT(i + 1, sequence.events.size());
        EXPECT_EQ(sequence.events[i - 1] & 0x40, 0) << "SCK low when MISO is read";
        const int bit = 8 - reads;
        EXPECT_EQ(sequence.events[i + 1], (((0xAA >> bit) & 1) ? 0x2F : 0x0F)) << bit;
    }
    EXPECT_EQ(reads, 8);
}

TEST(AvrSerial, PacedInstructionAddsElevenPulsesAfterEachByte)
{
    ScriptedRig rig;
    enterProgrammingLevels(rig);
    QueueMisoBytes(rig.port, {0x11, 0x22, 0x33, 0x44});
    const auto received = rig.serial.SendPacedInstruction(0x30, 0x00, 0x02, 0x00);
    EXPECT_EQ(received, (std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(MosiBytes(rig.port.writes), (std::vector<std::uint8_t>{0x30, 0x00, 0x02, 0x00}));
    EXPECT_EQ(rig.port.writes.size(), 4u * (152u + 22u));
    EXPECT_EQ(XtalPulses(rig.port.writes), 4 * (8 * 8 + 11));
}

TEST(AvrSerial, MemoryInstructionsAreSentBackToBack)
{
    ScriptedRig rig;
    enterProgrammingLevels(rig);
    AvrPartOps ops(rig.serial, *FindPartByName("ATmega128"));
    QueueMisoBytes(rig.port, {0x00, 0x28, 0xFF, 0x5A});
    // The last byte of a 128 KiB flash: the high byte of word 0xFFFF.
    EXPECT_EQ(ops.readFlash(131071), 0x5A);
    EXPECT_EQ(MosiBytes(rig.port.writes), (std::vector<std::uint8_t>{0x28, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(rig.port.writes.size(), 4u * 152u);

    rig.port.writes.clear();
    ops.readFlash(0x1234);
    EXPECT_EQ(MosiBytes(rig.port.writes), (std::vector<std::uint8_t>{0x20, 0x09, 0x1A, 0x00}));

    rig.port.writes.clear();
    ops.readEeprom(4095);
    EXPECT_EQ(MosiBytes(rig.port.writes), (std::vector<std::uint8_t>{0xA0, 0x0F, 0xFF, 0x00}));
    EXPECT_EQ(XtalPulses(rig.port.writes), 4 * 64);

    rig.port.writes.clear();
    rig.serial.ChipErase();
    EXPECT_EQ(MosiBytes(rig.port.writes), (std::vector<std::uint8_t>{0xAC, 0x80, 0x00, 0x00}));
    EXPECT_EQ(XtalPulses(rig.port.writes), 4 * (64 + 11) + 1001);
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{100}));
}

// An EEPROM page: each byte loaded by its place in the page, the page written by its address,
// then RDY/BSY polled until the chip is ready.
TEST(AvrSerial, AnEepromPageIsLoadedWrittenByItsAddressAndPolled)
{
    ScriptedRig rig;
    enterProgrammingLevels(rig);
    const AvrPart& part = *FindPartByName("ATmega2560");
    AvrPartOps ops(rig.serial, part);
    ASSERT_EQ(ops.eepromWriteBytes(), 8u);
    // Busy on the first poll, ready on the second.
    rig.port.statusScript.assign(9 * 32, 0x00);
    QueueMisoBytes(rig.port, {0x00, 0xF0, 0x00, 0x01, 0x00, 0xF0, 0x00, 0x00});
    const std::uint8_t page[8] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87};
    EXPECT_EQ(ops.writeEepromPage(0xFF8, page), AvrPartOps::Write::Waited);
    std::vector<std::uint8_t> expected;
    for (std::uint8_t i = 0; i < 8; ++i)
        expected.insert(expected.end(), {0xC1, 0x00, i, page[i]});
    expected.insert(expected.end(),
                    {0xC2, 0x0F, 0xF8, 0x00, 0xF0, 0x00, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x00});
    EXPECT_EQ(MosiBytes(rig.port.writes), expected);
    EXPECT_TRUE(rig.clock.sleeps.empty());
}

TEST(AvrSerial, ProgrammingEnableInSyncAtOnceCostsOnePowerCycle)
{
    ScriptedRig rig;
    QueueMisoBytes(rig.port, {0xFF, 0xAC, 0x53, 0x00});
    ASSERT_TRUE(rig.serial.ProgrammingEnable());
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300}));
    EXPECT_EQ(rig.port.reads, 32);
    EXPECT_EQ(MosiBytes(rig.port.writes), (std::vector<std::uint8_t>{0xAC, 0x53, 0x00, 0x00}));

    // Power off, supply on with every other line low, then 1001 pulses.
    const auto& w = rig.port.writes;
    ASSERT_GE(w.size(), 2u + 2002u);
    EXPECT_EQ(w[0], 0x00);
    EXPECT_EQ(w[1], 0x07);
    for (int i = 0; i < 2002; ++i)
        ASSERT_EQ(w[2 + i], (i % 2) ? 0x0F : 0x07) << i;
    EXPECT_EQ(w.size(), 2u + 2002u + 4u * (152u + 22u));

    // Left powered, in reset, SCK low and XTAL high.
    const auto levels = rig.lines.avrLevels();
    EXPECT_TRUE(levels.vcc);
    EXPECT_FALSE(levels.reset);
    EXPECT_FALSE(levels.sck);
    EXPECT_TRUE(levels.xtal);
    EXPECT_EQ(w.back(), 0x0F);
}

TEST(AvrSerial, ProgrammingEnableGivesUpAfterThreePowerCyclesOfThirtyOneAttempts)
{
    ScriptedRig rig;
    rig.port.status = 0x00;
    EXPECT_FALSE(rig.serial.ProgrammingEnable());
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300, 500, 300, 500, 300}));
    EXPECT_EQ(rig.clock.sleptNs(), 2'400'000'000);
    // 93 instructions of four bytes, eight MISO reads a byte.
    EXPECT_EQ(rig.port.reads, 93 * 4 * 8);
    EXPECT_EQ(std::count(rig.port.writes.begin(), rig.port.writes.end(), 0x00), 3);
    // Each failed attempt: its 32 bits and one extra SCK pulse.
    int rising = 0;
    bool sck = false;
    for (const auto w : rig.port.writes) {
        if ((w & 0x40) && !sck)
            ++rising;
        sck = w & 0x40;
    }
    EXPECT_EQ(rising, 93 * 33);
}

TEST(AvrSerial, ProgrammingEnableCountsOnlyTheEchoInTheThirdByte)
{
    ScriptedRig rig;
    // First attempt: 0x53 arrives one byte late. Second attempt: in sync.
    QueueMisoBytes(rig.port, {0x00, 0xAC, 0x00, 0x53});
    QueueMisoBytes(rig.port, {0x00, 0xAC, 0x53, 0x00});
    ASSERT_TRUE(rig.serial.ProgrammingEnable());
    EXPECT_EQ(rig.port.reads, 2 * 32);
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300}));
    // Between the attempts: SCK high, eleven pulses, SCK low, eleven pulses.
    const std::size_t powerUp = 2 + 2002;
    const std::size_t attempt = 4 * (152 + 22);
    const std::vector<std::uint8_t> extra(rig.port.writes.begin() + powerUp + attempt,
                                          rig.port.writes.begin() + powerUp + attempt + 46);
    EXPECT_EQ(extra[0], 0x4F);
    EXPECT_EQ(XtalPulses({extra.begin() + 1, extra.begin() + 23}), 11);
    EXPECT_EQ(extra[23], 0x0F);
    EXPECT_EQ(XtalPulses({extra.begin() + 24, extra.end()}), 11);
}

TEST(AvrSerial, ProgrammingEnableStartsAFreshPowerCycleAfterThirtyOneAttempts)
{
    ScriptedRig rig;
    for (int i = 0; i < 31; ++i)
        QueueMisoBytes(rig.port, {0x00, 0x00, 0x00, 0x00});
    QueueMisoBytes(rig.port, {0x00, 0xAC, 0x53, 0x00});
    ASSERT_TRUE(rig.serial.ProgrammingEnable());
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300, 500, 300}));
    EXPECT_EQ(rig.port.reads, 32 * 32);
}

TEST(AvrSerial, AMinimumSckPhaseStretchesThePhasesWithoutAPortWriteMore)
{
    // Each write with the time it was made; SCK is bit 6.
    struct TimedPort final : PortIo {
        Clock& clock;
        std::vector<std::pair<std::int64_t, std::uint8_t>> writes;
        explicit TimedPort(Clock& c) : clock(c) {}
        void DlPortWritePortUchar(std::uint16_t, std::uint8_t value) override
        {
            clock.portAccess();
            writes.emplace_back(clock.nanoseconds(), value);
        }
        std::uint8_t DlPortReadPortUchar(std::uint16_t) override { return 0; }
        std::string describe() const override { return "timed"; }
    };
    auto shortestPhase = [](const TimedPort& port) {
        std::int64_t shortest = INT64_MAX, since = -1;
        for (std::size_t i = 1; i < port.writes.size(); ++i)
            if ((port.writes[i].second ^ port.writes[i - 1].second) & 0x40) {
                if (since >= 0)
                    shortest = std::min(shortest, port.writes[i].first - since);
                since = port.writes[i].first;
            }
        return shortest;
    };
    std::vector<std::uint8_t> bytes[2];
    for (const std::int64_t floor : {0, 16'000}) {
        VirtualClock clock;
        TimedPort port(clock);
        LineDriver lines(port);
        AvrSerial serial(lines, clock);
        serial.setMinimumSckPhase(floor);
        lines.SetAvrLines(1, 0, 0, 0, 1);
        serial.TransferByte(0xA5);
        serial.TransferByte(0x3C);
        EXPECT_EQ(shortestPhase(port) >= 16'000, floor != 0) << shortestPhase(port);
        for (const auto& w : port.writes)
            bytes[floor != 0].push_back(w.second);
    }
    EXPECT_EQ(bytes[0], bytes[1]);
}
