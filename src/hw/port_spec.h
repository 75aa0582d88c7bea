#pragma once

#include "hw/kernel.h"
#include "hw/port_list.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// --port's text split at its first colon: "ppdev:/dev/parport1" is "ppdev" and "/dev/parport1".
struct PortSpec {
    std::string kind;
    std::string argument;
};
PortSpec SplitPortSpec(const std::string& text);

// The number of direct:ADDRESS (decimal, 0x hex or 0 octal); nothing when the text is not a
// number up to 0xFFFF.
std::optional<std::uint16_t> ParsePortAddress(const std::string& text);

// The base addresses direct access may use: those the kernel lists for its ports (a base of 0, a
// USB adapter's, left out), or 0x378, 0x278 and 0x3BC when it lists none. Any other address
// belongs to another device of the machine (0x64 the keyboard controller, 0x70 the clock).
std::vector<std::uint16_t> DirectAddresses(Kernel& kernel = SystemKernel(),
                                           const std::string& procRoot = kParportProc);

// gpio:CHIP[:MAP] split into the chip and the map; without MAP in the text, `storedMap` (the
// settings' "GPIO_MAP").
struct GpioSpec {
    std::string chip;
    std::string map;
};
GpioSpec SplitGpioSpec(const std::string& argument, const std::string& storedMap);

// The check of --port's text that needs no port (the kind itself is checked with the other board
// options): empty when the text may name a port here, otherwise what is wrong with it, for a
// usage error: a direct: address of another device, a GPIO map that is not one, or none at all
// (`storedGpioMap` is the settings' map; without `requireGpioMap` a missing one is left to the
// caller, which adds the settings' map later).
std::string PortSpecUsageError(const std::string& text, Kernel& kernel = SystemKernel(),
                               const std::string& procRoot = kParportProc,
                               const std::string& storedGpioMap = {}, bool requireGpioMap = true);

} // namespace vardel
