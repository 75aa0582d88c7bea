#pragma once

#include "hw/bit_bang_bus.h"

#include <cstdint>
#include <optional>

namespace vardel {

// The program as the master of a 25xx SPI EEPROM in the AVR socket: RESET is the chip's /CS,
// SCK its clock, MOSI its SI and MISO its SO. SPI mode 0: the chip takes SI on the rising edge of
// SCK and moves SO on the falling one; every step is one line change and a bit delay.
class SpiBus final : public BitBangBus {
public:
    static constexpr std::uint8_t kWrite = 0x02;
    static constexpr std::uint8_t kRead = 0x03;
    static constexpr std::uint8_t kWriteDisable = 0x04;
    static constexpr std::uint8_t kReadStatus = 0x05;
    static constexpr std::uint8_t kWriteEnable = 0x06;
    static constexpr std::uint8_t kWriteStatus = 0x01;
    // Status register bits.
    static constexpr std::uint8_t kWriteInProgress = 0x01;
    static constexpr std::uint8_t kWriteEnableLatch = 0x02;
    static constexpr std::uint8_t kBlockProtect = 0x0C;
    // WPEN (SRWD on ST's parts) from the 25080 on; no maker's 25010 to 25040 has it.
    static constexpr std::uint8_t kWriteProtectEnable = 0x80;
    // An SO line that nobody drives: the board pulls it up. The bits above BP1 differ by maker
    // (Atmel's read as ones during a write cycle, ST's 25010 to 25040 always), so only a status
    // of all ones with no write running is an empty socket.
    static constexpr std::uint8_t kNoChipStatus = 0xFF;

    // addressBytes: 1 to 3; chipSize: for the one-address-byte parts, whose a8 travels in bit 3
    // of READ and WRITE.
    SpiBus(LineDriver& lines, BitTiming& timing, int addressBytes, int chipSize)
        : BitBangBus(lines, timing), addressBytes_(addressBytes), chipSize_(chipSize)
    {
    }

    // Supply on, /CS high (deselected), SCK, MOSI and XTAL low, in one write.
    void SpiIdle() { lines_.SetAvrLines(1, 0, 0, 1, 0); }
    void Select();
    // /CS high after the last clock: a write instruction takes effect here.
    void Deselect();
    // One byte out on MOSI while one comes in on MISO, most significant bit first.
    std::uint8_t SpiTransfer(std::uint8_t out);

    std::uint8_t ReadStatus();
    void WriteEnable();
    // WREN, then WRSR with `value`.
    void WriteStatus(std::uint8_t value);
    // Selects the chip and sends READ or WRITE with the address; the caller moves the data and
    // deselects.
    void BeginTransfer(std::uint8_t instruction, unsigned address);
    // Polls RDSR until the write in progress has ended, for at most `maxMs`: the last status
    // read, or nothing when the chip stayed busy or, with no write of ours running
    // (`afterWrite` false), the status reads FF. During a write only WIP counts.
    std::optional<std::uint8_t> WaitWhileBusy(int maxMs, bool afterWrite);

    // The first address a status register's BP1 BP0 protect (the upper quarter, half or all of
    // the memory), or nothing when none is protected.
    static std::optional<int> ProtectedFrom(std::uint8_t status, int chipSize);

private:
    int addressBytes_;
    int chipSize_;
};

} // namespace vardel
