#pragma once

#include "hw/host.h"
#include "hw/line_driver.h"
#include "hw/operation_lock.h"
#include "spi/spi_bus.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vardel {

// How a part's status register maps its block-protect bits to a range.
enum class FlashProtection {
    // Winbond and GigaDevice: SR1 BP0-BP2 (bits 2-4), TB (5), SEC (6); SR2 (35h) CMP (bit 14).
    // The two-byte WRSR writes SR1 and SR2.
    WinbondStyle,
    // Any other maker: the range is not known here, so any BP bit set counts as the whole chip.
    Other,
};

struct SpiFlashPart {
    const char* name;
    const char* maker;
    std::uint8_t id[3]; // RDID: manufacturer, memory type, capacity
    int bytes;
    bool erase4k;     // 20h
    bool erase32k;    // 52h
    bool pageProgram; // 02h with 256-byte pages (the SST25VF have byte and AAI programming)
    int addressBytes;
    FlashProtection protection;
    // BP2..BP0 = 001 with SEC = 0: the smallest protected portion (Winbond-style parts).
    int smallestProtected;
    // Maximum times from the datasheets, 0 where none is known (then a generous limit is used).
    int pageMaxMs;
    int sectorMaxMs;
    int chipMaxMs;
    // The block-protect bits are set at every power-up (SST25VF): they are cleared before each
    // write without asking, as they come back at the next power-up whatever is done.
    bool protectedAtPowerUp = false;
};

// The common 25-series parts by JEDEC ID.
std::span<const SpiFlashPart> SpiFlashParts();
const SpiFlashPart* FindSpiFlashPart(const std::uint8_t id[3]);

// The protected range of a Winbond-style part: [from, to), or nothing when no byte is protected.
struct FlashRange {
    std::uint32_t from;
    std::uint32_t to;
};
std::optional<FlashRange> WinbondProtectedRange(std::uint16_t status, int bytes,
                                                int smallestProtected);

// An SPI NOR flash in the AVR socket, on the lines the 25xx EEPROMs use, clocked as fast as the
// port goes: three port accesses a bit read, two a bit only sent, and no bit delay. Every operation
// begins with the chip released from deep power-down and identified, and ends with all lines low.
class SpiFlash {
public:
    enum class Outcome { Done, Failed, Cancelled, Different };

    SpiFlash(LineDriver& lines, BitTiming& timing, Host& host, OperationLock& operations);

    // Identifies the chip and says what it is. `part` and `id` are set on success.
    Outcome Identify();
    Outcome Read(std::vector<std::uint8_t>& out);
    // Reads `length` bytes from `from` (kToTheEnd: the rest of the chip), which must lie within
    // the chip.
    static constexpr std::size_t kToTheEnd = static_cast<std::size_t>(-1);
    Outcome Read(std::uint32_t from, std::size_t length, std::vector<std::uint8_t>& out);
    Outcome BlankTest();
    // Programs `image` (the chip's size): erases only the sectors and blocks whose bytes need a
    // bit set, programs only the pages that differ, then verifies when asked.
    Outcome Program(const std::vector<std::uint8_t>& image, bool verify);
    // Programs `bytes` at `from` in the same way and keeps the rest of the chip as it was: only
    // the 4K sectors that hold the range are read (the 64K blocks on a part without 4K erase),
    // and what they hold outside it is written back as it was.
    Outcome Program(std::uint32_t from, const std::vector<std::uint8_t>& bytes, bool verify);
    Outcome Verify(const std::vector<std::uint8_t>& image);
    Outcome Verify(std::uint32_t from, const std::vector<std::uint8_t>& bytes);
    Outcome EraseChip();

    // Clear the block-protect bits before a write into a protected range, instead of refusing.
    bool clearProtection = false;
    // Without clearProtection: when set, a write into a protected range asks through it (the
    // range's text given, every line low meanwhile) instead of refusing; true clears the bits
    // (the chip identified again first), false ends the command with `refusedProtected` and no
    // message.
    std::function<bool(const std::string& range)> askClearProtection;

    const SpiFlashPart* part() const { return part_; }
    const std::uint8_t* id() const { return id_; }
    int size() const { return part_ ? part_->bytes : 0; }
    std::uint16_t status() const { return status_; }
    // After a verify that found differences: the chip's bytes.
    const std::vector<std::uint8_t>& chipBytes() const { return chip_; }
    // Erases done by the last Program, by size.
    int sectorsErased = 0;
    int blocksErased = 0;
    int pagesProgrammed = 0;
    bool refusedProtected = false;

    static constexpr std::uint8_t kReadId = 0x9F;
    static constexpr std::uint8_t kRelease = 0xAB;
    static constexpr std::uint8_t kPowerDown = 0xB9;
    static constexpr std::uint8_t kReadStatus2 = 0x35;
    static constexpr std::uint8_t kSectorErase = 0x20;
    static constexpr std::uint8_t kBlockErase32 = 0x52;
    static constexpr std::uint8_t kBlockErase64 = 0xD8;
    static constexpr std::uint8_t kChipErase = 0xC7;
    static constexpr std::uint8_t kAaiProgram = 0xAD;
    static constexpr std::uint8_t kReadSfdp = 0x5A;
    static constexpr std::uint8_t kEnter4Byte = 0xB7;
    static constexpr std::uint8_t kExit4Byte = 0xE9;
    static constexpr int kPageSize = 256;

    // How the chip is addressed after identification: three bytes, the 4-byte opcodes (13, 12,
    // 21, 5C, DC), 4-byte mode entered with B7 and left with E9 on every way out, or a part that
    // takes four address bytes only.
    enum class Addressing { ThreeBytes, FourByteOpcodes, FourByteMode, FourBytesOnly };
    Addressing addressing() const { return addressing_; }
    // The part was not in the table and was sized from its SFDP basic flash parameter table.
    bool describedBySfdp() const { return sfdpDescribed_; }

private:
    // SPI mode 0 on the AVR wiring: three port accesses a bit read, two a bit sent.
    void select();
    void deselect();
    std::uint8_t transfer(std::uint8_t out);
    void send(std::uint8_t out);
    void command(std::uint8_t op);
    void beginAddressed(std::uint8_t op, std::uint32_t address);
    // The opcode to send for a 3-byte one under the current addressing.
    std::uint8_t opcode(std::uint8_t op) const;
    bool readSfdp();
    void sfdpBytes(std::uint32_t address, std::uint8_t* out, std::size_t count);
    void leaveFourByteMode();
    // Programs one page by page program or AAI; what went wrong, or nothing.
    std::string programPage(std::uint32_t address, const std::uint8_t* data, int pageLimit);
    Outcome program(std::uint32_t from, const std::vector<std::uint8_t>& bytes, bool verify,
                    bool whole);
    // On a way out by an exception (a port fault): the chip leaves 4-byte mode if it can.
    struct ModeGuard {
        SpiFlash& flash;
        ~ModeGuard();
    };
    std::uint16_t readStatus();
    bool writeEnable();
    // WIP polled until it clears or `maxMs` have passed; `doing` names a long wait shown in the
    // progress label every kWaitShownEveryNs.
    bool waitReady(int maxMs, const char* doing = nullptr);
    static constexpr std::int64_t kWaitShownEveryNs = 500'000'000;
    void linesLow();

    bool identify();
    bool readInto(std::vector<std::uint8_t>& out, const char* what);
    bool readInto(std::uint32_t from, std::size_t length, std::vector<std::uint8_t>& out,
                  const char* what);
    bool checkProtection(const std::vector<bool>& touched);
    bool cancelled();
    void progress(const std::string& what, std::size_t done, std::size_t total);
    Outcome fail(const std::string& text);

    LineDriver& lines_;
    BitTiming& timing_;
    Host& host_;
    OperationLock& operations_;
    const SpiFlashPart* part_ = nullptr;
    SpiFlashPart unknown_{};
    std::string unknownMaker_;
    Addressing addressing_ = Addressing::ThreeBytes;
    bool inFourByteMode_ = false;
    bool sfdpDescribed_ = false;
    bool erase64k_ = true;
    int pageSize_ = kPageSize;
    std::uint8_t id_[3] = {0, 0, 0};
    std::uint16_t status_ = 0;
    std::vector<std::uint8_t> chip_;
    // The phase the progress text measures its speed over, and when it began.
    std::string phase_;
    std::int64_t phaseStart_ = 0;
};

} // namespace vardel
