#pragma once

#include "avr/avr_serial.h"

#include "cli/cli_host.h"
#include "files/image_file.h"
#include "hw/bit_timing.h"
#include "hw/line_driver.h"
#include "hw/operation_lock.h"
#include "production/auto_run.h"
#include "sim/board.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vardel::cli {

enum ExitStatus { Success = 0, Failure = 1, Usage = 2 };

// What every command of vardel-cli works with: the board chosen by --port, its line driver, the
// bit timing and the Host that prints.
struct Context {
    std::unique_ptr<sim::Board> board;
    std::unique_ptr<LineDriver> lines;
    std::unique_ptr<BitTiming> timing;
    std::unique_ptr<CliHost> host;
    OperationLock lock;
    // --allow-lockout: a lock or fuse write may end serial programming (SPIEN unprogrammed,
    // RSTDISBL or DWEN programmed).
    bool allowLockout = false;
    // --clear-protection: programming may clear a 25xx's block-protect bits.
    bool clearProtection = false;
    // --part: the part in the socket, of those that answer its signature.
    std::string part;
    // The port as given (--port), or as the board chosen without it describes itself.
    std::string portName;
    // The AVR pace: the settings' floor on an SCK phase and safe pace, or --slow.
    AvrPaceSettings avrPace;
    // `lines` on a port whose lines do not stay once let go (GPIO) holds them until this returns:
    // by default until a stop signal (Ctrl+C). The lines are then let go, driven low first.
    std::function<void()> holdLines;
    bool linesLetGo = false;
};

int usageError(const QString& message);

// An image file (BIN or HEX) into a memory of its size, FF where the file gives nothing; false
// and the error on standard error when it cannot be read. An AVR memory takes its own region of a
// whole-program HEX file.
bool loadImage(const std::string& file, std::vector<std::uint8_t>& memory,
               std::optional<AvrMemory> avr = std::nullopt);
// A memory into an image file, by the file's ending; false and the error when it fails.
bool saveImage(const std::string& file, const std::vector<std::uint8_t>& memory);
int runFlash(Context& ctx, const QStringList& args);

// The bytes a verify found different, on standard output: one "0x0064: chip 5A, file 3F" line
// each for the first 16, then "N bytes differ".
void PrintDifferences(const std::uint8_t* chip, const std::uint8_t* file, std::size_t size);

// The commands get words that CheckCommand has passed; what they still refuse as usage errors
// depends on the chip they find.
int runCheck(Context& ctx);
int runLines(Context& ctx, const QStringList& args);
// Lists the parallel ports from the kernel's parport information under `procRoot`, matched with
// their ppdev devices under `devRoot`; needs no board.
int runPorts(const std::string& procRoot, const std::string& devRoot);
int runEeprom(Context& ctx, const QStringList& args);
int runSim(Context& ctx, const QStringList& args);
int runAvr(Context& ctx, const QStringList& args);
// auto FILE [--count N] [--log FILE] [--keep-going]: a production run from a project file or a
// one-image HEX. auto reads its job first, before the board is opened: what the project or the
// words can refuse is refused there (a status to exit with), and the project file stays held for
// the run.
std::optional<int> prepareAuto(const QStringList& args, bool yes, AutoJob& job);
int runAuto(Context& ctx, const QStringList& args, AutoJob& job);
// avr parts: needs no board.
int runAvrParts();

} // namespace vardel::cli
