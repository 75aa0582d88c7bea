#include "parts/avr_parts.h"

#include <algorithm>
#include <cctype>

namespace vardel {

std::string AvrPart::label() const
{
    return std::string(name) + " (" + std::to_string(flashBytes / 1024) + "kb flash)";
}

AvrPart::WriteTimes AvrPart::slowest() const
{
    return {flashWriteUs, eepromWriteUs, chipEraseUs, fuseWriteUs, lockWriteUs};
}

AvrPart::WriteTimes AvrPart::fastest() const
{
    const auto or_ = [](std::uint32_t fast, std::uint32_t slow) {
        return fast ? fast : slow;
    };
    return {or_(flashWriteMinUs, flashWriteUs), or_(eepromWriteMinUs, eepromWriteUs),
            or_(chipEraseMinUs, chipEraseUs), or_(fuseWriteMinUs, fuseWriteUs),
            or_(lockWriteMinUs, lockWriteUs)};
}

const AvrPart* FindPart(const std::array<std::uint8_t, 3>& signature)
{
    for (const AvrPart& part : AvrParts())
        if (part.signature == signature && !part.variantOf)
            return &part;
    return nullptr;
}

const AvrPart* FindPartByName(std::string_view name)
{
    const auto same = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) ==
               std::toupper(static_cast<unsigned char>(b));
    };
    for (const AvrPart& part : AvrParts()) {
        const std::string_view partName(part.name);
        if (partName.size() == name.size() &&
            std::equal(partName.begin(), partName.end(), name.begin(), same))
            return &part;
    }
    return nullptr;
}

std::vector<const AvrPart*> PartsAnswering(const std::array<std::uint8_t, 3>& signature)
{
    std::vector<const AvrPart*> out;
    if (const AvrPart* first = FindPart(signature))
        out.push_back(first);
    for (const AvrPart& part : AvrParts())
        if (part.signature == signature && part.variantOf)
            out.push_back(&part);
    return out;
}

bool SameBits(const AvrPart& a, const AvrPart& b)
{
    const auto named = [](const std::array<const char*, 8>& bits) {
        int mask = 0;
        for (int bit = 0; bit < 8; ++bit)
            mask |= bits[static_cast<std::size_t>(bit)] ? 1 << bit : 0;
        return mask;
    };
    if (a.fuseCount != b.fuseCount || named(a.lockBits) != named(b.lockBits))
        return false;
    for (int i = 0; i < a.fuseCount; ++i)
        if (named(a.fuses[i].bits) != named(b.fuses[i].bits))
            return false;
    return true;
}

std::array<std::uint8_t, 4> EncodeInstruction(const char* pattern, std::uint32_t address,
                                              std::uint8_t data)
{
    std::array<std::uint8_t, 4> bytes{};
    for (int i = 0; i < 32; ++i) {
        const int byte = i / 8;
        const int bit = 7 - i % 8;
        bool one = false;
        switch (pattern[i]) {
        case '1':
            one = true;
            break;
        case 'a': {
            // Address bits live in bytes 2 and 3 only.
            const int place = (byte == 1 ? 8 : 0) + bit;
            one = (byte == 1 || byte == 2) && ((address >> place) & 1u) != 0;
            break;
        }
        case 'i':
            one = ((data >> bit) & 1u) != 0;
            break;
        default:
            break;
        }
        if (one)
            bytes[byte] = static_cast<std::uint8_t>(bytes[byte] | (1u << bit));
    }
    return bytes;
}

std::uint8_t CarriedBits(const char* pattern)
{
    std::uint8_t carried = 0;
    for (int i = 0; pattern && i < 32; ++i)
        if (pattern[i] == 'i')
            carried = static_cast<std::uint8_t>(carried | 1u << (7 - i % 8));
    return carried;
}

std::uint8_t DecodeAnswer(const char* pattern, const std::array<std::uint8_t, 4>& received)
{
    std::uint8_t answer = 0;
    for (int i = 0; i < 32; ++i) {
        const int bit = 7 - i % 8;
        if (pattern[i] == 'o' && ((received[i / 8] >> bit) & 1u) != 0)
            answer = static_cast<std::uint8_t>(answer | (1u << bit));
    }
    return answer;
}

} // namespace vardel
