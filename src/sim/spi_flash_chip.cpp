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
const char* kIdKey = "flash.id";

constexpr std::uint16_t kSr1Writable = 0xFC; // BP0-BP2, TB, SEC, SRP0
constexpr std::uint16_t kCmp = 0x4000;       // S14
constexpr std::uint8_t kBusy = 0x01;
constexpr std::uint8_t kWel = 0x02;
constexpr std::uint16_t kSstWritable = 0xBC; // BP0-BP3, BPL
constexpr std::uint16_t kSstPowerUp = 0x1C;  // BP0-BP2
constexpr std::uint8_t kAai = 0x40;

constexpr std::int64_t kMs = 1'000'000;

// RES gives the capacity byte less one, as the W25Q16BV's 14h beside its RDID EF 40 15. Program
// and 4K erase times are the typical ones of the W25Q..JV parts (the GD25Q16's are those of the
// W25Q16JV beside it); no block erase time is given, so 32K and 64K take 120 and 150 ms, between
// a sector's and the chip's. The MX25L25645 takes the W25Q256JV's times (80 s for the chip) and
// gives 18h to RES; the SST25VF016B its typical 7 us byte program, 18 ms sector and block erase
// and 35 ms chip erase, and answers AB as 90 with BF and 41 in turn.
constexpr std::array<SpiFlashChipType, 4> kTypes{{
    {"W25Q64",
     {0xEF, 0x40, 0x17},
     0x16,
     8 << 20,
     128 << 10,
     400'000,
     45 * kMs,
     120 * kMs,
     150 * kMs,
     20'000 * kMs,
     SpiFlashStyle::Winbond,
     true},
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
    {"MX25L25645",
     {0xC2, 0x20, 0x19},
     0x18,
     32 << 20,
     64 << 10,
     400'000,
     45 * kMs,
     120 * kMs,
     150 * kMs,
     80'000 * kMs,
     SpiFlashStyle::Macronix,
     true},
    {"SST25VF016B",
     {0xBF, 0x25, 0x41},
     0x41,
     2 << 20,
     64 << 10,
     7'000,
     18 * kMs,
     18 * kMs,
     18 * kMs,
     35 * kMs,
     SpiFlashStyle::Sst25},
}};

// The SFDP area: the JESD216B header with one parameter header, for the basic flash parameter
// table (16 DWORDs at 30h): 4K erase by 20h, the density, the erase types 4K 20h, 32K 52h and 64K
// D8h, 256-byte pages, and 3-byte addresses or (over 16 MiB) 3 or 4 with B7/E9.
std::vector<std::uint8_t> sfdpArea(const SpiFlashChipType& type)
{
    std::vector<std::uint8_t> area(256, 0xFF);
    const std::uint8_t header[16] = {'S',  'F',  'D',  'P', 0x06, 0x01, 0x00, 0xFF,
                                     0x00, 0x06, 0x01, 16,  0x30, 0x00, 0x00, 0xFF};
    std::copy(std::begin(header), std::end(header), area.begin());
    const std::uint32_t addressModes = type.bytes > (16 << 20) ? 1 : 0;
    std::uint32_t dwords[16] = {};
    dwords[0] = 0xFF0000E5u | (addressModes << 17) | (0x20u << 8);
    dwords[1] = static_cast<std::uint32_t>(type.bytes) * 8 - 1;
    dwords[7] = 0x520F200Cu;
    dwords[8] = 0x0000D810u;
    dwords[10] = 0x80;
    for (int i = 0; i < 16; ++i)
        for (int b = 0; b < 4; ++b)
            area[static_cast<std::size_t>(0x30 + 4 * i + b)] =
                static_cast<std::uint8_t>(dwords[i] >> (8 * b));
    return area;
}

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
      pageLoaded_(kPageSize), id_{type.id[0], type.id[1], type.id[2]}
{
    if (type.sfdp)
        sfdp_ = sfdpArea(type);
    if (type.style == SpiFlashStyle::Sst25)
        status_ = kSstPowerUp;
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
    if (!std::equal(id_, id_ + 3, type_.id)) {
        char id[8];
        std::snprintf(id, sizeof id, "%02X%02X%02X", id_[0], id_[1], id_[2]);
        keys[kIdKey] = id;
    }
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
    unsigned parsed = 0;
    char rest = 0;
    const auto hex = [&](std::size_t size) {
        return value.size() == size &&
               std::all_of(value.begin(), value.end(),
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }) &&
               std::sscanf(value.c_str(), "%6x%c", &parsed, &rest) == 1;
    };
    if (key == kIdKey) {
        if (!hex(6)) {
            error = std::string(kIdKey) + " takes the JEDEC ID as six hex digits, for example " +
                    "EF4017; \"" + value + "\" is not one";
            return false;
        }
        for (int i = 0; i < 3; ++i)
            id_[i] = static_cast<std::uint8_t>(parsed >> (16 - 8 * i));
        return true;
    }
    if (key != kStatusKey) {
        error = key + " is not a key of the " + type_.name;
        return false;
    }
    if (type_.style != SpiFlashStyle::Winbond) {
        const unsigned writable = type_.style == SpiFlashStyle::Sst25 ? kSstWritable : kSr1Writable;
        if (!hex(2) || (parsed & ~writable)) {
            error = std::string(kStatusKey) + " takes the status register as two hex digits, " +
                    (type_.style == SpiFlashStyle::Sst25
                         ? "with only BP0-BP3 (bits 2 to 5) and BPL (bit 7) set"
                         : "with only BP0-BP3 (bits 2 to 5), QE (bit 6) and SRWD (bit 7) set") +
                    ", for example 3C; \"" + value + "\" is not one";
            return false;
        }
        status_ = static_cast<std::uint16_t>(parsed);
        return true;
    }
    if (!(hex(2) || hex(4)) || (parsed & ~unsigned{kSr1Writable | kCmp})) {
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
    return static_cast<std::uint16_t>(status_ | (wel_ ? kWel : 0) | (busy() ? kBusy : 0) |
                                      (aai_ ? kAai : 0));
}

bool SpiFlashChip::isProtected(std::uint32_t address) const
{
    const auto bytes = static_cast<std::uint32_t>(type_.bytes);
    if (type_.style != SpiFlashStyle::Winbond) {
        // BP3..BP0: none, then the upper 64K, doubling up to the whole array.
        const unsigned bp4 = (status_ >> 2) & 15;
        return bp4 != 0 && address >= bytes - std::min<std::uint32_t>(65536u << (bp4 - 1), bytes);
    }
    const unsigned bp = (status_ >> 2) & 7;
    const bool bottom = status_ & 0x20;
    const bool sector = status_ & 0x40;
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
        return outIndex_ < 3 ? id_[outIndex_++] : 0xFF;
    case 0x90:
    case 0xAB:
        if (type_.style == SpiFlashStyle::Sst25)
            return (address_ + static_cast<std::uint32_t>(outIndex_++)) % 2 ? type_.deviceId
                                                                            : id_[0];
        return type_.deviceId;
    case 0x5A:
        return sfdp_[address_++ % sfdp_.size()];
    default: {
        const std::uint8_t b = memory_[address_];
        address_ = (address_ + 1) % static_cast<std::uint32_t>(type_.bytes);
        return b;
    }
    }
}

bool SpiFlashChip::known(std::uint8_t op) const
{
    static constexpr std::uint8_t kCommon[] = {0x01, 0x03, 0x04, 0x05, 0x06, 0x0B, 0x20,
                                               0x52, 0x60, 0x9F, 0xAB, 0xC7, 0xD8};
    static constexpr std::uint8_t kWinbond[] = {0x02, 0x31, 0x35, 0xB9};
    static constexpr std::uint8_t kMacronix[] = {0x02, 0xB9, 0xB7, 0xE9, 0x13,
                                                 0x0C, 0x12, 0x21, 0x5C, 0xDC};
    static constexpr std::uint8_t kSst[] = {0x02, 0xAD, 0x50, 0x90};
    const auto in = [op](const auto& list) {
        return std::find(std::begin(list), std::end(list), op) != std::end(list);
    };
    if (op == 0x5A)
        return !sfdp_.empty();
    switch (type_.style) {
    case SpiFlashStyle::Winbond:
        return in(kCommon) || in(kWinbond);
    case SpiFlashStyle::Macronix:
        return in(kCommon) || in(kMacronix);
    case SpiFlashStyle::Sst25:
        return in(kCommon) || in(kSst);
    }
    return false;
}

int SpiFlashChip::addressBytes(std::uint8_t op) const
{
    switch (op) {
    case 0x13:
    case 0x0C:
    case 0x12:
    case 0x21:
    case 0x5C:
    case 0xDC:
        return 4;
    case 0x02:
    case 0x03:
    case 0x0B:
    case 0x20:
    case 0x52:
    case 0xD8:
        return fourByte_ ? 4 : 3;
    case 0xAD: // the first frame of an AAI program only
        return aai_ ? 0 : 3;
    case 0x5A: // three address bytes whatever the mode
    case 0x90:
        return 3;
    default:
        return 0;
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
        fourByte_ = false;
        aai_ = false;
        ewsr_ = false;
        so_ = true;
        return;
    }
    if (!powered_) {
        // Comes up deselected whatever /CS holds: an instruction begins with /CS falling.
        powered_ = true;
        selected_ = false;
        prevSck_ = sck;
        if (type_.style == SpiFlashStyle::Sst25)
            status_ = static_cast<std::uint16_t>((status_ & ~kSstWritable) | kSstPowerUp);
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
        // EWSR lets the one instruction after it write the status register.
        statusWriteEnabled_ = ewsr_;
        ewsr_ = false;
        // In deep power-down only RES is heard; during a program or erase only RDSR; in AAI
        // only AAI, RDSR and WRDI.
        ignored_ = !known(byte) || (deepPowerDown_ && byte != 0xAB) || (busy() && byte != 0x05) ||
                   (aai_ && byte != 0xAD && byte != 0x05 && byte != 0x04);
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
        // RES: three dummy bytes; on the SST25 it is 90's read-ID, whose address says which
        // ID comes first.
        address_ = (address_ << 8) | byte;
        if (n == 3)
            startSending();
        return;
    default:
        break;
    }
    const int length = addressBytes(instruction_);
    if (length == 0 && instruction_ != 0xAD)
        return;
    if (n <= length) {
        address_ = (address_ << 8) | byte;
        if (n < length)
            return;
        if (instruction_ != 0x5A && instruction_ != 0x90)
            address_ %= static_cast<std::uint32_t>(type_.bytes);
        if (instruction_ == 0x03 || instruction_ == 0x13 || instruction_ == 0x90)
            startSending();
        return;
    }
    const int data = n - length - 1; // the data byte's index
    // Fast reads and SFDP: one dummy byte.
    if ((instruction_ == 0x0B || instruction_ == 0x0C || instruction_ == 0x5A) && data == 0)
        startSending();
    if (instruction_ == 0xAD) {
        if (data < 2)
            data_[data] = byte;
        return;
    }
    if (instruction_ == 0x02 && type_.style == SpiFlashStyle::Sst25) {
        if (data == 0)
            data_[0] = byte;
        return;
    }
    if (instruction_ != 0x02 && instruction_ != 0x12)
        return;
    // Page program data: bytes past the page's end wrap to its start.
    const std::uint32_t offset = address_ % kPageSize;
    page_[offset] = byte;
    pageLoaded_[offset] = true;
    address_ = address_ - offset + (offset + 1) % kPageSize;
}

void SpiFlashChip::aaiWord()
{
    // Two bytes at an even address; past the last, AAI ends and WEL with it (no wrap).
    if (aaiAddress_ >= static_cast<std::uint32_t>(type_.bytes)) {
        aai_ = false;
        wel_ = false;
        return;
    }
    if (!isProtected(aaiAddress_)) {
        memory_[aaiAddress_] &= data_[0];
        memory_[aaiAddress_ + 1] &= data_[1];
    }
    aaiAddress_ += 2;
    busyUntil_ = now_ + type_.pageProgramNs + extraBusyNs;
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
        aai_ = false;
        return;
    case 0x50:
        ewsr_ = byteCount_ == 1;
        return;
    case 0xB9:
        deepPowerDown_ = true;
        return;
    case 0xAB:
        deepPowerDown_ = false;
        return;
    case 0xB7:
    case 0xE9:
        if (byteCount_ == 1)
            fourByte_ = instruction_ == 0xB7;
        return;
    case 0x01:
    case 0x31:
        if (!(wel || statusWriteEnabled_) || byteCount_ < 2)
            return;
        wel_ = false;
        if (type_.style == SpiFlashStyle::Sst25)
            status_ = static_cast<std::uint16_t>(newStatus_[0] & kSstWritable);
        else if (type_.style == SpiFlashStyle::Macronix)
            status_ = static_cast<std::uint16_t>(newStatus_[0] & kSr1Writable);
        else if (instruction_ == 0x01)
            status_ = static_cast<std::uint16_t>((status_ & kCmp) | (newStatus_[0] & kSr1Writable));
        if (type_.style == SpiFlashStyle::Winbond && (instruction_ == 0x31 || byteCount_ >= 3))
            status_ = static_cast<std::uint16_t>((status_ & kSr1Writable) |
                                                 ((newStatus_[1] << 8) & kCmp));
        // No status write time is given: it takes a page program's.
        busyUntil_ = now_ + type_.pageProgramNs + extraBusyNs;
        return;
    case 0xAD:
        if (aai_) {
            if (byteCount_ == 3)
                aaiWord();
            return;
        }
        if (!wel || byteCount_ != 6)
            return;
        // WEL stays set through AAI, until WRDI.
        aai_ = true;
        aaiAddress_ = address_ & ~1u;
        aaiWord();
        return;
    case 0x02:
    case 0x12: {
        const int length = addressBytes(instruction_);
        if (!wel || byteCount_ <= 1 + length)
            return;
        wel_ = false;
        if (type_.style == SpiFlashStyle::Sst25) {
            // Byte program: the first data byte alone.
            if (!isProtected(address_))
                memory_[address_] &= data_[0];
            busyUntil_ = now_ + type_.pageProgramNs + extraBusyNs;
            return;
        }
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
    case 0x21:
    case 0x52:
    case 0x5C:
    case 0xD8:
    case 0xDC:
        if (!wel || byteCount_ != 1 + addressBytes(instruction_))
            return;
        wel_ = false;
        if (instruction_ == 0x20 || instruction_ == 0x21)
            erase(address_, 4096, type_.sectorEraseNs);
        else if (instruction_ == 0x52 || instruction_ == 0x5C)
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
