#include "spi/spi_bus.h"

namespace vardel {

void SpiBus::Select()
{
    lines_.SetAvrSck(0);
    lines_.SetAvrReset(0);
    Pause();
}

void SpiBus::Deselect()
{
    lines_.SetAvrSck(0);
    lines_.SetAvrReset(1);
    // /CS stays high for a bit delay between instructions, far longer than any part's minimum.
    Pause();
}

std::uint8_t SpiBus::SpiTransfer(std::uint8_t out)
{
    std::uint8_t in = 0;
    for (int bit = 7; bit >= 0; --bit) {
        lines_.SetAvrMosi((out >> bit) & 1);
        Pause();
        // SO moved on the previous falling edge; the master takes it with the rising one.
        if (lines_.ReadAvrMiso())
            in = static_cast<std::uint8_t>(in | (1u << bit));
        lines_.SetAvrSck(1);
        Pause();
        lines_.SetAvrSck(0);
    }
    lines_.SetAvrMosi(0);
    return in;
}

std::uint8_t SpiBus::ReadStatus()
{
    Select();
    SpiTransfer(kReadStatus);
    const std::uint8_t status = SpiTransfer(0);
    Deselect();
    return status;
}

void SpiBus::WriteEnable()
{
    Select();
    SpiTransfer(kWriteEnable);
    Deselect();
}

void SpiBus::WriteStatus(std::uint8_t value)
{
    WriteEnable();
    Select();
    SpiTransfer(kWriteStatus);
    SpiTransfer(value);
    Deselect();
}

void SpiBus::BeginTransfer(std::uint8_t instruction, unsigned address)
{
    // The one-address-byte parts take a8 in bit 3 of the instruction (the 25040's upper half).
    if (addressBytes_ == 1 && chipSize_ > 256)
        instruction = static_cast<std::uint8_t>(instruction | (((address >> 8) & 1) << 3));
    Select();
    SpiTransfer(instruction);
    for (int i = addressBytes_ - 1; i >= 0; --i)
        SpiTransfer(static_cast<std::uint8_t>(address >> (8 * i)));
}

std::optional<std::uint8_t> SpiBus::WaitWhileBusy(int maxMs, bool afterWrite)
{
    Clock& clock = timing_.clock();
    const std::int64_t deadline = clock.nanoseconds() + std::int64_t{maxMs} * 1'000'000;
    std::uint8_t status = 0;
    const auto empty = [&] {
        return !afterWrite && status == kNoChipStatus;
    };
    const bool ended = PollUntil(clock, deadline, [&] {
        status = ReadStatus();
        return !(status & kWriteInProgress) || empty();
    });
    if (!ended || empty())
        return std::nullopt;
    return status;
}

std::optional<int> SpiBus::ProtectedFrom(std::uint8_t status, int chipSize)
{
    switch ((status & kBlockProtect) >> 2) {
    case 1:
        return chipSize - chipSize / 4;
    case 2:
        return chipSize / 2;
    case 3:
        return 0;
    default:
        return std::nullopt;
    }
}

} // namespace vardel
