#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardel {

// One entry of the EEPROM page's type list.
struct EepromType {
    const char* name;  // "24C04"
    const char* entry; // the list's text, "24C04 - 0.5kb"
    int size;          // ChipSize in bytes
    // The 24C04, 24C08 and 24C16 take one word-address byte and carry address bits 8..10 in the
    // block-select bits of the control byte; the larger types take two address bytes.
    int addressBytes;
    // Bytes per page write: the small types have 16-byte pages; 32 fits every larger type's page.
    int pageSize;
};

inline constexpr std::array<EepromType, 8> kEepromTypes{{
    {"24C04", "24C04 - 0.5kb", 512, 1, 16},
    {"24C08", "24C08 - 1 kb", 1024, 1, 16},
    {"24C16", "24C16 - 2 kb", 2048, 1, 16},
    {"24C32", "24C32 - 4 kb", 4096, 2, 32},
    {"24C64", "24C64 - 8 kb", 8192, 2, 32},
    {"24C128", "24C128 -16 kb", 16384, 2, 32},
    {"24C256", "24C256 - 32 kb", 32768, 2, 32},
    {"24C512", "24C512 - 64 kb", 65536, 2, 32},
}};

// The type selected when the program starts: "24C128 -16 kb".
inline constexpr int kInitialEepromType = 5;

// The index of a type by its name ("24c256" or "24C256"), or -1.
int FindEepromType(std::string_view name);

// The control byte that addresses a memory address: 0xA0 for the two-byte types, with the block
// bits a10..a8 in bits 3..1 for the others; read adds 1.
inline std::uint8_t ControlByte(const EepromType& type, unsigned address, bool read)
{
    std::uint8_t control = 0xA0;
    if (type.addressBytes == 1)
        control = static_cast<std::uint8_t>(control | (((address >> 8) & 0x07) << 1));
    return static_cast<std::uint8_t>(control | (read ? 1 : 0));
}

// The hex grid: 17 columns (address, 8 bytes in hex, 8 bytes as characters), one row per 8 bytes.
inline constexpr int kGridColumns = 17;
// Text of one grid cell. Characters are Latin-1 code points written as UTF-8; codes below 32 and
// 128..159 show the middle dot.
std::string GridCellText(const std::uint8_t* image, int row, int column);

} // namespace vardel
