#pragma once

#include "cli/cli.h"

#include <QString>
#include <QStringList>

namespace vardel::cli {

// avr read-fuses | program-fuses [NAME=0|1 ...] [--preset PRESET] | read-lock |
// program-lock [NAME=0|1 ...]. `args` are the words after the action. Returns the exit status,
// or -1 when the action is none of these four.
int runAvrBits(Context& ctx, const QString& action, const QStringList& args);

} // namespace vardel::cli
