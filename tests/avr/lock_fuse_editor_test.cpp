#include "avr/avr_bits.h"
#include "avr/avr_page.h"
#include "avr/avr_page_model.h"
#include "avr/device_catalogue.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "parts/catalogue_parts.h"
#include "support/recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace vardel;
using E = LockFuseEditor;
using vardel::test::RecordingHost;

namespace {

// Every notification, as "checked 21", "label 21", "memo", ...
struct Observer {
    std::vector<std::string> seen;
    explicit Observer(E& editor)
    {
        editor.changed = [this](E::Aspect aspect, int box) {
            const char* names[] = {"checked", "label", "enabled", "memo", "calibration"};
            std::string s = names[static_cast<int>(aspect)];
            if (box)
                s += " " + std::to_string(box);
            seen.push_back(s);
        };
    }
};

} // namespace

TEST(LockFuseEditor, AClickFlipsTheStateLabelAndOnlyARealChangeRunsTheAction)
{
    E editor;
    Observer observer(editor);
    editor.click(E::CheckBox23);
    EXPECT_TRUE(editor.checked(E::CheckBox23));
    EXPECT_EQ(editor.label(E::CheckBox23), "0");
    editor.click(E::CheckBox23);
    EXPECT_EQ(editor.label(E::CheckBox23), "1");
    EXPECT_EQ(observer.seen,
              (std::vector<std::string>{"checked 23", "label 23", "checked 23", "label 23"}));

    // Setting a box to the state it has runs nothing.
    observer.seen.clear();
    editor.setChecked(E::CheckBox23, false);
    editor.setChecked(E::CheckBox60, true);
    EXPECT_TRUE(observer.seen.empty());

    // The LB103 labels follow the same rule; the LB128 boxes have no labels.
    editor.click(E::CheckBox52);
    EXPECT_EQ(editor.label(E::CheckBox52), "0");
    EXPECT_EQ(editor.label(E::CheckBox53), "1");
    editor.click(E::CheckBox4);
    EXPECT_TRUE(editor.checked(E::CheckBox4));
    EXPECT_FALSE(editor.checked(E::CheckBox3));
}

TEST(LockFuseEditor, DisabledBoxesIgnoreClicksButFollowCode)
{
    E editor;
    editor.click(E::CheckBox21);
    editor.click(E::CheckBox60);
    editor.click(E::CheckBox11);
    EXPECT_FALSE(editor.checked(E::CheckBox21));
    EXPECT_TRUE(editor.checked(E::CheckBox60));
    EXPECT_FALSE(editor.checked(E::CheckBox11));

    editor.setChecked(E::CheckBox21, true);
    EXPECT_EQ(editor.label(E::CheckBox21), "0");
    editor.setChecked(E::CheckBox37, true);
    EXPECT_EQ(editor.label(E::CheckBox37), "0");
}

TEST(LockFuseEditor, LB2OnlyWithLB1)
{
    E editor;
    Observer observer(editor);

    // LB2 alone is refused: it stays unchecked, its label "1", the memo as it was.
    editor.click(E::CheckBox2);
    EXPECT_FALSE(editor.checked(E::CheckBox2));
    EXPECT_EQ(editor.label(E::CheckBox2), "1");
    EXPECT_EQ(editor.Memo1(), "No memory lock features \nenabled.");
    EXPECT_EQ(observer.seen, (std::vector<std::string>{"checked 2", "checked 2"}));

    editor.click(E::CheckBox1);
    EXPECT_EQ(editor.Memo1(), E::kLockLB1);
    EXPECT_EQ(editor.label(E::CheckBox1), "0");
    editor.click(E::CheckBox2);
    EXPECT_EQ(editor.Memo1(),
              "Further programming and veryfing of the Flash and EEPROM is disabled");
    EXPECT_EQ(editor.label(E::CheckBox2), "0");

    // LB1 cannot be released while LB2 is programmed.
    editor.click(E::CheckBox1);
    EXPECT_TRUE(editor.checked(E::CheckBox1));
    EXPECT_EQ(editor.label(E::CheckBox1), "0");
    EXPECT_EQ(editor.Memo1(), E::kLockLB1LB2);

    editor.click(E::CheckBox2);
    EXPECT_EQ(editor.Memo1(), "Further programming of the Flash and EEPROM is disabled.");
    EXPECT_EQ(editor.label(E::CheckBox2), "1");
    editor.click(E::CheckBox1);
    EXPECT_EQ(editor.Memo1(), "No memory lock features enabled.");
    EXPECT_EQ(editor.label(E::CheckBox1), "1");
}

TEST(LockFuseEditor, PresetsSetTheEighteenBoxesOfPage128Only)
{
    struct Preset {
        void (E::*button)();
        std::set<int> programmed;
    };
    const Preset presets[] = {
        {&E::SpeedButton1Click, {17, 20, 21, 24, 25, 30, 31, 32, 33}},
        {&E::SpeedButton2Click, {21, 23, 24, 25, 30, 31, 32, 33, 34}},
        {&E::SpeedButton3Click, {21, 23, 24, 25, 29, 30}},
    };
    E editor;
    editor.click(E::CheckBox18); // WDTON, to be released by every preset
    editor.click(E::CheckBox45); // page "163" is not touched
    editor.setChecked(E::CheckBox12, true);
    for (const Preset& p : presets) {
        Observer observer(editor);
        (editor.*p.button)();
        for (int box = E::CheckBox17; box <= E::CheckBox34; ++box) {
            EXPECT_EQ(editor.checked(box), p.programmed.count(box) == 1) << box;
            EXPECT_EQ(editor.label(box), p.programmed.count(box) ? "0" : "1") << box;
        }
        EXPECT_TRUE(editor.checked(E::CheckBox45));
        EXPECT_TRUE(editor.checked(E::CheckBox12));
        // The boxes change in the order of the page, M103C first.
        std::vector<int> order;
        for (const std::string& s : observer.seen)
            if (s.rfind("checked ", 0) == 0)
                order.push_back(std::stoi(s.substr(8)));
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
}

TEST(LockFuseEditor, GuardsAskWithCancelAsTheDefaultAndEnableOnlyTheirBox)
{
    const std::string spien =
        "message WARNING|Warning !!!\rUnprogramming SPIEN fuse will disable the Low-Voltage "
        "Serial Programming mode.You will have to use High-Voltage Serial Programmer to enable "
        "SPIEN\rThis program do NOT support such programmer.\rENABLE SPIEN MODIFICATION - ARE "
        "YOU SURE ?|okcancel|default cancel|exclamation";
    // SPIEN locks the chip out unchecked, RSTDISBL checked: the release never moves the box.
    struct Case {
        bool (E::*button)(Host&);
        int box;
        bool lockoutChecked;
        const char* says;
    };
    const Case cases[] = {
        {&E::SpeedButton4Click, E::CheckBox60, false, "Unprogramming SPIEN"},
        {&E::SpeedButton5Click, E::CheckBox61, true,
         "Programming RSTDISBL fuse turns the RESET "
         "pin into an I/O pin"},
    };
    for (const Case& c : cases) {
        E editor;
        RecordingHost host;
        host.answers = {Host::Result::Cancel, Host::Result::Ok, Host::Result::Cancel};
        ASSERT_NE(E::GuardOf(c.box), nullptr);
        EXPECT_EQ(E::GuardOf(c.box)->lockoutChecked, c.lockoutChecked);
        const bool startsChecked = editor.checked(c.box);
        EXPECT_NE(startsChecked, c.lockoutChecked);

        EXPECT_FALSE((editor.*c.button)(host));
        EXPECT_FALSE(editor.enabled(c.box));
        editor.click(c.box); // a disabled box ignores the click
        EXPECT_EQ(editor.checked(c.box), startsChecked);

        Observer observer(editor);
        EXPECT_TRUE((editor.*c.button)(host));
        EXPECT_EQ(observer.seen, (std::vector<std::string>{"enabled " + std::to_string(c.box)}));
        for (int box = 1; box <= E::kBoxCount; ++box) {
            if (box != c.box && E::GuardOf(box)) {
                EXPECT_FALSE(editor.enabled(box)) << box;
            }
        }
        EXPECT_FALSE(editor.enabled(E::CheckBox21));
        EXPECT_FALSE(editor.enabled(E::CheckBox37));
        EXPECT_FALSE(editor.enabled(E::CheckBox55));
        // Asking again changes nothing further, whatever the answer.
        EXPECT_TRUE((editor.*c.button)(host));
        ASSERT_EQ(host.calls.size(), 3u);
        for (const std::string& call : host.calls) {
            EXPECT_NE(call.find(c.says), std::string::npos) << call;
            EXPECT_NE(call.find("High-Voltage"), std::string::npos) << call;
            EXPECT_NE(call.find("|okcancel|default cancel|exclamation"), std::string::npos);
        }
        if (c.box == E::CheckBox60) {
            EXPECT_EQ(host.calls[0], spien);
        }

        editor.click(c.box);
        EXPECT_EQ(editor.checked(c.box), c.lockoutChecked);
        EXPECT_EQ(editor.label(c.box), c.lockoutChecked ? "0" : "1");
    }
}

TEST(LockFuseEditor, CalibrationLabelInDecimal)
{
    E editor;
    for (const auto& [value, text] :
         {std::pair<int, const char*>{76, "76 (dec)"}, {0, "0 (dec)"}, {255, "255 (dec)"}}) {
        editor.setCalibration(static_cast<std::uint8_t>(value));
        EXPECT_EQ(editor.Label63(), text);
        EXPECT_EQ(editor.calibration(), value);
    }
}

// The editor sections the pages identification selected show: the lock page of Notebook3 and the
// fuse page of Notebook2 on "ATmega128"; the AT90S lock group and the fuse page of Notebook4 on
// "AT90Sxxxx" (its AT90S fuse group only while GroupBox4 is visible).
std::vector<EditorSection> ShownSections(const AvrPageModel& page)
{
    using S = EditorSection;
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

// Every bit a catalogue part's lock or fuse commands write has a box on a page its identification
// shows, captioned with the bit's name, so the user sees what is written; the command line names
// the bits the shown boxes caption, in the pages' order.
TEST(LockFuseEditor, EveryBitTheCommandsWriteIsShownForItsPart)
{
    for (const DeviceEntry& entry : DeviceCatalogue()) {
        const CataloguePart* bits = FindCataloguePart(entry.part->name);
        if (!bits)
            continue;
        AvrPageModel model;
        ShowIdentified(model, entry);
        std::set<int> shown;
        std::vector<std::string> captions[2]; // fuses, lock
        for (const EditorSection section : ShownSections(model))
            for (const int box : E::BoxesOf(section)) {
                shown.insert(box);
                if (!E::Info(box).inert)
                    captions[std::string(E::Title(section)) == "Lock Bits"].push_back(
                        CaptionOf(box, model));
            }
        // The command line names the captions' bits, then what the reads give beyond the boxes
        // (the AT90S parts' SPIEN).
        std::vector<std::string> fuses = AvrBits::NamesOf(*entry.part, AvrBits::Kind::Fuses);
        if (!fuses.empty() && fuses.back() == "SPIEN" && !std::ranges::count(captions[0], "SPIEN"))
            fuses.pop_back();
        EXPECT_EQ(fuses, captions[0]) << entry.label;
        EXPECT_EQ(AvrBits::NamesOf(*entry.part, AvrBits::Kind::Lock), captions[1]) << entry.label;
        const PartBits part(*entry.part);
        auto boxOf = [&](PartBit bit) {
            for (const CatalogueBox& b : bits->boxes)
                if (b.bit == bit)
                    return b.box;
            return 0;
        };
        std::vector<CatalogueInstruction> writes(bits->fuseWrites.begin(), bits->fuseWrites.end());
        writes.push_back(bits->lockWrite);
        for (const CatalogueInstruction& write : writes)
            for (const CatalogueBit& b : write.bits) {
                const int box = boxOf(b.bit);
                EXPECT_TRUE(shown.count(box)) << entry.label << " box " << box;
                const char* name = part.bitName(b.bit.byte, b.bit.bit);
                ASSERT_NE(name, nullptr) << entry.label << " box " << box;
                EXPECT_EQ(CaptionOf(box, model), name) << entry.label;
            }
        EXPECT_EQ(bits->fuseWrites.empty(), !model.GroupBox4Visible() &&
                                                model.Notebook1() == "AT90Sxxxx" &&
                                                model.Notebook4() != "ATtiny")
            << entry.label;
    }
}

// The editor's bytes are its one state: a box of the shown part's page and the bit it shows never
// disagree, whichever way the change came, and the LB1/LB2 rule holds for both.
TEST(LockFuseEditor, TheBoxesOfTheShownPartAreItsBits)
{
    E editor;
    RecordingHost host;
    host.answers = {Host::Result::Ok};
    const AvrPart& tiny12 = *FindPartByName("ATtiny12");
    editor.click(E::CheckBox59); // BODEN, before the part is shown: kept when it is
    editor.show(&tiny12);
    const auto bit = [&](const char* name) {
        return *editor.bits().find(name);
    };
    EXPECT_TRUE(editor.bits().programmed(bit("BODEN")));
    editor.click(E::CheckBox62);
    EXPECT_TRUE(editor.bits().programmed(bit("CKSEL3")));
    editor.setProgrammed(bit("CKSEL3"), false);
    EXPECT_FALSE(editor.checked(E::CheckBox62));
    EXPECT_EQ(editor.label(E::CheckBox62), "1");

    editor.setProgrammed(bit("LB2"), true); // refused without LB1
    EXPECT_FALSE(editor.bits().programmed(bit("LB2")));
    EXPECT_FALSE(editor.checked(E::CheckBox2));
    editor.setProgrammed(bit("LB1"), true);
    editor.setProgrammed(bit("LB2"), true);
    EXPECT_EQ(editor.Memo1(), E::kLockLB1LB2);
    EXPECT_TRUE(editor.bits().programmed(bit("LB2")));

    // A guarded box's bit may lock the chip out only once its warning was answered; a bit of a
    // part without pages once it was released.
    EXPECT_EQ(editor.lockoutRefusal(bit("RSTDISBL")),
              "Press \"Enable RSTDISBL modification\" first if that is what you want.");
    EXPECT_TRUE(editor.SpeedButton5Click(host));
    EXPECT_EQ(editor.lockoutRefusal(bit("RSTDISBL")), std::nullopt);

    const AvrPart& m328 = *FindPartByName("ATmega328P");
    editor.show(&m328);
    EXPECT_EQ(editor.bits().value(1), m328.fuses[1].factory);
    EXPECT_EQ(editor.bits().value(m328.fuseCount), 0xFF);
    EXPECT_TRUE(editor.checked(E::CheckBox59)) << "boxes of other pages keep their state";
    const PartBit rstdisbl = bit("RSTDISBL");
    EXPECT_EQ(editor.lockoutRefusal(rstdisbl), "");
    editor.releaseBit(rstdisbl);
    EXPECT_EQ(editor.lockoutRefusal(rstdisbl), std::nullopt);
    editor.show(&tiny12);
    editor.show(&m328);
    EXPECT_EQ(editor.lockoutRefusal(rstdisbl), "") << "a release holds for its part only";
}
