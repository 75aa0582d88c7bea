#pragma once

#include "hw/clock.h"
#include "hw/line_driver.h"
#include "parts/part_clock.h"

#include <array>
#include <cstdint>

namespace vardel {

class Settings;

// How fast the serial interface is clocked: each SCK phase, high or low, lasts `phasePulses` XTAL
// pulses and at least `phaseNs` on the clock; `settlePulses` keeps the XTAL pulses that follow
// paced bytes, page loads and an erase (a chip on its own oscillator needs none of them).
struct AvrPace {
    int phasePulses = 4;
    std::int64_t phaseNs = 0;
    bool settlePulses = true;
    // MISO is read at the end of the low phase rather than right after the falling edge (a chip
    // on a slow clock of its own takes some of its cycles to put the bit out).
    bool lateMiso = false;
    bool operator==(const AvrPace&) const = default;
};

// The AVR serial programming instruction layer. Every session starts at the safe pace: the XTAL
// pulses of a chip clocked through XTAL, and phases long enough for the slowest oscillator of its
// own; once the chip's clock is known (usePace) it runs as fast as that clock allows. Real time
// is otherwise only spent sleeping for power-up, erase and write cycles, through the Clock.
class AvrSerial {
public:
    static constexpr int kPowerCycles = 3;
    static constexpr int kAttemptsPerPowerCycle = 31;
    static constexpr std::uint32_t kPowerOffMs = 500;
    static constexpr std::uint32_t kPowerUpMs = 300;
    static constexpr std::uint32_t kChipEraseMs = 100;

    AvrSerial(LineDriver& lines, Clock& clock) : lines_(lines), clock_(clock) {}

    // count + 1 pulses on XTAL (low, then high); none for a negative count, or when the pace
    // leaves settling pulses out. XTAL ends high.
    void ClockPulses(int count);
    // Sends one byte, most significant bit first, and returns the byte received meanwhile.
    std::uint8_t TransferByte(std::uint8_t value);
    // Each byte followed by ClockPulses(10); the four received bytes.
    std::array<std::uint8_t, 4> SendPacedInstruction(std::uint8_t b1, std::uint8_t b2,
                                                     std::uint8_t b3, std::uint8_t b4);
    // Powers the chip up and brings it into serial programming mode at the safe pace: at most
    // three power cycles of at most 31 attempts each. True when the chip echoed 0x53; it is then
    // powered, held in reset and clocked. On false the lines stay as the last attempt left them.
    bool ProgrammingEnable();

    // The instructions every part shares (the memory instructions are each part's own:
    // AvrPartOps).
    std::array<std::uint8_t, 3> ReadSignature();
    // Chip Erase, then a sleep of waitMs (never less than kChipEraseMs) for the erase to end.
    void ChipErase(std::uint32_t waitMs = kChipEraseMs);

    // All five AVR lines low: the chip loses its supply.
    void AllLinesLow() { lines_.SetAvrLines(0, 0, 0, 0, 0); }

    LineDriver& lines() { return lines_; }
    Clock& clock() { return clock_; }

    // The user's floor on each SCK phase in time (for long cables), kept at every pace. The floor
    // waits on the clock and writes nothing to the port.
    void setMinimumSckPhase(std::int64_t ns) { minSckPhaseNs_ = ns; }
    // The safe pace for the whole session, whatever the chip's clock allows (long cables).
    void setSafePace(bool safe) { safePace_ = safe; }
    bool safePace() const { return safePace_; }

    // The pace at which a session starts: today's XTAL pulses, and phases that a chip on a
    // 32 kHz clock of its own sees.
    AvrPace startPace() const;
    // The pace for a chip on this clock: the datasheets' minimum phase (more than two of its CPU
    // clocks, three from 12 MHz) with a clock's margin, counted in XTAL pulses where XTAL is its
    // clock and in time where it is not; never faster than the start pace under setSafePace.
    AvrPace paceFor(const ChipClock& clock) const;
    void usePace(const AvrPace& pace) { pace_ = pace; }
    const AvrPace& pace() const { return pace_; }

private:
    // The clock when a phase begins, where the pace times its phases.
    std::int64_t phaseStart() const;
    // Waits until the phase begun at `start` has lasted its time.
    void holdPhase(std::int64_t start);
    void pulses(int count);

    LineDriver& lines_;
    Clock& clock_;
    std::int64_t minSckPhaseNs_ = 0;
    bool safePace_ = false;
    AvrPace pace_;
};

// The user's pace: a floor on each SCK phase ("SCK_MIN_US", microseconds) and the safe pace for
// boards with long cables ("AVR_SAFE_PACE", 1 or 0).
struct AvrPaceSettings {
    std::int64_t minSckPhaseNs = 0;
    bool safe = false;
    static AvrPaceSettings Read(const Settings& settings);
    void applyTo(AvrSerial& serial) const
    {
        serial.setMinimumSckPhase(minSckPhaseNs);
        serial.setSafePace(safe);
    }
};

} // namespace vardel
