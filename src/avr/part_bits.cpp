#include "avr/part_bits.h"

#include "hw/port_failure.h"

#include <cctype>

namespace vardel {

namespace {

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

PartBits::PartBits(const AvrPart& part) : part_(&part)
{
    values_.fill(0xFF);
    factoryDefault();
}

const char* PartBits::byteName(int byte) const
{
    return byte == lockByte() ? "lock" : part_->fuses[byte].name;
}

const char* PartBits::bitName(int byte, int bit) const
{
    return byte == lockByte() ? part_->lockBits[bit] : part_->fuses[byte].bits[bit];
}

const char* PartBits::description(int byte, int bit) const
{
    if (byte == lockByte())
        return part_->lockBits[bit] ? "" : nullptr;
    return part_->fuses[byte].descriptions[bit];
}

std::uint8_t PartBits::mask(int byte) const
{
    std::uint8_t m = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (bitName(byte, bit))
            m = static_cast<std::uint8_t>(m | 1u << bit);
    return m;
}

std::optional<PartBit> PartBits::find(std::string_view name) const
{
    for (int byte = 0; byte < byteCount(); ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if (const char* n = bitName(byte, bit); n && SameName(n, name))
                return PartBit{byte, bit};
    return std::nullopt;
}

void PartBits::setValue(int byte, std::uint8_t value)
{
    values_[byte] = static_cast<std::uint8_t>(value | ~mask(byte));
}

void PartBits::setProgrammed(PartBit bit, bool programmed)
{
    const std::uint8_t one = static_cast<std::uint8_t>(1u << bit.bit);
    setValue(bit.byte, programmed ? values_[bit.byte] & ~one : values_[bit.byte] | one);
}

void PartBits::factoryDefault()
{
    for (int byte = 0; byte < part_->fuseCount; ++byte)
        setValue(byte, part_->fuses[byte].factory);
}

bool PartBits::endsSerialProgramming(PartBit bit, bool programmed) const
{
    const char* name = bitName(bit.byte, bit.bit);
    if (!name || bit.byte == lockByte())
        return false;
    const std::string_view n(name);
    if (n == "SPIEN")
        return !programmed;
    return (n == "RSTDISBL" || n == "DWEN") && programmed;
}

PartBitsCommands::PartBitsCommands(AvrSerial& serial, const AvrPart& part, PartBits& bits,
                                   Host& host, OperationLock& operations)
    : serial_(serial), ops_(serial, part), bits_(bits), host_(host), operations_(operations),
      writer_(serial, host, operations)
{
}

std::vector<int> PartBitsCommands::bytesOf(Kind kind) const
{
    std::vector<int> bytes;
    if (kind == Kind::Lock) {
        if (bits_.part().instructions.lockRead && bits_.part().instructions.lockWrite &&
            bits_.mask(bits_.lockByte()))
            bytes.push_back(bits_.lockByte());
        return bytes;
    }
    for (int byte = 0; byte < bits_.part().fuseCount; ++byte)
        bytes.push_back(byte);
    return bytes;
}

std::vector<std::uint8_t> PartBitsCommands::readBytes(Kind kind)
{
    std::vector<std::uint8_t> values;
    for (const int byte : bytesOf(kind))
        values.push_back(static_cast<std::uint8_t>(
            (byte == bits_.lockByte() ? ops_.readLock() : ops_.readFuse(byte)) |
            ~bits_.mask(byte)));
    return values;
}

PartBitsCommands::Outcome PartBitsCommands::read(Kind kind)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    if (!writer_.enter())
        return Outcome::Failed;
    const std::vector<int> bytes = bytesOf(kind);
    const std::vector<std::uint8_t> values = readBytes(kind);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bits_.setValue(bytes[i], values[i]);
    serial_.AllLinesLow();
    host_.NormalCursor();
    return Outcome::Done;
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_);
    return Outcome::Failed;
}

// A part-table part's bytes as the lock or fuse write sees them: a bit is `byte * 8 + bit`.
class PartBitsCommands::Target final : public BitsTarget {
public:
    Target(PartBitsCommands& commands, Kind kind)
        : c_(commands), kind_(kind), bytes_(commands.bytesOf(kind))
    {
        // A lock byte the part writes but cannot read (AT90S1200) is written unchecked.
        const PartBits& bits = c_.bits_;
        if (!readable() && bits.part().instructions.lockWrite && bits.mask(bits.lockByte()))
            bytes_.push_back(bits.lockByte());
    }

    std::string shownName() const override { return c_.bits_.part().label(); }
    bool isShown(const std::array<std::uint8_t, 3>& signature) const override
    {
        return signature == c_.bits_.part().signature;
    }
    std::optional<std::string> refusal() const override
    {
        if (!bytes_.empty())
            return std::nullopt;
        return "The " + c_.bits_.part().label() + " has no " +
               (kind_ == Kind::Fuses ? "fuse" : "lock") + " bits that serial programming reaches.";
    }
    bool readable() const override
    {
        return kind_ == Kind::Fuses || c_.bits_.part().instructions.lockRead;
    }
    std::vector<BitState> read() override
    {
        // Lock bits are only ever programmed; a chip that cannot tell starts from none.
        const std::vector<std::uint8_t> values =
            readable() ? c_.readBytes(kind_) : std::vector<std::uint8_t>(bytes_.size(), 0xFF);
        std::vector<BitState> states;
        for (std::size_t i = 0; i < bytes_.size(); ++i)
            for (int bit = 0; bit < 8; ++bit)
                if (const char* name = c_.bits_.bitName(bytes_[i], bit))
                    states.push_back({bytes_[i] * 8 + bit, name, !(values[i] >> bit & 1)});
        return states;
    }
    bool wanted(int box) const override { return c_.bits_.programmed(bitOf(box)); }
    bool endsSerialProgramming(int box, bool programmed) const override
    {
        return c_.bits_.endsSerialProgramming(bitOf(box), programmed);
    }
    std::optional<std::string> lockoutRefusal(int) const override
    {
        return c_.allowLockout ? std::nullopt : std::optional<std::string>("");
    }
    void write(const std::vector<BitState>& before) override
    {
        for (const int byte : bytes_) {
            // The byte as the chip held it: only the bytes that change are written.
            std::uint8_t was = 0xFF;
            for (const BitState& bit : before)
                if (bitOf(bit.box).byte == byte && bit.programmed)
                    was = static_cast<std::uint8_t>(was & ~(1u << bitOf(bit.box).bit));
            const std::uint8_t value = c_.bits_.value(byte);
            if (static_cast<std::uint8_t>(value | ~c_.bits_.mask(byte)) == was)
                continue;
            if (byte == c_.bits_.lockByte())
                c_.ops_.writeLock(value);
            else
                c_.ops_.writeFuse(byte, value);
        }
    }

private:
    static PartBit bitOf(int box) { return {box / 8, box % 8}; }

    PartBitsCommands& c_;
    Kind kind_;
    std::vector<int> bytes_;
};

PartBitsCommands::Outcome PartBitsCommands::program(Kind kind)
{
    Target target(*this, kind);
    writer_.showChanges = showChanges;
    return writer_.program(kind, target);
}

} // namespace vardel
