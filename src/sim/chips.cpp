#include "sim/chips.h"

namespace vardel::sim {

std::unique_ptr<EepromSocketChip> MakeEepromChip(const std::string& type, std::string& error)
{
    error = "no simulated EEPROM of type " + type;
    return nullptr;
}

std::unique_ptr<AvrSocketChip> MakeAvrChip(const std::string& device, const std::string& signature,
                                           std::string& error)
{
    error = "no simulated AVR chip " + (device.empty() ? signature : device);
    return nullptr;
}

} // namespace vardel::sim
