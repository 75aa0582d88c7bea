#pragma once

#include "sim/sockets.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardel::sim {

// How a part's status register, protection and programming work.
enum class SpiFlashStyle {
    // Winbond and GigaDevice: SR1 BUSY, WEL, BP0-BP2, TB, SEC, SRP0; SR2 (35h) with CMP at S14.
    Winbond,
    // Macronix: one SR with WIP, WEL, BP0-BP3 (the upper portion, 64K doubling from BP = 1), QE
    // and SRWD; a part over 16 MiB enters 4-byte addressing with B7, leaves it with E9 and has
    // the 4-byte opcodes 13, 0C, 12, 21, 5C and DC whatever the mode.
    Macronix,
    // SST25VF: SR BUSY, WEL, BP0-BP3, AAI, BPL, and BP0-BP2 set at every power-up; no page
    // program but byte program (02) and AAI word program (AD, two bytes a frame, ended by WRDI);
    // WRSR after EWSR (50) or WREN; 90 and AB give the maker and device IDs in turn.
    Sst25,
};

struct SpiFlashChipType {
    const char* name;
    std::uint8_t id[3];    // RDID: manufacturer, memory type, capacity
    std::uint8_t deviceId; // RES (ABh) after its three dummy bytes
    int bytes;
    // What BP2..BP0 = 001 protects with SEC = 0: the smallest protected portion of 64K blocks.
    int smallestProtected;
    // Typical times.
    std::int64_t pageProgramNs;
    std::int64_t sectorEraseNs;
    std::int64_t block32EraseNs;
    std::int64_t block64EraseNs;
    std::int64_t chipEraseNs;
    SpiFlashStyle style = SpiFlashStyle::Winbond;
    // Answers RDSFDP (5A) with a JESD216B header and basic flash parameter table.
    bool sfdp = false;
};

// A 25-series SPI NOR flash in the board's AVR socket, wired as a 25xx EEPROM is: RESET is /CS,
// SCK the clock, MOSI its DI and MISO its DO. SPI mode 0. The status register and programming
// follow the part's style. Programming only clears bits; a page program wraps within its
// 256-byte page; program and erase take effect when /CS rises on a byte boundary with WEL set
// and clear WEL, and while they run only RDSR is answered. A program or erase that touches a
// protected range is ignored (WEL is cleared all the same).
class SpiFlashChip final : public AvrSocketChip {
public:
    static constexpr int kPageSize = 256;

    static std::span<const SpiFlashChipType> types();
    static const SpiFlashChipType* findType(std::string_view name);
    static std::string typeNames();

    explicit SpiFlashChip(const SpiFlashChipType& type);

    void pins(bool vcc, bool reset, bool xtal, bool sck, bool mosi,
              std::int64_t nanoseconds) override;
    bool miso() const override { return so_; }
    void timeIs(std::int64_t nanoseconds) override { now_ = nanoseconds; }
    void describe(ChipKeys& keys) const override;
    bool set(const std::string& key, const std::string& value, std::string& error) override;
    std::vector<ChipMemoryFile> memoryFiles() override;

    const SpiFlashChipType& type() const { return type_; }
    std::vector<std::uint8_t>& memory() { return memory_; }
    // SR1 in the low byte, SR2 in the high one, WIP and WEL as they are now.
    std::uint16_t status() const;
    bool poweredDown() const { return deepPowerDown_; }
    // The ordinary read, program and erase opcodes take four address bytes (after B7).
    bool fourByteAddressing() const { return fourByte_; }
    bool inAai() const { return aai_; }
    // The JEDEC ID it answers: its type's unless flash.id gave another.
    const std::uint8_t* id() const { return id_; }
    // Every byte an erase has cleared since the chip was made, kept with the board.
    std::uint64_t erasedBytes() const { return erasedBytes_; }
    // Added to every program, erase and status write time: a part that stays busy.
    std::int64_t extraBusyNs = 0;
    // Whether a program or erase may change this address under the block-protect bits.
    bool isProtected(std::uint32_t address) const;

private:
    void onByte(std::uint8_t byte);
    void onDeselect();
    bool busy() const { return now_ < busyUntil_; }
    void erase(std::uint32_t address, std::uint32_t size, std::int64_t time);
    std::uint8_t nextOut();
    bool known(std::uint8_t op) const;
    int addressBytes(std::uint8_t op) const;
    void aaiWord();

    const SpiFlashChipType& type_;
    std::vector<std::uint8_t> memory_;
    std::uint16_t status_ = 0; // the non-volatile bits: BP0-BP2, TB, SEC, SRP0, CMP
    bool wel_ = false;
    bool deepPowerDown_ = false;
    bool powered_ = false;
    bool selected_ = false;
    bool prevSck_ = false;
    bool so_ = true; // DO is high impedance: the board's line reads high
    int bitCount_ = 0;
    int byteCount_ = 0;
    std::uint8_t shiftIn_ = 0;
    std::uint8_t instruction_ = 0;
    bool ignored_ = false;
    std::uint32_t address_ = 0;
    bool sending_ = false;
    std::uint8_t shiftOut_ = 0;
    int outBits_ = 0;
    int outIndex_ = 0;
    std::vector<std::uint8_t> page_;
    std::vector<bool> pageLoaded_;
    std::uint8_t newStatus_[2] = {0, 0};
    std::uint8_t id_[3];
    std::vector<std::uint8_t> sfdp_;
    bool fourByte_ = false;
    bool aai_ = false;
    std::uint32_t aaiAddress_ = 0;
    // EWSR given: the next instruction may be a WRSR.
    bool ewsr_ = false;
    bool statusWriteEnabled_ = false;
    std::uint8_t data_[2] = {0, 0};
    std::int64_t now_ = 0;
    std::int64_t busyUntil_ = 0;
    std::uint64_t erasedBytes_ = 0;
};

// A flash chip by part name ("W25Q64", any case), or nullptr when there is none by that name.
std::unique_ptr<SpiFlashChip> MakeSpiFlashChip(const std::string& part);

} // namespace vardel::sim
