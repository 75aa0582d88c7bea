#pragma once

#include "sim/sockets.h"

#include <memory>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardel::sim {

// A 25xx SPI or 93Cxx Microwire EEPROM in the board's AVR socket, wired to its lines: RESET is
// the chip select, SCK the clock, MOSI the chip's data in and MISO its data out. It sits there
// in place of an AVR and is named by the board's `eeprom` key, like a 24Cxx in its own socket.
class AvrSocketEeprom : public AvrSocketChip {
public:
    explicit AvrSocketEeprom(std::string name, int bytes)
        : name_(std::move(name)), memory_(static_cast<std::size_t>(bytes), 0xFF)
    {
    }
    const std::string& name() const { return name_; }
    std::vector<std::uint8_t>& memory() { return memory_; }
    const std::vector<std::uint8_t>& memory() const { return memory_; }
    std::vector<ChipMemoryFile> memoryFiles() override;
    void describe(ChipKeys& keys) const override;
    bool set(const std::string& key, const std::string& value, std::string& error) override;

    // A write cycle runs at this time.
    bool inWriteCycle(std::int64_t nanoseconds) const { return busy(nanoseconds); }

    // Every 25xx and 93Cxx type, for messages.
    static std::string typeNames();

protected:
    // Called on a power cut: a write cycle cut short leaves the bytes it was writing erased.
    void cutWriteCycle(std::int64_t nanoseconds);
    void startWriteCycle(std::int64_t nanoseconds, std::int64_t length,
                         std::vector<std::uint32_t> addresses);
    bool busy(std::int64_t nanoseconds) const { return nanoseconds < cycleEnd_; }

    std::string name_;
    std::vector<std::uint8_t> memory_;

private:
    std::int64_t cycleEnd_ = 0;
    std::vector<std::uint32_t> cycleAddresses_;
};

struct Spi25Type {
    const char* name;
    const char* alias;
    int bytes;
    int addressBytes;
    // The smallest page among the makers' parts.
    int pageSize;
};

// A 25xx SPI serial EEPROM: SPI mode 0, /CS active low, the status register with WIP, WEL,
// BP1 BP0 and, from the 25080 on, WPEN (with /WP tied high, WPEN locks nothing). Powers up with
// WEL reset; a WRITE or WRSR without WEL is ignored; a WRITE takes effect when /CS rises after a
// whole data byte, wraps within its page and runs a write cycle during which only RDSR is
// answered. The status register's other bits read as the maker's parts read them.
class Eeprom25xx final : public AvrSocketEeprom {
public:
    static constexpr std::int64_t kWriteCycleNs = 5'000'000;
    static constexpr std::uint8_t kNonVolatileBits = 0x8C;

    // Bits 7..4: Microchip's read 0; Atmel's read as ones while a write cycle runs (bits 7..4 of
    // the AT25010B to AT25040B, 6..4 of the larger parts); ST's M95010 to M95040 always read
    // them as ones.
    enum class Maker { Microchip, Atmel, St };

    static std::span<const Spi25Type> types();
    static const Spi25Type* findType(std::string_view name);

    explicit Eeprom25xx(const Spi25Type& type);

    void pins(bool vcc, bool reset, bool xtal, bool sck, bool mosi,
              std::int64_t nanoseconds) override;
    bool miso() const override { return so_; }
    void describe(ChipKeys& keys) const override;
    bool set(const std::string& key, const std::string& value, std::string& error) override;

    std::uint8_t status() const { return status_; }
    Maker maker() const { return maker_; }
    std::int64_t writeCycleNs = kWriteCycleNs;

private:
    // The one-address-byte parts, the 25010 to 25040: no maker's has WPEN.
    bool small() const { return type_.addressBytes == 1; }
    std::uint8_t nonVolatileBits() const { return small() ? 0x0C : kNonVolatileBits; }
    void onByte(std::uint8_t byte, std::int64_t nanoseconds);
    void onDeselect(std::int64_t nanoseconds);
    std::uint8_t statusNow(std::int64_t nanoseconds) const;
    bool isProtected(std::uint32_t address) const;

    const Spi25Type& type_;
    Maker maker_ = Maker::Microchip;
    std::uint8_t status_ = 0; // WPEN, BP1, BP0: kept while unpowered
    bool wel_ = false;
    bool powered_ = false;
    bool selected_ = false;
    bool prevSck_ = false;
    bool so_ = true; // SO is high impedance: the board's line reads high
    int bitCount_ = 0;
    int byteCount_ = 0;
    std::uint8_t shiftIn_ = 0;
    std::uint8_t instruction_ = 0;
    bool ignored_ = false;
    std::uint32_t address_ = 0;
    std::uint32_t high_ = 0; // a8 from the instruction of a one-address-byte part
    // What goes out on SO: the byte and the bits of it still to come; none while not sending.
    bool sending_ = false;
    std::uint8_t shiftOut_ = 0;
    int outBits_ = 0;
    std::vector<std::uint8_t> page_;
    std::vector<bool> pageLoaded_;
    std::uint8_t newStatus_ = 0;
};

struct Microwire93Type {
    const char* name;
    int bytes;
    int addressBits;
    int wordBits; // 8 with ORG low, 16 with ORG high
};

// A 93Cxx Microwire serial EEPROM: CS active high, start bit, two-bit opcode and address on DI
// at the rising SK edge; READ answers a dummy 0 and then word after word; WRITE, ERASE, ERAL and
// WRAL need EWEN (the chip powers up write-disabled) and start their cycle as CS goes low; with
// CS high again DO shows busy (0) or ready (1) until the next start bit.
class Eeprom93Cxx final : public AvrSocketEeprom {
public:
    static constexpr std::int64_t kWriteCycleNs = 10'000'000;

    static std::span<const Microwire93Type> types();
    static const Microwire93Type* findType(std::string_view name);

    explicit Eeprom93Cxx(const Microwire93Type& type);

    void pins(bool vcc, bool reset, bool xtal, bool sck, bool mosi,
              std::int64_t nanoseconds) override;
    bool miso() const override;
    void timeIs(std::int64_t nanoseconds) override { now_ = nanoseconds; }

    void describe(ChipKeys& keys) const override;
    bool set(const std::string& key, const std::string& value, std::string& error) override;

    bool writeEnabled() const { return ewen_; }
    std::int64_t writeCycleNs = kWriteCycleNs;
    // ERAL and WRAL ignored, as by parts that do them only at 4.5 to 5.5 V on a lower supply.
    bool eraseAllIgnored = false;

private:
    enum class Phase { Start, Opcode, Address, DataIn, ReadOut, Done };
    void onRising(bool di, std::int64_t nanoseconds);
    void onDeselect(std::int64_t nanoseconds);
    std::uint32_t word(std::uint32_t index) const;
    void setWord(std::uint32_t index, std::uint32_t value, std::vector<std::uint32_t>& touched);
    std::uint32_t words() const;

    const Microwire93Type& type_;
    bool powered_ = false;
    bool selected_ = false;
    bool prevSk_ = false;
    bool ewen_ = false;
    Phase phase_ = Phase::Start;
    int bits_ = 0;
    unsigned opcode_ = 0;
    std::uint32_t address_ = 0;
    std::uint32_t data_ = 0;
    bool do_ = true;
    bool driving_ = false;
    // A write cycle was started and no start bit has come since: DO shows ready/busy.
    bool showStatus_ = false;
    std::uint32_t outWord_ = 0;
    int outBits_ = 0;
    std::int64_t now_ = 0;
};

// A 25xx or 93Cxx by type name ("25256", "25M01", "93C46x16", any case), or nullptr when the
// name is no such type.
std::unique_ptr<AvrSocketEeprom> MakeAvrSocketEeprom(const std::string& type);

} // namespace vardel::sim
