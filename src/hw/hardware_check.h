#pragma once

namespace vardel {

class Host;
class LineDriver;

// The board presence check on the EEPROM wiring: SDA must read back high, then low, with the chip
// power on. True when the board passed.
bool Checkearcorvid1Click(LineDriver& lines, Host& host);

} // namespace vardel
