#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// A bit of a part's fuse and lock bytes: byte 0 .. fuseCount - 1 are the fuse bytes in the part's
// order (low, high, extended), byte fuseCount is the lock byte.
struct PartBit {
    int byte;
    int bit;
    bool operator==(const PartBit&) const = default;
};

// One fuse byte of a part: its serial instructions, factory value and the bits it has.
struct AvrPartFuse {
    const char* name{}; // "lfuse", "hfuse", "efuse", or "fuse" on parts with one fuse byte
    const char* read{}; // instruction pattern (see AvrPart)
    const char* write{};
    std::uint8_t factory{};
    std::array<const char*, 8> bits{};         // name of bit 0..7; null where the part has none
    std::array<const char*, 8> descriptions{}; // what the bit does; empty when the data gives none
};

// How a part's datasheet lays out its lock and fuse instructions in serial programming mode: what
// a chip of it decodes. The program itself sends what the part's instructions (and SerialBits)
// say; the simulated chips decode by this.
enum class AvrBitsLayout {
    // 58 00 / 58 08 / 50 00 / 50 08 read the lock, high, low and extended bytes; AC E0 / A8 / A0 /
    // A4 write them with the bits in the fourth byte.
    Standard,
    // AT90S1200: lock bits written as AC 1111 1 LB2 LB1 1 and never read; no fuses.
    At90s1200,
    // AT90S2333/4433: lock as the AT90S1200, read by 58 in bits 2..1; fuse written as
    // AC 101 BODLEVEL BODEN CKSEL2..0 and read by 50 in bits 5..0 with SPIEN.
    At90s4433,
    // ATtiny15: lock as the AT90S4433; fuse byte BODLEVEL BODEN SPIEN RSTDISBL 1 1 CKSEL1..0
    // written in the fourth byte of AC 101x and read by 50.
    Tiny15,
    // ATtiny26: lock bits written as AC 1111 11 LB2 LB1, read by 58 in bits 1..0; fuses as
    // Standard.
    Tiny26,
    // The first catalogue's forms. AT90S2313/4414/8515: lock bits written only. AT90S2323/2343/
    // 4434/8535: lock and fuse bits read in one byte, one fuse written.
    At90sLockOnly,
    At90sLockAndFuse,
    ATmega103,
    ATmega161,
    ATmega163,
    ATmega128,
    ATtiny12,
};

// A classic serially programmed AVR as its data describes it.
//
// Instruction patterns are 32 characters, the bits of the four instruction bytes from bit 7 of
// the first byte on: '0' and '1' are sent as they are, 'x' is sent as 0, 'a' carries the address
// bit of its place in bytes 2 and 3 (bit 15 is bit 7 of byte 2, bit 0 is bit 0 of byte 3), 'i'
// the data bit of its place in its byte, and 'o' marks a bit of the answer, received in that place.
// A null pattern: the part has no such instruction.
struct AvrPart {
    const char* name{};
    // Another name of the same chip (same signature): identification names the first.
    const char* variantOf{};
    std::array<std::uint8_t, 3> signature{};
    std::uint32_t flashBytes{};
    std::uint32_t flashPageBytes{}; // 0: flash is written byte by byte
    std::uint32_t eepromBytes{};
    std::uint32_t eepromPageBytes{};
    // Longest write and erase times, in microseconds.
    std::uint32_t flashWriteUs{};
    std::uint32_t eepromWriteUs{};
    std::uint32_t chipEraseUs{};
    // How the part reports a finished write (as a programmer's mode byte): bit 0 page mode; in
    // page mode bit 4 timed, bit 5 value polling, bit 6 RDY/BSY polling; in byte mode bits 1, 2
    // and 3 the same.
    std::uint8_t flashMode{};
    std::uint8_t eepromMode{};
    // What a read of a byte being written answers: a written byte equal to one of these cannot
    // be told done by polling its value.
    std::array<std::uint8_t, 2> flashReadback{};
    std::array<std::uint8_t, 2> eepromReadback{};
    struct Instructions {
        const char* readLo{}; // flash, by word address
        const char* readHi{};
        const char* loadLo{}; // page buffer, by word address
        const char* loadHi{};
        const char* writePage{};
        const char* loadExtAddr{}; // the word address bits above 16 (flash past 128 KiB)
        const char* writeLo{};     // byte-mode flash
        const char* writeHi{};
        const char* eepromRead{};
        const char* eepromWrite{};
        const char* chipErase{};
        const char* signature{};
        const char* lockRead{};
        const char* lockWrite{};
        // Load EEPROM Memory Page (by byte address within the page) and Write EEPROM Memory Page
        // (by the page's byte address); null where the part writes its EEPROM byte by byte only.
        const char* eepromLoadPage = nullptr;
        const char* eepromWritePage = nullptr;
        // Read Calibration Byte: the oscillator's factory calibration, by its number ('a' bits)
        // where the part keeps one for each frequency; byte 0 is the default frequency's.
        const char* calibrationRead = nullptr;
    } instructions{};
    std::array<const char*, 8> lockBits{}; // name of lock bit 0..7, null where the part has none
    // One of the parts of the first catalogue, written by hand (parts/catalogue_parts.cpp): its
    // own lock and fuse instructions, pacing and editor page stand beside it there.
    bool catalogued{};
    int fuseCount{};
    std::array<AvrPartFuse, 3> fuses{};
    // The other end of each time above, the fastest the data gives (0: the slowest holds), and
    // the fuse and lock byte writes, slowest (fuseWriteUs, lockWriteUs: the longest of the part's
    // fuse bytes) and fastest, in microseconds. A row that gives no lock or fuse time takes the
    // longest any part gives.
    std::uint32_t flashWriteMinUs = 0;
    std::uint32_t eepromWriteMinUs = 0;
    std::uint32_t chipEraseMinUs = 0;
    std::uint32_t fuseWriteUs = kSlowestBitsWriteUs;
    std::uint32_t fuseWriteMinUs = 0;
    std::uint32_t lockWriteUs = kSlowestBitsWriteUs;
    std::uint32_t lockWriteMinUs = 0;
    // What each fuse bit does to serial programming, by its meaning (one mask per fuse byte):
    // programmed, a bit of `endsWhenProgrammed` ends it from the next power-up (the external
    // reset disabled, debugWIRE enabled); unprogrammed, a bit of `endsWhenUnprogrammed` does
    // (serial programming disabled).
    std::array<std::uint8_t, 3> endsWhenProgrammed{};
    std::array<std::uint8_t, 3> endsWhenUnprogrammed{};
    AvrBitsLayout bitsLayout = AvrBitsLayout::Standard;
    // A new fuse value acts only after a power cycle (the AT90S2323/2343 latch it at power-up).
    bool fuseAfterPowerUp = false;

    // The longest fuse or lock byte write of any part (AT90S1200/2333/4433 lock bits).
    static constexpr std::uint32_t kSlowestBitsWriteUs = 20000;

    // "ATmega328P (32kb flash)".
    std::string label() const;
    // Each memory's write time at one end of the data's range, in microseconds.
    struct WriteTimes {
        std::uint32_t flashUs;
        std::uint32_t eepromUs;
        std::uint32_t chipEraseUs;
        std::uint32_t fuseUs;
        std::uint32_t lockUs;
    };
    WriteTimes slowest() const;
    WriteTimes fastest() const;
    // The part tells a finished write by RDY/BSY.
    bool pollsReadyBusy() const { return ((flashMode | eepromMode) & 0x48) != 0; }
};

// Every part the data describes, in name order: the generated rows and the hand-written ones.
std::span<const AvrPart> AvrParts();
// The part that answers this signature (the first of its names), or null.
const AvrPart* FindPart(const std::array<std::uint8_t, 3>& signature);
// The part of this name in any case, or null.
const AvrPart* FindPartByName(std::string_view name);
// Every part that answers this signature, the first of its names first.
std::vector<const AvrPart*> PartsAnswering(const std::array<std::uint8_t, 3>& signature);
// The two parts' fuse and lock bytes have the same bits (their names and the bits they lack
// aside): a program that takes one for the other can set every bit the chip has.
bool SameBits(const AvrPart& a, const AvrPart& b);

// The four bytes of an instruction for this address and data byte.
std::array<std::uint8_t, 4> EncodeInstruction(const char* pattern, std::uint32_t address,
                                              std::uint8_t data);
// The bits of the data byte a write instruction carries ('i'); 0 for no instruction.
std::uint8_t CarriedBits(const char* pattern);
// The answer bits ('o') of an instruction from the four bytes received.
std::uint8_t DecodeAnswer(const char* pattern, const std::array<std::uint8_t, 4>& received);

// The data of RDY/BSY polling, which the instruction patterns leave out: F0 00 00 00, bit 0 of
// the fourth answer byte is 1 while a write or erase is in progress.
inline constexpr const char* kPollReadyBusy = "11110000000000000000000000000000";

} // namespace vardel
