#pragma once

#include "parts/avr_parts.h"

#include <cstdint>
#include <span>

namespace vardel {

// What clocks a chip while it is programmed, as its fuses (latched at power-up) choose it.
struct ChipClock {
    enum class Source {
        // The board's XTAL line: an external clock or the chip's crystal oscillator, driven
        // through XTAL1. Each CPU clock is `divider` XTAL periods.
        Xtal,
        // The chip's own oscillator (calibrated RC, 128 kHz, PLL) at `hz`, the divider applied.
        Own,
        // A setting whose clock the data cannot tell (an external RC network, a low-frequency
        // crystal, a reserved value, a part without clock facts): it may need XTAL pulses and
        // may run as slowly as kSlowestClockHz.
        Unknown,
    };
    Source source = Source::Unknown;
    std::uint32_t hz = 0;
    int divider = 1;
    bool operator==(const ChipClock&) const = default;
};

// The slowest clock a chip may run from while it is programmed: the 128 kHz oscillator divided by
// eight (a 32.768 kHz watch crystal is twice as fast).
inline constexpr std::uint32_t kSlowestClockHz = 16000;

// Whether the part's clock depends on its fuse bytes (clock select bits, or the AT90S2343's
// RCEN).
bool ClockDependsOnFuses(const AvrPart& part);
// The clock that `fuses` (the part's fuse bytes in its order, a programmed bit 0) select.
ChipClock ClockOf(const AvrPart& part, std::span<const std::uint8_t> fuses);

} // namespace vardel
