// The real ports against a double of the kernel: ppdev's claim, its errors and its dummy
// operations after a card is pulled, the /proc entries beside it, and direct access. Behind the
// double's ports sits the simulated board, so the chip commands run over them end to end.

#include "hw/parallel_ports.h"
#include "hw/port_list.h"
#include "hw/port_spec.h"
#include "i2c/eeprom_page.h"
#include "i2c/eeprom_types.h"
#include "sim/board.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"
#include "support/fake_kernel.h"
#include "support/recording.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vardel;
using vardel::test::FakeKernel;
using vardel::test::PassingPort;
using vardel::test::RecordingHost;

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The simulated board behind the double's parport0 at 0x378, and a Board opened on it.
struct KernelRig {
    VirtualClock chipClock;
    sim::SimBoard hardware{chipClock};
    FakeKernel kernel;
    FakeKernel::Parport& parport = kernel.addParport(0, 0x378, &hardware);
    std::vector<std::string> notices;

    std::unique_ptr<sim::Board> open(const std::string& port, std::string& error)
    {
        sim::BoardOptions options;
        options.port = port;
        options.virtualTime = true;
        options.kernel = &kernel;
        options.notice = [this](const std::string& text) {
            notices.push_back(text);
        };
        return sim::Board::open(options, error);
    }
};

} // namespace

TEST(RealPort, EveryClaimAndTheCloseDriveTheLinesLowUnlessTheyAreToStayAsSet)
{
    for (const bool leave : {false, true}) {
        KernelRig rig;
        std::string error;
        auto board = rig.open("ppdev:/dev/parport0", error);
        ASSERT_TRUE(board) << error;
        // The kernel's probe left 0xFF: the very first write takes every line low.
        EXPECT_EQ(rig.parport.writes, std::vector<std::uint8_t>{0x00});
        EXPECT_EQ(board->describe(), "parallel port /dev/parport0 at 0x378");
        board->port().DlPortWritePortUchar(LptDataPort, 0x1F);
        ASSERT_TRUE(board->release(error));
        EXPECT_FALSE(rig.parport.claimed);
        // Between operations the port is the kernel's: an access is refused, not done unclaimed.
        EXPECT_THROW(board->port().DlPortWritePortUchar(LptDataPort, 0x07), PortError);
        ASSERT_TRUE(board->claim(error)) << error;
        EXPECT_EQ(rig.parport.writes, (std::vector<std::uint8_t>{0x00, 0x1F, 0x00}));
        board->port().DlPortWritePortUchar(LptDataPort, 0x27);
        if (leave)
            board->leaveLinesAtClose();
        board.reset();
        EXPECT_EQ(rig.parport.writes.back(), leave ? 0x27 : 0x00);
        EXPECT_FALSE(rig.parport.claimed);
        EXPECT_EQ(rig.parport.claims, 2);
    }
}

TEST(RealPort, AClaimWaitsAtMostFiveSecondsForAnotherHolderAndNamesIt)
{
    struct Case {
        const char* holder;
        int leavesAfterReads;
        const char* named; // empty: the claim succeeds
    };
    for (const Case c :
         {Case{"lp", -1, "the printer driver lp (unload it: rmmod lp)"},
          Case{"ppdev0", -1, "another program through ppdev (ppdev0"}, Case{"ppdev0", 10, ""}}) {
        KernelRig rig;
        rig.parport.otherHolder = c.holder;
        rig.parport.holderLeavesAfterReads = c.leavesAfterReads;
        std::string error;
        sim::BoardOptions options;
        auto board = rig.open("ppdev:/dev/parport0", error);
        ASSERT_EQ(rig.notices.size(), 1u);
        EXPECT_TRUE(Has(rig.notices[0], "waiting up to 5 s")) << rig.notices[0];
        if (*c.named) {
            EXPECT_FALSE(board);
            EXPECT_TRUE(Has(error, std::string("is held by ") + c.named)) << error;
            EXPECT_TRUE(Has(error, "not let go within 5 s")) << error;
            EXPECT_EQ(rig.parport.claims, 0);
        } else {
            ASSERT_TRUE(board) << error;
            EXPECT_EQ(rig.parport.writes, std::vector<std::uint8_t>{0x00});
        }
    }
}

TEST(RealPort, AHolderThatComesBetweenTheCheckAndTheClaimCannotKeepItAsleep)
{
    // Right after the claim's first look at devices/active, the printer driver takes the port
    // (and keeps it, or lets it go while the claim sleeps), or another Vardel program claims it.
    struct Case {
        const char* comes; // "vardel": a second Board on the same device
        int leavesAfterReads;
        const char* error;       // of the first Board; empty: it gets the port
        const char* secondError; // the second Board never gets the port
    };
    for (const Case c :
         {Case{"lp", -1, "is held by the printer driver lp", ""}, Case{"lp", 0, "", ""},
          Case{"vardel", -1, "", "another Vardel program, which is claiming it"}}) {
        KernelRig rig;
        std::unique_ptr<sim::Board> second;
        std::string secondError;
        rig.parport.onActiveRead = [&] {
            rig.parport.onActiveRead = nullptr;
            if (std::string(c.comes) == "vardel") {
                second = rig.open("ppdev:/dev/parport0", secondError);
            } else {
                rig.parport.otherHolder = c.comes;
                rig.parport.holderLeavesAfterReads = c.leavesAfterReads;
            }
        };
        std::string error;
        auto board = rig.open("ppdev:/dev/parport0", error);
        EXPECT_EQ(!board, *c.error != 0) << c.comes << ": " << error;
        EXPECT_TRUE(Has(error, c.error)) << error;
        EXPECT_FALSE(second) << c.comes;
        EXPECT_TRUE(Has(secondError, c.secondError)) << secondError;
        EXPECT_EQ(rig.parport.claimed, !!board);
        EXPECT_EQ(rig.parport.claimWaits, std::string(c.comes) == "lp" ? 1 : 0);
    }
}

TEST(RealPort, TheClaimsErrorsAreExplainedAsTheKernelMeansThem)
{
    struct Case {
        const char* device;
        int claimErrno;
        const char* says;
    };
    for (const Case c : {Case{"/dev/parport0", ENXIO, "no parallel port behind the device"},
                         Case{"/dev/parport0", ENXIO, "registered the port for itself alone"},
                         Case{"/dev/parport0", EINTR, "the wait for the port was cut short"},
                         Case{"/dev/ttyS0", 0, "/dev/ttyS0 is not a parallel port"},
                         Case{"/dev/usb/lp0", 0, "/dev/usb/lp0 is a USB printer adapter"},
                         Case{"/dev/usb/lp0", 0, "cannot drive the board"}}) {
        KernelRig rig;
        rig.parport.claimErrno = c.claimErrno;
        rig.kernel.extraDevices = {"/dev/ttyS0", "/dev/usb/lp0"};
        std::string error;
        EXPECT_FALSE(rig.open(std::string("ppdev:") + c.device, error));
        EXPECT_TRUE(Has(error, c.says)) << error;
        EXPECT_TRUE(rig.parport.writes.empty());
    }
}

TEST(RealPort, ACardPulledOutDuringAReadEndsItAsAPortErrorWithNothingKept)
{
    KernelRig rig;
    auto chip = std::make_unique<sim::Eeprom24Cxx>(*sim::Eeprom24Cxx::findType("24C256"));
    std::fill(chip->memory().begin(), chip->memory().end(), 0x5A);
    rig.hardware.insertEeprom(std::move(chip));
    std::string error;
    auto board = rig.open("ppdev:/dev/parport0", error);
    ASSERT_TRUE(board) << error;

    // The card goes after a few bytes: the kernel's dummy operations take every write and read
    // the status as 0, which a read without the check would take for 0xFF bytes.
    struct Puller final : PassingPort {
        FakeKernel& kernel;
        FakeKernel::Parport& parport;
        long left = 2000;
        Puller(PortIo& i, FakeKernel& k, FakeKernel::Parport& p)
            : PassingPort(i), kernel(k), parport(p)
        {
        }
        void written(std::uint16_t, std::uint8_t) override
        {
            if (--left == 0)
                kernel.removeCard(parport);
        }
    } puller(board->port(), rig.kernel, rig.parport);

    LineDriver lines(puller);
    BitTiming timing(board->clock());
    timing.MeasureClock();
    timing.DelayFactor = 1;
    RecordingHost host;
    host.recordGauges = false;
    OperationLock lock;
    EepromPage page(lines, timing, host, lock);
    page.cbChipChange(FindEepromType("24C256"));
    std::fill(page.EepromImage.begin(), page.EepromImage.begin() + page.ChipSize, 0x11);

    EXPECT_EQ(page.Leerchip1Click(), EepromPage::Outcome::Failed);
    const auto messages = host.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(Has(messages.back(), "ERROR|Port error on the parallel port /dev/parport0"))
        << messages.back();
    EXPECT_TRUE(Has(messages.back(), "the port has gone")) << messages.back();
    EXPECT_TRUE(std::all_of(page.EepromImage.begin(), page.EepromImage.begin() + page.ChipSize,
                            [](std::uint8_t b) { return b == 0x11; }));
}

TEST(RealPort, DirectAccessTakesOnlyAParallelPortsBaseAndLeavesItAsItFoundIt)
{
    // The addresses --port direct: accepts, as a usage check: the kernel's ports when it lists
    // any (base 0 is a USB adapter's), else the three standard ones.
    struct Case {
        unsigned kernelBase; // 0: the kernel lists no port; 1: only a USB adapter's at base 0
        const char* port;
        bool accepted;
    };
    for (const Case c :
         {Case{0, "direct:0x378", true}, Case{0, "direct:0x278", true}, Case{0, "direct:956", true},
          Case{0, "direct:0x64", false}, Case{0, "direct:0x70", false}, Case{0, "direct:0", false},
          Case{0, "direct:0x378x", false}, Case{1, "direct:0", false},
          Case{1, "direct:0x3BC", true}, Case{0xD010, "direct:0xD010", true},
          Case{0xD010, "direct:0x378", false}, Case{0, "direct", true},
          Case{0, "ppdev:/dev/parport1", true}}) {
        FakeKernel kernel;
        if (c.kernelBase)
            kernel.addParport(0, c.kernelBase == 1 ? 0 : c.kernelBase, nullptr);
        const std::string usage = PortSpecUsageError(c.port, kernel);
        EXPECT_EQ(usage.empty(), c.accepted) << c.port << ": " << usage;
    }

    // The port is claimed from the kernel for the operation; an ECP port is put in PS/2 mode;
    // 0x00 goes into the latch before control bit 5 (data lines as inputs) is cleared; both
    // registers are put back after the operation, and the lines are driven low at close.
    for (const bool ecp : {false, true}) {
        KernelRig rig;
        rig.kernel.directBoard = &rig.hardware;
        rig.kernel.registers[0x37A] = 0x2C;
        rig.kernel.registers[0x77A] = 0x74;
        if (ecp)
            rig.kernel.files[rig.parport.proc + "/modes"] = "PCSPP,TRISTATE,COMPAT,ECP\n";
        std::string error;
        auto board = rig.open("direct:0x378", error);
        ASSERT_TRUE(board) << error;
        EXPECT_TRUE(rig.parport.claimed);
        // Meanwhile a ppdev user (the window) does not get the port.
        EXPECT_FALSE(rig.open("ppdev:/dev/parport0", error));
        EXPECT_EQ(rig.parport.claims, 1);
        board->port().DlPortWritePortUchar(LptDataPort, 0x07);
        board.reset();
        using Out = std::pair<std::uint16_t, std::uint8_t>;
        std::vector<Out> outs = {{0x378, 0x00}, {0x378, 0x00}, {0x37A, 0x0C},
                                 {0x378, 0x07}, {0x378, 0x00}, {0x37A, 0x2C}};
        if (ecp) {
            outs.insert(outs.begin(), {0x77A, 0x34});
            outs.push_back({0x77A, 0x74});
        }
        EXPECT_EQ(rig.kernel.outs, outs);
        EXPECT_EQ(rig.parport.outsBeforeClaim, ecp ? 2u : 1u); // the latch, before the kernel's
        EXPECT_FALSE(rig.parport.claimed);
    }
    std::string error;
    // A card the kernel listed is missed as soon as its entry goes.
    {
        KernelRig gone;
        auto other = gone.open("direct:0x378", error);
        ASSERT_TRUE(other) << error;
        gone.kernel.removeCard(gone.parport);
        EXPECT_THROW(
            for (int i = 0; i < 256; ++i) other->port().DlPortWritePortUchar(LptDataPort, 0x07),
            PortError);
    }

    // A port a driver holds is not written under it; lockdown is named as such.
    KernelRig held;
    held.parport.otherHolder = "lp";
    EXPECT_FALSE(held.open("direct:0x378", error));
    EXPECT_TRUE(Has(error, "in use by the printer driver lp")) << error;
    EXPECT_TRUE(held.kernel.outs.empty());
    KernelRig locked;
    locked.kernel.iopermErrno = EPERM;
    locked.kernel.isRoot = true;
    locked.kernel.files["/sys/kernel/security/lockdown"] = "none [integrity] confidentiality\n";
    EXPECT_FALSE(locked.open("direct:0x378", error));
    EXPECT_TRUE(Has(error, "locked down")) << error;
    locked.kernel.isRoot = false;
    EXPECT_FALSE(locked.open("direct:0x378", error));
    EXPECT_TRUE(Has(error, "needs root")) << error;
}
