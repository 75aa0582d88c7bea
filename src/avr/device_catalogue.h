#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vardel {

// The memory-size class of an identified chip: sizes and the way its flash is written.
struct DeviceClassInfo {
    std::uint32_t flashBytes;
    std::uint32_t eepromBytes;
    // 0: flash written byte by byte with data polling; otherwise the page size in bytes.
    std::uint32_t pageBytes;
    // The fixed wait after each page write.
    std::uint32_t pageWaitMs;
};

inline constexpr int kDeviceClasses = 6;
const DeviceClassInfo& ClassInfo(int deviceClass);

// The slowest times of a part, from its part data and datasheet, in microseconds. Chips differ
// from one to the next and with supply and temperature; a fixed wait shorter than these loses the
// writes of a slow chip without a word.
struct PartTiming {
    std::uint32_t flashWriteUs;  // a byte, or a page on the page-written parts
    std::uint32_t eepromWriteUs; // a byte
    std::uint32_t chipEraseUs;
    std::uint32_t fuseWriteUs; // a fuse or lock byte
};

// What the fuse group GroupBox4 does when the chip is identified.
enum class FuseGroup { Hidden, Shown, Unchanged };

// One chip of the catalogue, with the editor pages that identification selects for it.
struct DeviceEntry {
    std::array<std::uint8_t, 3> signature;
    const char* label; // the processor-type text, also the key of the lock and fuse commands
    int deviceClass;
    const char* notebook1;  // "ATmega128" or "AT90Sxxxx"
    const char* notebook2;  // fuse page of the ATmega editors, or null
    const char* notebook3;  // lock page of the ATmega editors, or null
    const char* notebook4;  // fuse page of the AT90S editors, or null
    const char* checkBox35; // caption of the one-bit fuse box, or null
    FuseGroup fuseGroup;
    bool readLockBits;
    // The EEPROM answers 0x00 to a read of a byte it is still writing, so a 0x00 written there
    // cannot be told done by polling.
    bool eepromPollsZero;
    PartTiming slowest;
};

// In the order the signature is tested.
std::span<const DeviceEntry> DeviceCatalogue();

// The catalogue entry with this signature, or null.
const DeviceEntry* FindDevice(const std::array<std::uint8_t, 3>& signature);
// The catalogue entry with this processor-type text, or null.
const DeviceEntry* FindDeviceByLabel(const std::string& label);

// The slowest time of each kind over the whole catalogue: what a chip not identified may take.
PartTiming SlowestOfCatalogue();
// The timing of a part, or the catalogue's slowest when the part is not known.
PartTiming TimingOf(const DeviceEntry* entry);
// A wait in whole milliseconds: at least `usualMs`, and never shorter than `slowestUs`.
std::uint32_t WaitCovering(std::uint32_t usualMs, std::uint32_t slowestUs);

// "1E 97 02".
std::string SignatureText(const std::array<std::uint8_t, 3>& signature);
// What a lock or fuse command says when the socket holds another chip than the page shows
// (`found`: the catalogue's name for the chip in the socket, or null), before it writes nothing.
std::string WrongChipText(const std::array<std::uint8_t, 3>& signature, const char* found,
                          const std::string& shown);

} // namespace vardel
