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

// An amount of bytes for a person: "512 B", "48 KiB", "1.2 MiB", "8 MiB".
inline std::string BytesText(std::uint64_t bytes)
{
    char text[32];
    const auto scaled = [&](double value, const char* unit) {
        if (value < 9.95 && value != static_cast<double>(static_cast<std::uint64_t>(value)))
            std::snprintf(text, sizeof text, "%.1f %s", value, unit);
        else
            std::snprintf(text, sizeof text, "%.0f %s", value, unit);
    };
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%u B", static_cast<unsigned>(bytes));
    else if (bytes < 1024 * 1024)
        scaled(static_cast<double>(bytes) / 1024, "KiB");
    else
        scaled(static_cast<double>(bytes) / (1024 * 1024), "MiB");
    return text;
}

// A speed: "45 KiB/s"; empty before any time has passed.
inline std::string SpeedText(std::uint64_t bytes, std::int64_t nanoseconds)
{
    if (nanoseconds <= 0)
        return {};
    return BytesText(static_cast<std::uint64_t>(static_cast<double>(bytes) * 1e9 /
                                                static_cast<double>(nanoseconds))) +
           "/s";
}

} // namespace vardel
