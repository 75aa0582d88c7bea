#include "avr/device_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace vardel {

namespace {

const std::vector<DeviceEntry>& Catalogue()
{
    static const std::vector<DeviceEntry> catalogue = [] {
        std::vector<DeviceEntry> out;
        for (const CataloguePart& row : CatalogueParts()) {
            const AvrPart& part = PartOf(row);
            const bool pollsZero = part.eepromReadback[0] == 0x00 || part.eepromReadback[1] == 0x00;
            const AvrPart::WriteTimes slowest = part.slowest();
            out.push_back({row.shown,
                           &part,
                           part.signature,
                           pollsZero,
                           {slowest.flashUs, slowest.eepromUs, slowest.chipEraseUs,
                            std::max(slowest.fuseUs, slowest.lockUs)}});
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

std::string WrongChipText(const std::array<std::uint8_t, 3>& signature, const std::string& found,
                          const std::string& shown)
{
    return "The chip in the socket (signature " + SignatureText(signature) +
           (found.empty() ? std::string() : ", " + found) + ") is not the " + shown +
           " this page shows.\rPress \"Identify microprocessor\" first and check the bits "
           "again.\rNothing was written.";
}

} // namespace vardel
