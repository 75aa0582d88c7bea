#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vardel {

// The pieces of the one-line outcome texts that both front ends show after a chip operation.

// An elapsed time for a person: "0.4 s" and "9.9 s" below ten seconds, whole seconds from there.
inline std::string DurationText(std::int64_t nanoseconds)
{
    const double seconds = static_cast<double>(nanoseconds < 0 ? 0 : nanoseconds) / 1e9;
    char text[32];
    if (seconds < 9.95)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    return text;
}

// An address as the hex grid and the chips' datasheets write it: "0x0F9B", "0x1A000".
inline std::string AddressText(std::uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(address));
    return text;
}

} // namespace vardel
