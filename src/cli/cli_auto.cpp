#include "cli/cli.h"
#include "cli/command_line.h"

#include "avr/part_bits.h"
#include "files/binary_file.h"
#include "hw/file_names.h"
#include "hw/settings.h"
#include "production/auto_run.h"
#include "sim/chips.h"
#include "sim/sim_board.h"
#include "sim/spi_flash_chip.h"
#include "spi/flash_voltage.h"

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
        } else if (job.project.socket == ProjectSocket::SpiFlash) {
            auto chip = sim::MakeSpiFlashChip(part);
            if (!chip) {
                std::fprintf(stderr, "ERROR: the simulated board has no %s (it has %s)\n",
                             part.c_str(), sim::SpiFlashChip::typeNames().c_str());
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

// --wait-for-chip: probes the socket every 300 ms until a chip answers (`present`) or none does;
// false when a stop signal ends the wait.
bool WaitForSocket(Context& ctx, const AutoJob& job, bool present)
{
    while (!CliHost::interrupted) {
        if (ChipAnswers(*ctx.lines, ctx.board->clock(), *ctx.timing, job.project) == present) {
            // A chip pressed in answers before it sits firmly: it is given a moment.
            if (present)
                ctx.board->clock().Sleep(500);
            return true;
        }
        ctx.board->clock().Sleep(300);
    }
    return false;
}

} // namespace

std::optional<int> prepareAuto(const QStringList& args, bool yes, AutoJob& job)
{
    AutoWords words;
    if (const QString problem = ParseAutoWords(args, words); !problem.isEmpty())
        return usageError(problem);
    AutoJobLoad load = LoadAutoJob(FileNameFromQString(words.file), true);
    if (!load.ok()) {
        std::fprintf(stderr, "ERROR: %s\n", load.error.c_str());
        return Failure;
    }
    job = std::move(load.job);
    for (const std::string& note : load.notes)
        std::fprintf(stderr, "NOTE: %s: %s\n", job.fileName.c_str(), note.c_str());
    if (!words.log.isEmpty())
        job.logFile = FileNameFromQString(words.log);
    const bool writesBits = !job.project.fuseBits.empty() || !job.project.lockBits.empty() ||
                            job.project.lockByte || job.project.fuseBytes[0] ||
                            job.project.fuseBytes[1] || job.project.fuseBytes[2];
    if (writesBits && !yes)
        return usageError(
            QStringLiteral(
                "'%1' writes fuse or lock bits, which are confirmed one chip at a time: add --yes")
                .arg(words.file));
    if (!job.logFile.empty())
        if (const std::string why = CheckLogFile(job.logFile); !why.empty()) {
            std::fprintf(stderr, "ERROR: %s: nothing was programmed\n", why.c_str());
            return Failure;
        }
    return std::nullopt;
}

// auto FILE [--count N] [--log FILE] [--keep-going]: the whole programming of one chip, or of N in
// a row, from a project file or a one-image HEX.
int runAuto(Context& ctx, const QStringList& args, AutoJob& job)
{
    AutoWords words;
    ParseAutoWords(args, words);
    const int count = words.count;

    // The printing host turns a stop signal into a stop request on ctx.lock (stopOnSignal).
    AutoRun run(*ctx.lines, ctx.board->clock(), *ctx.timing, *ctx.host, ctx.lock);
    run.avrPace = ctx.avrPace;
    run.allowLockout = ctx.allowLockout;
    run.station = StationName(ctx.portName);
    run.protection =
        ctx.clearProtection ? EepromPage::Protection::Clear : EepromPage::Protection::Refuse;
    run.stopRequested = [] {
        return CliHost::interrupted != 0;
    };
    run.showChanges = [](const std::vector<BitChange>& changes) {
        for (const BitChange& c : changes)
            std::fprintf(stderr, "%s\n", ChangeText(c).c_str());
        std::fflush(stderr);
    };
    std::string part = job.project.part;
    int good = 0, failed = 0, refused = 0;
    // Every batch of more than one chip ends with its counts, however it ends.
    const auto counts = [&] {
        if (count > 1)
            ctx.host->summary("Batch: " + std::to_string(good) + " good, " +
                              std::to_string(failed) + " failed, " + std::to_string(refused) +
                              " refused, " + std::to_string(count - good - failed - refused) +
                              " not started");
        return good == count ? Success : Failure;
    };
    for (const std::string& image : ImagesText(job))
        CliHost::note("image " + image);
    if (job.project.socket == ProjectSocket::SpiFlash) {
        Settings settings;
        WarnFlashVoltageOnce(ctx.board->port(), settings, *ctx.host);
    }
    if (words.waitForChip && ctx.board->sim())
        return usageError(QStringLiteral(
            "--wait-for-chip is for a real board: the simulated board puts each chip in itself"));
    for (int chip = 1; chip <= count; ++chip) {
        if (words.waitForChip) {
            std::fprintf(stderr, "vardel-cli: waiting for chip %d of %d in the socket\n", chip,
                         count);
            if (!WaitForSocket(ctx, job, true))
                return counts();
        } else if (chip > 1 && !NextChip(ctx, job, part, chip, count)) {
            return counts();
        }
        // What was checked at the start is what every chip gets.
        if (const std::string changed = ChangedImage(job); !changed.empty()) {
            std::fprintf(stderr, "ERROR: %s changed during the batch: it ends here\n",
                         changed.c_str());
            return counts();
        }
        run.batchIndex = chip;
        const AutoRun::Result result = run.run(job);
        // The next chip is awaited only once this one has been taken out.
        const auto takenOut = [&] {
            if (!words.waitForChip || chip == count)
                return true;
            std::fprintf(stderr, "vardel-cli: take chip %d out of the socket\n", chip);
            return WaitForSocket(ctx, job, false);
        };
        // A one-image HEX is for whatever part the first chip was.
        if (part.empty())
            part = run.partName();
        if (result != AutoRun::Result::Ok) {
            ++(result == AutoRun::Result::Refused ? refused : failed);
            if (!words.keepGoing || CliHost::interrupted || !takenOut())
                return counts();
            continue;
        }
        ++good;
        std::string done = run.partName() + ": ";
        if (count > 1)
            done += "chip " + std::to_string(chip) + " of " + std::to_string(count) + " ";
        done += "programmed and verified";
        if (run.serial())
            done += ", serial number " + std::to_string(*run.serial());
        ctx.host->summary(done);
        if (!takenOut())
            return counts();
    }
    return counts();
}

} // namespace vardel::cli
