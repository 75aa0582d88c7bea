#include "avr/avr_bits.h"

#include "avr/lock_fuse_commands.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "parts/catalogue_bits.h"

namespace vardel {

namespace {

using E = LockFuseEditor;

// The boxes of this kind on the pages identification showed, in the page's order.
std::vector<int> ShownBoxes(const AvrPageModel& model, AvrBits::Kind kind)
{
    std::vector<int> out;
    for (const EditorSection section : ShownSections(model)) {
        const bool lock = std::string(E::Title(section)) == "Lock Bits";
        if (lock != (kind == AvrBits::Kind::Lock))
            continue;
        for (const int b : E::BoxesOf(section))
            if (!E::Info(b).inert)
                out.push_back(b);
    }
    return out;
}

// The box of this caption on those pages, or 0.
int ShownBox(const AvrPageModel& model, const std::string& name)
{
    for (const AvrBits::Kind kind : {AvrBits::Kind::Fuses, AvrBits::Kind::Lock})
        for (const int b : ShownBoxes(model, kind))
            if (CaptionOf(b, model) == name)
                return b;
    return 0;
}

bool GuardEnds(int box, bool programmed)
{
    const FuseGuard* guard = E::GuardOf(box);
    return guard && programmed == guard->lockoutChecked;
}

// The page as identification of a catalogue part shows it.
AvrPageModel ModelOf(const AvrPart& part)
{
    AvrPageModel model;
    if (const DeviceEntry* entry = FindDevice(part.signature))
        ShowIdentified(model, *entry);
    return model;
}

// A catalogue part: the boxes of the pages identification showed.
class CatalogueBitsOfPage final : public AvrBits {
public:
    CatalogueBitsOfPage(AvrPage& page, Host& host, OperationLock& operations)
        : model_(page.model()), host_(host),
          commands_(page.serial(), page.model(), editor_, host, operations)
    {
    }

    std::string chip() const override { return model_.lbTipo(); }
    std::vector<std::string> names(Kind kind) const override { return NamesOn(model_, kind); }
    bool readable(Kind kind) const override
    {
        return kind == Kind::Fuses || model_.btnReadLockBitsEnabled();
    }
    std::optional<std::string> presetRefusal(const std::string& preset) const override
    {
        if (presetOf(preset))
            return std::nullopt;
        return "the presets are for the ATmega128";
    }
    Outcome read(Kind kind) override { return commands_.read(kind); }
    bool programmed(const std::string& name) const override { return editor_.checked(box(name)); }
    bool changeable(const std::string& name) const override
    {
        return E::GuardOf(box(name)) || E::Info(box(name)).enabled;
    }
    bool endsSerialProgramming(const std::string& name, bool programmed) const override
    {
        return GuardEnds(box(name), programmed);
    }
    void applyPreset(const std::string& preset) override
    {
        if (const CataloguePreset* p = presetOf(preset))
            editor_.applyPreset(*p);
    }
    // Two passes, because the AT90S lock group accepts LB2 only after LB1 and releases LB1 only
    // after LB2, whatever order the names came in.
    bool set(const std::vector<std::pair<std::string, bool>>& wanted) override
    {
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto& [name, programmed] : wanted) {
                const int b = box(name);
                if (editor_.checked(b) == programmed)
                    continue;
                if (E::GuardOf(b) && !editor_.enabled(b) && !editor_.releaseGuard(b, host_))
                    return false;
                editor_.setChecked(b, programmed);
            }
        }
        return true;
    }
    std::vector<std::string> notes(Kind kind) const override
    {
        std::vector<std::string> out;
        if (kind == Kind::Lock && shows(EditorSection::LockAT90S)) {
            // The memo starts as two lines that read as one text.
            std::string memo = editor_.Memo1();
            std::erase(memo, '\n');
            out.push_back(memo);
        }
        if (kind == Kind::Fuses && shows(EditorSection::FuseATtiny) && editor_.calibration())
            out.push_back("calibration=" + std::to_string(*editor_.calibration()));
        return out;
    }
    Outcome program(Kind kind) override
    {
        commands_.showChanges = showChanges;
        return kind == Kind::Fuses ? commands_.btnFuseBitsClick() : commands_.btnLockBitsClick();
    }
    bool wrote() const override { return commands_.wrote(); }
    std::vector<std::uint8_t> values(Kind kind) const override
    {
        if (kind == Kind::Lock)
            return {commands_.lockValue()};
        std::vector<std::uint8_t> out;
        for (const std::uint8_t value : commands_.fuseValues())
            out.push_back(value);
        return out;
    }

    static std::vector<std::string> NamesOn(const AvrPageModel& model, Kind kind)
    {
        std::vector<std::string> out;
        for (const int box : ShownBoxes(model, kind))
            out.push_back(CaptionOf(box, model));
        return out;
    }

private:
    bool shows(EditorSection wanted) const
    {
        for (const EditorSection section : ShownSections(model_))
            if (section == wanted)
                return true;
        return false;
    }
    int box(const std::string& name) const { return ShownBox(model_, name); }
    // The preset of this name the shown part has, or null.
    const CataloguePreset* presetOf(const std::string& name) const
    {
        const DeviceEntry* shown = FindDeviceByLabel(model_.lbTipo());
        if (!shown)
            return nullptr;
        for (const CataloguePreset& p : CatalogueBitsOf(shown->part->name).presets)
            if (name == p.name)
                return &p;
        return nullptr;
    }

    const AvrPageModel& model_;
    Host& host_;
    E editor_;
    LockFuseCommands commands_;
};

// A part of the part table: its bytes, by the bits' own names.
class TablePartBits final : public AvrBits {
public:
    TablePartBits(AvrPage& page, const AvrPart& part, Host& host, OperationLock& operations)
        : bits_(part), commands_(page.serial(), part, bits_, host, operations)
    {
    }

    std::string chip() const override { return bits_.part().label(); }
    std::vector<std::string> names(Kind kind) const override
    {
        std::vector<std::string> out;
        for (const int byte : bytes(kind))
            for (int b = 0; b < 8; ++b)
                if (const char* n = bits_.bitName(byte, b))
                    out.emplace_back(n);
        return out;
    }
    std::optional<std::string> presetRefusal(const std::string& preset) const override
    {
        if (preset == "factory-default")
            return std::nullopt;
        return chip() + " has only the preset factory-default";
    }
    Outcome read(Kind kind) override { return commands_.read(kind); }
    bool programmed(const std::string& name) const override
    {
        return bits_.programmed(*bits_.find(name));
    }
    bool endsSerialProgramming(const std::string& name, bool programmed) const override
    {
        return bits_.endsSerialProgramming(*bits_.find(name), programmed);
    }
    void applyPreset(const std::string&) override { bits_.factoryDefault(); }
    bool set(const std::vector<std::pair<std::string, bool>>& wanted) override
    {
        for (const auto& [name, programmed] : wanted) {
            const std::optional<PartBit> bit = bits_.find(name);
            if (!bit)
                return false;
            bits_.setProgrammed(*bit, programmed);
        }
        return true;
    }
    std::vector<std::uint8_t> values(Kind kind) const override
    {
        std::vector<std::uint8_t> out;
        for (const int byte : bytes(kind))
            out.push_back(bits_.value(byte));
        return out;
    }
    bool readable(Kind kind) const override
    {
        return kind == Kind::Fuses || bits_.part().instructions.lockRead;
    }
    Outcome program(Kind kind) override
    {
        commands_.allowLockout = allowLockout;
        commands_.showChanges = showChanges;
        return commands_.program(kind);
    }
    bool wrote() const override { return commands_.wrote(); }

private:
    // The bytes a write of this kind sets: the lock byte also where the part cannot read it back
    // (AT90S1200), which is then written unchecked.
    std::vector<int> bytes(Kind kind) const
    {
        const AvrPart& part = bits_.part();
        if (kind == Kind::Lock && part.instructions.lockWrite && bits_.mask(bits_.lockByte()))
            return {bits_.lockByte()};
        return commands_.bytesOf(kind);
    }

    PartBits bits_;
    PartBitsCommands commands_;
};

} // namespace

std::vector<std::string> AvrBits::NamesOf(const AvrPart& part, Kind kind)
{
    if (part.catalogued)
        return CatalogueBitsOfPage::NamesOn(ModelOf(part), kind);
    const PartBits bits(part);
    std::vector<std::string> out;
    for (int byte = kind == Kind::Lock ? bits.lockByte() : 0;
         byte < (kind == Kind::Lock ? bits.byteCount() : bits.lockByte()); ++byte)
        for (int b = 0; b < 8; ++b)
            if (const char* n = bits.bitName(byte, b))
                out.emplace_back(n);
    return out;
}

bool AvrBits::EndsSerialProgramming(const AvrPart& part, const std::string& name, bool programmed)
{
    if (part.catalogued)
        return GuardEnds(ShownBox(ModelOf(part), name), programmed);
    const PartBits bits(part);
    const std::optional<PartBit> bit = bits.find(name);
    return bit && bits.endsSerialProgramming(*bit, programmed);
}

std::unique_ptr<AvrBits> AvrBits::Of(AvrPage& page, Host& host, OperationLock& operations)
{
    const AvrPart* part = page.identifiedPart();
    if (!part)
        return nullptr;
    if (part->catalogued)
        return std::make_unique<CatalogueBitsOfPage>(page, host, operations);
    return std::make_unique<TablePartBits>(page, *part, host, operations);
}

} // namespace vardel
