#include "avr/device_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace vardel {

namespace {

constexpr const char* kAt90s = "AT90Sxxxx";
constexpr const char* kMega = "ATmega128";

// How this program shows and programs each chip of the catalogue, one a line, in the order the
// signature is tested: its part, the processor-type text, the device class, the fixed wait after
// a page write, the editor pages, the caption of the one-bit fuse box, the fuse group and whether
// the lock bits can be read.
struct Row {
    const char* part;
    const char* label;
    int deviceClass;
    std::uint32_t pageWaitMs;
    const char* notebook1;
    const char* notebook2;
    const char* notebook3;
    const char* notebook4;
    const char* checkBox35;
    FuseGroup fuseGroup;
    bool readLockBits;
};

// clang-format off
constexpr Row kRows[] = {
    {"AT90S8515", "AT90S8515 (8kb flash)", 0, 0, kAt90s, nullptr, nullptr, kAt90s, nullptr, FuseGroup::Hidden, false},
    {"AT90S8535", "AT90S8535 (8kb flash)", 0, 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT", FuseGroup::Shown, true},
    {"AT90S4414", "AT90S4414 (4kb flash)", 1, 0, kAt90s, nullptr, nullptr, kAt90s, nullptr, FuseGroup::Hidden, false},
    {"AT90S4434", "AT90S4434 (4kb flash)", 1, 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT", FuseGroup::Shown, true},
    {"ATmega128", "ATmega128 (128kb flash)", 2, 6, kMega, "128", "LB128", nullptr, nullptr, FuseGroup::Unchanged, true},
    {"ATmega103", "ATmega103 (128kb flash)", 2, 6, kMega, "103", "LB103", nullptr, nullptr, FuseGroup::Unchanged, true},
    {"AT90S2313", "AT90S2313 (2kb flash)", 3, 0, kAt90s, nullptr, nullptr, kAt90s, nullptr, FuseGroup::Hidden, false},
    {"AT90S2323", "AT90S2323 (2kb flash)", 3, 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT", FuseGroup::Shown, true},
    {"AT90S2343", "AT90S2343 (2kb flash)", 3, 0, kAt90s, nullptr, nullptr, kAt90s, "RCEN", FuseGroup::Shown, true},
    {"ATmega161", "ATmega161 (16kb flash)", 4, 18, kMega, "161", "LB128", nullptr, nullptr, FuseGroup::Unchanged, true},
    {"ATmega163", "ATmega163 (16kb flash)", 4, 18, kMega, "163", "LB128", nullptr, nullptr, FuseGroup::Unchanged, true},
    {"ATtiny12", "ATtiny12 (1kb flash)", 5, 0, kAt90s, nullptr, nullptr, "ATtiny", nullptr, FuseGroup::Unchanged, true},
};
// clang-format on

const std::vector<DeviceEntry>& Catalogue()
{
    static const std::vector<DeviceEntry> catalogue = [] {
        std::vector<DeviceEntry> out;
        for (const Row& row : kRows) {
            const CataloguePart* facts = FindCataloguePart(row.part);
            const AvrPart& part = PartOf(*facts);
            const bool pollsZero = part.eepromReadback[0] == 0x00 || part.eepromReadback[1] == 0x00;
            out.push_back({&part, part.signature, row.label, row.deviceClass, row.pageWaitMs,
                           row.notebook1, row.notebook2, row.notebook3, row.notebook4,
                           row.checkBox35, row.fuseGroup, row.readLockBits, pollsZero,
                           facts->slowest});
        }
        return out;
    }();
    return catalogue;
}

} // namespace

const DeviceEntry* FindDeviceByLabel(const std::string& label)
{
    for (const DeviceEntry& entry : Catalogue())
        if (label == entry.label)
            return &entry;
    return nullptr;
}

PartTiming SlowestOfCatalogue()
{
    PartTiming out{0, 0, 0, 0};
    for (const DeviceEntry& entry : Catalogue()) {
        out.flashWriteUs = std::max(out.flashWriteUs, entry.slowest.flashWriteUs);
        out.eepromWriteUs = std::max(out.eepromWriteUs, entry.slowest.eepromWriteUs);
        out.chipEraseUs = std::max(out.chipEraseUs, entry.slowest.chipEraseUs);
        out.fuseWriteUs = std::max(out.fuseWriteUs, entry.slowest.fuseWriteUs);
    }
    return out;
}

PartTiming TimingOf(const DeviceEntry* entry)
{
    return entry ? entry->slowest : SlowestOfCatalogue();
}

std::uint32_t WaitCovering(std::uint32_t usualMs, std::uint32_t slowestUs)
{
    return std::max(usualMs, (slowestUs + 999) / 1000);
}

std::span<const DeviceEntry> DeviceCatalogue()
{
    return Catalogue();
}

const DeviceEntry* FindDevice(const std::array<std::uint8_t, 3>& signature)
{
    for (const DeviceEntry& entry : Catalogue())
        if (entry.signature == signature)
            return &entry;
    return nullptr;
}

std::string SignatureText(const std::array<std::uint8_t, 3>& signature)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", signature[0], signature[1], signature[2]);
    return text;
}

std::string WrongChipText(const std::array<std::uint8_t, 3>& signature, const char* found,
                          const std::string& shown)
{
    return "The chip in the socket (signature " + SignatureText(signature) +
           (found ? std::string(", ") + found : std::string()) + ") is not the " + shown +
           " this page shows.\rPress \"Identify microprocessor\" first and check the bits "
           "again.\rNothing was written.";
}

} // namespace vardel
