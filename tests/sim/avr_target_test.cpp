#include "sim/avr_target.h"
#include "sim/board_folder.h"
#include "sim/chips.h"
#include "sim/sim_board.h"

#include "hw/clock.h"

#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

using namespace vardel;
using vardel::sim::AvrSpeed;
using vardel::sim::AvrTarget;
using Bytes = std::array<std::uint8_t, 4>;

namespace {

const sim::AvrDevice& device(const char* name)
{
    const sim::AvrDevice* found = sim::FindAvrDevice(name);
    EXPECT_NE(found, nullptr) << name;
    return *found;
}

// The host side of the wire, driving the chip's pins the way a programmer on the parallel port
// does: every line change is one port write stepNs after the last, and each SCK phase holds
// clocksPerPhase XTAL periods. MISO is read right after each falling SCK edge and is the next bit.
class Host {
public:
    explicit Host(AvrTarget& chip) : chip(chip) {}

    AvrTarget& chip;
    std::int64_t now = 0;
    std::int64_t stepNs = 1000;
    int clocksPerPhase = 2;
    // Bit (counted from the host's first) whose high SCK phase lasts one XTAL period only.
    long shortHighBit = -1;
    bool vcc = false, reset = true, xtal = false, sck = false, mosi = false;

    std::int64_t startNs = 0; // when the last instruction began
    std::int64_t loadNs = 0;  // its 24th rising SCK edge: a read loads its datum
    std::int64_t execNs = 0;  // its 32nd rising SCK edge: the chip executes it

    void drive()
    {
        now += stepNs;
        chip.pins(vcc, reset, xtal, sck, mosi, now);
    }
    void clocks(int count)
    {
        for (int i = 0; i < count; ++i) {
            xtal = true;
            drive();
            xtal = false;
            drive();
        }
    }
    void powerUp()
    {
        vcc = true;
        reset = false;
        sck = false;
        drive();
        clocks(clocksPerPhase);
    }
    void powerDown()
    {
        vcc = reset = xtal = sck = mosi = false;
        drive();
    }
    void resetPulse()
    {
        reset = true;
        drive();
        clocks(clocksPerPhase);
        reset = false;
        drive();
        clocks(clocksPerPhase);
    }
    void wait(std::int64_t ns) { now += ns; }
    void waitMs(double ms) { wait(static_cast<std::int64_t>(ms * 1'000'000)); }

    void sckPulse()
    {
        sck = true;
        drive();
        clocks(clocksPerPhase);
        sck = false;
        drive();
        misoNext_ = chip.miso();
        clocks(clocksPerPhase);
    }

    std::uint8_t transfer(std::uint8_t out)
    {
        std::uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            if (misoNext_)
                in |= static_cast<std::uint8_t>(1 << bit);
            mosi = (out >> bit) & 1;
            drive();
            sck = true;
            drive();
            lastRiseNs_ = now;
            clocks(bitsSent_++ == shortHighBit ? 1 : clocksPerPhase);
            sck = false;
            drive();
            misoNext_ = chip.miso();
            clocks(clocksPerPhase);
        }
        return in;
    }

    Bytes instr(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
    {
        startNs = now;
        Bytes in{transfer(a), transfer(b), transfer(c), 0};
        loadNs = lastRiseNs_;
        in[3] = transfer(d);
        execNs = lastRiseNs_;
        return in;
    }

    // A lock or fuse write, then the longest time such a write takes (20 ms).
    Bytes write(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
    {
        const Bytes in = instr(a, b, c, d);
        waitMs(20);
        return in;
    }

    // Power-up, the datasheet's 20 ms, and Programming Enable: true when 0x53 came back.
    bool enable()
    {
        powerUp();
        waitMs(20);
        return programmingEnable();
    }
    bool programmingEnable() { return instr(0xAC, 0x53, 0x00, 0x00)[2] == 0x53; }

    // A read whose datum the chip loads at time t (the time of the 24th rising edge).
    std::uint8_t readAt(std::int64_t t, std::uint8_t op, std::uint16_t address)
    {
        const std::int64_t offset = loadNs - startNs;
        if (t - offset > now)
            now = t - offset;
        return instr(op, address >> 8, address & 0xFF, 0x00)[3];
    }
    std::uint8_t read(std::uint8_t op, std::uint16_t address)
    {
        return instr(op, address >> 8, address & 0xFF, 0x00)[3];
    }
    std::array<std::uint8_t, 3> signature()
    {
        return {instr(0x30, 0, 0, 0)[3], instr(0x30, 0, 1, 0)[3], instr(0x30, 0, 2, 0)[3]};
    }

private:
    bool misoNext_ = true;
    std::int64_t lastRiseNs_ = 0;
    long bitsSent_ = 0;
};

std::string describeKey(const AvrTarget& chip, const std::string& key)
{
    sim::ChipKeys keys;
    chip.describe(keys);
    const auto it = keys.find(key);
    return it == keys.end() ? "(none)" : it->second;
}

} // namespace

// ---- Programming Enable and the clock ---------------------------------------------------------

TEST(AvrProgrammingEnable, EchoesOnlyAfterThePowerUpTimeAndThenEchoesEveryByte)
{
    AvrTarget chip(device("AT90S8515"));
    Host host(chip);
    host.powerUp();
    host.waitMs(19);
    // Too early: the chip is not in programming mode and MISO is not driven.
    EXPECT_EQ(host.instr(0xAC, 0x53, 0x00, 0x00), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(chip.programming());
    host.waitMs(1);
    EXPECT_EQ(host.instr(0xAC, 0x53, 0x00, 0x00), (Bytes{0xFF, 0xAC, 0x53, 0x00}));
    EXPECT_TRUE(chip.programming());
    // From now on every byte comes back one byte late.
    EXPECT_EQ(host.instr(0xAC, 0x53, 0x12, 0x34), (Bytes{0x00, 0xAC, 0x53, 0x12}));
    EXPECT_EQ(host.instr(0x30, 0x00, 0x01, 0x00), (Bytes{0x34, 0x30, 0x00, 0x93}));

    // RESET high leaves programming mode; RESET low again needs another 20 ms.
    host.resetPulse();
    EXPECT_FALSE(chip.programming());
    EXPECT_FALSE(host.programmingEnable());
    host.waitMs(20);
    EXPECT_TRUE(host.programmingEnable());

    // Power off leaves programming mode too, and an unpowered chip reads high.
    host.powerDown();
    EXPECT_FALSE(chip.programming());
    EXPECT_TRUE(chip.miso());
    EXPECT_TRUE(host.enable());
}

TEST(AvrProgrammingEnable, AChipOutOfSyncIsMetBySingleSckPulsesOrAResetPulse)
{
    for (int offset : {1, 5, 8, 31}) {
        AvrTarget chip(device("AT90S2313"));
        chip.syncOffsetBits = offset;
        Host host(chip);
        EXPECT_FALSE(host.enable()) << offset;
        int pulses = 0;
        while (pulses < 32 && !host.programmingEnable()) {
            host.sckPulse();
            ++pulses;
        }
        // Each pulse moves the host's frame one bit against the chip's.
        EXPECT_EQ(pulses, 32 - offset) << offset;
        EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x1E, 0x91, 0x01})) << offset;
    }

    // The newer parts' way: a RESET pulse restarts the chip's frame.
    AvrTarget chip(device("ATmega128"));
    chip.syncOffsetBits = 3;
    Host host(chip);
    EXPECT_FALSE(host.enable());
    EXPECT_FALSE(host.programmingEnable());
    host.resetPulse();
    host.waitMs(20);
    EXPECT_TRUE(host.programmingEnable());
}

// A chip whose low fuse selects a crystal, through which the board's XTAL line clocks it.
AvrTarget xtalClocked(const char* name, const char* lowFuse)
{
    AvrTarget chip(device(name));
    std::string error;
    EXPECT_TRUE(chip.set("avr.fuse.low", lowFuse, error)) << error;
    return chip;
}

TEST(AvrProgrammingEnable, AnSckPhaseShorterThanTheChipNeedsIsLost)
{
    {
        // One XTAL period per phase: no edge is seen, nothing ever echoes.
        AvrTarget chip = xtalClocked("ATmega163", "DF");
        Host host(chip);
        host.clocksPerPhase = 1;
        EXPECT_FALSE(host.enable());
        host.clocksPerPhase = 2;
        host.clocks(2);
        EXPECT_TRUE(host.programmingEnable());
    }
    {
        // A single short high phase loses the falling edge after it and the next rising edge:
        // the chip is a bit behind, and one extra SCK pulse brings it back.
        AvrTarget chip = xtalClocked("ATmega163", "DF");
        Host host(chip);
        host.shortHighBit = 3;
        EXPECT_FALSE(host.enable());
        host.sckPulse();
        EXPECT_TRUE(host.programmingEnable());
        EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x1E, 0x94, 0x02}));
    }
    {
        // XTAL at 25 MHz: 2 periods per phase are too few, 3 are enough.
        AvrTarget chip = xtalClocked("ATmega128", "EF");
        Host host(chip);
        host.stepNs = 20;
        EXPECT_FALSE(host.enable());
        host.clocksPerPhase = 3;
        host.resetPulse();
        host.waitMs(20);
        EXPECT_TRUE(host.programmingEnable());
    }
    {
        // The part's own setting.
        AvrTarget chip(device("AT90S2313"));
        chip.timing.sckPhaseClocks = 3;
        Host host(chip);
        EXPECT_FALSE(host.enable());
        host.clocksPerPhase = 3;
        host.resetPulse();
        host.waitMs(20);
        EXPECT_TRUE(host.programmingEnable());
    }
}

// ---- Identification ---------------------------------------------------------------------------

TEST(AvrSignature, EveryCatalogueDeviceAndSignatureOnlyChipsAnswerTheirs)
{
    EXPECT_EQ(sim::AvrCatalogue().size(), 12u);
    for (const sim::AvrDevice& part : sim::AvrCatalogue()) {
        AvrTarget chip(part);
        Host host(chip);
        ASSERT_TRUE(host.enable()) << part.name;
        EXPECT_EQ(host.instr(0x30, 0x00, 0x02, 0x00), (Bytes{0x00, 0x30, 0x00, part.signature[2]}))
            << part.name;
        EXPECT_EQ(host.signature(), part.signature) << part.name;
    }
    std::string error;
    auto mega32 = sim::MakeAvrChip("", "1e9502", error);
    ASSERT_TRUE(mega32) << error;
    Host host(static_cast<AvrTarget&>(*mega32));
    ASSERT_TRUE(host.enable());
    EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x1E, 0x95, 0x02}));
}

TEST(AvrSignature, LockMode3OnAnAt90sAnswersTheIndexUntilAChipErase)
{
    AvrTarget chip(device("AT90S2313"));
    chip.flash()[0x0E] = 0x12;
    Host host(chip);
    ASSERT_TRUE(host.enable());
    // LB1 only (mode 2): still readable.
    host.write(0xAC, 0xFD, 0x00, 0x00);
    EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x1E, 0x91, 0x01}));
    EXPECT_EQ(host.read(0x20, 0x0007), 0x12);
    // LB2 as well (mode 3): reads load nothing, the third byte comes back.
    host.write(0xAC, 0xFB, 0x00, 0x00);
    EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x00, 0x01, 0x02}));
    EXPECT_EQ(host.read(0x20, 0x0007), 0x07);
    EXPECT_EQ(host.read(0xA0, 0x0033), 0x33);
    // A power cycle does not help; a chip erase does.
    host.powerDown();
    ASSERT_TRUE(host.enable());
    EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x00, 0x01, 0x02}));
    host.instr(0xAC, 0x80, 0x00, 0x00);
    host.waitMs(20);
    EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x1E, 0x91, 0x01}));
    EXPECT_EQ(host.read(0x20, 0x0007), 0xFF);

    // The ATtiny12 hides its signature in lock mode 3 as well.
    AvrTarget tiny(device("ATtiny12"));
    Host tinyHost(tiny);
    ASSERT_TRUE(tinyHost.enable());
    tinyHost.write(0xAC, 0xF9, 0x00, 0x00);
    EXPECT_EQ(tinyHost.signature(), (std::array<std::uint8_t, 3>{0x00, 0x01, 0x02}));

    // ATmega parts keep their signature in lock mode 3.
    AvrTarget mega(device("ATmega163"));
    Host megaHost(mega);
    ASSERT_TRUE(megaHost.enable());
    megaHost.write(0xAC, 0xE0, 0x00, 0xFC);
    EXPECT_EQ(mega.lock(), 0xFC);
    EXPECT_EQ(megaHost.signature(), (std::array<std::uint8_t, 3>{0x1E, 0x94, 0x02}));
}

// ---- Writing ----------------------------------------------------------------------------------

TEST(AvrWrite, AFlashByteAnswersPollingForItsWriteTimeAndOnlyClearsBits)
{
    AvrTarget chip(device("AT90S2313"));
    chip.setSpeed(AvrSpeed::Fastest); // 4 ms
    Host host(chip);
    ASSERT_TRUE(host.enable());
    host.instr(0x48, 0x00, 0x10, 0x3C); // high byte of word 0x10
    const std::int64_t t0 = host.execNs;
    EXPECT_EQ(chip.flash()[0x21], 0x3C);
    // The byte being written answers the polling value, its neighbour its own datum.
    EXPECT_EQ(host.readAt(t0, 0x28, 0x0010), 0x7F);
    EXPECT_EQ(host.read(0x20, 0x0010), 0xFF);
    // A write while busy is ignored.
    host.instr(0x40, 0x00, 0x11, 0x00);
    EXPECT_EQ(host.readAt(t0 + 3'900'000, 0x28, 0x0010), 0x7F);
    EXPECT_EQ(host.readAt(t0 + 4'000'000, 0x28, 0x0010), 0x3C);
    EXPECT_EQ(host.read(0x20, 0x0011), 0xFF);
    // Without an erase a write can only program bits: 3C AND C3 is 00.
    host.instr(0x48, 0x00, 0x10, 0xC3);
    host.waitMs(4);
    EXPECT_EQ(host.read(0x28, 0x0010), 0x00);
    // Word addresses wrap at the end of the 1 K words.
    host.instr(0x40, 0x04, 0x12, 0x5A);
    host.waitMs(4);
    EXPECT_EQ(host.read(0x20, 0x0012), 0x5A);
}

TEST(AvrWrite, AnEepromByteIsErasedFirstAndPollsWithTheValueOfEachHalf)
{
    AvrTarget chip(device("AT90S2313")); // 0x80 then 0x7F
    chip.setSpeed(AvrSpeed::Fastest);    // 4 ms
    chip.eeprom()[0x05] = 0x0F;
    Host host(chip);
    ASSERT_TRUE(host.enable());
    host.instr(0xC0, 0x00, 0x85, 0xF0); // 128 bytes: address 0x85 is 0x05
    const std::int64_t t0 = host.execNs;
    EXPECT_EQ(host.readAt(t0, 0xA0, 0x0005), 0x80);
    EXPECT_EQ(host.readAt(t0 + 1'900'000, 0xA0, 0x0005), 0x80);
    EXPECT_EQ(host.readAt(t0 + 2'000'000, 0xA0, 0x0005), 0x7F);
    EXPECT_EQ(host.readAt(t0 + 3'900'000, 0xA0, 0x0005), 0x7F);
    EXPECT_EQ(host.readAt(t0 + 4'000'000, 0xA0, 0x0005), 0xF0);

    AvrTarget tiny(device("AT90S2323")); // 0x00 then 0xFF, 9 ms at the fastest
    tiny.setSpeed(AvrSpeed::Fastest);
    Host tinyHost(tiny);
    ASSERT_TRUE(tinyHost.enable());
    tinyHost.instr(0xC0, 0x00, 0x7F, 0x42);
    const std::int64_t t1 = tinyHost.execNs;
    EXPECT_EQ(tinyHost.readAt(t1, 0xA0, 0x007F), 0x00);
    EXPECT_EQ(tinyHost.readAt(t1 + 4'600'000, 0xA0, 0x007F), 0xFF);
    EXPECT_EQ(tinyHost.readAt(t1 + 9'000'000, 0xA0, 0x007F), 0x42);
}

TEST(AvrWrite, APageIsLoadedByteByByteAndProgrammedByWritePage)
{
    AvrTarget chip(device("ATmega163")); // 64-word pages, 16 ms
    Host host(chip);
    ASSERT_TRUE(host.enable());
    // Load all but the last word of a page; the buffer only takes the low address bits.
    for (std::uint16_t w = 0; w < 63; ++w) {
        host.instr(0x40, 0x00, static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w));
        host.instr(0x48, 0x00, static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(0x80 | w));
    }
    EXPECT_EQ(chip.flash()[0x80], 0xFF) << "loading alone programs nothing";
    host.instr(0x4C, 0x00, 0x55, 0x00); // word 0x55 lies in the page at 0x40
    const std::int64_t t0 = host.execNs;
    // Every byte of the page being written answers 0xFF, then its datum.
    EXPECT_EQ(host.readAt(t0, 0x20, 0x0041), 0xFF);
    EXPECT_EQ(host.readAt(t0 + 15'900'000, 0x28, 0x0041), 0xFF);
    EXPECT_EQ(host.readAt(t0 + 16'000'000, 0x28, 0x0041), 0x81);
    for (std::uint16_t w = 0; w < 63; ++w) {
        EXPECT_EQ(chip.flash()[(0x40 + w) * 2], w);
        EXPECT_EQ(chip.flash()[(0x40 + w) * 2 + 1], 0x80 | w);
    }
    EXPECT_EQ(chip.flash()[0x7F * 2], 0xFF);
    EXPECT_EQ(chip.flash()[0x3F * 2 + 1], 0xFF);
    // The buffer is empty again after a page write, and a second write only clears bits.
    host.instr(0x40, 0x00, 0x01, 0xF0);
    host.instr(0x4C, 0x00, 0x40, 0x00);
    host.waitMs(16);
    EXPECT_EQ(host.read(0x20, 0x0041), 0x00);
    EXPECT_EQ(host.read(0x20, 0x0042), 0x02);
    EXPECT_EQ(host.read(0x28, 0x0042), 0x82);
    // Byte-written parts have no Write Page: it is only echoed.
    AvrTarget byBytes(device("AT90S8515"));
    Host byHost(byBytes);
    ASSERT_TRUE(byHost.enable());
    EXPECT_EQ(byHost.instr(0x4C, 0x00, 0x00, 0x00), (Bytes{0x00, 0x4C, 0x00, 0x00}));
    EXPECT_EQ(byBytes.flash(), std::vector<std::uint8_t>(8192, 0xFF));
}

TEST(AvrWrite, ASupplyCutDuringAWriteLeavesItsCellsErasedAndAfterItKeepsThem)
{
    AvrTarget chip(device("ATmega163")); // 64-word pages, 16 ms; EEPROM bytes 4 ms
    Host host(chip);
    ASSERT_TRUE(host.enable());
    host.instr(0x40, 0x00, 0x41, 0x12);
    host.instr(0x4C, 0x00, 0x41, 0x00);
    host.waitMs(1);
    host.powerDown();
    EXPECT_EQ(chip.flash()[0x82], 0xFF);
    ASSERT_TRUE(host.enable());
    host.instr(0xC0, 0x00, 0x10, 0x5A);
    host.waitMs(1);
    host.powerDown();
    EXPECT_EQ(chip.eeprom()[0x10], 0xFF);
    ASSERT_TRUE(host.enable());
    host.instr(0xC0, 0x00, 0x10, 0x5A);
    host.waitMs(4);
    host.instr(0x40, 0x00, 0x41, 0x12);
    host.instr(0x4C, 0x00, 0x41, 0x00);
    host.waitMs(16);
    host.powerDown();
    EXPECT_EQ(chip.eeprom()[0x10], 0x5A);
    EXPECT_EQ(chip.flash()[0x82], 0x12);
}

TEST(AvrWrite, ChipEraseBlanksBothMemoriesAndTheLockButKeepsFusesAndEesave)
{
    AvrTarget chip(device("ATmega128"));
    std::string error;
    ASSERT_TRUE(chip.set("avr.fuse.low", "3F", error)) << error;
    chip.flash()[100] = 0x00;
    chip.eeprom()[7] = 0x00;
    Host host(chip);
    ASSERT_TRUE(host.enable());
    host.write(0xAC, 0xE0, 0x00, 0xFC);
    host.instr(0xAC, 0x80, 0x00, 0x00);
    const std::int64_t t0 = host.execNs;
    // During the erase every instruction is ignored: reads only echo, writes do nothing.
    EXPECT_EQ(host.instr(0x30, 0x00, 0x01, 0x00)[3], 0x01);
    host.instr(0xC0, 0x00, 0x08, 0x11);
    host.wait(t0 + 9'000'000 - host.now);
    EXPECT_EQ(host.read(0x30, 0x0001), 0x97);
    EXPECT_EQ(host.read(0x20, 100 / 2), 0xFF);
    EXPECT_EQ(host.read(0xA0, 0x0007), 0xFF);
    EXPECT_EQ(host.read(0xA0, 0x0008), 0xFF);
    EXPECT_EQ(host.read(0x58, 0x0000), 0xFF);
    EXPECT_EQ(host.read(0x50, 0x0000), 0x3F);

    // EESAVE programmed (high fuse bit 3) keeps the EEPROM.
    ASSERT_TRUE(chip.set("avr.fuse.high", "91", error)) << error;
    chip.flash()[100] = 0x00;
    chip.eeprom()[7] = 0x00;
    host.instr(0xAC, 0x80, 0x00, 0x00);
    host.waitMs(9);
    EXPECT_EQ(chip.flash()[100], 0xFF);
    EXPECT_EQ(chip.eeprom()[7], 0x00);

    // So does the ATmega103's (fuse bit 3).
    AvrTarget m103(device("ATmega103"));
    m103.eeprom()[7] = 0x00;
    Host h103(m103);
    ASSERT_TRUE(h103.enable());
    h103.write(0xAC, 0xB7, 0x00, 0x00); // E=0, T1 T0 = 11
    EXPECT_EQ(h103.read(0x50, 0), 0xD7);
    h103.instr(0xAC, 0x80, 0x00, 0x00);
    h103.waitMs(90);
    EXPECT_EQ(m103.eeprom()[7], 0x00);
}

// ---- Lock and fuse bits per family -------------------------------------------------------------

TEST(AvrLockAndFuse, At90sLockOnlyPartsWriteLockBitsAndHaveNothingToRead)
{
    AvrTarget chip(device("AT90S8515"));
    Host host(chip);
    ASSERT_TRUE(host.enable());
    // No read of lock or fuse bits: the instruction is only echoed.
    EXPECT_EQ(host.instr(0x58, 0x00, 0x5A, 0x00), (Bytes{0x00, 0x58, 0x00, 0x5A}));
    EXPECT_EQ(host.instr(0x50, 0x00, 0x5A, 0x00)[3], 0x5A);
    // The other parts' fuse write changes nothing here.
    host.write(0xAC, 0xBE, 0x00, 0x00);
    sim::ChipKeys keys;
    chip.describe(keys);
    EXPECT_EQ(keys, (sim::ChipKeys{{"avr", "AT90S8515"},
                                   {"avr.signature", "1E9301"},
                                   {"avr.lock", "FF"},
                                   {"avr.timing", "slowest"}}));
    // AC 111x x21x: LB1 in bit 1, LB2 in bit 2; bits can only be programmed.
    host.write(0xAC, 0xFD, 0x00, 0x00);
    EXPECT_EQ(chip.lock(), 0xFD);
    host.write(0xAC, 0xFB, 0x00, 0x00);
    EXPECT_EQ(chip.lock(), 0xF9);
    host.write(0xAC, 0xFF, 0x00, 0x00);
    EXPECT_EQ(chip.lock(), 0xF9);
}

TEST(AvrLockAndFuse, At90s2323ReadsLockAndFuseInOneByteAndTakesItsFuseAfterAPowerCycle)
{
    AvrTarget chip(device("AT90S2323"));
    Host host(chip);
    ASSERT_TRUE(host.enable());
    // 1 2 S x x x x F: LB1, LB2 unprogrammed, SPIEN programmed, FSTRT unprogrammed.
    EXPECT_EQ(host.read(0x58, 0), 0xDF);
    host.write(0xAC, 0xBE, 0x00, 0x00); // FSTRT programmed
    EXPECT_EQ(describeKey(chip, "avr.fuse.low"), "DE");
    EXPECT_EQ(host.read(0x58, 0), 0xDF) << "the running chip keeps its old fuse";
    host.powerDown();
    ASSERT_TRUE(host.enable());
    EXPECT_EQ(host.read(0x58, 0), 0xDE);
    host.write(0xAC, 0xBF, 0x00, 0x00);
    host.write(0xAC, 0xFD, 0x00, 0x00); // LB1
    EXPECT_EQ(host.read(0x58, 0), 0x5E);
    host.write(0xAC, 0xF9, 0x00, 0x00); // and LB2
    EXPECT_EQ(host.read(0x58, 0), 0x1E);
    // AT90S2313-style lock write (AC 111x x21x with a 0 in bit 3) is not this part's.
    host.instr(0xAC, 0x80, 0x00, 0x00);
    host.waitMs(18);
    host.write(0xAC, 0xE1, 0x00, 0x00);
    EXPECT_EQ(chip.lock(), 0xFF);

    // The AT90S4434 takes its new fuse at once; the AT90S2343 ships with RCEN programmed.
    AvrTarget a4434(device("AT90S4434"));
    Host h4434(a4434);
    ASSERT_TRUE(h4434.enable());
    h4434.write(0xAC, 0xBE, 0x00, 0x00);
    EXPECT_EQ(h4434.read(0x58, 0), 0xDE);
    EXPECT_EQ(describeKey(AvrTarget(device("AT90S2343")), "avr.fuse.low"), "DE");
}

TEST(AvrLockAndFuse, ATmega103And161UseTheirOwnLayouts)
{
    AvrTarget m103(device("ATmega103"));
    Host h103(m103);
    ASSERT_TRUE(h103.enable());
    EXPECT_EQ(h103.read(0x50, 0), 0xDF); // x x S x E x T1 T0
    h103.write(0xAC, 0xB5, 0x00, 0x00);  // AC 1011 E 1 T1 T0: EESAVE and SUT1 programmed
    EXPECT_EQ(h103.read(0x50, 0), 0xD5);
    EXPECT_EQ(h103.read(0x58, 0), 0xFF); // x x x x x 2 1 x
    h103.write(0xAC, 0xFD, 0x00, 0x00);
    EXPECT_EQ(h103.read(0x58, 0), 0xFD);
    // Lock mode 2 stops programming.
    h103.instr(0xC0, 0x00, 0x01, 0x00);
    h103.waitMs(9);
    EXPECT_EQ(h103.read(0xA0, 1), 0xFF);
    EXPECT_EQ(h103.instr(0x38, 0x00, 0x21, 0x00)[3], 0x21) << "no calibration byte";

    AvrTarget m161(device("ATmega161"));
    Host h161(m161);
    ASSERT_TRUE(h161.enable());
    EXPECT_EQ(h161.read(0x50, 0), 0xDA);
    // SPIEN (bit 5) cannot be changed from serial mode; bit 7 does not exist.
    h161.write(0xAC, 0xA0, 0x00, 0x00);
    EXPECT_EQ(h161.read(0x50, 0), 0x80);
    h161.write(0xAC, 0xA0, 0x00, 0xFF);
    EXPECT_EQ(h161.read(0x50, 0), 0xDF);
    // No high fuse here: AC A8 changes nothing.
    h161.write(0xAC, 0xA8, 0x00, 0x00);
    EXPECT_EQ(h161.read(0x50, 0), 0xDF);
    // Lock bits in the fourth byte: 11 BLB12 BLB11 BLB02 BLB01 LB2 LB1.
    h161.write(0xAC, 0xFF, 0x00, 0xEF); // BLB12
    EXPECT_EQ(h161.read(0x58, 0), 0xEF);
    h161.write(0xAC, 0xE0, 0x00, 0xFE); // LB1: fuses are locked as well
    EXPECT_EQ(h161.read(0x58, 0), 0xEE);
    h161.write(0xAC, 0xA0, 0x00, 0x00);
    EXPECT_EQ(h161.read(0x50, 0), 0xDF);
}

TEST(AvrLockAndFuse, ATmega163And128HaveLowHighExtendedFusesAndCalibration)
{
    AvrTarget m163(device("ATmega163"));
    Host h163(m163);
    ASSERT_TRUE(h163.enable());
    // The chip holds D2, SPIEN (bit 5) programmed as it ships; the read answers bits 5 and 4 as 1.
    EXPECT_EQ(m163.fuse(0), 0xD2);
    EXPECT_EQ(h163.read(0x50, 0x0000), 0xF2);
    EXPECT_EQ(h163.read(0x58, 0x0800), 0xFF);
    EXPECT_EQ(h163.read(0x58, 0x0000), 0xFF);
    EXPECT_EQ(h163.read(0x38, 0x0000), 0xA8);
    h163.write(0xAC, 0xA0, 0x00, 0xE1);
    h163.write(0xAC, 0xA8, 0x00, 0x00);       // x x x x 1 BOOTSZ1 BOOTSZ0 BOOTRST
    EXPECT_EQ(h163.read(0x50, 0x0000), 0xF1); // serial programming cannot reach SPIEN
    EXPECT_EQ(m163.fuse(0), 0xD1);
    EXPECT_EQ(h163.read(0x58, 0x0800), 0xF8);
    // No extended fuse: 50 08 is only echoed.
    EXPECT_EQ(h163.instr(0x50, 0x08, 0x44, 0x00)[3], 0x44);

    AvrTarget m128(device("ATmega128"));
    Host h128(m128);
    ASSERT_TRUE(h128.enable());
    EXPECT_EQ(h128.read(0x50, 0x0000), 0xE1);
    EXPECT_EQ(h128.read(0x58, 0x0800), 0x99);
    EXPECT_EQ(h128.read(0x50, 0x0800), 0xFD);
    EXPECT_EQ(h128.read(0x58, 0x0000), 0xFF);
    const std::array<std::uint8_t, 4> calibration{h128.read(0x38, 0), h128.read(0x38, 1),
                                                  h128.read(0x38, 2), h128.read(0x38, 3)};
    EXPECT_EQ(calibration, (std::array<std::uint8_t, 4>{0xA3, 0xA7, 0xAB, 0xB0}));
    h128.write(0xAC, 0xA0, 0x00, 0xFF);
    h128.write(0xAC, 0xA8, 0x00, 0xFF); // SPIEN stays programmed
    h128.write(0xAC, 0xA4, 0x00, 0x00); // only M103C and WDTON exist
    EXPECT_EQ(h128.read(0x50, 0x0000), 0xFF);
    EXPECT_EQ(h128.read(0x58, 0x0800), 0xDF);
    EXPECT_EQ(h128.read(0x50, 0x0800), 0xFC);
    h128.write(0xAC, 0xE0, 0x00, 0xC3); // boot lock bits
    EXPECT_EQ(h128.read(0x58, 0x0000), 0xC3);
    EXPECT_EQ(describeKey(m128, "avr.lock"), "C3");
}

TEST(AvrLockAndFuse, ATtiny12LockBitsSitInBits2And1)
{
    AvrTarget chip(device("ATtiny12"));
    Host host(chip);
    ASSERT_TRUE(host.enable());
    EXPECT_EQ(host.read(0x58, 0), 0xFF);
    host.write(0xAC, 0xFD, 0x00, 0x00); // LB1
    EXPECT_EQ(host.read(0x58, 0), 0xFD);
    host.write(0xAC, 0xFB, 0x00, 0x00); // LB2
    EXPECT_EQ(host.read(0x58, 0), 0xF9);
    // The lock bits come from the second byte, not the fourth as on the ATmega161/163/128.
    AvrTarget other(device("ATtiny12"));
    Host otherHost(other);
    ASSERT_TRUE(otherHost.enable());
    otherHost.write(0xAC, 0xFF, 0x00, 0x00);
    EXPECT_EQ(otherHost.read(0x58, 0), 0xFF);
    // Fuse BODLEVEL BODEN SPIEN RSTDISBL CKSEL3..0 and the calibration byte.
    EXPECT_EQ(otherHost.read(0x50, 0), 0xD2);
    EXPECT_EQ(otherHost.read(0x38, 0), 0x4C);
}

TEST(AvrLockAndFuse, ATtiny12DecodesLockAndFuseWritesByTheirBitPatterns)
{
    // Write Fuse is AC 101x xxxx and Write Lock AC 111x x21x: the don't-care bits do not matter.
    struct Case {
        std::uint8_t second;
        std::uint8_t fourth;
        std::uint8_t fuse;
        std::uint8_t lock;
    };
    const Case cases[] = {
        {0xA0, 0xF3, 0xF3, 0xFF}, {0xA4, 0xE1, 0xE1, 0xFF}, {0xA8, 0xD0, 0xD0, 0xFF},
        {0xBF, 0x00, 0x00, 0xFF}, {0xE0, 0x00, 0xD2, 0xF9}, {0xFD, 0x00, 0xD2, 0xFD},
        {0xEB, 0x00, 0xD2, 0xFB}, {0x80, 0x00, 0xD2, 0xFF}, // chip erase
    };
    for (const Case& c : cases) {
        AvrTarget chip(device("ATtiny12"));
        Host host(chip);
        ASSERT_TRUE(host.enable());
        host.write(0xAC, c.second, 0xFF, c.fourth);
        EXPECT_EQ(chip.fuse(0), c.fuse) << std::hex << int(c.second);
        EXPECT_EQ(chip.lock(), c.lock) << std::hex << int(c.second);
    }
}

TEST(AvrLockAndFuse, LockOutBitsEndSerialProgrammingFromTheNextPowerUp)
{
    // SPIEN unprogrammed or RSTDISBL programmed, on every simulated part that has the bit.
    struct Case {
        const char* device;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"ATtiny12", "avr.fuse.low", "F2"}, // SPIEN 1
        {"ATtiny12", "avr.fuse.low", "C2"}, // RSTDISBL 0
        {"ATmega128", "avr.fuse.high", "B9"}, {"ATmega161", "avr.fuse.low", "FA"},
        {"ATmega103", "avr.fuse.low", "FF"},  {"AT90S2323", "avr.fuse.low", "FF"},
        {"AT90S8535", "avr.fuse.low", "FF"},
    };
    for (const Case& c : cases) {
        AvrTarget chip(device(c.device));
        Host host(chip);
        ASSERT_TRUE(host.enable()) << c.device;
        std::string error;
        ASSERT_TRUE(chip.set(c.key, c.value, error)) << error;
        // The running session goes on; the next power-up never answers.
        EXPECT_EQ(host.signature(), device(c.device).signature) << c.device;
        host.powerDown();
        EXPECT_FALSE(host.enable()) << c.device;
        host.sckPulse();
        EXPECT_FALSE(host.programmingEnable()) << c.device;
        // A high-voltage programmer puts the factory fuses back.
        host.powerDown();
        const sim::AvrFuseByte& factory = device(c.device).fuses[c.key[9] == 'l' ? 0 : 1];
        char text[3];
        std::snprintf(text, sizeof text, "%02X", factory.factory);
        ASSERT_TRUE(chip.set(c.key, text, error)) << error;
        EXPECT_TRUE(host.enable()) << c.device;
    }

    // The ATtiny12 writes SPIEN and RSTDISBL itself in serial mode and locks itself out.
    for (const std::uint8_t fuse : {0xF2, 0xC2}) {
        AvrTarget chip(device("ATtiny12"));
        Host host(chip);
        ASSERT_TRUE(host.enable());
        host.write(0xAC, 0xA0, 0xFF, fuse);
        EXPECT_EQ(chip.fuse(0), fuse);
        EXPECT_EQ(host.read(0x50, 0), fuse);
        host.powerDown();
        EXPECT_FALSE(host.enable()) << std::hex << int(fuse);
    }
}

// ---- Keys, files and the factory ---------------------------------------------------------------

TEST(AvrKeys, DescribeSetAndTheBoardFolderRoundTrip)
{
    AvrTarget chip(device("ATmega128"));
    sim::ChipKeys keys;
    chip.describe(keys);
    EXPECT_EQ(keys, (sim::ChipKeys{{"avr", "ATmega128"},
                                   {"avr.signature", "1E9702"},
                                   {"avr.fuse.low", "E1"},
                                   {"avr.fuse.high", "99"},
                                   {"avr.fuse.extended", "FD"},
                                   {"avr.lock", "FF"},
                                   {"avr.calibration", "A3"},
                                   {"avr.timing", "slowest"}}));
    std::string error;
    EXPECT_TRUE(chip.set("avr.fuse.low", "a4", error)) << error;
    EXPECT_TRUE(chip.set("avr.calibration", "7E", error)) << error;
    EXPECT_TRUE(chip.set("avr.lock", "00", error)) << error; // unused bits read 1
    EXPECT_TRUE(chip.set("avr.signature", "1e9702", error)) << error;
    EXPECT_EQ(describeKey(chip, "avr.fuse.low"), "A4");
    EXPECT_EQ(describeKey(chip, "avr.lock"), "C0");

    EXPECT_FALSE(chip.set("avr.fuse.low", "1", error));
    EXPECT_NE(error.find("two hex digits"), std::string::npos) << error;
    EXPECT_FALSE(chip.set("avr.lock", "GG", error));
    EXPECT_FALSE(chip.set("avr.signature", "1E9701", error));
    EXPECT_FALSE(chip.set("avr.fuse.middle", "00", error));
    EXPECT_NE(error.find("avr.fuse.extended"), std::string::npos) << error;
    AvrTarget small(device("AT90S2323"));
    EXPECT_FALSE(small.set("avr.fuse.high", "00", error));
    EXPECT_FALSE(small.set("avr.calibration", "00", error));
    EXPECT_TRUE(small.set("avr.fuse.low", "00", error)) << error;
    // SPIEN and FSTRT programmed; the other bits do not exist and read 1.
    EXPECT_EQ(describeKey(small, "avr.fuse.low"), "DE");

    // The board keeps the chip in its folder and sets the keys back when it loads.
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    VirtualClock clock;
    sim::SimBoard board(clock);
    auto made = sim::MakeAvrChip("atmega128", "", error);
    ASSERT_TRUE(made) << error;
    auto& target = static_cast<AvrTarget&>(*made);
    ASSERT_TRUE(target.set("avr.fuse.high", "91", error)) << error;
    ASSERT_TRUE(target.set("avr.timing", "fastest", error)) << error;
    target.flash()[0x1FFFF] = 0x12;
    target.eeprom()[3] = 0x34;
    board.insertAvr(std::move(made));
    ASSERT_TRUE(sim::BoardFolder(folder).save(board, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(folder + "/flash-1.bin"), 131072u);
    EXPECT_EQ(std::filesystem::file_size(folder + "/avr-eeprom-1.bin"), 4096u);
    sim::SimBoard again(clock);
    ASSERT_TRUE(sim::BoardFolder(folder).load(again, error)) << error;
    ASSERT_NE(again.avr(), nullptr);
    sim::ChipKeys before, after;
    board.avr()->describe(before);
    again.avr()->describe(after);
    EXPECT_EQ(after, before);
    const auto& loaded = static_cast<const AvrTarget&>(*again.avr());
    EXPECT_EQ(loaded.timing.flashWriteNs, 4'500'000);
    EXPECT_EQ(loaded.flash(), target.flash());
    EXPECT_EQ(loaded.eeprom(), target.eeprom());
}

TEST(AvrKeys, TimingTakesEitherEndOfThePartsRangeAndFuseWritesTakeTheirTime)
{
    AvrTarget chip(device("ATmega103")); // pages 22-56 ms
    EXPECT_EQ(chip.timing.flashWriteNs, chip.device().slowest.flashWriteNs);
    std::string error;
    ASSERT_TRUE(chip.set("avr.timing", "Fastest", error)) << error;
    EXPECT_EQ(describeKey(chip, "avr.timing"), "fastest");
    EXPECT_LT(chip.timing.flashWriteNs, chip.device().slowest.flashWriteNs);
    EXPECT_FALSE(chip.set("avr.timing", "typical", error));
    EXPECT_NE(error.find("slowest or fastest"), std::string::npos) << error;

    // A fuse write keeps the chip busy for its time: a second write in it is ignored.
    AvrTarget tiny(device("ATtiny12")); // fuse write 9 ms
    Host host(tiny);
    ASSERT_TRUE(host.enable());
    host.instr(0xAC, 0xA0, 0x00, 0xD6);
    host.instr(0xAC, 0xA0, 0x00, 0xD4);
    EXPECT_EQ(tiny.fuse(0), 0xD6);
    host.waitMs(9);
    host.instr(0xAC, 0xA0, 0x00, 0xD4);
    EXPECT_EQ(tiny.fuse(0), 0xD4);
}

TEST(AvrKeys, MissingFilesAndWrongSizesAreRefused)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    VirtualClock clock;
    sim::SimBoard board(clock);
    std::string error;
    board.insertAvr(sim::MakeAvrChip("AT90S2313", "", error));
    ASSERT_TRUE(sim::BoardFolder(folder).save(board, error)) << error;
    std::filesystem::remove(folder + "/flash-1.bin");
    EXPECT_FALSE(sim::BoardFolder(folder).load(board, error));
    EXPECT_NE(error.find("flash-1.bin is missing; it keeps the flash of AT90S2313"),
              std::string::npos)
        << error;
    std::ofstream(folder + "/flash-1.bin", std::ios::binary) << std::string(2048, '\xFF');
    std::ofstream(folder + "/avr-eeprom-1.bin", std::ios::binary) << std::string(64, '\0');
    EXPECT_FALSE(sim::BoardFolder(folder).load(board, error));
    EXPECT_NE(error.find("avr-eeprom-1.bin holds 64 bytes, but the EEPROM of AT90S2313 has 128"),
              std::string::npos)
        << error;
}

TEST(AvrKeys, MakeAvrChipTakesANameInAnyCaseOrASignature)
{
    std::string error;
    EXPECT_TRUE(sim::MakeAvrChip("atTINY12", "", error)) << error;
    EXPECT_TRUE(sim::MakeAvrChip("ATmega163", "1E9402", error)) << error;
    EXPECT_FALSE(sim::MakeAvrChip("ATmega163", "1E9401", error));
    EXPECT_FALSE(sim::MakeAvrChip("ATmega9", "", error));
    EXPECT_NE(error.find("ATmega9"), std::string::npos) << error;
    EXPECT_NE(error.find("AT90S2313, AT90S2323"), std::string::npos) << error;
    // The parts of the part table by name, in any case; a wrong signature is refused.
    EXPECT_TRUE(sim::MakeAvrChip("atmega8", "1E9307", error)) << error;
    EXPECT_FALSE(sim::MakeAvrChip("ATtiny85", "1E930C", error));
    EXPECT_NE(error.find("ATtiny85 answers signature 1E930B"), std::string::npos) << error;
    EXPECT_FALSE(sim::MakeAvrChip("", "1E95", error));
    EXPECT_FALSE(sim::MakeAvrChip("", "", error));

    auto locked = sim::MakeAvrChip("", "000102", error);
    ASSERT_TRUE(locked) << error;
    sim::ChipKeys keys;
    locked->describe(keys);
    EXPECT_EQ(keys, (sim::ChipKeys{{"avr.signature", "000102"}, {"avr.timing", "slowest"}}));
    auto& generic = static_cast<AvrTarget&>(*locked);
    EXPECT_EQ(generic.flash().size(), 8192u);
    EXPECT_EQ(generic.eeprom().size(), 512u);
    EXPECT_FALSE(generic.set("avr.lock", "00", error));
    // A generic part is written byte by byte and erases like any other.
    Host host(generic);
    ASSERT_TRUE(host.enable());
    EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x00, 0x01, 0x02}));
    host.instr(0x40, 0x00, 0x03, 0x21);
    host.waitMs(9);
    EXPECT_EQ(host.read(0x20, 0x0003), 0x21);
    host.instr(0xAC, 0x80, 0x00, 0x00);
    host.waitMs(20);
    EXPECT_EQ(host.read(0x20, 0x0003), 0xFF);
}

// ---- Faults ------------------------------------------------------------------------------------

TEST(AvrFaults, NeverEchoWrongPollingAndDroppedWrites)
{
    {
        AvrTarget chip(device("ATmega163"));
        chip.faults.neverEcho = true;
        Host host(chip);
        EXPECT_FALSE(host.enable());
        for (int i = 0; i < 32; ++i) {
            host.sckPulse();
            EXPECT_FALSE(host.programmingEnable());
        }
        EXPECT_EQ(host.read(0x30, 0), 0xFF);
    }
    {
        AvrTarget chip(device("AT90S8515"));
        chip.faults.pollingNeverDone = true;
        Host host(chip);
        ASSERT_TRUE(host.enable());
        host.instr(0xC0, 0x00, 0x10, 0x55);
        host.waitMs(100);
        EXPECT_EQ(host.read(0xA0, 0x0010), 0x7F);
        EXPECT_EQ(chip.eeprom()[0x10], 0x55);
        host.instr(0x40, 0x00, 0x10, 0x55);
        host.waitMs(100);
        EXPECT_EQ(host.read(0x20, 0x0010), 0x7F);
        EXPECT_EQ(host.read(0xA0, 0x0010), 0x7F);
        EXPECT_EQ(host.read(0xA0, 0x0011), 0xFF);
    }
    {
        AvrTarget chip(device("AT90S2313"));
        chip.faults.dropWrites = true;
        Host host(chip);
        ASSERT_TRUE(host.enable());
        // The write looks normal while it lasts, and leaves nothing behind.
        host.instr(0xC0, 0x00, 0x10, 0x55);
        EXPECT_EQ(host.readAt(host.execNs, 0xA0, 0x0010), 0x80);
        host.waitMs(9);
        EXPECT_EQ(host.read(0xA0, 0x0010), 0xFF);
        host.instr(0x40, 0x00, 0x10, 0x55);
        host.waitMs(9);
        EXPECT_EQ(host.read(0x20, 0x0010), 0xFF);
        host.write(0xAC, 0xF9, 0x00, 0x00);
        EXPECT_EQ(chip.lock(), 0xFF);
    }
}

// A table part whose fuses select its internal RC oscillator sees an SCK edge only when the phase
// before it lasted two of its own clocks; XTAL pulses count only as time. The ATtiny85 leaves the
// factory at 8 MHz divided by 8 (low fuse 62); with CKDIV8 unprogrammed (E2) it runs at 8 MHz.
TEST(AvrTableParts, InternalOscillatorSetsTheShortestSckPhase)
{
    struct Case {
        const char* lowFuse;
        std::int64_t stepNs;
        int clocksPerPhase;
        bool enters;
    };
    for (const Case& c :
         {Case{"62", 1000, 2, true}, Case{"62", 300, 2, false}, Case{"62", 300, 8, true},
          Case{"E2", 300, 2, true}, Case{"E2", 100, 0, false}, Case{"E2", 300, 0, true}}) {
        SCOPED_TRACE(std::string(c.lowFuse) + " " + std::to_string(c.stepNs) + " ns " +
                     std::to_string(c.clocksPerPhase));
        std::string error;
        AvrTarget chip(sim::DeviceFromPart(*FindPartByName("ATtiny85")));
        ASSERT_TRUE(chip.set("avr.fuse.low", c.lowFuse, error)) << error;
        Host host(chip);
        host.stepNs = c.stepNs;
        host.clocksPerPhase = c.clocksPerPhase;
        ASSERT_EQ(host.enable(), c.enters);
        if (c.enters) {
            EXPECT_EQ(host.signature(), (std::array<std::uint8_t, 3>{0x1E, 0x93, 0x0B}));
        }
    }
}

// The part table's chips stay busy (RDY/BSY) for their data's write times: the slowest by
// default, the fastest with avr.timing=fastest; fuse bytes for their own time.
TEST(AvrWrite, TablePartsAreBusyForTheirDatasTimes)
{
    struct Case {
        const char* part;
        AvrSpeed speed;
        Bytes write;
        std::int64_t busyNs;
    };
    for (const Case& c : {
             Case{"ATtiny85", AvrSpeed::Slowest, {0xC0, 0x00, 0x05, 0x42}, 4'500'000},
             Case{"ATtiny85", AvrSpeed::Fastest, {0xC0, 0x00, 0x05, 0x42}, 4'000'000},
             Case{"ATtiny85", AvrSpeed::Slowest, {0xAC, 0xA0, 0x00, 0x62}, 9'000'000},
             Case{"ATmega162", AvrSpeed::Slowest, {0xAC, 0xA4, 0x00, 0xFB}, 16'000'000},
             Case{"ATmega162", AvrSpeed::Fastest, {0xAC, 0xA4, 0x00, 0xFB}, 16'000'000},
         }) {
        SCOPED_TRACE(std::string(c.part) + " " + std::to_string(c.busyNs));
        AvrTarget chip(sim::DeviceFromPart(*FindPartByName(c.part)));
        chip.setSpeed(c.speed);
        Host host(chip);
        ASSERT_TRUE(host.enable());
        host.instr(c.write[0], c.write[1], c.write[2], c.write[3]);
        const std::int64_t t0 = host.execNs;
        EXPECT_EQ(host.readAt(t0 + c.busyNs - 100'000, 0xF0, 0x0000) & 1, 1);
        EXPECT_EQ(host.readAt(t0 + c.busyNs, 0xF0, 0x0000) & 1, 0);
    }
}

// Load EEPROM Memory Page takes a byte by its place in the page, Write EEPROM Memory Page the page
// of its address: only the bytes loaded change, the page takes one EEPROM write time (RDY/BSY),
// loads while it lasts are lost, and a supply cut leaves only its own bytes erased. A part
// without EEPROM pages only echoes both.
TEST(AvrTableParts, AnEepromPageChangesTheBytesLoadedInOneWriteTime)
{
    AvrTarget chip(sim::DeviceFromPart(*FindPartByName("ATmega2560"))); // 8-byte pages, 9 ms
    std::fill(chip.eeprom().begin(), chip.eeprom().end(), 0x11);
    Host host(chip);
    ASSERT_TRUE(host.enable());
    host.instr(0xC1, 0x00, 0x09, 0xA1); // place 1
    host.instr(0xC1, 0x00, 0x06, 0xB6); // place 6
    host.instr(0xC2, 0x01, 0x0C, 0x00); // the page at 0x108
    const std::int64_t t0 = host.execNs;
    EXPECT_EQ(host.readAt(t0 + 8'000'000, 0xF0, 0x0000), 0x01);
    host.instr(0xC1, 0x00, 0x00, 0x55); // lost: the chip is busy
    EXPECT_EQ(host.readAt(t0 + 9'000'000, 0xF0, 0x0000), 0x00);
    std::vector<std::uint8_t> expected(4096, 0x11);
    expected[0x109] = 0xA1;
    expected[0x10E] = 0xB6;
    EXPECT_EQ(chip.eeprom(), expected);
    host.instr(0xC1, 0x00, 0x02, 0x22);
    host.instr(0xC2, 0x0F, 0xF8, 0x00); // the last page
    EXPECT_EQ(host.read(0xA0, 0x0FFA), 0xFF) << "polling value while written";
    host.powerDown();
    expected[0xFFA] = 0xFF;
    expected[0xFF9] = 0x11;
    EXPECT_EQ(chip.eeprom(), expected);

    AvrTarget byBytes(sim::DeviceFromPart(*FindPartByName("ATmega8")));
    Host byHost(byBytes);
    ASSERT_TRUE(byHost.enable());
    byHost.instr(0xC1, 0x00, 0x00, 0x12);
    EXPECT_EQ(byHost.instr(0xC2, 0x00, 0x00, 0x00), (Bytes{0x12, 0xC2, 0x00, 0x00}));
    byHost.waitMs(10);
    EXPECT_EQ(byBytes.eeprom(), std::vector<std::uint8_t>(512, 0xFF));
}
