#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vardel {

// The bus a type is programmed through. I2C types sit in the EEPROM socket; SPI (25xx) and
// Microwire (93Cxx) types sit in the AVR socket and use its lines: RESET as the chip select, SCK
// as the clock, MOSI as the chip's data in and MISO as its data out. SPI NOR flashes (SpiFlash)
// sit there too, on the same lines.
enum class EepromBus { I2C, Spi, Microwire, SpiFlash };

// One entry of the EEPROM page's type list.
struct EepromType {
    const char* name;  // "24C04"
    const char* entry; // the list's text, "24C04 - 0.5kb"
    int size;          // ChipSize in bytes
    // The word address: one byte up to the 24C16, two (high first) from the 24C32 on. Memory
    // address bits above the word address travel in the control byte: a10..a8 of the 24C04, 24C08
    // and 24C16 in its block-select bits, a16 of the 24C1024 as P0. A 25xx takes one to three
    // address bytes; the 25040's a8 travels in bit 3 of its READ and WRITE instructions.
    int addressBytes;
    // Bytes per page write, never more than the part's own page: 8 for the 24C01/02, 16 for the
    // 24C04/08/16, 32 (which fits every larger type's page) up to the 24C512, 256 for the 24C1024.
    // A 25xx takes the smallest page any maker's part has. A 93Cxx writes one word at a time.
    int pageSize;
    EepromBus bus = EepromBus::I2C;
    // Microwire: the bits of an instruction's address field (don't-care bits included) and the
    // bits of a word, 8 with ORG low, 16 with ORG high.
    int addressBits = 0;
    int wordBits = 0;
    // A second name the same part is sold under ("25M01" for the 25LC1024).
    const char* alias = nullptr;
};

// As the type list shows them: the 24Cxx, then the 25xx, then the 93Cxx, each in size order.
inline constexpr std::array<EepromType, 32> kEepromTypes{{
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
    {"25010", "25010 - 128 b", 128, 1, 8, EepromBus::Spi},
    {"25020", "25020 - 256 b", 256, 1, 8, EepromBus::Spi},
    {"25040", "25040 - 0.5kb", 512, 1, 8, EepromBus::Spi},
    {"25080", "25080 - 1 kb", 1024, 2, 16, EepromBus::Spi},
    {"25160", "25160 - 2 kb", 2048, 2, 16, EepromBus::Spi},
    {"25320", "25320 - 4 kb", 4096, 2, 32, EepromBus::Spi},
    {"25640", "25640 - 8 kb", 8192, 2, 32, EepromBus::Spi},
    {"25128", "25128 -16 kb", 16384, 2, 64, EepromBus::Spi},
    {"25256", "25256 - 32 kb", 32768, 2, 64, EepromBus::Spi},
    {"25512", "25512 - 64 kb", 65536, 2, 128, EepromBus::Spi},
    {"25LC1024", "25LC1024/25M01 - 128 kb", 131072, 3, 256, EepromBus::Spi, 0, 0, "25M01"},
    {"93C46x8", "93C46 x8 - 128 b", 128, 0, 1, EepromBus::Microwire, 7, 8},
    {"93C46x16", "93C46 x16 - 128 b", 128, 0, 2, EepromBus::Microwire, 6, 16},
    {"93C56x8", "93C56 x8 - 256 b", 256, 0, 1, EepromBus::Microwire, 9, 8},
    {"93C56x16", "93C56 x16 - 256 b", 256, 0, 2, EepromBus::Microwire, 8, 16},
    {"93C66x8", "93C66 x8 - 0.5kb", 512, 0, 1, EepromBus::Microwire, 9, 8},
    {"93C66x16", "93C66 x16 - 0.5kb", 512, 0, 2, EepromBus::Microwire, 8, 16},
    {"93C76x8", "93C76 x8 - 1 kb", 1024, 0, 1, EepromBus::Microwire, 11, 8},
    {"93C76x16", "93C76 x16 - 1 kb", 1024, 0, 2, EepromBus::Microwire, 10, 16},
    {"93C86x8", "93C86 x8 - 2 kb", 2048, 0, 1, EepromBus::Microwire, 11, 8},
    {"93C86x16", "93C86 x16 - 2 kb", 2048, 0, 2, EepromBus::Microwire, 10, 16},
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

// The index of a type by its name or alias ("24c256" or "24C256", "25m01"), or -1.
int FindEepromType(std::string_view name);

// The whole type list of the EEPROM page: the EEPROM types above (their indexes the same), then
// "SPI flash (auto-detect)" (size 0: the chip's own, once identified), then each part of
// SpiFlashParts() with its size.
std::span<const EepromType> EepromList();
inline constexpr int kFlashAutoDetect = static_cast<int>(kEepromTypes.size());
// The list index of an SPI flash entry by its part name ("w25q64"), or "auto" for the
// auto-detect entry; -1 for any other name.
int FindFlashEntry(std::string_view name);
// "W25X40, W25Q16, ..." for messages.
std::string FlashPartNames();

// "24C01, 24C02, ..., 93C86x16" for messages.
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
// The address has four hex digits, five from 0x10000 on (the upper half of a 24C1024), six from
// 0x100000 on (the flashes).
inline constexpr int kGridColumns = 17;
// Text of one grid cell. Characters are Latin-1 code points written as UTF-8; codes below 32 and
// 128..159 show the middle dot.
std::string GridCellText(const std::uint8_t* image, int row, int column);

} // namespace vardel
