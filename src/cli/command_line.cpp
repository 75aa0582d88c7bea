#include "cli/command_line.h"

#include "parts/avr_parts.h"

#include <QCommandLineParser>

namespace vardel::cli {

namespace {
// Every command with its words and what it does: the --help text and, through help2man, the
// manual page. Each entry has its description after two spaces or on the lines below it.
const char* kCommands = R"(Commands:
  ports                                      the parallel ports of this machine, with the
                                             --port text for each
  check                                      the board presence check, with the status
                                             register read at each step and a diagnosis
  lines [vcc=0|1] [sck=0|1] [mosi=0|1] [reset=0|1] [xtal=0|1]
                                             sets the AVR wiring's outputs (unnamed: low) and
                                             prints MISO; the lines stay as set afterwards
  convert IN OUT                             HEX to BIN or BIN to HEX, by the files' endings
  eeprom read|program|verify TYPE FILE       TYPE (any case): 24C01, 24C02, 24C04, 24C08,
                                             24C16, 24C32, 24C64, 24C128, 24C256, 24C512,
                                             24C1024 in the EEPROM socket; 25010, 25020, 25040,
                                             25080, 25160, 25320, 25640, 25128, 25256, 25512,
                                             25LC1024 (or 25M01), 93C46x8, 93C46x16, 93C56x8,
                                             93C56x16, 93C66x8, 93C66x16, 93C76x8, 93C76x16,
                                             93C86x8, 93C86x16 on the AVR socket's lines; a
                                             write-protected 25xx is programmed only with
                                             --clear-protection; program with --verify also
                                             verifies
  eeprom erase TYPE                          a 93Cxx's erase-all (ERAL): every word all ones,
                                             after a confirmation (--yes)
  flash identify | erase | blank-test        an SPI NOR flash (W25Q, MX25L, GD25Q, ...) in
                                             the AVR socket: prints its part, JEDEC ID, size
                                             and status register; erases the whole chip; or
                                             tests that it is blank
  flash read|program|verify FILE             the whole flash with an image file; program
                                             erases and writes only what differs, with
                                             --verify also verifies; a write into a
                                             protected range needs --clear-protection
  avr parts                                  every AVR part known: name, signature, flash,
                                             EEPROM and flash page size in bytes
  avr identify | erase | blank-test          identifies the chip (prints its type), erases
                                             it, or tests that flash and EEPROM are blank
  avr read-flash|program-flash|verify-flash FILE
                                             the flash memory with an image file; program
                                             with --verify also verifies, in the same session
  avr read-eeprom|program-eeprom|verify-eeprom FILE
                                             the internal EEPROM with an image file
  avr read-fuses | program-fuses [NAME=0|1 ...] [--preset factory-default|low-frequency|high-frequency]
                                             prints or changes the fuse bits named; bits that
                                             change print as NAME 1 -> 0 on standard error;
                                             SPIEN=1, RSTDISBL=0 or DWEN=0 also need
                                             --allow-lockout; a part-table part takes its own
                                             bit names (CKDIV8=1) and --preset factory-default
  avr read-lock | program-lock [NAME=0|1 ...]
                                             prints or programs the lock bits (only a chip
                                             erase clears them)
  auto FILE.vardel|FILE.hex [--count N] [--log FILE] [--keep-going] [--wait-for-chip]
                                             a production run: identify (the project's part),
                                             erase, program and verify flash and EEPROM, then
                                             the fuses and the lock bits (an EEPROM: program
                                             and verify), each chip with the project's next
                                             serial number; stops at the first step that
                                             fails. A one-image HEX (EEPROM at 0x810000, fuses
                                             at 0x820000, lock at 0x830000) programs the chip
                                             identified. --count N runs N chips, asking for
                                             each, and ends with the counts; --keep-going
                                             goes on past a failed chip; --log appends a CSV
                                             line per run; --wait-for-chip (a real board)
                                             starts each chip when it answers in the socket
                                             and waits for it to be taken out
  sim show                                   the simulated board's chips as key=value lines
  sim insert-eeprom TYPE [FILE] [--set KEY=VALUE ...]
                                             a new serial EEPROM, blank or holding FILE: a
                                             24Cxx in the EEPROM socket, a 25xx or 93Cxx in
                                             the AVR socket in place of an AVR (one EEPROM at
                                             a time); eeprom.status=8C sets a 25xx's status
                                             register (WPEN, BP1, BP0), eeprom.maker=
                                             microchip|atmel|st its maker's status bits;
                                             eeprom.eral=ignored has a 93Cxx ignore ERAL
  sim insert-avr DEVICE|--signature XXYYZZ [--flash FILE] [--eeprom FILE] [--set KEY=VALUE ...]
                                             a new AVR chip in the simulated board's socket;
                                             KEY as sim show prints it (avr.fuse.low=E1, ...),
                                             avr.timing=slowest|fastest for its write times
  sim insert-flash PART [FILE] [--set KEY=VALUE ...]
                                             a new SPI flash (W25Q64, GD25Q16, MX25L25645,
                                             SST25VF016B) in the AVR socket, blank or holding
                                             FILE; flash.status=1C sets its status register
                                             (SR1, or SR2 and SR1), flash.id=EF4099 its JEDEC ID
  sim remove eeprom|avr                      empties a socket
  sim export eeprom|flash|avr-eeprom FILE    saves a simulated chip's memory (flash: an AVR's
                                             or an SPI flash's)

Exit status: 0 success, 1 an error or a verify difference, 2 a usage error.
)";
} // namespace

namespace {
const QCommandLineOption delayOption(
    QStringLiteral("delay"),
    QStringLiteral("Communication delay factor, 1 to 200 (default: the stored setting)."),
    QStringLiteral("N"));
const QCommandLineOption yesOption(QStringLiteral("yes"),
                                   QStringLiteral("Answer OK to every confirmation."));
const QCommandLineOption quietOption(
    QStringLiteral("quiet"),
    QStringLiteral("No summary line after a read, program or verify (errors still show)."));
const QCommandLineOption allowLockoutOption(
    QStringLiteral("allow-lockout"),
    QStringLiteral("Let program-fuses write a bit that ends serial programming (SPIEN=1, "
                   "RSTDISBL=0); only a high-voltage programmer undoes it. Needs --yes as "
                   "well."));
const QCommandLineOption slowOption(
    QStringLiteral("slow"),
    QStringLiteral("Clock AVR chips at the safe pace throughout (XTAL pulses in every SCK phase, "
                   "as for a chip of unknown clock) instead of as fast as the chip's clock "
                   "allows: for boards with long cables."));
const QCommandLineOption partOption(
    QStringLiteral("part"),
    QStringLiteral("The AVR part in the socket where several answer its signature with other "
                   "lock or fuse bits (AT90PWM1, AT90PWM2B or AT90PWM3B)."),
    QStringLiteral("NAME"));
const QCommandLineOption clearProtectionOption(
    QStringLiteral("clear-protection"),
    QStringLiteral("Let eeprom program clear a 25xx's block-protect bits (BP1, BP0) and program "
                   "the whole chip, and flash program and erase clear an SPI flash's; without "
                   "it a write-protected chip is left as it is."));
} // namespace

namespace {
QCommandLineOption ListWordsOption()
{
    QCommandLineOption option(QStringLiteral("list-words"),
                              QStringLiteral("The words the shell completes: commands, types, "
                                             "devices or bits, one a line."),
                              QStringLiteral("KIND"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}
} // namespace

CommandLineParser::CommandLineParser() : parser_(std::make_unique<QCommandLineParser>())
{
    QCommandLineParser& parser = *parser_;
    parser.setApplicationDescription(
        QStringLiteral("Vardel: the 24Cxx EEPROM and AVR programmer from a shell.\n\n") +
        QString::fromLatin1(kCommands));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    // Only the program's own options: --help-all would promise Qt's, which this program has not.
    parser.addOption(
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help.")});
    parser.addVersionOption();
    sim::AddBoardOptions(parser);
    parser.addOptions({delayOption, yesOption, quietOption, allowLockoutOption,
                       clearProtectionOption, partOption, slowOption});
    parser.addOption(ListWordsOption());
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."));
}

CommandLineParser::~CommandLineParser() = default;

CommandLine CommandLineParser::parse(const QStringList& arguments)
{
    QCommandLineParser& parser = *parser_;
    CommandLine line;

    if (!parser.parse(arguments)) {
        line.error = parser.errorText();
        return line;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        line.help = true;
        line.helpText = parser.helpText();
        return line;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        line.version = true;
        return line;
    }
    if (parser.isSet(QStringLiteral("list-words"))) {
        line.listWords = parser.value(QStringLiteral("list-words"));
        return line;
    }
    line.args = parser.positionalArguments();
    if (line.args.isEmpty()) {
        line.error = QStringLiteral("no command given");
        return line;
    }
    line.command = line.args.takeFirst();
    if (parser.isSet(delayOption)) {
        bool ok = false;
        line.delay = parser.value(delayOption).toInt(&ok);
        if (!ok || line.delay < 1 || line.delay > 200) {
            line.error = QStringLiteral("--delay takes a number from 1 to 200");
            return line;
        }
    }
    // An empty --port (a variable that was never set) must not quietly choose the default board.
    if (parser.isSet(QStringLiteral("port")) && parser.value(QStringLiteral("port")).isEmpty()) {
        line.error = QStringLiteral(
            "--port is empty: give ppdev[:DEVICE], direct[:ADDRESS] or sim[:DIR], or leave the "
            "option out for the default");
        return line;
    }
    // An empty --trace would record nothing without a word.
    if (parser.isSet(QStringLiteral("trace")) && parser.value(QStringLiteral("trace")).isEmpty()) {
        line.error = QStringLiteral("--trace is empty: give the name of the VCD file to write");
        return line;
    }
    line.board = sim::BoardOptionsFrom(parser);
    line.yes = parser.isSet(yesOption);
    line.quiet = parser.isSet(quietOption);
    line.allowLockout = parser.isSet(allowLockoutOption);
    line.slow = parser.isSet(slowOption);
    line.clearProtection = parser.isSet(clearProtectionOption);
    line.part = parser.value(partOption);
    if (parser.isSet(partOption) && !FindPartByName(line.part.toStdString())) {
        line.error =
            QStringLiteral("--part %1 names no AVR part (avr parts lists them)").arg(line.part);
        return line;
    }
    line.error = CheckCommand(line);
    return line;
}

} // namespace vardel::cli
