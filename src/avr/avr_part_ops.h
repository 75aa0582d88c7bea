#pragma once

#include "parts/avr_parts.h"
#include "avr/avr_serial.h"

#include <cstdint>
#include <span>

namespace vardel {

// The memory, lock and fuse instructions of a part of the AVR part table, built from its own
// instruction patterns. Memory instructions go back to back, erase, lock and fuse instructions
// paced, as for the catalogue parts. Each write waits as the part reports its end: RDY/BSY
// polling where the part has it, else polling the written value where the part allows it and the
// value is not one it answers while writing, else its longest write time.
class AvrPartOps {
public:
    static constexpr int kPollRetries = 5000;
    static constexpr std::uint32_t kPollSleepMs = 1;

    AvrPartOps(AvrSerial& serial, const AvrPart& part) : serial_(serial), part_(part) {}

    const AvrPart& part() const { return part_; }

    std::uint8_t readFlash(std::uint32_t address);
    std::uint8_t readEeprom(std::uint32_t address);
    // Loads one page (page-mode parts) from `bytes` and writes it at byte address `start`; false
    // when the part never reported the write done.
    bool writeFlashPage(std::uint32_t start, std::span<const std::uint8_t> bytes);
    // Byte-mode parts: one flash byte.
    bool writeFlashByte(std::uint32_t address, std::uint8_t value);
    bool writeEepromByte(std::uint32_t address, std::uint8_t value);
    void chipErase();

    std::uint8_t readFuse(int index);
    void writeFuse(int index, std::uint8_t value);
    std::uint8_t readLock();
    void writeLock(std::uint8_t value);

private:
    std::array<std::uint8_t, 4> send(const char* pattern, std::uint32_t address, std::uint8_t data);
    std::array<std::uint8_t, 4> sendPaced(const char* pattern, std::uint32_t address,
                                          std::uint8_t data);
    // Load Extended Address when the word address leaves the 64 Ki words last selected.
    void selectExtended(std::uint32_t wordAddress);
    bool awaitReady();
    // Waits for a write of `value` at `address` to end; `readFn` reads it back.
    bool awaitWrite(bool flash, std::uint32_t address, std::uint8_t value);

    AvrSerial& serial_;
    const AvrPart& part_;
    int extended_ = -1;
};

} // namespace vardel
