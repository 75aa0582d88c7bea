#include "cli/cli.h"

#include "avr/avr_parts.h"

#include <cstdio>

namespace vardel::cli {

// avr parts: every part the programmer knows, one a line: name, signature, flash, EEPROM and
// flash page size in bytes (0: written byte by byte).
int runAvrParts()
{
    for (const AvrPart& part : AvrParts())
        std::printf("%-12s %02X%02X%02X %7u %5u %4u\n", part.name, part.signature[0],
                    part.signature[1], part.signature[2], part.flashBytes, part.eepromBytes,
                    part.flashPageBytes);
    return std::ferror(stdout) ? Failure : Success;
}

} // namespace vardel::cli
