#include "cli/cli.h"
#include "hw/file_names.h"

#include "files/binary_file.h"
#include "i2c/eeprom_page.h"

#include <cstdio>
#include <vector>

namespace vardel::cli {

void PrintDifferences(const std::uint8_t* chip, const std::uint8_t* file, std::size_t size)
{
    constexpr int kListed = 16;
    std::size_t count = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (chip[i] == file[i])
            continue;
        if (count++ < kListed)
            std::printf("0x%04zX: chip %02X, file %02X\n", i, chip[i], file[i]);
    }
    std::printf("%zu bytes differ\n", count);
}

namespace {
// eeprom erase TYPE: a 93Cxx's erase-all.
int eraseAll(Context& ctx, int type)
{
    EepromPage page(*ctx.lines, *ctx.timing, *ctx.host, ctx.lock);
    page.cbChipChange(type);
    if (page.EraseAll() != EepromPage::Outcome::Done)
        return Failure;
    ctx.host->summary(std::string(page.type().name) + ": erased, every word all ones");
    return Success;
}
} // namespace

// eeprom read|program|verify TYPE FILE: the EEPROM page's commands, with the type chosen from the
// list and the file opened or saved as the page's Open and Save do.
int runEeprom(Context& ctx, const QStringList& args)
{
    QStringList words = args;
    const bool verify = words.removeOne(QStringLiteral("--verify"));
    const QString action = words[0];
    const bool read = action == QLatin1String("read");
    const int type = FindEepromType(words[1].toStdString());
    if (action == QLatin1String("erase"))
        return eraseAll(ctx, type);
    const std::string file = FileNameFromQString(words[2]);

    EepromPage page(*ctx.lines, *ctx.timing, *ctx.host, ctx.lock);
    page.cbChipChange(type);
    page.protection =
        ctx.clearProtection ? EepromPage::Protection::Clear : EepromPage::Protection::Refuse;
    const std::string chip = kEepromTypes[static_cast<std::size_t>(type)].name;
    const std::string bytes = chip + ": " + std::to_string(page.ChipSize) + " bytes ";
    using Outcome = EepromPage::Outcome;
    if (read) {
        const Outcome done = page.ReadChip();
        if (done == Outcome::Cancelled) {
            ctx.host->MessageBox("Operation stopped: no file was written.", "WARNING",
                                 Host::Kind::Warning, Host::Buttons::Ok, Host::Icon::None);
            return Failure;
        }
        if (done != Outcome::Done || page.SaveImage(file) != Outcome::Done)
            return Failure;
        ctx.host->summary(bytes + "read into " + file);
        return Success;
    }
    if (page.OpenImage(file) != Outcome::Done)
        return Failure;
    const bool program = action == QLatin1String("program");
    // With --verify the verify follows the write in the same job.
    const Outcome done = program ? page.ProgramChip(verify) : page.VerifyChip();
    if (program && !page.programmed()) {
        if (done == Outcome::Cancelled)
            ctx.host->MessageBox("Operation stopped: the chip may be partly written.", "WARNING",
                                 Host::Kind::Warning, Host::Buttons::Ok, Host::Icon::None);
        else if (page.refusedProtected())
            CliHost::note("run again with --clear-protection to clear the block-protect bits");
        else
            CliHost::note("the chip may be partly written");
        return Failure;
    }
    if (program && !verify) {
        ctx.host->summary(bytes + "programmed, not verified");
        return Success;
    }
    if (done == Outcome::Done) {
        ctx.host->summary(bytes + (verify ? "programmed and verified" : "verified"));
        return Success;
    }
    if (done == Outcome::Cancelled)
        ctx.host->MessageBox("Operation stopped before the end: nothing was compared.", "WARNING",
                             Host::Kind::Warning, Host::Buttons::Ok, Host::Icon::None);
    // The verdict names the first difference; the chip's bytes the verify read give all of them
    // (the verify has put the file's image back).
    if (const auto& difference = page.lastDifference())
        PrintDifferences(difference->chip.data(), page.EepromImage.data(), difference->chip.size());
    return Failure;
}

} // namespace vardel::cli
