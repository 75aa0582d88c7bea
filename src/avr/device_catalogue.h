#pragma once

#include "parts/catalogue_parts.h"
#include "parts/serial_bits.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vardel {

// One chip of the catalogue, with the editor pages that identification selects for it. Its facts
// (signature, sizes, write times) are its part's; the rest is how this program shows and
// programs it.
struct DeviceEntry : CatalogueShown {
    const AvrPart* part;
    std::array<std::uint8_t, 3> signature;
    // The EEPROM answers 0x00 to a read of a byte it is still writing, so a 0x00 written there
    // cannot be told done by polling.
    bool eepromPollsZero;
    PartTiming slowest;
    std::uint32_t flashBytes() const { return part->flashBytes; }
    std::uint32_t eepromBytes() const { return part->eepromBytes; }
    // 0: flash written byte by byte with data polling; otherwise the page size in bytes.
    std::uint32_t pageBytes() const { return part->flashPageBytes; }
};

// In the order the signature is tested.
std::span<const DeviceEntry> DeviceCatalogue();

// The catalogue entry with this signature, or null.
const DeviceEntry* FindDevice(const std::array<std::uint8_t, 3>& signature);
// The catalogue entry with this processor-type text, or null.
const DeviceEntry* FindDeviceByLabel(const std::string& label);

// The slowest time of each kind over the whole catalogue: what a chip not identified may take.
PartTiming SlowestOfCatalogue();

// "1E 97 02".
std::string SignatureText(const std::array<std::uint8_t, 3>& signature);
// What a lock or fuse command says when the socket holds another chip than the page shows
// (`found`: the name of the chip in the socket, or "" for none known), before it writes nothing.
std::string WrongChipText(const std::array<std::uint8_t, 3>& signature, const std::string& found,
                          const std::string& shown);

} // namespace vardel
