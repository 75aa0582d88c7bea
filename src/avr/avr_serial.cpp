#include "avr/avr_serial.h"

#include "hw/clock.h"
#include "hw/settings.h"

#include <algorithm>

namespace vardel {

namespace {

// The phase that more than `cycles` periods of a clock of `hz` need, with one period to spare.
std::int64_t PhaseNs(std::uint32_t hz, int cycles)
{
    const std::int64_t periods = cycles + 1;
    return (periods * 1'000'000'000 + hz - 1) / hz;
}

} // namespace

AvrPace AvrSerial::startPace() const
{
    return AvrPace{4, PhaseNs(kSlowestClockHz, 2), true, true};
}

AvrPace AvrSerial::paceFor(const ChipClock& clock) const
{
    AvrPace pace = startPace();
    if (clock.source == ChipClock::Source::Xtal) {
        // Each CPU clock is `divider` XTAL periods; a phase needs more than two of them.
        pace = AvrPace{3 * clock.divider, 0, true, false};
    } else if (clock.source == ChipClock::Source::Own && clock.hz > 0) {
        pace = AvrPace{0, PhaseNs(clock.hz, clock.hz >= 12'000'000 ? 3 : 2), false, true};
    }
    if (safePace_) {
        pace.phasePulses = std::max(pace.phasePulses, startPace().phasePulses);
        pace.settlePulses = true;
    }
    return pace;
}

void AvrSerial::pulses(int count)
{
    for (int i = 0; i < count; ++i) {
        lines_.SetAvrXtal(0);
        lines_.SetAvrXtal(1);
    }
}

void AvrSerial::ClockPulses(int count)
{
    if (pace_.settlePulses)
        pulses(count + 1);
}

std::uint8_t AvrSerial::TransferByte(std::uint8_t value)
{
    std::uint8_t received = 0;
    std::int64_t low = phaseStart();
    for (int bit = 7; bit >= 0; --bit) {
        // The chip put this bit on MISO at the falling edge that ended the previous bit.
        if (!pace_.lateMiso && lines_.ReadAvrMiso())
            received |= static_cast<std::uint8_t>(1u << bit);
        lines_.SetAvrMosi((value >> bit) & 1);
        // The chip sees SCK only through its own clock: each phase lasts the pace's XTAL pulses
        // (where XTAL clocks it) and its time.
        pulses(pace_.phasePulses);
        holdPhase(low);
        if (pace_.lateMiso && lines_.ReadAvrMiso())
            received |= static_cast<std::uint8_t>(1u << bit);
        const std::int64_t high = phaseStart();
        lines_.SetAvrSck(1);
        pulses(pace_.phasePulses);
        holdPhase(high);
        low = phaseStart();
        lines_.SetAvrSck(0);
    }
    return received;
}

std::int64_t AvrSerial::phaseStart() const
{
    // Untimed phases (XTAL pulses only) read no clock on the port's hot path.
    return pace_.phaseNs || minSckPhaseNs_ ? clock_.nanoseconds() : 0;
}

void AvrSerial::holdPhase(std::int64_t start)
{
    // The counter read keeps a virtual clock moving; on the real clock it is the busy-wait of the
    // bit delay.
    const std::int64_t ns = std::max(pace_.phaseNs, minSckPhaseNs_);
    while (ns && clock_.nanoseconds() - start < ns)
        clock_.QueryPerformanceCounter();
}

std::array<std::uint8_t, 4> AvrSerial::SendPacedInstruction(std::uint8_t b1, std::uint8_t b2,
                                                            std::uint8_t b3, std::uint8_t b4)
{
    std::array<std::uint8_t, 4> received{};
    const std::array<std::uint8_t, 4> sent{b1, b2, b3, b4};
    for (int i = 0; i < 4; ++i) {
        received[i] = TransferByte(sent[i]);
        ClockPulses(10);
    }
    return received;
}

bool AvrSerial::ProgrammingEnable()
{
    // Until its fuses are read, nothing tells how the chip is clocked.
    pace_ = startPace();
    for (int cycle = 0; cycle < kPowerCycles; ++cycle) {
        AllLinesLow();
        clock_.Sleep(kPowerOffMs);
        // Supply on with RESET low: the chip comes up straight into the programming state.
        lines_.SetAvrLines(1, 0, 0, 0, 0);
        ClockPulses(1000);
        clock_.Sleep(kPowerUpMs);
        for (int attempt = 0; attempt < kAttemptsPerPowerCycle; ++attempt) {
            TransferByte(0xAC);
            ClockPulses(10);
            TransferByte(0x53);
            ClockPulses(10);
            const bool inSync = TransferByte(0x00) == 0x53;
            ClockPulses(10);
            // The instruction is always completed, so the chip's frame ends where ours does.
            TransferByte(0x00);
            ClockPulses(10);
            if (inSync)
                return true;
            // One extra SCK pulse shifts the chip's bit frame by one against ours.
            std::int64_t phase = phaseStart();
            lines_.SetAvrSck(1);
            ClockPulses(10);
            holdPhase(phase);
            phase = phaseStart();
            lines_.SetAvrSck(0);
            ClockPulses(10);
            holdPhase(phase);
        }
    }
    return false;
}

std::array<std::uint8_t, 3> AvrSerial::ReadSignature()
{
    std::array<std::uint8_t, 3> signature{};
    for (std::uint8_t index = 0; index < 3; ++index)
        signature[index] = SendPacedInstruction(0x30, 0x00, index, 0x00)[3];
    return signature;
}

void AvrSerial::ChipErase(std::uint32_t waitMs)
{
    SendPacedInstruction(0xAC, 0x80, 0x00, 0x00);
    ClockPulses(1000);
    clock_.Sleep(std::max(waitMs, kChipEraseMs));
}

AvrPaceSettings AvrPaceSettings::Read(const Settings& settings)
{
    AvrPaceSettings pace;
    pace.minSckPhaseNs =
        std::int64_t{1000} * std::clamp(settings.ReadInteger("SCK_MIN_US", 0), 0, 100'000);
    pace.safe = settings.ReadInteger("AVR_SAFE_PACE", 0) != 0;
    return pace;
}

} // namespace vardel
