#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vardel {

class BitTiming;
class Host;
class LineDriver;

// The status register as the board check read it: after SDA was written high, and after it was
// written low (missing when the check did not get that far).
struct BoardCheckReadings {
    std::optional<std::uint8_t> afterHigh;
    std::optional<std::uint8_t> afterLow;
    bool portFailed = false; // the port's error ended the check; it has been shown
};

// The board presence check on the EEPROM wiring ("Check hardware", Checkearcorvid1Click): SDA must
// read back high, then low, with the chip power on. True when the board passed. A port failure ends
// it with the port's error. With `settle`, one bit delay lets the lines settle after each change
// before the status is read (a freshly powered chip and a slow SDA edge), which the port's writes
// do not change.
bool CheckBoard(LineDriver& lines, Host& host, BoardCheckReadings* readings = nullptr,
                BitTiming* settle = nullptr);

// What the two readings say about the board.
enum class BoardDiagnosis {
    Followed,     // SDA read back high, then low: the board answers
    NeverChanged, // the same byte twice, every input at its idle level: no board there
    StuckHigh,    // SDA read high both times
    StuckLow,     // SDA read low both times
    Inverted,     // SDA read the opposite of what was written
};
BoardDiagnosis DiagnoseBoard(std::uint8_t afterHigh, std::uint8_t afterLow);
std::string BoardDiagnosisText(BoardDiagnosis diagnosis);

// One reading of the check taken on its own: chip power and SCL on, SDA written `sda`, the status
// register read, every line low again.
std::uint8_t ReadStatusWithSda(LineDriver& lines, bool sda, BitTiming* settle = nullptr);

} // namespace vardel
