#include "cli/cli.h"
#include "cli/cli_convert.h"
#include "cli/command_line.h"
#include "production/auto_run.h"

#include "cli/cli_avr_bits.h"
#include "files/file_access.h"
#include "hw/file_names.h"
#include "hw/hardware_check.h"
#include "hw/port_failure.h"
#include "hw/port_spec.h"
#include "hw/settings.h"
#include "i2c/eeprom_types.h"
#include "parts/avr_parts.h"
#include "sim/avr_target.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>

namespace vardel::cli {

int usageError(const QString& message)
{
    std::fprintf(stderr, "vardel-cli: %s\nRun vardel-cli --help for the commands.\n",
                 message.toLocal8Bit().constData());
    return Usage;
}

namespace {
// SIGINT, SIGTERM and SIGHUP all ask the running command to stop after the unit in hand, so that
// the run still ends with every line low; a save in progress loses its temporary and fails.
extern "C" void onStopSignal(int signal)
{
    CliHost::interrupted = signal;
    RemoveUnfinishedTemporaries();
}

const char* SignalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

// What the command printed must have reached its readers: a full disk or a closed pipe behind
// standard output fails the run.
int FinishStreams(int status)
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int err = errno;
        std::fprintf(stderr, "ERROR: cannot write the results to standard output: %s\n",
                     err ? std::strerror(err) : "a write failed");
        status = Failure;
    }
    if (std::fflush(stderr) != 0 || std::ferror(stderr))
        status = Failure;
    return status;
}

// The words the bash completion offers, from the tables the commands themselves use.
int ListWords(const QString& kind)
{
    std::set<std::string> words;
    if (kind == QLatin1String("commands")) {
        words = {"ports", "check", "lines", "convert", "eeprom", "flash", "avr", "auto", "sim"};
    } else if (kind == QLatin1String("types")) {
        for (const EepromType& type : kEepromTypes) {
            words.insert(type.name);
            if (type.alias)
                words.insert(type.alias);
        }
    } else if (kind == QLatin1String("devices")) {
        for (const sim::AvrDevice& device : sim::AvrCatalogue())
            words.insert(device.name);
        for (const AvrPart& part : AvrParts())
            words.insert(part.name);
    } else if (kind == QLatin1String("bits")) {
        words = AllBitNames();
    } else {
        return usageError(QStringLiteral("--list-words takes commands, types, devices or bits"));
    }
    for (const std::string& word : words)
        std::printf("%s\n", word.c_str());
    return Success;
}

int Run(int argc, char** argv);
} // namespace

} // namespace vardel::cli

int main(int argc, char** argv)
{
    return vardel::cli::FinishStreams(vardel::cli::Run(argc, argv));
}

namespace vardel::cli {
namespace {

int Run(int argc, char** argv)
{
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
    if (!line.listWords.isEmpty())
        return ListWords(line.listWords);
    QString command = line.command;
    QStringList args = line.args;
    // Converting files needs no board.
    if (command == QLatin1String("convert")) {
        std::vector<std::string> files;
        for (const QString& a : args)
            files.push_back(FileNameFromQString(a));
        RemoveTemporariesOnSignals();
        return Convert(files);
    }
    // Listing the ports needs no board, and must not claim one.
    if (command == QLatin1String("ports"))
        return runPorts("/proc/sys/dev/parport", "/dev");
    // The part list is data: no board either.
    if (command == QLatin1String("avr") && !args.isEmpty() && args[0] == QLatin1String("parts"))
        return runAvrParts();

    const int delay = line.delay;
    AutoJob autoJob;
    // A whole program's file (flash, EEPROM, fuses, lock bits) given to program-flash is programmed
    // whole, as auto programs it: no memory of it is left out, and its signature is checked first.
    if (command == QLatin1String("avr") && !args.isEmpty() &&
        args[0] == QLatin1String("program-flash")) {
        QStringList words = args.mid(1);
        words.removeAll(QStringLiteral("--verify"));
        if (words.size() == 1 && HoldsWholeProgram(FileNameFromQString(words[0]))) {
            CliHost::note(words[0].toStdString() +
                          " is a whole program: every memory it holds is programmed and verified");
            command = QStringLiteral("auto");
            args = words;
        }
    }
    if (command == QLatin1String("auto"))
        if (const std::optional<int> refused = prepareAuto(args, line.yes, autoJob))
            return *refused;

    Context ctx;
    ctx.host = std::make_unique<CliHost>(line.yes, line.quiet);
    ctx.host->stopOnSignal(ctx.lock);
    sim::BoardOptions options = line.board;
    // gpio:CHIP without a map uses the one kept in the settings.
    options.gpioMap = Settings().ReadString("GPIO_MAP", "");
    ctx.allowLockout = line.allowLockout;
    ctx.clearProtection = line.clearProtection;
    ctx.part = line.part.toStdString();
    std::string error;
    // A gpio: port without a map in --port or the settings is refused before anything is opened.
    if (const std::string usage =
            PortSpecUsageError(options.port, SystemKernel(), kParportProc, options.gpioMap);
        !usage.empty())
        return usageError(QString::fromStdString(usage));
    ctx.board = sim::Board::open(options, error);
    if (!ctx.board) {
        std::fprintf(stderr, "ERROR: %s\n", error.c_str());
        return Failure;
    }
    // Without --port the board was chosen for the user: say which (on standard error, so that
    // what the commands print stays as it is).
    if (options.port.empty() && command != QLatin1String("sim"))
        std::fprintf(stderr, "vardel-cli: using the %s\n", ctx.board->describe().c_str());
    ctx.portName = options.port.empty() ? ctx.board->describe() : options.port;
    ctx.lines = std::make_unique<LineDriver>(ctx.board->port());
    ctx.timing = std::make_unique<BitTiming>(ctx.board->clock());
    {
        Settings settings;
        ctx.timing->Calibrate(settings);
        ctx.avrPace = AvrPaceSettings::Read(settings);
        ctx.avrPace.safe = ctx.avrPace.safe || line.slow;
    }
    if (delay)
        ctx.timing->DelayFactor = delay;

    // Reads, writes and waits go on where they were: the command looks at the flag itself.
    HandleSignals(kStopSignals, onStopSignal, SA_RESTART);

    int status = Usage;
    try {
        if (command == QLatin1String("check"))
            status = runCheck(ctx);
        else if (command == QLatin1String("lines"))
            status = runLines(ctx, args);
        else if (command == QLatin1String("eeprom"))
            status = runEeprom(ctx, args);
        else if (command == QLatin1String("flash"))
            status = runFlash(ctx, args);
        else if (command == QLatin1String("avr"))
            status = runAvr(ctx, args);
        else if (command == QLatin1String("sim"))
            status = runSim(ctx, args);
        else if (command == QLatin1String("auto"))
            status = runAuto(ctx, args, autoJob);
        else
            status = usageError(QStringLiteral("unknown command '%1'").arg(command));
    } catch (const std::bad_alloc&) {
        // The lines still go low and the board is still saved below.
        std::fprintf(stderr, "ERROR: not enough memory\n");
        status = Failure;
    }

    // A stop signal during a command that has no place to stop early still fails the run.
    if (CliHost::interrupted) {
        const std::string done = status != Success ? std::string()
                                 : !ctx.host->doneBeforeStop.empty()
                                     ? " " + ctx.host->doneBeforeStop
                                     : ": the command may not have done all it was asked to";
        std::fprintf(stderr, "vardel-cli: stopped by %s%s\n", SignalName(CliHost::interrupted),
                     done.c_str());
        status = Failure;
    }
    // No way out leaves the port lines up; the sim commands only handle chips, and `lines` is
    // there to leave the lines as the user set them, to be followed with a meter.
    // A usage error was found before the port was touched (or put the lines down itself).
    if (command != QLatin1String("sim") && status != Usage &&
        (command != QLatin1String("lines") || status != Success || ctx.linesLetGo)) {
        try {
            ctx.lines->SetI2CLines(0, 0, 0);
        } catch (const PortError& e) {
            // A command that failed on the port has said so already.
            if (status == Success)
                ctx.host->MessageBox(PortFailureMessage(e), "ERROR", Host::Kind::Error,
                                     Host::Buttons::Ok, Host::Icon::None);
            status = Failure;
        }
    } else if (command == QLatin1String("lines") && status == Success && !ctx.linesLetGo) {
        ctx.board->leaveLinesAtClose();
    }
    // The simulated board's folder gets what the command changed, and is free for others again.
    if (!ctx.board->release(error)) {
        std::fprintf(stderr, "ERROR: %s\n", error.c_str());
        status = Failure;
    }
    if (!ctx.board->finishTrace(error)) {
        std::fprintf(stderr, "ERROR: %s\n", error.c_str());
        status = Failure;
    }
    return status;
}

} // namespace
} // namespace vardel::cli
