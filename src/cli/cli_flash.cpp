#include "cli/cli.h"
#include "hw/file_names.h"

#include "hw/settings.h"
#include "spi/flash_voltage.h"
#include "spi/spi_flash.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vardel::cli {

namespace {
std::string idText(const std::uint8_t* id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", id[0], id[1], id[2]);
    return text;
}

std::string sizeText(int bytes)
{
    return std::to_string(bytes) + " bytes";
}

// What the core's outcome means for the exit status; a stopped operation says what it left.
int ended(Context& ctx, SpiFlash::Outcome outcome, const char* left)
{
    if (outcome == SpiFlash::Outcome::Cancelled)
        ctx.host->MessageBox(std::string("Operation stopped: ") + left, "WARNING",
                             Host::Kind::Warning, Host::Buttons::Ok, Host::Icon::None);
    return Failure;
}
} // namespace

// flash identify|read FILE|program FILE [--verify]|verify FILE|erase|blank-test: an SPI NOR flash
// in the AVR socket.
int runFlash(Context& ctx, const QStringList& args)
{
    QStringList words = args;
    const bool verify = words.removeOne(QStringLiteral("--verify"));
    const QString action = words[0];
    {
        Settings settings;
        WarnFlashVoltageOnce(ctx.board->port(), settings, *ctx.host);
    }
    SpiFlash flash(*ctx.lines, *ctx.timing, *ctx.host, ctx.lock);
    flash.clearProtection = ctx.clearProtection;
    using Outcome = SpiFlash::Outcome;

    if (action == QLatin1String("identify")) {
        if (flash.Identify() != Outcome::Done)
            return Failure;
        const SpiFlashPart& part = *flash.part();
        // SR2 and SR1 of a part with two status registers, else SR1.
        char status[16];
        if (part.protection == FlashProtection::WinbondStyle)
            std::snprintf(status, sizeof status, "status %04X", unsigned{flash.status()});
        else
            std::snprintf(status, sizeof status, "status %02X", flash.status() & 0xFFu);
        if (!part.bytes)
            std::printf("unknown part, JEDEC ID %s, %s\n", idText(flash.id()).c_str(), status);
        else
            std::printf("%s (%s), JEDEC ID %s, %s, %s\n", part.name, part.maker,
                        idText(flash.id()).c_str(), sizeText(part.bytes).c_str(), status);
        if (part.protection == FlashProtection::WinbondStyle && part.bytes)
            if (const auto range =
                    WinbondProtectedRange(flash.status(), part.bytes, part.smallestProtected))
                std::printf("write-protected from 0x%04X to 0x%04X\n", unsigned{range->from},
                            unsigned{range->to - 1});
        return Success;
    }
    if (action == QLatin1String("read")) {
        std::vector<std::uint8_t> bytes;
        const Outcome done = flash.Read(bytes);
        if (done != Outcome::Done)
            return ended(ctx, done, "no file was written.");
        const std::string file = FileNameFromQString(words[1]);
        if (!saveImage(file, bytes))
            return Failure;
        ctx.host->summary(std::string(flash.part()->name) + ": " + sizeText(flash.size()) +
                          " read into " + file);
        return Success;
    }
    if (action == QLatin1String("blank-test")) {
        const Outcome done = flash.BlankTest();
        if (done == Outcome::Done) {
            std::printf("%s: blank\n", flash.part()->name);
            return Success;
        }
        if (done == Outcome::Different)
            std::printf("%s: not blank\n", flash.part()->name);
        return ended(ctx, done, "nothing was tested.");
    }
    if (action == QLatin1String("erase")) {
        const Outcome done = flash.EraseChip();
        if (done != Outcome::Done) {
            if (flash.refusedProtected)
                CliHost::note("run again with --clear-protection to clear the block-protect bits");
            return ended(ctx, done, "the chip may be partly erased.");
        }
        ctx.host->summary(std::string(flash.part()->name) + ": erased");
        return Success;
    }

    // program and verify: the file's image, FF where it gives nothing, the chip's size.
    if (flash.Identify() != Outcome::Done)
        return Failure;
    if (!flash.part()->bytes) {
        ctx.host->MessageBox("The chip with JEDEC ID " + idText(flash.id()) +
                                 " is not a known part: its size cannot be known.",
                             "ERROR", Host::Kind::Error, Host::Buttons::Ok, Host::Icon::None);
        return Failure;
    }
    std::vector<std::uint8_t> image(static_cast<std::size_t>(flash.size()), 0xFF);
    const std::string file = FileNameFromQString(words[1]);
    if (!loadImage(file, image))
        return Failure;
    const std::string name = flash.part()->name;
    if (action == QLatin1String("verify")) {
        const Outcome done = flash.Verify(image);
        if (done == Outcome::Done) {
            ctx.host->summary(name + ": " + sizeText(flash.size()) + " verified");
            return Success;
        }
        if (done == Outcome::Different)
            PrintDifferences(flash.chipBytes().data(), image.data(), image.size());
        return ended(ctx, done, "nothing was compared.");
    }
    const Outcome done = flash.Program(image, verify);
    const std::string work = std::to_string(flash.sectorsErased) + " sectors and " +
                             std::to_string(flash.blocksErased) + " blocks erased, " +
                             std::to_string(flash.pagesProgrammed) + " pages programmed";
    if (done == Outcome::Done) {
        ctx.host->summary(name + ": " + work + (verify ? ", verified" : ", not verified"));
        return Success;
    }
    if (done == Outcome::Different) {
        PrintDifferences(flash.chipBytes().data(), image.data(), image.size());
        return Failure;
    }
    if (flash.refusedProtected)
        CliHost::note("run again with --clear-protection to clear the block-protect bits");
    return ended(ctx, done, "the chip may be partly written.");
}

} // namespace vardel::cli
