#pragma once

#include "hw/bit_bang_bus.h"

#include <cstdint>

namespace vardel {

// The program as the master of a 93Cxx Microwire EEPROM in the AVR socket: RESET is the chip's CS
// (active high), SCK its SK, MOSI its DI and MISO its DO. The chip takes DI on the rising edge of
// SK and moves DO on it; every instruction is a start bit, a two-bit opcode and an address field.
class MicrowireBus final : public BitBangBus {
public:
    // addressBits: the width of the address field (don't-care bits included); wordBits: 8 with
    // ORG low, 16 with ORG high.
    MicrowireBus(LineDriver& lines, BitTiming& timing, int addressBits, int wordBits)
        : BitBangBus(lines, timing), addressBits_(addressBits), wordBits_(wordBits)
    {
    }

    // Supply on, CS, SK, DI and XTAL low, in one write.
    void MicrowireIdle() { lines_.SetAvrLines(1, 0, 0, 0, 0); }
    // CS rises with SK low.
    void Select();
    // CS low ends an instruction (and starts a write cycle); it stays low for a bit delay, far
    // longer than the 250 ns the parts ask for between instructions.
    void Deselect();
    void SendBits(std::uint32_t value, int count);
    std::uint32_t ReceiveBits(int count);

    // READ at `address`, CS left high: true when the chip answered with its dummy 0 bit, after
    // which ReadWord gives word after word.
    bool BeginRead(unsigned address);
    // The last BeginRead saw DO low before its last address bit: the chip took one address bit
    // fewer than this organisation sends, as a chip wired for 16-bit words does when it is read
    // as bytes. Its words then come one bit early.
    bool endedAddressEarly() const { return endedEarly_; }
    std::uint32_t ReadWord() { return ReceiveBits(wordBits_); }
    void WriteEnable() { special(0b11); }
    void WriteDisable() { special(0b00); }
    void EraseAll() { special(0b10); }
    // WRITE of one word; the write cycle starts as CS goes low.
    void Write(unsigned address, std::uint32_t word);
    // How a write or erase ended.
    enum class Cycle { Done, NeverBusy, StaysBusy };
    // After a write or erase: with CS high again, DO reads 0 while the chip is busy and 1 once it
    // is ready. Polls for at most `maxMs`. A write cycle lasts milliseconds and the first look
    // comes a bit delay after CS fell, so a chip ready at once started none (NeverBusy): it took
    // the instruction as another one, or did not take it.
    Cycle WaitReady(int maxMs);

    int wordBits() const { return wordBits_; }

private:
    // Start bit, opcode and address field in one run of bits.
    void instruction(unsigned opcode, std::uint32_t address);
    // The opcode-00 instructions, told apart by the two top bits of the address field.
    void special(unsigned top);

    int addressBits_;
    int wordBits_;
    bool endedEarly_ = false;
};

} // namespace vardel
