#include "files/unHEX.h"

#include "files/binary_file.h"

#include <algorithm>
#include <fstream>

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

void AppendHexByte(std::string& out, unsigned value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[(value >> 4) & 0x0F];
    out += kDigits[value & 0x0F];
}

void AppendRecord(std::string& out, unsigned address, unsigned type, const std::uint8_t* data,
                  std::size_t count)
{
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) + type;
    out += ':';
    AppendHexByte(out, static_cast<unsigned>(count));
    AppendHexByte(out, address >> 8);
    AppendHexByte(out, address);
    AppendHexByte(out, type);
    for (std::size_t i = 0; i < count; ++i) {
        AppendHexByte(out, data[i]);
        sum += data[i];
    }
    AppendHexByte(out, (256 - sum % 256) % 256);
    out += "\r\n";
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

// Walks the records of a HEX file up to its end record, handing each data record to onData with
// its full load address (extended segment and linear addresses applied).
template <class OnData> bool ParseIntelHex(const std::string& fileName, OnData onData)
{
    std::ifstream file(fileName);
    if (!file.is_open())
        return false;

    unsigned long long base = 0;
    std::string text;
    while (std::getline(file, text)) {
        std::string_view line(text);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() < kHeaderLength)
            continue;

        // Fixed positions: the leading mark is whatever character the writer put there.
        const int count = HexByteValue(From(line, 1));
        const unsigned address = static_cast<unsigned>(HexWordValue(From(line, 3)));
        const int type = HexByteValue(From(line, 7));
        const std::string_view data = From(line, kHeaderLength);

        if (type == kEndOfFile)
            break;
        if (type == kExtendedSegmentAddress)
            base = static_cast<unsigned long long>(HexWordValue(data)) * 16;
        else if (type == kExtendedLinearAddress)
            base = static_cast<unsigned long long>(HexWordValue(data)) << 16;
        else if (type == kData)
            // A short record stores only the whole bytes it holds.
            onData(base + address, data, std::min<std::size_t>(count, data.size() / 2));
    }
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
            for (std::size_t i = 0; i < count && start + i < capacity; ++i)
                buffer[start + i] = static_cast<std::uint8_t>(HexByteValue(data.substr(2 * i)));
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
    std::string content;
    content.reserve(size / kRecordBytes * 45 + 64);
    const bool needsExtendedAddress = size > kSegmentSize;
    for (std::size_t offset = 0; offset < size; offset += kRecordBytes) {
        if (needsExtendedAddress && offset != 0 && offset % kSegmentSize == 0) {
            const unsigned upper = static_cast<unsigned>(offset >> 16);
            const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8),
                                           static_cast<std::uint8_t>(upper)};
            AppendRecord(content, 0, kExtendedLinearAddress, value, 2);
        }
        const std::size_t count = std::min(kRecordBytes, size - offset);
        AppendRecord(content, static_cast<unsigned>(offset & 0xFFFF), kData, buffer + offset,
                     count);
    }
    AppendRecord(content, 0, kEndOfFile, nullptr, 0);
    return ReplaceFileAtomically(fileName, content);
}

} // namespace vardel
