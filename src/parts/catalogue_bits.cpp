#include "parts/catalogue_bits.h"

namespace vardel {

namespace {

// Box numbers are the lock and fuse editor's: 1-2 the AT90S lock group, 3-8 page "LB128", 17-34
// page "128", 35 the AT90S fuse, 36-42 page "161", 43-51 page "163", 52-53 page "LB103", 54-57
// page "103", 58-65 page "ATtiny".

// ATmega128: extended, high and low byte.
constexpr CatalogueBit kExtended128[] = {{0, 18}, {1, 17}};
// SPIEN (bit 5) is out of reach of serial programming on the ATmega128: it is written as
// programmed, the state the chip must be in to be talking to us at all.
constexpr CatalogueBit kHigh128[] = {{0, 26}, {1, 25}, {2, 24}, {3, 23}, {4, 22}, {6, 20}, {7, 19}};
// The AT90S fuse lands in bit 0 of the lock and fuse byte that the high-byte read returns on
// those parts, so the same read fills the AT90S box from it as well.
constexpr CatalogueBit kHigh128Read[] = {{0, 26}, {0, 35}, {1, 25}, {2, 24}, {3, 23},
                                         {4, 22}, {5, 21}, {6, 20}, {7, 19}};
constexpr CatalogueBit kLow128[] = {{0, 34}, {1, 33}, {2, 32}, {3, 31},
                                    {4, 30}, {5, 29}, {6, 28}, {7, 27}};
constexpr CatalogueBitsRead kReads128[] = {{{0x50, 0x08, 0x00, 0x00}, kExtended128},
                                           {{0x58, 0x08, 0x00, 0x00}, kHigh128Read},
                                           {{0x50, 0x00, 0x00, 0x00}, kLow128}};
constexpr CatalogueBitsWrite kWrites128[] = {{{0xAC, 0xA4, 0xFF, 0x00}, 3, 0xFF, kExtended128},
                                             {{0xAC, 0xA8, 0xFF, 0x00}, 3, 0xDF, kHigh128},
                                             {{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kLow128}};

constexpr CatalogueBit kHigh163[] = {{0, 45}, {1, 44}, {2, 43}};
constexpr CatalogueBit kLow163[] = {{0, 51}, {1, 50}, {2, 49}, {3, 48}, {6, 47}, {7, 46}};
constexpr CatalogueBitsRead kReads163[] = {{{0x58, 0x08, 0x00, 0xFF}, kHigh163},
                                           {{0x50, 0x00, 0x00, 0x00}, kLow163}};
constexpr CatalogueBitsWrite kWrites163[] = {{{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kLow163},
                                             {{0xAC, 0xA8, 0xFF, 0x00}, 3, 0xFF, kHigh163}};

// SPIEN is shown as read but never written: serial programming must not switch itself off.
constexpr CatalogueBit kRead161[] = {{0, 42}, {1, 41}, {2, 40}, {3, 39}, {4, 38}, {5, 37}, {6, 36}};
constexpr CatalogueBit kWrite161[] = {{0, 42}, {1, 41}, {2, 40}, {3, 39}, {4, 38}, {6, 36}};
constexpr CatalogueBitsRead kReads161[] = {{{0x50, 0x00, 0x00, 0x00}, kRead161}};
constexpr CatalogueBitsWrite kWrites161[] = {{{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kWrite161}};

constexpr CatalogueBit kRead103[] = {{0, 57}, {1, 56}, {3, 54}, {5, 55}};
constexpr CatalogueBit kWrite103[] = {{0, 57}, {1, 56}, {3, 54}};
constexpr CatalogueBitsRead kReads103[] = {{{0x50, 0x00, 0x00, 0xFF}, kRead103}};
// The ATmega103 takes its fuses in the second byte: 1 0 1 1 EESAVE 1 SUT1 SUT0.
constexpr CatalogueBitsWrite kWrites103[] = {{{0xAC, 0x00, 0x00, 0x00}, 1, 0xB4, kWrite103}};

constexpr CatalogueBit kTiny12[] = {{0, 65}, {1, 64}, {2, 63}, {3, 62},
                                    {4, 61}, {5, 60}, {6, 59}, {7, 58}};
constexpr CatalogueBitsRead kReadsTiny12[] = {{{0x50, 0x00, 0x00, 0x00}, kTiny12}};
constexpr CatalogueBitsWrite kWritesTiny12[] = {{{0xAC, 0xA0, 0xFF, 0x00}, 3, 0xFF, kTiny12}};

// The one fuse of the AT90S parts: AC 1011 111F. It is read with the ATmega128's sequence.
constexpr CatalogueBit kAT90S[] = {{0, 35}};
constexpr CatalogueBitsWrite kWritesAT90S[] = {{{0xAC, 0x00, 0xFF, 0x00}, 1, 0xBF, kAT90S}};

// The lock read: LB1 on page "LB128" from bit 0, LB2 and BLB01 from bits 1 and 2 (the
// ATmega103's LB1 and LB2 on page "LB103"), the boot lock bits from bits 3 to 5.
constexpr CatalogueBit kLockRead[] = {{0, 3}, {1, 4}, {2, 5}, {3, 6}, {4, 7}, {5, 8}};
constexpr CatalogueBit kLockRead103[] = {{0, 3}, {1, 53}, {2, 52}, {3, 6}, {4, 7}, {5, 8}};

constexpr CatalogueBit kLockWritten128[] = {{0, 3}, {1, 4}, {2, 5}, {3, 6}, {4, 7}, {5, 8}};
constexpr CatalogueBit kLockWritten103[] = {{1, 53}, {2, 52}};
// The AT90S parts keep LB1 and LB2 at the top of their lock and fuse byte; the ATtiny12 in
// bits 1 and 2.
constexpr CatalogueBit kLockWrittenAT90S[] = {{7, 1}, {6, 2}};
constexpr CatalogueBit kLockWrittenTiny12[] = {{1, 1}, {2, 2}};

constexpr const char* kConfirmFuses128 =
    "Are you sure?\r"
    "Incorrect settings may cause problems\r"
    "\r"
    "Due to power availabity on the standart PC port, the clock settings could\r"
    "result in drawing too much power to perform operations reliably or at all\r"
    "If the ATmega appears not-respondent then try to increase the voltage,\r"
    "and/or disconnect crystal and use clock from programmer";

constexpr std::span<const CatalogueBitsWrite> kNoFuses{};

// The ATmega128's presets: factory default (internal RC at 1 MHz, M103C, JTAGEN and SPIEN
// programmed), an external low-frequency crystal, and a high-frequency one with CKOPT.
constexpr int kFactory128[] = {17, 20, 21, 24, 25, 30, 31, 32, 33};
constexpr int kLowFrequency128[] = {21, 23, 24, 25, 30, 31, 32, 33, 34};
constexpr int kHighFrequency128[] = {21, 23, 24, 25, 29, 30};
constexpr CataloguePreset kPresets128[] = {{"factory-default", kFactory128},
                                           {"low-frequency", kLowFrequency128},
                                           {"high-frequency", kHighFrequency128}};

// clang-format off
// part, fuse reads, fuse writes, lock read, lock bits written, LB1 and LB2 boxes of the lock
// write, AT90S group bits, LB1 and LB2 in the lock read, calibration, fuse confirmation, presets
constexpr CatalogueBits kRows[] = {
    {"AT90S2313", kReads128, kNoFuses, kLockRead, kLockWrittenAT90S, 1, 2, 7, 6, 7, 6, false, nullptr, {}},
    {"AT90S2323", kReads128, kWritesAT90S, kLockRead, kLockWrittenAT90S, 1, 2, 7, 6, 7, 6, false, nullptr, {}},
    {"AT90S2343", kReads128, kWritesAT90S, kLockRead, kLockWrittenAT90S, 1, 2, 7, 6, 7, 6, false, nullptr, {}},
    {"AT90S4414", kReads128, kNoFuses, kLockRead, kLockWrittenAT90S, 1, 2, 7, 6, 7, 6, false, nullptr, {}},
    {"AT90S4434", kReads128, kWritesAT90S, kLockRead, kLockWrittenAT90S, 1, 2, 7, 6, 7, 6, false, nullptr, {}},
    {"AT90S8515", kReads128, kNoFuses, kLockRead, kLockWrittenAT90S, 1, 2, 7, 6, 7, 6, false, nullptr, {}},
    {"AT90S8535", kReads128, kWritesAT90S, kLockRead, kLockWrittenAT90S, 1, 2, 7, 6, 7, 6, false, nullptr, {}},
    {"ATmega103", kReads103, kWrites103, kLockRead103, kLockWritten103, 53, 52, 7, 6, 1, 2, false, nullptr, {}},
    {"ATmega128", kReads128, kWrites128, kLockRead, kLockWritten128, 1, 2, 7, 6, 0, 1, false, kConfirmFuses128, kPresets128},
    {"ATmega161", kReads161, kWrites161, kLockRead, kLockWritten128, 1, 2, 7, 6, 0, 1, false, nullptr, {}},
    {"ATmega163", kReads163, kWrites163, kLockRead, kLockWritten128, 1, 2, 7, 6, 0, 1, false, nullptr, {}},
    {"ATtiny12", kReadsTiny12, kWritesTiny12, kLockRead, kLockWrittenTiny12, 1, 2, 1, 2, 1, 2, true, nullptr, {}},
};
// clang-format on

// A chip not identified: the ATmega128's sequences, with nothing to write.
constexpr CatalogueBits kNone{nullptr, kReads128, kNoFuses, kLockRead, kLockWritten128, 1, 2, 7,
                              6,       0,         1,        false,     nullptr,         {}};

} // namespace

const CatalogueBits& CatalogueBitsOf(std::string_view part)
{
    for (const CatalogueBits& row : kRows)
        if (part == row.part)
            return row;
    return kNone;
}

} // namespace vardel
