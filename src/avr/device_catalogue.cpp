#include "avr/device_catalogue.h"

#include <algorithm>
#include <cstdio>

namespace vardel {

namespace {

constexpr std::array<DeviceClassInfo, kDeviceClasses> kClasses{{
    {8192, 512, 0, 0},
    {4096, 256, 0, 0},
    {131072, 4096, 256, 6},
    {2048, 128, 0, 0},
    {16384, 512, 128, 18},
    {1024, 64, 0, 0},
}};

constexpr const char* kAt90s = "AT90Sxxxx";
constexpr const char* kMega = "ATmega128";

// Kept as a table: one chip a line, in the order the signature is tested. The last column is the
// part's slowest flash write (byte or page), EEPROM byte write, chip erase and fuse or lock write
// in microseconds, from the toolchain's part descriptions and the datasheets; the AT90S2323 is not
// in the part descriptions and takes the times of its AT90S2343 sibling.
// clang-format off
constexpr std::array<DeviceEntry, 12> kCatalogue{{
    {{0x1E, 0x93, 0x01}, "AT90S8515 (8kb flash)", 0, kAt90s, nullptr, nullptr, kAt90s, nullptr,
     FuseGroup::Hidden, false, false, {9000, 9000, 20000, 9000}},
    {{0x1E, 0x93, 0x03}, "AT90S8535 (8kb flash)", 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT",
     FuseGroup::Shown, true, true, {20000, 20000, 20000, 9000}},
    {{0x1E, 0x92, 0x01}, "AT90S4414 (4kb flash)", 1, kAt90s, nullptr, nullptr, kAt90s, nullptr,
     FuseGroup::Hidden, false, false, {20000, 20000, 20000, 9000}},
    {{0x1E, 0x92, 0x02}, "AT90S4434 (4kb flash)", 1, kAt90s, nullptr, nullptr, kAt90s, "FSTRT",
     FuseGroup::Shown, true, true, {20000, 20000, 20000, 20000}},
    {{0x1E, 0x97, 0x02}, "ATmega128 (128kb flash)", 2, kMega, "128", "LB128", nullptr, nullptr,
     FuseGroup::Unchanged, true, false, {4500, 9000, 9000, 9000}},
    {{0x1E, 0x97, 0x01}, "ATmega103 (128kb flash)", 2, kMega, "103", "LB103", nullptr, nullptr,
     FuseGroup::Unchanged, true, false, {56000, 9000, 112000, 9000}},
    {{0x1E, 0x91, 0x01}, "AT90S2313 (2kb flash)", 3, kAt90s, nullptr, nullptr, kAt90s, nullptr,
     FuseGroup::Hidden, false, false, {9000, 9000, 20000, 9000}},
    {{0x1E, 0x91, 0x02}, "AT90S2323 (2kb flash)", 3, kAt90s, nullptr, nullptr, kAt90s, "FSTRT",
     FuseGroup::Shown, true, true, {20000, 20000, 18000, 20000}},
    {{0x1E, 0x91, 0x03}, "AT90S2343 (2kb flash)", 3, kAt90s, nullptr, nullptr, kAt90s, "RCEN",
     FuseGroup::Shown, true, true, {20000, 20000, 18000, 20000}},
    {{0x1E, 0x94, 0x01}, "ATmega161 (16kb flash)", 4, kMega, "161", "LB128", nullptr, nullptr,
     FuseGroup::Unchanged, true, false, {14000, 3400, 28000, 2000}},
    {{0x1E, 0x94, 0x02}, "ATmega163 (16kb flash)", 4, kMega, "163", "LB128", nullptr, nullptr,
     FuseGroup::Unchanged, true, false, {16000, 4000, 32000, 2000}},
    {{0x1E, 0x90, 0x05}, "ATtiny12 (1kb flash)", 5, kAt90s, nullptr, nullptr, "ATtiny", nullptr,
     FuseGroup::Unchanged, true, false, {20000, 20000, 20000, 9000}},
}};
// clang-format on

} // namespace

const DeviceClassInfo& ClassInfo(int deviceClass)
{
    if (deviceClass < 0 || deviceClass >= kDeviceClasses)
        deviceClass = 0;
    return kClasses[static_cast<std::size_t>(deviceClass)];
}

const DeviceEntry* FindDeviceByLabel(const std::string& label)
{
    for (const DeviceEntry& entry : kCatalogue)
        if (label == entry.label)
            return &entry;
    return nullptr;
}

PartTiming SlowestOfCatalogue()
{
    PartTiming out{0, 0, 0, 0};
    for (const DeviceEntry& entry : kCatalogue) {
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
    return kCatalogue;
}

const DeviceEntry* FindDevice(const std::array<std::uint8_t, 3>& signature)
{
    for (const DeviceEntry& entry : kCatalogue)
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
