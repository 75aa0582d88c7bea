#include "avr_rig.h"
#include "sim_rig.h"

#include <gtest/gtest.h>

#include <string>

using namespace vardel;
using vardel::test::ScriptedRig;
using vardel::test::SimRig;

namespace {

// The label up to its first blank is the device's name: "ATmega128 (128kb flash)".
std::string NameOf(const DeviceEntry& entry)
{
    const std::string label = entry.label;
    return label.substr(0, label.find(' '));
}

} // namespace

TEST(IdentifyDevice, At90sEntriesShowOrHideTheFuseGroupAndReadLockBits)
{
    ScriptedRig rig;
    std::vector<AvrPageModel::Aspect> seen;
    rig.page.model().changed = [&seen](AvrPageModel::Aspect a) {
        seen.push_back(a);
    };
    const AvrPageModel& m = rig.page.model();

    rig.answerSignature(0x1E, 0x93, 0x01);
    ASSERT_TRUE(rig.page.IdentifyDevice());
    EXPECT_EQ(m.lbTipo(), "AT90S8515 (8kb flash)");
    EXPECT_EQ(m.DeviceClass(), 0);
    EXPECT_EQ(m.Notebook1(), "AT90Sxxxx");
    EXPECT_EQ(m.Notebook4(), "AT90Sxxxx");
    EXPECT_FALSE(m.GroupBox4Visible());
    EXPECT_FALSE(m.btnReadLockBitsEnabled());
    EXPECT_TRUE(rig.host.messages().empty());
    // The chip stays powered and in programming mode for the caller.
    EXPECT_TRUE(rig.lines.avrLevels().vcc);
    EXPECT_EQ(seen, (std::vector<AvrPageModel::Aspect>{
                        AvrPageModel::Aspect::Type, AvrPageModel::Aspect::Pages,
                        AvrPageModel::Aspect::FuseGroup, AvrPageModel::Aspect::ReadLockBits}));

    rig.answerSignature(0x1E, 0x93, 0x03);
    ASSERT_TRUE(rig.page.IdentifyDevice());
    EXPECT_EQ(m.lbTipo(), "AT90S8535 (8kb flash)");
    EXPECT_EQ(m.DeviceClass(), 0);
    EXPECT_TRUE(m.GroupBox4Visible());
    EXPECT_EQ(m.CheckBox35Caption(), "FSTRT");
    EXPECT_TRUE(m.btnReadLockBitsEnabled());

    rig.answerSignature(0x1E, 0x91, 0x03);
    ASSERT_TRUE(rig.page.IdentifyDevice());
    EXPECT_EQ(m.CheckBox35Caption(), "RCEN");
    EXPECT_EQ(m.DeviceClass(), 3);
    rig.answerSignature(0x1E, 0x91, 0x02);
    ASSERT_TRUE(rig.page.IdentifyDevice());
    EXPECT_EQ(m.CheckBox35Caption(), "FSTRT");

    // The ATtiny12 enables "Read Lock Bits" and leaves the group as the last chip left it.
    rig.answerSignature(0x1E, 0x92, 0x01);
    ASSERT_TRUE(rig.page.IdentifyDevice());
    EXPECT_FALSE(m.GroupBox4Visible());
    rig.answerSignature(0x1E, 0x90, 0x05);
    ASSERT_TRUE(rig.page.IdentifyDevice());
    EXPECT_EQ(m.lbTipo(), "ATtiny12 (1kb flash)");
    EXPECT_EQ(m.DeviceClass(), 5);
    EXPECT_EQ(m.Notebook1(), "AT90Sxxxx");
    EXPECT_EQ(m.Notebook4(), "ATtiny");
    EXPECT_FALSE(m.GroupBox4Visible());
    EXPECT_TRUE(m.btnReadLockBitsEnabled());
}

TEST(IdentifyDevice, AtmegaEntriesSelectTheirFuseAndLockPages)
{
    struct Case {
        std::array<std::uint8_t, 3> signature;
        const char* fuse;
        const char* lock;
        int deviceClass;
    };
    ScriptedRig rig;
    const AvrPageModel& m = rig.page.model();
    // Disable the button first, so that each ATmega is seen to enable it.
    for (const Case& c :
         {Case{{0x1E, 0x97, 0x02}, "128", "LB128", 2}, Case{{0x1E, 0x97, 0x01}, "103", "LB103", 2},
          Case{{0x1E, 0x94, 0x01}, "161", "LB128", 4},
          Case{{0x1E, 0x94, 0x02}, "163", "LB128", 4}}) {
        rig.answerSignature(0x1E, 0x93, 0x01);
        ASSERT_TRUE(rig.page.IdentifyDevice());
        ASSERT_FALSE(m.btnReadLockBitsEnabled());
        rig.answerSignature(c.signature[0], c.signature[1], c.signature[2]);
        ASSERT_TRUE(rig.page.IdentifyDevice()) << c.fuse;
        EXPECT_EQ(m.Notebook1(), "ATmega128");
        EXPECT_EQ(m.Notebook2(), c.fuse);
        EXPECT_EQ(m.Notebook3(), c.lock);
        EXPECT_EQ(m.DeviceClass(), c.deviceClass);
        EXPECT_TRUE(m.btnReadLockBitsEnabled());
        // The AT90S fuse group stays hidden as the AT90S8515 left it.
        EXPECT_FALSE(m.GroupBox4Visible());
    }
}

TEST(IdentifyDevice, SignaturesOutsideTheCatalogue)
{
    struct Case {
        std::array<std::uint8_t, 3> signature;
        std::vector<std::string> messages;
        AvrPage::Identification why;
    };
    for (const Case& c : {Case{{0x00, 0x01, 0x02},
                               {"ERROR|Atmel is Read/Write protected (Received ID=00 01 02)"},
                               AvrPage::Identification::Protected},
                          // An Atmel signature that neither the catalogue nor the part table has.
                          Case{{0x1E, 0x95, 0xFF},
                               {"ERROR|Unknown Atmel chip"},
                               AvrPage::Identification::UnknownAtmel},
                          Case{{0xFF, 0xFF, 0xFF}, {}, AvrPage::Identification::OtherSignature}}) {
        ScriptedRig rig;
        rig.answerSignature(0x1E, 0x97, 0x02);
        ASSERT_TRUE(rig.page.IdentifyDevice());
        rig.answerSignature(c.signature[0], c.signature[1], c.signature[2]);
        EXPECT_FALSE(rig.page.IdentifyDevice());
        EXPECT_EQ(rig.host.messages(), c.messages);
        EXPECT_EQ(rig.page.lastIdentification(), c.why);
        const AvrPageModel& m = rig.page.model();
        EXPECT_EQ(m.Notebook1(), "Empty");
        EXPECT_EQ(m.DeviceClass(), 0);
        EXPECT_EQ(m.lbTipo(), "ATmega128 (128kb flash)");
        EXPECT_EQ(rig.port.writes.back(), 0x00);
    }
}

TEST(IdentifyDevice, IdentifyButtonWithNoChipShowsUnknownAfterThreePowerCycles)
{
    ScriptedRig rig;
    rig.answerSignature(0x1E, 0x94, 0x02);
    ASSERT_TRUE(rig.page.IdentifyDevice());
    rig.port.status = 0x00; // nothing echoes
    rig.clock.sleeps.clear();

    // Straight from IdentifyDevice the previous chip's text stays.
    EXPECT_FALSE(rig.page.IdentifyDevice());
    EXPECT_EQ(rig.page.model().lbTipo(), "ATmega163 (16kb flash)");
    EXPECT_EQ(rig.page.model().DeviceClass(), 4);

    rig.host.calls.clear();
    rig.clock.sleeps.clear();
    EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Failed);
    EXPECT_EQ(rig.page.model().lbTipo(), "??");
    EXPECT_EQ(rig.page.model().Notebook1(), "Empty");
    EXPECT_EQ(rig.host.essentials(),
              (std::vector<std::string>{"message ERROR|Processor not detected!!!"}));
    EXPECT_EQ(rig.clock.sleeps, (std::vector<std::uint32_t>{500, 300, 500, 300, 500, 300}));
    EXPECT_EQ(rig.port.writes.back(), 0x00);
}

TEST(IdentifyDevice, EveryCatalogueDeviceOnTheSimulatedBoard)
{
    for (const DeviceEntry& entry : DeviceCatalogue()) {
        SimRig rig;
        const std::string name = NameOf(entry);
        ASSERT_TRUE(rig.insert(name)) << name;
        EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Done) << name;
        const AvrPageModel& m = rig.page.model();
        EXPECT_EQ(m.lbTipo(), entry.label);
        EXPECT_EQ(m.DeviceClass(), entry.deviceClass);
        EXPECT_EQ(m.Notebook1(), entry.notebook1);
        EXPECT_TRUE(rig.host.messages().empty()) << name;
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}

TEST(IdentifyDevice, SimulatedChipsOutsideTheCatalogueAndAnEmptySocket)
{
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("", "000102"));
        EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Failed);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{
                      "ERROR|Atmel is Read/Write protected (Received ID=00 01 02)"}));
    }
    {
        SimRig rig;
        ASSERT_TRUE(rig.insert("", "1E95FF"));
        EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Failed);
        EXPECT_EQ(rig.host.messages(), (std::vector<std::string>{"ERROR|Unknown Atmel chip"}));
        EXPECT_EQ(rig.page.model().Notebook1(), "Empty");
    }
    {
        SimRig rig;
        EXPECT_EQ(rig.page.btnTipoClick(), AvrPage::Outcome::Failed);
        EXPECT_EQ(rig.host.messages(),
                  (std::vector<std::string>{"ERROR|Processor not detected!!!"}));
        EXPECT_GE(rig.clock.sleptNs(), 2'400'000'000);
        EXPECT_EQ(rig.board.data(), 0x00);
    }
}
