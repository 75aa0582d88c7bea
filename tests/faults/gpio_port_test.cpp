// The board on a GPIO chip, through a double of the kernel's GPIO character device whose lines
// are wired to the simulated board: vardel-cli's commands run over it as over the simulated
// board itself, line change for line change.

#include "cli/cli.h"
#include "hw/gpio_port.h"
#include "hw/port_spec.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"
#include "support/fake_kernel.h"
#include "support/recording.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>

using namespace vardel;
using vardel::test::FakeKernel;
using vardel::test::PassingPort;

// The commands' usage errors go through the program's own printer, which lives with its main().
int vardel::cli::usageError(const QString& message)
{
    ADD_FAILURE() << "usage error: " << message.toStdString();
    return Usage;
}

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The supply bits share a line; SDA (pin 11) and MISO (pin 10) have one each.
const char* const kMap = "d0=17,d1=17,d2=17,d3=23,d4=24,d5=25,d6=5,sda=6,miso=13";

// Passes the program's accesses on and keeps the data bytes it wrote; `onWrite` runs before each.
struct Tap final : PassingPort {
    using PassingPort::PassingPort;
    void written(std::uint16_t, std::uint8_t value) override
    {
        if (onWrite)
            onWrite();
        writes.push_back(value);
    }
    std::vector<std::uint8_t> writes;
    std::function<void()> onWrite;
};

// vardel-cli's context on a board opened from `port`, its writes tapped.
struct CliRun {
    cli::Context ctx;
    std::unique_ptr<Tap> tap;

    CliRun(const std::string& port, FakeKernel* kernel, std::string& error)
    {
        sim::BoardOptions options;
        options.port = port;
        options.virtualTime = true;
        options.kernel = kernel;
        options.folderWait = std::chrono::milliseconds(0);
        ctx.board = sim::Board::open(options, error);
        if (!ctx.board)
            return;
        tap = std::make_unique<Tap>(ctx.board->port());
        ctx.lines = std::make_unique<LineDriver>(*tap);
        ctx.timing = std::make_unique<BitTiming>(ctx.board->clock());
        ctx.timing->MeasureClock();
        ctx.timing->DelayFactor = 1;
        ctx.host = std::make_unique<cli::CliHost>(true, true);
    }
};

std::vector<std::uint8_t> ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The double's chip 0, its lines wired to the board's connector as kMap says.
struct GpioRig {
    FakeKernel kernel;
    FakeKernel::GpioChip& chip = kernel.addGpioChip(0, nullptr);
    std::unique_ptr<sim::SimBoard> hardware;

    GpioRig()
    {
        chip.data = {17, 17, 17, 23, 24, 25, 5, std::nullopt};
        chip.sda = 6;
        chip.miso = 13;
    }
    // The simulated board behind the lines, on the program's clock.
    void connect(Clock& clock)
    {
        hardware = std::make_unique<sim::SimBoard>(clock);
        chip.board = hardware.get();
    }
};

} // namespace

TEST(GpioPort, TheMapIsReadWithItsFormShownOnAMistake)
{
    struct Case {
        const char* text;
        const char* error; // empty: accepted
    };
    for (const Case c :
         {Case{kMap, ""}, Case{"d0=17, d1=17 ,d2=17,d3=23,d4=24,d5=25,d6=5, in=6", ""},
          Case{"", "the GPIO map is empty (for example d0=17"},
          Case{"d0=17,d1=x", "'d1=x' in the GPIO map is not NAME=LINE"},
          Case{"d0=17,d0=18,in=6", "d0 is named twice"}, Case{"d0=17,in=6,sda=7", "named twice"},
          Case{"d0=17,d9=3,in=6", "'d9' is no line of the board"},
          Case{"in=6", "gives d0 (the supply) no line: the board needs d0 to d6"},
          Case{"d0=17,d1=17,d2=17,d3=23,d4=24,d5=25,in=6", "gives d6 (SCK) no line"},
          Case{"d0=17,d1=27,d2=22,d3=23,d4=24,d5=25,d6=5", "gives the board's input no line"},
          Case{"d0=6,d1=27,d2=22,d3=23,d4=24,d5=25,d6=5,in=6", "cannot be both a data bit"},
          Case{"d0=17,d1=27,d2=22,d3=23,d4=23,d5=25,d6=5,in=6",
               "line 23 is given to both d3 and d4: only the supply bits"},
          Case{"d0=5,d1=27,d2=22,d3=23,d4=24,d5=25,d6=5,in=6", "given to both d0 and d6"},
          Case{"d0=17,d1=27,d2=22,d3=23,d4=24,d5=25,d6=5,sda=6,miso=6",
               "in=6 puts both inputs on one line"}}) {
        std::string error;
        const auto map = ParseGpioMap(c.text, error);
        EXPECT_EQ(map.has_value(), !*c.error) << c.text;
        EXPECT_TRUE(Has(error, c.error)) << c.text << ": " << error;
        if (map) {
            EXPECT_EQ(*ParseGpioMap(GpioMapText(*map), error), *map) << GpioMapText(*map);
        }
    }
    // Without a map in the text the settings' map serves, and without either the form is shown.
    FakeKernel kernel;
    EXPECT_EQ(PortSpecUsageError("gpio:gpiochip0", kernel, kParportProc, kMap), "");
    EXPECT_TRUE(Has(PortSpecUsageError("gpio:gpiochip0", kernel), "gpio:gpiochip0:MAP"));
    EXPECT_TRUE(Has(PortSpecUsageError("gpio:", kernel), "needs the chip"));
}

TEST(GpioPort, EepromAndAvrRoundTripsRunAsOnTheSimulatedBoard)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::mt19937 random(29);
    std::vector<std::uint8_t> eeprom(32768), flash(32768, 0xFF);
    for (auto& b : eeprom)
        b = static_cast<std::uint8_t>(random());
    for (std::size_t i = 0; i < 3000; ++i)
        flash[i] = static_cast<std::uint8_t>(random());
    WriteFile(folder + "/image.bin", eeprom);
    WriteFile(folder + "/flash.bin", flash);

    // The same commands on the simulated board and over the GPIO lines.
    auto run = [&](cli::Context& ctx, const std::string& side) {
        const QString f = QString::fromStdString(folder + "/" + side);
        EXPECT_EQ(cli::runEeprom(
                      ctx, {"program", "24C256", QString::fromStdString(folder) + "/image.bin"}),
                  cli::Success);
        EXPECT_EQ(cli::runEeprom(ctx, {"read", "24C256", f + "-eeprom.bin"}), cli::Success);
        EXPECT_EQ(
            cli::runAvr(ctx, {"program-flash", QString::fromStdString(folder) + "/flash.bin"}),
            cli::Success);
        EXPECT_EQ(cli::runAvr(ctx, {"read-flash", f + "-flash.bin"}), cli::Success);
    };

    std::string error;
    CliRun sim("sim:" + folder + "/board", nullptr, error);
    ASSERT_TRUE(sim.ctx.board) << error;
    ASSERT_EQ(cli::runSim(sim.ctx, {"insert-avr", "ATmega328P"}), cli::Success);
    run(sim.ctx, "sim");

    GpioRig rig;
    CliRun gpio(std::string("gpio:gpiochip0:") + kMap, &rig.kernel, error);
    ASSERT_TRUE(gpio.ctx.board) << error;
    EXPECT_EQ(gpio.ctx.board->describe(),
              std::string("GPIO chip /dev/gpiochip0 [pinctrl-test] (") + kMap + ")");
    // One request for the lines, outputs low from the first moment, the input pulled up.
    EXPECT_EQ(rig.chip.requests, 1);
    EXPECT_EQ(rig.chip.bytes, std::vector<std::uint8_t>{0x00});
    EXPECT_EQ(rig.chip.pulledUp, (std::set<unsigned>{6, 13}));
    rig.connect(gpio.ctx.board->clock());
    rig.hardware->insertEeprom(
        std::make_unique<sim::Eeprom24Cxx>(*sim::Eeprom24Cxx::findType("24C256")));
    rig.hardware->insertAvr(sim::MakeAvrChip("ATmega328P", "", error));
    run(gpio.ctx, "gpio");

    EXPECT_EQ(ReadFile(folder + "/gpio-eeprom.bin"), eeprom);
    EXPECT_EQ(ReadFile(folder + "/sim-eeprom.bin"), eeprom);
    EXPECT_EQ(ReadFile(folder + "/gpio-flash.bin"), ReadFile(folder + "/sim-flash.bin"));
    EXPECT_EQ(ReadFile(folder + "/gpio-flash.bin"), flash);
    // Every data byte went out as one set-values call, the same bytes as on the simulated board.
    ASSERT_GT(sim.tap->writes.size(), 100000u);
    EXPECT_TRUE(gpio.tap->writes == sim.tap->writes);
    EXPECT_TRUE(std::equal(rig.chip.bytes.begin() + 1, rig.chip.bytes.end(),
                           gpio.tap->writes.begin(), gpio.tap->writes.end()));

    // Closing lets the lines go, low.
    gpio.ctx.lines->SetAvrLines(1, 1, 1, 1, 1);
    gpio.ctx.board.reset();
    EXPECT_TRUE(rig.chip.requested.empty());
    EXPECT_EQ(rig.chip.bytes.back(), 0x00);
}

TEST(GpioPort, ABusyLineAndAVanishedChipAreReportedWithTheirLines)
{
    std::string error;
    {
        GpioRig rig;
        rig.chip.usedBy[23] = "spi0 CS1";
        CliRun gpio(std::string("gpio:gpiochip0:") + kMap, &rig.kernel, error);
        EXPECT_FALSE(gpio.ctx.board);
        EXPECT_EQ(error,
                  "GPIO chip /dev/gpiochip0 [pinctrl-test]: line 23 is in use by \"spi0 CS1\".");
        const std::string listing = GpioChipListing(FindGpioChips(rig.kernel));
        EXPECT_TRUE(Has(listing, "gpiochip0 [pinctrl-test]: 54 lines\n")) << listing;
        EXPECT_TRUE(Has(listing, "in use by others: 23 (spi0 CS1)\n")) << listing;
        EXPECT_TRUE(Has(listing, "--port gpio:pinctrl-test:MAP  you may open it")) << listing;
        const std::string map = "d0=17,d1=17,d2=17,d3=23,d4=24,d5=25,d6=5,in=";
        CliRun far("gpio:gpiochip0:" + map + "60", &rig.kernel, error);
        EXPECT_TRUE(Has(error, "has no line 60: it has 54 lines")) << error;
        CliRun none("gpio:gpiochip7:" + map + "6", &rig.kernel, error);
        EXPECT_TRUE(Has(error, "/dev/gpiochip7 does not exist")) << error;
        rig.kernel.openErrors["/dev/gpiochip0"] = EACCES;
        rig.kernel.groups["/dev/gpiochip0"] = "gpio";
        CliRun denied(std::string("gpio:gpiochip0:") + kMap, &rig.kernel, error);
        EXPECT_TRUE(Has(error, "belongs to the group gpio (sudo adduser $USER gpio")) << error;
    }

    // The chip goes in the middle of a read: the read ends with the port's error naming the chip
    // and its lines, nothing is saved, and the lines are let go.
    for (const char* command : {"eeprom", "avr"}) {
        QTemporaryDir dir;
        GpioRig rig;
        CliRun gpio(std::string("gpio:/dev/gpiochip0:") + kMap, &rig.kernel, error);
        ASSERT_TRUE(gpio.ctx.board) << error;
        rig.connect(gpio.ctx.board->clock());
        rig.hardware->insertEeprom(
            std::make_unique<sim::Eeprom24Cxx>(*sim::Eeprom24Cxx::findType("24C256")));
        rig.hardware->insertAvr(sim::MakeAvrChip("ATmega328P", "", error));
        long writes = 0;
        gpio.tap->onWrite = [&] {
            if (++writes == 20000)
                rig.kernel.removeChip(rig.chip);
        };
        const QString file = dir.path() + "/read.bin";
        testing::internal::CaptureStderr();
        const int status = std::string(command) == "eeprom"
                               ? cli::runEeprom(gpio.ctx, {"read", "24C256", file})
                               : cli::runAvr(gpio.ctx, {"read-flash", file});
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, cli::Failure) << command;
        EXPECT_TRUE(Has(err, "Port error on the GPIO chip /dev/gpiochip0")) << err;
        EXPECT_TRUE(Has(err, "the GPIO chip has gone (lines 17,23,24,25,5,6,13)")) << err;
        EXPECT_FALSE(QFile::exists(file)) << command;
        EXPECT_TRUE(gpio.ctx.board->release(error));
        EXPECT_TRUE(rig.chip.requested.empty());
    }
}

TEST(GpioPort, TheChipIsFoundByItsLabelNameOrPath)
{
    // A Raspberry Pi 5 before kernel 6.6.45: gpiochip0 is the SoC's own chip, the header's lines
    // are on gpiochip4.
    struct Case {
        const char* chip;
        int opened; // the chip whose lines were requested; -1: none
        const char* error;
    };
    for (const Case c :
         {Case{"pinctrl-rp1", 4, ""}, Case{"gpiochip0", 0, ""}, Case{"/dev/gpiochip4", 4, ""},
          Case{"pinctrl-bcm2711", -1, "no GPIO chip has that name or label"},
          Case{"pinctrl-bcm2711", -1, "gpiochip4 [pinctrl-rp1])."},
          Case{"twin", -1, "GPIO chip twin: 2 chips have that label"}}) {
        FakeKernel kernel;
        kernel.addGpioChip(0, nullptr).label = "gpio-brcmstb@107d508500";
        kernel.addGpioChip(1, nullptr).label = kernel.addGpioChip(2, nullptr).label = "twin";
        kernel.addGpioChip(4, nullptr).label = "pinctrl-rp1";
        std::string error;
        CliRun gpio(std::string("gpio:") + c.chip + ":" + kMap, &kernel, error);
        EXPECT_TRUE(Has(error, c.error)) << c.chip << ": " << error;
        for (const int n : {0, 1, 2, 4})
            EXPECT_EQ(kernel.gpioChips["/dev/gpiochip" + std::to_string(n)].requests,
                      n == c.opened ? 1 : 0)
                << c.chip << " on chip " << n;
        const std::string listing = GpioChipListing(FindGpioChips(kernel));
        EXPECT_TRUE(Has(listing, "gpio:pinctrl-rp1:MAP") && Has(listing, "gpio:gpiochip1:MAP"));
    }
    FakeKernel none;
    EXPECT_EQ(GpioChipListing(FindGpioChips(none)),
              "No GPIO chip found: the kernel lists no /dev/gpiochipN.\n");
}

TEST(GpioPort, CheckWithNothingOnTheLinesSaysNoBoardAndLinesHoldsTheLinesItSet)
{
    // Both inputs on lines with nothing wired to them float to their pull-ups.
    GpioRig rig;
    rig.chip.sda = rig.chip.miso = std::nullopt;
    std::string error;
    CliRun check(std::string("gpio:pinctrl-test:") + kMap, &rig.kernel, error);
    ASSERT_TRUE(check.ctx.board) << error;
    testing::internal::CaptureStdout();
    EXPECT_EQ(cli::runCheck(check.ctx), cli::Failure);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(Has(out, "no board on this port")) << out;
    EXPECT_TRUE(Has(out, "Checked on the GPIO chip /dev/gpiochip0 [pinctrl-test] (d0=17")) << out;
    check.ctx.board.reset();

    // Lines let go go back to inputs here, so `lines` holds them while they are followed.
    rig.chip.revertOnRelease = true;
    CliRun lines(std::string("gpio:pinctrl-test:") + kMap, &rig.kernel, error);
    ASSERT_TRUE(lines.ctx.board) << error;
    int held = 0;
    lines.ctx.holdLines = [&] {
        ++held;
        EXPECT_EQ(rig.chip.requested.size(), 7u);
        EXPECT_EQ(rig.chip.bytes.back(), 0x17); // the supply bits and RESET
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(cli::runLines(lines.ctx, {"vcc=1", "reset=1"}), cli::Success);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(held, 1);
    EXPECT_TRUE(lines.ctx.linesLetGo);
}
