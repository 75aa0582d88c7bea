#include "parts/part_clock.h"

#include <array>
#include <string>
#include <string_view>

namespace vardel {

namespace {

using Source = ChipClock::Source;

// What one value of a family's clock select bits means.
struct Setting {
    std::uint8_t first, last; // CKSEL range
    Source source;
    std::uint32_t hz;
};

// Families of parts that read their clock select bits alike, from the datasheets' clock source
// tables. Values a family leaves out are Unknown.
struct Family {
    // The parts by name, each with or without a final A; an empty list is every part with four
    // clock select bits in bits 3..0 and a CKDIV8 fuse that no other family claims.
    std::initializer_list<std::string_view> names;
    std::initializer_list<Setting> settings;
};

constexpr std::uint32_t k128kHz = 128'000;

// clang-format off
const Family kFamilies[] = {
    // External clock, calibrated RC 1/2/4/8 MHz, external RC, low-frequency crystal, crystal.
    {{"ATmega8", "ATmega16", "ATmega32", "ATmega64", "ATmega128", "ATmega8515", "ATmega8535",
      "ATtiny26"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x1, 0x1, Source::Own, 1'000'000},
      {0x2, 0x2, Source::Own, 2'000'000}, {0x3, 0x3, Source::Own, 4'000'000},
      {0x4, 0x4, Source::Own, 8'000'000}, {0xA, 0xF, Source::Xtal, 0}}},
    // External clock, internal RC of 1 MHz (three start-up times), crystal.
    {{"ATmega163"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x2, 0x4, Source::Own, 1'000'000}, {0xA, 0xF, Source::Xtal, 0}}},
    // As the ATmega163, with a 1.2 MHz RC.
    {{"ATtiny12"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x2, 0x4, Source::Own, 1'200'000}, {0xA, 0xF, Source::Xtal, 0}}},
    // Two select bits: external clock, 4.8 MHz, 9.6 MHz, 128 kHz.
    {{"ATtiny13"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x1, 0x1, Source::Own, 4'800'000},
      {0x2, 0x2, Source::Own, 9'600'000}, {0x3, 0x3, Source::Own, k128kHz}}},
    // The 1.6 MHz RC behind a PLL is its only clock.
    {{"ATtiny15"}, {{0x0, 0x3, Source::Own, 1'600'000}}},
    // Crystal oscillator or external clock only.
    {{"AT90S2333", "AT90S4433", "ATmega161"}, {{0x0, 0x7, Source::Xtal, 0}}},
    // External clock, RC 4 MHz, RC 8 MHz, 128 kHz, crystal.
    {{"ATtiny2313", "ATtiny4313"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x2, 0x2, Source::Own, 4'000'000},
      {0x4, 0x4, Source::Own, 8'000'000}, {0x6, 0x6, Source::Own, k128kHz},
      {0x8, 0xF, Source::Xtal, 0}}},
    // External clock, PLL 16 MHz, RC 8 MHz, 6.4 MHz or 128 kHz at 0011 (the slower), 128 kHz,
    // crystal.
    {{"ATtiny25", "ATtiny45", "ATtiny85", "ATtiny261", "ATtiny461", "ATtiny861"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x1, 0x1, Source::Own, 16'000'000},
      {0x2, 0x2, Source::Own, 8'000'000}, {0x3, 0x4, Source::Own, k128kHz},
      {0x8, 0xF, Source::Xtal, 0}}},
    // External clock, RC 8 MHz, 128 kHz; no crystal oscillator.
    {{"ATtiny48", "ATtiny88"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x2, 0x2, Source::Own, 8'000'000},
      {0x3, 0x3, Source::Own, k128kHz}}},
    // External clock, RC 8 MHz, 128 kHz (at 0011 on some, 0100 on others), crystal.
    {{"ATtiny24", "ATtiny44", "ATtiny84", "ATtiny43U", "ATtiny87", "ATtiny167"},
     {{0x0, 0x0, Source::Xtal, 0}, {0x2, 0x2, Source::Own, 8'000'000},
      {0x3, 0x4, Source::Own, k128kHz}, {0x8, 0xF, Source::Xtal, 0}}},
    // The rest of the parts with CKDIV8: external clock, RC 8 MHz (16 MHz on some, counted as
    // 8), 128 kHz where the part has it, crystal.
    {{},
     {{0x0, 0x0, Source::Xtal, 0}, {0x2, 0x2, Source::Own, 8'000'000},
      {0x3, 0x3, Source::Own, k128kHz}, {0x8, 0xF, Source::Xtal, 0}}},
};
// clang-format on

bool StartsWith(std::string_view name, std::string_view prefix)
{
    return name.substr(0, prefix.size()) == prefix;
}

bool Names(std::string_view name, std::string_view base)
{
    return name == base || (StartsWith(name, base) && name.substr(base.size()) == "A");
}

// The mask of the named bit in the part's first fuse byte; 0 when it has none.
std::uint8_t LowBit(const AvrPart& part, std::string_view name)
{
    if (part.fuseCount == 0)
        return 0;
    for (int bit = 0; bit < 8; ++bit)
        if (const char* n = part.fuses[0].bits[static_cast<std::size_t>(bit)]; n && name == n)
            return static_cast<std::uint8_t>(1u << bit);
    return 0;
}

// The masks of CKSEL0..3, whatever the part calls them.
std::array<std::uint8_t, 4> SelectBits(const AvrPart& part)
{
    std::array<std::uint8_t, 4> masks{};
    for (int i = 0; i < 4; ++i) {
        const std::string n = std::to_string(i);
        for (const char* form : {"CKSEL", "SUT_CKSEL", "CKSEL_SUT"})
            if (!masks[static_cast<std::size_t>(i)])
                masks[static_cast<std::size_t>(i)] = LowBit(part, std::string(form) + n);
    }
    return masks;
}

const Family* FamilyOf(const AvrPart& part, bool ckdiv8)
{
    const std::string_view name = part.variantOf ? part.variantOf : part.name;
    for (const Family& family : kFamilies)
        for (std::string_view base : family.names)
            if (Names(name, base))
                return &family;
    // The general family needs four select bits in bits 3..0 and the CKDIV8 fuse.
    return ckdiv8 && SelectBits(part)[3] == 0x08 ? &kFamilies[std::size(kFamilies) - 1] : nullptr;
}

} // namespace

bool ClockDependsOnFuses(const AvrPart& part)
{
    return SelectBits(part)[0] != 0 || LowBit(part, "RCEN") != 0;
}

ChipClock ClockOf(const AvrPart& part, std::span<const std::uint8_t> fuses)
{
    const std::string_view name = part.variantOf ? part.variantOf : part.name;
    if (!ClockDependsOnFuses(part)) {
        // The AT90S parts and the ATmega103 run from a crystal or an external clock; the others
        // (the battery-management parts) from oscillators of their own the data does not give.
        const bool xtal = StartsWith(name, "AT90S") || name == "ATmega103";
        return xtal ? ChipClock{Source::Xtal, 0, 1} : ChipClock{};
    }
    if (fuses.empty())
        return {};
    // The AT90S2343's RC oscillator, chosen by RCEN programmed, gives 1 MHz at 5 V and less at
    // lower supplies: counted at half that.
    if (const std::uint8_t rcen = LowBit(part, "RCEN"))
        return fuses[0] & rcen ? ChipClock{Source::Xtal, 0, 1} : ChipClock{Source::Own, 500'000, 1};
    const std::array<std::uint8_t, 4> masks = SelectBits(part);
    int select = 0;
    for (int i = 0; i < 4; ++i)
        if (masks[static_cast<std::size_t>(i)] & fuses[0])
            select |= 1 << i;
    const std::uint8_t ckdiv8 = LowBit(part, "CKDIV8");
    const Family* family = FamilyOf(part, ckdiv8 != 0);
    if (!family)
        return {};
    const int divider = ckdiv8 && !(fuses[0] & ckdiv8) ? 8 : 1;
    for (const Setting& s : family->settings)
        if (select >= s.first && select <= s.last)
            return s.source == Source::Xtal
                       ? ChipClock{Source::Xtal, 0, divider}
                       : ChipClock{Source::Own, s.hz / static_cast<std::uint32_t>(divider), 1};
    return {};
}

} // namespace vardel
