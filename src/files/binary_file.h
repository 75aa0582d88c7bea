#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vardel {

// The last three characters of a file name (the whole name when it is shorter).
std::string FileTypeSuffix(const std::string& fileName);

// What the name's last three characters, upper-cased, make of a file: "BIN", "HEX", or neither.
enum class FileKind { Bin, Hex, Other };
FileKind FileKindOf(const std::string& fileName);
// The name ends in ELF: an AVR program as avr-gcc links it, read as an image (never written).
bool IsElfName(const std::string& fileName);

// Writes the bytes as the whole file, replacing it only once the new content is complete (a
// temporary file beside it, then a rename; see ReplaceFileContent). False when it cannot be
// created or written in full.
bool WriteBinaryFile(const std::string& fileName, const std::uint8_t* data, std::size_t size);

// The same for any content already built in memory: it becomes the whole file, or nothing changes.
bool ReplaceFileAtomically(const std::string& fileName, const std::string& content);

} // namespace vardel
