#pragma once

#include "sim/serial_eeproms.h"
#include "sim/sockets.h"

#include <memory>
#include <string>

namespace vardel::sim {

class SimBoard;

// A new 24Cxx chip of the given type ("24C04" ... "24C512", any case), memory all 0xFF.
std::unique_ptr<EepromSocketChip> MakeEepromChip(const std::string& type, std::string& error);

// A new serial EEPROM of any family, memory all 0xFF: a 24Cxx for the EEPROM socket, or a 25xx or
// 93Cxx for the AVR socket, whose lines it uses. Neither, and a message naming every type, when
// the board has no such type.
struct SerialEeprom {
    std::unique_ptr<EepromSocketChip> eepromSocket;
    std::unique_ptr<AvrSocketEeprom> avrSocket;
    explicit operator bool() const { return eepromSocket || avrSocket; }
    // The chip's memory, whichever socket it is for.
    std::vector<std::uint8_t>& memory();
};
SerialEeprom MakeSerialEeprom(const std::string& type, std::string& error);
// Puts the chip in its socket as the only serial EEPROM on the board: whatever EEPROM was there
// goes, and a 25xx or 93Cxx takes the AVR socket from any AVR.
void InsertSerialEeprom(SimBoard& board, SerialEeprom chip);

// A new AVR chip: a catalogue device by name ("ATmega128", any case), or, with an empty name, a
// chip that answers the given signature ("1E9502").
std::unique_ptr<AvrSocketChip> MakeAvrChip(const std::string& device, const std::string& signature,
                                           std::string& error);

} // namespace vardel::sim
