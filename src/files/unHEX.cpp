#include "files/unHEX.h"

#include "files/binary_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vardel {

namespace {

constexpr std::size_t kHeaderLength = 9; // mark, count, address and type
constexpr std::size_t kRecordBytes = 16;
constexpr std::size_t kSegmentSize = 0x10000;

enum RecordType {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kExtendedLinearAddress = 0x04,
};

// The text from position on, empty past the end, so short lines never read out of range.
std::string_view From(std::string_view line, std::size_t position)
{
    return position < line.size() ? line.substr(position) : std::string_view{};
}

int HexWordValue(std::string_view text)
{
    return HexByteValue(text) * 256 + HexByteValue(From(text, 2));
}

// The two upper-case digits of every byte value, so a byte costs one two-character copy.
constexpr std::array<char, 512> kDigitPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 512> pairs{};
    for (int v = 0; v < 256; ++v) {
        pairs[2 * v] = digits[v >> 4];
        pairs[2 * v + 1] = digits[v & 0x0F];
    }
    return pairs;
}();

// Writes one record into out and returns the characters written (at most 13 + 2 x count).
std::size_t FormatRecord(char* out, unsigned address, unsigned type, const std::uint8_t* data,
                         std::size_t count)
{
    char* p = out;
    auto put = [&p](unsigned value) {
        std::memcpy(p, &kDigitPairs[2 * (value & 0xFF)], 2);
        p += 2;
    };
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) + type;
    *p++ = ':';
    put(static_cast<unsigned>(count));
    put(address >> 8);
    put(address & 0xFF);
    put(type);
    for (std::size_t i = 0; i < count; ++i) {
        put(data[i]);
        sum += data[i];
    }
    put((256 - sum % 256) % 256);
    *p++ = '\r';
    *p++ = '\n';
    return static_cast<std::size_t>(p - out);
}

} // namespace

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

int HexByteValue(std::string_view text)
{
    const int high = text.size() > 0 ? HexDigitValue(text[0]) : 0;
    const int low = text.size() > 1 ? HexDigitValue(text[1]) : 0;
    return high * 16 + low;
}

namespace {

// Digit values by character, as HexDigitValue gives them: a table, since a 16 MiB image is 33
// million digits.
constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            values[c] = static_cast<std::uint8_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            values[c] = static_cast<std::uint8_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            values[c] = static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return values;
}();

// The byte whose two digits start at p; both must be there.
inline std::uint8_t ByteAt(const char* p)
{
    return static_cast<std::uint8_t>(kDigitValues[static_cast<unsigned char>(p[0])] * 16 +
                                     kDigitValues[static_cast<unsigned char>(p[1])]);
}

// Handles one line (without its line feed); false once the end record is seen.
template <class OnData>
bool ParseRecord(std::string_view line, unsigned long long& base, OnData& onData)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() < kHeaderLength)
        return true;

    // Fixed positions: the leading mark is whatever character the writer put there.
    const char* p = line.data();
    const int count = ByteAt(p + 1);
    const unsigned address = ByteAt(p + 3) * 256u + ByteAt(p + 5);
    const int type = ByteAt(p + 7);
    const std::string_view data = line.substr(kHeaderLength);

    if (type == kEndOfFile)
        return false;
    if (type == kExtendedSegmentAddress)
        base = static_cast<unsigned long long>(HexWordValue(data)) * 16;
    else if (type == kExtendedLinearAddress)
        base = static_cast<unsigned long long>(HexWordValue(data)) << 16;
    else if (type == kData)
        // A short record stores only the whole bytes it holds.
        onData(base + address, data, std::min<std::size_t>(count, data.size() / 2));
    return true;
}

// Walks the records of a HEX file up to its end record, handing each data record to onData with
// its full load address (extended segment and linear addresses applied). Lines end at a line feed;
// the file is read in large blocks, not line by line.
template <class OnData> bool ParseIntelHex(const std::string& fileName, OnData onData)
{
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (file == nullptr)
        return false;

    unsigned long long base = 0;
    // Left uninitialised: the block is only read where fread has filled it.
    std::size_t capacity = 256 * 1024;
    std::unique_ptr<char[]> block(new char[capacity]);
    std::size_t kept = 0; // the start of a line carried over from the previous block
    bool reading = true;
    while (reading) {
        const std::size_t got = std::fread(block.get() + kept, 1, capacity - kept, file);
        const std::size_t end = kept + got;
        const bool last = got == 0;
        std::size_t start = 0;
        while (reading) {
            const void* feed = std::memchr(block.get() + start, '\n', end - start);
            if (feed == nullptr)
                break;
            const std::size_t stop =
                static_cast<std::size_t>(static_cast<const char*>(feed) - block.get());
            reading =
                ParseRecord(std::string_view(block.get() + start, stop - start), base, onData);
            start = stop + 1;
        }
        if (!reading)
            break;
        kept = end - start;
        if (last) {
            // The last line needs no line feed.
            if (kept > 0)
                ParseRecord(std::string_view(block.get() + start, kept), base, onData);
            break;
        }
        if (kept == capacity) {
            // A line longer than the block: make room for the rest of it.
            std::unique_ptr<char[]> larger(new char[capacity * 2]);
            std::memcpy(larger.get(), block.get(), kept);
            block = std::move(larger);
            capacity *= 2;
        } else {
            std::memmove(block.get(), block.get() + start, kept);
        }
    }
    std::fclose(file);
    return true;
}

} // namespace

bool ReadIntelHexFile(const std::string& fileName, long addressLimit, std::uint8_t* buffer,
                      std::size_t capacity)
{
    return ParseIntelHex(
        fileName, [&](unsigned long long start, std::string_view data, std::size_t count) {
            if (addressLimit < 0 || start > static_cast<unsigned long long>(addressLimit))
                return;
            if (start >= capacity)
                return;
            const std::size_t n = std::min<unsigned long long>(count, capacity - start);
            for (std::size_t i = 0; i < n; ++i)
                buffer[start + i] = ByteAt(data.data() + 2 * i);
        });
}

long long IntelHexExtent(const std::string& fileName)
{
    unsigned long long end = 0;
    const bool opened =
        ParseIntelHex(fileName, [&](unsigned long long start, std::string_view, std::size_t count) {
            if (count > 0)
                end = std::max(end, start + count);
        });
    return opened ? static_cast<long long>(end) : -1;
}

bool WriteIntelHexFile(const std::string& fileName, const std::uint8_t* buffer, std::size_t size)
{
    constexpr std::size_t kLongestRecord = 13 + 2 * kRecordBytes;
    const std::size_t records = (size + kRecordBytes - 1) / kRecordBytes;
    const std::size_t segments = size / kSegmentSize + 1;
    std::string content((records + segments + 1) * kLongestRecord, '\0');
    char* out = content.data();
    const bool needsExtendedAddress = size > kSegmentSize;
    for (std::size_t offset = 0; offset < size; offset += kRecordBytes) {
        if (needsExtendedAddress && offset != 0 && offset % kSegmentSize == 0) {
            const unsigned upper = static_cast<unsigned>(offset >> 16);
            const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8),
                                           static_cast<std::uint8_t>(upper)};
            out += FormatRecord(out, 0, kExtendedLinearAddress, value, 2);
        }
        const std::size_t count = std::min(kRecordBytes, size - offset);
        out += FormatRecord(out, static_cast<unsigned>(offset & 0xFFFF), kData, buffer + offset,
                            count);
    }
    out += FormatRecord(out, 0, kEndOfFile, nullptr, 0);
    content.resize(static_cast<std::size_t>(out - content.data()));
    return ReplaceFileAtomically(fileName, content);
}

} // namespace vardel
