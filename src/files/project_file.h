#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vardel {

// A production project (a ".vardel" file): which socket and part, the images, the fuse and lock
// bits, a serial number rule and a log, as `key = value` lines; '#' starts a comment.

// SpiFlash: a 25-series SPI NOR flash in the AVR socket, its image given as `flash`.
enum class ProjectSocket { Avr, Eeprom, SpiFlash };

enum class SerialFormat { LittleEndian, BigEndian, Ascii, Bcd };

// Where each chip's serial number goes and how it is written. `width` is the number of decimal
// digits of the ASCII format (at most `length`; the bytes after the digits are 0).
struct SerialRule {
    bool inFlash = false; // serial.memory: flash, or eeprom (the AVR's or the 24Cxx image)
    std::uint32_t address = 0;
    int length = 0; // 1 to 8 bytes
    SerialFormat format = SerialFormat::LittleEndian;
    int width = 0; // ascii only; 0: the length
    std::uint64_t next = 0;
    std::uint64_t step = 1;
};

// A bit named by the project and whether it is to be programmed (NAME=0) or not (NAME=1).
using NamedBit = std::pair<std::string, bool>;

struct Project {
    ProjectSocket socket = ProjectSocket::Avr;
    std::string part;   // as the command line names it: "ATmega328P", "24C256"
    std::string flash;  // image file names as written, relative to the project file's folder
    std::string eeprom; // (for the EEPROM socket, the chip's image)
    std::vector<NamedBit> fuseBits;
    std::array<std::optional<std::uint8_t>, 3> fuseBytes; // fuse.low, fuse.high, fuse.extended
    std::vector<NamedBit> lockBits;
    bool allowLockout = false;
    // blank-only: a chip that is not erased and unlocked is refused before anything is written.
    bool blankOnly = false;
    std::optional<SerialRule> serial;
    // calibration.memory and calibration.address: where each chip's oscillator calibration byte
    // is copied (flash or EEPROM), for firmware that sets OSCCAL from it.
    struct CalibrationPlace {
        bool inFlash = false;
        std::uint32_t address = 0;
    };
    std::optional<CalibrationPlace> calibration;
    std::string log; // the CSV log, relative to the project file's folder
    // Not a key: the lock byte of a one-image HEX.
    std::optional<std::uint8_t> lockByte;
    // The line of each key given, for messages about its value.
    std::map<std::string, int, std::less<>> lines;
    int lineOf(std::string_view key) const
    {
        const auto at = lines.find(key);
        return at == lines.end() ? 0 : at->second;
    }
};

struct ProjectParse {
    Project project;
    // Empty, or the first fault as "line N: what is wrong".
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads a project file's text: every key known, at most once, each value checked.
ProjectParse ParseProject(std::span<const std::uint8_t> text);

// The project as the text of a project file, keys in a fixed order.
std::string ProjectText(const Project& project);

// The text with the value of `serial.next` replaced and everything else (comments, order) kept.
std::string WithNextSerial(std::string_view text, std::uint64_t next);

// The bytes of `value` as the rule writes them, or nothing with the reason in `error` when the
// number does not fit in the rule's length.
std::optional<std::vector<std::uint8_t>> SerialBytes(const SerialRule& rule, std::uint64_t value,
                                                     std::string* error = nullptr);

// The bits of a "NAME=0 NAME=1 ..." list, or nothing when a word is not of that form.
std::optional<std::vector<NamedBit>> ParseNamedBits(std::string_view words);

// CRC-32 (the one of zip and PNG) of the bytes.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

} // namespace vardel
