#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardel {

// The value 0..15 of one hexadecimal digit, either case; any other character reads as 0.
int HexDigitValue(char c);
// The value 0..255 of the first two characters read as a hexadecimal number (missing ones read
// as 0).
int HexByteValue(std::string_view text);

// Loads the records of an Intel HEX file into the buffer at their addresses, honouring extended
// linear (04) and extended segment (02) address records. A record whose full load address is
// above addressLimit is skipped whole; no byte is ever stored at or past capacity. Bytes that no
// record names keep what the buffer held. The checksum is not verified; reading stops at the end
// record. False only when the file cannot be opened for reading.
bool ReadIntelHexFile(const std::string& fileName, long addressLimit, std::uint8_t* buffer,
                      std::size_t capacity);

// One past the highest address a data record of the file fills (0 for a file without data), or
// -1 when the file cannot be opened.
long long IntelHexExtent(const std::string& fileName);

// Writes buffer[0 .. size-1] as data records of 16 bytes (the last one shorter) and the end record,
// lines ended by CR LF. Below 64 KiB the file holds data records only; an extended linear address
// record precedes the first record at or above each 64 KiB boundary. The file is replaced only
// once the new content is complete. False when it cannot be created or written.
bool WriteIntelHexFile(const std::string& fileName, const std::uint8_t* buffer, std::size_t size);

} // namespace vardel
