#include "parts/catalogue_parts.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vardel {

namespace {

// Times in microseconds: flash (a byte or a page), EEPROM byte, chip erase, lock or fuse byte.
// The fuse bytes are those of the serial read: the AT90S2323/2343/4434/8535 keep SPIEN
// in bit 5 and FSTRT (RCEN on the AT90S2343, which ships running on its internal RC oscillator)
// in bit 0; the ATmega103 x x SPIEN x EESAVE x SUT1 SUT0; the ATmega161 x BOOTRST SPIEN BODLEVEL
// BODEN CKSEL2..0; the ATmega163 low BODLEVEL BODEN x x CKSEL3..0 and high x x x x 1 BOOTSZ1
// BOOTSZ0 BOOTRST; the ATmega128 CKSEL 0001 (internal RC 1 MHz), SPIEN and JTAGEN programmed,
// M103C programmed; the ATtiny12 BODLEVEL BODEN SPIEN RSTDISBL CKSEL3..0, internal RC.
// clang-format off
constexpr CataloguePart kCatalogue[] = {
    {"AT90S2313", {4000, 4000, 20000, 9000}, {9000, 9000, 20000, 9000}, 0, {0xFF, 0xFF, 0xFF}},
    {"AT90S2323", {9000, 9000, 18000, 9000}, {20000, 20000, 18000, 20000}, 1, {0xDF, 0xFF, 0xFF}},
    {"AT90S2343", {9000, 9000, 18000, 9000}, {20000, 20000, 18000, 20000}, 1, {0xDE, 0xFF, 0xFF}},
    {"AT90S4414", {9000, 9000, 20000, 9000}, {20000, 20000, 20000, 9000}, 0, {0xFF, 0xFF, 0xFF}},
    {"AT90S4434", {9000, 9000, 20000, 9000}, {20000, 20000, 20000, 20000}, 1, {0xDF, 0xFF, 0xFF}},
    {"AT90S8515", {4000, 4000, 20000, 9000}, {9000, 9000, 20000, 9000}, 0, {0xFF, 0xFF, 0xFF}},
    {"AT90S8535", {9000, 9000, 20000, 9000}, {20000, 20000, 20000, 9000}, 1, {0xDF, 0xFF, 0xFF}},
    {"ATmega103", {22000, 4000, 112000, 9000}, {56000, 9000, 112000, 9000}, 1, {0xDF, 0xFF, 0xFF}},
    {"ATmega128", {4500, 9000, 9000, 9000}, {4500, 9000, 9000, 9000}, 3, {0xE1, 0x99, 0xFD}},
    {"ATmega161", {14000, 3400, 28000, 2000}, {14000, 3400, 28000, 2000}, 1, {0xDA, 0xFF, 0xFF}},
    {"ATmega163", {16000, 4000, 32000, 2000}, {16000, 4000, 32000, 2000}, 2, {0xF2, 0xFF, 0xFF}},
    {"ATtiny12", {4500, 9000, 20000, 9000}, {20000, 20000, 20000, 9000}, 1, {0xD2, 0xFF, 0xFF}},
};

// clang-format on

} // namespace

std::span<const CataloguePart> CatalogueParts()
{
    return kCatalogue;
}

const CataloguePart* FindCataloguePart(std::string_view name)
{
    for (const CataloguePart& part : kCatalogue)
        if (name == part.name)
            return &part;
    return nullptr;
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
