#include "files/unHEX.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

using vardel::HexByteValue;
using vardel::HexDigitValue;
using vardel::ReadIntelHexFile;
using vardel::WriteIntelHexFile;
using vardel::test::RandomBytes;
using vardel::test::ReadWholeFile;
using vardel::test::ScratchFolder;
using vardel::test::WriteWholeFile;

namespace {

constexpr long kNoLimit = 0x7FFFFFFF;

// Twenty bytes 00..13 as the writer lays them out.
const std::string kTwentyBytesFile = ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
                                     ":0400100010111213A6\r\n"
                                     ":00000001FF\r\n";

std::string HexPair(unsigned value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// A well-formed record, so that hand-made files look like the ones tools write.
std::string Record(unsigned address, unsigned type, const std::vector<std::uint8_t>& data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + address + type;
    std::string line = ":" + HexPair(static_cast<unsigned>(data.size())) + HexPair(address >> 8) +
                       HexPair(address) + HexPair(type);
    for (auto b : data) {
        line += HexPair(b);
        sum += b;
    }
    return line + HexPair(0x100 - (sum & 0xFF)) + "\r\n";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::uint8_t> Sequence(std::size_t size, std::uint8_t first = 0)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

std::vector<std::uint8_t> Load(const std::string& file, std::size_t capacity, long limit = kNoLimit,
                               std::uint8_t fill = 0xFF)
{
    std::vector<std::uint8_t> buffer(capacity, fill);
    EXPECT_TRUE(ReadIntelHexFile(file, limit, buffer.data(), buffer.size()));
    return buffer;
}

std::string Sample(const std::string& name)
{
    return std::string(VARDEL_SAMPLES_DIR) + "/" + name;
}

std::vector<std::uint8_t> BytesOf(const std::string& file)
{
    const std::string text = ReadWholeFile(file);
    return {text.begin(), text.end()};
}

bool SrecCatAvailable()
{
    return std::system("command -v srec_cat >/dev/null 2>&1") == 0;
}

int RunShell(const std::string& command)
{
    return std::system((command + " 2>&1").c_str());
}

} // namespace

TEST(HexDigits, ReadEitherCaseAndTreatEverythingElseAsZero)
{
    for (int code = 0; code < 256; ++code) {
        const char c = static_cast<char>(code);
        const char text[2] = {c, '\0'};
        const int expected =
            std::isxdigit(code) ? static_cast<int>(std::strtol(text, nullptr, 16)) : 0;
        EXPECT_EQ(HexDigitValue(c), expected) << "character code " << code;
    }
}

TEST(HexDigits, ByteIsTheFirstTwoDigitsWithMissingOnesAsZero)
{
    EXPECT_EQ(HexByteValue("aB"), 0xAB);
    EXPECT_EQ(HexByteValue("Ff7"), 0xFF);
    EXPECT_EQ(HexByteValue("0g"), 0x00);
    EXPECT_EQ(HexByteValue("A"), 0xA0);
    EXPECT_EQ(HexByteValue(""), 0);
}

TEST(IntelHexWriter, EmptyImageIsOnlyTheEndRecord)
{
    ScratchFolder folder;
    const auto file = folder.file("empty.hex");
    ASSERT_TRUE(WriteIntelHexFile(file, nullptr, 0));
    EXPECT_EQ(ReadWholeFile(file), ":00000001FF\r\n");
}

TEST(IntelHexWriter, SixteenBytesARecordWithTheRemainderLast)
{
    ScratchFolder folder;
    const auto file = folder.file("image.hex");

    auto bytes = Sequence(20);
    ASSERT_TRUE(WriteIntelHexFile(file, bytes.data(), bytes.size()));
    EXPECT_EQ(ReadWholeFile(file), kTwentyBytesFile);

    // Erased flash is written out like any other data: no gaps.
    bytes = Sequence(16);
    bytes.resize(32, 0xFF);
    ASSERT_TRUE(WriteIntelHexFile(file, bytes.data(), bytes.size()));
    EXPECT_EQ(ReadWholeFile(file), ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
                                   ":10001000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0\r\n"
                                   ":00000001FF\r\n");
}

TEST(IntelHexWriter, ExtendedLinearAddressOnlyWhereTheImageCrosses64KiB)
{
    ScratchFolder folder;
    const auto file = folder.file("big.hex");
    for (std::size_t size : {std::size_t{0x10000}, std::size_t{0x10001}, std::size_t{0x20000},
                             std::size_t{0x20000 + 37}}) {
        SCOPED_TRACE(size);
        const auto bytes = RandomBytes(size, static_cast<unsigned>(size));
        ASSERT_TRUE(WriteIntelHexFile(file, bytes.data(), bytes.size()));
        const std::string text = ReadWholeFile(file);
        const auto lines = Lines(text);

        std::size_t dataRecords = 0;
        std::size_t expectedAddress = 0;
        std::vector<std::string> extended;
        for (std::size_t n = 0; n < lines.size(); ++n) {
            const std::string& line = lines[n];
            ASSERT_GE(line.size(), 12u);
            ASSERT_EQ(line.back(), '\r') << "line " << n;
            ASSERT_EQ(line.front(), ':');
            const std::string body = line.substr(1, line.size() - 2);
            ASSERT_EQ(body.find_first_not_of("0123456789ABCDEF"), std::string::npos) << line;
            unsigned sum = 0;
            for (std::size_t i = 0; i < body.size(); i += 2)
                sum += HexByteValue(body.substr(i));
            EXPECT_EQ(sum % 256, 0u) << line;
            EXPECT_EQ(body.size(), 10u + 2 * HexByteValue(body)) << line;

            const int type = HexByteValue(body.substr(6));
            if (type == 4) {
                extended.push_back(line);
                // The next data record must be the first one of the new 64 KiB block.
                EXPECT_EQ(expectedAddress % 0x10000, 0u);
                EXPECT_EQ(static_cast<std::size_t>(HexByteValue(body.substr(8)) * 256 +
                                                   HexByteValue(body.substr(10))),
                          expectedAddress >> 16);
            } else if (type == 0) {
                EXPECT_EQ(static_cast<std::size_t>(HexByteValue(body.substr(2)) * 256 +
                                                   HexByteValue(body.substr(4))),
                          expectedAddress & 0xFFFF);
                expectedAddress += HexByteValue(body);
                ++dataRecords;
            } else {
                EXPECT_EQ(line, ":00000001FF\r");
                EXPECT_EQ(n, lines.size() - 1);
            }
        }
        EXPECT_EQ(expectedAddress, size);
        EXPECT_EQ(dataRecords, (size + 15) / 16);
        EXPECT_EQ(extended.size(), (size - 1) / 0x10000);
        if (!extended.empty()) {
            EXPECT_EQ(extended[0], ":020000040001F9\r");
        }
        if (extended.size() > 1) {
            EXPECT_EQ(extended[1], ":020000040002F8\r");
        }
    }
}

TEST(IntelHexWriter, ReplacesTheWholeFileAndLeavesNoTemporaryBehind)
{
    ScratchFolder folder;
    const auto file = folder.file("image.hex");
    WriteWholeFile(file, std::string(5000, 'x'));
    const auto bytes = Sequence(20);
    ASSERT_TRUE(WriteIntelHexFile(file, bytes.data(), bytes.size()));
    EXPECT_EQ(ReadWholeFile(file), kTwentyBytesFile);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"image.hex"});
}

TEST(IntelHexWriter, FailsWhenTheFolderIsMissing)
{
    ScratchFolder folder;
    const auto bytes = Sequence(20);
    EXPECT_FALSE(
        WriteIntelHexFile(folder.file("no-such-folder/image.hex"), bytes.data(), bytes.size()));
    EXPECT_TRUE(folder.names().empty());
}

TEST(IntelHexReader, ReadsBackWhatTheWriterWrote)
{
    ScratchFolder folder;
    const auto file = folder.file("round.hex");
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
          std::size_t{4097}, std::size_t{0xFFFF}, std::size_t{0x10000}, std::size_t{0x10001},
          std::size_t{0x18007}, std::size_t{0x20000}}) {
        SCOPED_TRACE(size);
        const auto bytes = RandomBytes(size, static_cast<unsigned>(size) + 1);
        ASSERT_TRUE(WriteIntelHexFile(file, bytes.data(), bytes.size()));
        // Start from the complement so that every byte must have been stored.
        std::vector<std::uint8_t> buffer(size);
        for (std::size_t i = 0; i < size; ++i)
            buffer[i] = static_cast<std::uint8_t>(~bytes[i]);
        ASSERT_TRUE(ReadIntelHexFile(file, kNoLimit, buffer.data(), buffer.size()));
        EXPECT_EQ(buffer, bytes);
    }
}

TEST(IntelHexReader, MissingFileIsAnError)
{
    ScratchFolder folder;
    std::uint8_t buffer[4] = {};
    EXPECT_FALSE(ReadIntelHexFile(folder.file("absent.hex"), kNoLimit, buffer, sizeof buffer));
}

TEST(IntelHexReader, ToleratesLowerCaseBareLineFeedsShortLinesAndAnyMark)
{
    ScratchFolder folder;
    const auto file = folder.file("loose.hex");
    WriteWholeFile(file, "\n"
                         ":10000000000102030405060708090a0b0c0d0e0f78\n"
                         ":00\r\n"
                         "\r\n"
                         ";0200100044556f\r\n"
                         ":040020001122334400\n" // wrong checksum: not verified
                         ":00000001ff\n");
    const auto buffer = Load(file, 0x40);
    auto expected = Sequence(16);
    expected.resize(0x40, 0xFF);
    expected[0x10] = 0x44;
    expected[0x11] = 0x55;
    expected[0x20] = 0x11;
    expected[0x21] = 0x22;
    expected[0x22] = 0x33;
    expected[0x23] = 0x44;
    EXPECT_EQ(buffer, expected);
}

TEST(IntelHexReader, CountBeyondTheDataTakesTheChecksumPairAndStoresNoPartialByte)
{
    ScratchFolder folder;
    const auto file = folder.file("short.hex");
    // Count 4 but three data bytes: the last pair becomes the fourth byte.
    // Count 6 with seven digits left: three bytes, then half a byte that is dropped.
    WriteWholeFile(file, ":04000000AABBCCDD\r\n"
                         ":06001000112233445\r\n"
                         ":00000001FF\r\n");
    const auto buffer = Load(file, 0x20, kNoLimit, 0x5A);
    std::vector<std::uint8_t> expected(0x20, 0x5A);
    expected[0] = 0xAA;
    expected[1] = 0xBB;
    expected[2] = 0xCC;
    expected[3] = 0xDD;
    expected[0x10] = 0x11;
    expected[0x11] = 0x22;
    expected[0x12] = 0x33;
    expected[0x13] = 0x44;
    EXPECT_EQ(buffer, expected);
}

TEST(IntelHexReader, BytesNoRecordNamesKeepTheBufferContent)
{
    ScratchFolder folder;
    const auto file = folder.file("sparse.hex");
    WriteWholeFile(file, Record(0x0008, 0, {1, 2}) + Record(0x0030, 0, {3}) + ":00000001FF\r\n");
    auto buffer = RandomBytes(0x40, 7);
    auto expected = buffer;
    expected[0x08] = 1;
    expected[0x09] = 2;
    expected[0x30] = 3;
    ASSERT_TRUE(ReadIntelHexFile(file, kNoLimit, buffer.data(), buffer.size()));
    EXPECT_EQ(buffer, expected);
}

TEST(IntelHexReader, EndRecordStopsReadingAndAMissingOneReadsToTheLastLine)
{
    ScratchFolder folder;
    const auto ended = folder.file("ended.hex");
    WriteWholeFile(ended, Record(0, 0, {1, 2}) + ":00000001FF\r\n" + Record(2, 0, {3, 4}));
    auto buffer = Load(ended, 4, kNoLimit, 0);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 0, 0}));

    const auto open = folder.file("open.hex");
    WriteWholeFile(open, Record(0, 0, {1, 2}) + Record(2, 0, {3, 4}));
    buffer = Load(open, 4, kNoLimit, 0);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST(IntelHexReader, SegmentAndLinearAddressRecordsPlaceDataAtTheirTrueAddresses)
{
    ScratchFolder folder;
    const auto file = folder.file("far.hex");
    WriteWholeFile(
        file, Record(0x0000, 0, {0x10}) + ":020000021000EC\r\n" + // segment 0x1000: base 0x10000
                  Record(0xE000, 0, {0x11, 0x12}) +
                  ":040000031000E00009\r\n" + // start address: ignored
                  ":020000040001F9\r\n" +     // linear 0x0001: base 0x10000
                  Record(0x0004, 0, {0x13}) + ":04000005000000CD2A\r\n" + // start address: ignored
                  ":020000040000FA\r\n" + Record(0x0001, 0, {0x14}) + ":00000001FF\r\n");
    const auto buffer = Load(file, 0x20000, kNoLimit, 0xFF);
    std::vector<std::uint8_t> expected(0x20000, 0xFF);
    expected[0x00000] = 0x10;
    expected[0x00001] = 0x14;
    expected[0x1E000] = 0x11;
    expected[0x1E001] = 0x12;
    expected[0x10004] = 0x13;
    EXPECT_EQ(buffer, expected);
}

TEST(IntelHexReader, LimitSkipsWholeRecordsByTheirFullLoadAddress)
{
    ScratchFolder folder;
    const auto file = folder.file("limit.hex");
    const auto first = Sequence(32, 0x40);
    WriteWholeFile(file, Record(0x01F0, 0, first) + Record(0x0200, 0, {0xA0, 0xA1}) +
                             Record(0x01FF, 0, {0xB0}) + ":00000001FF\r\n");

    // A record that starts within the limit loads in full, even past the limit.
    auto buffer = Load(file, 0x400, 511, 0);
    std::vector<std::uint8_t> expected(0x400, 0);
    std::copy(first.begin(), first.end(), expected.begin() + 0x1F0);
    expected[0x1FF] = 0xB0; // starts exactly at the limit
    EXPECT_EQ(buffer, expected);

    // The full address counts, not the 16-bit one in the record.
    WriteWholeFile(file, ":020000040001F9\r\n" + Record(0x0000, 0, {0xC0}) + ":00000001FF\r\n");
    buffer = Load(file, 0x10001, 0xFFFF, 0);
    EXPECT_EQ(buffer[0x10000], 0);
    EXPECT_EQ(buffer[0x0000], 0);
    buffer = Load(file, 0x10001, 0x10000, 0);
    EXPECT_EQ(buffer[0x10000], 0xC0);
}

TEST(IntelHexReader, NeverStoresAtOrPastTheCapacity)
{
    ScratchFolder folder;
    const auto file = folder.file("long.hex");
    const auto bytes = Sequence(32, 1);
    WriteWholeFile(file, Record(0x01F8, 0, bytes) + Record(0x0200, 0, {0xEE}) + ":00000001FF\r\n");

    // Guard bytes past the capacity show any overrun.
    std::vector<std::uint8_t> buffer(0x220, 0);
    ASSERT_TRUE(ReadIntelHexFile(file, kNoLimit, buffer.data(), 0x200));
    std::vector<std::uint8_t> expected(0x220, 0);
    std::copy(bytes.begin(), bytes.begin() + 8, expected.begin() + 0x1F8);
    EXPECT_EQ(buffer, expected);
}

TEST(IntelHexSamples, BootCodeLandsAt1E000)
{
    for (const char* name : {"boot-atmega128-at-1E000", "app-and-boot-atmega128"}) {
        SCOPED_TRACE(name);
        const auto flash = BytesOf(Sample(std::string(name) + ".bin"));
        ASSERT_EQ(flash.size(), 0x20000u);
        EXPECT_EQ(Load(Sample(std::string(name) + ".hex"), 0x20000, 0x1FFFF), flash);
    }
}

TEST(IntelHexSamples, SmallFlashAndEepromImages)
{
    auto eeprom = Load(Sample("blink-atmega163-eeprom.hex"), 512);
    auto expected = Sequence(16, 1);
    expected.resize(512, 0xFF);
    EXPECT_EQ(eeprom, expected);

    // The application part of the merged image is the plain ATmega128 file.
    const auto merged = BytesOf(Sample("app-and-boot-atmega128.bin"));
    auto flash = Load(Sample("blink-atmega128.hex"), 0x20000);
    std::copy(merged.begin() + 0x1E000, merged.end(), flash.begin() + 0x1E000);
    EXPECT_EQ(flash, merged);
}

class SrecCatInterchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SrecCatAvailable())
            GTEST_SKIP() << "srec_cat is not installed";
    }
    ScratchFolder folder;
};

TEST_F(SrecCatInterchange, ReadsOurFilesAsTheSameBytes)
{
    const auto hex = folder.file("ours.hex");
    const auto bin = folder.file("ours.bin");
    for (std::size_t size :
         {std::size_t{20}, std::size_t{0x10000}, std::size_t{0x10000 + 55}, std::size_t{0x20000}}) {
        SCOPED_TRACE(size);
        const auto bytes = RandomBytes(size, static_cast<unsigned>(size) * 3);
        ASSERT_TRUE(WriteIntelHexFile(hex, bytes.data(), bytes.size()));
        // srec_cat checks every checksum and fails on a bad one.
        ASSERT_EQ(RunShell("srec_cat '" + hex + "' -intel -o '" + bin + "' -binary"), 0);
        EXPECT_EQ(BytesOf(bin), bytes);
    }
}

TEST_F(SrecCatInterchange, LoadsItsFilesToTheSameBytes)
{
    const auto bin = folder.file("theirs.bin");
    const auto hex = folder.file("theirs.hex");
    for (std::size_t size : {std::size_t{100}, std::size_t{0x10000 + 300}, std::size_t{0x20000}}) {
        SCOPED_TRACE(size);
        const auto bytes = RandomBytes(size, static_cast<unsigned>(size) * 5);
        WriteWholeFile(bin, std::string(bytes.begin(), bytes.end()));
        ASSERT_EQ(RunShell("srec_cat '" + bin + "' -binary -o '" + hex + "' -intel"), 0);
        std::vector<std::uint8_t> buffer(size);
        for (std::size_t i = 0; i < size; ++i)
            buffer[i] = static_cast<std::uint8_t>(~bytes[i]);
        ASSERT_TRUE(ReadIntelHexFile(hex, kNoLimit, buffer.data(), buffer.size()));
        EXPECT_EQ(buffer, bytes);
    }
}
