#include "sim/chips.h"

namespace vardel::sim {

std::unique_ptr<AvrSocketChip> MakeAvrChip(const std::string& device, const std::string& signature,
                                           std::string& error)
{
    error = "no simulated AVR chip " + (device.empty() ? signature : device);
    return nullptr;
}

} // namespace vardel::sim
