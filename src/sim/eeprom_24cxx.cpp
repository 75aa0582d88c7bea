#include "sim/chips.h"

namespace vardel::sim {

std::unique_ptr<EepromSocketChip> MakeEepromChip(const std::string& type, std::string& error)
{
    error = "no simulated EEPROM of type " + type;
    return nullptr;
}

} // namespace vardel::sim
