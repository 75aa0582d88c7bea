#include "sim/spi_flash_chip.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace vardel::sim {

namespace {
const char* kMemoryFile = "flash.bin";
const char* kPartKey = "flash";
const char* kStatusKey = "flash.status";
const char* kErasedKey = "flash.erased";

constexpr std::uint16_t kSr1Writable = 0xFC; // BP0-BP2, TB, SEC, SRP0
constexpr std::uint16_t kCmp = 0x4000;       // S14
constexpr std::uint8_t kBusy = 0x01;
constexpr std::uint8_t kWel = 0x02;

constexpr std::int64_t kMs = 1'000'000;

// RES gives the capacity byte less one, as the W25Q16BV's 14h beside its RDID EF 40 15. Program
// and 4K erase times are the typical ones of the W25Q..JV parts (the GD25Q16's are those of the
// W25Q16JV beside it); no block erase time is given, so 32K and 64K take 120 and 150 ms, between
// a sector's and the chip's.
constexpr std::array<SpiFlashChipType, 2> kTypes{{
    {"W25Q64",
     {0xEF, 0x40, 0x17},
     0x16,
     8 << 20,
     128 << 10,
     400'000,
     45 * kMs,
     120 * kMs,
     150 * kMs,
     20'000 * kMs},
    {"GD25Q16",
     {0xC8, 0x40, 0x15},
     0x14,
     2 << 20,
     64 << 10,
     400'000,
     45 * kMs,
     120 * kMs,
     150 * kMs,
     5'000 * kMs},
}};

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}
} // namespace

std::span<const SpiFlashChipType> SpiFlashChip::types()
{
    return kTypes;
}

const SpiFlashChipType* SpiFlashChip::findType(std::string_view name)
{
    for (const SpiFlashChipType& t : kTypes)
        if (sameName(t.name, name))
            return &t;
    return nullptr;
}

std::string SpiFlashChip::typeNames()
{
    std::string names;
    for (const SpiFlashChipType& t : kTypes)
        names += std::string(names.empty() ? "" : ", ") + t.name;
    return names;
}

SpiFlashChip::SpiFlashChip(const SpiFlashChipType& type)
    : type_(type), memory_(static_cast<std::size_t>(type.bytes), 0xFF), page_(kPageSize),
      pageLoaded_(kPageSize)
{
}

std::unique_ptr<SpiFlashChip> MakeSpiFlashChip(const std::string& part)
{
    const SpiFlashChipType* type = SpiFlashChip::findType(part);
    return type ? std::make_unique<SpiFlashChip>(*type) : nullptr;
}

std::vector<ChipMemoryFile> SpiFlashChip::memoryFiles()
{
    return {{kMemoryFile, std::string("the memory of the ") + type_.name, &memory_}};
}

void SpiFlashChip::describe(ChipKeys& keys) const
{
    keys[kPartKey] = type_.name;
    char text[8];
    if (status_ > 0xFF)
        std::snprintf(text, sizeof text, "%04X", unsigned{status_});
    else
        std::snprintf(text, sizeof text, "%02X", unsigned{status_});
    keys[kStatusKey] = text;
    keys[kErasedKey] = std::to_string(erasedBytes_);
}

bool SpiFlashChip::set(const std::string& key, const std::string& value, std::string& error)
{
    if (key == kErasedKey) {
        if (value.empty() || value.size() > 19 ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            error =
                std::string(kErasedKey) + " takes a count of bytes; \"" + value + "\" is not one";
            return false;
        }
        erasedBytes_ = std::stoull(value);
        return true;
    }
    if (key != kStatusKey) {
        error = key + " is not a key of the " + type_.name;
        return false;
    }
    unsigned parsed = 0;
    char rest = 0;
    const bool digits = (value.size() == 2 || value.size() == 4) &&
                        std::sscanf(value.c_str(), "%4x%c", &parsed, &rest) == 1;
    if (!digits || (parsed & ~unsigned{kSr1Writable | kCmp})) {
        error = std::string(kStatusKey) +
                " takes SR1 as two hex digits, or SR2 and SR1 as four, with only BP0-BP2, TB, "
                "SEC, SRP0 (bits 2 to 7) and CMP (bit 14) set, for example 1C; \"" +
                value + "\" is not one";
        return false;
    }
    status_ = static_cast<std::uint16_t>(parsed);
    return true;
}

std::uint16_t SpiFlashChip::status() const
{
    return static_cast<std::uint16_t>(status_ | (wel_ ? kWel : 0) | (busy() ? kBusy : 0));
}

bool SpiFlashChip::isProtected(std::uint32_t address) const
{
    const unsigned bp = (status_ >> 2) & 7;
    const bool bottom = status_ & 0x20;
    const bool sector = status_ & 0x40;
    const auto bytes = static_cast<std::uint32_t>(type_.bytes);
    std::uint32_t size = 0;
    if (bp == 7)
        size = bytes;
    else if (bp != 0 && sector)
        size = std::min<std::uint32_t>(4096u << (bp - 1), 32768);
    else if (bp != 0)
        size = std::min<std::uint32_t>(
            static_cast<std::uint32_t>(type_.smallestProtected) << (bp - 1), bytes);
    const bool inside = bottom ? address < size : address >= bytes - size;
    return inside != ((status_ & kCmp) != 0);
}

void SpiFlashChip::erase(std::uint32_t address, std::uint32_t size, std::int64_t time)
{
    const std::uint32_t base = address % static_cast<std::uint32_t>(type_.bytes) / size * size;
    // A block that is protected anywhere is left as it is; protection is never finer than 4K.
    for (std::uint32_t a = base; a < base + size; a += 4096)
        if (isProtected(a))
            return;
    std::fill_n(memory_.begin() + base, size, 0xFF);
    erasedBytes_ += size;
    busyUntil_ = now_ + time + extraBusyNs;
}

std::uint8_t SpiFlashChip::nextOut()
{
    const auto sr = status();
    switch (instruction_) {
    case 0x05:
        return static_cast<std::uint8_t>(sr);
    case 0x35:
        return static_cast<std::uint8_t>(sr >> 8);
    case 0x9F:
        return outIndex_ < 3 ? type_.id[outIndex_++] : 0xFF;
    case 0xAB:
        return type_.deviceId;
    default: {
        const std::uint8_t b = memory_[address_];
        address_ = (address_ + 1) % static_cast<std::uint32_t>(type_.bytes);
        return b;
    }
    }
}

void SpiFlashChip::pins(bool vcc, bool reset, bool /*xtal*/, bool sck, bool mosi,
                        std::int64_t nanoseconds)
{
    now_ = nanoseconds;
    if (!vcc) {
        powered_ = false;
        selected_ = false;
        sending_ = false;
        wel_ = false;
        deepPowerDown_ = false;
        so_ = true;
        return;
    }
    if (!powered_) {
        // Comes up deselected whatever /CS holds: an instruction begins with /CS falling.
        powered_ = true;
        selected_ = false;
        prevSck_ = sck;
        return;
    }
    const bool cs = !reset;
    if (cs && !selected_) {
        selected_ = true;
        bitCount_ = 0;
        byteCount_ = 0;
        ignored_ = false;
        sending_ = false;
    } else if (!cs && selected_) {
        onDeselect();
    }
    if (selected_ && sck && !prevSck_) {
        shiftIn_ = static_cast<std::uint8_t>((shiftIn_ << 1) | (mosi ? 1 : 0));
        if (++bitCount_ == 8) {
            bitCount_ = 0;
            onByte(shiftIn_);
        }
    } else if (selected_ && !sck && prevSck_ && sending_) {
        if (outBits_ == 0) {
            shiftOut_ = nextOut();
            outBits_ = 8;
        }
        so_ = (shiftOut_ & 0x80) != 0;
        shiftOut_ = static_cast<std::uint8_t>(shiftOut_ << 1);
        --outBits_;
    }
    prevSck_ = sck;
}

void SpiFlashChip::onByte(std::uint8_t byte)
{
    const int n = byteCount_++;
    if (ignored_)
        return;
    const auto startSending = [this] {
        sending_ = true;
        outBits_ = 0;
        outIndex_ = 0;
    };
    if (n == 0) {
        instruction_ = byte;
        address_ = 0;
        static constexpr std::uint8_t kKnown[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                                  0x0B, 0x20, 0x31, 0x35, 0x52, 0x60,
                                                  0x9F, 0xAB, 0xB9, 0xC7, 0xD8};
        const bool known =
            std::find(std::begin(kKnown), std::end(kKnown), byte) != std::end(kKnown);
        // In deep power-down only RES is heard; during a program or erase only RDSR.
        ignored_ = !known || (deepPowerDown_ && byte != 0xAB) || (busy() && byte != 0x05);
        if (!ignored_ && (byte == 0x05 || byte == 0x35 || byte == 0x9F))
            startSending();
        std::fill(pageLoaded_.begin(), pageLoaded_.end(), false);
        return;
    }
    switch (instruction_) {
    case 0x01:
        if (n <= 2)
            newStatus_[n - 1] = byte;
        return;
    case 0x31:
        if (n == 1)
            newStatus_[1] = byte;
        return;
    case 0xAB:
        if (n == 3)
            startSending();
        return;
    case 0x02:
    case 0x03:
    case 0x0B:
    case 0x20:
    case 0x52:
    case 0xD8:
        break;
    default:
        return;
    }
    if (n <= 3) {
        address_ = ((address_ << 8) | byte) % static_cast<std::uint32_t>(type_.bytes);
        if (n == 3 && instruction_ == 0x03)
            startSending();
        return;
    }
    if (instruction_ == 0x0B && n == 4)
        startSending();
    if (instruction_ != 0x02)
        return;
    // Page program data: bytes past the page's end wrap to its start.
    const std::uint32_t offset = address_ % kPageSize;
    page_[offset] = byte;
    pageLoaded_[offset] = true;
    address_ = address_ - offset + (offset + 1) % kPageSize;
}

void SpiFlashChip::onDeselect()
{
    selected_ = false;
    sending_ = false;
    so_ = true;
    // An instruction counts only when /CS rises on a byte boundary.
    if (bitCount_ != 0 || ignored_ || byteCount_ == 0)
        return;
    const bool wel = wel_;
    switch (instruction_) {
    case 0x06:
        wel_ = true;
        return;
    case 0x04:
        wel_ = false;
        return;
    case 0xB9:
        deepPowerDown_ = true;
        return;
    case 0xAB:
        deepPowerDown_ = false;
        return;
    case 0x01:
    case 0x31:
        if (!wel || byteCount_ < 2)
            return;
        wel_ = false;
        if (instruction_ == 0x01)
            status_ = static_cast<std::uint16_t>((status_ & kCmp) | (newStatus_[0] & kSr1Writable));
        if (instruction_ == 0x31 || byteCount_ >= 3)
            status_ = static_cast<std::uint16_t>((status_ & kSr1Writable) |
                                                 ((newStatus_[1] << 8) & kCmp));
        // No status write time is given: it takes a page program's.
        busyUntil_ = now_ + type_.pageProgramNs + extraBusyNs;
        return;
    case 0x02: {
        if (!wel || byteCount_ <= 4)
            return;
        wel_ = false;
        const std::uint32_t base = address_ - address_ % kPageSize;
        if (isProtected(base))
            return;
        for (std::uint32_t i = 0; i < kPageSize; ++i)
            if (pageLoaded_[i])
                memory_[base + i] &= page_[i];
        busyUntil_ = now_ + type_.pageProgramNs + extraBusyNs;
        return;
    }
    case 0x20:
    case 0x52:
    case 0xD8:
        if (!wel || byteCount_ != 4)
            return;
        wel_ = false;
        if (instruction_ == 0x20)
            erase(address_, 4096, type_.sectorEraseNs);
        else if (instruction_ == 0x52)
            erase(address_, 32768, type_.block32EraseNs);
        else
            erase(address_, 65536, type_.block64EraseNs);
        return;
    case 0x60:
    case 0xC7:
        if (!wel || byteCount_ != 1)
            return;
        wel_ = false;
        erase(0, static_cast<std::uint32_t>(type_.bytes), type_.chipEraseNs);
        return;
    default:
        return;
    }
}

} // namespace vardel::sim
