#pragma once

#include "sim/board.h"

#include <QString>
#include <QStringList>

namespace vardel::cli {

// What vardel-cli-core was asked to do, before any board is opened.
struct CommandLine {
    QString error; // a usage error, empty when the line is well-formed
    bool help = false;
    bool version = false;
    QString helpText;
    QString command;
    QStringList args; // the command's own arguments, file names among them (see file_names.h)
    sim::BoardOptions board;
    int delay = 0; // 0: the stored setting
    bool yes = false;
};

// Parses the arguments, program name first, as ArgumentsFromArgv gives them.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace vardel::cli
