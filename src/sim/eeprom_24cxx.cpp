#include "sim/eeprom_24cxx.h"

#include "sim/chips.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace vardel::sim {

namespace {
const char* kMemoryFile = "eeprom.bin";

constexpr std::array<EepromType, 11> kTypes{{
    {"24C01", 128, 1, 0, 8},
    {"24C02", 256, 1, 0, 8},
    {"24C04", 512, 1, 1, 16},
    {"24C08", 1024, 1, 2, 16},
    {"24C16", 2048, 1, 3, 16},
    {"24C32", 4096, 2, 0, 32},
    {"24C64", 8192, 2, 0, 32},
    {"24C128", 16384, 2, 0, 64},
    {"24C256", 32768, 2, 0, 64},
    {"24C512", 65536, 2, 0, 128},
    {"24C1024", 131072, 2, 1, 256},
}};

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}
} // namespace

std::span<const EepromType> Eeprom24Cxx::types()
{
    return kTypes;
}

const EepromType* Eeprom24Cxx::findType(std::string_view name)
{
    for (const EepromType& type : kTypes) {
        if (sameName(type.name, name))
            return &type;
    }
    return nullptr;
}

std::string Eeprom24Cxx::typeNames()
{
    std::string names;
    for (const EepromType& type : kTypes) {
        if (!names.empty())
            names += ", ";
        names += type.name;
    }
    return names;
}

Eeprom24Cxx::Eeprom24Cxx(const EepromType& type)
    : type_(type), memory_(static_cast<std::size_t>(type.bytes), 0xFF),
      pageData_(static_cast<std::size_t>(type.pageSize), 0xFF),
      pageLoaded_(static_cast<std::size_t>(type.pageSize), false)
{
}

bool Eeprom24Cxx::sdaReleased() const
{
    return !sdaStuckLow && !driveLow_;
}

bool Eeprom24Cxx::busy(std::int64_t nanoseconds) const
{
    return busyForever || (cycleRunning_ && nanoseconds < cycleEnd_);
}

void Eeprom24Cxx::pins(bool power, bool scl, bool sdaMaster, std::int64_t nanoseconds)
{
    if (!power || !powered_) {
        // Without supply the chip does nothing and its output is off; the supply coming back
        // starts the bus logic afresh, with the lines as they are now (no edge from power-on).
        // The address counter does not survive; the memory does, except the bytes of a write
        // cycle cut short, which are left undefined (here: erased).
        if (power != powered_) {
            if (!power && cycleRunning_ && nanoseconds < cycleEnd_) {
                for (std::size_t i = 0; i < cycleLoaded_.size(); ++i)
                    if (cycleLoaded_[i])
                        memory_[cycleBase_ + static_cast<std::uint32_t>(i)] = 0xFF;
            }
            if (!power)
                cycleRunning_ = false;
            reset();
            readEnded_ = false;
            address_ = 0;
        }
        powered_ = power;
        prevScl_ = scl;
        prevSda_ = sdaMaster && sdaReleased();
        return;
    }
    if (busy(nanoseconds)) {
        // The write cycle shuts the bus interface off: no START, no acknowledge.
        reset();
        prevScl_ = scl;
        prevSda_ = sdaMaster && sdaReleased();
        return;
    }
    cycleRunning_ = false;

    // The chip reads the bus, which is its own output wired to the master's.
    const bool sda = sdaMaster && sdaReleased();
    if (scl != prevScl_) {
        // A port write can move SDA together with SCL. With SCL rising, SDA's new level is the
        // one sampled (it was set up before the edge); with SCL falling, SDA's change counts as
        // after the edge (the data hold time is zero). Neither is a START or STOP.
        if (scl)
            onRising(sda);
        else
            onFalling();
    } else if (scl && sda != prevSda_) {
        if (sda)
            onStop(nanoseconds);
        else
            onStart();
    }
    prevScl_ = scl;
    prevSda_ = sdaMaster && sdaReleased();
}

void Eeprom24Cxx::reset()
{
    phase_ = Phase::Idle;
    driveLow_ = false;
    bitCount_ = 0;
    reading_ = false;
    writeArmed_ = false;
    dataBytes_ = 0;
    std::fill(pageLoaded_.begin(), pageLoaded_.end(), false);
}

void Eeprom24Cxx::onStart()
{
    // A START in the middle of a write (a repeated START) drops the page buffer unwritten.
    reset();
    readEnded_ = false;
    phase_ = Phase::Receiving;
    expect_ = Expect::Control;
}

void Eeprom24Cxx::onStop(std::int64_t nanoseconds)
{
    // Only a STOP on the byte boundary right after an acknowledged data byte starts the write
    // cycle. The bytes go to memory at once: nothing can read them before the cycle ends.
    if (writeArmed_ && !dropWrites) {
        for (int i = 0; i < type_.pageSize; ++i) {
            if (pageLoaded_[static_cast<std::size_t>(i)])
                memory_[pageBase_ + static_cast<std::uint32_t>(i)] =
                    pageData_[static_cast<std::size_t>(i)];
        }
        cycleRunning_ = true;
        cycleEnd_ = nanoseconds + writeCycleNs;
        cycleBase_ = pageBase_;
        cycleLoaded_ = pageLoaded_;
    }
    if (readEnded_)
        ++readsEndedByStop;
    readEnded_ = false;
    reset();
}

void Eeprom24Cxx::onRising(bool sda)
{
    switch (phase_) {
    case Phase::Receiving:
        shift_ = static_cast<std::uint8_t>((shift_ << 1) | (sda ? 1 : 0));
        if (++bitCount_ == 8)
            phase_ = Phase::ByteIn;
        break;
    case Phase::AckIn:
        masterAck_ = !sda;
        break;
    default:
        break;
    }
}

void Eeprom24Cxx::onFalling()
{
    switch (phase_) {
    case Phase::Receiving:
        // A whole clock of another byte has gone by: a STOP now is no longer on the byte
        // boundary. (The STOP itself begins with SCL rising, which looks like a first bit.)
        writeArmed_ = false;
        break;
    case Phase::ByteIn:
        if (takeByte(shift_)) {
            driveLow_ = true;
            phase_ = Phase::AckOut;
        } else {
            // Not for us, or refused: stay off the bus until the next START.
            reset();
        }
        break;
    case Phase::AckOut:
        driveLow_ = false;
        if (reading_) {
            startSending();
        } else {
            phase_ = Phase::Receiving;
            bitCount_ = 0;
        }
        break;
    case Phase::Sending:
        if (++bitCount_ < 8) {
            driveLow_ = !((shift_ >> (7 - bitCount_)) & 1);
        } else {
            driveLow_ = false;
            phase_ = Phase::AckIn;
        }
        break;
    case Phase::AckIn:
        // No acknowledge: the master wants no more; wait for its STOP (or a START).
        if (masterAck_) {
            startSending();
        } else {
            reset();
            readEnded_ = true;
        }
        break;
    default:
        break;
    }
}

bool Eeprom24Cxx::controlMatches(std::uint8_t control) const
{
    // 1010 then A2..A0; the low blockBits of these carry address instead, the rest are the
    // chip-select inputs, all tied low on the board.
    const int select = (control >> 1) & 0x07;
    return (control >> 4) == 0x0A && (select >> type_.blockBits) == 0;
}

bool Eeprom24Cxx::takeByte(std::uint8_t byte)
{
    const std::uint32_t sizeMask = static_cast<std::uint32_t>(type_.bytes) - 1;
    const std::uint32_t pageMask = static_cast<std::uint32_t>(type_.pageSize) - 1;
    switch (expect_) {
    case Expect::Control:
        if (!controlMatches(byte))
            return false;
        reading_ = (byte & 1) != 0;
        if (!reading_) {
            // The block bits of a read's control byte are ignored: it reads from the counter.
            blockAddress_ = static_cast<std::uint32_t>((byte >> 1) & ((1 << type_.blockBits) - 1))
                            << (8 * type_.wordAddressBytes);
            addressHigh_ = 0;
            expect_ = type_.wordAddressBytes == 2 ? Expect::AddressHigh : Expect::AddressLow;
        }
        return true;
    case Expect::AddressHigh:
        addressHigh_ = static_cast<std::uint32_t>(byte) << 8;
        expect_ = Expect::AddressLow;
        return true;
    case Expect::AddressLow:
        address_ = (blockAddress_ | addressHigh_ | byte) & sizeMask;
        pageBase_ = address_ & ~pageMask;
        expect_ = Expect::Data;
        return true;
    case Expect::Data:
        if (nackAfterDataBytes && dataBytes_ >= *nackAfterDataBytes)
            return false;
        pageData_[address_ & pageMask] = byte;
        pageLoaded_[address_ & pageMask] = true;
        // Only the low bits count up: past the page's end the buffer wraps to its start.
        address_ = pageBase_ | ((address_ + 1) & pageMask);
        ++dataBytes_;
        writeArmed_ = true;
        return true;
    }
    return false;
}

void Eeprom24Cxx::startSending()
{
    shift_ = memory_[address_];
    // The counter rolls over at the end of memory, or at the end of the 64 KiB half for the parts
    // that keep P0 while counting.
    std::uint32_t span = static_cast<std::uint32_t>(type_.bytes);
    if (readWrapsWithinHalf && span > 0x10000)
        span = 0x10000;
    address_ = (address_ & ~(span - 1)) | ((address_ + 1) & (span - 1));
    bitCount_ = 0;
    masterAck_ = false;
    driveLow_ = !(shift_ & 0x80);
    phase_ = Phase::Sending;
}

void Eeprom24Cxx::describe(ChipKeys& keys) const
{
    keys["eeprom"] = type_.name;
}

std::vector<ChipMemoryFile> Eeprom24Cxx::memoryFiles()
{
    return {{kMemoryFile, std::string("the memory of the ") + type_.name, &memory_}};
}

std::unique_ptr<EepromSocketChip> MakeEepromChip(const std::string& type, std::string& error)
{
    const EepromType* found = Eeprom24Cxx::findType(type);
    if (!found) {
        error = "There is no 24Cxx EEPROM of type \"" + type + "\"; the types are " +
                Eeprom24Cxx::typeNames();
        return nullptr;
    }
    return std::make_unique<Eeprom24Cxx>(*found);
}

} // namespace vardel::sim
