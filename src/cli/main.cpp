#include "cli/cli.h"
#include "cli/cli_convert.h"

#include "hw/hardware_check.h"
#include "hw/settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace vardel::cli {

int usageError(const QString& message)
{
    std::fprintf(stderr, "vardel-cli: %s\nRun vardel-cli --help for the commands.\n",
                 message.toLocal8Bit().constData());
    return Usage;
}

int runCheck(Context& ctx, const QStringList& args)
{
    if (!args.isEmpty())
        return usageError(QStringLiteral("check takes no arguments"));
    return Checkearcorvid1Click(*ctx.lines, *ctx.host) ? Success : Failure;
}

namespace {
const char* kCommands = R"(Commands:
  check                                      the board presence check
  convert IN OUT                             HEX to BIN or BIN to HEX, by the files' endings
  eeprom read|program|verify TYPE FILE       TYPE (any case): 24C01, 24C02, 24C04, 24C08,
                                             24C16, 24C32, 24C64, 24C128, 24C256, 24C512, 24C1024
  avr identify | erase | blank-test
  avr read-flash|program-flash|verify-flash FILE
  avr read-eeprom|program-eeprom|verify-eeprom FILE
  avr read-fuses | program-fuses [NAME=0|1 ...] [--preset factory-default|low-frequency|high-frequency]
                                             bits that change print as NAME 1 -> 0 on standard
                                             error; SPIEN=1 or RSTDISBL=0 also need --allow-lockout
  avr read-lock | program-lock [NAME=0|1 ...]
  sim show
  sim insert-eeprom TYPE [FILE]
  sim insert-avr DEVICE|--signature XXYYZZ [--flash FILE] [--eeprom FILE] [--set KEY=VALUE ...]
                                             KEY as sim show prints it: avr.fuse.low=E1, ...;
                                             avr.timing=slowest|fastest for the part's write times
  sim remove eeprom|avr
  sim export eeprom|flash|avr-eeprom FILE
)";

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

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Vardel: the 24Cxx EEPROM and AVR programmer from a shell.\n\n") +
        QString::fromLatin1(kCommands));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addHelpOption();
    parser.addVersionOption();
    sim::AddBoardOptions(parser);
    const QCommandLineOption delayOption(
        QStringLiteral("delay"),
        QStringLiteral("Communication delay factor, 1 to 200 (default: the stored setting)."),
        QStringLiteral("N"));
    const QCommandLineOption yesOption(QStringLiteral("yes"),
                                       QStringLiteral("Answer OK to every confirmation."));
    const QCommandLineOption allowLockoutOption(
        QStringLiteral("allow-lockout"),
        QStringLiteral("Let program-fuses write a bit that ends serial programming (SPIEN=1, "
                       "RSTDISBL=0); only a high-voltage programmer undoes it. Needs --yes as "
                       "well."));
    parser.addOptions({delayOption, yesOption, allowLockoutOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::puts("vardel-cli 1.2");
        return Success;
    }
    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    // Converting files needs no board.
    if (command == QLatin1String("convert")) {
        std::vector<std::string> files;
        for (const QString& a : args)
            files.push_back(a.toLocal8Bit().toStdString());
        return Convert(files);
    }

    int delay = 0;
    if (parser.isSet(delayOption)) {
        bool ok = false;
        delay = parser.value(delayOption).toInt(&ok);
        if (!ok || delay < 1 || delay > 200)
            return usageError(QStringLiteral("--delay takes a number from 1 to 200"));
    }

    Context ctx;
    ctx.host = std::make_unique<CliHost>(parser.isSet(yesOption));
    ctx.allowLockout = parser.isSet(allowLockoutOption);
    const sim::BoardOptions options = sim::BoardOptionsFrom(parser);
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

    std::signal(SIGINT, onInterrupt);

    int status = Usage;
    if (command == QLatin1String("check"))
        status = runCheck(ctx, args);
    else if (command == QLatin1String("eeprom"))
        status = runEeprom(ctx, args);
    else if (command == QLatin1String("avr"))
        status = runAvr(ctx, args);
    else if (command == QLatin1String("sim"))
        status = runSim(ctx, args);
    else
        status = usageError(QStringLiteral("unknown command '%1'").arg(command));

    // Ctrl-C during a command that has no place to stop early still fails the run.
    if (CliHost::interrupted && status == Success) {
        std::printf("Interrupted: the command may not have done all it was asked to.\n");
        status = Failure;
    }
    // No way out leaves the port lines up; the sim commands only handle chips.
    if (command != QLatin1String("sim"))
        ctx.lines->SetI2CLines(0, 0, 0);
    if (!ctx.board->save(error)) {
        std::printf("ERROR: %s\n", error.c_str());
        if (status == Success)
            status = Failure;
    }
    return status;
}
