#pragma once

#include "sim/sockets.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardel::sim {

// One member of the 24Cxx family as the board sees it.
struct EepromType {
    const char* name;
    int bytes;
    // 1 up to the 24C16, 2 (high first) from the 24C32 on.
    int wordAddressBytes;
    // Control-byte bits that carry the memory address bits above the word address, from bit 1
    // up: a8, a9, a10 of the 24C04/08/16, P0 = a16 of the 24C1024. The rest of bits 3..1 are the
    // chip-select inputs A2..A0, tied low on the board.
    int blockBits;
    int pageSize;
};

// A 24Cxx serial EEPROM in the board's EEPROM socket: a bit-level I2C slave with page buffer,
// write cycle and sequential reads, driven only by the levels on its pins.
class Eeprom24Cxx final : public EepromSocketChip {
public:
    static constexpr std::int64_t kDefaultWriteCycleNs = 5'000'000;

    // The types, smallest first.
    static std::span<const EepromType> types();
    // The type of the given name in any case ("24c256"), or nullptr.
    static const EepromType* findType(std::string_view name);
    // "24C04, 24C08, ..." for messages.
    static std::string typeNames();

    explicit Eeprom24Cxx(const EepromType& type);

    void pins(bool power, bool scl, bool sdaMaster, std::int64_t nanoseconds) override;
    bool sdaReleased() const override;
    void describe(ChipKeys& keys) const override;
    std::vector<ChipMemoryFile> memoryFiles() override;

    const EepromType& type() const { return type_; }
    std::vector<std::uint8_t>& memory() { return memory_; }
    const std::vector<std::uint8_t>& memory() const { return memory_; }

    // Settings and faults, all off by default.
    //
    // Length of the internal write cycle started by a STOP after a page write.
    std::int64_t writeCycleNs = kDefaultWriteCycleNs;
    // Acknowledge this many data bytes of a write, then leave the next one unacknowledged and
    // drop the whole transaction (nothing is written).
    std::optional<int> nackAfterDataBytes;
    // A write cycle that never ends: the control byte is never acknowledged.
    bool busyForever = false;
    // SDA shorted to ground, powered or not.
    bool sdaStuckLow = false;
    // Acknowledge every byte of a write but leave the memory as it was (no write cycle either).
    bool dropWrites = false;
    // Where a sequential read of a 24C1024 goes after 0xFFFF and 0x1FFFF: parts differ. Off, it
    // goes on through the whole memory (0xFFFF to 0x10000, the last byte to 0); on, it wraps
    // within the 64 KiB half it is in (0xFFFF to 0, 0x1FFFF to 0x10000).
    bool readWrapsWithinHalf = false;

    // Reads ended as the chip expects: the master's missing acknowledge after a byte, then STOP.
    // After an acknowledge the chip sends the next byte, and a 0 bit of it holds SDA low through
    // the master's STOP.
    int readsEndedByStop = 0;

private:
    enum class Phase {
        Idle,      // waiting for START
        Receiving, // sampling the bits of a byte from the master
        ByteIn,    // eight bits in, waiting for SCL low to answer
        AckOut,    // pulling SDA low for the ninth clock
        Sending,   // putting the bits of a byte on SDA
        AckIn,     // SDA released for the master's acknowledge
    };
    // What the byte being received means.
    enum class Expect { Control, AddressHigh, AddressLow, Data };

    void reset();
    void onStart();
    void onStop(std::int64_t nanoseconds);
    void onRising(bool sda);
    void onFalling();
    // Decides on a received byte; true when it is acknowledged.
    bool takeByte(std::uint8_t byte);
    bool controlMatches(std::uint8_t control) const;
    void startSending();
    bool busy(std::int64_t nanoseconds) const;

    const EepromType& type_;
    std::vector<std::uint8_t> memory_;

    // Bus logic, reset by START, STOP and power-on.
    bool powered_ = false;
    bool prevScl_ = true;
    bool prevSda_ = true;
    bool driveLow_ = false;
    Phase phase_ = Phase::Idle;
    Expect expect_ = Expect::Control;
    int bitCount_ = 0;
    std::uint8_t shift_ = 0;
    bool reading_ = false;           // the acknowledged control byte asked for a read
    bool masterAck_ = false;         // sampled on the ninth clock of a byte we sent
    bool readEnded_ = false;         // the master did not acknowledge the last byte sent
    std::uint32_t blockAddress_ = 0; // high address bits from a write's control byte
    std::uint32_t addressHigh_ = 0;

    // Page buffer of the write in progress.
    std::vector<std::uint8_t> pageData_;
    std::vector<bool> pageLoaded_;
    std::uint32_t pageBase_ = 0;
    int dataBytes_ = 0;
    bool writeArmed_ = false; // a STOP now would start the write cycle

    // Survives the bus logic's resets while powered.
    std::uint32_t address_ = 0;
    std::int64_t cycleEnd_ = 0;
    bool cycleRunning_ = false;
    // The bytes the running write cycle is programming.
    std::uint32_t cycleBase_ = 0;
    std::vector<bool> cycleLoaded_;
};

} // namespace vardel::sim
