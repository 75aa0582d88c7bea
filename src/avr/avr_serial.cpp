#include "avr/avr_serial.h"

#include "hw/clock.h"

#include <algorithm>

namespace vardel {

void AvrSerial::ClockPulses(int count)
{
    for (int i = 0; i <= count; ++i) {
        lines_.SetAvrXtal(0);
        lines_.SetAvrXtal(1);
    }
}

std::uint8_t AvrSerial::TransferByte(std::uint8_t value)
{
    std::uint8_t received = 0;
    for (int bit = 7; bit >= 0; --bit) {
        // The chip put this bit on MISO at the falling edge that ended the previous bit.
        if (lines_.ReadAvrMiso())
            received |= static_cast<std::uint8_t>(1u << bit);
        lines_.SetAvrMosi((value >> bit) & 1);
        // The chip sees SCK only through its XTAL clock: four periods in each phase.
        std::int64_t phase = minSckPhaseNs_ ? clock_.nanoseconds() : 0;
        ClockPulses(3);
        holdPhase(phase);
        lines_.SetAvrSck(1);
        phase = minSckPhaseNs_ ? clock_.nanoseconds() : 0;
        ClockPulses(3);
        holdPhase(phase);
        lines_.SetAvrSck(0);
    }
    return received;
}

void AvrSerial::holdPhase(std::int64_t start)
{
    // The counter read keeps a virtual clock moving; on the real clock it is the busy-wait of the
    // bit delay.
    while (minSckPhaseNs_ && clock_.nanoseconds() - start < minSckPhaseNs_)
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

std::uint8_t AvrSerial::backToBack(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3,
                                   std::uint8_t b4)
{
    TransferByte(b1);
    TransferByte(b2);
    TransferByte(b3);
    return TransferByte(b4);
}

bool AvrSerial::ProgrammingEnable()
{
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
            lines_.SetAvrSck(1);
            ClockPulses(10);
            lines_.SetAvrSck(0);
            ClockPulses(10);
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

std::uint8_t AvrSerial::ReadFlashByte(std::uint32_t address)
{
    const std::uint32_t word = address >> 1;
    return backToBack((address & 1) ? 0x28 : 0x20, static_cast<std::uint8_t>(word >> 8),
                      static_cast<std::uint8_t>(word), 0x00);
}

void AvrSerial::LoadFlashByte(std::uint32_t address, std::uint8_t value)
{
    const std::uint32_t word = address >> 1;
    backToBack((address & 1) ? 0x48 : 0x40, static_cast<std::uint8_t>(word >> 8),
               static_cast<std::uint8_t>(word), value);
    ClockPulses(100);
}

void AvrSerial::WriteFlashPage(std::uint32_t address)
{
    const std::uint32_t word = address >> 1;
    backToBack(0x4C, static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word), 0x00);
    ClockPulses(100);
}

std::uint8_t AvrSerial::ReadEepromByte(std::uint32_t address)
{
    return backToBack(0xA0, static_cast<std::uint8_t>(address >> 8),
                      static_cast<std::uint8_t>(address), 0x00);
}

void AvrSerial::WriteEepromByte(std::uint32_t address, std::uint8_t value)
{
    backToBack(0xC0, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
               value);
    ClockPulses(100);
}

} // namespace vardel
