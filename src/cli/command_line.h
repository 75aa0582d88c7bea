#pragma once

#include "sim/board.h"
#include "sim/chips.h"
#include "sim/sockets.h"
#include "sim/spi_flash_chip.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QCommandLineParser;

namespace vardel::cli {

// What vardel-cli-core was asked to do, before any board is opened.
struct CommandLine {
    QString error; // a usage error, empty when the line is well-formed
    bool help = false;
    bool version = false;
    QString helpText;
    QString listWords; // --list-words KIND: the shell completion's words, nothing else done
    QString command;
    QStringList args; // the command's own arguments, file names among them (see file_names.h)
    sim::BoardOptions board;
    int delay = 0; // 0: the stored setting
    bool yes = false;
    bool quiet = false;           // no summary line
    bool allowLockout = false;    // a fuse write may end serial programming
    bool slow = false;            // AVR chips at the safe pace throughout
    bool clearProtection = false; // a 25xx's block-protect bits may be cleared
    QString part;                 // --part NAME: which of the parts sharing a signature
};

// The options and commands of vardel-cli-core; one parser serves any number of command lines.
class CommandLineParser {
public:
    CommandLineParser();
    ~CommandLineParser();
    CommandLineParser(const CommandLineParser&) = delete;
    CommandLineParser& operator=(const CommandLineParser&) = delete;

    // Parses the arguments, program name first, as ArgumentsFromArgv gives them.
    CommandLine parse(const QStringList& arguments);

private:
    std::unique_ptr<QCommandLineParser> parser_;
};

// Every word of the command checked before a board is chosen, claimed or read: the command, its
// types, devices, bit names and settings, file names by their endings, the outputs of reads by
// what is at their place, and the board options themselves. An empty text, or the usage error.
QString CheckCommand(const CommandLine& line);

// The FILE argument of a program or verify: its name must end in BIN or HEX.
QString InputNameProblem(const QString& argument);
// The FILE argument of a read: a BIN or HEX name that a file can be saved under (not a folder, a
// device or a link to nowhere, in a folder that takes the file).
QString OutputNameProblem(const QString& argument);

// auto FILE [--count N] [--log FILE] [--keep-going]: a project file (.vardel) or a one-image HEX
// file, the number of chips and the log that replaces the project's.
struct AutoWords {
    QString file;
    int count = 1;
    QString log;
    bool keepGoing = false; // --keep-going: a failed or refused chip does not end the batch
    // --wait-for-chip: on a real board each chip starts when one answers in the socket, and the
    // next is awaited once it has been taken out.
    bool waitForChip = false;
};
QString ParseAutoWords(const QStringList& args, AutoWords& words);

// lines [vcc=0|1] [sck=0|1] [mosi=0|1] [reset=0|1] [xtal=0|1]: the levels of VCC, SCK, MOSI, RESET
// and XTAL, each named at most once.
QString ParseLineLevels(const QStringList& args, std::array<std::uint8_t, 5>& levels);

// The words after program-fuses or program-lock: NAME=0|1 (0: programmed), and for the fuses
// --preset NAME. Bit names are checked against every name any chip has; which of them the chip in
// the socket has is known once it is identified.
struct BitWords {
    std::vector<std::pair<QString, bool>> named; // as typed, true: programmed
    QString preset;
};
QString ParseBitWords(bool fuses, bool program, const QStringList& args, BitWords& words);

// Every lock and fuse bit name of every chip in the catalogue and the part table, upper case.
std::set<std::string> AllBitNames();

// sim insert-avr DEVICE|--signature XXYYZZ [--flash FILE] [--eeprom FILE] [--set KEY=VALUE ...]:
// the new chip with its settings, and the files named for its memories (empty when none); null
// and the usage error when a word is wrong.
std::unique_ptr<sim::AvrSocketChip> MakeInsertedAvr(const QStringList& args, QString& flash,
                                                    QString& eeprom, QString& error);

// sim insert-eeprom TYPE [FILE] [--set KEY=VALUE ...]: the new serial EEPROM (a 24Cxx for the
// EEPROM socket, a 25xx or 93Cxx for the AVR socket) with its settings, and the file named for
// its memory (empty when none); neither chip and the usage error when a word is wrong.
sim::SerialEeprom MakeInsertedEeprom(const QStringList& args, QString& file, QString& error);

// sim insert-flash PART [FILE] [--set KEY=VALUE ...]: the new SPI flash for the AVR socket with
// its settings, and the file named for its memory (empty when none); null and the usage error when
// a word is wrong.
std::unique_ptr<sim::SpiFlashChip> MakeInsertedFlash(const QStringList& args, QString& file,
                                                     QString& error);

inline CommandLine ParseCommandLine(const QStringList& arguments)
{
    return CommandLineParser().parse(arguments);
}

} // namespace vardel::cli
