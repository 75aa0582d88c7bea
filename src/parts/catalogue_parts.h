#pragma once

#include "parts/avr_parts.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vardel {

// Write and erase times of a part in microseconds: a byte, or a page on the page-written parts;
// an EEPROM byte; a chip erase; a lock or fuse byte.
struct PartTiming {
    std::uint32_t flashWriteUs;
    std::uint32_t eepromWriteUs;
    std::uint32_t chipEraseUs;
    std::uint32_t fuseWriteUs;
};

// What the part data says of the twelve parts of the first catalogue beyond their rows of the
// part table: both ends of each write time (the slowest from the part descriptions and the
// datasheets; chips differ from one to the next and with supply and temperature), and their lock
// and fuse bytes as the chip keeps them, in the order of their serial reads.
struct CataloguePart {
    const char* name;
    PartTiming fastest;
    PartTiming slowest;
    int fuseCount;
    // The fuse bytes as the part leaves the factory, bits it lacks as 1.
    std::array<std::uint8_t, 3> fuseFactory;
};

// The twelve, in name order.
std::span<const CataloguePart> CatalogueParts();
// The catalogue part of this name (exactly as listed), or null.
const CataloguePart* FindCataloguePart(std::string_view name);
// Its row of the part table.
const AvrPart& PartOf(const CataloguePart& part);

// The part table's rows written by the generator, in name order.
std::span<const AvrPart> GeneratedAvrParts();

} // namespace vardel
