#pragma once

#include "files/unHEX.h"

#include <cstdint>
#include <span>

namespace vardel {

// Reads an AVR program as avr-gcc links it: the bytes of every loadable segment at its load
// address, which is where avr-objcopy's Intel HEX puts them (flash from 0, the initial values of
// .data after the code, EEPROM from 0x810000, fuses, lock bits and signature above). The file
// must be an AVR executable with its segments inside it; anything else is refused with a reason
// in `error` ("an object file, not a linked program", ...). The same address given two different
// bytes is refused as well.
HexParse ParseElfImage(std::span<const std::uint8_t> file);

} // namespace vardel
