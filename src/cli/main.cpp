#include "cli/cli.h"
#include "cli/cli_convert.h"
#include "cli/command_line.h"

#include "files/file_access.h"
#include "hw/file_names.h"
#include "hw/hardware_check.h"
#include "hw/port_failure.h"
#include "hw/settings.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <new>

namespace vardel::cli {

int usageError(const QString& message)
{
    std::fprintf(stderr, "vardel-cli: %s\nRun vardel-cli --help for the commands.\n",
                 message.toLocal8Bit().constData());
    return Usage;
}

namespace {
void onInterrupt(int)
{
    CliHost::interrupted = 1;
}
} // namespace

} // namespace vardel::cli

int main(int argc, char** argv)
{
    using namespace vardel;
    using namespace vardel::cli;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vardel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2"));

    // Arguments keep their bytes: file names reach the system as they were typed.
    const CommandLine line = ParseCommandLine(ArgumentsFromArgv(argc, argv));
    if (line.help) {
        std::fputs(line.helpText.toLocal8Bit().constData(), stdout);
        return Success;
    }
    if (line.version) {
        std::puts("vardel-cli 1.2");
        return Success;
    }
    if (!line.error.isEmpty())
        return usageError(line.error);
    const QString& command = line.command;
    QStringList args = line.args;
    // Converting files needs no board.
    if (command == QLatin1String("convert")) {
        std::vector<std::string> files;
        for (const QString& a : args)
            files.push_back(FileNameFromQString(a));
        RemoveTemporariesOnSignals({SIGINT, SIGTERM, SIGHUP});
        return Convert(files);
    }
    // Listing the ports needs no board, and must not claim one.
    if (command == QLatin1String("ports"))
        return runPorts(args, "/proc/sys/dev/parport", "/dev");
    // The part list is data: no board either.
    if (command == QLatin1String("avr") && !args.isEmpty() && args[0] == QLatin1String("parts"))
        return runAvrParts(args.mid(1));

    const int delay = line.delay;

    Context ctx;
    ctx.host = std::make_unique<CliHost>(line.yes);
    const sim::BoardOptions& options = line.board;
    ctx.allowLockout = line.allowLockout;
    std::string error;
    ctx.board = sim::Board::open(options, error);
    if (!ctx.board) {
        std::printf("ERROR: %s\n", error.c_str());
        return Failure;
    }
    // Without --port the board was chosen for the user: say which (on standard error, so that
    // what the commands print stays as it is).
    if (options.port.empty() && command != QLatin1String("sim"))
        std::fprintf(stderr, "vardel-cli: using the %s\n", ctx.board->describe().c_str());
    ctx.lines = std::make_unique<LineDriver>(ctx.board->port());
    ctx.timing = std::make_unique<BitTiming>(ctx.board->clock());
    {
        Settings settings;
        ctx.timing->Calibrate(settings);
    }
    if (delay)
        ctx.timing->DelayFactor = delay;

    // Ctrl-C asks the running command to stop at its next byte; a save in progress finishes or
    // removes its temporary. SIGTERM and SIGHUP end the run at once, without a temporary left.
    RemoveTemporariesOnSignals({SIGTERM, SIGHUP});
    std::signal(SIGINT, onInterrupt);

    int status = Usage;
    try {
        if (command == QLatin1String("check"))
            status = runCheck(ctx, args);
        else if (command == QLatin1String("lines"))
            status = runLines(ctx, args);
        else if (command == QLatin1String("eeprom"))
            status = runEeprom(ctx, args);
        else if (command == QLatin1String("avr"))
            status = runAvr(ctx, args);
        else if (command == QLatin1String("sim"))
            status = runSim(ctx, args);
        else
            status = usageError(QStringLiteral("unknown command '%1'").arg(command));
    } catch (const std::bad_alloc&) {
        // The lines still go low and the board is still saved below.
        std::printf("ERROR: not enough memory\n");
        status = Failure;
    }

    // Ctrl-C during a command that has no place to stop early still fails the run.
    if (CliHost::interrupted && status == Success) {
        std::printf("Interrupted: the command may not have done all it was asked to.\n");
        status = Failure;
    }
    // No way out leaves the port lines up; the sim commands only handle chips, and `lines` is
    // there to leave the lines as the user set them, to be followed with a meter.
    if (command != QLatin1String("sim") &&
        (command != QLatin1String("lines") || status != Success)) {
        try {
            ctx.lines->SetI2CLines(0, 0, 0);
        } catch (const PortError& e) {
            // A command that failed on the port has said so already.
            if (status == Success)
                ctx.host->MessageBox(PortFailureMessage(e), "ERROR", Host::Buttons::Ok,
                                     Host::Icon::None);
            status = Failure;
        }
    }
    // The simulated board's folder gets what the command changed, and is free for others again.
    if (!ctx.board->release(error)) {
        std::printf("ERROR: %s\n", error.c_str());
        if (status == Success)
            status = Failure;
    }
    return status;
}
