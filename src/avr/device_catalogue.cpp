#include "avr/device_catalogue.h"

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

// Kept as a table: one chip a line, in the order the signature is tested.
// clang-format off
constexpr std::array<DeviceEntry, 12> kCatalogue{{
    {{0x1E, 0x93, 0x01}, "AT90S8515 (8kb flash)", 0, kAt90s, nullptr, nullptr, kAt90s, nullptr,
     FuseGroup::Hidden, false, false},
    {{0x1E, 0x93, 0x03}, "AT90S8535 (8kb flash)", 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT",
     FuseGroup::Shown, true, true},
    {{0x1E, 0x92, 0x01}, "AT90S4414 (4kb flash)", 1, kAt90s, nullptr, nullptr, kAt90s, nullptr,
     FuseGroup::Hidden, false, false},
    {{0x1E, 0x92, 0x02}, "AT90S4434 (4kb flash)", 1, kAt90s, nullptr, nullptr, kAt90s, "FSTRT",
     FuseGroup::Shown, true, true},
    {{0x1E, 0x97, 0x02}, "ATmega128 (128kb flash)", 2, kMega, "128", "LB128", nullptr, nullptr,
     FuseGroup::Unchanged, true, false},
    {{0x1E, 0x97, 0x01}, "ATmega103 (128kb flash)", 2, kMega, "103", "LB103", nullptr, nullptr,
     FuseGroup::Unchanged, true, false},
    {{0x1E, 0x91, 0x01}, "AT90S2313 (2kb flash)", 3, kAt90s, nullptr, nullptr, kAt90s, nullptr,
     FuseGroup::Hidden, false, false},
    {{0x1E, 0x91, 0x02}, "AT90S2323 (2kb flash)", 3, kAt90s, nullptr, nullptr, kAt90s, "FSTRT",
     FuseGroup::Shown, true, true},
    {{0x1E, 0x91, 0x03}, "AT90S2343 (2kb flash)", 3, kAt90s, nullptr, nullptr, kAt90s, "RCEN",
     FuseGroup::Shown, true, true},
    {{0x1E, 0x94, 0x01}, "ATmega161 (16kb flash)", 4, kMega, "161", "LB128", nullptr, nullptr,
     FuseGroup::Unchanged, true, false},
    {{0x1E, 0x94, 0x02}, "ATmega163 (16kb flash)", 4, kMega, "163", "LB128", nullptr, nullptr,
     FuseGroup::Unchanged, true, false},
    {{0x1E, 0x90, 0x05}, "ATtiny12 (1kb flash)", 5, kAt90s, nullptr, nullptr, "ATtiny", nullptr,
     FuseGroup::Unchanged, true, false},
}};
// clang-format on

} // namespace

const DeviceClassInfo& ClassInfo(int deviceClass)
{
    if (deviceClass < 0 || deviceClass >= kDeviceClasses)
        deviceClass = 0;
    return kClasses[static_cast<std::size_t>(deviceClass)];
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

} // namespace vardel
