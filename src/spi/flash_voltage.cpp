#include "spi/flash_voltage.h"

namespace vardel {

bool WarnFlashVoltageOnce(const PortIo& port, Settings& settings, Host& host)
{
    if (!port.parallelPortLevels() || settings.ReadString(kFlashVoltageKey, "") == "1")
        return false;
    host.MessageBox(kFlashVoltageWarning, "WARNING:", Host::Kind::Warning);
    settings.WriteString(kFlashVoltageKey, "1");
    settings.Sync();
    return true;
}

} // namespace vardel
