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
    // The word address: one byte up to the 24C16, two (high first) from the 24C32 on. Memory
    // address bits above the word address travel in the control byte: a10..a8 of the 24C04, 24C08
    // and 24C16 in its block-select bits, a16 of the 24C1024 as P0.
    int addressBytes;
    // Bytes per page write, never more than the part's own page: 8 for the 24C01/02, 16 for the
    // 24C04/08/16, 32 (which fits every larger type's page) up to the 24C512, 256 for the 24C1024.
    int pageSize;
};

// In size order, as the type list shows them.
inline constexpr std::array<EepromType, 11> kEepromTypes{{
    {"24C01", "24C01 - 128 b", 128, 1, 8},
    {"24C02", "24C02 - 256 b", 256, 1, 8},
    {"24C04", "24C04 - 0.5kb", 512, 1, 16},
    {"24C08", "24C08 - 1 kb", 1024, 1, 16},
    {"24C16", "24C16 - 2 kb", 2048, 1, 16},
    {"24C32", "24C32 - 4 kb", 4096, 2, 32},
    {"24C64", "24C64 - 8 kb", 8192, 2, 32},
    {"24C128", "24C128 -16 kb", 16384, 2, 32},
    {"24C256", "24C256 - 32 kb", 32768, 2, 32},
    {"24C512", "24C512 - 64 kb", 65536, 2, 32},
    {"24C1024", "24C1024 - 128 kb", 131072, 2, 256},
}};

// The index of the type whose list text is `entry`, or -1.
constexpr int FindEepromEntry(std::string_view entry)
{
    for (std::size_t i = 0; i < kEepromTypes.size(); ++i)
        if (entry == kEepromTypes[i].entry)
            return static_cast<int>(i);
    return -1;
}

// The type selected when the program starts.
inline constexpr int kInitialEepromType = FindEepromEntry("24C128 -16 kb");
static_assert(kInitialEepromType >= 0);

// The index of a type by its name ("24c256" or "24C256"), or -1.
int FindEepromType(std::string_view name);

// "24C01, 24C02, ..., 24C1024" for messages.
std::string EepromTypeNames();

// The control byte that addresses a memory address: 1010 and three select bits, read adds 1. The
// address bits above the word address go into the select bits from bit 1 up (block bits a10..a8,
// or P0 = a16); for the other types they are zero, matching A2..A0 tied low on the board.
inline std::uint8_t ControlByte(const EepromType& type, unsigned address, bool read)
{
    const unsigned high = (address >> (8 * type.addressBytes)) & 0x07;
    return static_cast<std::uint8_t>(0xA0 | (high << 1) | (read ? 1 : 0));
}

// The hex grid: 17 columns (address, 8 bytes in hex, 8 bytes as characters), one row per 8 bytes.
// The address has four hex digits, five from 0x10000 on (the upper half of a 24C1024).
inline constexpr int kGridColumns = 17;
// Text of one grid cell. Characters are Latin-1 code points written as UTF-8; codes below 32 and
// 128..159 show the middle dot.
std::string GridCellText(const std::uint8_t* image, int row, int column);

} // namespace vardel
