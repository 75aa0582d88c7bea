#include "hw/clock.h"
#include "sim/board_folder.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

using namespace vardel::sim;

namespace {

// A bit-banging I2C master on the chip's pins, one pin change per step of virtual time. It checks
// on every step that the chip never moves SDA while SCL stays high.
class Master {
public:
    static constexpr std::int64_t kStepNs = 2'500;

    explicit Master(EepromSocketChip& chip) : chip_(chip) { step(); }

    bool sda() const { return sda_ && chip_.sdaReleased(); }
    std::int64_t now() const { return now_; }
    void wait(std::int64_t ns) { now_ += ns; }
    int glitches() const { return glitches_; }
    // Whether write() checks that SDA is free again after the acknowledge.
    bool checkRelease = true;

    void lines(bool scl, bool sda)
    {
        scl_ = scl;
        sda_ = sda;
        step();
    }
    void power(bool on)
    {
        power_ = on;
        step();
    }

    void start()
    {
        lines(scl_, true);
        lines(true, true);
        lines(true, false);
        lines(false, false);
    }
    void stop()
    {
        lines(false, false);
        lines(true, false);
        lines(true, true);
    }
    // One clock with the given data; returns SDA as sampled while SCL is high.
    bool clock(bool bit)
    {
        lines(false, bit);
        lines(true, bit);
        const bool sampled = sda();
        lines(false, bit);
        return sampled;
    }
    // Sends a byte; true when the chip acknowledged it.
    bool write(std::uint8_t byte)
    {
        for (int i = 7; i >= 0; --i)
            clock((byte >> i) & 1);
        const bool ack = !clock(true);
        // The acknowledge ends with the ninth clock (after a read's control byte the chip goes
        // straight on with its first bit).
        if (checkRelease && (byte & 0xF1) != 0xA1) {
            EXPECT_TRUE(sda()) << "SDA still held after the ninth clock";
        }
        return ack;
    }
    std::uint8_t read(bool ack)
    {
        std::uint8_t byte = 0;
        for (int i = 0; i < 8; ++i)
            byte = static_cast<std::uint8_t>((byte << 1) | (clock(true) ? 1 : 0));
        clock(!ack);
        lines(false, true);
        return byte;
    }

    // START, control byte, word address (one or two bytes); true when all were acknowledged.
    bool address(std::uint8_t control, std::uint32_t address, int wordAddressBytes)
    {
        start();
        bool ack = write(control);
        if (wordAddressBytes == 2)
            ack = write(static_cast<std::uint8_t>(address >> 8)) && ack;
        return write(static_cast<std::uint8_t>(address)) && ack;
    }
    bool writeBytes(std::uint8_t control, std::uint32_t at, int wordAddressBytes,
                    const std::vector<std::uint8_t>& data)
    {
        bool ack = address(control, at, wordAddressBytes);
        for (const std::uint8_t byte : data)
            ack = write(byte) && ack;
        stop();
        return ack;
    }
    // Reads n bytes from the current address after a START; empty when the control byte is
    // not acknowledged.
    std::vector<std::uint8_t> readBytes(std::uint8_t control, int n)
    {
        start();
        std::vector<std::uint8_t> data;
        if (!write(control)) {
            stop();
            return data;
        }
        for (int i = 0; i < n; ++i)
            data.push_back(read(i + 1 < n));
        stop();
        return data;
    }
    std::vector<std::uint8_t> randomRead(std::uint8_t control, std::uint32_t at,
                                         int wordAddressBytes, int n)
    {
        if (!address(control, at, wordAddressBytes)) {
            stop();
            return {};
        }
        return readBytes(static_cast<std::uint8_t>(control | 1), n);
    }

private:
    void step()
    {
        const bool before = sda();
        const bool sclBefore = lastScl_;
        const bool sdaMasterBefore = lastSdaMaster_;
        now_ += kStepNs;
        chip_.pins(power_, scl_, sda_, now_);
        if (sclBefore && scl_ && sdaMasterBefore == sda_ && before != sda())
            ++glitches_;
        lastScl_ = scl_;
        lastSdaMaster_ = sda_;
    }

    EepromSocketChip& chip_;
    bool power_ = true;
    bool scl_ = true;
    bool sda_ = true;
    bool lastScl_ = true;
    bool lastSdaMaster_ = true;
    std::int64_t now_ = 0;
    int glitches_ = 0;
};

std::unique_ptr<Eeprom24Cxx> makeChip(const std::string& type)
{
    std::string error;
    std::unique_ptr<EepromSocketChip> chip = MakeEepromChip(type, error);
    EXPECT_TRUE(chip) << error;
    return std::unique_ptr<Eeprom24Cxx>(static_cast<Eeprom24Cxx*>(chip.release()));
}

void fillPattern(Eeprom24Cxx& chip)
{
    for (std::size_t i = 0; i < chip.memory().size(); ++i)
        chip.memory()[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
}

std::vector<std::uint8_t> bytesAt(const Eeprom24Cxx& chip, std::uint32_t address, int n)
{
    return {chip.memory().begin() + address, chip.memory().begin() + address + n};
}

} // namespace

TEST(Eeprom24Cxx, TypesAreFoundInAnyCaseAndUnknownOnesAreNamedWithTheValidOnes)
{
    const struct {
        const char* name;
        int bytes, wordAddressBytes, blockBits, page;
    } expected[] = {
        {"24c01", 128, 1, 0, 8},      {"24C02", 256, 1, 0, 8},       {"24c04", 512, 1, 1, 16},
        {"24C08", 1024, 1, 2, 16},    {"24c16", 2048, 1, 3, 16},     {"24C32", 4096, 2, 0, 32},
        {"24c64", 8192, 2, 0, 32},    {"24C128", 16384, 2, 0, 64},   {"24C256", 32768, 2, 0, 64},
        {"24c512", 65536, 2, 0, 128}, {"24C1024", 131072, 2, 1, 256}};
    ASSERT_EQ(Eeprom24Cxx::types().size(), std::size(expected));
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        std::string error;
        auto chip = MakeEepromChip(e.name, error);
        ASSERT_TRUE(chip) << error;
        auto& eeprom = dynamic_cast<Eeprom24Cxx&>(*chip);
        EXPECT_EQ(eeprom.type().bytes, e.bytes);
        EXPECT_EQ(eeprom.type().wordAddressBytes, e.wordAddressBytes);
        EXPECT_EQ(eeprom.type().blockBits, e.blockBits);
        EXPECT_EQ(eeprom.type().pageSize, e.page);
        EXPECT_EQ(eeprom.memory(), std::vector<std::uint8_t>(e.bytes, 0xFF));
        std::string upper = e.name;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        ChipKeys keys;
        chip->describe(keys);
        EXPECT_EQ(keys, (ChipKeys{{"eeprom", upper}}));
    }

    std::string error;
    EXPECT_FALSE(MakeEepromChip("24C03", error));
    EXPECT_NE(error.find("24C03"), std::string::npos) << error;
    for (const EepromType& type : Eeprom24Cxx::types())
        EXPECT_NE(error.find(type.name), std::string::npos) << error;
    EXPECT_FALSE(MakeEepromChip("", error));
}

TEST(Eeprom24Cxx, EveryTypeWritesAndReadsAtItsTopAndIgnoresAddressBitsBeyondItsSize)
{
    for (const EepromType& type : Eeprom24Cxx::types()) {
        SCOPED_TRACE(type.name);
        auto chip = makeChip(type.name);
        Master bus(*chip);
        const std::uint32_t top = static_cast<std::uint32_t>(type.bytes) - 1;
        // The top byte of the chip: the bits above the word address go in the control byte.
        const std::uint8_t control =
            static_cast<std::uint8_t>(0xA0 | ((top >> (8 * type.wordAddressBytes)) << 1));
        EXPECT_TRUE(bus.writeBytes(control, top, type.wordAddressBytes, {0x3C}));
        bus.wait(chip->writeCycleNs);
        EXPECT_EQ(chip->memory()[top], 0x3C);
        EXPECT_EQ(std::count(chip->memory().begin(), chip->memory().end(), 0xFF), type.bytes - 1);
        EXPECT_EQ(bus.randomRead(control, top, type.wordAddressBytes, 1),
                  std::vector<std::uint8_t>{0x3C});

        if (type.blockBits == 0 && (1 << (8 * type.wordAddressBytes)) > type.bytes) {
            // An all-ones word address names the top byte: the unused bits are ignored.
            const std::uint32_t ones = (1u << (8 * type.wordAddressBytes)) - 1;
            EXPECT_TRUE(bus.writeBytes(0xA0, ones, type.wordAddressBytes, {0x4D}));
            bus.wait(chip->writeCycleNs);
            EXPECT_EQ(chip->memory()[top], 0x4D);
        }
        EXPECT_EQ(bus.glitches(), 0);
    }
}

TEST(Eeprom24Cxx, RandomAndSequentialReadsAcknowledgeAndRollOverToZero)
{
    auto chip = makeChip("24C256");
    fillPattern(*chip);
    Master bus(*chip);

    // Random read: every byte of the write part and the read's control byte are acknowledged.
    EXPECT_TRUE(bus.address(0xA0, 0x1234, 2));
    bus.start();
    EXPECT_TRUE(bus.write(0xA1));
    EXPECT_EQ(bus.read(false), chip->memory()[0x1234]);
    // No acknowledge: the chip lets go of SDA and sends nothing more.
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(bus.clock(true));
    bus.stop();

    // The counter holds the last byte read plus one, and a current-address read starts there.
    EXPECT_EQ(bus.readBytes(0xA1, 3), bytesAt(*chip, 0x1235, 3));
    EXPECT_EQ(bus.readBytes(0xA1, 1), bytesAt(*chip, 0x1238, 1));

    // A sequential read from the last two bytes goes on at address 0.
    std::vector<std::uint8_t> expected = bytesAt(*chip, 0x7FFE, 2);
    const auto low = bytesAt(*chip, 0, 3);
    expected.insert(expected.end(), low.begin(), low.end());
    EXPECT_EQ(bus.randomRead(0xA0, 0x7FFE, 2, 5), expected);
    EXPECT_EQ(bus.readBytes(0xA1, 1), bytesAt(*chip, 3, 1));
    EXPECT_EQ(bus.glitches(), 0);
}

TEST(Eeprom24Cxx, APageWriteCountsOnlyTheLowBitsAndWrapsWithinThePage)
{
    auto chip = makeChip("24C64"); // 32-byte pages
    fillPattern(*chip);
    const std::vector<std::uint8_t> before = chip->memory();
    Master bus(*chip);

    // Four bytes from two before the end of page 0x0120: the last two land at its start.
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x013E, 2, {1, 2, 3, 4}));
    bus.wait(chip->writeCycleNs);
    std::vector<std::uint8_t> expected = before;
    expected[0x013E] = 1;
    expected[0x013F] = 2;
    expected[0x0120] = 3;
    expected[0x0121] = 4;
    EXPECT_EQ(chip->memory(), expected);
    // The counter went on within the page too.
    EXPECT_EQ(bus.readBytes(0xA1, 1), bytesAt(*chip, 0x0122, 1));

    // More than a page: the bytes past its end overwrite the first ones.
    std::vector<std::uint8_t> data(34);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(0x80 + i);
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x0200, 2, data));
    bus.wait(chip->writeCycleNs);
    expected[0x0200] = 0x80 + 32;
    expected[0x0201] = 0x80 + 33;
    for (int i = 2; i < 32; ++i)
        expected[0x0200 + i] = static_cast<std::uint8_t>(0x80 + i);
    EXPECT_EQ(chip->memory(), expected);
    EXPECT_EQ(bus.glitches(), 0);
}

TEST(Eeprom24Cxx, EightAnd256BytePagesWrapWithinThemselves)
{
    const struct {
        const char* type;
        std::uint8_t control;
        std::uint32_t at; // two bytes before a page's end
        int pageSize;
    } cases[] = {
        {"24C01", 0xA0, 0x7E, 8},
        {"24C02", 0xA0, 0x46, 8},
        {"24C1024", 0xA2, 0x1FFFE, 256},
        {"24C1024", 0xA0, 0x80FE, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type + std::string(" at ") + std::to_string(c.at));
        auto chip = makeChip(c.type);
        fillPattern(*chip);
        std::vector<std::uint8_t> expected = chip->memory();
        Master bus(*chip);
        const std::uint32_t base = c.at + 2 - static_cast<std::uint32_t>(c.pageSize);
        // Two bytes more than a page from two before its end: the counter wraps to the page's
        // start, and the last two bytes overwrite the first two.
        std::vector<std::uint8_t> data(static_cast<std::size_t>(c.pageSize) + 2);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(0x90 + i);
        EXPECT_TRUE(bus.writeBytes(c.control, c.at, chip->type().wordAddressBytes, data));
        EXPECT_TRUE(bus.readBytes(0xA1, 1).empty()); // busy
        bus.wait(chip->writeCycleNs);
        for (std::size_t i = 0; i < data.size(); ++i)
            expected[base + (c.at - base + i) % static_cast<std::size_t>(c.pageSize)] = data[i];
        EXPECT_EQ(chip->memory(), expected);
        EXPECT_EQ(bus.glitches(), 0);
    }
}

TEST(Eeprom24Cxx, A24C1024TakesA16FromP0AndRollsOverEitherWay)
{
    for (const bool wrapsWithinHalf : {false, true}) {
        SCOPED_TRACE(wrapsWithinHalf ? "wraps within the half" : "goes on into the other half");
        auto chip = makeChip("24C1024");
        chip->readWrapsWithinHalf = wrapsWithinHalf;
        fillPattern(*chip);
        Master bus(*chip);
        // P0 picks the half; A1 and A2 are tied low.
        EXPECT_EQ(bus.randomRead(0xA2, 0x0005, 2, 1), bytesAt(*chip, 0x10005, 1));
        EXPECT_EQ(bus.randomRead(0xA0, 0x0005, 2, 1), bytesAt(*chip, 0x00005, 1));
        for (const std::uint8_t control : {0xA4, 0xA6, 0xA8, 0xAC}) {
            bus.start();
            EXPECT_FALSE(bus.write(control)) << int(control);
            bus.stop();
        }
        // Across 0xFFFF and across the last byte.
        const std::uint32_t upper = wrapsWithinHalf ? 0x00000 : 0x10000;
        const std::uint32_t lower = wrapsWithinHalf ? 0x10000 : 0x00000;
        std::vector<std::uint8_t> expected = bytesAt(*chip, 0xFFFE, 2);
        auto next = bytesAt(*chip, upper, 2);
        expected.insert(expected.end(), next.begin(), next.end());
        EXPECT_EQ(bus.randomRead(0xA0, 0xFFFE, 2, 4), expected);
        expected = bytesAt(*chip, 0x1FFFE, 2);
        next = bytesAt(*chip, lower, 2);
        expected.insert(expected.end(), next.begin(), next.end());
        EXPECT_EQ(bus.randomRead(0xA2, 0xFFFE, 2, 4), expected);
        EXPECT_EQ(bus.glitches(), 0);
    }
}

TEST(Eeprom24Cxx, DuringTheWriteCycleTheControlByteIsNotAcknowledged)
{
    auto chip = makeChip("24C128");
    chip->writeCycleNs = 3'000'000;
    Master bus(*chip);
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x0040, 2, {0x11, 0x22}));
    const std::int64_t stopAt = bus.now();

    // Acknowledge polling: START + control byte until the chip answers.
    int polls = 0;
    bool ack = false;
    while (!ack && polls < 10'000) {
        bus.start();
        ack = bus.write(0xA0);
        if (!ack)
            bus.stop();
        ++polls;
    }
    ASSERT_TRUE(ack);
    EXPECT_GT(polls, 1);
    // The acknowledged poll began at most one poll's length after the cycle's end.
    const std::int64_t pollNs = (4 + 9 * 3 + 3) * Master::kStepNs; // START, 9 clocks, STOP
    EXPECT_GE(bus.now() - stopAt, chip->writeCycleNs);
    EXPECT_LE(bus.now() - stopAt, chip->writeCycleNs + 2 * pollNs);
    // The acknowledged control byte goes on as a normal transaction.
    EXPECT_TRUE(bus.write(0x00));
    EXPECT_TRUE(bus.write(0x40));
    bus.start();
    EXPECT_TRUE(bus.write(0xA1));
    EXPECT_EQ(bus.read(true), 0x11);
    EXPECT_EQ(bus.read(false), 0x22);
    bus.stop();

    // A read while busy gets no acknowledge either.
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x0040, 2, {0x33}));
    EXPECT_TRUE(bus.readBytes(0xA1, 1).empty());
    bus.wait(chip->writeCycleNs);
    EXPECT_EQ(bus.randomRead(0xA0, 0x0040, 2, 2), (std::vector<std::uint8_t>{0x33, 0x22}));
    EXPECT_EQ(bus.glitches(), 0);
}

TEST(Eeprom24Cxx, OnlyAStopOnTheByteBoundaryAfterDataStartsAWrite)
{
    auto chip = makeChip("24C32");
    fillPattern(*chip);
    const std::vector<std::uint8_t> before = chip->memory();
    Master bus(*chip);

    // Repeated START instead of STOP: nothing written, no write cycle, but the pointer is set
    // (and went on by the data byte taken into the page buffer).
    EXPECT_TRUE(bus.address(0xA0, 0x0300, 2));
    EXPECT_TRUE(bus.write(0x55));
    bus.start();
    EXPECT_TRUE(bus.write(0xA1));
    EXPECT_EQ(bus.read(false), before[0x0301]);
    bus.stop();
    EXPECT_EQ(chip->memory(), before);

    // A word address alone (a dummy write) sets the pointer and writes nothing.
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x0310, 2, {}));
    EXPECT_EQ(bus.readBytes(0xA1, 1), bytesAt(*chip, 0x0310, 1));

    // A STOP inside a data byte drops the whole page.
    EXPECT_TRUE(bus.address(0xA0, 0x0320, 2));
    EXPECT_TRUE(bus.write(0x66));
    bus.clock(false);
    bus.clock(true);
    bus.stop();
    EXPECT_EQ(chip->memory(), before);
    EXPECT_EQ(bus.readBytes(0xA1, 1).size(), 1u); // not busy
    EXPECT_EQ(bus.glitches(), 0);
}

TEST(Eeprom24Cxx, SmallTypesTakeTheHighAddressBitsFromTheControlByte)
{
    {
        auto chip = makeChip("24C16");
        Master bus(*chip);
        // Byte 0x5A3: a10..a8 = 101 in bits 3..1.
        EXPECT_TRUE(bus.writeBytes(0xAA, 0xA3, 1, {0x9E}));
        bus.wait(chip->writeCycleNs);
        EXPECT_EQ(chip->memory()[0x5A3], 0x9E);
        EXPECT_EQ(std::count(chip->memory().begin(), chip->memory().end(), 0x9E), 1);
        // The block bits of the read's control byte are ignored.
        EXPECT_EQ(bus.randomRead(0xAA, 0xA3, 1, 1), std::vector<std::uint8_t>{0x9E});
        EXPECT_TRUE(bus.address(0xAA, 0xA3, 1));
        EXPECT_EQ(bus.readBytes(0xA1, 1), std::vector<std::uint8_t>{0x9E});
        // Every block address is acknowledged.
        for (int block = 0; block < 8; ++block) {
            bus.start();
            EXPECT_TRUE(bus.write(static_cast<std::uint8_t>(0xA0 | block << 1))) << block;
            bus.stop();
        }
        EXPECT_EQ(bus.glitches(), 0);
    }
    {
        auto chip = makeChip("24C04");
        Master bus(*chip);
        EXPECT_TRUE(bus.writeBytes(0xA2, 0x10, 1, {0x77}));
        bus.wait(chip->writeCycleNs);
        EXPECT_EQ(chip->memory()[0x110], 0x77);
        // A1 is tied low: 0xA4 is another chip.
        bus.start();
        EXPECT_FALSE(bus.write(0xA4));
        bus.stop();
        bus.start();
        EXPECT_FALSE(bus.write(0xA5));
        bus.stop();
        EXPECT_EQ(bus.glitches(), 0);
    }
    {
        auto chip = makeChip("24C08");
        Master bus(*chip);
        EXPECT_TRUE(bus.writeBytes(0xA6, 0xFF, 1, {0x42}));
        bus.wait(chip->writeCycleNs);
        EXPECT_EQ(chip->memory()[0x3FF], 0x42);
        bus.start();
        EXPECT_FALSE(bus.write(0xA8)); // A2 is tied low
        bus.stop();
        // A byte for another device is not taken as the start of a transaction.
        bus.start();
        EXPECT_FALSE(bus.write(0xB0));
        EXPECT_FALSE(bus.write(0xA0));
        bus.stop();
    }
}

TEST(Eeprom24Cxx, TypesWithoutBlockBitsAnswerOnlyTheirOwnAddress)
{
    for (const char* name : {"24C02", "24C32", "24C512"}) {
        SCOPED_TRACE(name);
        auto chip = makeChip(name);
        Master bus(*chip);
        for (const std::uint8_t control : {0xA2, 0xA3, 0xA4, 0xAE, 0xA8, 0x50, 0x00}) {
            bus.start();
            EXPECT_FALSE(bus.write(control)) << int(control);
            bus.stop();
        }
        bus.start();
        EXPECT_TRUE(bus.write(0xA1));
        bus.read(false);
        bus.stop();
        EXPECT_EQ(bus.glitches(), 0);
    }
}

TEST(Eeprom24Cxx, PowerOffLetsGoOfSdaAndPowerOnStartsTheBusAfreshKeepingTheMemory)
{
    auto chip = makeChip("24C256");
    Master bus(*chip);
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x0100, 2, {0xC3, 0x3C}));
    bus.wait(chip->writeCycleNs);

    // Power off in the middle of a read, while the chip drives a 0 bit.
    EXPECT_TRUE(bus.address(0xA0, 0x0101, 2));
    bus.start();
    EXPECT_TRUE(bus.write(0xA1));
    EXPECT_FALSE(bus.clock(true)); // 0x3C = 0011 1100
    EXPECT_FALSE(chip->sdaReleased());
    bus.power(false);
    EXPECT_TRUE(chip->sdaReleased());
    // Unpowered, it answers nothing.
    bus.start();
    EXPECT_FALSE(bus.write(0xA0));
    bus.stop();

    bus.power(true);
    EXPECT_TRUE(chip->sdaReleased());
    // Without a START, a byte is not a control byte.
    EXPECT_FALSE(bus.write(0xA1));
    EXPECT_FALSE(bus.write(0xA0));
    EXPECT_EQ(bus.randomRead(0xA0, 0x0100, 2, 2), (std::vector<std::uint8_t>{0xC3, 0x3C}));

    // Power off in the middle of a page write: nothing is written.
    EXPECT_TRUE(bus.address(0xA0, 0x0100, 2));
    EXPECT_TRUE(bus.write(0x00));
    bus.power(false);
    bus.stop();
    bus.power(true);
    EXPECT_EQ(bus.randomRead(0xA0, 0x0100, 2, 1), std::vector<std::uint8_t>{0xC3});

    // Power off during the write cycle leaves the bytes it was programming undefined (erased);
    // after the whole cycle they are kept.
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x0101, 2, {0x11}));
    bus.wait(chip->writeCycleNs / 2);
    bus.power(false);
    bus.power(true);
    EXPECT_EQ(bus.randomRead(0xA0, 0x0100, 2, 2), (std::vector<std::uint8_t>{0xC3, 0xFF}));
    EXPECT_TRUE(bus.writeBytes(0xA0, 0x0101, 2, {0x22}));
    bus.wait(chip->writeCycleNs);
    bus.power(false);
    bus.power(true);
    EXPECT_EQ(bus.randomRead(0xA0, 0x0100, 2, 2), (std::vector<std::uint8_t>{0xC3, 0x22}));
    EXPECT_EQ(bus.glitches(), 0);
}

TEST(Eeprom24Cxx, TheMemoryIsKeptInTheFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString();
    std::string error;

    vardel::VirtualClock clock;
    SimBoard board(clock);
    auto chip = makeChip("24C08");
    fillPattern(*chip);
    const std::vector<std::uint8_t> pattern = chip->memory();
    board.insertEeprom(std::move(chip));
    BoardFolder folder(path);
    ASSERT_TRUE(folder.save(board, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(path + "/eeprom-1.bin"), 1024u);
    SimBoard again(clock);
    ASSERT_TRUE(BoardFolder(path).load(again, error)) << error;
    ASSERT_NE(again.eeprom(), nullptr);
    EXPECT_EQ(static_cast<Eeprom24Cxx*>(again.eeprom())->memory(), pattern);

    // The wrong size for the type is refused, and the board keeps the chip it had.
    std::ofstream(path + "/board.ini") << "eeprom=24C16\nfile.eeprom.bin=eeprom-1.bin\n";
    EXPECT_FALSE(BoardFolder(path).load(again, error));
    EXPECT_NE(error.find("eeprom-1.bin holds 1024 bytes, but the memory of the 24C16 has 2048"),
              std::string::npos)
        << error;
    EXPECT_EQ(static_cast<Eeprom24Cxx*>(again.eeprom())->memory(), pattern);

    EXPECT_FALSE(BoardFolder(path + "/missing/folder").save(board, error));
    EXPECT_FALSE(error.empty());
}

TEST(Eeprom24Cxx, FaultSettings)
{
    {
        SCOPED_TRACE("no acknowledge after some data bytes");
        auto chip = makeChip("24C256");
        chip->nackAfterDataBytes = 3;
        Master bus(*chip);
        EXPECT_TRUE(bus.address(0xA0, 0x0010, 2));
        EXPECT_TRUE(bus.write(1));
        EXPECT_TRUE(bus.write(2));
        EXPECT_TRUE(bus.write(3));
        EXPECT_FALSE(bus.write(4));
        EXPECT_FALSE(bus.write(5));
        bus.stop();
        EXPECT_EQ(chip->memory(), std::vector<std::uint8_t>(32768, 0xFF));
        // Not busy, and writes of up to three bytes still work.
        EXPECT_TRUE(bus.writeBytes(0xA0, 0x0010, 2, {1, 2, 3}));
        bus.wait(chip->writeCycleNs);
        EXPECT_EQ(bytesAt(*chip, 0x0010, 4), (std::vector<std::uint8_t>{1, 2, 3, 0xFF}));
    }
    {
        SCOPED_TRACE("busy forever");
        auto chip = makeChip("24C04");
        chip->busyForever = true;
        Master bus(*chip);
        for (int i = 0; i < 3; ++i) {
            bus.start();
            EXPECT_FALSE(bus.write(0xA0));
            bus.stop();
            bus.wait(100 * chip->writeCycleNs);
        }
        chip->busyForever = false;
        bus.start();
        EXPECT_TRUE(bus.write(0xA0));
        bus.stop();
    }
    {
        SCOPED_TRACE("SDA stuck low");
        auto chip = makeChip("24C32");
        chip->sdaStuckLow = true;
        Master bus(*chip);
        EXPECT_FALSE(bus.sda());
        bus.power(false);
        EXPECT_FALSE(chip->sdaReleased());
        bus.power(true);
        // With SDA low for good every byte reads as acknowledged, but there is never a START,
        // so nothing gets written.
        bus.checkRelease = false;
        EXPECT_TRUE(bus.writeBytes(0xA0, 0, 2, {0x00}));
        bus.checkRelease = true;
        chip->sdaStuckLow = false;
        bus.wait(chip->writeCycleNs);
        EXPECT_EQ(chip->memory(), std::vector<std::uint8_t>(4096, 0xFF));
        bus.start();
        EXPECT_TRUE(bus.write(0xA0));
        bus.stop();
    }
    {
        SCOPED_TRACE("writes dropped");
        auto chip = makeChip("24C16");
        chip->dropWrites = true;
        Master bus(*chip);
        EXPECT_TRUE(bus.writeBytes(0xA4, 0x20, 1, {9, 8, 7}));
        EXPECT_EQ(chip->memory(), std::vector<std::uint8_t>(2048, 0xFF));
        EXPECT_EQ(bus.randomRead(0xA4, 0x20, 1, 3), std::vector<std::uint8_t>(3, 0xFF));
    }
    {
        SCOPED_TRACE("write cycle length");
        auto chip = makeChip("24C512");
        chip->writeCycleNs = 10'000'000;
        Master bus(*chip);
        EXPECT_TRUE(bus.writeBytes(0xA0, 0xFF00, 2, {0xAB}));
        bus.wait(9'000'000);
        EXPECT_TRUE(bus.readBytes(0xA1, 1).empty());
        bus.wait(1'000'000);
        EXPECT_EQ(bus.randomRead(0xA0, 0xFF00, 2, 1), std::vector<std::uint8_t>{0xAB});
    }
}
