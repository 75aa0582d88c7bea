#include "files/unHEX.h"

#include "files/file_access.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace vardel {

namespace {

constexpr std::size_t kHeaderLength = 9; // mark, count, address and type
constexpr std::size_t kRecordBytes = 16;
constexpr std::size_t kSegmentSize = 0x10000;

enum RecordType {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

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

namespace {

// Digit values by character, either case: a table, since a 16 MiB image is 33 million digits.
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

// 1 for the characters that are hex digits.
constexpr std::array<std::uint8_t, 256> kIsDigit = [] {
    std::array<std::uint8_t, 256> is{};
    for (int c = 0; c < 256; ++c)
        is[c] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    return is;
}();

// The byte whose two digits start at p; both must be there.
inline std::uint8_t ByteAt(const std::uint8_t* p)
{
    return static_cast<std::uint8_t>(kDigitValues[p[0]] * 16 + kDigitValues[p[1]]);
}

inline bool IsBlank(std::uint8_t c)
{
    return c == ' ' || c == '\t';
}

inline bool IsLineEnd(std::uint8_t c)
{
    return c == '\r' || c == '\n';
}

// The longest record: 255 data bytes.
constexpr std::size_t kLongestRecordDigits = 2 * (1 + 2 + 1 + 255 + 1);

std::string LineError(std::size_t line, const char* what)
{
    return "line " + std::to_string(line) + ": " + what;
}

// The byte count each record type other than data requires.
int RequiredCount(int type)
{
    switch (type) {
    case kEndOfFile:
        return 0;
    case kExtendedSegmentAddress:
    case kExtendedLinearAddress:
        return 2;
    case kStartSegmentAddress:
    case kStartLinearAddress:
        return 4;
    default:
        return -1;
    }
}

// Where one data record put its bytes, for the check that no two records disagree.
struct Placed {
    std::uint64_t address;
    std::size_t offset;
    std::size_t size;
    std::size_t line;
};

// Appends bytes to the image, continuing the last run where they follow it. The bytes go to
// image.bytes[used ..], which the caller sized for the whole text.
void AddRun(HexImage& image, std::size_t& used, std::uint64_t address, const std::uint8_t* digits,
            std::size_t count, std::size_t line, std::vector<Placed>& placed)
{
    if (count == 0)
        return;
    if (image.runs.empty() || image.runs.back().address + image.runs.back().size != address)
        image.runs.push_back({address, used, 0});
    placed.push_back({address, used, count, line});
    std::uint8_t* out = image.bytes.data() + used;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = ByteAt(digits + 2 * i);
    used += count;
    image.runs.back().size += count;
}

std::string AddressText(std::uint64_t address)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llX", static_cast<unsigned long long>(address));
    return text;
}

// The first place where two records give one address different bytes, as an error naming both
// lines; empty when every address that is given twice gets the same byte.
std::string Disagreement(const HexImage& image, std::vector<Placed> placed)
{
    const auto byAddress = [](const Placed& a, const Placed& b) {
        return a.address < b.address;
    };
    if (!std::is_sorted(placed.begin(), placed.end(), byAddress))
        std::stable_sort(placed.begin(), placed.end(), byAddress);
    // The records that reach past the start of the one in hand.
    std::vector<const Placed*> open;
    for (const Placed& record : placed) {
        std::erase_if(open, [&record](const Placed* earlier) {
            return earlier->address + earlier->size <= record.address;
        });
        for (const Placed* earlier : open) {
            const std::uint64_t end =
                std::min(earlier->address + earlier->size, record.address + record.size);
            for (std::uint64_t at = record.address; at < end; ++at) {
                const std::uint8_t mine = image.bytes[record.offset + (at - record.address)];
                const std::uint8_t theirs = image.bytes[earlier->offset + (at - earlier->address)];
                if (mine == theirs)
                    continue;
                const Placed& first = earlier->line < record.line ? *earlier : record;
                const Placed& second = earlier->line < record.line ? record : *earlier;
                const std::uint8_t firstByte = &first == earlier ? theirs : mine;
                const std::uint8_t secondByte = &first == earlier ? mine : theirs;
                char bytes[48];
                std::snprintf(bytes, sizeof bytes, " %02X, but line %zu gave it %02X", secondByte,
                              first.line, firstByte);
                return LineError(second.line, "").append("gives ") + AddressText(at) + " the byte" +
                       bytes;
            }
        }
        open.push_back(&record);
    }
    return {};
}

// Only DOS end-of-file bytes, NUL padding, blanks and line ends from p to the end.
bool OnlyPaddingLeft(const std::uint8_t* p, const std::uint8_t* end)
{
    for (; p < end; ++p)
        if (*p != 0x1A && *p != 0 && !IsBlank(*p) && !IsLineEnd(*p))
            return false;
    return true;
}

HexParse Parse(std::span<const std::uint8_t> text)
{
    HexParse result;
    HexImage& image = result.image;
    // No record holds more bytes than half its digits.
    image.bytes.resize(text.size() / 2);
    std::size_t used = 0;
    const std::uint8_t* p = text.data();
    const std::uint8_t* const end = p + text.size();
    std::uint64_t base = 0;
    // Under an extended segment address (02), a record's addresses wrap within the 64 KiB segment.
    bool segmented = false;
    std::vector<Placed> placed;
    std::size_t line = 1;
    auto fail = [&](const char* what) {
        result.error = LineError(line, what);
        result.image = HexImage{};
        return result;
    };
    while (p < end) {
        // Line ends: CR LF, LF or CR alone.
        if (*p == '\r') {
            ++p;
            if (p < end && *p == '\n')
                ++p;
            ++line;
            continue;
        }
        if (*p == '\n') {
            ++p;
            ++line;
            continue;
        }
        if (IsBlank(*p)) {
            while (p < end && IsBlank(*p))
                ++p;
            if (p < end && !IsLineEnd(*p))
                return fail("no start code ':'");
            continue;
        }
        if (*p != ':') {
            // Older tools end the text with a DOS end-of-file byte or pad it with NULs.
            if ((*p == 0x1A || *p == 0) && OnlyPaddingLeft(p, end))
                break;
            return fail("no start code ':'");
        }
        ++p;
        // The digits of the record, up to the first character that is not one.
        const std::uint8_t* digits = p;
        while (p < end && kIsDigit[*p] &&
               static_cast<std::size_t>(p - digits) <= kLongestRecordDigits)
            ++p;
        const std::size_t n = static_cast<std::size_t>(p - digits);
        if (n > kLongestRecordDigits)
            return fail("record longer than the format allows");
        const std::uint8_t* rest = p;
        while (rest < end && IsBlank(*rest))
            ++rest;
        if (rest < end && !IsLineEnd(*rest))
            return fail(rest == p ? "not a hex digit" : "characters after the checksum");
        p = rest;
        if (n < 10 || n % 2 != 0 || n != 10 + 2 * static_cast<std::size_t>(ByteAt(digits)))
            return fail("byte count does not match the line");
        const int count = ByteAt(digits);
        unsigned sum = 0;
        for (std::size_t i = 0; i < n; i += 2)
            sum += ByteAt(digits + i);
        if (sum % 256 != 0)
            return fail("bad checksum");
        const unsigned address = ByteAt(digits + 2) * 256u + ByteAt(digits + 4);
        const int type = ByteAt(digits + 6);
        const std::uint8_t* data = digits + 8;
        if (type == kData) {
            const std::size_t size = static_cast<std::size_t>(count);
            const std::size_t first =
                segmented ? std::min<std::size_t>(size, kSegmentSize - address) : size;
            AddRun(image, used, base + address, data, first, line, placed);
            AddRun(image, used, base, data + 2 * first, size - first, line, placed);
            continue;
        }
        const int required = RequiredCount(type);
        if (required < 0) {
            char what[32];
            std::snprintf(what, sizeof what, "unknown record type %02X",
                          static_cast<unsigned>(type));
            result.error = LineError(line, what);
            result.image = HexImage{};
            return result;
        }
        if (count != required)
            return fail("wrong byte count for the record type");
        if (type == kEndOfFile) {
            image.endRecord = true;
            break;
        }
        const std::uint64_t value = ByteAt(data) * 256u + ByteAt(data + 2);
        if (type == kExtendedSegmentAddress) {
            base = value * 16;
            segmented = true;
        } else if (type == kExtendedLinearAddress) {
            base = value << 16;
            segmented = false;
        }
    }
    if (std::string error = Disagreement(image, std::move(placed)); !error.empty()) {
        result.error = std::move(error);
        result.image = HexImage{};
        return result;
    }
    image.bytes.resize(used);
    image.bytes.shrink_to_fit();
    return result;
}

} // namespace

std::uint64_t HexImage::lowest() const
{
    std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
    for (const Run& run : runs)
        low = std::min(low, run.address);
    return runs.empty() ? 0 : low;
}

std::uint64_t HexImage::end() const
{
    std::uint64_t high = 0;
    for (const Run& run : runs)
        high = std::max<std::uint64_t>(high, run.address + run.size);
    return high;
}

HexParse ParseIntelHex(std::span<const std::uint8_t> text)
{
    try {
        return Parse(text);
    } catch (const std::bad_alloc&) {
        HexParse result;
        result.error = "the file does not fit in memory";
        return result;
    }
}

HexPlacement PlaceHexImage(const HexImage& image, std::uint64_t offset,
                           std::span<std::uint8_t> memory)
{
    HexPlacement placed;
    auto outside = [&placed](std::uint64_t address, std::uint64_t count) {
        if (count == 0)
            return;
        placed.firstOutside =
            placed.outside == 0 ? address : std::min(placed.firstOutside, address);
        placed.outside += count;
    };
    for (const HexImage::Run& run : image.runs) {
        std::uint64_t address = run.address;
        std::size_t from = run.offset;
        std::uint64_t left = run.size;
        if (address < offset) {
            const std::uint64_t below = std::min<std::uint64_t>(left, offset - address);
            outside(address, below);
            address += below;
            from += below;
            left -= below;
        }
        if (left == 0)
            continue;
        const std::uint64_t at = address - offset;
        const std::uint64_t fits =
            at < memory.size() ? std::min<std::uint64_t>(left, memory.size() - at) : 0;
        std::copy_n(image.bytes.begin() + static_cast<std::ptrdiff_t>(from), fits,
                    memory.begin() + static_cast<std::ptrdiff_t>(at < memory.size() ? at : 0));
        placed.inside += fits;
        outside(at + fits, left - fits);
    }
    return placed;
}

std::string FormatIntelHex(const std::uint8_t* buffer, std::size_t size)
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
    return content;
}

bool WriteIntelHexFile(const std::string& fileName, const std::uint8_t* buffer, std::size_t size)
{
    try {
        const std::string content = FormatIntelHex(buffer, size);
        return ReplaceFileContent(fileName, content.data(), content.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace vardel
