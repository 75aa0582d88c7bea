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
// port goes: three port accesses a bit and no bit delay. Every operation begins with the chip
// released from deep power-down and identified, and ends with all lines low.
class SpiFlash {
public:
    enum class Outcome { Done, Failed, Cancelled, Different };

    SpiFlash(LineDriver& lines, BitTiming& timing, Host& host, OperationLock& operations);

    // Identifies the chip and says what it is. `part` and `id` are set on success.
    Outcome Identify();
    Outcome Read(std::vector<std::uint8_t>& out);
    Outcome BlankTest();
    // Programs `image` (the chip's size): erases only the sectors and blocks whose bytes need a
    // bit set, programs only the pages that differ, then verifies when asked.
    Outcome Program(const std::vector<std::uint8_t>& image, bool verify);
    Outcome Verify(const std::vector<std::uint8_t>& image);
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
    static constexpr int kPageSize = 256;

private:
    // SPI mode 0 on the AVR wiring, three port accesses a bit.
    void select();
    void deselect();
    std::uint8_t transfer(std::uint8_t out);
    void command(std::uint8_t op);
    void beginAddressed(std::uint8_t op, std::uint32_t address);
    std::uint16_t readStatus();
    bool writeEnable();
    bool waitReady(int maxMs);
    void linesLow();

    bool identify();
    bool readInto(std::vector<std::uint8_t>& out, const char* what);
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
    std::uint8_t id_[3] = {0, 0, 0};
    std::uint16_t status_ = 0;
    std::vector<std::uint8_t> chip_;
    // The phase the progress text measures its speed over, and when it began.
    std::string phase_;
    std::int64_t phaseStart_ = 0;
};

} // namespace vardel
