#pragma once

#include "sim/board.h"

#include <QString>
#include <QStringList>

#include <memory>

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
    bool clearProtection = false; // a 25xx's block-protect bits may be cleared
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

inline CommandLine ParseCommandLine(const QStringList& arguments)
{
    return CommandLineParser().parse(arguments);
}

} // namespace vardel::cli
