#pragma once

#include "avr/avr_serial.h"
#include "parts/avr_parts.h"
#include "parts/serial_bits.h"

#include <cstdint>
#include <span>
#include <vector>

namespace vardel {

// The memory, lock and fuse instructions of an AVR part, built from its own instruction patterns.
// Memory instructions go back to back, erase, lock and fuse instructions paced. Each write waits
// as its pacing says.
class AvrPartOps {
public:
    static constexpr int kPollRetries = 5000;
    static constexpr std::uint32_t kPollSleepMs = kPollSleepMsOfParts;
    static constexpr std::int64_t kPollSpanWrites = 4;
    AvrPartOps(AvrSerial& serial, const AvrPart& part) : AvrPartOps(serial, part, PacingOf(part)) {}
    AvrPartOps(AvrSerial& serial, const AvrPart& part, WritePacing pacing)
        : serial_(serial), part_(part), pacing_(std::move(pacing))
    {
    }

    const AvrPart& part() const { return part_; }

    // How a write ended: the part never reported it done; it answered the written value to a
    // poll; or it was waited for (RDY/BSY, a fixed wait, or a poll of one byte of a page).
    enum class Write { Failed, Polled, Waited };

    std::uint8_t readFlash(std::uint32_t address);
    std::uint8_t readEeprom(std::uint32_t address);
    // Loads one page (page-mode parts) from `bytes` and writes it at byte address `start`; false
    // when the part never reported the write done.
    Write writeFlashPage(std::uint32_t start, std::span<const std::uint8_t> bytes);
    // Byte-mode parts: one flash byte.
    Write writeFlashByte(std::uint32_t address, std::uint8_t value);
    Write writeEepromByte(std::uint32_t address, std::uint8_t value);
    // The bytes the EEPROM takes in one write: its page on parts paced to write EEPROM pages, else
    // 1.
    std::uint32_t eepromWriteBytes() const;
    // Loads one EEPROM page from `bytes` and writes it at byte address `start` (a page boundary).
    Write writeEepromPage(std::uint32_t start, std::span<const std::uint8_t> bytes);
    void chipErase();

    // The lock byte, written with the part's own pattern (lock and fuse commands go through
    // PartBitsCommands).
    void writeLock(std::uint8_t value);

private:
    std::array<std::uint8_t, 4> send(const char* pattern, std::uint32_t address, std::uint8_t data);
    std::array<std::uint8_t, 4> sendPaced(const char* pattern, std::uint32_t address,
                                          std::uint8_t data);
    // Load Extended Address when the word address leaves the 64 Ki words last selected.
    void selectExtended(std::uint32_t wordAddress);
    bool awaitReady();
    // Waits for a write of `value` at `address` to end.
    Write awaitWrite(bool flash, std::uint32_t address, std::uint8_t value);
    // Waits for the write of a page of `bytes` at `start` to end: Failed or Waited, since the end
    // of one byte's write says nothing of the others.
    Write awaitPage(bool flash, std::uint32_t start, std::span<const std::uint8_t> bytes);

    AvrSerial& serial_;
    const AvrPart& part_;
    WritePacing pacing_;
    int extended_ = -1;
};

} // namespace vardel
