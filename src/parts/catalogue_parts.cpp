#include "parts/catalogue_parts.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vardel {

namespace {

constexpr const char* kAt90s = "AT90Sxxxx";
constexpr const char* kMega = "ATmega128";

// Bit places are the part's own bytes (AvrPart): 0 the low fuse byte (or the only one), 1 the
// high, 2 the extended; the lock byte follows the fuse bytes. Box numbers are the lock and fuse
// editor's: 1-2 the AT90S lock group, 3-8 page "LB128", 17-34 page "128", 35 the AT90S fuse,
// 36-42 page "161", 43-51 page "163", 52-53 page "LB103", 54-57 page "103", 58-65 page "ATtiny".

using I = CatalogueInstruction;

// Bits 0 to 7 of byte `b`, read from or written to the same bits of an instruction.
template <int B>
constexpr CatalogueBit kWhole[] = {{0, {B, 0}}, {1, {B, 1}}, {2, {B, 2}}, {3, {B, 3}},
                                   {4, {B, 4}}, {5, {B, 5}}, {6, {B, 6}}, {7, {B, 7}}};
// LB1, LB2, BLB01, BLB02, BLB11 and BLB12 in bits 0 to 5.
template <int L>
constexpr CatalogueBit kLockBits[] = {{0, {L, 0}}, {1, {L, 1}}, {2, {L, 2}},
                                      {3, {L, 3}}, {4, {L, 4}}, {5, {L, 5}}};
template <int L>
constexpr CatalogueBox kLockBoxes[] = {{3, {L, 0}}, {4, {L, 1}}, {5, {L, 2}},
                                       {6, {L, 3}}, {7, {L, 4}}, {8, {L, 5}}};
// The lock read and the write of the ATmega161, 163 and 128: the six bits in the fourth byte.
template <int L> constexpr I kLockRead6{{0x58, 0x00, 0x00, 0x00}, 3, kLockBits<L>};
template <int L> constexpr I kLockWrite6{{0xAC, 0xFF, 0xFF, 0xFF}, 3, kLockBits<L>};
// The others take LB1 and LB2 in bits 1 and 2 of the write's second byte, their lock byte's
// bits 1 and 2.
template <int L> constexpr CatalogueBit kLb12[] = {{1, {L, 1}}, {2, {L, 2}}};
template <int L> constexpr I kLockWrite2{{0xAC, 0xFF, 0xFF, 0xFF}, 1, kLb12<L>};

// ATmega128: extended, high and low byte. SPIEN (high bit 5) is out of reach of serial
// programming: it is written as programmed, the state the chip must be in to be talking to us
// at all.
constexpr CatalogueBit kExtended128[] = {{0, {2, 0}}, {1, {2, 1}}};
constexpr CatalogueBit kHighWrite128[] = {{0, {1, 0}}, {1, {1, 1}}, {2, {1, 2}}, {3, {1, 3}},
                                          {4, {1, 4}}, {6, {1, 6}}, {7, {1, 7}}};
constexpr I kReads128[] = {{{0x50, 0x08, 0x00, 0x00}, 3, kExtended128},
                           {{0x58, 0x08, 0x00, 0x00}, 3, kWhole<1>},
                           {{0x50, 0x00, 0x00, 0x00}, 3, kWhole<0>}};
constexpr I kWrites128[] = {{{0xAC, 0xA4, 0xFF, 0xFF}, 3, kExtended128},
                            {{0xAC, 0xA8, 0xFF, 0xDF}, 3, kHighWrite128},
                            {{0xAC, 0xA0, 0xFF, 0xFF}, 3, kWhole<0>}};
constexpr CatalogueBox kBoxes128[] = {
    {17, {2, 1}}, {18, {2, 0}}, {19, {1, 7}}, {20, {1, 6}}, {21, {1, 5}}, {22, {1, 4}},
    {23, {1, 3}}, {24, {1, 2}}, {25, {1, 1}}, {26, {1, 0}}, {27, {0, 7}}, {28, {0, 6}},
    {29, {0, 5}}, {30, {0, 4}}, {31, {0, 3}}, {32, {0, 2}}, {33, {0, 1}}, {34, {0, 0}},
    {3, {3, 0}},  {4, {3, 1}},  {5, {3, 2}},  {6, {3, 3}},  {7, {3, 4}},  {8, {3, 5}}};

// ATmega163: low byte BODLEVEL, BODEN, CKSEL3..0; high byte BOOTSZ1, BOOTSZ0, BOOTRST.
constexpr CatalogueBit kHigh163[] = {{0, {1, 0}}, {1, {1, 1}}, {2, {1, 2}}};
constexpr CatalogueBit kLow163[] = {{0, {0, 0}}, {1, {0, 1}}, {2, {0, 2}},
                                    {3, {0, 3}}, {6, {0, 6}}, {7, {0, 7}}};
constexpr I kReads163[] = {{{0x58, 0x08, 0x00, 0xFF}, 3, kHigh163},
                           {{0x50, 0x00, 0x00, 0x00}, 3, kLow163}};
constexpr I kWrites163[] = {{{0xAC, 0xA0, 0xFF, 0xFF}, 3, kLow163},
                            {{0xAC, 0xA8, 0xFF, 0xFF}, 3, kHigh163}};
constexpr CatalogueBox kBoxes163[] = {{43, {1, 2}}, {44, {1, 1}}, {45, {1, 0}}, {46, {0, 7}},
                                      {47, {0, 6}}, {48, {0, 3}}, {49, {0, 2}}, {50, {0, 1}},
                                      {51, {0, 0}}, {3, {2, 0}},  {4, {2, 1}},  {5, {2, 2}},
                                      {6, {2, 3}},  {7, {2, 4}},  {8, {2, 5}}};

// ATmega161: SPIEN is shown as read but never written: serial programming must not switch itself
// off.
constexpr CatalogueBit kRead161[] = {{0, {0, 0}}, {1, {0, 1}}, {2, {0, 2}}, {3, {0, 3}},
                                     {4, {0, 4}}, {5, {0, 5}}, {6, {0, 6}}};
constexpr CatalogueBit kWrite161[] = {{0, {0, 0}}, {1, {0, 1}}, {2, {0, 2}},
                                      {3, {0, 3}}, {4, {0, 4}}, {6, {0, 6}}};
constexpr I kReads161[] = {{{0x50, 0x00, 0x00, 0x00}, 3, kRead161}};
constexpr I kWrites161[] = {{{0xAC, 0xA0, 0xFF, 0xFF}, 3, kWrite161}};
constexpr CatalogueBox kBoxes161[] = {{36, {0, 6}}, {37, {0, 5}}, {38, {0, 4}}, {39, {0, 3}},
                                      {40, {0, 2}}, {41, {0, 1}}, {42, {0, 0}}, {3, {1, 0}},
                                      {4, {1, 1}},  {5, {1, 2}},  {6, {1, 3}},  {7, {1, 4}},
                                      {8, {1, 5}}};

// ATmega103: the fuse byte x x SPIEN x EESAVE x SUT1 SUT0; the write takes it in the second byte
// as 1 0 1 1 EESAVE 1 SUT1 SUT0.
constexpr CatalogueBit kRead103[] = {{0, {0, 0}}, {1, {0, 1}}, {3, {0, 3}}, {5, {0, 5}}};
constexpr CatalogueBit kWrite103[] = {{0, {0, 0}}, {1, {0, 1}}, {3, {0, 3}}};
constexpr I kReads103[] = {{{0x50, 0x00, 0x00, 0xFF}, 3, kRead103}};
constexpr I kWrites103[] = {{{0xAC, 0xB4, 0x00, 0x00}, 1, kWrite103}};
constexpr CatalogueBox kBoxes103[] = {{57, {0, 0}}, {56, {0, 1}}, {54, {0, 3}},
                                      {55, {0, 5}}, {53, {1, 1}}, {52, {1, 2}}};

// ATtiny12: BODLEVEL, BODEN, SPIEN, RSTDISBL, CKSEL3..0; LB1 and LB2 in the AT90S lock group.
constexpr I kReadsTiny12[] = {{{0x50, 0x00, 0x00, 0x00}, 3, kWhole<0>}};
constexpr I kWritesTiny12[] = {{{0xAC, 0xA0, 0xFF, 0xFF}, 3, kWhole<0>}};
constexpr CatalogueBox kBoxesTiny12[] = {{58, {0, 7}}, {59, {0, 6}}, {60, {0, 5}}, {61, {0, 4}},
                                         {62, {0, 3}}, {63, {0, 2}}, {64, {0, 1}}, {65, {0, 0}},
                                         {1, {1, 1}},  {2, {1, 2}}};

// The AT90S parts are read with the ATmega128's sequence. The one fuse of those that have one
// lands in bit 0 of the lock and fuse byte that the high-byte read returns, SPIEN in bit 5; the
// fuse is written as AC 1011 111F, which cannot reach SPIEN.
constexpr CatalogueBit kFuseAT90S[] = {{0, {0, 0}}};
constexpr CatalogueBit kFuseReadAT90S[] = {{0, {0, 0}}, {5, {0, 5}}};
constexpr I kReadsAT90S[] = {{{0x50, 0x08, 0x00, 0x00}, 3, {}},
                             {{0x58, 0x08, 0x00, 0x00}, 3, kFuseReadAT90S},
                             {{0x50, 0x00, 0x00, 0x00}, 3, {}}};
constexpr I kWritesAT90S[] = {{{0xAC, 0xBF, 0xFF, 0x00}, 1, kFuseAT90S}};
// Their LB1 and LB2 sit at the top of the lock and fuse byte.
template <int L> constexpr CatalogueBit kLockReadAT90S[] = {{7, {L, 1}}, {6, {L, 2}}};
template <int L> constexpr CatalogueBox kBoxesAT90S[] = {{35, {0, 0}}, {1, {L, 1}}, {2, {L, 2}}};
constexpr CatalogueBox kBoxesAT90SNoFuse[] = {{1, {0, 1}}, {2, {0, 2}}};

constexpr std::array<std::uint8_t, 4> kReadLock{0x58, 0x00, 0x00, 0x00};
constexpr I kLockReadAT90S1{kReadLock, 3, kLockReadAT90S<1>};
constexpr I kLockReadAT90S0{kReadLock, 3, kLockReadAT90S<0>};
constexpr I kLockReadLow1{kReadLock, 3, kLb12<1>};

constexpr const char* kConfirmFuses128 =
    "Are you sure?\r"
    "Incorrect settings may cause problems\r"
    "\r"
    "Due to power availabity on the standart PC port, the clock settings could\r"
    "result in drawing too much power to perform operations reliably or at all\r"
    "If the ATmega appears not-respondent then try to increase the voltage,\r"
    "and/or disconnect crystal and use clock from programmer";

constexpr std::span<const I> kNoFuses{};

// The ATmega128's presets: factory default (internal RC at 1 MHz, M103C, JTAGEN and SPIEN
// programmed), an external low-frequency crystal (CKSEL 0000, SUT 10) and an external
// high-frequency one (CKSEL 1111, SUT 00).
constexpr CataloguePreset kPresets128[] = {{"factory-default", {0xE1, 0x99, 0xFD}},
                                           {"low-frequency", {0xE0, 0xD1, 0xFF}},
                                           {"high-frequency", {0xCF, 0xD1, 0xFF}}};

// clang-format off
// In the order identification tests the signatures: part, processor-type text, device class,
// wait after a page write, editor pages (notebooks 1 to 4), caption of CheckBox35, fuse group;
// fuse reads, fuse writes, lock read, lock write, lock read echoed, editor boxes,
// calibration, fuse confirmation, presets.
constexpr CataloguePart kRows[] = {
    {"AT90S8515", {"AT90S8515 (8kb flash)", 0, 0, kAt90s, nullptr, nullptr, kAt90s, nullptr, FuseGroup::Hidden},
     kReadsAT90S, kNoFuses, kLockReadAT90S0, kLockWrite2<0>, 0x00, kBoxesAT90SNoFuse, false, nullptr, {}},
    {"AT90S8535", {"AT90S8535 (8kb flash)", 0, 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT", FuseGroup::Shown},
     kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, false, nullptr, {}},
    {"AT90S4414", {"AT90S4414 (4kb flash)", 1, 0, kAt90s, nullptr, nullptr, kAt90s, nullptr, FuseGroup::Hidden},
     kReadsAT90S, kNoFuses, kLockReadAT90S0, kLockWrite2<0>, 0x00, kBoxesAT90SNoFuse, false, nullptr, {}},
    {"AT90S4434", {"AT90S4434 (4kb flash)", 1, 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT", FuseGroup::Shown},
     kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, false, nullptr, {}},
    {"ATmega128", {"ATmega128 (128kb flash)", 2, 6, kMega, "128", "LB128", nullptr, nullptr, FuseGroup::Unchanged},
     kReads128, kWrites128, kLockRead6<3>, kLockWrite6<3>, 0x00, kBoxes128, false, kConfirmFuses128, kPresets128},
    {"ATmega103", {"ATmega103 (128kb flash)", 2, 6, kMega, "103", "LB103", nullptr, nullptr, FuseGroup::Unchanged},
     kReads103, kWrites103, kLockReadLow1, kLockWrite2<1>, 0x39, kBoxes103, false, nullptr, {}},
    {"AT90S2313", {"AT90S2313 (2kb flash)", 3, 0, kAt90s, nullptr, nullptr, kAt90s, nullptr, FuseGroup::Hidden},
     kReadsAT90S, kNoFuses, kLockReadAT90S0, kLockWrite2<0>, 0x00, kBoxesAT90SNoFuse, false, nullptr, {}},
    {"AT90S2323", {"AT90S2323 (2kb flash)", 3, 0, kAt90s, nullptr, nullptr, kAt90s, "FSTRT", FuseGroup::Shown},
     kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, false, nullptr, {}},
    {"AT90S2343", {"AT90S2343 (2kb flash)", 3, 0, kAt90s, nullptr, nullptr, kAt90s, "RCEN", FuseGroup::Shown},
     kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, false, nullptr, {}},
    {"ATmega161", {"ATmega161 (16kb flash)", 4, 18, kMega, "161", "LB128", nullptr, nullptr, FuseGroup::Unchanged},
     kReads161, kWrites161, kLockRead6<1>, kLockWrite6<1>, 0x00, kBoxes161, false, nullptr, {}},
    {"ATmega163", {"ATmega163 (16kb flash)", 4, 18, kMega, "163", "LB128", nullptr, nullptr, FuseGroup::Unchanged},
     kReads163, kWrites163, kLockRead6<2>, kLockWrite6<2>, 0x00, kBoxes163, false, nullptr, {}},
    {"ATtiny12", {"ATtiny12 (1kb flash)", 5, 0, kAt90s, nullptr, nullptr, "ATtiny", nullptr, FuseGroup::Unchanged},
     kReadsTiny12, kWritesTiny12, kLockReadLow1, kLockWrite2<1>, 0x3F, kBoxesTiny12, true, nullptr, {}},
};
// clang-format on

constexpr const char* kSelectBootSize = "Select Boot Size";
constexpr const char* kStartUpTime = "Select start-up time";
constexpr const char* kClockSource = "Select Clock source";

using S = EditorSection;

// The boxes of the lock and fuse editors, one layout for the twelve parts.
// clang-format off
// number, section, caption, hint, state label, column, starts checked, enabled, label enabled,
// inert
constexpr EditorBox kBoxes[] = {
    {10, S::LB128, "7", "", 0, "", false, false, true, true},
    {9, S::LB128, "6", "", 0, "", false, false, true, true},
    {8, S::LB128, "BLB12", "Boot lock bit 12", 0, "", false, true, true, false},
    {7, S::LB128, "BLB11", "Boot lock bit 11", 0, "", false, true, true, false},
    {6, S::LB128, "BLB02", "Boot lock bit 02", 0, "", false, true, true, false},
    {5, S::LB128, "BLB01", "Boot lock bit 01", 0, "", false, true, true, false},
    {4, S::LB128, "LB2", "Lock bit 2", 0, "", false, true, true, false},
    {3, S::LB128, "LB1", "Lock bit 1", 0, "", false, true, true, false},

    {52, S::LB103, "LB2", "Lock Bit 2", 55, "", false, true, true, false},
    {53, S::LB103, "LB1", "Lock Bit 1", 56, "", false, true, true, false},

    {2, S::LockAT90S, "LB2", "", 10, "", false, true, true, false},
    {1, S::LockAT90S, "LB1", "", 32, "", false, true, true, false},

    {11, S::Fuse128, "7", "", 0, "Extended", false, false, true, true},
    {12, S::Fuse128, "6", "", 0, "Extended", false, false, true, true},
    {13, S::Fuse128, "5", "", 0, "Extended", false, false, true, true},
    {14, S::Fuse128, "4", "", 0, "Extended", false, false, true, true},
    {15, S::Fuse128, "3", "", 0, "Extended", false, false, true, true},
    {16, S::Fuse128, "2", "", 0, "Extended", false, false, true, true},
    {17, S::Fuse128, "M103C", "ATmega103 compatibility mode", 14, "Extended", false, true, true, false},
    {18, S::Fuse128, "WDTON", "Watchdog Timer always on", 15, "Extended", false, true, true, false},
    {19, S::Fuse128, "OCDEN", "Enable OCD", 16, "Hi", false, true, true, false},
    {20, S::Fuse128, "JTAGEN", "Enable JTAG", 17, "Hi", false, true, true, false},
    {21, S::Fuse128, "SPIEN", "Enable Serial Program and Data Downloading ", 18, "Hi", false, false, false, false},
    {22, S::Fuse128, "CKOPT", "Oscillator options", 19, "Hi", false, true, true, false},
    {23, S::Fuse128, "EESAVE", "EEPROM memory is preserved through the Chip Erase", 20, "Hi", false, true, true, false},
    {24, S::Fuse128, "BOOTSZ1", kSelectBootSize, 21, "Hi", false, true, true, false},
    {25, S::Fuse128, "BOOTSZ0", kSelectBootSize, 22, "Hi", false, true, true, false},
    {26, S::Fuse128, "BOOTRST", "Select Reset Vector", 23, "Hi", false, true, true, false},
    {27, S::Fuse128, "BODLEVEL", "Brown out detector trigger level", 24, "Low", false, true, true, false},
    {28, S::Fuse128, "BODEN", "Brown out detector enable", 25, "Low", false, true, true, false},
    {29, S::Fuse128, "SUT1", kStartUpTime, 26, "Low", false, true, true, false},
    {30, S::Fuse128, "SUT0", kStartUpTime, 27, "Low", false, true, true, false},
    {31, S::Fuse128, "CKSEL3", kClockSource, 28, "Low", false, true, true, false},
    {32, S::Fuse128, "CKSEL2", kClockSource, 29, "Low", false, true, true, false},
    {33, S::Fuse128, "CKSEL1", kClockSource, 30, "Low", false, true, true, false},
    {34, S::Fuse128, "CKSEL0", kClockSource, 31, "Low", false, true, true, false},

    {43, S::Fuse163, "BOOTSZ1", "", 45, "Hi", false, true, true, false},
    {44, S::Fuse163, "BOOTSZ0", "", 46, "Hi", false, true, true, false},
    {45, S::Fuse163, "BOOTRST", "", 47, "Hi", false, true, true, false},
    {46, S::Fuse163, "BODLEVEL", "", 48, "Lo", false, true, true, false},
    {47, S::Fuse163, "BODEN", "", 49, "Lo", false, true, true, false},
    {48, S::Fuse163, "CKSEL3", "", 50, "Lo", false, true, true, false},
    {49, S::Fuse163, "CKSEL2", "", 51, "Lo", false, true, true, false},
    {50, S::Fuse163, "CKSEL1", "", 52, "Lo", false, true, true, false},
    {51, S::Fuse163, "CKSEL0", "", 53, "Lo", false, true, true, false},

    {36, S::Fuse161, "BOOTRST", "", 35, "", false, true, true, false},
    {37, S::Fuse161, "SPIEN", "", 36, "", false, false, false, false},
    {38, S::Fuse161, "BODLEVEL", "", 37, "", false, true, true, false},
    {39, S::Fuse161, "BODEN", "", 38, "", false, true, true, false},
    {40, S::Fuse161, "CKSEL2", "", 39, "", false, true, true, false},
    {41, S::Fuse161, "CKSEL1", "", 40, "", false, true, true, false},
    {42, S::Fuse161, "CKSEL0", "", 41, "", false, true, true, false},

    {54, S::Fuse103, "EESAVE", "", 58, "", false, true, true, false},
    {55, S::Fuse103, "SPIEN", "", 59, "", false, false, true, false},
    {56, S::Fuse103, "SUT1", "", 60, "", false, true, true, false},
    {57, S::Fuse103, "SUT0", "", 61, "", false, true, true, false},

    {35, S::FuseAT90S, "FSTRT", "", 33, "", false, true, true, false},

    {58, S::FuseATtiny, "BODLEVEL", "", 64, "", false, true, true, false},
    {59, S::FuseATtiny, "BODEN", "", 65, "", false, true, true, false},
    {60, S::FuseATtiny, "SPIEN", "", 66, "", true, false, true, false},
    {61, S::FuseATtiny, "RSTDISBL", "", 67, "", false, false, true, false},
    {62, S::FuseATtiny, "CKSEL3", "", 68, "", false, true, true, false},
    {63, S::FuseATtiny, "CKSEL2", "", 69, "", false, true, true, false},
    {64, S::FuseATtiny, "CKSEL1", "", 70, "", false, true, true, false},
    {65, S::FuseATtiny, "CKSEL0", "", 71, "", false, true, true, false},
};
// clang-format on

// The ATmega128A is the ATmega128 under another name; its datasheet names the low fuse's clock
// and start-up bits SUT_CKSEL0 to SUT_CKSEL5.
AvrPart Mega128A(AvrPart part)
{
    part.name = "ATmega128A";
    part.variantOf = "ATmega128";
    part.fuses[0].bits = {"SUT_CKSEL0", "SUT_CKSEL1", "SUT_CKSEL2", "SUT_CKSEL3",
                          "SUT_CKSEL4", "SUT_CKSEL5", "BODEN",      "BODLEVEL"};
    return part;
}

// clang-format off
const AvrPart kMega128 =
{.name = "ATmega128", .signature = {0x1E, 0x97, 0x02},
 .flashBytes = 131072, .flashPageBytes = 256, .eepromBytes = 4096, .eepromPageBytes = 8,
 .flashWriteUs = 4500, .eepromWriteUs = 9000, .chipEraseUs = 9000,
 .flashMode = 0x21, .eepromMode = 0x04, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0xFF, 0xFF},
 .instructions = {
     .readLo = "00100000aaaaaaaaaaaaaaaaoooooooo",
     .readHi = "00101000aaaaaaaaaaaaaaaaoooooooo",
     .loadLo = "01000000xxxxxxxxxaaaaaaaiiiiiiii",
     .loadHi = "01001000xxxxxxxxxaaaaaaaiiiiiiii",
     .writePage = "01001100aaaaaaaaaxxxxxxxxxxxxxxx",
     .eepromRead = "10100000xxxxaaaaaaaaaaaaoooooooo",
     .eepromWrite = "11000000xxxxaaaaaaaaaaaaiiiiiiii",
     .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
     .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
     .lockRead = "0101100000000000xxxxxxxxoooooooo",
     .lockWrite = "10101100111xxxxxxxxxxxxx11iiiiii",
     .calibrationRead = "00111000xxxxxxxx000000aaoooooooo",
 },
 .lockBits = {"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12", nullptr, nullptr},
 .catalogued = true,
 .fuseCount = 3,
 .fuses = {{
     {.name = "lfuse", .read = "0101000000000000xxxxxxxxoooooooo", .write = "1010110010100000xxxxxxxxiiiiiiii", .factory = 0xE1,
      .bits = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "SUT0", "SUT1", "BODEN", "BODLEVEL"},
      .descriptions = {"", "", "", "", "", "", "", ""}},
     {.name = "hfuse", .read = "0101100000001000xxxxxxxxoooooooo", .write = "1010110010101000xxxxxxxxiiiiiiii", .factory = 0x99,
      .bits = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "JTAGEN", "OCDEN"},
      .descriptions = {"", "", "", "", "", "", "", ""}},
     {.name = "efuse", .read = "0101000000001000xxxxxxxxoooooooo", .write = "1010110010100100xxxxxxxxxxxxxxii", .factory = 0xFD,
      .bits = {"WDTON", "M103C", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      .descriptions = {"", "", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
 }},
 .flashWriteMinUs = 0, .eepromWriteMinUs = 0, .chipEraseMinUs = 0,
 .fuseWriteUs = 4500, .fuseWriteMinUs = 4500, .lockWriteUs = 4500, .lockWriteMinUs = 4500,
 .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x00, 0x20, 0x00},
 .bitsLayout = AvrBitsLayout::ATmega128};
// clang-format on

// The parts of the first catalogue as their datasheets give them (the generator leaves their
// signatures out): sizes, instruction patterns, lock and fuse bits, factory values and both ends of
// each write time. Where the data the generator reads differs, these hold: the AT90S's lock read
// answers LB1 and LB2 in bits 7 and 6, the ATmega163's low fuse has SPIEN in bit 5 (neither
// read nor written by serial programming, programmed on every chip that answers it), the ATtiny12
// writes every fuse bit, SPIEN included, and the times are the datasheets'.
// clang-format off
const AvrPart kOwnRows[] = {
    {.name = "AT90S2313", .signature = {0x1E, 0x91, 0x01},
     .flashBytes = 2048, .flashPageBytes = 0, .eepromBytes = 128, .eepromPageBytes = 0,
     .flashWriteUs = 9000, .eepromWriteUs = 9000, .chipEraseUs = 20000,
     .flashMode = 0x04, .eepromMode = 0x04, .flashReadback = {0x7F, 0x7F}, .eepromReadback = {0x80, 0x7F},
     .instructions = {
         .readLo = "00100000xxxxxxaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxxxaaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxxxaaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxxxaaaaaaaaaaiiiiiiii",
         .eepromRead = "10100000xxxxxxxxxaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxxxaaaaaaaiiiiiiii",
         .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockWrite = "10101100111xxiixxxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 0,
     .flashWriteMinUs = 4000, .eepromWriteMinUs = 4000, .chipEraseMinUs = 20000,
     .fuseWriteUs = 0, .fuseWriteMinUs = 0, .lockWriteUs = 9000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x00, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::At90sLockOnly},
    {.name = "AT90S2323", .signature = {0x1E, 0x91, 0x02},
     .flashBytes = 2048, .flashPageBytes = 0, .eepromBytes = 128, .eepromPageBytes = 0,
     .flashWriteUs = 20000, .eepromWriteUs = 20000, .chipEraseUs = 18000,
     .flashMode = 0x04, .eepromMode = 0x04, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0x00, 0xFF},
     .instructions = {
         .readLo = "00100000xxxxxxaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxxxaaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxxxaaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxxxaaaaaaaaaaiiiiiiii",
         .eepromRead = "1010000000000000xaaaaaaaoooooooo",
         .eepromWrite = "1100000000000000xaaaaaaaiiiiiiii",
         .chipErase = "10101100100xxxxxxxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockRead = "01011000xxxxxxxxxxxxxxxxoooxxxxo",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 1,
     .fuses = {{
         {.name = "fuse", .read = "01011000xxxxxxxxxxxxxxxxoooxxxxo", .write = "101011001011111ixxxxxxxxxxxxxxxx", .factory = 0xDF,
          .bits = {"FSTRT", nullptr, nullptr, nullptr, nullptr, "SPIEN", nullptr, nullptr},
          .descriptions = {"", nullptr, nullptr, nullptr, nullptr, "", nullptr, nullptr}},
     }},
     .flashWriteMinUs = 9000, .eepromWriteMinUs = 9000, .chipEraseMinUs = 18000,
     .fuseWriteUs = 20000, .fuseWriteMinUs = 9000, .lockWriteUs = 20000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::At90sLockAndFuse, .fuseAfterPowerUp = true},
    {.name = "AT90S2343", .signature = {0x1E, 0x91, 0x03},
     .flashBytes = 2048, .flashPageBytes = 0, .eepromBytes = 128, .eepromPageBytes = 0,
     .flashWriteUs = 20000, .eepromWriteUs = 20000, .chipEraseUs = 18000,
     .flashMode = 0x04, .eepromMode = 0x04, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0x00, 0xFF},
     .instructions = {
         .readLo = "00100000xxxxxxaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxxxaaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxxxaaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxxxaaaaaaaaaaiiiiiiii",
         .eepromRead = "1010000000000000xaaaaaaaoooooooo",
         .eepromWrite = "1100000000000000xaaaaaaaiiiiiiii",
         .chipErase = "10101100100xxxxxxxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockRead = "01011000xxxxxxxxxxxxxxxxoooxxxxo",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 1,
     .fuses = {{
         {.name = "fuse", .read = "01011000xxxxxxxxxxxxxxxxoooxxxxo", .write = "101011001011111ixxxxxxxxxxxxxxxx", .factory = 0xDE,
          .bits = {"RCEN", nullptr, nullptr, nullptr, nullptr, "SPIEN", nullptr, nullptr},
          .descriptions = {"", nullptr, nullptr, nullptr, nullptr, "", nullptr, nullptr}},
     }},
     .flashWriteMinUs = 9000, .eepromWriteMinUs = 9000, .chipEraseMinUs = 18000,
     .fuseWriteUs = 20000, .fuseWriteMinUs = 9000, .lockWriteUs = 20000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::At90sLockAndFuse, .fuseAfterPowerUp = true},
    {.name = "AT90S4414", .signature = {0x1E, 0x92, 0x01},
     .flashBytes = 4096, .flashPageBytes = 0, .eepromBytes = 256, .eepromPageBytes = 0,
     .flashWriteUs = 20000, .eepromWriteUs = 20000, .chipEraseUs = 20000,
     .flashMode = 0x04, .eepromMode = 0x04, .flashReadback = {0x7F, 0x7F}, .eepromReadback = {0x80, 0x7F},
     .instructions = {
         .readLo = "00100000xxxxaaaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxaaaaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxaaaaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxaaaaaaaaaaaaiiiiiiii",
         .eepromRead = "10100000xxxxxxxaaaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxaaaaaaaaaiiiiiiii",
         .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 0,
     .flashWriteMinUs = 9000, .eepromWriteMinUs = 9000, .chipEraseMinUs = 20000,
     .fuseWriteUs = 0, .fuseWriteMinUs = 0, .lockWriteUs = 9000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x00, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::At90sLockOnly},
    {.name = "AT90S4434", .signature = {0x1E, 0x92, 0x02},
     .flashBytes = 4096, .flashPageBytes = 0, .eepromBytes = 256, .eepromPageBytes = 0,
     .flashWriteUs = 20000, .eepromWriteUs = 20000, .chipEraseUs = 20000,
     .flashMode = 0x00, .eepromMode = 0x00, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0x00, 0xFF},
     .instructions = {
         .readLo = "00100000xxxxxaaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxxaaaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxxaaaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxxaaaaaaaaaaaiiiiiiii",
         .eepromRead = "10100000xxxxxxxxaaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxxaaaaaaaaiiiiiiii",
         .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockRead = "01011000xxxxxxxxxxxxxxxxxxxxxoox",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 1,
     .fuses = {{
         {.name = "fuse", .read = "01011000xxxxxxxxxxxxxxxxxxoxxxxo", .write = "101011001011111ixxxxxxxxxxxxxxxx", .factory = 0xDF,
          .bits = {"FSTRT", nullptr, nullptr, nullptr, nullptr, "SPIEN", nullptr, nullptr},
          .descriptions = {"Short Start-up time selected", nullptr, nullptr, nullptr, nullptr, "Serial Program Downloading Enabled", nullptr, nullptr}},
     }},
     .flashWriteMinUs = 9000, .eepromWriteMinUs = 9000, .chipEraseMinUs = 20000,
     .fuseWriteUs = 20000, .fuseWriteMinUs = 9000, .lockWriteUs = 20000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::At90sLockAndFuse},
    {.name = "AT90S8515", .signature = {0x1E, 0x93, 0x01},
     .flashBytes = 8192, .flashPageBytes = 0, .eepromBytes = 512, .eepromPageBytes = 0,
     .flashWriteUs = 9000, .eepromWriteUs = 9000, .chipEraseUs = 20000,
     .flashMode = 0x04, .eepromMode = 0x04, .flashReadback = {0x7F, 0x7F}, .eepromReadback = {0x80, 0x7F},
     .instructions = {
         .readLo = "00100000xxxxaaaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxaaaaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxaaaaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxaaaaaaaaaaaaiiiiiiii",
         .eepromRead = "10100000xxxxxxxaaaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxaaaaaaaaaiiiiiiii",
         .chipErase = "10101100100xxxxxxxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 0,
     .flashWriteMinUs = 4000, .eepromWriteMinUs = 4000, .chipEraseMinUs = 20000,
     .fuseWriteUs = 0, .fuseWriteMinUs = 0, .lockWriteUs = 9000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x00, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::At90sLockOnly},
    {.name = "AT90S8535", .signature = {0x1E, 0x93, 0x03},
     .flashBytes = 8192, .flashPageBytes = 0, .eepromBytes = 512, .eepromPageBytes = 0,
     .flashWriteUs = 20000, .eepromWriteUs = 20000, .chipEraseUs = 20000,
     .flashMode = 0x04, .eepromMode = 0x04, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0x00, 0xFF},
     .instructions = {
         .readLo = "00100000xxxxaaaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxaaaaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxaaaaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxaaaaaaaaaaaaiiiiiiii",
         .eepromRead = "10100000xxxxxxxaaaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxaaaaaaaaaiiiiiiii",
         .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockRead = "01011000xxxxxxxxxxxxxxxxooxxxxxx",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 1,
     .fuses = {{
         {.name = "fuse", .read = "01011000xxxxxxxxxxxxxxxxxxoxxxxo", .write = "101011001011111ixxxxxxxxxxxxxxxx", .factory = 0xDF,
          .bits = {"FSTRT", nullptr, nullptr, nullptr, nullptr, "SPIEN", nullptr, nullptr},
          .descriptions = {"Short Start-up time selected", nullptr, nullptr, nullptr, nullptr, "Serial Program Downloading Enabled", nullptr, nullptr}},
     }},
     .flashWriteMinUs = 9000, .eepromWriteMinUs = 9000, .chipEraseMinUs = 20000,
     .fuseWriteUs = 9000, .fuseWriteMinUs = 9000, .lockWriteUs = 9000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::At90sLockAndFuse},
    {.name = "ATmega103", .signature = {0x1E, 0x97, 0x01},
     .flashBytes = 131072, .flashPageBytes = 256, .eepromBytes = 4096, .eepromPageBytes = 0,
     .flashWriteUs = 56000, .eepromWriteUs = 9000, .chipEraseUs = 112000,
     .flashMode = 0x11, .eepromMode = 0x04, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0x80, 0x7F},
     .instructions = {
         .readLo = "00100000aaaaaaaaaaaaaaaaoooooooo",
         .readHi = "00101000aaaaaaaaaaaaaaaaoooooooo",
         .loadLo = "01000000xxxxxxxxxaaaaaaaiiiiiiii",
         .loadHi = "01001000xxxxxxxxxaaaaaaaiiiiiiii",
         .writePage = "01001100aaaaaaaaaxxxxxxxxxxxxxxx",
         .eepromRead = "10100000xxxxaaaaaaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxaaaaaaaaaaaaiiiiiiii",
         .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockRead = "01011000xxxxxxxxxxxxxxxxxxxxxoox",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 1,
     .fuses = {{
         {.name = "fuse", .read = "01010000xxxxxxxxxxxxxxxxxxoxo1oo", .write = "101011001011i1iixxxxxxxxxxxxxxxx", .factory = 0xDF,
          .bits = {"SUT0", "SUT1", nullptr, "EESAVE", nullptr, "SPIEN", nullptr, nullptr},
          .descriptions = {"Select start-up time", "Select start-up time", nullptr, "EEPROM memory is preserved through chip erase", nullptr, "Serial Program Downloading Enabled", nullptr, nullptr}},
     }},
     .flashWriteMinUs = 22000, .eepromWriteMinUs = 4000, .chipEraseMinUs = 112000,
     .fuseWriteUs = 9000, .fuseWriteMinUs = 9000, .lockWriteUs = 9000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::ATmega103},
    kMega128,
    Mega128A(kMega128),
    {.name = "ATmega161", .signature = {0x1E, 0x94, 0x01},
     .flashBytes = 16384, .flashPageBytes = 128, .eepromBytes = 512, .eepromPageBytes = 0,
     .flashWriteUs = 14000, .eepromWriteUs = 3400, .chipEraseUs = 28000,
     .flashMode = 0x21, .eepromMode = 0x04, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0xFF, 0xFF},
     .instructions = {
         .readLo = "00100000xxxaaaaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxaaaaaaaaaaaaaoooooooo",
         .loadLo = "01000000xxxxxxxxxxaaaaaaiiiiiiii",
         .loadHi = "01001000xxxxxxxxxxaaaaaaiiiiiiii",
         .writePage = "01001100xxxaaaaaaaxxxxxxxxxxxxxx",
         .eepromRead = "10100000xxxxxxxaaaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxaaaaaaaaaiiiiiiii",
         .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockRead = "0101100000000000xxxxxxxxoooooooo",
         .lockWrite = "10101100111xxxxxxxxxxxxx11iiiiii",
     },
     .lockBits = {"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12", nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 1,
     .fuses = {{
         {.name = "fuse", .read = "01010000xxxxxxxxxxxxxxxxxoxooooo", .write = "10101100101xxxxxxxxxxxxx1i1iiiii", .factory = 0xDA,
          .bits = {"CKSEL0", "CKSEL1", "CKSEL2", "BODEN", "BODLEVEL", "SPIEN", "BOOTRST", nullptr},
          .descriptions = {"", "", "", "", "", "", "", nullptr}},
     }},
     .flashWriteMinUs = 0, .eepromWriteMinUs = 0, .chipEraseMinUs = 0,
     .fuseWriteUs = 2000, .fuseWriteMinUs = 2000, .lockWriteUs = 2000, .lockWriteMinUs = 2000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::ATmega161},
    {.name = "ATmega163", .signature = {0x1E, 0x94, 0x02},
     .flashBytes = 16384, .flashPageBytes = 128, .eepromBytes = 512, .eepromPageBytes = 0,
     .flashWriteUs = 16000, .eepromWriteUs = 4000, .chipEraseUs = 32000,
     .flashMode = 0x11, .eepromMode = 0x41, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0xFF, 0xFF},
     .instructions = {
         .readLo = "00100000xxxaaaaaaaaaaaaaoooooooo",
         .readHi = "00101000xxxaaaaaaaaaaaaaoooooooo",
         .loadLo = "01000000xxxxxxxxxxaaaaaaiiiiiiii",
         .loadHi = "01001000xxxxxxxxxxaaaaaaiiiiiiii",
         .writePage = "01001100xxxaaaaaaaxxxxxxxxxxxxxx",
         .eepromRead = "10100000xxxxxxxaaaaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxaaaaaaaaaiiiiiiii",
         .chipErase = "1010110010000000xxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxxxxxxxxaaoooooooo",
         .lockRead = "0101100000000000xxxx0xxxoooooooo",
         .lockWrite = "10101100111xxxxxxxxxxxxx11iiiiii",
     .calibrationRead = "00111000xxxxxxxx00000000oooooooo",
     },
     .lockBits = {"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12", nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 2,
     .fuses = {{
         {.name = "lfuse", .read = "0101000000000000xxxxxxxxooxxoooo", .write = "1010110010100000xxxxxxxxii11iiii", .factory = 0xD2,
          .bits = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", nullptr, "SPIEN", "BODEN", "BODLEVEL"},
          .descriptions = {"", "", "", "", nullptr, "", "", ""}},
         {.name = "hfuse", .read = "0101100000001000xxxxxxxxxxxx1ooo", .write = "1010110010101000xxxxxxxx11111iii", .factory = 0xFF,
          .bits = {"BOOTRST", "BOOTSZ0", "BOOTSZ1", nullptr, nullptr, nullptr, nullptr, nullptr},
          .descriptions = {"", "", "", nullptr, nullptr, nullptr, nullptr, nullptr}},
     }},
     .flashWriteMinUs = 0, .eepromWriteMinUs = 0, .chipEraseMinUs = 0,
     .fuseWriteUs = 2000, .fuseWriteMinUs = 2000, .lockWriteUs = 2000, .lockWriteMinUs = 2000,
     .endsWhenProgrammed = {0x00, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::ATmega163},
    {.name = "ATtiny12", .signature = {0x1E, 0x90, 0x05},
     .flashBytes = 1024, .flashPageBytes = 0, .eepromBytes = 64, .eepromPageBytes = 2,
     .flashWriteUs = 20000, .eepromWriteUs = 20000, .chipEraseUs = 20000,
     .flashMode = 0x04, .eepromMode = 0x04, .flashReadback = {0xFF, 0xFF}, .eepromReadback = {0xFF, 0xFF},
     .instructions = {
         .readLo = "00100000xxxxxxxaaaaaaaaaoooooooo",
         .readHi = "00101000xxxxxxxaaaaaaaaaoooooooo",
         .writeLo = "01000000xxxxxxxaaaaaaaaaiiiiiiii",
         .writeHi = "01001000xxxxxxxaaaaaaaaaiiiiiiii",
         .eepromRead = "10100000xxxxxxxxxxaaaaaaoooooooo",
         .eepromWrite = "11000000xxxxxxxxxxaaaaaaiiiiiiii",
         .chipErase = "10101100100xxxxxxxxxxxxxxxxxxxxx",
         .signature = "00110000xxxxxxxx000000aaoooooooo",
         .lockRead = "01011000xxxxxxxxxxxxxxxxxxxxxoox",
         .lockWrite = "1010110011111ii1xxxxxxxxxxxxxxxx",
     .calibrationRead = "00111000xxxxxxxx00000000oooooooo",
     },
     .lockBits = {nullptr, "LB1", "LB2", nullptr, nullptr, nullptr, nullptr, nullptr},
     .catalogued = true,
     .fuseCount = 1,
     .fuses = {{
         {.name = "fuse", .read = "01010000xxxxxxxxxxxxxxxxoooooooo", .write = "10101100101xxxxxxxxxxxxxiiiiiiii", .factory = 0xD2,
          .bits = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3", "RSTDISBL", "SPIEN", "BODEN", "BODLEVEL"},
          .descriptions = {"", "", "", "", "", "", "", ""}},
     }},
     .flashWriteMinUs = 4500, .eepromWriteMinUs = 9000, .chipEraseMinUs = 20000,
     .fuseWriteUs = 9000, .fuseWriteMinUs = 9000, .lockWriteUs = 9000, .lockWriteMinUs = 9000,
     .endsWhenProgrammed = {0x10, 0x00, 0x00}, .endsWhenUnprogrammed = {0x20, 0x00, 0x00},
     .bitsLayout = AvrBitsLayout::ATtiny12},
};
// clang-format on

} // namespace

std::span<const CataloguePart> CatalogueParts()
{
    return kRows;
}

const CataloguePart* FindCataloguePart(std::string_view name)
{
    for (const CataloguePart& part : kRows)
        if (name == part.name)
            return &part;
    return nullptr;
}

bool KeepsLockModes(const CataloguePart& part)
{
    return std::ranges::any_of(part.boxes, [](const CatalogueBox& b) { return b.box == 1; });
}

std::span<const EditorBox> CatalogueEditorBoxes()
{
    return kBoxes;
}

const AvrPart& PartOf(const CataloguePart& part)
{
    for (const AvrPart& row : AvrParts())
        if (std::string_view(row.name) == part.name)
            return row;
    throw std::logic_error(std::string("no part table row for ") + part.name);
}

std::span<const AvrPart> AvrParts()
{
    static const std::vector<AvrPart> parts = [] {
        std::vector<AvrPart> all(GeneratedAvrParts().begin(), GeneratedAvrParts().end());
        all.insert(all.end(), std::begin(kOwnRows), std::end(kOwnRows));
        // In the generator's order: by name, in any case.
        const auto upper = [](const char* name) {
            std::string out(name);
            for (char& c : out)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return out;
        };
        std::stable_sort(all.begin(), all.end(), [&](const AvrPart& a, const AvrPart& b) {
            return upper(a.name) < upper(b.name);
        });
        return all;
    }();
    return parts;
}

} // namespace vardel
