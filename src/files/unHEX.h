#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// The data of an Intel HEX file at its full load addresses (extended segment (02) and extended
// linear (04) address records applied; under a segment base a record wraps within its 64 KiB
// segment): runs of consecutive bytes, in file order, each run's bytes at
// bytes[offset .. offset + size). Records that continue one another share a run.
struct HexImage {
    struct Run {
        std::uint64_t address;
        std::size_t offset;
        std::size_t size;
    };
    std::vector<Run> runs;
    std::vector<std::uint8_t> bytes;
    bool endRecord = false; // the file ended with its end record, not just stopped

    bool empty() const { return runs.empty(); }
    std::uint64_t lowest() const; // the lowest address a record fills (0 when empty)
    std::uint64_t end() const;    // one past the highest address a record fills (0 when empty)
};

struct HexParse {
    HexImage image;
    // Empty, or the first fault as "line N: what is wrong"; nothing of the file is kept then.
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads Intel HEX text. Every record up to the end record (01) is checked as the format defines
// it: the start code ':', hex digits in either case, a byte count that matches the line, the
// checksum, a known record type (00-05) with the length its type requires. Lines may end in
// CR LF, LF or CR; blank lines and blanks after a record are allowed; the end record may be
// missing, and whatever follows it is not read; DOS end-of-file bytes (1A) and NUL padding after
// the last record are ignored. Two records that give one address different bytes are refused,
// naming both lines; the same bytes twice are taken. Start address records (03, 05) carry nothing
// to load. The image takes at most half the text's size.
HexParse ParseIntelHex(std::span<const std::uint8_t> text);

// Where an image's bytes fell when it was laid into a memory.
struct HexPlacement {
    std::uint64_t inside = 0;       // bytes stored
    std::uint64_t outside = 0;      // bytes left out, lying outside the memory
    std::uint64_t firstOutside = 0; // the lowest such address, counted as the memory counts
};

// Stores the image's bytes at address - offset in memory, those that fall inside it; addresses
// below offset count as outside. Bytes that no record names keep what the memory held.
HexPlacement PlaceHexImage(const HexImage& image, std::uint64_t offset,
                           std::span<std::uint8_t> memory);

// The text of buffer[0 .. size-1] as data records of 16 bytes (the last one shorter) and the end
// record, lines ended by CR LF. Below 64 KiB the text holds data records only; an extended linear
// address record precedes the first record at or above each 64 KiB boundary.
std::string FormatIntelHex(const std::uint8_t* buffer, std::size_t size);

// FormatIntelHex written as the whole file, replaced only once the new content is complete.
// False when it cannot be created or written.
bool WriteIntelHexFile(const std::string& fileName, const std::uint8_t* buffer, std::size_t size);

} // namespace vardel
