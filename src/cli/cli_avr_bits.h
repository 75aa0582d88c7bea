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

// A usage error found once the chip is known: the identification left it powered, the lines go
// low first.
int UsageOnChip(AvrPage& page, const QString& message);
// The usage error of a lock bit asked to go back to 1 while the chip has it programmed.
QString CannotUnprogramLock(const QString& chip, const QString& bit);

} // namespace vardel::cli
