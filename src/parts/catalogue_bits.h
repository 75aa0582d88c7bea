#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vardel {

// A bit of a lock or fuse byte of a catalogue part and the editor box it is shown in (n of the
// lock and fuse editor's CheckBoxn).
struct CatalogueBit {
    int bit;
    int box;
};

// One read of a fuse byte: the instruction and the boxes set from its answer, in this order.
struct CatalogueBitsRead {
    std::array<std::uint8_t, 4> instruction;
    std::span<const CatalogueBit> bits;
};

// One write of a fuse byte: the instruction, the byte of it that carries the value, the bits no
// box feeds, and the boxes that give the others.
struct CatalogueBitsWrite {
    std::array<std::uint8_t, 4> instruction;
    int valueAt;
    std::uint8_t base;
    std::span<const CatalogueBit> bits;
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

// How the lock and fuse bits of one of the twelve catalogue parts go over the serial line and
// where the editor shows them. Every instruction goes out paced and is followed by the settling
// XTAL pulses and pause below.
struct CatalogueBits {
    const char* part;
    std::span<const CatalogueBitsRead> fuseReads;
    // Empty: serial programming reaches none of the part's fuses.
    std::span<const CatalogueBitsWrite> fuseWrites;
    // The lock read (58 00 00 00): the box each bit of its answer sets.
    std::span<const CatalogueBit> lockRead;
    // The lock bits the lock write sets, with their place in the lock read.
    std::span<const CatalogueBit> lockWritten;
    // The lock write AC b2 FF b4: LB1 and LB2 in bits 1 and 2 of b2 come from these boxes, b4
    // carries kLockByteBoxes.
    int lb1Box;
    int lb2Box;
    // The AT90S lock group (CheckBox1 LB1, CheckBox2 LB2, whose LB2 goes only with LB1) is read
    // from these bits of the lock read.
    int groupLb1Bit;
    int groupLb2Bit;
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

// The boxes of bits 0 to 5 of the lock write's fourth byte: LB1, LB2, BLB01, BLB02, BLB11, BLB12
// of the ATmega161, 163 and 128.
inline constexpr std::array<int, 6> kLockByteBoxes{3, 4, 5, 6, 7, 8};

// Settling after each lock or fuse instruction: XTAL pulses, and at least this pause (and never
// less than the part's slowest lock or fuse write).
inline constexpr int kBitsSettleClocks = 1000;
inline constexpr std::uint32_t kBitsSettleMs = 100;
inline constexpr std::array<std::uint8_t, 4> kReadCalibration{0x38, 0x00, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 4> kReadLockBits{0x58, 0x00, 0x00, 0x00};

// The bits of the catalogue part of this name; a name of none of them (a chip not identified)
// gets the ATmega128's sequences with no fuse write.
const CatalogueBits& CatalogueBitsOf(std::string_view part);

} // namespace vardel
