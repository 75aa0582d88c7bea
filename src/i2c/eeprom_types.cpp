#include "i2c/eeprom_types.h"

#include "spi/spi_flash.h"

#include <cctype>
#include <deque>
#include <vector>

namespace vardel {

namespace {
bool sameName(std::string_view name, std::string_view candidate)
{
    if (candidate.size() != name.size())
        return false;
    for (std::size_t k = 0; k < name.size(); ++k)
        if (std::toupper(static_cast<unsigned char>(name[k])) !=
            std::toupper(static_cast<unsigned char>(candidate[k])))
            return false;
    return true;
}

// "8 MiB", "512 KiB".
std::string flashSizeText(int bytes)
{
    return bytes >= 1024 * 1024 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                : std::to_string(bytes / 1024) + " KiB";
}
} // namespace

std::span<const EepromType> EepromList()
{
    static const std::vector<EepromType> list = [] {
        // The entries' texts live as long as the list.
        static std::deque<std::string> texts;
        std::vector<EepromType> all(kEepromTypes.begin(), kEepromTypes.end());
        all.push_back({"SPI flash", "SPI flash (auto-detect)", 0, 3, SpiFlash::kPageSize,
                       EepromBus::SpiFlash});
        for (const SpiFlashPart& part : SpiFlashParts()) {
            texts.push_back(std::string(part.name) + " - " + flashSizeText(part.bytes) + " (" +
                            part.maker + ")");
            all.push_back({part.name, texts.back().c_str(), part.bytes, part.addressBytes,
                           SpiFlash::kPageSize, EepromBus::SpiFlash});
        }
        return all;
    }();
    return list;
}

int FindFlashEntry(std::string_view name)
{
    if (sameName(name, "auto"))
        return kFlashAutoDetect;
    const std::span<const EepromType> list = EepromList();
    for (std::size_t i = kFlashAutoDetect + 1; i < list.size(); ++i)
        if (sameName(name, list[i].name))
            return static_cast<int>(i);
    return -1;
}

std::string FlashPartNames()
{
    std::string names;
    for (const SpiFlashPart& part : SpiFlashParts())
        names += (names.empty() ? "" : ", ") + std::string(part.name);
    return names;
}

int FindEepromType(std::string_view name)
{
    auto same = [name](std::string_view candidate) {
        return sameName(name, candidate);
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
        // Four digits at least, more as the address needs them (an 8 MiB flash takes six).
        int top = 12;
        while (top < 28 && (address >> (top + 4)) != 0)
            top += 4;
        for (int shift = top; shift >= 0; shift -= 4)
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
