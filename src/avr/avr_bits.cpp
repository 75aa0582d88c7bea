#include "avr/avr_bits.h"

#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "parts/catalogue_parts.h"
#include "parts/serial_bits.h"

#include <algorithm>
#include <utility>

namespace vardel {

namespace {

using E = LockFuseEditor;
using Kind = AvrBits::Kind;

// The bits of this kind in the order the part's editor shows them: the boxes of its own page as
// the editor lays them out, then the named bits the reads and writes give that no box shows (the
// AT90S2323's SPIEN).
std::vector<PartBit> ShownBits(const PartBits& bits, Kind kind)
{
    std::vector<PartBit> out;
    const std::span<const CatalogueBox> boxes = EditorBoxesOf(bits.part());
    for (const EditorBox& box : CatalogueEditorBoxes())
        for (const CatalogueBox& b : boxes)
            if (b.box == box.number && (b.bit.byte == bits.lockByte()) == (kind == Kind::Lock))
                out.push_back(b.bit);
    const SerialBits& serial = SerialBitsOf(bits.part());
    const bool lock = kind == Kind::Lock;
    for (const auto* list : {lock ? &serial.lockReads : &serial.fuseReads,
                             lock ? &serial.lockWrites : &serial.fuseWrites})
        for (const BitsInstruction& i : *list)
            for (const CatalogueBit& r : i.bits)
                if (bits.bitName(r.bit.byte, r.bit.bit) && !std::ranges::count(out, r.bit))
                    out.push_back(r.bit);
    return out;
}

// False also for a name the part does not have.
bool Programmed(const PartBits& bits, const std::string& name)
{
    const std::optional<PartBit> bit = bits.find(name);
    return bit && bits.programmed(*bit);
}

Kind KindOf(const PartBits& bits, PartBit bit)
{
    return bit.byte == bits.lockByte() ? Kind::Lock : Kind::Fuses;
}

// The lock and fuse bits of the identified part: its bytes (PartBits) and its one set of
// commands (PartBitsCommands). Its description adds the lock modes and the presets, its editor
// page the order of the bits and the warnings of its guarded boxes.
class PartBitsOfPage final : public AvrBits {
public:
    PartBitsOfPage(AvrSerial& serial, const AvrPart& part, Host& host, OperationLock& operations)
        : serial_(serial), host_(host), operations_(operations), bits_(part)
    {
    }

    std::string chip() const override { return bits_.part().label(); }
    std::vector<std::string> names(Kind kind) const override { return NamesOf(bits_.part(), kind); }
    bool readable(Kind kind) const override { return commands().readable(kind); }
    std::optional<std::string> presetRefusal(const std::string& preset) const override
    {
        const std::vector<CataloguePreset>& presets = SerialBitsOf(bits_.part()).presets;
        std::string names;
        for (const CataloguePreset& p : presets) {
            if (preset == p.name)
                return std::nullopt;
            names += (names.empty() ? "" : ", ") + std::string(p.name);
        }
        if (presets.empty())
            return chip() + " has no fuse bits that a preset could set";
        return chip() + " has only the preset" + (presets.size() > 1 ? "s " : " ") + names;
    }
    bool programmed(const std::string& name) const override { return Programmed(bits_, name); }
    bool changeable(const std::string& name) const override
    {
        const std::optional<PartBit> bit = bits_.find(name);
        return bit && std::ranges::count(commands().writtenBits(KindOf(bits_, *bit)), *bit) > 0;
    }
    bool endsSerialProgramming(const std::string& name, bool programmed) const override
    {
        const std::optional<PartBit> bit = bits_.find(name);
        return bit && bits_.endsSerialProgramming(*bit, programmed);
    }
    void applyPreset(const std::string& preset) override
    {
        for (const CataloguePreset& p : SerialBitsOf(bits_.part()).presets)
            if (preset == p.name)
                for (int byte = 0; byte < bits_.part().fuseCount; ++byte)
                    bits_.setValue(byte, p.fuses[static_cast<std::size_t>(byte)]);
    }
    std::optional<std::string> set(const std::vector<std::pair<std::string, bool>>& wanted,
                                   bool askGuards) override
    {
        PartBits next = bits_;
        for (const auto& [name, programmed] : wanted) {
            const std::optional<PartBit> bit = bits_.find(name);
            if (!bit)
                return name + " is not a bit of the " + bits_.part().name;
            if (next.programmed(*bit) == programmed)
                continue;
            if (askGuards && !release(*bit))
                return std::string();
            next.setProgrammed(*bit, programmed);
        }
        if (SerialBitsOf(bits_.part()).keepsLockModes) {
            if (Programmed(next, "LB2") && !Programmed(next, "LB1"))
                return "LB2 can be programmed only together with LB1";
        }
        bits_ = next;
        return std::nullopt;
    }
    std::vector<std::string> notes(Kind kind) const override
    {
        std::vector<std::string> out;
        if (kind == Kind::Lock && SerialBitsOf(bits_.part()).keepsLockModes) {
            const bool lb1 = Programmed(bits_, "LB1");
            const bool lb2 = Programmed(bits_, "LB2");
            out.emplace_back(!lb1 ? E::kNoLock : lb2 ? E::kLockLB1LB2 : E::kLockLB1);
        }
        if (kind == Kind::Fuses && calibration_)
            out.push_back("calibration=" + std::to_string(*calibration_));
        return out;
    }
    void readNow(Kind kind) override
    {
        PartBitsCommands c = commands();
        c.readNow(kind);
        if (c.readable(kind))
            read_ = bits_;
    }
    void readShown(Kind kind) override
    {
        PartBitsCommands c = commands();
        c.readShown(kind);
        if (c.calibration())
            calibration_ = c.calibration();
    }
    void erasedLock() override { bits_.setValue(bits_.lockByte(), 0xFF); }
    std::string planNow(Kind kind, BitsPlan& plan, bool erased) override
    {
        // One set of commands from the plan to the write: a lock write may repeat the answer of
        // the lock read before it.
        planned_.emplace(commands());
        planned_->allowLockout = allowLockout;
        planned_->lockoutRefusal = lockoutRefusal;
        planned_->held = std::exchange(read_, std::nullopt);
        return planned_->planNow(kind, plan, erased);
    }
    std::string applyNow(Kind kind, const BitsPlan& plan) override
    {
        if (!planned_)
            planned_.emplace(commands());
        return planned_->applyNow(kind, plan);
    }
    std::vector<std::uint8_t> values(Kind kind) const override
    {
        std::vector<std::uint8_t> out;
        for (const int byte : commands().bytesOf(kind))
            out.push_back(bits_.value(byte));
        return out;
    }

private:
    PartBitsCommands commands() const
    {
        return PartBitsCommands(serial_, bits_.part(), bits_, host_, operations_);
    }
    // A bit whose editor box is guarded changes only once the user answered its warning with OK,
    // as the box is clicked only once its button did.
    bool release(PartBit bit)
    {
        if (std::ranges::count(released_, bit))
            return true;
        for (const CatalogueBox& b : EditorBoxesOf(bits_.part()))
            if (const FuseGuard* guard = b.bit == bit ? E::GuardOf(b.box) : nullptr) {
                if (!E::WarningAnswered(*guard, host_))
                    return false;
                released_.push_back(bit);
            }
        return true;
    }

    AvrSerial& serial_;
    Host& host_;
    OperationLock& operations_;
    mutable PartBits bits_;
    std::vector<PartBit> released_;
    std::optional<PartBitsCommands> planned_;
    // The chip's bits as readNow() gave them, before set() changed any.
    std::optional<PartBits> read_;
    std::optional<std::uint8_t> calibration_;
};

} // namespace

std::vector<std::string> AvrBits::NamesOf(const AvrPart& part, Kind kind)
{
    const PartBits bits(part);
    std::vector<std::string> out;
    for (const PartBit& b : ShownBits(bits, kind))
        out.emplace_back(bits.bitName(b.byte, b.bit));
    return out;
}

bool AvrBits::EndsSerialProgramming(const AvrPart& part, const std::string& name, bool programmed)
{
    const PartBits bits(part);
    const std::optional<PartBit> bit = bits.find(name);
    return bit && bits.endsSerialProgramming(*bit, programmed);
}

std::unique_ptr<AvrBits> AvrBits::For(AvrSerial& serial, const AvrPart& part, Host& host,
                                      OperationLock& operations)
{
    return std::make_unique<PartBitsOfPage>(serial, part, host, operations);
}

} // namespace vardel
