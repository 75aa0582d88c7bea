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

void TakeAnswer(const CatalogueInstruction& read, std::uint8_t answer, PartBits& bits)
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
    : serial_(serial), ops_(serial, part), sends_(FindCataloguePart(part.name)), bits_(bits),
      host_(host), operations_(operations), writer_(serial)
{
}

PartBitsCommands::PartBitsCommands(AvrSerial& serial, const AvrPart& part,
                                   const CataloguePart& sends, PartBits& bits, Host& host,
                                   OperationLock& operations)
    : serial_(serial), ops_(serial, part), sends_(&sends), bits_(bits), host_(host),
      operations_(operations), writer_(serial)
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
                                 const CataloguePart* sends)
{
    using Kind = BitsWrite::Kind;
    std::vector<PartBit> out;
    if (!sends) {
        // The named bits each byte's write instruction carries.
        const AvrPart& part = bits.part();
        for (const int byte : BytesOf(bits, kind)) {
            const std::uint8_t carried = CarriedBits(
                byte == bits.lockByte() ? part.instructions.lockWrite : part.fuses[byte].write);
            for (int bit = 0; bit < 8; ++bit)
                if (bits.bitName(byte, bit) && (carried >> bit & 1))
                    out.push_back({byte, bit});
        }
        return out;
    }
    // A catalogue part: the bits its writes carry, in the order its reads give them.
    std::vector<PartBit> written;
    for (const CatalogueInstruction& w :
         kind == Kind::Fuses ? sends->fuseWrites : std::span(&sends->lockWrite, 1))
        for (const CatalogueBit& b : w.bits)
            written.push_back(b.bit);
    if ((kind == Kind::Lock && !bits.part().instructions.lockRead) || written.empty())
        return written;
    for (const CatalogueInstruction& r :
         kind == Kind::Fuses ? sends->fuseReads : std::span(&sends->lockRead, 1))
        for (const CatalogueBit& b : r.bits)
            if (std::ranges::find(written, b.bit) != written.end() &&
                std::ranges::find(out, b.bit) == out.end())
                out.push_back(b.bit);
    return out;
}

std::vector<int> PartBitsCommands::bytesOf(Kind kind) const
{
    return BytesOf(bits_, kind);
}

std::vector<PartBit> PartBitsCommands::writtenBits(Kind kind) const
{
    return BitsWritten(bits_, kind, sends_);
}

std::uint8_t PartBitsCommands::send(const std::array<std::uint8_t, 4>& i)
{
    const std::uint8_t result = serial_.SendPacedInstruction(i[0], i[1], i[2], i[3])[3];
    serial_.ClockPulses(kBitsSettleClocks);
    // The settle time also covers the slowest lock or fuse write of the part.
    const AvrPart::WriteTimes slowest = bits_.part().slowest();
    serial_.clock().Sleep(WaitCovering(kBitsSettleMs, std::max(slowest.fuseUs, slowest.lockUs)));
    return result;
}

std::array<std::uint8_t, 4> PartBitsCommands::encode(const CatalogueInstruction& write) const
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
    if (!sends_) {
        for (const int byte : bytesOf(kind))
            into.setValue(byte, byte == bits_.lockByte() ? ops_.readLock() : ops_.readFuse(byte));
        return;
    }
    for (const CatalogueInstruction& r :
         kind == Kind::Fuses ? sends_->fuseReads : std::span(&sends_->lockRead, 1)) {
        const std::uint8_t value = send(r.instruction);
        if (kind == Kind::Lock)
            lockAnswer_ = value;
        TakeAnswer(r, value, into);
    }
}

std::vector<std::array<std::uint8_t, 4>> PartBitsCommands::writeInstructions(Kind kind) const
{
    std::vector<std::array<std::uint8_t, 4>> out;
    if (!sends_)
        return out;
    if (kind == Kind::Fuses) {
        for (const CatalogueInstruction& w : sends_->fuseWrites)
            out.push_back(encode(w));
        return out;
    }
    std::array<std::uint8_t, 4> i = encode(sends_->lockWrite);
    const std::uint8_t echo = sends_->lockEcho;
    i[3] = static_cast<std::uint8_t>((i[3] & ~echo) | (lockAnswer_ & echo));
    out.push_back(i);
    return out;
}

void PartBitsCommands::write(Kind kind, const std::vector<BitState>& before)
{
    if (sends_) {
        for (const std::array<std::uint8_t, 4>& i : writeInstructions(kind))
            send(i);
        return;
    }
    for (const int byte : bytesOf(kind)) {
        // The bits the write carries as the chip held them: only the bytes that change are
        // written.
        std::uint8_t was = 0xFF;
        std::uint8_t carried = 0;
        for (const BitState& bit : before)
            if (bit.box / 8 == byte) {
                const auto one = static_cast<std::uint8_t>(1u << bit.box % 8);
                carried = static_cast<std::uint8_t>(carried | one);
                if (bit.programmed)
                    was = static_cast<std::uint8_t>(was & ~one);
            }
        const std::uint8_t value = bits_.value(byte);
        if (((value ^ was) & carried) == 0)
            continue;
        if (byte == bits_.lockByte())
            ops_.writeLock(value);
        else
            ops_.writeFuse(byte, value);
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
        const char* head = c_.sends_ ? c_.sends_->fuseConfirmation : nullptr;
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
    if (kind == Kind::Lock && sends_ && KeepsLockModes(*sends_))
        ShowLockMode(bits_);
    if (kind == Kind::Fuses && sends_ && sends_->readsCalibration)
        calibration_ = send(kReadCalibration);
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
