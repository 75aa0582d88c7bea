#include "avr/lock_fuse_editor.h"

#include "avr/avr_page_model.h"
#include "parts/catalogue_bits.h"

#include <stdexcept>

namespace vardel {

namespace {

using S = EditorSection;

constexpr const char* kSelectBootSize = "Select Boot Size";
constexpr const char* kStartUpTime = "Select start-up time";
constexpr const char* kClockSource = "Select Clock source";

// clang-format off
// number, section, caption, hint, state label, column, starts checked, enabled, label enabled,
// inert
constexpr EditorBox kBoxes[] = {
    {10, S::LB128, "7", "", 0, "", false, false, true, true},
    {9, S::LB128, "6", "", 0, "", false, false, true, true},
    {8, S::LB128, "BLB12", "Boot lock bit 12", 0, "", false, true, true, false},
    {7, S::LB128, "BLB11", "Boot lock bit 11", 0, "", false, true, true, false},
    {6, S::LB128, "BLB02", "Boot lock bit 02", 0, "", false, true, true, false},
    {5, S::LB128, "BLB01", "Boot lock bit 01", 0, "", false, true, true, false},
    {4, S::LB128, "LB2", "Lock bit 2", 0, "", false, true, true, false},
    {3, S::LB128, "LB1", "Lock bit 1", 0, "", false, true, true, false},

    {52, S::LB103, "LB2", "Lock Bit 2", 55, "", false, true, true, false},
    {53, S::LB103, "LB1", "Lock Bit 1", 56, "", false, true, true, false},

    {2, S::LockAT90S, "LB2", "", 10, "", false, true, true, false},
    {1, S::LockAT90S, "LB1", "", 32, "", false, true, true, false},

    {11, S::Fuse128, "7", "", 0, "Extended", false, false, true, true},
    {12, S::Fuse128, "6", "", 0, "Extended", false, false, true, true},
    {13, S::Fuse128, "5", "", 0, "Extended", false, false, true, true},
    {14, S::Fuse128, "4", "", 0, "Extended", false, false, true, true},
    {15, S::Fuse128, "3", "", 0, "Extended", false, false, true, true},
    {16, S::Fuse128, "2", "", 0, "Extended", false, false, true, true},
    {17, S::Fuse128, "M103C", "ATmega103 compatibility mode", 14, "Extended", false, true, true, false},
    {18, S::Fuse128, "WDTON", "Watchdog Timer always on", 15, "Extended", false, true, true, false},
    {19, S::Fuse128, "OCDEN", "Enable OCD", 16, "Hi", false, true, true, false},
    {20, S::Fuse128, "JTAGEN", "Enable JTAG", 17, "Hi", false, true, true, false},
    {21, S::Fuse128, "SPIEN", "Enable Serial Program and Data Downloading ", 18, "Hi", false, false, false, false},
    {22, S::Fuse128, "CKOPT", "Oscillator options", 19, "Hi", false, true, true, false},
    {23, S::Fuse128, "EESAVE", "EEPROM memory is preserved through the Chip Erase", 20, "Hi", false, true, true, false},
    {24, S::Fuse128, "BOOTSZ1", kSelectBootSize, 21, "Hi", false, true, true, false},
    {25, S::Fuse128, "BOOTSZ0", kSelectBootSize, 22, "Hi", false, true, true, false},
    {26, S::Fuse128, "BOOTRST", "Select Reset Vector", 23, "Hi", false, true, true, false},
    {27, S::Fuse128, "BODLEVEL", "Brown out detector trigger level", 24, "Low", false, true, true, false},
    {28, S::Fuse128, "BODEN", "Brown out detector enable", 25, "Low", false, true, true, false},
    {29, S::Fuse128, "SUT1", kStartUpTime, 26, "Low", false, true, true, false},
    {30, S::Fuse128, "SUT0", kStartUpTime, 27, "Low", false, true, true, false},
    {31, S::Fuse128, "CKSEL3", kClockSource, 28, "Low", false, true, true, false},
    {32, S::Fuse128, "CKSEL2", kClockSource, 29, "Low", false, true, true, false},
    {33, S::Fuse128, "CKSEL1", kClockSource, 30, "Low", false, true, true, false},
    {34, S::Fuse128, "CKSEL0", kClockSource, 31, "Low", false, true, true, false},

    {43, S::Fuse163, "BOOTSZ1", "", 45, "Hi", false, true, true, false},
    {44, S::Fuse163, "BOOTSZ0", "", 46, "Hi", false, true, true, false},
    {45, S::Fuse163, "BOOTRST", "", 47, "Hi", false, true, true, false},
    {46, S::Fuse163, "BODLEVEL", "", 48, "Lo", false, true, true, false},
    {47, S::Fuse163, "BODEN", "", 49, "Lo", false, true, true, false},
    {48, S::Fuse163, "CKSEL3", "", 50, "Lo", false, true, true, false},
    {49, S::Fuse163, "CKSEL2", "", 51, "Lo", false, true, true, false},
    {50, S::Fuse163, "CKSEL1", "", 52, "Lo", false, true, true, false},
    {51, S::Fuse163, "CKSEL0", "", 53, "Lo", false, true, true, false},

    {36, S::Fuse161, "BOOTRST", "", 35, "", false, true, true, false},
    {37, S::Fuse161, "SPIEN", "", 36, "", false, false, false, false},
    {38, S::Fuse161, "BODLEVEL", "", 37, "", false, true, true, false},
    {39, S::Fuse161, "BODEN", "", 38, "", false, true, true, false},
    {40, S::Fuse161, "CKSEL2", "", 39, "", false, true, true, false},
    {41, S::Fuse161, "CKSEL1", "", 40, "", false, true, true, false},
    {42, S::Fuse161, "CKSEL0", "", 41, "", false, true, true, false},

    {54, S::Fuse103, "EESAVE", "", 58, "", false, true, true, false},
    {55, S::Fuse103, "SPIEN", "", 59, "", false, false, true, false},
    {56, S::Fuse103, "SUT1", "", 60, "", false, true, true, false},
    {57, S::Fuse103, "SUT0", "", 61, "", false, true, true, false},

    {35, S::FuseAT90S, "FSTRT", "", 33, "", false, true, true, false},

    {58, S::FuseATtiny, "BODLEVEL", "", 64, "", false, true, true, false},
    {59, S::FuseATtiny, "BODEN", "", 65, "", false, true, true, false},
    {60, S::FuseATtiny, "SPIEN", "", 66, "", true, false, true, false},
    {61, S::FuseATtiny, "RSTDISBL", "", 67, "", false, false, true, false},
    {62, S::FuseATtiny, "CKSEL3", "", 68, "", false, true, true, false},
    {63, S::FuseATtiny, "CKSEL2", "", 69, "", false, true, true, false},
    {64, S::FuseATtiny, "CKSEL1", "", 70, "", false, true, true, false},
    {65, S::FuseATtiny, "CKSEL0", "", 71, "", false, true, true, false},
};
// clang-format on

static_assert(std::size(kBoxes) == LockFuseEditor::kBoxCount);

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
    for (const EditorBox& box : kBoxes) {
        State& s = state_[box.number];
        s.checked = box.startsChecked;
        s.enabled = box.enabled;
        if (box.label)
            s.label = StateText(box.startsChecked);
    }
    memo_ = std::string(kMemoAtStart[0]) + "\n" + kMemoAtStart[1];
}

std::span<const EditorBox> LockFuseEditor::Boxes()
{
    return kBoxes;
}

const EditorBox& LockFuseEditor::Info(int number)
{
    for (const EditorBox& box : kBoxes)
        if (box.number == number)
            return box;
    throw std::out_of_range("no CheckBox" + std::to_string(number));
}

std::vector<int> LockFuseEditor::BoxesOf(EditorSection section)
{
    std::vector<int> out;
    for (const EditorBox& box : kBoxes)
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
    for (int box = kPresetFirstBox; box <= kPresetLastBox; ++box) {
        bool on = false;
        for (const int p : preset.programmed)
            on = on || p == box;
        setChecked(box, on);
    }
}

void LockFuseEditor::SpeedButton1Click()
{
    applyPreset(FindCatalogueBits("ATmega128")->presets[0]);
}

void LockFuseEditor::SpeedButton2Click()
{
    applyPreset(FindCatalogueBits("ATmega128")->presets[1]);
}

void LockFuseEditor::SpeedButton3Click()
{
    applyPreset(FindCatalogueBits("ATmega128")->presets[2]);
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

bool LockFuseEditor::releaseGuard(int box, Host& host)
{
    const FuseGuard* guard = GuardOf(box);
    if (!guard)
        return enabled(box);
    // Enter must not be the way into a chip that only a high-voltage programmer brings back.
    if (host.MessageBox(guard->warning, "WARNING", Host::Buttons::OkCancelDefaultCancel,
                        Host::Icon::Exclamation) != Host::Result::Ok)
        return enabled(box);
    State& s = state_[box];
    if (!s.enabled) {
        s.enabled = true;
        if (changed)
            changed(Aspect::Enabled, box);
    }
    return true;
}

std::vector<EditorSection> ShownSections(const AvrPageModel& page)
{
    std::vector<EditorSection> shown;
    if (page.Notebook1() == "ATmega128") {
        shown.push_back(page.Notebook3() == "LB103" ? S::LB103 : S::LB128);
        const std::string& fuses = page.Notebook2();
        shown.push_back(fuses == "128"   ? S::Fuse128
                        : fuses == "161" ? S::Fuse161
                        : fuses == "103" ? S::Fuse103
                                         : S::Fuse163);
    } else if (page.Notebook1() == "AT90Sxxxx") {
        shown.push_back(S::LockAT90S);
        if (page.Notebook4() == "ATtiny")
            shown.push_back(S::FuseATtiny);
        else if (page.GroupBox4Visible())
            shown.push_back(S::FuseAT90S);
    }
    return shown;
}

std::string CaptionOf(int box, const AvrPageModel& page)
{
    if (box == LockFuseEditor::CheckBox35)
        return page.CheckBox35Caption();
    return LockFuseEditor::Info(box).caption;
}

} // namespace vardel
