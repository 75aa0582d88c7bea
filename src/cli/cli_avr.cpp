#include "cli/cli.h"
#include "hw/file_names.h"

#include "avr/avr_page.h"
#include "avr/device_catalogue.h"
#include "cli/cli_avr_bits.h"
#include "parts/avr_parts.h"

#include <cstdio>

namespace vardel::cli {

void ReportNoAvr(const AvrPage& page)
{
    // A socket without a chip, or a chip held in reset, reads FF FF FF or 00 00 00: no
    // manufacturer's code at all, which the page leaves without a message.
    if (page.lastIdentification() != AvrPage::Identification::OtherSignature)
        return;
    std::fprintf(stderr, "ERROR: no AVR answered: signature %s\n",
                 SignatureText(page.lastSignature()).c_str());
}

namespace {

// The verdict names the first difference; the verify kept the chip's and the file's bytes as it
// compared them, so all of them are listed without reading the chip again.
void ListAvrDifferences(const AvrPage& page)
{
    if (const auto& difference = page.lastDifference())
        PrintDifferences(difference->chip.data(), difference->file.data(), difference->chip.size());
}

} // namespace

// avr ...: the AVR page's commands, each one job of one session with FILE as its image. Each run
// starts afresh, so the chip is identified first even where the window relies on the last
// identification.
int runAvr(Context& ctx, const QStringList& args)
{
    const QString action = args[0];
    if (const int status = runAvrBits(ctx, action, args.mid(1)); status >= 0)
        return status;
    QStringList words = args;
    const bool verify = words.removeOne(QStringLiteral("--verify"));
    const bool takesFile =
        action == QLatin1String("read-flash") || action == QLatin1String("program-flash") ||
        action == QLatin1String("verify-flash") || action == QLatin1String("read-eeprom") ||
        action == QLatin1String("program-eeprom") || action == QLatin1String("verify-eeprom");
    const std::string file = takesFile ? FileNameFromQString(words[1]) : std::string();

    AvrPage page(*ctx.lines, ctx.board->clock(), *ctx.host, ctx.lock);
    ctx.avrPace.applyTo(page.serial());
    page.partChoice = ctx.part;

    using Outcome = AvrPage::Outcome;
    using Memory = AvrPage::Memory;
    Outcome outcome = Outcome::Failed;
    const bool flash = action.endsWith(QLatin1String("-flash"));
    const Memory memory = flash ? Memory::Flash : Memory::Eeprom;
    if (action == QLatin1String("identify")) {
        outcome = page.Identify();
        if (outcome == Outcome::Done)
            std::printf("%s\n", page.model().lbTipo().c_str());
    } else if (action == QLatin1String("erase")) {
        // The erase needs no signature, and it is what unlocks a protected chip; only a chip that
        // does not answer at all ends the command here.
        outcome = page.Identify();
        if (page.lastIdentification() != AvrPage::Identification::NotDetected)
            outcome = page.EraseChip();
        if (outcome == Outcome::Done)
            ctx.host->doneBeforeStop = "after the chip was erased";
    } else if (action == QLatin1String("blank-test")) {
        outcome = page.BlankTest();
    } else if (action.startsWith(QLatin1String("read-"))) {
        outcome = page.ReadMemory(memory, file);
    } else if (action.startsWith(QLatin1String("program-"))) {
        outcome = page.ProgramMemory(memory, file, verify);
    } else if (action.startsWith(QLatin1String("verify-"))) {
        outcome = page.VerifyMemory(memory, file);
    }
    if (outcome == Outcome::Done) {
        if (takesFile) {
            const std::string what =
                action.startsWith(QLatin1String("read-")) ? "read into " + file
                : action.startsWith(QLatin1String("program-"))
                    ? std::string(verify ? "programmed and verified" : "programmed, not verified")
                    : std::string("verified");
            // "ATmega128 (128kb flash)": the name alone, the size follows in bytes.
            const std::string& type = page.model().lbTipo();
            const AvrPart* part = page.identifiedPart();
            const std::uint32_t bytes = flash ? part->flashBytes : part->eepromBytes;
            ctx.host->summary(type.substr(0, type.find(" (")) + ": " + std::to_string(bytes) +
                              (flash ? " bytes of flash " : " bytes of EEPROM ") + what);
        }
        return Success;
    }
    ReportNoAvr(page);
    if (outcome == Outcome::Failed && page.lastDifference())
        ListAvrDifferences(page);
    return Failure;
}

} // namespace vardel::cli
