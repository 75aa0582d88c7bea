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

} // namespace

AvrBits::AvrBits(AvrSerial& serial, const AvrPart& part, Host& host, OperationLock& operations)
    : serial_(serial), host_(host), operations_(operations), bits_(part)
{
}

std::optional<std::string> AvrBits::presetRefusal(const std::string& preset) const
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

bool AvrBits::programmed(const std::string& name) const
{
    return Programmed(bits_, name);
}

bool AvrBits::changeable(const std::string& name) const
{
    const std::optional<PartBit> bit = bits_.find(name);
    return bit && std::ranges::count(commands().writtenBits(KindOf(bits_, *bit)), *bit) > 0;
}

void AvrBits::applyPreset(const std::string& preset)
{
    for (const CataloguePreset& p : SerialBitsOf(bits_.part()).presets)
        if (preset == p.name)
            for (int byte = 0; byte < bits_.part().fuseCount; ++byte)
                bits_.setValue(byte, p.fuses[static_cast<std::size_t>(byte)]);
}

std::optional<std::string> AvrBits::set(const std::vector<std::pair<std::string, bool>>& wanted,
                                        bool askGuards)
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
    if (SerialBitsOf(bits_.part()).keepsLockModes && Programmed(next, "LB2") &&
        !Programmed(next, "LB1"))
        return "LB2 can be programmed only together with LB1";
    bits_ = next;
    return std::nullopt;
}

std::vector<std::string> AvrBits::notes(Kind kind) const
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

void AvrBits::readNow(Kind kind)
{
    PartBitsCommands c = commands();
    c.readNow(kind);
    if (c.readable(kind))
        read_ = found_ = bits_;
}

void AvrBits::readShown(Kind kind)
{
    PartBitsCommands c = commands();
    c.readShown(kind);
    if (c.calibration())
        calibration_ = c.calibration();
}

std::string AvrBits::planNow(Kind kind, BitsPlan& plan, bool erased)
{
    // One set of commands from the plan to the write: a lock write may repeat the answer of the
    // lock read before it.
    planned_.emplace(commands());
    planned_->allowLockout = allowLockout;
    planned_->lockoutRefusal = lockoutRefusal;
    planned_->held = std::exchange(read_, std::nullopt);
    return planned_->planNow(kind, plan, erased);
}

std::string AvrBits::applyNow(Kind kind, const BitsPlan& plan)
{
    if (!planned_)
        planned_.emplace(commands());
    return planned_->applyNow(kind, plan);
}

std::vector<std::uint8_t> AvrBits::values(Kind kind) const
{
    std::vector<std::uint8_t> out;
    for (const int byte : commands().bytesOf(kind))
        out.push_back(bits_.value(byte));
    return out;
}

std::vector<std::uint8_t> AvrBits::readValues(Kind kind) const
{
    std::vector<std::uint8_t> out;
    if (found_)
        for (const int byte : commands().bytesOf(kind))
            out.push_back(found_->value(byte));
    return out;
}

bool AvrBits::release(PartBit bit)
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

} // namespace vardel
