#pragma once

#include "hw/host.h"
#include "hw/port_io.h"
#include "hw/settings.h"

namespace vardel {

// Said once, before the first SPI flash command on a parallel-port board (the setting
// `kFlashVoltageKey` remembers it was said).
inline constexpr const char* kFlashVoltageWarning =
    "Most SPI flash chips are 3.3 V parts (some 1.8 V) and are damaged above about 4 V, while a "
    "parallel port may drive its lines, and the board's supply, at 5 V. Power the chip from a "
    "3.3 V regulator with a level shifter on its lines, or use the GPIO header.";
inline constexpr const char* kFlashVoltageKey = "FLASH_VOLTAGE_WARNED";

// Shows the warning as a WARNING when `port` has a parallel port's levels and the settings do
// not yet say it was shown, then remembers it there. True when it was shown now.
bool WarnFlashVoltageOnce(const PortIo& port, Settings& settings, Host& host);

} // namespace vardel
