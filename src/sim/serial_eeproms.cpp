#include "sim/serial_eeproms.h"

#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace vardel::sim {

namespace {
const char* kMemoryFile = "eeprom.bin";
const char* kStatusKey = "eeprom.status";
const char* kMakerKey = "eeprom.maker";
const char* kEraseAllKey = "eeprom.eral";

constexpr std::array<const char*, 3> kMakerNames{"microchip", "atmel", "st"};

// From the makers' datasheets; the page is the smallest any maker's part has.
constexpr std::array<Spi25Type, 11> kSpiTypes{{
    {"25010", nullptr, 128, 1, 8},
    {"25020", nullptr, 256, 1, 8},
    {"25040", nullptr, 512, 1, 8},
    {"25080", nullptr, 1024, 2, 16},
    {"25160", nullptr, 2048, 2, 16},
    {"25320", nullptr, 4096, 2, 32},
    {"25640", nullptr, 8192, 2, 32},
    {"25128", nullptr, 16384, 2, 64},
    {"25256", nullptr, 32768, 2, 64},
    {"25512", nullptr, 65536, 2, 128},
    {"25LC1024", "25M01", 131072, 3, 256},
}};

// Address bits x8 / x16: 93C46 7 / 6, 93C56 9 / 8 and 93C76 11 / 10 with the top bit a
// don't-care, 93C66 9 / 8, 93C86 11 / 10.
constexpr std::array<Microwire93Type, 10> kMicrowireTypes{{
    {"93C46x8", 128, 7, 8},
    {"93C46x16", 128, 6, 16},
    {"93C56x8", 256, 9, 8},
    {"93C56x16", 256, 8, 16},
    {"93C66x8", 512, 9, 8},
    {"93C66x16", 512, 8, 16},
    {"93C76x8", 1024, 11, 8},
    {"93C76x16", 1024, 10, 16},
    {"93C86x8", 2048, 11, 8},
    {"93C86x16", 2048, 10, 16},
}};

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

std::string hexByte(std::uint8_t value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}
} // namespace

std::vector<ChipMemoryFile> AvrSocketEeprom::memoryFiles()
{
    return {{kMemoryFile, "the memory of the " + name_, &memory_}};
}

void AvrSocketEeprom::describe(ChipKeys& keys) const
{
    keys["eeprom"] = name_;
}

bool AvrSocketEeprom::set(const std::string& key, const std::string& /*value*/, std::string& error)
{
    error = key + " is not a key of the " + name_;
    return false;
}

std::string AvrSocketEeprom::typeNames()
{
    std::string names;
    for (const Spi25Type& t : kSpiTypes)
        names += std::string(names.empty() ? "" : ", ") + t.name;
    for (const Microwire93Type& t : kMicrowireTypes)
        names += std::string(", ") + t.name;
    return names;
}

void AvrSocketEeprom::startWriteCycle(std::int64_t nanoseconds, std::int64_t length,
                                      std::vector<std::uint32_t> addresses)
{
    cycleEnd_ = nanoseconds + length;
    cycleAddresses_ = std::move(addresses);
}

void AvrSocketEeprom::cutWriteCycle(std::int64_t nanoseconds)
{
    if (busy(nanoseconds))
        for (const std::uint32_t a : cycleAddresses_)
            memory_[a] = 0xFF;
    cycleEnd_ = 0;
    cycleAddresses_.clear();
}

// ---- 25xx ----

std::span<const Spi25Type> Eeprom25xx::types()
{
    return kSpiTypes;
}

const Spi25Type* Eeprom25xx::findType(std::string_view name)
{
    for (const Spi25Type& t : kSpiTypes)
        if (sameName(t.name, name) || (t.alias && sameName(t.alias, name)))
            return &t;
    return nullptr;
}

Eeprom25xx::Eeprom25xx(const Spi25Type& type)
    : AvrSocketEeprom(type.name, type.bytes), type_(type),
      page_(static_cast<std::size_t>(type.pageSize)),
      pageLoaded_(static_cast<std::size_t>(type.pageSize))
{
}

void Eeprom25xx::describe(ChipKeys& keys) const
{
    AvrSocketEeprom::describe(keys);
    keys[kMakerKey] = kMakerNames[static_cast<std::size_t>(maker_)];
    keys[kStatusKey] = hexByte(status_);
}

bool Eeprom25xx::set(const std::string& key, const std::string& value, std::string& error)
{
    if (key == kMakerKey) {
        for (std::size_t i = 0; i < kMakerNames.size(); ++i)
            if (value == kMakerNames[i]) {
                maker_ = static_cast<Maker>(i);
                return true;
            }
        error =
            std::string(kMakerKey) + " takes microchip, atmel or st; \"" + value + "\" is not one";
        return false;
    }
    if (key != kStatusKey)
        return AvrSocketEeprom::set(key, value, error);
    unsigned parsed = 0;
    char rest = 0;
    if (value.size() != 2 || std::sscanf(value.c_str(), "%2x%c", &parsed, &rest) != 1 ||
        (parsed & ~unsigned{kNonVolatileBits})) {
        error = std::string(kStatusKey) + " takes two hex digits with only WPEN (bit 7), BP1 and " +
                "BP0 (bits 3 and 2) set, for example 8C; \"" + value + "\" is not one";
        return false;
    }
    // As a WRSR would: the 25010 to 25040 have no WPEN to keep.
    status_ = static_cast<std::uint8_t>(parsed & nonVolatileBits());
    return true;
}

std::uint8_t Eeprom25xx::statusNow(std::int64_t nanoseconds) const
{
    const bool cycle = busy(nanoseconds);
    std::uint8_t ones = 0;
    if (maker_ == Maker::Atmel && cycle)
        ones = small() ? 0xF0 : 0x70;
    else if (maker_ == Maker::St && small())
        ones = 0xF0;
    return static_cast<std::uint8_t>(status_ | ones | (wel_ ? 0x02 : 0) | (cycle ? 0x01 : 0));
}

bool Eeprom25xx::isProtected(std::uint32_t address) const
{
    const auto bytes = static_cast<std::uint32_t>(type_.bytes);
    switch ((status_ >> 2) & 3) {
    case 1:
        return address >= bytes - bytes / 4;
    case 2:
        return address >= bytes / 2;
    case 3:
        return true;
    default:
        return false;
    }
}

void Eeprom25xx::pins(bool vcc, bool reset, bool /*xtal*/, bool sck, bool mosi,
                      std::int64_t nanoseconds)
{
    if (!vcc) {
        if (powered_)
            cutWriteCycle(nanoseconds);
        powered_ = false;
        selected_ = false;
        sending_ = false;
        wel_ = false;
        so_ = true;
        return;
    }
    if (!powered_) {
        // The chip comes up deselected whatever /CS holds: an instruction begins with /CS
        // falling.
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
        onDeselect(nanoseconds);
    }
    if (selected_ && sck && !prevSck_) {
        shiftIn_ = static_cast<std::uint8_t>((shiftIn_ << 1) | (mosi ? 1 : 0));
        if (++bitCount_ == 8) {
            bitCount_ = 0;
            onByte(shiftIn_, nanoseconds);
        }
    } else if (selected_ && !sck && prevSck_ && sending_) {
        if (outBits_ == 0) {
            // The next byte: RDSR repeats the status, READ goes on to the next address.
            if (instruction_ == 0x05) {
                shiftOut_ = statusNow(nanoseconds);
            } else {
                shiftOut_ = memory_[address_];
                address_ = (address_ + 1) % static_cast<std::uint32_t>(type_.bytes);
            }
            outBits_ = 8;
        }
        so_ = (shiftOut_ & 0x80) != 0;
        shiftOut_ = static_cast<std::uint8_t>(shiftOut_ << 1);
        --outBits_;
    }
    prevSck_ = sck;
}

void Eeprom25xx::onByte(std::uint8_t byte, std::int64_t nanoseconds)
{
    const int n = byteCount_++;
    if (ignored_)
        return;
    if (n == 0) {
        std::uint8_t op = byte;
        // The one-address-byte parts take bit 3 of READ and WRITE as a8 (a don't-care below
        // 512 bytes).
        high_ = 0;
        if (type_.addressBytes == 1 && ((byte & 0xF7) == 0x02 || (byte & 0xF7) == 0x03)) {
            op = byte & 0xF7;
            high_ = type_.bytes > 256 ? ((byte >> 3) & 1u) << 8 : 0;
        }
        address_ = 0;
        instruction_ = op;
        // During a write cycle the chip answers RDSR alone.
        const bool known =
            op == 0x01 || op == 0x02 || op == 0x03 || op == 0x04 || op == 0x05 || op == 0x06;
        ignored_ = !known || (busy(nanoseconds) && op != 0x05);
        if (!ignored_ && op == 0x05) {
            sending_ = true;
            outBits_ = 0;
        }
        std::fill(pageLoaded_.begin(), pageLoaded_.end(), false);
        return;
    }
    if (instruction_ == 0x01 && n == 1) {
        newStatus_ = byte;
        return;
    }
    if (instruction_ != 0x02 && instruction_ != 0x03)
        return;
    if (n <= type_.addressBytes) {
        address_ = (address_ << 8) | byte;
        if (n == type_.addressBytes) {
            address_ = (address_ | high_) % static_cast<std::uint32_t>(type_.bytes);
            if (instruction_ == 0x03) {
                sending_ = true;
                outBits_ = 0;
            }
        }
        return;
    }
    if (instruction_ != 0x02)
        return;
    // WRITE data: bytes past the page's end wrap to its start.
    const auto page = static_cast<std::uint32_t>(type_.pageSize);
    const std::uint32_t offset = address_ % page;
    page_[offset] = byte;
    pageLoaded_[offset] = true;
    address_ = address_ - offset + (offset + 1) % page;
}

void Eeprom25xx::onDeselect(std::int64_t nanoseconds)
{
    selected_ = false;
    sending_ = false;
    so_ = true;
    // An instruction counts only when /CS rises on a byte boundary.
    const bool whole = bitCount_ == 0 && !ignored_;
    if (!whole || byteCount_ == 0)
        return;
    switch (instruction_) {
    case 0x06:
        wel_ = true;
        break;
    case 0x04:
        wel_ = false;
        break;
    case 0x01:
        if (wel_ && byteCount_ >= 2) {
            status_ = static_cast<std::uint8_t>(newStatus_ & nonVolatileBits());
            startWriteCycle(nanoseconds, writeCycleNs, {});
        }
        wel_ = false;
        break;
    case 0x02: {
        if (!wel_ || byteCount_ <= 1 + type_.addressBytes)
            break;
        const auto page = static_cast<std::uint32_t>(type_.pageSize);
        const std::uint32_t base = address_ - address_ % page;
        // A write into a protected block is ignored; the latch is reset all the same.
        if (isProtected(base)) {
            wel_ = false;
            break;
        }
        std::vector<std::uint32_t> written;
        for (std::uint32_t i = 0; i < page; ++i)
            if (pageLoaded_[i]) {
                memory_[base + i] = page_[i];
                written.push_back(base + i);
            }
        startWriteCycle(nanoseconds, writeCycleNs, std::move(written));
        wel_ = false;
        break;
    }
    default:
        break;
    }
}

// ---- 93Cxx ----

std::span<const Microwire93Type> Eeprom93Cxx::types()
{
    return kMicrowireTypes;
}

const Microwire93Type* Eeprom93Cxx::findType(std::string_view name)
{
    for (const Microwire93Type& t : kMicrowireTypes)
        if (sameName(t.name, name))
            return &t;
    return nullptr;
}

Eeprom93Cxx::Eeprom93Cxx(const Microwire93Type& type)
    : AvrSocketEeprom(type.name, type.bytes), type_(type)
{
}

void Eeprom93Cxx::describe(ChipKeys& keys) const
{
    AvrSocketEeprom::describe(keys);
    keys[kEraseAllKey] = eraseAllIgnored ? "ignored" : "done";
}

bool Eeprom93Cxx::set(const std::string& key, const std::string& value, std::string& error)
{
    if (key != kEraseAllKey)
        return AvrSocketEeprom::set(key, value, error);
    if (value != "done" && value != "ignored") {
        error = std::string(kEraseAllKey) + " takes done or ignored; \"" + value + "\" is not one";
        return false;
    }
    eraseAllIgnored = value == "ignored";
    return true;
}

std::uint32_t Eeprom93Cxx::words() const
{
    return static_cast<std::uint32_t>(type_.bytes * 8 / type_.wordBits);
}

std::uint32_t Eeprom93Cxx::word(std::uint32_t index) const
{
    if (type_.wordBits == 8)
        return memory_[index];
    return (std::uint32_t{memory_[2 * index]} << 8) | memory_[2 * index + 1];
}

void Eeprom93Cxx::setWord(std::uint32_t index, std::uint32_t value,
                          std::vector<std::uint32_t>& touched)
{
    if (type_.wordBits == 8) {
        memory_[index] = static_cast<std::uint8_t>(value);
        touched.push_back(index);
        return;
    }
    memory_[2 * index] = static_cast<std::uint8_t>(value >> 8);
    memory_[2 * index + 1] = static_cast<std::uint8_t>(value);
    touched.push_back(2 * index);
    touched.push_back(2 * index + 1);
}

bool Eeprom93Cxx::miso() const
{
    if (!powered_ || !selected_)
        return true;
    if (driving_)
        return do_;
    if (showStatus_ && phase_ == Phase::Start)
        return !busy(now_);
    return true;
}

void Eeprom93Cxx::pins(bool vcc, bool reset, bool /*xtal*/, bool sck, bool mosi,
                       std::int64_t nanoseconds)
{
    now_ = nanoseconds;
    if (!vcc) {
        if (powered_)
            cutWriteCycle(nanoseconds);
        powered_ = false;
        selected_ = false;
        driving_ = false;
        showStatus_ = false;
        ewen_ = false;
        return;
    }
    if (!powered_) {
        powered_ = true;
        // Powered up write-disabled; an instruction begins with CS rising.
        ewen_ = false;
        selected_ = false;
        prevSk_ = sck;
        return;
    }
    if (reset && !selected_) {
        selected_ = true;
        phase_ = Phase::Start;
        driving_ = false;
    } else if (!reset && selected_) {
        onDeselect(nanoseconds);
    }
    if (selected_ && sck && !prevSk_)
        onRising(mosi, nanoseconds);
    prevSk_ = sck;
}

void Eeprom93Cxx::onRising(bool di, std::int64_t nanoseconds)
{
    switch (phase_) {
    case Phase::Start:
        // Leading zeros are no instruction; the first 1 is the start bit.
        if (di) {
            showStatus_ = false;
            phase_ = Phase::Opcode;
            bits_ = 0;
            opcode_ = 0;
            address_ = 0;
            data_ = 0;
        }
        return;
    case Phase::Opcode:
        opcode_ = (opcode_ << 1) | (di ? 1 : 0);
        if (++bits_ == 2) {
            phase_ = Phase::Address;
            bits_ = 0;
        }
        return;
    case Phase::Address: {
        address_ = (address_ << 1) | (di ? 1 : 0);
        if (++bits_ < type_.addressBits)
            return;
        bits_ = 0;
        const unsigned top = address_ >> (type_.addressBits - 2);
        phase_ = Phase::Done;
        if (opcode_ == 0b10 && !busy(nanoseconds)) {
            // The dummy 0 comes with the last address bit, then the word.
            address_ %= words();
            outWord_ = word(address_);
            outBits_ = type_.wordBits;
            driving_ = true;
            do_ = false;
            phase_ = Phase::ReadOut;
        } else if (opcode_ == 0b01 || (opcode_ == 0b00 && top == 0b01)) {
            phase_ = Phase::DataIn;
        } else if (opcode_ == 0b00 && top == 0b11) {
            ewen_ = true;
        } else if (opcode_ == 0b00 && top == 0b00) {
            ewen_ = false;
        }
        return;
    }
    case Phase::DataIn:
        data_ = (data_ << 1) | (di ? 1 : 0);
        if (++bits_ == type_.wordBits)
            phase_ = Phase::Done;
        return;
    case Phase::ReadOut:
        if (outBits_ == 0) {
            address_ = (address_ + 1) % words();
            outWord_ = word(address_);
            outBits_ = type_.wordBits;
        }
        do_ = ((outWord_ >> (outBits_ - 1)) & 1) != 0;
        --outBits_;
        return;
    case Phase::Done:
        return;
    }
}

void Eeprom93Cxx::onDeselect(std::int64_t nanoseconds)
{
    selected_ = false;
    driving_ = false;
    const bool complete = phase_ == Phase::Done;
    const unsigned top = address_ >> (type_.addressBits - 2);
    const bool programs =
        opcode_ == 0b01 || opcode_ == 0b11 || (opcode_ == 0b00 && (top == 0b10 || top == 0b01));
    // A write, erase, ERAL or WRAL whose bits are all in starts its cycle as CS goes low, if
    // writes are enabled; otherwise it is lost.
    const bool all = opcode_ == 0b00;
    if (!complete || !programs || !ewen_ || busy(nanoseconds) || (all && eraseAllIgnored)) {
        phase_ = Phase::Start;
        return;
    }
    phase_ = Phase::Start;
    std::vector<std::uint32_t> touched;
    const std::uint32_t mask = type_.wordBits == 16 ? 0xFFFF : 0xFF;
    if (opcode_ == 0b01) {
        setWord(address_ % words(), data_ & mask, touched);
    } else if (opcode_ == 0b11) {
        setWord(address_ % words(), mask, touched);
    } else {
        // ERAL (10) or WRAL (01).
        for (std::uint32_t i = 0; i < words(); ++i)
            setWord(i, top == 0b10 ? mask : data_ & mask, touched);
    }
    startWriteCycle(nanoseconds, writeCycleNs, std::move(touched));
    showStatus_ = true;
}

std::unique_ptr<AvrSocketEeprom> MakeAvrSocketEeprom(const std::string& type)
{
    if (const Spi25Type* spi = Eeprom25xx::findType(type))
        return std::make_unique<Eeprom25xx>(*spi);
    if (const Microwire93Type* wire = Eeprom93Cxx::findType(type))
        return std::make_unique<Eeprom93Cxx>(*wire);
    return nullptr;
}

std::vector<std::uint8_t>& SerialEeprom::memory()
{
    return avrSocket ? avrSocket->memory() : *eepromSocket->memoryFiles().front().memory;
}

SerialEeprom MakeSerialEeprom(const std::string& type, std::string& error)
{
    SerialEeprom chip;
    if (Eeprom24Cxx::findType(type))
        chip.eepromSocket = MakeEepromChip(type, error);
    else
        chip.avrSocket = MakeAvrSocketEeprom(type);
    if (!chip)
        error = "There is no serial EEPROM of type \"" + type + "\"; the types are " +
                Eeprom24Cxx::typeNames() + ", " + AvrSocketEeprom::typeNames();
    return chip;
}

void InsertSerialEeprom(SimBoard& board, SerialEeprom chip)
{
    board.removeEeprom();
    if (dynamic_cast<AvrSocketEeprom*>(board.avr()) || chip.avrSocket)
        board.removeAvr();
    if (chip.avrSocket)
        board.insertAvr(std::move(chip.avrSocket));
    else
        board.insertEeprom(std::move(chip.eepromSocket));
}

} // namespace vardel::sim
