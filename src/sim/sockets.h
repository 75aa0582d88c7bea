#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vardel::sim {

// key=value pairs that describe a chip: printed by `sim show`, taken by `--set`, and kept in the
// board's folder.
using ChipKeys = std::map<std::string, std::string>;

// A memory a chip keeps in the board's folder, as a file of exactly the memory's size.
struct ChipMemoryFile {
    std::string file; // "eeprom.bin"
    std::string what; // "the memory of the 24C256", "the flash of ATmega128", for messages
    std::vector<std::uint8_t>* memory;
};

// A chip in the board's EEPROM socket, seen through the EEPROM wiring.
class EepromSocketChip {
public:
    virtual ~EepromSocketChip() = default;
    // Called after every data-port write with the levels on the chip's pins; sdaMaster is the
    // program's SDA output (the bus is its wired AND with the chip's own output).
    virtual void pins(bool power, bool scl, bool sdaMaster, std::int64_t nanoseconds) = 0;
    // The chip's open-drain SDA output: false while the chip pulls the line low.
    virtual bool sdaReleased() const = 0;
    virtual void describe(ChipKeys& keys) const = 0;
    // The memories the board's folder keeps for the chip.
    virtual std::vector<ChipMemoryFile> memoryFiles() = 0;
};

// A chip in the board's AVR socket, seen through the AVR wiring.
class AvrSocketChip {
public:
    virtual ~AvrSocketChip() = default;
    virtual void pins(bool vcc, bool reset, bool xtal, bool sck, bool mosi,
                      std::int64_t nanoseconds) = 0;
    virtual bool miso() const = 0;
    // The time of a status read, given before it: a chip whose output changes on its own (a busy
    // flag that clears) shows it without a line change.
    virtual void timeIs(std::int64_t /*nanoseconds*/) {}
    virtual void describe(ChipKeys& keys) const = 0;
    // Sets one of the keys that describe() gives (fuses, lock, calibration); false and a message
    // when the chip has no such key or the value is not valid.
    virtual bool set(const std::string& key, const std::string& value, std::string& error) = 0;
    virtual std::vector<ChipMemoryFile> memoryFiles() = 0;
};

} // namespace vardel::sim
