#include "i2c/eeprom_types.h"

#include <cctype>

namespace vardel {

int FindEepromType(std::string_view name)
{
    auto same = [name](std::string_view candidate) {
        if (candidate.size() != name.size())
            return false;
        for (std::size_t k = 0; k < name.size(); ++k)
            if (std::toupper(static_cast<unsigned char>(name[k])) !=
                std::toupper(static_cast<unsigned char>(candidate[k])))
                return false;
        return true;
    };
    for (std::size_t i = 0; i < kEepromTypes.size(); ++i)
        if (same(kEepromTypes[i].name) || (kEepromTypes[i].alias && same(kEepromTypes[i].alias)))
            return static_cast<int>(i);
    return -1;
}

std::string EepromTypeNames()
{
    std::string names;
    for (const EepromType& type : kEepromTypes) {
        if (!names.empty())
            names += ", ";
        names += type.name;
    }
    return names;
}

std::string GridCellText(const std::uint8_t* image, int row, int column)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (column == 0) {
        const unsigned address = static_cast<unsigned>(row) * 8;
        std::string text;
        for (int shift = (address > 0xFFFF ? 16 : 12); shift >= 0; shift -= 4)
            text += kHex[(address >> shift) & 0xF];
        return text;
    }
    const std::uint8_t byte = image[row * 8 + (column - 1) % 8];
    if (column <= 8)
        return {kHex[byte >> 4], kHex[byte & 0xF]};
    unsigned code = byte;
    // 0x7F (DEL) is a control character like those below 32.
    if (!((code >= 32 && code < 127) || code >= 160))
        code = 0xB7;
    if (code < 0x80)
        return std::string(1, static_cast<char>(code));
    return {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
}

} // namespace vardel
