#include "avr/device_catalogue.h"
#include "avr/lock_fuse_commands.h"
#include "avr_rig.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace vardel;
using E = LockFuseEditor;
using vardel::test::MosiBytes;
using vardel::test::QueueMisoBytes;
using vardel::test::RecordingHost;
using vardel::test::RecordingPort;
using vardel::test::XtalPulses;
using Outcome = AvrPage::Outcome;

namespace {

// Records, with each message, how many port writes had been made and the last one, so a test can
// tell whether the lines were already low when the user saw it.
struct PortHost : RecordingHost {
    RecordingPort* port = nullptr;
    std::vector<std::size_t> writesAtMessage;
    Result MessageBox(const std::string& text, const std::string& caption, Kind kind,
                      Buttons buttons, Icon icon) override
    {
        writesAtMessage.push_back(port->writes.size());
        return RecordingHost::MessageBox(text, caption, kind, buttons, icon);
    }
};

// The commands on a recording port, the chip's answers scripted bit by bit.
struct Rig : test::ScriptedRig {
    E editor;
    PortHost user;
    LockFuseCommands commands{serial, editor, user, lock};

    Rig() { user.port = &port; }

    // The processor-type text and DeviceClass that identification would leave.
    void identifiedAs(const char* label)
    {
        AvrPageModel& model = page.model();
        model.setLbTipo(label);
        editor.show(nullptr);
        for (const DeviceEntry& d : DeviceCatalogue())
            if (std::string(d.label) == label) {
                editor.show(d.part);
                model.setDeviceClass(d.deviceClass);
                model.setReadLockBitsEnabled(d.part->instructions.lockRead != nullptr);
            }
    }
    void answerEnable() { QueueMisoBytes(port, {0x00, 0xAC, 0x53, 0x00}); }
    void answerRead(std::uint8_t value) { QueueMisoBytes(port, {0x00, 0x00, 0x00, value}); }
    // Programming Enable, the signature of the chip that identification found, and the fuse
    // reads that tell its clock.
    void answerSession(std::array<std::uint8_t, 3> signature,
                       std::initializer_list<std::uint8_t> clockFuses = {})
    {
        answerEnable();
        for (const std::uint8_t s : signature)
            answerRead(s);
        answerReads(clockFuses);
    }
    void answerReads(std::initializer_list<std::uint8_t> values)
    {
        for (const std::uint8_t v : values)
            answerRead(v);
    }

    // The instructions the chip received after Programming Enable, as "AC A0 FF E1".
    std::vector<std::string> sent() const
    {
        const std::vector<std::uint8_t> bytes = MosiBytes(port.writes);
        std::vector<std::string> out;
        for (std::size_t i = 4; i + 4 <= bytes.size(); i += 4) {
            char text[16];
            std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bytes[i], bytes[i + 1],
                          bytes[i + 2], bytes[i + 3]);
            out.push_back(text);
        }
        return out;
    }
};

using Texts = std::vector<std::string>;

constexpr std::array<std::uint8_t, 3> kSignature161{0x1E, 0x94, 0x01};
constexpr std::array<std::uint8_t, 3> kSignature128{0x1E, 0x97, 0x02};

// Each instruction costs what Programming Enable does: 4 bytes of 8 bits at 8 XTAL pulses, 11
// pulses after each byte and 1001 to settle.
constexpr int kPulsesPerInstruction = 4 * 64 + 4 * 11 + 1001;

} // namespace

TEST(ProgramFuseBits, ChecksTheChipReadsTwiceAsksWritesAndReadsBack)
{
    Rig rig;
    rig.identifiedAs("ATmega161 (16kb flash)");
    // The chip holds DA: CKSEL2 and CKSEL0 (and SPIEN, never written) programmed. After the
    // question the same chip, read again as it is now, the write, and the read-back in the same
    // session.
    rig.answerSession(kSignature161, {0xDA});
    rig.answerReads({0xDA, 0xDA});
    rig.answerSession(kSignature161, {0xDA});
    rig.answerReads({0xDA, 0xDA, 0x00, 0xFF});
    ASSERT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.sent(),
              (Texts{"30 00 00 00", "30 00 01 00", "30 00 02 00", "50 00 00 00", "50 00 00 00",
                     "50 00 00 00", "AC 53 00 00", "30 00 00 00", "30 00 01 00", "30 00 02 00",
                     "50 00 00 00", "50 00 00 00", "50 00 00 00", "AC A0 FF FF", "50 00 00 00"}));
    EXPECT_EQ(rig.user.calls,
              (Texts{"busy", "normal",
                     "message Program Fuse Bits|Are you sure?\r\rBits that change on the ATmega161 "
                     "(16kb flash):\rCKSEL0 0 -> 1\rCKSEL2 0 -> 1|okcancel|default "
                     "cancel|exclamation",
                     "busy", "normal", "message OK|Fuse Bits set !!"}));
    // Nothing is powered while the question is open, nor when the result is shown.
    EXPECT_EQ(rig.port.writes[rig.user.writesAtMessage[0] - 1], 0x00);
    EXPECT_EQ(rig.user.writesAtMessage[1], rig.port.writes.size());
    EXPECT_EQ(rig.port.writes.back(), 0x00);
}

TEST(ProgramLockAndFuseBits, RefusedWithoutTheIdentifiedChipOrAReliableRead)
{
    using Command = Outcome (LockFuseCommands::*)();
    const Command fuses = &LockFuseCommands::btnFuseBitsClick;
    const Command lock = &LockFuseCommands::btnLockBitsClick;
    struct Case {
        const char* label;
        Command command;
        std::vector<std::uint8_t> miso; // after Programming Enable; empty: no port access
        const char* error;              // the start of the message
        Texts sent;
    };
    const Case cases[] = {
        // No identification: nothing reaches the port, whichever sequence the page would choose.
        {"??", fuses, {}, "No chip has been identified", {}},
        {"??", lock, {}, "No chip has been identified", {}},
        {"AT90S8515 (8kb flash)", fuses, {}, "The AT90S8515 (8kb flash) has no fuse bits", {}},
        // Another chip in the socket: its signature is read, and the fuse that tells its clock,
        // and nothing else.
        {"ATmega128 (128kb flash)",
         fuses,
         {0x1E, 0x90, 0x05},
         "The chip in the socket (signature 1E 90 05, ATtiny12 (1kb flash)) is not the ATmega128",
         {"30 00 00 00", "30 00 01 00", "30 00 02 00", "50 00 00 00"}},
        {"ATmega161 (16kb flash)",
         lock,
         {0xFF, 0xFF, 0xFF},
         "The chip in the socket (signature FF FF FF) is not the ATmega161",
         {"30 00 00 00", "30 00 01 00", "30 00 02 00"}},
        // Two reads that differ.
        {"ATmega161 (16kb flash)",
         fuses,
         {0x1E, 0x94, 0x01, 0xDA, 0xDA, 0xDB},
         "The fuse bits read differently twice: the connection to the chip is unreliable",
         {"30 00 00 00", "30 00 01 00", "30 00 02 00", "50 00 00 00", "50 00 00 00",
          "50 00 00 00"}},
        {"ATmega161 (16kb flash)",
         lock,
         {0x1E, 0x94, 0x01, 0xDA, 0xFF, 0xFE},
         "The lock bits read differently twice",
         {"30 00 00 00", "30 00 01 00", "30 00 02 00", "50 00 00 00", "58 00 00 00",
          "58 00 00 00"}},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.identifiedAs(c.label);
        if (!c.miso.empty())
            rig.answerEnable();
        for (const std::uint8_t v : c.miso)
            rig.answerRead(v);
        EXPECT_EQ((rig.commands.*c.command)(), Outcome::Failed) << c.error;
        const Texts messages = rig.user.messages();
        ASSERT_EQ(messages.size(), 1u) << c.error;
        EXPECT_EQ(messages[0].rfind(std::string("ERROR|") + c.error, 0), 0u) << messages[0];
        EXPECT_NE(messages[0].find("Nothing was written."), std::string::npos) << messages[0];
        EXPECT_EQ(rig.sent(), c.sent) << c.error;
        if (c.miso.empty())
            EXPECT_TRUE(rig.port.writes.empty()) << c.error;
        else
            EXPECT_EQ(rig.port.writes.back(), 0x00) << c.error;
    }
}

TEST(ProgramFuseBits, TheATmega128QuestionListsTheChangesAndCancelWritesNothing)
{
    Rig rig;
    rig.identifiedAs("ATmega128 (128kb flash)");
    rig.editor.SpeedButton1Click();
    rig.editor.setChecked(E::CheckBox22, true); // CKOPT
    rig.answerSession(kSignature128, {0xFD, 0x99, 0xE1});
    rig.answerReads({0xFD, 0x99, 0xE1, 0xFD, 0x99, 0xE1});
    rig.user.answers = {Host::Result::Cancel};
    EXPECT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Cancelled);
    EXPECT_EQ(rig.user.calls,
              (Texts{"busy", "normal",
                     "message Program Fuse Bits|Are you sure?\rIncorrect settings may cause "
                     "problems\r\r"
                     "Due to power availabity on the standart PC port, the clock settings could\r"
                     "result in drawing too much power to perform operations reliably or at all\r"
                     "If the ATmega appears not-respondent then try to increase the voltage,\r"
                     "and/or disconnect crystal and use clock from programmer\r\r"
                     "Bits that change on the ATmega128 (128kb flash):\rCKOPT 1 -> "
                     "0|okcancel|default cancel|exclamation"}));
    // The signature, the read of the fuses for the clock, and two reads of three bytes.
    EXPECT_EQ(rig.sent().size(), 12u);
    EXPECT_EQ(rig.port.writes.back(), 0x00);
    EXPECT_FALSE(rig.lock.busy());
}

TEST(LockAndFuseCommands, NoProcessorReportedLinesLowEditorUnchanged)
{
    using Command = Outcome (LockFuseCommands::*)();
    for (const Command command :
         {&LockFuseCommands::btnReadFuseBitsClick, &LockFuseCommands::btnFuseBitsClick,
          &LockFuseCommands::btnReadLockBitsClick, &LockFuseCommands::btnLockBitsClick}) {
        Rig rig;
        rig.identifiedAs("ATmega163 (16kb flash)");
        // MISO stays low: the chip never echoes 0x53.
        EXPECT_EQ((rig.commands.*command)(), Outcome::Failed);
        EXPECT_EQ(rig.user.calls,
                  (Texts{"busy", "normal", "message ERROR|Processor not detected!!!"}));
        // A read shows the message before the lines go low, as it always has; a write's session
        // has ended, lines low, before it.
        const bool write = command == &LockFuseCommands::btnFuseBitsClick ||
                           command == &LockFuseCommands::btnLockBitsClick;
        ASSERT_EQ(rig.user.writesAtMessage.size(), 1u);
        EXPECT_EQ(rig.user.writesAtMessage[0] + (write ? 0 : 1), rig.port.writes.size());
        EXPECT_EQ(rig.port.writes.back(), 0x00);
        for (int box = 1; box <= E::kBoxCount; ++box)
            EXPECT_EQ(rig.editor.checked(box), box == E::CheckBox60) << box;
        EXPECT_EQ(rig.editor.Label63(), "??");
    }
}

TEST(LockAndFuseCommands, NothingStartsWhileAnotherOperationRuns)
{
    Rig rig;
    Operation running(rig.lock);
    EXPECT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Busy);
    EXPECT_EQ(rig.commands.btnFuseBitsClick(), Outcome::Busy);
    EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Busy);
    EXPECT_EQ(rig.commands.btnLockBitsClick(), Outcome::Busy);
    EXPECT_TRUE(rig.port.writes.empty());
    EXPECT_TRUE(rig.user.calls.empty());
}

TEST(ReadFuseBits, ATmega128HighByte99AndTheInstructionOrder)
{
    Rig rig;
    rig.identifiedAs("ATmega128 (128kb flash)");
    rig.editor.setChecked(E::CheckBox35, true);
    rig.answerEnable();
    rig.answerRead(0xFD);
    rig.answerRead(0x99);
    rig.answerRead(0xE1);
    EXPECT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.sent(), (Texts{"50 08 00 00", "58 08 00 00", "50 00 00 00"}));
    EXPECT_EQ(XtalPulses(rig.port.writes), 4 * kPulsesPerInstruction);
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300, 100, 100, 100}));
    EXPECT_EQ(rig.user.calls, (Texts{"busy", "normal"}));
    EXPECT_EQ(rig.port.writes.back(), 0x00);

    const std::set<int> programmed{E::CheckBox17, E::CheckBox20, E::CheckBox21,
                                   E::CheckBox24, E::CheckBox25, E::CheckBox30,
                                   E::CheckBox31, E::CheckBox32, E::CheckBox33};
    for (int box = E::CheckBox17; box <= E::CheckBox34; ++box) {
        EXPECT_EQ(rig.editor.checked(box), programmed.count(box) == 1) << box;
        EXPECT_EQ(rig.editor.label(box), programmed.count(box) ? "0" : "1") << box;
    }
    // The AT90S fuse box is no bit of the ATmega128: the read leaves it alone.
    EXPECT_TRUE(rig.editor.checked(E::CheckBox35));
}

TEST(ReadFuseBits, OnlyBoxesThatChangeRepaintTheirLabels)
{
    Rig rig;
    rig.identifiedAs("ATmega161 (16kb flash)");
    rig.editor.setChecked(E::CheckBox36, true); // BOOTRST programmed already
    rig.editor.setChecked(E::CheckBox42, true); // CKSEL0, to be released
    std::vector<int> labels;
    rig.editor.changed = [&labels](E::Aspect aspect, int box) {
        if (aspect == E::Aspect::Label)
            labels.push_back(box);
    };
    rig.answerEnable();
    rig.answerRead(0x9B); // 1 0 0 1 1 0 1 1: BOOTRST, SPIEN, CKSEL2 programmed
    EXPECT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.sent(), (Texts{"50 00 00 00"}));
    // Bit 0 first: CKSEL0 released, CKSEL2 and SPIEN programmed; BOOTRST unchanged.
    EXPECT_EQ(labels, (std::vector<int>{E::CheckBox42, E::CheckBox40, E::CheckBox37}));
    EXPECT_EQ(rig.editor.label(E::CheckBox37), "0");
    EXPECT_EQ(rig.editor.label(E::CheckBox42), "1");
}

TEST(ReadFuseBits, EachFamilyReadsItsOwnBytesIntoItsOwnPage)
{
    {
        Rig rig;
        rig.identifiedAs("ATmega163 (16kb flash)");
        rig.answerEnable();
        rig.answerRead(0xFA); // high: BOOTRST, BOOTSZ1 programmed
        rig.answerRead(0x3E); // low: BODLEVEL, BODEN, CKSEL0 programmed
        EXPECT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Done);
        EXPECT_EQ(rig.sent(), (Texts{"58 08 00 FF", "50 00 00 00"}));
        for (const int box : {43, 45, 46, 47, 51})
            EXPECT_TRUE(rig.editor.checked(box)) << box;
        for (const int box : {44, 48, 49, 50})
            EXPECT_FALSE(rig.editor.checked(box)) << box;
        for (int box = E::CheckBox17; box <= E::CheckBox34; ++box)
            EXPECT_FALSE(rig.editor.checked(box)) << box;
    }
    {
        Rig rig;
        rig.identifiedAs("ATmega103 (128kb flash)");
        rig.answerEnable();
        rig.answerRead(0xD6); // SPIEN, EESAVE, SUT0 programmed
        EXPECT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Done);
        EXPECT_EQ(rig.sent(), (Texts{"50 00 00 FF"}));
        EXPECT_TRUE(rig.editor.checked(E::CheckBox54));
        EXPECT_TRUE(rig.editor.checked(E::CheckBox55));
        EXPECT_FALSE(rig.editor.checked(E::CheckBox56));
        EXPECT_TRUE(rig.editor.checked(E::CheckBox57));
        EXPECT_EQ(rig.editor.label(E::CheckBox55), "0");
    }
    for (const auto& [calibration, text] : {std::pair<std::uint8_t, const char*>{76, "76 (dec)"},
                                            {0x00, "0 (dec)"},
                                            {0xFF, "255 (dec)"}}) {
        Rig rig;
        rig.identifiedAs("ATtiny12 (1kb flash)");
        rig.answerEnable();
        rig.answerRead(0x52); // BODLEVEL, SPIEN, CKSEL3, CKSEL2, CKSEL0 programmed
        rig.answerRead(calibration);
        EXPECT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Done);
        EXPECT_EQ(rig.sent(), (Texts{"50 00 00 00", "38 00 00 00"}));
        EXPECT_EQ(rig.editor.Label63(), text);
        for (const int box : {58, 60, 62, 63, 65})
            EXPECT_TRUE(rig.editor.checked(box)) << box;
        for (const int box : {59, 61, 64})
            EXPECT_FALSE(rig.editor.checked(box)) << box;
        EXPECT_EQ(rig.user.calls, (Texts{"busy", "normal"}));
    }
    {
        // The AT90S parts answer the high-byte read with their lock and fuse byte.
        Rig rig;
        rig.identifiedAs("AT90S2343 (2kb flash)");
        rig.answerEnable();
        rig.answerRead(0x00);
        rig.answerRead(0xDE);
        rig.answerRead(0x00);
        EXPECT_EQ(rig.commands.btnReadFuseBitsClick(), Outcome::Done);
        EXPECT_EQ(rig.sent(), (Texts{"50 08 00 00", "58 08 00 00", "50 00 00 00"}));
        EXPECT_TRUE(rig.editor.checked(E::CheckBox35));
        EXPECT_EQ(rig.editor.label(E::CheckBox35), "0");
    }
}

TEST(ProgramLockBits, APartThatCannotReadItsLockBitsIsWrittenWithoutACheckAndSaysSo)
{
    Rig rig;
    rig.identifiedAs("AT90S8515 (8kb flash)");
    rig.editor.setChecked(E::CheckBox1, true);
    rig.answerSession({0x1E, 0x93, 0x01});
    rig.answerSession({0x1E, 0x93, 0x01});
    ASSERT_EQ(rig.commands.btnLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.sent(), (Texts{"30 00 00 00", "30 00 01 00", "30 00 02 00", "AC 53 00 00",
                                 "30 00 00 00", "30 00 01 00", "30 00 02 00", "AC FD FF FF"}));
    const Texts messages = rig.user.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].find("LB1 1 -> 0\rThis chip cannot read its lock bits"),
              std::string::npos)
        << messages[0];
    EXPECT_EQ(messages[1], "OK|Lock Bits set !!");
}

TEST(ReadLockBits, AT90SGroupShowsWhatTheChipHolds)
{
    Rig rig;
    rig.identifiedAs("AT90S8535 (8kb flash)");
    rig.answerEnable();
    rig.answerRead(0x3F);
    EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
    EXPECT_EQ(rig.sent(), (Texts{"58 00 00 00"}));
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300, 100}));
    EXPECT_EQ(rig.user.calls, (Texts{"busy", "normal"}));
    EXPECT_TRUE(rig.editor.checked(E::CheckBox1));
    EXPECT_TRUE(rig.editor.checked(E::CheckBox2));
    EXPECT_EQ(rig.editor.label(E::CheckBox1), "0");
    EXPECT_EQ(rig.editor.label(E::CheckBox2), "0");
    EXPECT_EQ(rig.editor.Memo1(), E::kLockLB1LB2);

    rig.answerEnable();
    rig.answerRead(0xFF);
    EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
    EXPECT_FALSE(rig.editor.checked(E::CheckBox1));
    EXPECT_FALSE(rig.editor.checked(E::CheckBox2));
    EXPECT_EQ(rig.editor.Memo1(), E::kNoLock);

    // LB2 without LB1 is refused by the rule: nothing shows as programmed.
    rig.answerEnable();
    rig.answerRead(0xBF);
    EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
    EXPECT_FALSE(rig.editor.checked(E::CheckBox1));
    EXPECT_FALSE(rig.editor.checked(E::CheckBox2));

    rig.answerEnable();
    rig.answerRead(0x7F); // LB1 alone
    EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
    EXPECT_TRUE(rig.editor.checked(E::CheckBox1));
    EXPECT_FALSE(rig.editor.checked(E::CheckBox2));
    EXPECT_EQ(rig.editor.Memo1(), E::kLockLB1);

    // The same after LB1 had been read as programmed: the earlier LB1 does not stay to make it
    // look like mode 3.
    rig.answerEnable();
    rig.answerRead(0xBF);
    EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
    EXPECT_FALSE(rig.editor.checked(E::CheckBox1));
    EXPECT_FALSE(rig.editor.checked(E::CheckBox2));
    EXPECT_EQ(rig.editor.label(E::CheckBox1), "1");
    EXPECT_EQ(rig.editor.label(E::CheckBox2), "1");
    EXPECT_EQ(rig.editor.Memo1(), E::kNoLock);
}

TEST(ReadLockBits, ATtiny12KeepsLB1InBit1AndLB2InBit2)
{
    struct Case {
        std::uint8_t lock;
        bool lb1, lb2;
        const char* memo;
    };
    const Case cases[] = {
        {0xFD, true, false, E::kLockLB1},
        {0xF9, true, true, E::kLockLB1LB2},
        {0xFF, false, false, E::kNoLock},
        {0xFB, false, false, E::kNoLock}, // LB2 alone: refused
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.identifiedAs("ATtiny12 (1kb flash)");
        rig.editor.setChecked(E::CheckBox1, true); // a different chip's state before the read
        rig.answerEnable();
        rig.answerRead(c.lock);
        EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
        EXPECT_EQ(rig.editor.checked(E::CheckBox1), c.lb1) << int(c.lock);
        EXPECT_EQ(rig.editor.checked(E::CheckBox2), c.lb2) << int(c.lock);
        EXPECT_EQ(rig.editor.Memo1(), c.memo) << int(c.lock);
    }
}

TEST(ReadLockBits, ATmegaPages)
{
    {
        Rig rig;
        rig.identifiedAs("ATmega103 (128kb flash)");
        rig.editor.setChecked(E::CheckBox4, true);
        rig.editor.setChecked(E::CheckBox5, true);
        rig.answerEnable();
        rig.answerRead(0xF9);
        EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
        EXPECT_TRUE(rig.editor.checked(E::CheckBox52));
        EXPECT_TRUE(rig.editor.checked(E::CheckBox53));
        EXPECT_EQ(rig.editor.label(E::CheckBox52), "0");
        EXPECT_EQ(rig.editor.label(E::CheckBox53), "0");
        // LB2 and BLB01 of page "LB128" are left as they were.
        EXPECT_TRUE(rig.editor.checked(E::CheckBox4));
        EXPECT_TRUE(rig.editor.checked(E::CheckBox5));
        EXPECT_FALSE(rig.editor.checked(E::CheckBox3));
    }
    {
        Rig rig;
        rig.identifiedAs("ATmega128 (128kb flash)");
        rig.answerEnable();
        rig.answerRead(0xD6); // BLB12 ... LB1 = 0 1 0 1 1 0
        EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Done);
        const bool expected[] = {true, false, false, true, false, true}; // LB1 .. BLB12
        for (int bit = 0; bit < 6; ++bit)
            EXPECT_EQ(rig.editor.checked(E::CheckBox3 + bit), expected[bit]) << bit;
        EXPECT_FALSE(rig.editor.checked(E::CheckBox52));
        EXPECT_FALSE(rig.editor.checked(E::CheckBox1));
    }
}

TEST(ReadLockBits, RefusedWhileTheButtonIsDisabled)
{
    Rig rig;
    rig.identifiedAs("AT90S2313 (2kb flash)");
    ASSERT_FALSE(rig.page.model().btnReadLockBitsEnabled());
    EXPECT_EQ(rig.commands.btnReadLockBitsClick(), Outcome::Failed);
    EXPECT_TRUE(rig.port.writes.empty());
    EXPECT_TRUE(rig.user.calls.empty());
}
