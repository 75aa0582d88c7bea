// The simulated board's board.ini, from memory: whatever it holds, the keys parse and the chips
// they name are made or refused with a reason, never a crash.
#include "sim/board_folder.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using vardel::sim::BoardFolder;
    const vardel::sim::ChipKeys keys =
        BoardFolder::parseKeys(std::string_view(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<vardel::sim::EepromSocketChip> eeprom;
    std::unique_ptr<vardel::sim::AvrSocketChip> avr;
    std::string error;
    if (!BoardFolder::chipsFromKeys(keys, eeprom, avr, error) && error.empty())
        __builtin_trap();
    // A chip that was made describes itself in keys that make the same chip again.
    vardel::sim::ChipKeys described;
    if (eeprom)
        eeprom->describe(described);
    if (avr)
        avr->describe(described);
    std::unique_ptr<vardel::sim::EepromSocketChip> eeprom2;
    std::unique_ptr<vardel::sim::AvrSocketChip> avr2;
    if (!BoardFolder::chipsFromKeys(described, eeprom2, avr2, error) || !eeprom != !eeprom2 ||
        !avr != !avr2)
        __builtin_trap();
    return 0;
}
