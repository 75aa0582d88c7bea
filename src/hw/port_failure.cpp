#include "hw/port_failure.h"

#include "hw/host.h"
#include "hw/line_driver.h"

namespace vardel {

std::string PortFailureMessage(const PortError& error)
{
    return "Port error on the " + error.port() + ": " + error.cause() +
           ".\rThe operation was stopped.";
}

bool AllLinesLowIfPortTakesIt(LineDriver& lines)
{
    try {
        lines.SetI2CLines(0, 0, 0);
        lines.SetAvrLines(0, 0, 0, 0, 0);
        return true;
    } catch (const PortError&) {
        return false;
    }
}

void EndOnPortFailure(const PortError& error, LineDriver& lines, Host& host,
                      const std::string& firstLine, const std::string& lastLine)
{
    // The supply goes off before the message waits for the user.
    AllLinesLowIfPortTakesIt(lines);
    host.NormalCursor();
    std::string text = PortFailureMessage(error);
    if (!firstLine.empty())
        text = firstLine + "\r" + text;
    if (!lastLine.empty())
        text += "\r" + lastLine;
    host.MessageBox(text, "ERROR", Host::Kind::Error);
}

} // namespace vardel
