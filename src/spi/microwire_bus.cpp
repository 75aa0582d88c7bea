#include "spi/microwire_bus.h"

namespace vardel {

void MicrowireBus::Select()
{
    lines_.SetAvrSck(0);
    lines_.SetAvrReset(1);
    Pause();
}

void MicrowireBus::Deselect()
{
    lines_.SetAvrSck(0);
    lines_.SetAvrMosi(0);
    lines_.SetAvrReset(0);
    Pause();
}

void MicrowireBus::SendBits(std::uint32_t value, int count)
{
    for (int bit = count - 1; bit >= 0; --bit) {
        lines_.SetAvrMosi((value >> bit) & 1);
        Pause();
        lines_.SetAvrSck(1);
        Pause();
        lines_.SetAvrSck(0);
    }
    Pause();
}

std::uint32_t MicrowireBus::ReceiveBits(int count)
{
    std::uint32_t value = 0;
    lines_.SetAvrMosi(0);
    for (int i = 0; i < count; ++i) {
        lines_.SetAvrSck(1);
        Pause();
        // DO moved with the rising edge.
        value = (value << 1) | (lines_.ReadAvrMiso() ? 1u : 0u);
        lines_.SetAvrSck(0);
        Pause();
    }
    return value;
}

void MicrowireBus::instruction(unsigned opcode, std::uint32_t address)
{
    const std::uint32_t field = address & ((1u << addressBits_) - 1);
    SendBits((1u << (addressBits_ + 2)) | (opcode << addressBits_) | field, addressBits_ + 3);
}

void MicrowireBus::special(unsigned top)
{
    Select();
    instruction(0b00, top << (addressBits_ - 2));
    Deselect();
}

bool MicrowireBus::BeginRead(unsigned address)
{
    Select();
    // All but the last address bit, then a look at DO: a chip drives it only once it has its
    // whole address.
    const std::uint32_t field = address & ((1u << addressBits_) - 1);
    SendBits(((1u << (addressBits_ + 2)) | (0b10u << addressBits_) | field) >> 1, addressBits_ + 2);
    endedEarly_ = !lines_.ReadAvrMiso();
    SendBits(field & 1, 1);
    // The dummy 0 came with the last address bit; an empty socket's DO floats high.
    return !lines_.ReadAvrMiso();
}

void MicrowireBus::Write(unsigned address, std::uint32_t word)
{
    Select();
    instruction(0b01, address);
    SendBits(word, wordBits_);
    Deselect();
}

MicrowireBus::Cycle MicrowireBus::WaitReady(int maxMs)
{
    Clock& clock = timing_.clock();
    const std::int64_t deadline = clock.nanoseconds() + std::int64_t{maxMs} * 1'000'000;
    Select();
    Cycle cycle = Cycle::NeverBusy;
    if (!lines_.ReadAvrMiso()) {
        const bool ready = PollUntil(clock, deadline, [this] {
            Pause();
            return lines_.ReadAvrMiso();
        });
        cycle = ready ? Cycle::Done : Cycle::StaysBusy;
    }
    Deselect();
    return cycle;
}

} // namespace vardel
