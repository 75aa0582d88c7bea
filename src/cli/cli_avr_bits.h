#pragma once

#include "avr/avr_page.h"
#include "cli/cli.h"
#include "cli/command_line.h"

#include <utility>
#include <vector>

#include <QString>
#include <QStringList>

#include <set>
#include <string>

namespace vardel {
class AvrPage;
}

namespace vardel::cli {

// After an identification that found no manufacturer's code: an ERROR naming what was read
// ("no AVR answered: signature FF FF FF").
void ReportNoAvr(const AvrPage& page);

// avr read-fuses | program-fuses [NAME=0|1 ...] [--preset PRESET] | read-lock |
// program-lock [NAME=0|1 ...]. `args` are the words after the action. Returns the exit status,
// or -1 when the action is none of these four.
int runAvrBits(Context& ctx, const QString& action, const QStringList& args);

// The same commands for an identified part of the part table: `named` are the NAME=0|1 words
// (true: programmed), `preset` empty or "factory-default".
int runPartBits(Context& ctx, AvrPage& page, const AvrPart& part, bool fuses, bool program,
                const std::vector<std::pair<QString, bool>>& named, const QString& preset);

} // namespace vardel::cli
