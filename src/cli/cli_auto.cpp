#include "cli/cli.h"
#include "cli/command_line.h"

#include "avr/part_bits.h"
#include "files/binary_file.h"
#include "hw/file_names.h"
#include "production/auto_run.h"
#include "sim/chips.h"
#include "sim/sim_board.h"

#include <cstdio>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace vardel::cli {

namespace {

// Between two chips: on the simulated board a fresh chip of the part goes into the socket; on a
// real board the user puts the next one in and presses Enter. False when the run must end.
bool NextChip(Context& ctx, const AutoJob& job, const std::string& part, int number, int count)
{
    if (sim::SimBoard* board = ctx.board->sim()) {
        std::string error;
        if (job.project.socket == ProjectSocket::Avr) {
            auto chip = sim::MakeAvrChip(part, "", error);
            if (!chip) {
                std::fprintf(stderr, "ERROR: %s\n", error.c_str());
                return false;
            }
            board->insertAvr(std::move(chip));
        } else {
            sim::SerialEeprom chip = sim::MakeSerialEeprom(part, error);
            if (!chip) {
                std::fprintf(stderr, "ERROR: %s\n", error.c_str());
                return false;
            }
            sim::InsertSerialEeprom(*board, std::move(chip));
        }
        std::fprintf(stderr, "vardel-cli: chip %d of %d: a fresh %s in the simulated socket\n",
                     number, count, part.c_str());
        return true;
    }
    std::fprintf(stderr,
                 "Put chip %d of %d in the socket and press Enter (Ctrl-D ends the run): ", number,
                 count);
    std::fflush(stderr);
    // A stop signal ends the wait as well: the read is restarted after a signal, so the wait
    // polls.
    while (!CliHost::interrupted) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 100) <= 0)
            continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n')
            return true;
    }
    std::fprintf(stderr, "\n");
    return false;
}

} // namespace

// auto FILE [--count N] [--log FILE]: the whole programming of one chip, or of N in a row, from a
// project file or a one-image HEX.
int runAuto(Context& ctx, const QStringList& args)
{
    // The words were checked before the board was opened.
    AutoWords words;
    if (const QString problem = ParseAutoWords(args, words); !problem.isEmpty())
        return usageError(problem);
    const QString& file = words.file;
    const QString& log = words.log;
    const int count = words.count;
    const std::string fileName = FileNameFromQString(file);
    AutoJobLoad load = LoadAutoJob(fileName);
    if (!load.ok()) {
        std::fprintf(stderr, "ERROR: %s\n", load.error.c_str());
        return Failure;
    }
    AutoJob& job = load.job;
    if (!log.isEmpty())
        job.logFile = FileNameFromQString(log);
    const bool writesBits = !job.project.fuseBits.empty() || !job.project.lockBits.empty() ||
                            job.project.lockByte || job.project.fuseBytes[0] ||
                            job.project.fuseBytes[1] || job.project.fuseBytes[2];
    if (writesBits && !ctx.host->yes())
        return usageError(
            QStringLiteral(
                "'%1' writes fuse or lock bits, which are confirmed one chip at a time: add --yes")
                .arg(file));

    // The printing host turns a stop signal into a stop request on ctx.lock (stopOnSignal).
    AutoRun run(*ctx.lines, ctx.board->clock(), *ctx.timing, *ctx.host, ctx.lock);
    run.allowLockout = ctx.allowLockout;
    run.stopRequested = [] {
        return CliHost::interrupted != 0;
    };
    run.showChanges = [](const std::vector<BitChange>& changes) {
        for (const BitChange& c : changes)
            std::fprintf(stderr, "%s\n", ChangeText(c).c_str());
        std::fflush(stderr);
    };
    std::string part = job.project.part;
    for (int chip = 1; chip <= count; ++chip) {
        if (chip > 1 && !NextChip(ctx, job, part, chip, count))
            return Failure;
        if (run.run(job) != AutoRun::Result::Ok)
            return Failure;
        // A one-image HEX is for whatever part the first chip was.
        part = run.partName();
        std::string done = run.partName() + ": ";
        if (count > 1)
            done += "chip " + std::to_string(chip) + " of " + std::to_string(count) + " ";
        done += "programmed and verified";
        if (run.serial())
            done += ", serial number " + std::to_string(*run.serial());
        ctx.host->summary(done);
    }
    return Success;
}

} // namespace vardel::cli
