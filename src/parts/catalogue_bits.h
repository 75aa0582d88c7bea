#pragma once

#include "parts/avr_parts.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vardel {

// A bit of an instruction sent or of its answer, and the bit of the part's own bytes it carries.
struct CatalogueBit {
    int at;
    PartBit bit;
};

// One lock or fuse instruction of a catalogue part. A read takes the bits from the fourth byte
// received; a write sends `instruction` with each bit listed cleared where the part's bit is
// programmed, the others as `instruction` has them.
struct CatalogueInstruction {
    std::array<std::uint8_t, 4> instruction;
    int valueAt;
    std::span<const CatalogueBit> bits;
};

// A check box of the lock and fuse editor (n of CheckBoxn) and the part's bit it shows.
struct CatalogueBox {
    int box;
    PartBit bit;
};

// A preset of the fuse page: the boxes it programs among `kPresetBoxes`, every other one of them
// unprogrammed.
struct CataloguePreset {
    const char* name; // as the command line names it
    std::span<const int> programmed;
};

// The boxes a preset sets, in the order it sets them: page "128", M103C to CKSEL0.
inline constexpr int kPresetFirstBox = 17;
inline constexpr int kPresetLastBox = 34;

// How the lock and fuse bytes of one of the twelve catalogue parts go over the serial line and
// where the editor shows their bits. Every instruction goes out paced and is followed by the
// settling XTAL pulses and pause below.
struct CatalogueBits {
    const char* part;
    std::span<const CatalogueInstruction> fuseReads;
    // Empty: serial programming reaches none of the part's fuses.
    std::span<const CatalogueInstruction> fuseWrites;
    CatalogueInstruction lockRead;
    CatalogueInstruction lockWrite;
    // These bits of the lock write's fourth byte repeat the last lock read's answer (which these
    // parts ignore in the write).
    std::uint8_t lockEcho;
    // The editor boxes of the part's pages. CheckBox1 and CheckBox2, the AT90S lock group, follow
    // their LB1/LB2 rule.
    std::span<const CatalogueBox> boxes;
    // Where LB1 and LB2 sit in the lock read: what tells the lock mode.
    int lb1ReadBit;
    int lb2ReadBit;
    // The ATtiny12's calibration byte (38 00 00 00) is read with the fuses.
    bool readsCalibration;
    // The confirmation of a fuse write starts with this text instead of "Are you sure?".
    const char* fuseConfirmation;
    // "Predefined Fuse Bits Settings", in the order of their buttons.
    std::span<const CataloguePreset> presets;
};

// Settling after each lock or fuse instruction: XTAL pulses, and at least this pause (and never
// less than the part's slowest lock or fuse write).
inline constexpr int kBitsSettleClocks = 1000;
inline constexpr std::uint32_t kBitsSettleMs = 100;
inline constexpr std::array<std::uint8_t, 4> kReadCalibration{0x38, 0x00, 0x00, 0x00};

// The bits of the catalogue part of this name, or null for a part of the generated table.
const CatalogueBits* FindCatalogueBits(std::string_view part);
// A chip not identified: the ATmega128's reads, with no write.
const CatalogueBits& UnidentifiedCatalogueBits();

} // namespace vardel
