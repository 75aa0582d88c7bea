#include "avr/lock_fuse_commands.h"
#include "avr/part_bits.h"
#include "avr_rig.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/sim_board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace vardel;
using E = LockFuseEditor;
using Outcome = AvrPage::Outcome;

namespace {

// The commands against a simulated chip, identified as the window would have done first.
struct SimRig {
    test::SleepLog clock;
    sim::SimBoard board{clock};
    LineDriver lines{board};
    test::RecordingHost host;
    OperationLock lock;
    AvrPage page{lines, clock, host, lock};
    E editor;
    LockFuseCommands commands{page.serial(), editor, host, lock};

    explicit SimRig(const std::string& device)
    {
        std::string error;
        auto chip = sim::MakeAvrChip(device, "", error);
        EXPECT_TRUE(chip) << error;
        board.insertAvr(std::move(chip));
        EXPECT_EQ(page.btnTipoClick(), Outcome::Done) << device;
        editor.show(page.identifiedPart());
    }
    sim::AvrTarget& chip() { return dynamic_cast<sim::AvrTarget&>(*board.avr()); }
    void set(const char* key, const char* value)
    {
        std::string error;
        EXPECT_TRUE(chip().set(key, value, error)) << error;
    }
    void check(std::initializer_list<int> boxes, bool state = true)
    {
        for (const int box : boxes)
            editor.setChecked(box, state);
    }
    // A second window's editor, filled from the chip.
    std::unique_ptr<E> readBack(bool fuses)
    {
        auto fresh = std::make_unique<E>();
        fresh->show(page.identifiedPart());
        LockFuseCommands reader(page.serial(), *fresh, host, lock);
        EXPECT_EQ(fuses ? reader.btnReadFuseBitsClick() : reader.btnReadLockBitsClick(),
                  Outcome::Done);
        return fresh;
    }
    void expectSameBoxes(const E& other, std::initializer_list<int> boxes)
    {
        for (const int box : boxes)
            EXPECT_EQ(other.checked(box), editor.checked(box)) << "CheckBox" << box;
    }
};

} // namespace

TEST(LockFuseOnChip, ATmega128PresetThenLockBits)
{
    SimRig rig("ATmega128");
    rig.set("avr.fuse.low", "3F");
    rig.set("avr.fuse.high", "C9");
    rig.editor.SpeedButton2Click();
    ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().fuse(0), 0xE0);
    EXPECT_EQ(rig.chip().fuse(1), 0xD1);
    EXPECT_EQ(rig.chip().fuse(2), 0xFF);

    rig.editor.SpeedButton1Click();
    ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().fuse(0), 0xE1);
    EXPECT_EQ(rig.chip().fuse(1), 0x99);
    EXPECT_EQ(rig.chip().fuse(2), 0xFD);
    auto back = rig.readBack(true);
    for (int box = E::CheckBox17; box <= E::CheckBox34; ++box)
        EXPECT_EQ(back->checked(box), rig.editor.checked(box)) << box;

    rig.check({E::CheckBox3, E::CheckBox6, E::CheckBox8});
    ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().lock(), 0xD6);
    rig.expectSameBoxes(*rig.readBack(false), {3, 4, 5, 6, 7, 8});
    // Each write was confirmed.
    std::vector<std::string> captions;
    for (const std::string& m : rig.host.messages())
        captions.push_back(m.substr(0, m.find('|')));
    EXPECT_EQ(captions, (std::vector<std::string>{"Program Fuse Bits", "OK", "Program Fuse Bits",
                                                  "OK", "Program Lock Bits", "OK"}));
}

TEST(LockFuseOnChip, ATmega163)
{
    SimRig rig("ATmega163");
    rig.check({E::CheckBox45, E::CheckBox47, E::CheckBox50});
    ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().fuse(0), 0x9D); // SPIEN (bit 5) stays programmed
    EXPECT_EQ(rig.chip().fuse(1), 0xFE);
    rig.expectSameBoxes(*rig.readBack(true), {43, 44, 45, 46, 47, 48, 49, 50, 51});

    rig.check({E::CheckBox5, E::CheckBox7});
    ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().lock(), 0xEB);
    rig.expectSameBoxes(*rig.readBack(false), {3, 4, 5, 6, 7, 8});
}

TEST(LockFuseOnChip, ATmega161KeepsSpien)
{
    SimRig rig("ATmega161");
    rig.check({E::CheckBox36, E::CheckBox39});
    ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done);
    // The chip keeps its factory SPIEN whatever the write carries.
    EXPECT_EQ(rig.chip().fuse(0), 0x97);
    auto back = rig.readBack(true);
    rig.expectSameBoxes(*back, {36, 38, 39, 40, 41, 42});
    EXPECT_TRUE(back->checked(E::CheckBox37));

    rig.check({E::CheckBox3, E::CheckBox4});
    ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().lock(), 0xFC);
    rig.expectSameBoxes(*rig.readBack(false), {3, 4, 5, 6, 7, 8});
}

TEST(LockFuseOnChip, ATmega103)
{
    SimRig rig("ATmega103");
    rig.check({E::CheckBox54, E::CheckBox57});
    ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().fuse(0), 0xD6);
    auto back = rig.readBack(true);
    rig.expectSameBoxes(*back, {54, 56, 57});
    EXPECT_TRUE(back->checked(E::CheckBox55));

    rig.check({E::CheckBox53});
    ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().lock(), 0xFD);
    back = rig.readBack(false);
    EXPECT_TRUE(back->checked(E::CheckBox53));
    EXPECT_FALSE(back->checked(E::CheckBox52));
    EXPECT_EQ(back->label(E::CheckBox53), "0");
}

TEST(LockFuseOnChip, ATtiny12FusesCalibrationAndLB1Alone)
{
    SimRig rig("ATtiny12");
    rig.set("avr.calibration", "4C");
    rig.check({E::CheckBox59, E::CheckBox62, E::CheckBox63});
    ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().fuse(0), 0x93);
    auto back = rig.readBack(true);
    rig.expectSameBoxes(*back, {58, 59, 60, 61, 62, 63, 64, 65});
    EXPECT_EQ(back->Label63(), "76 (dec)");

    // A chip locked with LB1 alone reads as locked.
    rig.check({E::CheckBox1});
    ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().lock(), 0xFD);
    back = rig.readBack(false);
    EXPECT_TRUE(back->checked(E::CheckBox1));
    EXPECT_FALSE(back->checked(E::CheckBox2));
    EXPECT_EQ(back->Memo1(), E::kLockLB1);

    // Lock mode 3 holds (the lock read still answers) and hides the chip's signature from then on.
    rig.check({E::CheckBox2});
    ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.chip().lock(), 0xF9);
    back = rig.readBack(false);
    EXPECT_TRUE(back->checked(E::CheckBox1));
    EXPECT_TRUE(back->checked(E::CheckBox2));
    EXPECT_EQ(back->Memo1(), E::kLockLB1LB2);
    EXPECT_EQ(rig.page.btnTipoClick(), Outcome::Failed);
    EXPECT_EQ(rig.page.lastIdentification(), AvrPage::Identification::Protected);
}

TEST(LockFuseOnChip, EachLockOutBitNeedsItsGuardAndThenLocksTheChipOut)
{
    // SPIEN released (unchecked) or RSTDISBL programmed (checked) ends serial programming.
    struct Case {
        int box;
        bool (E::*guard)(Host&);
        const char* name;
        std::uint8_t fuse;
    };
    const Case cases[] = {
        {E::CheckBox60, &E::SpeedButton4Click, "SPIEN unprogrammed", 0xF2},
        {E::CheckBox61, &E::SpeedButton5Click, "RSTDISBL programmed", 0xC2},
    };
    for (const Case& c : cases) {
        SimRig rig("ATtiny12");
        ASSERT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Done);
        // Code can set a disabled box; the write still refuses it while the guard is closed.
        rig.editor.setChecked(c.box, !rig.editor.checked(c.box));
        rig.host.calls.clear();
        EXPECT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Failed) << c.name;
        ASSERT_EQ(rig.host.messages().size(), 1u);
        EXPECT_EQ(rig.host.messages()[0].rfind(std::string("ERROR|") + c.name, 0), 0u)
            << rig.host.messages()[0];
        EXPECT_EQ(rig.chip().fuse(0), 0xD2) << c.name;

        // Released, the write is asked about and the chip takes it for good.
        rig.host.answers = {Host::Result::Ok, Host::Result::Ok};
        ASSERT_TRUE((rig.editor.*c.guard)(rig.host));
        rig.host.calls.clear();
        EXPECT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done) << c.name;
        EXPECT_EQ(rig.chip().fuse(0), c.fuse) << c.name;
        const auto messages = rig.host.messages();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_NE(messages[0].find(std::string(E::Info(c.box).caption) +
                                   (c.fuse == 0xF2 ? " 0 -> 1" : " 1 -> 0")),
                  std::string::npos)
            << messages[0];
        EXPECT_EQ(messages[1], "OK|Fuse Bits set !!");
        rig.host.calls.clear();
        EXPECT_EQ(rig.page.btnTipoClick(), Outcome::Failed);
        EXPECT_EQ(rig.page.lastIdentification(), AvrPage::Identification::NotDetected) << c.name;
    }
}

TEST(LockFuseOnChip, AT90SFuseAndLockBits)
{
    for (const char* device : {"AT90S2323", "AT90S2343", "AT90S4434", "AT90S8535"}) {
        SimRig rig(device);
        const std::uint8_t before = rig.chip().fuse(0);
        rig.editor.setChecked(E::CheckBox35, true);
        ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done) << device;
        EXPECT_EQ(rig.chip().fuse(0), before & 0xFE) << device;
        EXPECT_TRUE(rig.readBack(true)->checked(E::CheckBox35)) << device;
        rig.editor.setChecked(E::CheckBox35, false);
        ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done) << device;
        EXPECT_EQ(rig.chip().fuse(0), before | 0x01) << device;
        EXPECT_FALSE(rig.readBack(true)->checked(E::CheckBox35)) << device;

        rig.check({E::CheckBox1});
        ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done) << device;
        EXPECT_EQ(rig.chip().lock(), 0xFD) << device;
        auto back = rig.readBack(false);
        EXPECT_TRUE(back->checked(E::CheckBox1)) << device;
        EXPECT_FALSE(back->checked(E::CheckBox2)) << device;
    }
}

TEST(LockFuseOnChip, AT90SWithoutLockReadStillProgramsLockBits)
{
    for (const char* device : {"AT90S8515", "AT90S4414", "AT90S2313"}) {
        SimRig rig(device);
        EXPECT_FALSE(rig.page.model().btnReadLockBitsEnabled());
        rig.check({E::CheckBox1, E::CheckBox2});
        ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done) << device;
        EXPECT_EQ(rig.chip().lock(), 0xF9) << device;
    }
}

namespace {

// A clock on which a stop signal can arrive during the next power-up's pause.
struct StopInPowerUp : test::SleepLog {
    OperationLock* stopping = nullptr;
    void Sleep(std::uint32_t ms) override
    {
        if (stopping && ms == AvrSerial::kPowerUpMs)
            stopping->requestStop();
        SleepLog::Sleep(ms);
    }
};

// A chip of the catalogue or of the part table, identified, with the lock and fuse commands of
// its path; the host can play a stop signal that arrives while the write's question is open, or
// during the power-up after it.
struct BothPaths : test::RecordingHost {
    StopInPowerUp clock;
    sim::SimBoard board{clock};
    LineDriver lines{board};
    OperationLock lock;
    AvrPage page{lines, clock, *this, lock};
    E editor;
    LockFuseCommands commands{page.serial(), editor, *this, lock};
    bool stopAtQuestion = false;
    bool stopAfterQuestion = false;

    explicit BothPaths(const char* device)
    {
        std::string error;
        board.insertAvr(sim::MakeAvrChip(device, "", error));
        EXPECT_EQ(page.btnTipoClick(), Outcome::Done);
        editor.show(page.identifiedPart());
    }
    Result MessageBox(const std::string& text, const std::string& caption, Kind kind,
                      Buttons buttons, Icon icon) override
    {
        if (buttons != Buttons::Ok && stopAtQuestion)
            lock.requestStop();
        if (buttons != Buttons::Ok && stopAfterQuestion)
            clock.stopping = &lock;
        return RecordingHost::MessageBox(text, caption, kind, buttons, icon);
    }
    sim::AvrTarget& chip() { return dynamic_cast<sim::AvrTarget&>(*board.avr()); }
    std::array<std::uint8_t, 4> held()
    {
        return {chip().fuse(0), chip().fuse(1), chip().fuse(2), chip().lock()};
    }
    // Reads the chip and asks for one change: EESAVE flipped, or LB1 programmed.
    void prepare(bool fuses)
    {
        ASSERT_EQ(fuses ? commands.btnReadFuseBitsClick() : commands.btnReadLockBitsClick(),
                  Outcome::Done);
        const PartBit bit = *editor.bits().find(fuses ? "EESAVE" : "LB1");
        editor.setProgrammed(bit, !fuses || !editor.bits().programmed(bit));
    }
    Outcome program(bool fuses)
    {
        return fuses ? commands.btnFuseBitsClick() : commands.btnLockBitsClick();
    }
};

} // namespace

// A stop before a lock or fuse write cancels it; the catalogue's and the part table's commands
// alike.
TEST(LockFuseOnChip, AStopBeforeTheWriteLeavesTheBitsAsTheyWere)
{
    for (const bool fuses : {true, false}) {
        for (const auto& [device, afterQuestion] :
             {std::pair{"ATmega128", false}, {"ATmega328P", false}, {"ATmega328P", true}}) {
            SCOPED_TRACE(std::string(device) + (fuses ? " fuses" : " lock") +
                         (afterQuestion ? ", during the power-up after the question" : ""));
            BothPaths rig(device);
            const auto before = rig.held();
            rig.prepare(fuses);
            rig.stopAtQuestion = !afterQuestion;
            rig.stopAfterQuestion = afterQuestion;
            EXPECT_EQ(rig.program(fuses), Outcome::Stopped);
            EXPECT_EQ(rig.messages().back(),
                      std::string("WARNING:|Operation stopped before the write: the ") +
                          (fuses ? "fuses were" : "lock bits were") + " not written.");
            EXPECT_EQ(rig.held(), before);
            EXPECT_EQ(rig.board.data(), 0x00);
        }
    }
}

// A port that fails once the fuse write has gone out: the message says the fuses were written;
// before it, nothing of the kind.
TEST(LockFuseOnChip, APortFailureAfterTheWriteSaysTheFusesWereWritten)
{
    for (const char* device : {"ATmega128", "ATmega328P"}) {
        for (const bool late : {false, true}) {
            SCOPED_TRACE(std::string(device) + (late ? " late" : " early"));
            BothPaths rig(device);
            const std::uint8_t high = rig.chip().fuse(1);
            // The whole write counted once, then cut in its first tenth or its last.
            rig.prepare(true);
            rig.board.stopAnsweringAfter(1'000'000'000);
            ASSERT_EQ(rig.program(true), Outcome::Done);
            const long whole = 1'000'000'000 - rig.board.answersLeft();
            ASSERT_NE(rig.chip().fuse(1), high);
            char value[3];
            std::snprintf(value, sizeof value, "%02X", high);
            std::string error;
            ASSERT_TRUE(rig.chip().set("avr.fuse.high", value, error)) << error;
            rig.prepare(true);
            rig.calls.clear();
            rig.board.stopAnsweringAfter(late ? whole - 50 : whole / 10, true);
            EXPECT_EQ(rig.program(true), Outcome::Failed);
            rig.board.stopAnsweringAfter(-1);
            const std::string last = rig.messages().back();
            const std::string written = "\rThe fuses were written; read them back.";
            EXPECT_EQ(last.size() > written.size() &&
                          last.compare(last.size() - written.size(), written.size(), written) == 0,
                      late)
                << last;
            EXPECT_EQ(rig.board.data(), 0x00);
        }
    }
}
