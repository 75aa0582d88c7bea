#pragma once

#include "files/binary_file.h"
#include "files/file_access.h"
#include "files/unHEX.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vardel {

// An image file read whole and checked, before anything it holds reaches an image or a chip.
struct ImageFile {
    FileKind kind = FileKind::Other;
    std::vector<std::uint8_t> bin; // a binary file's bytes, at most the count asked for
    HexImage hex;                  // an Intel HEX file's records
};

enum class ImageFailure {
    None,
    UnknownKind, // the name ends in neither BIN nor HEX
    Unreadable,  // see the read failure
    Malformed,   // an Intel HEX fault, "line N: ..." in detail
    Empty,       // 0 bytes, what a failed build or download leaves: the detail names the file
};

struct ImageRead {
    ImageFile file;
    ImageFailure failure = ImageFailure::None;
    ReadFailure readFailure = ReadFailure::None;
    std::string detail;
    // A doubt about a file that was read: empty, or the WARNING to show before it is used.
    std::string warning;
    bool ok() const { return failure == ImageFailure::None; }
};

// The largest Intel HEX text read for one chip memory; its image could not be larger than 128 KiB
// in any sensible file.
constexpr std::size_t kHexFileLimit = 64u << 20;

// Reads the file by its kind: a binary file's first binLimit bytes, an Intel HEX file whole
// (at most kHexFileLimit) and parsed. A file of 0 bytes is no image of any memory; an Intel HEX
// file without its end record is read with a warning that it may be cut short.
ImageRead ReadImageFile(const std::string& fileName, std::size_t binLimit);

// Lays the file into memory: a binary file from address 0, an Intel HEX file at its addresses
// less hexOffset.
HexPlacement PlaceImageFile(const ImageFile& file, std::span<std::uint8_t> memory,
                            std::uint64_t hexOffset = 0);

// The ERROR for an Intel HEX file that gives no byte inside the memory it is loaded for.
extern const char* const kNoDataForMemory;

// The WARNING for bytes outside the memory: how many, and the first address.
std::string OutsideMemoryWarning(const HexPlacement& placed);

} // namespace vardel
