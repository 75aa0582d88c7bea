#pragma once

#include "parts/avr_parts.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vardel {

// Write and erase times of a part in microseconds: a byte, or a page on the page-written parts;
// an EEPROM byte; a chip erase; a lock or fuse byte.
struct PartTiming {
    std::uint32_t flashWriteUs;
    std::uint32_t eepromWriteUs;
    std::uint32_t chipEraseUs;
    std::uint32_t fuseWriteUs;
};

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

// A preset of "Predefined Fuse Bits Settings": the part's fuse bytes as its row numbers them (low,
// high, extended), a programmed bit stored as 0.
struct CataloguePreset {
    const char* name; // as the command line names it
    std::array<std::uint8_t, 3> fuses;
};

// What identification does with the one-bit fuse group GroupBox4 of page "AT90Sxxxx".
enum class FuseGroup { Hidden, Shown, Unchanged };

// The parts of the lock- and fuse-bit editors, each a page of one of the editor notebooks, except
// LockAT90S, the "Lock Bits" group on page "AT90Sxxxx" of Notebook1.
enum class EditorSection {
    Fuse128,    // Notebook2 page "128"
    Fuse163,    // Notebook2 page "163"
    Fuse161,    // Notebook2 page "161"
    Fuse103,    // Notebook2 page "103"
    FuseAT90S,  // Notebook4 page "AT90Sxxxx", the one-box group GroupBox4
    FuseATtiny, // Notebook4 page "ATtiny"
    LB128,      // Notebook3 page "LB128"
    LB103,      // Notebook3 page "LB103"
    LockAT90S,  // group "Lock Bits" of Notebook1 page "AT90Sxxxx", with Memo1
};

// One check box of the editors, as the form lays it out.
struct EditorBox {
    int number; // n of CheckBoxn
    EditorSection section;
    const char* caption; // CheckBox35's is the form's; identification may change it
    const char* hint;    // "" when the box has none
    int label;           // n of its state label Labeln, 0 when it has none
    const char* column;  // column heading on pages "128" and "163", else ""
    bool startsChecked;
    bool enabled; // as the form has it; only the guards of the ATtiny page change it
    bool labelEnabled;
    bool inert; // never read or written: the unused bits shown for completeness
};

// How a catalogue part is shown and paced: its processor-type text, device class, page wait and
// the editor pages identification selects ("Read Lock Bits" is enabled where its row has a lock
// read).
struct CatalogueShown {
    const char* label; // the processor-type text, also the key of the lock and fuse commands
    int deviceClass;
    // The fixed wait after each page write of the page-written parts.
    std::uint32_t pageWaitMs;
    const char* notebook1;  // "ATmega128" or "AT90Sxxxx"
    const char* notebook2;  // fuse page of the ATmega editors, or null
    const char* notebook3;  // lock page of the ATmega editors, or null
    const char* notebook4;  // fuse page of the AT90S editors, or null
    const char* checkBox35; // caption of the one-bit fuse box, or null
    FuseGroup fuseGroup;
};

// One of the twelve parts of the first catalogue: what this program knows of it beyond its row of
// the part table (signature, sizes, slowest write times, bits and their factory values stand
// there). How it is shown (processor-type text, editor pages), paced, and how its lock and fuse
// bytes go over the serial line and where the editor shows their bits. Every lock or fuse
// instruction goes out paced and is followed by the settling XTAL pulses and pause below.
struct CataloguePart {
    const char* name;
    CatalogueShown shown;
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

// The twelve, in the order identification tests their signatures.
std::span<const CataloguePart> CatalogueParts();
// The catalogue part of this name (exactly as listed), or null for a part of the generated table.
const CataloguePart* FindCataloguePart(std::string_view name);
// Its row of the part table.
const AvrPart& PartOf(const CataloguePart& part);
// Its LB1 and LB2 sit in the AT90S lock group, which takes LB2 only together with LB1: a lock
// mode 1, 2 or 3.
bool KeepsLockModes(const CataloguePart& part);
// Every box of the lock and fuse editors, one layout for the twelve parts.
std::span<const EditorBox> CatalogueEditorBoxes();

// The part table's rows written by the generator, in name order.
std::span<const AvrPart> GeneratedAvrParts();

} // namespace vardel
