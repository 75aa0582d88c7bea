#pragma once

#include "files/binary_file.h"
#include "files/file_access.h"
#include "files/unHEX.h"

#include <array>
#include <cstdint>
#include <optional>
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
    UnknownKind, // the name ends in neither BIN, HEX nor ELF
    Unreadable,  // see the read failure
    Malformed,   // an Intel HEX fault, "line N: ..." in detail
    Empty,       // 0 bytes, what a failed build or download leaves: the detail names the file
};

struct ImageRead {
    ImageFile file;
    // CRC-32 of the bytes read (a binary file's up to its limit).
    std::uint32_t crc = 0;
    ImageFailure failure = ImageFailure::None;
    ReadFailure readFailure = ReadFailure::None;
    std::string detail;
    // A doubt about a file that was read: empty, or the WARNING to show before it is used.
    std::string warning;
    bool ok() const { return failure == ImageFailure::None; }
};

// The largest Intel HEX text read for one chip memory: a 32 MiB flash's image, 16 bytes a record,
// is about 95 MiB of text.
constexpr std::size_t kHexFileLimit = 128u << 20;

// Reads the file by its kind: a binary file's first binLimit bytes, an Intel HEX file whole
// (at most kHexFileLimit) and parsed. A file of 0 bytes is no image of any memory; an Intel HEX
// file without its end record is read with a warning that it may be cut short.
ImageRead ReadImageFile(const std::string& fileName, std::size_t binLimit);

// Lays the file into memory: a binary file from address 0, an Intel HEX file at its addresses
// less hexOffset.
HexPlacement PlaceImageFile(const ImageFile& file, std::span<std::uint8_t> memory,
                            std::uint64_t hexOffset = 0);

// The ERROR for a file of 0 bytes, and the WARNING for an Intel HEX file without its end record.
std::string EmptyFileError(const std::string& fileName);
std::string CutShortWarning(const std::string& fileName);

// The ERROR for an Intel HEX file that gives no byte inside the memory it is loaded for.
extern const char* const kNoDataForMemory;

// The WARNING for bytes outside the memory: how many, and the first address.
std::string OutsideMemoryWarning(const HexPlacement& placed);

// The memories of an AVR as avr-gcc links a whole program and its HEX output keeps them: each
// region from its base up to the next one's.
enum class AvrMemory { Flash, Eeprom, Fuses, Lock, Signature, UserSignature };
struct AvrHexRegion {
    AvrMemory memory;
    std::uint64_t base;
    const char* name; // "flash", "EEPROM", ...
};
// In address order; the last region ends at kAvrHexEnd.
std::span<const AvrHexRegion> AvrHexRegions();
constexpr std::uint64_t kAvrHexEnd = 0x860000;
// The base of the internal EEPROM's region (.eeprom).
constexpr std::uint64_t kAvrEepromHexBase = 0x810000;

// What an image file gave one AVR memory.
struct AvrPlacement {
    HexPlacement placed; // the memory's own bytes, addresses counted from its base
    // Bytes of the file that belong to other memories (by region, in address order) or to none,
    // left out.
    struct Other {
        const char* name; // null: no memory's region
        std::uint64_t bytes;
    };
    std::vector<Other> others;
};

// Lays the part of an image file that belongs to `memory` into it. An Intel HEX file with bytes at
// kAvrEepromHexBase or above is a whole program: only the memory's own region is laid, less its
// base, and the bytes of the other regions are counted apart. Any other file is the memory alone
// from address 0 (a file the read of that memory wrote).
AvrPlacement PlaceAvrImage(const ImageFile& file, AvrMemory memory, std::span<std::uint8_t> buffer);

// The WARNING for the other memories' bytes a whole-program file holds: "File holds 2048 bytes of
// flash besides the EEPROM: they are left out", one line each; empty when there are none.
std::string OtherMemoriesWarning(const AvrPlacement& placement, AvrMemory memory);

// The fuse and lock bytes of a whole-program HEX: the fuse bytes from the fuses' region base in
// the order low, high, extended, the lock byte at the lock bits' base. Each is there only when a
// record gives it; `stray` counts the other bytes of those two regions. The signature of the part
// the image was built for (avr-libc's .signature: its three bytes from the last), when the image
// gives all three.
struct AvrImageBits {
    std::array<std::optional<std::uint8_t>, 3> fuses;
    std::optional<std::uint8_t> lock;
    std::optional<std::array<std::uint8_t, 3>> signature;
    std::uint64_t stray = 0;
    bool any() const { return fuses[0] || fuses[1] || fuses[2] || lock; }
};
AvrImageBits ReadAvrImageBits(const HexImage& image);
// The base of a memory's region.
std::uint64_t AvrHexBase(AvrMemory memory);

} // namespace vardel
