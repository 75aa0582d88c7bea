#pragma once

#include "hw/clock.h"
#include "hw/line_driver.h"

#include <array>
#include <cstdint>

namespace vardel {

// The AVR serial programming instruction layer. The target has no clock of its own while it is
// programmed: this class drives its XTAL input and meets every timing need of the serial interface
// by counting XTAL pulses, so it runs at the speed of the port whatever the PC. Real time is only
// spent sleeping for power-up, erase and write cycles, through the Clock.
class AvrSerial {
public:
    static constexpr int kPowerCycles = 3;
    static constexpr int kAttemptsPerPowerCycle = 31;
    static constexpr std::uint32_t kPowerOffMs = 500;
    static constexpr std::uint32_t kPowerUpMs = 300;
    static constexpr std::uint32_t kChipEraseMs = 100;

    AvrSerial(LineDriver& lines, Clock& clock) : lines_(lines), clock_(clock) {}

    // count + 1 pulses on XTAL (low, then high); none for a negative count. XTAL ends high.
    void ClockPulses(int count);
    // Sends one byte, most significant bit first, and returns the byte received meanwhile.
    std::uint8_t TransferByte(std::uint8_t value);
    // Each byte followed by ClockPulses(10); the four received bytes.
    std::array<std::uint8_t, 4> SendPacedInstruction(std::uint8_t b1, std::uint8_t b2,
                                                     std::uint8_t b3, std::uint8_t b4);
    // Powers the chip up and brings it into serial programming mode: at most three power cycles of
    // at most 31 attempts each. True when the chip echoed 0x53; it is then powered, held in reset
    // and clocked. On false the lines stay as the last attempt left them.
    bool ProgrammingEnable();

    // The instructions of the memory commands.
    std::array<std::uint8_t, 3> ReadSignature();
    // Chip Erase, then a sleep of waitMs (never less than kChipEraseMs) for the erase to end.
    void ChipErase(std::uint32_t waitMs = kChipEraseMs);
    std::uint8_t ReadFlashByte(std::uint32_t address);
    void LoadFlashByte(std::uint32_t address, std::uint8_t value);
    void WriteFlashPage(std::uint32_t address);
    std::uint8_t ReadEepromByte(std::uint32_t address);
    void WriteEepromByte(std::uint32_t address, std::uint8_t value);

    // All five AVR lines low: the chip loses its supply.
    void AllLinesLow() { lines_.SetAvrLines(0, 0, 0, 0, 0); }

    LineDriver& lines() { return lines_; }
    Clock& clock() { return clock_; }

    // A floor on each SCK phase in time, for a chip running on its own slow oscillator (128 kHz:
    // two of its clocks are 16 us), which the XTAL pulses do not clock. 0, the default: the phases
    // last their XTAL pulses only. The floor waits on the clock and writes nothing to the port.
    void setMinimumSckPhase(std::int64_t ns) { minSckPhaseNs_ = ns; }

private:
    // Waits until `ns` have passed since `start` on the clock.
    void holdPhase(std::int64_t start);
    // Four bytes with no XTAL pulses between them (memory access); the fourth received byte.
    std::uint8_t backToBack(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4);

    LineDriver& lines_;
    Clock& clock_;
    std::int64_t minSckPhaseNs_ = 0;
};

} // namespace vardel
