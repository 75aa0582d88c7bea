#pragma once

#include "avr/avr_serial.h"
#include "parts/avr_parts.h"

#include <cstdint>
#include <span>
#include <vector>

namespace vardel {

// How the program waits for a part's writes and erase. A part of the part table is paced as its
// data says (`PacingOf`); the catalogue parts carry their own columns (device_catalogue).
struct WritePacing {
    // The sleep after Chip Erase.
    std::uint32_t eraseWaitMs;
    // The part tells a finished write by RDY/BSY polling.
    bool readyBusy;
    // A flash page is waited out for this long after its write, rather than polled (0: polled).
    std::uint32_t pageWaitMs;
    // Written values are polled by reading them back, except these, which a part answers while
    // still writing; those are waited out.
    bool flashValuePolling;
    bool eepromValuePolling;
    std::vector<std::uint8_t> flashUnpolled;
    std::vector<std::uint8_t> eepromUnpolled;
    std::uint32_t flashUnpolledWaitMs;
    std::uint32_t eepromUnpolledWaitMs;
    // The sleep between two polling reads.
    std::uint32_t flashPollSleepMs;
    std::uint32_t eepromPollSleepMs;
    // A poll that has spent its retries goes on, a millisecond at a time, until four of these
    // have passed: a fast port must not give up on a slow chip.
    std::uint32_t flashSlowestUs;
    std::uint32_t eepromSlowestUs;
    // Page loads and the page write carry the whole word address in bytes 2 and 3, and a page is
    // written by the address of its last word.
    bool wholeAddressLoads;
    // The EEPROM is written a page at a time (Load EEPROM Memory Page, Write EEPROM Memory Page),
    // each page waited for as one write.
    bool eepromPages;
};

// The pacing a part's data gives it.
WritePacing PacingOf(const AvrPart& part);

// The memory, lock and fuse instructions of an AVR part, built from its own instruction patterns.
// Memory instructions go back to back, erase, lock and fuse instructions paced. Each write waits
// as its pacing says.
class AvrPartOps {
public:
    static constexpr int kPollRetries = 5000;
    static constexpr std::uint32_t kPollSleepMs = 1;
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
