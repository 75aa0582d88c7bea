#include "parts/catalogue_bits.h"

namespace vardel {

namespace {

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
template <int L>
constexpr I kLockRead6{{0x58, 0x00, 0x00, 0x00}, 3, kLockBits<L>};
template <int L>
constexpr I kLockWrite6{{0xAC, 0xFF, 0xFF, 0xFF}, 3, kLockBits<L>};
// The others take LB1 and LB2 in bits 1 and 2 of the write's second byte, their lock byte's
// bits 1 and 2.
template <int L>
constexpr CatalogueBit kLb12[] = {{1, {L, 1}}, {2, {L, 2}}};
template <int L>
constexpr I kLockWrite2{{0xAC, 0xFF, 0xFF, 0xFF}, 1, kLb12<L>};

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
constexpr CatalogueBox kBoxes163[] = {
    {43, {1, 2}}, {44, {1, 1}}, {45, {1, 0}}, {46, {0, 7}}, {47, {0, 6}}, {48, {0, 3}},
    {49, {0, 2}}, {50, {0, 1}}, {51, {0, 0}}, {3, {2, 0}},  {4, {2, 1}},  {5, {2, 2}},
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
// lands in bit 0 of the lock and fuse byte that the high-byte read returns; it is written as
// AC 1011 111F.
constexpr CatalogueBit kFuseAT90S[] = {{0, {0, 0}}};
constexpr I kReadsAT90S[] = {{{0x50, 0x08, 0x00, 0x00}, 3, {}},
                             {{0x58, 0x08, 0x00, 0x00}, 3, kFuseAT90S},
                             {{0x50, 0x00, 0x00, 0x00}, 3, {}}};
constexpr I kWritesAT90S[] = {{{0xAC, 0xBF, 0xFF, 0x00}, 1, kFuseAT90S}};
// Their LB1 and LB2 sit at the top of the lock and fuse byte.
template <int L>
constexpr CatalogueBit kLockReadAT90S[] = {{7, {L, 1}}, {6, {L, 2}}};
template <int L>
constexpr CatalogueBox kBoxesAT90S[] = {{35, {0, 0}}, {1, {L, 1}}, {2, {L, 2}}};
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
// programmed), an external low-frequency crystal, and a high-frequency one with CKOPT.
constexpr int kFactory128[] = {17, 20, 21, 24, 25, 30, 31, 32, 33};
constexpr int kLowFrequency128[] = {21, 23, 24, 25, 30, 31, 32, 33, 34};
constexpr int kHighFrequency128[] = {21, 23, 24, 25, 29, 30};
constexpr CataloguePreset kPresets128[] = {{"factory-default", kFactory128},
                                           {"low-frequency", kLowFrequency128},
                                           {"high-frequency", kHighFrequency128}};

// clang-format off
// part, fuse reads, fuse writes, lock read, lock write, lock read echoed, editor boxes, LB1 and LB2 in the lock
// read, calibration, fuse confirmation, presets
constexpr CatalogueBits kRows[] = {
    {"AT90S2313", kReadsAT90S, kNoFuses, kLockReadAT90S0, kLockWrite2<0>, 0x00, kBoxesAT90SNoFuse, 7, 6, false, nullptr, {}},
    {"AT90S2323", kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, 7, 6, false, nullptr, {}},
    {"AT90S2343", kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, 7, 6, false, nullptr, {}},
    {"AT90S4414", kReadsAT90S, kNoFuses, kLockReadAT90S0, kLockWrite2<0>, 0x00, kBoxesAT90SNoFuse, 7, 6, false, nullptr, {}},
    {"AT90S4434", kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, 7, 6, false, nullptr, {}},
    {"AT90S8515", kReadsAT90S, kNoFuses, kLockReadAT90S0, kLockWrite2<0>, 0x00, kBoxesAT90SNoFuse, 7, 6, false, nullptr, {}},
    {"AT90S8535", kReadsAT90S, kWritesAT90S, kLockReadAT90S1, kLockWrite2<1>, 0x3F, kBoxesAT90S<1>, 7, 6, false, nullptr, {}},
    {"ATmega103", kReads103, kWrites103, kLockReadLow1, kLockWrite2<1>, 0x39, kBoxes103, 1, 2, false, nullptr, {}},
    {"ATmega128", kReads128, kWrites128, kLockRead6<3>, kLockWrite6<3>, 0x00, kBoxes128, 0, 1, false, kConfirmFuses128, kPresets128},
    {"ATmega161", kReads161, kWrites161, kLockRead6<1>, kLockWrite6<1>, 0x00, kBoxes161, 0, 1, false, nullptr, {}},
    {"ATmega163", kReads163, kWrites163, kLockRead6<2>, kLockWrite6<2>, 0x00, kBoxes163, 0, 1, false, nullptr, {}},
    {"ATtiny12", kReadsTiny12, kWritesTiny12, kLockReadLow1, kLockWrite2<1>, 0x3F, kBoxesTiny12, 1, 2, true, nullptr, {}},
};
// clang-format on

constexpr CatalogueBits kNone{nullptr, kReads128, kNoFuses, kLockRead6<3>, kLockWrite6<3>, 0x00,
                              kBoxes128, 0, 1, false, nullptr, {}};

} // namespace

const CatalogueBits* FindCatalogueBits(std::string_view part)
{
    for (const CatalogueBits& row : kRows)
        if (part == row.part)
            return &row;
    return nullptr;
}

const CatalogueBits& UnidentifiedCatalogueBits()
{
    return kNone;
}

} // namespace vardel
