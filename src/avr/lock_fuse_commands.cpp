#include "avr/lock_fuse_commands.h"

#include "avr/device_catalogue.h"
#include "hw/port_failure.h"

#include <span>
#include <utility>

namespace vardel {

namespace {

using E = LockFuseEditor;

const char* kNotIdentified =
    "No chip has been identified: press \"Identify microprocessor\" before programming lock or "
    "fuse bits.";

// The catalogue entry of the chip the page shows, by its processor-type text.
const DeviceEntry* ShownDevice(const AvrPageModel& page)
{
    return FindDeviceByLabel(page.lbTipo());
}

bool Programmed(std::uint8_t value, int bit)
{
    return ((value >> bit) & 1) == 0;
}

} // namespace

LockFuseCommands::LockFuseCommands(AvrSerial& serial, const AvrPageModel& page,
                                   LockFuseEditor& editor, Host& host, OperationLock& operations)
    : serial_(serial), page_(page), editor_(editor), host_(host), operations_(operations),
      writer_(serial, host, operations)
{
}

std::uint8_t LockFuseCommands::send(const Instruction& i)
{
    const std::uint8_t result = serial_.SendPacedInstruction(i[0], i[1], i[2], i[3])[3];
    serial_.ClockPulses(kBitsSettleClocks);
    // The settle time also covers the slowest lock or fuse write of the part last identified.
    serial_.clock().Sleep(
        WaitCovering(kBitsSettleMs, TimingOf(FindDeviceByLabel(page_.lbTipo())).fuseWriteUs));
    return result;
}

const CatalogueBits& LockFuseCommands::bits() const
{
    const DeviceEntry* shown = ShownDevice(page_);
    return CatalogueBitsOf(shown ? shown->part->name : "");
}

BoxStates LockFuseCommands::readFuseStates()
{
    BoxStates states;
    for (const CatalogueBitsRead& step : bits().fuseReads) {
        const std::uint8_t value = send(step.instruction);
        for (const CatalogueBit& b : step.bits)
            states.emplace_back(b.box, Programmed(value, b.bit));
    }
    return states;
}

LockFuseCommands::Outcome LockFuseCommands::btnReadFuseBitsClick()
{
    return read(Kind::Fuses);
}

LockFuseCommands::Outcome LockFuseCommands::btnReadLockBitsClick()
{
    return read(Kind::Lock);
}

LockFuseCommands::Outcome LockFuseCommands::read(Kind kind)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    // The disabled button stands for the AT90S parts that cannot read their lock bits serially:
    // their answer would be an echo, shown as lock bits.
    if (kind == Kind::Lock && !page_.btnReadLockBitsEnabled())
        return Outcome::Failed;
    if (!writer_.enter())
        return Outcome::Failed;
    if (kind == Kind::Fuses) {
        for (const auto& [box, programmed] : readFuseStates())
            editor_.setChecked(box, programmed);
        if (bits().readsCalibration)
            editor_.setCalibration(send(kReadCalibration));
    } else {
        const std::uint8_t lock = send(kReadLockBits);
        for (const CatalogueBit& b : bits().lockRead)
            editor_.setChecked(b.box, Programmed(lock, b.bit));
        readAT90SLockGroup(lock, bits().groupLb1Bit, bits().groupLb2Bit);
    }
    serial_.AllLinesLow();
    host_.NormalCursor();
    return Outcome::Done;
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_);
    return Outcome::Failed;
}

std::vector<Instruction> LockFuseCommands::FuseWriteInstructions() const
{
    std::vector<Instruction> out;
    for (const CatalogueBitsWrite& step : bits().fuseWrites) {
        std::uint8_t v = step.base;
        for (const CatalogueBit& b : step.bits) {
            const auto mask = static_cast<std::uint8_t>(1u << b.bit);
            v = editor_.checked(b.box) ? static_cast<std::uint8_t>(v & ~mask)
                                       : static_cast<std::uint8_t>(v | mask);
        }
        Instruction i = step.instruction;
        i[step.valueAt] = v;
        out.push_back(i);
    }
    return out;
}

LockFuseCommands::Outcome LockFuseCommands::btnFuseBitsClick()
{
    return program(Kind::Fuses);
}

Instruction LockFuseCommands::LockWriteInstruction() const
{
    std::uint8_t b2 = 0xFF;
    if (editor_.checked(bits().lb1Box))
        b2 &= static_cast<std::uint8_t>(~0x02);
    if (editor_.checked(bits().lb2Box))
        b2 &= static_cast<std::uint8_t>(~0x04);
    std::uint8_t b4 = 0xFF;
    for (int bit = 0; bit < 6; ++bit)
        if (editor_.checked(kLockByteBoxes[static_cast<std::size_t>(bit)]))
            b4 &= static_cast<std::uint8_t>(~(1u << bit));
    // The same instruction serves every chip: the AT90S parts, the ATmega103 and the ATtiny12
    // take LB1 and LB2 from the second byte, the others their six bits from the fourth.
    return {0xAC, b2, 0xFF, b4};
}

std::vector<std::uint8_t> LockFuseCommands::fuseValues() const
{
    std::vector<std::uint8_t> out;
    const std::vector<Instruction> writes = FuseWriteInstructions();
    for (std::size_t i = 0; i < writes.size(); ++i)
        out.push_back(writes[i][static_cast<std::size_t>(bits().fuseWrites[i].valueAt)]);
    return out;
}

std::uint8_t LockFuseCommands::lockValue() const
{
    std::uint8_t value = 0xFF;
    for (const CatalogueBit& b : bits().lockWritten)
        if (editor_.checked(b.box))
            value = static_cast<std::uint8_t>(value & ~(1u << b.bit));
    return value;
}

LockFuseCommands::Outcome LockFuseCommands::btnLockBitsClick()
{
    return program(Kind::Lock);
}

std::vector<int> LockFuseCommands::writtenBoxes(Kind kind) const
{
    std::vector<int> boxes;
    if (kind == Kind::Lock) {
        for (const CatalogueBit& b : bits().lockWritten)
            boxes.push_back(b.box);
        return boxes;
    }
    for (const CatalogueBitsWrite& step : bits().fuseWrites)
        for (const CatalogueBit& b : step.bits)
            boxes.push_back(b.box);
    return boxes;
}

BoxStates LockFuseCommands::readWritten(Kind kind)
{
    BoxStates states;
    if (kind == Kind::Lock) {
        const std::uint8_t lock = send(kReadLockBits);
        for (const CatalogueBit& b : bits().lockWritten)
            states.emplace_back(b.box, Programmed(lock, b.bit));
        return states;
    }
    const std::vector<int> written = writtenBoxes(kind);
    for (const auto& state : readFuseStates())
        for (const int box : written)
            if (state.first == box)
                states.push_back(state);
    return states;
}

// The catalogue's editor as the lock or fuse write sees it: the boxes of the page identification
// chose, the guards of the ATtiny page and the catalogue's fixed instructions.
class LockFuseCommands::Target final : public BitsTarget {
public:
    Target(LockFuseCommands& commands, Kind kind) : c_(commands), kind_(kind) {}

    std::string shownName() const override { return c_.page_.lbTipo(); }
    bool isShown(const std::array<std::uint8_t, 3>& signature) const override
    {
        const DeviceEntry* shown = ShownDevice(c_.page_);
        return shown && shown->signature == signature;
    }
    std::optional<std::string> refusal() const override
    {
        // Whatever sequence the page would choose, a write to an unknown chip can be the one
        // that locks it out.
        if (c_.page_.lbTipo() == AvrPageModel::kUnknownType)
            return kNotIdentified;
        if (kind_ == Kind::Fuses && c_.bits().fuseWrites.empty())
            return "The " + c_.page_.lbTipo() +
                   " has no fuse bits that serial programming reaches.";
        return std::nullopt;
    }
    // The AT90S2313, 4414 and 8515 cannot read their lock bits: those are written unchecked.
    bool readable() const override
    {
        return kind_ == Kind::Fuses || c_.page_.btnReadLockBitsEnabled();
    }
    std::vector<BitState> read() override
    {
        std::vector<BitState> states;
        if (!readable()) {
            // Lock bits are only ever programmed; a chip that cannot tell starts from none.
            for (const int box : c_.writtenBoxes(kind_))
                states.push_back({box, CaptionOf(box, c_.page_), false});
            return states;
        }
        for (const auto& [box, programmed] : c_.readWritten(kind_))
            states.push_back({box, CaptionOf(box, c_.page_), programmed});
        return states;
    }
    bool wanted(int box) const override { return c_.editor_.checked(box); }
    bool endsSerialProgramming(int box, bool programmed) const override
    {
        const FuseGuard* guard = E::GuardOf(box);
        return guard && programmed == guard->lockoutChecked;
    }
    std::optional<std::string> lockoutRefusal(int box) const override
    {
        if (c_.editor_.enabled(box))
            return std::nullopt;
        return std::string("Press \"") + E::GuardOf(box)->button +
               "\" first if that is what you want.";
    }
    std::string confirmationHead() const override
    {
        const char* head = c_.bits().fuseConfirmation;
        return kind_ == Kind::Fuses && head ? head : "Are you sure?";
    }
    void write(const std::vector<BitState>&) override
    {
        if (kind_ == Kind::Fuses)
            for (const Instruction& i : c_.FuseWriteInstructions())
                c_.send(i);
        else
            c_.send(c_.LockWriteInstruction());
    }

private:
    LockFuseCommands& c_;
    Kind kind_;
};

LockFuseCommands::Outcome LockFuseCommands::program(Kind kind)
{
    Target target(*this, kind);
    writer_.showChanges = showChanges;
    return writer_.program(kind, target);
}

void LockFuseCommands::readAT90SLockGroup(std::uint8_t lock, int lb1Bit, int lb2Bit)
{
    const bool lb1 = Programmed(lock, lb1Bit);
    const bool lb2 = Programmed(lock, lb2Bit);
    // LB2 is accepted only while LB1 is checked and LB1 released only while LB2 is not, so the
    // box that the rule would otherwise refuse goes second. LB2 without LB1 is no lock mode the
    // editor can show: both boxes end unchecked, whatever an earlier read left in them, rather
    // than a stale LB1 turning it into mode 3 (which the next Program Lock Bits would then write).
    if (lb1) {
        editor_.setChecked(E::CheckBox1, true);
        editor_.setChecked(E::CheckBox2, lb2);
    } else {
        editor_.setChecked(E::CheckBox2, false);
        editor_.setChecked(E::CheckBox1, false);
    }
}

} // namespace vardel
