#include "hw/hardware_check.h"

#include "hw/bit_timing.h"
#include "hw/host.h"
#include "hw/line_driver.h"
#include "hw/port_failure.h"

namespace vardel {

namespace {
// SDA reaches the port inverted on BUSY, status bit 7.
bool SdaHigh(std::uint8_t status)
{
    return (status & 0x80) == 0;
}

void Settle(BitTiming* settle)
{
    if (settle)
        settle->BitDelay();
}
} // namespace

bool CheckBoard(LineDriver& lines, Host& host, BoardCheckReadings* readings, BitTiming* settle)
{
    BoardCheckReadings local;
    BoardCheckReadings& read = readings ? *readings : local;
    try {
        lines.SetI2CLines(1, 1, 1);
        Settle(settle);
        read.afterHigh = lines.ReadStatus();
        if (!SdaHigh(*read.afterHigh)) {
            lines.SetI2CLines(0, 0, 0);
            host.MessageBox("Corvid don't respond correct!!!", "ERROR", Host::Kind::Error);
            return false;
        }
        lines.SetI2CLines(1, 1, 0);
        Settle(settle);
        read.afterLow = lines.ReadStatus();
        if (SdaHigh(*read.afterLow)) {
            lines.SetI2CLines(0, 0, 0);
            host.MessageBox("Corvid DON'T respond correct!!!", "ERROR", Host::Kind::Error);
            return false;
        }
        lines.SetI2CLines(1, 1, 1);
        host.MessageBox("Corvid respond correct!!!", "OK", Host::Kind::Success);
        lines.SetI2CLines(0, 0, 0);
        return true;
    } catch (const PortError& error) {
        read.portFailed = true;
        EndOnPortFailure(error, lines, host);
        return false;
    }
}

BoardDiagnosis DiagnoseBoard(std::uint8_t afterHigh, std::uint8_t afterLow)
{
    const bool high = SdaHigh(afterHigh);
    const bool low = !SdaHigh(afterLow);
    if (high && low)
        return BoardDiagnosis::Followed;
    // Nothing driving the inputs: a port's own pull-ups give BUSY, ACK, PE, SELECT and ERROR high
    // (0x78 with BUSY inverted), an address where no port answers reads 0xFF.
    if (afterHigh == afterLow && (afterHigh == 0xFF || (afterHigh & 0xF8) == 0x78))
        return BoardDiagnosis::NeverChanged;
    if (high && !low)
        return BoardDiagnosis::StuckHigh;
    if (!high && low)
        return BoardDiagnosis::StuckLow;
    return BoardDiagnosis::Inverted;
}

std::string BoardDiagnosisText(BoardDiagnosis diagnosis)
{
    switch (diagnosis) {
    case BoardDiagnosis::Followed:
        return "SDA followed: it read high when written high and low when written low.";
    case BoardDiagnosis::NeverChanged:
        return "The input never changed and every status input reads idle: no board on this "
               "port, the wrong port, or the wrong base address.";
    case BoardDiagnosis::StuckHigh:
        return "SDA is stuck high: it read high when written low (the board's SDA path is open).";
    case BoardDiagnosis::StuckLow:
        return "SDA is stuck low: it read low when written high (something holds the line low, "
               "or the board has no supply).";
    case BoardDiagnosis::Inverted:
        return "SDA read the opposite of what was written: not this board's wiring.";
    }
    return {};
}

std::uint8_t ReadStatusWithSda(LineDriver& lines, bool sda, BitTiming* settle)
{
    lines.SetI2CLines(1, 1, sda ? 1 : 0);
    Settle(settle);
    const std::uint8_t status = lines.ReadStatus();
    lines.SetI2CLines(0, 0, 0);
    return status;
}

} // namespace vardel
