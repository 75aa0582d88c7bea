#include "files/image_file.h"

#include "files/elf_image.h"
#include "files/project_file.h"

#include <algorithm>
#include <cstdio>

namespace vardel {

const char* const kNoDataForMemory = "no data for this memory";

ImageRead ReadImageFile(const std::string& fileName, std::size_t binLimit)
{
    ImageRead result;
    // An ELF program's segments are laid at their addresses, as a HEX file's records are.
    const bool elf = IsElfName(fileName);
    result.file.kind = elf ? FileKind::Hex : FileKindOf(fileName);
    if (result.file.kind == FileKind::Other) {
        result.failure = ImageFailure::UnknownKind;
        return result;
    }
    const bool bin = result.file.kind == FileKind::Bin;
    FileBytes read = bin ? ReadWholeFile(fileName, binLimit, ReadLimit::AtMost)
                         : ReadWholeFile(fileName, kHexFileLimit);
    if (!read.ok()) {
        result.failure = ImageFailure::Unreadable;
        result.readFailure = read.failure;
        result.detail = ReadFailureReason(read.failure);
        return result;
    }
    if (read.bytes.empty()) {
        result.failure = ImageFailure::Empty;
        result.detail = EmptyFileError(fileName);
        return result;
    }
    result.crc = Crc32(read.bytes);
    if (bin) {
        result.file.bin = std::move(read.bytes);
        return result;
    }
    HexParse parse = elf ? ParseElfImage(read.bytes) : ParseIntelHex(read.bytes);
    if (!parse.ok()) {
        result.failure = ImageFailure::Malformed;
        result.detail = std::move(parse.error);
        return result;
    }
    result.file.hex = std::move(parse.image);
    if (!result.file.hex.endRecord)
        result.warning = CutShortWarning(fileName);
    return result;
}

HexPlacement PlaceImageFile(const ImageFile& file, std::span<std::uint8_t> memory,
                            std::uint64_t hexOffset)
{
    if (file.kind == FileKind::Hex)
        return PlaceHexImage(file.hex, hexOffset, memory);
    HexPlacement placed;
    const std::size_t n = std::min(file.bin.size(), memory.size());
    std::copy_n(file.bin.begin(), n, memory.begin());
    placed.inside = n;
    placed.outside = file.bin.size() - n;
    placed.firstOutside = placed.outside ? memory.size() : 0;
    return placed;
}

std::string EmptyFileError(const std::string& fileName)
{
    return fileName + " is empty (0 bytes): it holds no image";
}

std::string CutShortWarning(const std::string& fileName)
{
    return fileName + " has no end record: the file may be cut short";
}

std::string OutsideMemoryWarning(const HexPlacement& placed)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "File contains %llu bytes outside this memory, the first at $%04llX:\r"
                  "They will be left out",
                  static_cast<unsigned long long>(placed.outside),
                  static_cast<unsigned long long>(placed.firstOutside));
    return text;
}

namespace {

constexpr AvrHexRegion kAvrHexRegions[] = {
    {AvrMemory::Flash, 0, "flash"},
    {AvrMemory::Eeprom, kAvrEepromHexBase, "EEPROM"},
    {AvrMemory::Fuses, 0x820000, "fuses"},
    {AvrMemory::Lock, 0x830000, "lock bits"},
    {AvrMemory::Signature, 0x840000, "signature"},
    {AvrMemory::UserSignature, 0x850000, "user signature"},
};

} // namespace

std::span<const AvrHexRegion> AvrHexRegions()
{
    return kAvrHexRegions;
}

AvrPlacement PlaceAvrImage(const ImageFile& file, AvrMemory memory, std::span<std::uint8_t> buffer)
{
    AvrPlacement result;
    if (file.kind != FileKind::Hex || file.hex.end() <= kAvrEepromHexBase) {
        result.placed = PlaceImageFile(file, buffer);
        return result;
    }
    // Each run cut at the region boundaries: the memory's own pieces into an image of their own,
    // the others counted.
    HexImage own;
    std::uint64_t base = 0;
    std::uint64_t elsewhere = 0;
    const std::size_t regions = std::size(kAvrHexRegions);
    std::vector<std::uint64_t> counts(regions, 0);
    for (const HexImage::Run& run : file.hex.runs) {
        const std::uint64_t end = run.address + run.size;
        for (std::size_t r = 0; r < regions; ++r) {
            const std::uint64_t from = std::max(run.address, kAvrHexRegions[r].base);
            const std::uint64_t to =
                std::min(end, r + 1 < regions ? kAvrHexRegions[r + 1].base : kAvrHexEnd);
            if (from >= to)
                continue;
            if (kAvrHexRegions[r].memory != memory) {
                counts[r] += to - from;
                continue;
            }
            base = kAvrHexRegions[r].base;
            const std::size_t offset = run.offset + static_cast<std::size_t>(from - run.address);
            own.runs.push_back({from, own.bytes.size(), static_cast<std::size_t>(to - from)});
            own.bytes.insert(own.bytes.end(), file.hex.bytes.begin() + offset,
                             file.hex.bytes.begin() + offset + (to - from));
        }
        if (end > kAvrHexEnd)
            elsewhere += end - std::max(run.address, kAvrHexEnd);
    }
    for (std::size_t r = 0; r < regions; ++r)
        if (counts[r])
            result.others.push_back({kAvrHexRegions[r].name, counts[r]});
    if (elsewhere)
        result.others.push_back({nullptr, elsewhere});
    result.placed = PlaceHexImage(own, base, buffer);
    return result;
}

std::uint64_t AvrHexBase(AvrMemory memory)
{
    for (const AvrHexRegion& region : kAvrHexRegions)
        if (region.memory == memory)
            return region.base;
    return kAvrHexEnd;
}

AvrImageBits ReadAvrImageBits(const HexImage& image)
{
    const std::uint64_t fuses = AvrHexBase(AvrMemory::Fuses);
    const std::uint64_t lock = AvrHexBase(AvrMemory::Lock);
    const std::uint64_t end = AvrHexBase(AvrMemory::Signature);
    AvrImageBits bits;
    std::array<std::optional<std::uint8_t>, 3> signature;
    for (const HexImage::Run& run : image.runs)
        for (std::size_t i = 0; i < run.size; ++i) {
            const std::uint64_t address = run.address + i;
            const std::uint8_t byte = image.bytes[run.offset + i];
            if (address >= end && address < end + 3)
                signature[2 - (address - end)] = byte;
            else if (address >= fuses && address < fuses + 3)
                bits.fuses[address - fuses] = byte;
            else if (address == lock)
                bits.lock = byte;
            else if (address >= fuses && address < end)
                ++bits.stray;
        }
    if (signature[0] && signature[1] && signature[2])
        bits.signature = std::array<std::uint8_t, 3>{*signature[0], *signature[1], *signature[2]};
    return bits;
}

std::string OtherMemoriesWarning(const AvrPlacement& placement, AvrMemory memory)
{
    const char* own = "";
    for (const AvrHexRegion& region : kAvrHexRegions)
        if (region.memory == memory)
            own = region.name;
    std::string text;
    for (const AvrPlacement::Other& other : placement.others) {
        if (!text.empty())
            text += "\r";
        text +=
            "File holds " + std::to_string(other.bytes) +
            (other.bytes == 1 ? " byte " : " bytes ") +
            (other.name ? std::string("of ") + other.name : std::string("above the AVR memories")) +
            " besides the " + own + ": they are left out";
    }
    return text;
}

} // namespace vardel
