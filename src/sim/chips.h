#pragma once

#include "sim/sockets.h"

#include <memory>
#include <string>

namespace vardel::sim {

// A new 24Cxx chip of the given type ("24C04" ... "24C512", any case), memory all 0xFF.
std::unique_ptr<EepromSocketChip> MakeEepromChip(const std::string& type, std::string& error);

// A new AVR chip: a catalogue device by name ("ATmega128", any case), or, with an empty name, a
// chip that answers the given signature ("1E9502").
std::unique_ptr<AvrSocketChip> MakeAvrChip(const std::string& device, const std::string& signature,
                                           std::string& error);

} // namespace vardel::sim
