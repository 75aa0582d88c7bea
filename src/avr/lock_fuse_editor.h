#pragma once

#include "avr/part_bits.h"
#include "hw/host.h"
#include "parts/catalogue_parts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vardel {

class AvrPageModel;

// A fuse bit that ends serial programming in one of its states: SPIEN unprogrammed, RSTDISBL or
// DWEN programmed. Its box stays disabled until the user answers its warning with OK.
struct FuseGuard {
    int box;
    bool lockoutChecked; // the state that locks the chip out: checked (programmed) or not
    const char* button;  // caption of the flat button that asks for the change
    const char* warning; // the warning's text, lines separated by '\r'
};

// The lock- and fuse-bit editor without its widgets: the bytes of the part shown, and every check
// box of the catalogue's pages with caption, hint, enabled state and state label, the lock-mode
// text of Memo1 and the ATtiny12 calibration label.
//
// The bytes are the one state of the editor: a box of the shown part's pages is a view of one bit
// of them (EditorBoxesOf), and a part without pages of its own shows them on a page built from its
// bits. Boxes of pages the part does not use keep a state of their own.
//
// A checked box means the bit is programmed, which the chip stores as 0. Setting a box runs its
// click action when, and only when, its state changes, exactly as a user click does: reads and
// presets rely on it for the labels, and the AT90S lock group for its LB1/LB2 rule. The window
// mirrors the model through `changed` and forwards clicks to click(); the model never knows a
// widget, and which sections are shown is identification's business (the pages it selects).
class LockFuseEditor {
public:
    static constexpr int kBoxCount = 65;

    // Box numbers the commands and presets name.
    enum Box : int {
        CheckBox1 = 1, // LB1, AT90S lock group
        CheckBox2,     // LB2, AT90S lock group
        CheckBox3,     // LB1, "LB128"
        CheckBox4,     // LB2
        CheckBox5,     // BLB01
        CheckBox6,     // BLB02
        CheckBox7,     // BLB11
        CheckBox8,     // BLB12
        CheckBox9,     // "6", unused
        CheckBox10,    // "7", unused
        CheckBox11,    // "7" to "2" of the extended byte, unused
        CheckBox12,
        CheckBox13,
        CheckBox14,
        CheckBox15,
        CheckBox16,
        CheckBox17, // M103C, "128"
        CheckBox18, // WDTON
        CheckBox19, // OCDEN
        CheckBox20, // JTAGEN
        CheckBox21, // SPIEN
        CheckBox22, // CKOPT
        CheckBox23, // EESAVE
        CheckBox24, // BOOTSZ1
        CheckBox25, // BOOTSZ0
        CheckBox26, // BOOTRST
        CheckBox27, // BODLEVEL
        CheckBox28, // BODEN
        CheckBox29, // SUT1
        CheckBox30, // SUT0
        CheckBox31, // CKSEL3
        CheckBox32, // CKSEL2
        CheckBox33, // CKSEL1
        CheckBox34, // CKSEL0
        CheckBox35, // FSTRT or RCEN, "AT90Sxxxx"
        CheckBox36, // BOOTRST, "161"
        CheckBox37, // SPIEN
        CheckBox38, // BODLEVEL
        CheckBox39, // BODEN
        CheckBox40, // CKSEL2
        CheckBox41, // CKSEL1
        CheckBox42, // CKSEL0
        CheckBox43, // BOOTSZ1, "163"
        CheckBox44, // BOOTSZ0
        CheckBox45, // BOOTRST
        CheckBox46, // BODLEVEL
        CheckBox47, // BODEN
        CheckBox48, // CKSEL3
        CheckBox49, // CKSEL2
        CheckBox50, // CKSEL1
        CheckBox51, // CKSEL0
        CheckBox52, // LB2, "LB103"
        CheckBox53, // LB1
        CheckBox54, // EESAVE, "103"
        CheckBox55, // SPIEN
        CheckBox56, // SUT1
        CheckBox57, // SUT0
        CheckBox58, // BODLEVEL, "ATtiny"
        CheckBox59, // BODEN
        CheckBox60, // SPIEN
        CheckBox61, // RSTDISBL
        CheckBox62, // CKSEL3
        CheckBox63, // CKSEL2
        CheckBox64, // CKSEL1
        CheckBox65, // CKSEL0
    };

    // Memo1's three lock-mode texts, and the two lines it starts with.
    static constexpr const char* kNoLock = "No memory lock features enabled.";
    static constexpr const char* kLockLB1 =
        "Further programming of the Flash and EEPROM is disabled.";
    static constexpr const char* kLockLB1LB2 =
        "Further programming and veryfing of the Flash and EEPROM is disabled";
    static constexpr std::array<const char*, 2> kMemoAtStart{"No memory lock features ",
                                                             "enabled."};

    // What changed, so an observer repaints only that; `box` is the box concerned (0 for Memo1 and
    // the calibration label).
    enum class Aspect { Checked, Label, Enabled, Memo, Calibration };
    std::function<void(Aspect, int box)> changed;

    LockFuseEditor();

    // The form's boxes in layout order: section by section, each as the form shows it.
    static std::span<const EditorBox> Boxes();
    static const EditorBox& Info(int number);
    static std::vector<int> BoxesOf(EditorSection section);
    // Heading of the section: "Fuse Bits" or "Lock Bits".
    static const char* Title(EditorSection section);

    // The part whose bytes the editor holds (null: no chip identified, which is read as
    // UnidentifiedPart()). Another part starts from its factory fuse bytes and no lock bit,
    // except for the bits its boxes show, which keep what the boxes show.
    void show(const AvrPart* part);
    const AvrPart* shown() const { return shown_; }
    const PartBits& bits() const { return *bits_; }
    // The bit a box shows for the part, if it shows one.
    std::optional<PartBit> bitOf(int box) const;
    // Sets a bit as a read or a click on its box does: a box that shows it runs its click action.
    void setProgrammed(PartBit bit, bool programmed);
    // The fuse bytes as the part leaves the factory.
    void factoryDefault();
    // A bit that ends serial programming, released through its warning for the shown part.
    void releaseBit(PartBit bit);
    bool released(PartBit bit) const;
    // What the user must do first before this bit goes in a state that ends serial programming
    // ("" for nothing more to say), or nothing when it may: a box guarded on its page must have
    // been enabled through its warning, any other bit released.
    std::optional<std::string> lockoutRefusal(PartBit bit) const;

    bool checked(int box) const { return state_.at(box).checked; }
    bool enabled(int box) const { return state_.at(box).enabled; }
    // The state label's caption ("0" programmed, "1" not), or nothing for a box without one.
    std::optional<std::string> label(int box) const;

    // Sets the box as code does; runs its click action when the state changes.
    void setChecked(int box, bool checked);
    // A user's click: flips an enabled box; a disabled one does not react.
    void click(int box);

    // Memo1, its lines joined by '\n'.
    const std::string& Memo1() const { return memo_; }

    // Label63, the ATtiny12 calibration byte: "??" until a read, then "76 (dec)".
    const std::string& Label63() const { return label63_; }
    std::optional<std::uint8_t> calibration() const { return calibration_; }
    void setCalibration(std::uint8_t value);

    // A preset of page "128": every fuse box of the page set from its bytes.
    void applyPreset(const CataloguePreset& preset);
    // The three presets of "Predefined Fuse Bits Settings" (page "128" only).
    void SpeedButton1Click(); // "factory default"
    void SpeedButton2Click(); // "Low Frequency"
    void SpeedButton3Click(); // "High Frequency"
    // The guarded bits, and the guard of a box (null when it has none).
    static std::span<const FuseGuard> Guards();
    static const FuseGuard* GuardOf(int box);
    // The guard's warning (OK and Cancel, Cancel the default, exclamation icon): true on OK.
    static bool WarningAnswered(const FuseGuard& guard, Host& host);
    // Shows the guard's warning; on OK the box can be clicked for as long as the program runs.
    // True when it is enabled afterwards.
    bool releaseGuard(int box, Host& host);
    // "Enable SPIEN modification" and "Enable RSTDISBL modification" of page "ATtiny".
    bool SpeedButton4Click(Host& host) { return releaseGuard(CheckBox60, host); }
    bool SpeedButton5Click(Host& host) { return releaseGuard(CheckBox61, host); }

private:
    struct State {
        bool checked = false;
        bool enabled = true;
        std::string label;
    };

    void bind(const AvrPart* part);
    int boxOf(PartBit bit) const;
    void runClickAction(int box);
    void CheckBox1Click();
    void CheckBox2Click();
    void setLabel(int box, const char* text);
    void setMemo(const char* text);

    std::array<State, kBoxCount + 1> state_{};
    const AvrPart* shown_ = nullptr;
    std::optional<PartBits> bits_;
    std::span<const CatalogueBox> boxes_;
    std::vector<PartBit> released_;
    std::string memo_;
    std::string label63_ = "??";
    std::optional<std::uint8_t> calibration_;
};

// The caption a box shows on the page: CheckBox35's is the one identification gave it.
std::string CaptionOf(int box, const AvrPageModel& page);

} // namespace vardel
