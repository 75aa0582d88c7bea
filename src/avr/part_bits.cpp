#include "avr/part_bits.h"

#include "avr/device_catalogue.h"
#include "hw/port_failure.h"

#include <algorithm>

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

void TakeAnswer(const BitsInstruction& read, std::uint8_t answer, PartBits& bits)
{
    for (const CatalogueBit& b : read.bits)
        bits.setProgrammed(b.bit, !(answer >> b.at & 1));
}

void ShowLockMode(PartBits& bits)
{
    const std::optional<PartBit> lb1 = bits.find("LB1");
    const std::optional<PartBit> lb2 = bits.find("LB2");
    if (lb1 && lb2 && bits.programmed(*lb2) && !bits.programmed(*lb1))
        bits.setProgrammed(*lb2, false);
}

bool PartBits::endsSerialProgramming(PartBit bit, bool programmed) const
{
    if (bit.byte < 0 || bit.byte >= part_->fuseCount)
        return false;
    const auto byte = static_cast<std::size_t>(bit.byte);
    const std::uint8_t mask =
        programmed ? part_->endsWhenProgrammed[byte] : part_->endsWhenUnprogrammed[byte];
    return (mask >> bit.bit & 1) != 0;
}

PartBitsCommands::PartBitsCommands(AvrSerial& serial, const AvrPart& part, PartBits& bits,
                                   Host& host, OperationLock& operations)
    : PartBitsCommands(serial, SerialBitsOf(part), bits, host, operations)
{
}

PartBitsCommands::PartBitsCommands(AvrSerial& serial, const SerialBits& sends, PartBits& bits,
                                   Host& host, OperationLock& operations)
    : serial_(serial), serialBits_(sends), bits_(bits), host_(host), operations_(operations),
      writer_(serial)
{
}

std::vector<int> BytesOf(const PartBits& bits, BitsWrite::Kind kind)
{
    std::vector<int> bytes;
    const AvrPart& part = bits.part();
    if (kind == BitsWrite::Kind::Lock) {
        if (part.instructions.lockWrite && bits.mask(bits.lockByte()))
            bytes.push_back(bits.lockByte());
        return bytes;
    }
    for (int byte = 0; byte < part.fuseCount; ++byte)
        bytes.push_back(byte);
    return bytes;
}

std::vector<PartBit> BitsWritten(const PartBits& bits, BitsWrite::Kind kind,
                                 const SerialBits& serial)
{
    const bool lock = kind == BitsWrite::Kind::Lock;
    std::vector<PartBit> written;
    for (const BitsInstruction& w : lock ? serial.lockWrites : serial.fuseWrites)
        for (const CatalogueBit& b : w.bits)
            if (bits.bitName(b.bit.byte, b.bit.bit) && !std::ranges::count(written, b.bit))
                written.push_back(b.bit);
    // In the order the reads give them, then any the reads do not give.
    std::vector<PartBit> out;
    for (const BitsInstruction& r : lock ? serial.lockReads : serial.fuseReads)
        for (const CatalogueBit& b : r.bits)
            if (std::ranges::count(written, b.bit) && !std::ranges::count(out, b.bit))
                out.push_back(b.bit);
    for (const PartBit& b : written)
        if (!std::ranges::count(out, b))
            out.push_back(b);
    return out;
}

std::vector<PartBit> BitsWritten(const PartBits& bits, BitsWrite::Kind kind)
{
    return BitsWritten(bits, kind, SerialBitsOf(bits.part()));
}

std::vector<int> PartBitsCommands::bytesOf(Kind kind) const
{
    return BytesOf(bits_, kind);
}

std::vector<PartBit> PartBitsCommands::writtenBits(Kind kind) const
{
    return BitsWritten(bits_, kind, serialBits_);
}

const std::vector<BitsInstruction>& PartBitsCommands::reads(Kind kind) const
{
    return kind == Kind::Fuses ? serialBits_.fuseReads : serialBits_.lockReads;
}

const std::vector<BitsInstruction>& PartBitsCommands::writes(Kind kind) const
{
    return kind == Kind::Fuses ? serialBits_.fuseWrites : serialBits_.lockWrites;
}

std::uint8_t PartBitsCommands::send(const BitsInstruction& instruction)
{
    const std::array<std::uint8_t, 4>& i = instruction.instruction;
    const std::uint8_t result = serial_.SendPacedInstruction(
        i[0], i[1], i[2], i[3])[static_cast<std::size_t>(instruction.valueAt)];
    if (instruction.settleClocks > 0)
        serial_.ClockPulses(instruction.settleClocks);
    if (instruction.settleMs > 0)
        serial_.clock().Sleep(instruction.settleMs);
    return result;
}

std::array<std::uint8_t, 4> PartBitsCommands::encode(const BitsInstruction& write) const
{
    std::array<std::uint8_t, 4> out = write.instruction;
    std::uint8_t& value = out[static_cast<std::size_t>(write.valueAt)];
    for (const CatalogueBit& b : write.bits) {
        const auto mask = static_cast<std::uint8_t>(1u << b.at);
        value = bits_.programmed(b.bit) ? static_cast<std::uint8_t>(value & ~mask)
                                        : static_cast<std::uint8_t>(value | mask);
    }
    return out;
}

void PartBitsCommands::readInto(Kind kind, PartBits& into)
{
    for (const BitsInstruction& r : reads(kind)) {
        const std::uint8_t value = send(r);
        if (kind == Kind::Lock)
            lockAnswer_ = value;
        TakeAnswer(r, value, into);
    }
}

void PartBitsCommands::write(Kind kind, const std::vector<BitState>& before)
{
    for (const BitsInstruction& w : writes(kind)) {
        // Unless the part takes every write, only an instruction whose bits change goes out.
        const bool changes = std::ranges::any_of(w.bits, [&](const CatalogueBit& b) {
            return std::ranges::any_of(before, [&](const BitState& state) {
                return state.box == b.bit.byte * 8 + b.bit.bit &&
                       state.programmed != bits_.programmed(b.bit);
            });
        });
        if (!serialBits_.writesAll && !changes)
            continue;
        BitsInstruction out = w;
        out.instruction = encode(w);
        if (kind == Kind::Lock) {
            std::uint8_t& fourth = out.instruction[3];
            fourth = static_cast<std::uint8_t>((fourth & ~serialBits_.lockEcho) |
                                               (lockAnswer_ & serialBits_.lockEcho));
        }
        send(out);
    }
}

PartBitsCommands::Outcome PartBitsCommands::read(Kind kind)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    // A chip that cannot report its lock bits would answer with an echo, shown as lock bits.
    if (!readable(kind))
        return Outcome::Failed;
    host_.BusyCursor();
    if (!serial_.ProgrammingEnable()) {
        host_.NormalCursor();
        host_.MessageBox("Processor not detected!!!", "ERROR", Host::Kind::Error);
        serial_.AllLinesLow();
        return Outcome::Failed;
    }
    readShown(kind);
    serial_.AllLinesLow();
    host_.NormalCursor();
    return Outcome::Done;
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_);
    return Outcome::Failed;
}

// The part's bytes as the lock or fuse write sees them: a bit is `byte * 8 + bit`.
class PartBitsCommands::Target final : public BitsTarget {
public:
    Target(PartBitsCommands& commands, Kind kind)
        : c_(commands), kind_(kind), bits_(commands.writtenBits(kind))
    {
    }

    std::string shownName() const override { return c_.bits_.part().label(); }
    std::optional<std::string> refusal() const override
    {
        if (!bits_.empty())
            return std::nullopt;
        return "The " + c_.bits_.part().label() + " has no " +
               (kind_ == Kind::Fuses ? "fuse" : "lock") + " bits that serial programming reaches.";
    }
    bool readable() const override { return c_.readable(kind_); }
    std::vector<BitState> read() override
    {
        // Lock bits are only ever programmed; a chip that cannot tell starts from none.
        PartBits chip = c_.bits_;
        if (c_.held) {
            chip = *c_.held;
            c_.held.reset();
        } else {
            for (const int byte : c_.bytesOf(kind_))
                chip.setValue(byte, 0xFF);
            if (readable())
                c_.readInto(kind_, chip);
        }
        std::vector<BitState> states;
        for (const PartBit& b : bits_) {
            const char* name = chip.bitName(b.byte, b.bit);
            states.push_back({b.byte * 8 + b.bit, name ? name : "", chip.programmed(b)});
        }
        return states;
    }
    bool wanted(int box) const override { return c_.bits_.programmed(bitOf(box)); }
    bool endsSerialProgramming(int box, bool programmed) const override
    {
        return c_.bits_.endsSerialProgramming(bitOf(box), programmed);
    }
    std::optional<std::string> lockoutRefusal(int box) const override
    {
        if (c_.lockoutRefusal)
            return c_.lockoutRefusal(bitOf(box));
        return c_.allowLockout ? std::nullopt : std::optional<std::string>("");
    }
    std::string confirmationHead() const override
    {
        const char* head = c_.serialBits_.fuseConfirmation;
        return kind_ == Kind::Fuses && head ? head : "Are you sure?";
    }
    void write(const std::vector<BitState>& before) override { c_.write(kind_, before); }

private:
    static PartBit bitOf(int box) { return {box / 8, box % 8}; }

    PartBitsCommands& c_;
    Kind kind_;
    std::vector<PartBit> bits_;
};

void PartBitsCommands::readNow(Kind kind)
{
    if (readable(kind))
        readInto(kind, bits_);
}

void PartBitsCommands::readShown(Kind kind)
{
    readNow(kind);
    if (kind == Kind::Lock && serialBits_.keepsLockModes) {
        const std::optional<PartBit> lb1 = bits_.find("LB1");
        const std::optional<PartBit> lb2 = bits_.find("LB2");
        lb2WithoutLb1_ = lb1 && lb2 && bits_.programmed(*lb2) && !bits_.programmed(*lb1);
        ShowLockMode(bits_);
    }
    if (kind == Kind::Fuses && serialBits_.calibrationRead)
        calibration_ = send(*serialBits_.calibrationRead);
}

std::string PartBitsCommands::planNow(Kind kind, BitsPlan& plan, bool erased)
{
    Target target(*this, kind);
    if (const std::optional<std::string> refused = target.refusal())
        return *refused;
    return writer_.plan(kind, target, plan, erased);
}

std::string PartBitsCommands::applyNow(Kind kind, const BitsPlan& plan)
{
    Target target(*this, kind);
    return writer_.apply(kind, target, plan);
}

} // namespace vardel
