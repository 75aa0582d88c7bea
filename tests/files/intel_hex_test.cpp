#include "files/image_file.h"
#include "files/unHEX.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <sstream>

using vardel::AvrMemory;
using vardel::AvrPlacement;
using vardel::FileKind;
using vardel::HexImage;
using vardel::HexParse;
using vardel::ImageFile;
using vardel::ParseIntelHex;
using vardel::PlaceAvrImage;
using vardel::PlaceHexImage;
using vardel::WriteIntelHexFile;
using vardel::test::RandomBytes;
using vardel::test::ReadWholeFile;
using vardel::test::ScratchFolder;
using vardel::test::WriteWholeFile;

namespace {

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

// The value of the two hex digits at the start of the text.
int Byte(const std::string& text)
{
    return static_cast<int>(std::stoul(text.substr(0, 2), nullptr, 16));
}

// The file read as the programs read an image, laid into the buffer; false when it is refused.
bool ReadHex(const std::string& file, std::uint8_t* buffer, std::size_t size)
{
    const vardel::ImageRead read = vardel::ReadImageFile(file, 0);
    if (!read.ok())
        return false;
    vardel::PlaceImageFile(read.file, std::span<std::uint8_t>(buffer, size));
    return true;
}

std::vector<std::uint8_t> Sequence(std::size_t size, std::uint8_t first = 0)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

std::vector<std::uint8_t> Load(const std::string& file, std::size_t capacity,
                               std::uint8_t fill = 0xFF)
{
    std::vector<std::uint8_t> buffer(capacity, fill);
    EXPECT_TRUE(ReadHex(file, buffer.data(), buffer.size()));
    return buffer;
}

HexParse ParseText(const std::string& text)
{
    return ParseIntelHex(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
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
                sum += Byte(body.substr(i));
            EXPECT_EQ(sum % 256, 0u) << line;
            EXPECT_EQ(body.size(), 10u + 2 * Byte(body)) << line;

            const int type = Byte(body.substr(6));
            if (type == 4) {
                extended.push_back(line);
                // The next data record must be the first one of the new 64 KiB block.
                EXPECT_EQ(expectedAddress % 0x10000, 0u);
                EXPECT_EQ(
                    static_cast<std::size_t>(Byte(body.substr(8)) * 256 + Byte(body.substr(10))),
                    expectedAddress >> 16);
            } else if (type == 0) {
                EXPECT_EQ(
                    static_cast<std::size_t>(Byte(body.substr(2)) * 256 + Byte(body.substr(4))),
                    expectedAddress & 0xFFFF);
                expectedAddress += Byte(body);
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
        ASSERT_TRUE(ReadHex(file, buffer.data(), buffer.size()));
        EXPECT_EQ(buffer, bytes);
    }
}

TEST(IntelHexReader, MissingFileIsAnError)
{
    ScratchFolder folder;
    std::uint8_t buffer[4] = {};
    EXPECT_FALSE(ReadHex(folder.file("absent.hex"), buffer, sizeof buffer));
    // A folder, or a device without end, is no file to read.
    EXPECT_FALSE(ReadHex(folder.path().string(), buffer, sizeof buffer));
    EXPECT_FALSE(ReadHex("/dev/zero", buffer, sizeof buffer));
}

TEST(IntelHexReader, ToleratesLowerCaseAnyLineEndBlankLinesAndTrailingBlanks)
{
    ScratchFolder folder;
    const auto file = folder.file("loose.hex");
    WriteWholeFile(file, "\n"
                         ":10000000000102030405060708090a0b0c0d0e0f78\n"
                         "  \r\n"
                         ":02001000445555 \t\r"
                         ":040020001122334432\r\n"
                         ":00000001ff\n"
                         "anything at all after the end record\n");
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

// Every fault of a record names its line; nothing of the file is loaded.
TEST(IntelHexReader, TheFirstBadRecordIsNamedByLineAndNothingIsLoaded)
{
    const std::string good = ":0400000001020304F2\r\n";
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"0400100001020304E2", "line 2: no start code ':'"},
        {";0400100001020304E2", "line 2: no start code ':'"},
        {"Plain text, not a record", "line 2: no start code ':'"},
        {"\x7f"
         "ELF\x02\x01",
         "line 2: no start code ':'"},
        {":0400100001020G04E2", "line 2: not a hex digit"},
        {":0400100001020304E2 x", "line 2: characters after the checksum"},
        {":04001000010203E2",
         "line 2: byte count does not match the line"}, // checksum read as data
        {":0400100001020304E2E2", "line 2: byte count does not match the line"},
        {":040010000102030", "line 2: byte count does not match the line"},
        {":", "line 2: byte count does not match the line"},
        {":0400100001020304E3", "line 2: bad checksum"},
        {":0400100601020304DC", "line 2: unknown record type 06"},
        {":01000001FFFF", "line 2: wrong byte count for the record type"},
        {":0100000400FB", "line 2: wrong byte count for the record type"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const HexParse parse = ParseText(good + c.text + "\n" + good);
        EXPECT_EQ(parse.error, c.error);
        EXPECT_TRUE(parse.image.empty());
    }
    // A line longer than any record is refused without reading it as data.
    const HexParse longLine = ParseText(":FF" + std::string(100000, '0'));
    EXPECT_EQ(longLine.error, "line 1: record longer than the format allows");
    // CR alone, CR LF and LF each end one line.
    EXPECT_EQ(ParseText(good + "\r" + good + "\n\n:0000000001").error, "line 6: bad checksum");
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
    ASSERT_TRUE(ReadHex(file, buffer.data(), buffer.size()));
    EXPECT_EQ(buffer, expected);
}

TEST(IntelHexReader, EndRecordStopsReadingAndAMissingOneReadsToTheLastLine)
{
    ScratchFolder folder;
    const auto ended = folder.file("ended.hex");
    WriteWholeFile(ended, Record(0, 0, {1, 2}) + ":00000001FF\r\n" + Record(2, 0, {3, 4}));
    auto buffer = Load(ended, 4, 0);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 0, 0}));

    const auto open = folder.file("open.hex");
    WriteWholeFile(open, Record(0, 0, {1, 2}) + Record(2, 0, {3, 4}));
    buffer = Load(open, 4, 0);
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
    const auto buffer = Load(file, 0x20000, 0xFF);
    std::vector<std::uint8_t> expected(0x20000, 0xFF);
    expected[0x00000] = 0x10;
    expected[0x00001] = 0x14;
    expected[0x1E000] = 0x11;
    expected[0x1E001] = 0x12;
    expected[0x10004] = 0x13;
    EXPECT_EQ(buffer, expected);
}

TEST(IntelHexPlacement, CountsWhatFallsOutsideTheMemoryAndItsFirstAddress)
{
    const HexParse parse = ParseText(Record(0x01F8, 0, Sequence(16, 1)) + ":02000004008179\r\n" +
                                     Record(0x0000, 0, {0xAA, 0xBB}) + ":00000001FF\r\n");
    ASSERT_TRUE(parse.ok()) << parse.error;
    EXPECT_EQ(parse.image.lowest(), 0x1F8u);
    EXPECT_EQ(parse.image.end(), 0x810002u);
    const struct {
        std::uint64_t offset;
        std::size_t size;
        std::uint64_t inside, outside, first;
    } cases[] = {
        {0, 0x200, 8, 10, 0x200},        // the tail of the first run and the far record
        {0, 0x1000000, 18, 0, 0},        // everything fits
        {0, 0x100, 0, 18, 0x1F8},        // nothing fits
        {0x810000, 0x200, 2, 16, 0x1F8}, // below the offset counts as outside
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<std::uint8_t> memory(c.size, 0x5A);
        const auto placed = PlaceHexImage(parse.image, c.offset, memory);
        EXPECT_EQ(placed.inside, c.inside);
        EXPECT_EQ(placed.outside, c.outside);
        EXPECT_EQ(placed.firstOutside, c.first);
        EXPECT_EQ(static_cast<std::uint64_t>(std::count_if(memory.begin(), memory.end(),
                                                           [](auto b) { return b != 0x5A; })),
                  c.inside);
    }
}

TEST(IntelHexReader, NeverStoresAtOrPastTheCapacity)
{
    ScratchFolder folder;
    const auto file = folder.file("long.hex");
    const auto bytes = Sequence(32, 1);
    WriteWholeFile(file, Record(0x01F8, 0, bytes) + Record(0x0218, 0, {0xEE}) + ":00000001FF\r\n");

    // Guard bytes past the capacity show any overrun.
    std::vector<std::uint8_t> buffer(0x220, 0);
    ASSERT_TRUE(ReadHex(file, buffer.data(), 0x200));
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
        EXPECT_EQ(Load(Sample(std::string(name) + ".hex"), 0x20000), flash);
    }
}

TEST(IntelHexSamples, SmallFlashAndEepromImages)
{
    auto eeprom = Load(Sample("blink-atmega163-eeprom.hex"), 512);
    auto expected = Sequence(16, 1);
    expected.resize(512, 0xFF);
    EXPECT_EQ(eeprom, expected);

    // avr-objcopy's .eeprom output as it comes, at 0x810000, is the same image.
    ImageFile far{FileKind::Hex, {}, {}};
    far.hex = ParseText(ReadWholeFile(Sample("blink-atmega163-eeprom-at-810000.hex"))).image;
    std::vector<std::uint8_t> placed(512, 0xFF);
    const AvrPlacement split = PlaceAvrImage(far, AvrMemory::Eeprom, placed);
    EXPECT_EQ(split.placed.inside, 16u);
    EXPECT_TRUE(split.others.empty());
    EXPECT_EQ(placed, expected);

    // The application part of the merged image is the plain ATmega128 file.
    const auto merged = BytesOf(Sample("app-and-boot-atmega128.bin"));
    auto flash = Load(Sample("blink-atmega128.hex"), 0x20000);
    std::copy(merged.begin() + 0x1E000, merged.end(), flash.begin() + 0x1E000);
    EXPECT_EQ(flash, merged);
}

// A whole program's image: each AVR memory takes its own region, and the bytes of every other one
// are counted. A run that crosses from one region into the next is cut there; bytes beyond every
// region belong to none.
TEST(IntelHexSamples, WholeProgramSplitsByMemory)
{
    ImageFile crossing{FileKind::Hex, {}, {}};
    crossing.hex.runs = {{0x80FFFE, 0, 4}, {0x85FFFF, 4, 2}};
    crossing.hex.bytes = {1, 2, 3, 4, 5, 6};
    std::vector<std::uint8_t> eeprom(3, 0xFF);
    const AvrPlacement e = PlaceAvrImage(crossing, AvrMemory::Eeprom, eeprom);
    EXPECT_EQ(eeprom, (std::vector<std::uint8_t>{3, 4, 0xFF}));
    ASSERT_EQ(e.others.size(), 3u);
    EXPECT_STREQ(e.others[0].name, "flash");
    EXPECT_EQ(e.others[0].bytes, 2u);
    EXPECT_STREQ(e.others[1].name, "user signature");
    EXPECT_EQ(e.others[2].name, nullptr);
    std::vector<std::uint8_t> flash(0x810000, 0xFF);
    const AvrPlacement f = PlaceAvrImage(crossing, AvrMemory::Flash, flash);
    EXPECT_EQ(f.placed.inside, 2u);
    EXPECT_EQ(flash[0x80FFFF], 2);
    EXPECT_STREQ(f.others[0].name, "EEPROM");
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
        ASSERT_TRUE(ReadHex(hex, buffer.data(), buffer.size()));
        EXPECT_EQ(buffer, bytes);
    }
}

// The cases where readers part ways, each read by srec_cat as well: a record under a segment base
// (02) wraps within its 64 KiB segment, two records that give one address different bytes are
// refused (the same bytes twice are fine), and 1A or NUL bytes after the last record are ignored.
TEST_F(SrecCatInterchange, AgreesOnSegmentWrapOverlapsAndEndOfFilePadding)
{
    const auto bytes = Sequence(16, 1);
    const std::string end = ":00000001FF\r\n";
    const std::string wrap = Record(0, 2, {0x10, 0x00}) + Record(0xFFF8, 0, bytes);
    const struct {
        std::string text;
        std::string error; // empty: read, at the addresses srec_cat gives
    } cases[] = {
        {wrap + end, ""},
        {Record(0x10, 0, bytes) + Record(0x18, 0, Sequence(4, 9)) + end, ""},
        {Record(0x10, 0, bytes) + Record(0x18, 0, {9, 10, 0x77}) + end,
         "line 2: gives 0x001A the byte 77, but line 1 gave it 0B"},
        {Record(0x10, 0, bytes) + end + "\x1A", ""},
        {Record(0x10, 0, bytes) + std::string("\x1A\0\0\r\n", 5), ""},
        {Record(0x10, 0, bytes) + std::string("\0\0:", 3), "line 2: no start code ':'"},
    };
    const auto hex = folder.file("case.hex");
    const auto bin = folder.file("case.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WriteWholeFile(hex, c.text);
        const HexParse parse = ParseText(c.text);
        EXPECT_EQ(parse.error, c.error);
        // -disable-sequence-warnings: srec_cat's warning of records out of order is no fault.
        const int theirs =
            RunShell("srec_cat '" + hex + "' -intel -disable-sequence-warnings -o '" + bin +
                     "' -binary >/dev/null");
        if (!c.error.empty() && c.error.find("start code") == std::string::npos) {
            EXPECT_NE(theirs, 0);
            continue;
        }
        if (!c.error.empty())
            continue;
        ASSERT_EQ(theirs, 0);
        // srec_cat's binary output starts at address 0, gaps filled with 00.
        const auto expected = BytesOf(bin);
        std::vector<std::uint8_t> ours(expected.size(), 0);
        PlaceHexImage(parse.image, 0, ours);
        EXPECT_EQ(ours, expected);
        EXPECT_EQ(parse.image.end(), expected.size());
    }
}
