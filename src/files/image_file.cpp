#include "files/image_file.h"

#include <algorithm>
#include <cstdio>

namespace vardel {

const char* const kNoDataForMemory = "no data for this memory";

ImageRead ReadImageFile(const std::string& fileName, std::size_t binLimit)
{
    ImageRead result;
    result.file.kind = FileKindOf(fileName);
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
        result.detail = fileName + " is empty (0 bytes): it holds no image";
        return result;
    }
    if (bin) {
        result.file.bin = std::move(read.bytes);
        return result;
    }
    HexParse parse = ParseIntelHex(read.bytes);
    if (!parse.ok()) {
        result.failure = ImageFailure::Malformed;
        result.detail = std::move(parse.error);
        return result;
    }
    result.file.hex = std::move(parse.image);
    if (!result.file.hex.endRecord)
        result.warning = fileName + " has no end record: the file may be cut short";
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

} // namespace vardel
