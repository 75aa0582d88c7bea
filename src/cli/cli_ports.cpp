#include "cli/cli.h"
#include "cli/command_line.h"

#include "hw/gpio_port.h"
#include "hw/hardware_check.h"
#include "hw/port_failure.h"
#include "hw/port_list.h"

#include <cstdio>
#include <unistd.h>

namespace vardel::cli {

namespace {
void PrintReading(const char* step, std::uint8_t status)
{
    std::printf("Status register after SDA written %s: 0x%02X (SDA reads %s)\n", step, status,
                (status & 0x80) ? "low" : "high");
}
} // namespace

int runPorts(const std::string& procRoot, const std::string& devRoot)
{
    const auto ports = FindParallelPorts(procRoot, devRoot);
    std::fputs(
        ParallelPortListing(ports, ::geteuid() == 0, FindUsbPrinterAdapters(devRoot)).c_str(),
        stdout);
    const auto chips = FindGpioChips(SystemKernel(), devRoot);
    std::fputs(GpioChipListing(chips).c_str(), stdout);
    return ports.empty() && chips.empty() ? Failure : Success;
}

// check: the presence check with its own message, then what the status register showed at each
// step and what that says about the board.
int runCheck(Context& ctx)
{
    BoardCheckReadings readings;
    const bool passed = CheckBoard(*ctx.lines, *ctx.host, &readings, ctx.timing.get());
    if (readings.portFailed)
        return Failure;
    try {
        // The check stops at the first level that does not come back; the diagnosis needs both.
        if (!readings.afterLow)
            readings.afterLow = ReadStatusWithSda(*ctx.lines, false, ctx.timing.get());
    } catch (const PortError& error) {
        EndOnPortFailure(error, *ctx.lines, *ctx.host);
        return Failure;
    }
    // A real port is named, with its base address or a GPIO chip's label and map, so the user
    // sees which lines were checked.
    if (!ctx.board->sim())
        std::printf("Checked on the %s\n", ctx.board->describe().c_str());
    PrintReading("high", *readings.afterHigh);
    PrintReading("low", *readings.afterLow);
    std::printf("%s\n",
                BoardDiagnosisText(DiagnoseBoard(*readings.afterHigh, *readings.afterLow)).c_str());
    return passed ? Success : Failure;
}

// lines [vcc=0|1] [sck=0|1] [mosi=0|1] [reset=0|1] [xtal=0|1]: the AVR wiring's outputs set as the
// manual line test sets them (a line not named is low), and MISO read back. The lines stay as set
// after the program ends, so that each can be followed with a meter.
int runLines(Context& ctx, const QStringList& args)
{
    std::array<std::uint8_t, 5> levels{};
    if (const QString problem = ParseLineLevels(args, levels); !problem.isEmpty())
        return usageError(problem);
    bool miso = false;
    try {
        ctx.lines->SetAvrLines(levels[0], levels[1], levels[2], levels[3], levels[4]);
        miso = ctx.lines->ReadAvrMiso();
    } catch (const PortError& error) {
        EndOnPortFailure(error, *ctx.lines, *ctx.host);
        return Failure;
    }
    std::printf("VCC=%d SCK=%d MOSI=%d RESET=%d XTAL=%d\nMISO=%d\n", levels[0], levels[1],
                levels[2], levels[3], levels[4], miso ? 1 : 0);
    if (ctx.board->keepsLinesWhenLetGo()) {
        std::fputs("The lines stay as set until the next command drives the port.\n", stderr);
        return Success;
    }
    // Lines let go may go back to inputs (mainline kernels) or keep their levels (the Raspberry
    // Pi's): they are held here instead, as long as the user follows them.
    std::fflush(stdout);
    std::fputs("The lines stay as set while vardel-cli holds them: press Ctrl+C to let them "
               "go.\n",
               stderr);
    if (ctx.holdLines)
        ctx.holdLines();
    else
        while (!CliHost::interrupted)
            ::usleep(100000);
    CliHost::interrupted = 0;
    ctx.linesLetGo = true;
    std::fputs("The lines are driven low and let go.\n", stderr);
    return Success;
}

} // namespace vardel::cli
