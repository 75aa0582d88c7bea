#include "hw/hardware_check.h"

#include "hw/host.h"
#include "hw/line_driver.h"

namespace vardel {

bool Checkearcorvid1Click(LineDriver& lines, Host& host)
{
    lines.SetI2CLines(1, 1, 1);
    if (!lines.ReadI2CSda()) {
        lines.SetI2CLines(0, 0, 0);
        host.MessageBox("Corvid don't respond correct!!!", "ERROR");
        return false;
    }
    lines.SetI2CLines(1, 1, 0);
    if (lines.ReadI2CSda()) {
        lines.SetI2CLines(0, 0, 0);
        host.MessageBox("Corvid DON'T respond correct!!!", "ERROR");
        return false;
    }
    lines.SetI2CLines(1, 1, 1);
    host.MessageBox("Corvid respond correct!!!", "OK");
    lines.SetI2CLines(0, 0, 0);
    return true;
}

} // namespace vardel
