#include "avr/part_bits.h"

#include "avr/device_catalogue.h"
#include "hw/port_failure.h"

#include <cctype>

namespace vardel {

namespace {

const char* kError = "ERROR";
const char* kNothingWritten = "Nothing was written.";
const char* kNotDetected = "Processor not detected!!!";

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
    : serial_(serial), ops_(serial, part), bits_(bits), host_(host), operations_(operations)
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

bool PartBitsCommands::enter()
{
    host_.BusyCursor();
    if (serial_.ProgrammingEnable())
        return true;
    host_.NormalCursor();
    serial_.AllLinesLow();
    host_.MessageBox(kNotDetected, kError);
    return false;
}

bool PartBitsCommands::sameChip()
{
    const std::array<std::uint8_t, 3> signature = serial_.ReadSignature();
    if (signature == bits_.part().signature)
        return true;
    fail(WrongChipText(signature, nullptr, bits_.part().label()));
    return false;
}

PartBitsCommands::Outcome PartBitsCommands::fail(const std::string& text)
{
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox(text, kError);
    return Outcome::Failed;
}

PartBitsCommands::Outcome PartBitsCommands::read(Kind kind)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    if (!enter())
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

PartBitsCommands::Outcome PartBitsCommands::program(Kind kind)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    wrote_ = false;
    const bool fuses = kind == Kind::Fuses;
    const char* what = fuses ? "fuse" : "lock";
    const std::vector<int> bytes = bytesOf(kind);
    if (bytes.empty()) {
        host_.MessageBox("The " + bits_.part().label() + " has no " + what +
                             " bits that serial programming reaches.\r" + kNothingWritten,
                         kError);
        return Outcome::Failed;
    }
    // What the chip holds, read twice: two reads that differ mean a connection that would not
    // write reliably either.
    if (!enter() || !sameChip())
        return Outcome::Failed;
    const std::vector<std::uint8_t> before = readBytes(kind);
    if (readBytes(kind) != before)
        return fail(std::string("The ") + what +
                    " bits read differently twice: the connection to the chip is "
                    "unreliable.\rCheck the cable and the supply.\r" +
                    kNothingWritten);
    serial_.AllLinesLow();
    host_.NormalCursor();

    std::vector<BitChange> changes;
    bool lockout = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const PartBit b{bytes[i], bit};
            const char* name = bits_.bitName(b.byte, bit);
            const bool was = !(before[i] >> bit & 1);
            if (!name || was == bits_.programmed(b))
                continue;
            changes.push_back({b.byte * 8 + bit, name, was, bits_.programmed(b)});
            if (!fuses && was)
                return fail(std::string(name) +
                            " is programmed on the chip: only \"Erase chip\" releases lock "
                            "bits.\r" +
                            kNothingWritten);
            if (bits_.endsSerialProgramming(b, bits_.programmed(b))) {
                if (!allowLockout)
                    return fail(std::string(name) +
                                (bits_.programmed(b) ? " programmed" : " unprogrammed") +
                                " ends serial programming: only a high-voltage programmer "
                                "undoes it.\r" +
                                kNothingWritten);
                lockout = true;
            }
        }
    }
    const char* done = fuses ? "Fuse Bits set !!" : "Lock Bits set !!";
    if (changes.empty()) {
        host_.MessageBox(done, "OK");
        return Outcome::Done;
    }
    if (showChanges)
        showChanges(changes);
    std::string question = "Are you sure?";
    if (lockout)
        question += "\r\r" + LockoutNote(bits_.part().label());
    question += "\r\rBits that change on the " + bits_.part().label() + ":";
    for (const BitChange& c : changes)
        question += "\r" + ChangeText(c);
    if (host_.MessageBox(question, fuses ? "Program Fuse Bits" : "Program Lock Bits",
                         Host::Buttons::OkCancelDefaultCancel,
                         Host::Icon::Exclamation) != Host::Result::Ok)
        return Outcome::Cancelled;
    // A stop that came while the question was open cancels the write.
    host_.ProcessMessages();
    if (operations_.stopRequested())
        return StoppedBeforeWrite(host_, fuses);

    // The socket may have changed while the question was open.
    if (!enter() || !sameChip())
        return Outcome::Failed;
    wrote_ = true;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int byte = bytes[i];
        if (bits_.value(byte) == before[i])
            continue;
        if (byte == bits_.lockByte())
            ops_.writeLock(bits_.value(byte));
        else
            ops_.writeFuse(byte, bits_.value(byte));
    }
    // Read back as the chip starts next time, unless the write has just ended serial
    // programming on purpose: then only now, before the supply goes off.
    if (!lockout) {
        serial_.AllLinesLow();
        if (!serial_.ProgrammingEnable())
            return fail(std::string("The chip did not answer after the write: the ") + what +
                        " bits could not be read back.\r" + (fuses ? "Fuse" : "Lock") +
                        " Bits NOT set.");
    }
    const std::vector<std::uint8_t> after = readBytes(kind);
    std::string missed;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        for (int bit = 0; bit < 8; ++bit) {
            const PartBit b{bytes[i], bit};
            const char* name = bits_.bitName(b.byte, bit);
            const bool holds = !(after[i] >> bit & 1);
            if (name && holds != bits_.programmed(b))
                missed +=
                    (missed.empty() ? "" : ", ") + std::string(name) + " is " + (holds ? "0" : "1");
        }
    if (!missed.empty())
        return fail("The chip did not take every " + std::string(what) + " bit: " + missed +
                    " after the write.\r" + (fuses ? "Fuse" : "Lock") + " Bits NOT set.");
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox(done, "OK");
    return Outcome::Done;
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_, {}, WrittenText(wrote_, kind == Kind::Fuses));
    return Outcome::Failed;
}

} // namespace vardel
