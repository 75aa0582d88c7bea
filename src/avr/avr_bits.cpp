#include "avr/avr_bits.h"

#include "avr/lock_fuse_commands.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "parts/catalogue_parts.h"

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

// The lock and fuse bits of the identified part: its bytes (PartBits) and its one set of
// commands (PartBitsCommands). The twelve catalogue parts are seen through their editor's boxes,
// as the window shows them: their names are the boxes' captions, a guarded box is released
// through its warning, the AT90S lock group keeps its LB1/LB2 rule, and the lock mode and the
// calibration byte are noted.
class PartBitsOfPage final : public AvrBits {
public:
    PartBitsOfPage(AvrPage& page, const AvrPart& part, Host& host, OperationLock& operations)
        : page_(page), model_(page.model()), host_(host), operations_(operations),
          sends_(FindCataloguePart(part.name)), bits_(part),
          view_(page.serial(), page.model(), editor_, host, operations)
    {
    }

    std::string chip() const override { return sends_ ? model_.lbTipo() : bits_.part().label(); }
    std::vector<std::string> names(Kind kind) const override
    {
        if (sends_)
            return NamesOn(model_, kind);
        std::vector<std::string> out;
        for (const PartBit& b : commands().writtenBits(kind))
            out.emplace_back(bits_.bitName(b.byte, b.bit));
        return out;
    }
    bool readable(Kind kind) const override { return commands().readable(kind); }
    std::optional<std::string> presetRefusal(const std::string& preset) const override
    {
        if (!sends_)
            return preset == "factory-default"
                       ? std::nullopt
                       : std::optional<std::string>(chip() +
                                                    " has only the preset factory-default");
        if (presetOf(preset))
            return std::nullopt;
        return "the presets are for the ATmega128";
    }
    Outcome read(Kind kind) override
    {
        if (sends_)
            return view_.read(kind);
        return commands().read(kind);
    }
    bool programmed(const std::string& name) const override
    {
        return sends_ ? editor_.checked(box(name)) : bits_.programmed(*bits_.find(name));
    }
    bool changeable(const std::string& name) const override
    {
        return !sends_ || E::GuardOf(box(name)) || E::Info(box(name)).enabled;
    }
    bool endsSerialProgramming(const std::string& name, bool programmed) const override
    {
        if (sends_)
            return GuardEnds(box(name), programmed);
        return bits_.endsSerialProgramming(*bits_.find(name), programmed);
    }
    void applyPreset(const std::string& preset) override
    {
        if (!sends_)
            bits_.factoryDefault();
        else if (const CataloguePreset* p = presetOf(preset))
            editor_.applyPreset(*p);
    }
    // Two passes through the editor, because the AT90S lock group accepts LB2 only after LB1 and
    // releases LB1 only after LB2, whatever order the names came in.
    bool set(const std::vector<std::pair<std::string, bool>>& wanted) override
    {
        for (int pass = 0; pass < (sends_ ? 2 : 1); ++pass) {
            for (const auto& [name, programmed] : wanted) {
                if (!sends_) {
                    const std::optional<PartBit> bit = bits_.find(name);
                    if (!bit)
                        return false;
                    bits_.setProgrammed(*bit, programmed);
                    continue;
                }
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
        if (sends_) {
            view_.showChanges = showChanges;
            const Outcome outcome = view_.program(kind);
            wrote_ = view_.wrote();
            return outcome;
        }
        PartBitsCommands c = commands();
        c.allowLockout = allowLockout;
        c.showChanges = showChanges;
        const Outcome outcome = c.program(kind);
        wrote_ = c.wrote();
        return outcome;
    }
    bool wrote() const override { return wrote_; }
    std::vector<std::uint8_t> values(Kind kind) const override
    {
        const PartBits bits = sends_ ? view_.bytes() : bits_;
        std::vector<std::uint8_t> out;
        for (const int byte : commands().bytesOf(kind))
            out.push_back(bits.value(byte));
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
    PartBitsCommands commands() const
    {
        return PartBitsCommands(page_.serial(), bits_.part(), bits_, host_, operations_);
    }
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
        for (const CataloguePreset& p : sends_->presets)
            if (name == p.name)
                return &p;
        return nullptr;
    }

    AvrPage& page_;
    const AvrPageModel& model_;
    Host& host_;
    OperationLock& operations_;
    const CataloguePart* sends_;
    mutable PartBits bits_;
    E editor_;
    LockFuseCommands view_;
    bool wrote_ = false;
};

} // namespace

std::vector<std::string> AvrBits::NamesOf(const AvrPart& part, Kind kind)
{
    if (FindCataloguePart(part.name))
        return PartBitsOfPage::NamesOn(ModelOf(part), kind);
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
    if (FindCataloguePart(part.name))
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
    return std::make_unique<PartBitsOfPage>(page, *part, host, operations);
}

} // namespace vardel
