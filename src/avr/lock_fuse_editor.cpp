#include "avr/lock_fuse_editor.h"

#include "avr/avr_page_model.h"
#include "parts/catalogue_parts.h"
#include "parts/serial_bits.h"

#include <algorithm>
#include <stdexcept>

namespace vardel {

namespace {

using S = EditorSection;

constexpr const char* kSpienWarning =
    "Warning !!!\r"
    "Unprogramming SPIEN fuse will disable the Low-Voltage Serial Programming mode.You will have "
    "to use High-Voltage Serial Programmer to enable SPIEN\r"
    "This program do NOT support such programmer.\r"
    "ENABLE SPIEN MODIFICATION - ARE YOU SURE ?";

// RSTDISBL turns the RESET pin into an I/O pin: serial programming needs RESET low, so the chip
// can no longer enter it.
constexpr const char* kRstdisblWarning =
    "Warning !!!\r"
    "Programming RSTDISBL fuse turns the RESET pin into an I/O pin and disables the Low-Voltage "
    "Serial Programming mode. Only a High-Voltage Serial Programmer can unprogram RSTDISBL "
    "again.\r"
    "This program do NOT support such programmer.\r"
    "ENABLE RSTDISBL MODIFICATION - ARE YOU SURE ?";

constexpr FuseGuard kGuards[] = {
    {LockFuseEditor::CheckBox60, false, "Enable SPIEN modification", kSpienWarning},
    {LockFuseEditor::CheckBox61, true, "Enable RSTDISBL modification", kRstdisblWarning},
};

const char* StateText(bool checked)
{
    return checked ? "0" : "1";
}

} // namespace

LockFuseEditor::LockFuseEditor()
{
    for (const EditorBox& box : CatalogueEditorBoxes()) {
        State& s = state_[box.number];
        s.checked = box.startsChecked;
        s.enabled = box.enabled;
        if (box.label)
            s.label = StateText(box.startsChecked);
    }
    memo_ = std::string(kMemoAtStart[0]) + "\n" + kMemoAtStart[1];
    bind(nullptr);
}

void LockFuseEditor::show(const AvrPart* part)
{
    if (part != shown_)
        bind(part);
}

void LockFuseEditor::bind(const AvrPart* part)
{
    shown_ = part;
    const AvrPart& p = part ? *part : UnidentifiedPart();
    bits_.emplace(p); // factory fuses, no lock bit
    boxes_ = EditorBoxesOf(p);
    released_.clear();
    for (const CatalogueBox& b : boxes_)
        bits_->setProgrammed(b.bit, state_[b.box].checked);
}

std::optional<PartBit> LockFuseEditor::bitOf(int box) const
{
    for (const CatalogueBox& b : boxes_)
        if (b.box == box)
            return b.bit;
    return std::nullopt;
}

int LockFuseEditor::boxOf(PartBit bit) const
{
    for (const CatalogueBox& b : boxes_)
        if (b.bit == bit)
            return b.box;
    return 0;
}

void LockFuseEditor::setProgrammed(PartBit bit, bool programmed)
{
    if (const int box = boxOf(bit))
        setChecked(box, programmed);
    else
        bits_->setProgrammed(bit, programmed);
}

void LockFuseEditor::factoryDefault()
{
    const PartBits factory(bits_->part());
    for (int byte = 0; byte < bits_->part().fuseCount; ++byte)
        for (int bit = 7; bit >= 0; --bit)
            if (bits_->bitName(byte, bit))
                setProgrammed({byte, bit}, factory.programmed({byte, bit}));
}

void LockFuseEditor::releaseBit(PartBit bit)
{
    if (!released(bit))
        released_.push_back(bit);
}

bool LockFuseEditor::released(PartBit bit) const
{
    return std::ranges::count(released_, bit) > 0;
}

std::optional<std::string> LockFuseEditor::lockoutRefusal(PartBit bit) const
{
    if (released(bit))
        return std::nullopt;
    const int box = boxOf(bit);
    const FuseGuard* guard = box ? GuardOf(box) : nullptr;
    if (!guard)
        return "";
    if (enabled(box))
        return std::nullopt;
    return std::string("Press \"") + guard->button + "\" first if that is what you want.";
}

std::span<const EditorBox> LockFuseEditor::Boxes()
{
    return CatalogueEditorBoxes();
}

const EditorBox& LockFuseEditor::Info(int number)
{
    for (const EditorBox& box : CatalogueEditorBoxes())
        if (box.number == number)
            return box;
    throw std::out_of_range("no CheckBox" + std::to_string(number));
}

std::vector<int> LockFuseEditor::BoxesOf(EditorSection section)
{
    std::vector<int> out;
    for (const EditorBox& box : CatalogueEditorBoxes())
        if (box.section == section)
            out.push_back(box.number);
    return out;
}

const char* LockFuseEditor::Title(EditorSection section)
{
    switch (section) {
    case S::LB128:
    case S::LB103:
    case S::LockAT90S:
        return "Lock Bits";
    default:
        return "Fuse Bits";
    }
}

std::optional<std::string> LockFuseEditor::label(int box) const
{
    if (!Info(box).label)
        return std::nullopt;
    return state_.at(box).label;
}

void LockFuseEditor::setChecked(int box, bool checked)
{
    State& s = state_.at(box);
    if (s.checked == checked)
        return;
    s.checked = checked;
    if (const std::optional<PartBit> bit = bitOf(box))
        bits_->setProgrammed(*bit, checked);
    if (changed)
        changed(Aspect::Checked, box);
    runClickAction(box);
}

void LockFuseEditor::click(int box)
{
    if (state_.at(box).enabled)
        setChecked(box, !state_[box].checked);
}

void LockFuseEditor::runClickAction(int box)
{
    if (box == CheckBox1)
        CheckBox1Click();
    else if (box == CheckBox2)
        CheckBox2Click();
    else if (Info(box).label)
        setLabel(box, StateText(checked(box)));
}

// LB2 can be programmed only together with LB1: a refused change sets the box back, which runs
// this action once more with nothing left to refuse.
void LockFuseEditor::CheckBox2Click()
{
    if (!checked(CheckBox1))
        setChecked(CheckBox2, false);
    else
        setMemo(checked(CheckBox2) ? kLockLB1LB2 : kLockLB1);
    setLabel(CheckBox2, StateText(checked(CheckBox2)));
}

void LockFuseEditor::CheckBox1Click()
{
    if (checked(CheckBox2))
        setChecked(CheckBox1, true);
    else
        setMemo(checked(CheckBox1) ? kLockLB1 : kNoLock);
    setLabel(CheckBox1, StateText(checked(CheckBox1)));
}

void LockFuseEditor::setLabel(int box, const char* text)
{
    State& s = state_.at(box);
    if (s.label == text)
        return;
    s.label = text;
    if (changed)
        changed(Aspect::Label, box);
}

void LockFuseEditor::setMemo(const char* text)
{
    if (memo_ == text)
        return;
    memo_ = text;
    if (changed)
        changed(Aspect::Memo, 0);
}

void LockFuseEditor::setCalibration(std::uint8_t value)
{
    calibration_ = value;
    const std::string text = std::to_string(value) + " (dec)";
    if (label63_ == text)
        return;
    label63_ = text;
    if (changed)
        changed(Aspect::Calibration, 0);
}

void LockFuseEditor::applyPreset(const CataloguePreset& preset)
{
    // The fuse boxes of the presets' page, in the order the page lays them out.
    const AvrPart& part = PresetPart();
    for (const CatalogueBox& b : EditorBoxesOf(part))
        if (b.bit.byte < part.fuseCount)
            setChecked(b.box,
                       !(preset.fuses[static_cast<std::size_t>(b.bit.byte)] >> b.bit.bit & 1));
}

void LockFuseEditor::SpeedButton1Click()
{
    applyPreset(SerialBitsOf(PresetPart()).presets[0]);
}

void LockFuseEditor::SpeedButton2Click()
{
    applyPreset(SerialBitsOf(PresetPart()).presets[1]);
}

void LockFuseEditor::SpeedButton3Click()
{
    applyPreset(SerialBitsOf(PresetPart()).presets[2]);
}

std::span<const FuseGuard> LockFuseEditor::Guards()
{
    return kGuards;
}

const FuseGuard* LockFuseEditor::GuardOf(int box)
{
    for (const FuseGuard& guard : kGuards)
        if (guard.box == box)
            return &guard;
    return nullptr;
}

bool LockFuseEditor::WarningAnswered(const FuseGuard& guard, Host& host)
{
    // Enter must not be the way into a chip that only a high-voltage programmer brings back.
    return host.MessageBox(guard.warning, "WARNING", Host::Kind::Question,
                           Host::Buttons::OkCancelDefaultCancel,
                           Host::Icon::Exclamation) == Host::Result::Ok;
}

bool LockFuseEditor::releaseGuard(int box, Host& host)
{
    const FuseGuard* guard = GuardOf(box);
    if (!guard)
        return enabled(box);
    if (!WarningAnswered(*guard, host))
        return enabled(box);
    State& s = state_[box];
    if (!s.enabled) {
        s.enabled = true;
        if (changed)
            changed(Aspect::Enabled, box);
    }
    return true;
}

std::string CaptionOf(int box, const AvrPageModel& page)
{
    if (box == LockFuseEditor::CheckBox35)
        return page.CheckBox35Caption();
    return LockFuseEditor::Info(box).caption;
}

} // namespace vardel
