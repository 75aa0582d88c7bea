#pragma once

#include "hw/port_io.h"

#include <string>

namespace vardel {

class Host;
class LineDriver;

// What the user is told when the port fails under a command: the port, the cause, and that the
// command stopped there.
std::string PortFailureMessage(const PortError& error);

// Every line of both wirings low (the data register 0x00), if the port still takes a write; false
// when it does not.
bool AllLinesLowIfPortTakesIt(LineDriver& lines);

// The one way out of a command that a port failure cut short: every line the port still takes
// low, the normal cursor, then the "ERROR" message (with `firstLine`, the command's own failure
// text, above the port's, and `lastLine`, how the command left the chip, below it). Nothing read
// before the failure is used by the caller.
void EndOnPortFailure(const PortError& error, LineDriver& lines, Host& host,
                      const std::string& firstLine = {}, const std::string& lastLine = {});

} // namespace vardel
