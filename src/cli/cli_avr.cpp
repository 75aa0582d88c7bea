#include "cli/cli.h"
#include "hw/file_names.h"

#include "avr/avr_page.h"
#include "cli/cli_avr_bits.h"

#include <cstdio>

namespace vardel::cli {

namespace {

// The printing Host, with Ctrl-C turned into a stop request: the AVR commands look at it after
// every byte, end with every line low and say that the chip may be partly written.
class StopOnInterruptHost final : public Host {
public:
    StopOnInterruptHost(CliHost& host, OperationLock& lock) : host_(host), lock_(lock) {}

    Result MessageBox(const std::string& text, const std::string& caption, Buttons buttons,
                      Icon icon) override
    {
        return host_.MessageBox(text, caption, buttons, icon);
    }
    void BusyCursor() override { host_.BusyCursor(); }
    void NormalCursor() override { host_.NormalCursor(); }
    void ProgressShow() override { host_.ProgressShow(); }
    void ProgressHide() override { host_.ProgressHide(); }
    void ProgressLabel(const std::string& text) override { host_.ProgressLabel(text); }
    void ProgressGauge(int percent) override { host_.ProgressGauge(percent); }
    bool CancelFlag() override { return host_.CancelFlag(); }
    void FlashGauge(int percent) override { host_.FlashGauge(percent); }
    void EepromGauge(int percent) override { host_.EepromGauge(percent); }
    void ProcessMessages() override
    {
        host_.ProcessMessages();
        if (CliHost::interrupted)
            lock_.requestStop();
    }

private:
    CliHost& host_;
    OperationLock& lock_;
};

const char* kUsage = "usage: avr identify|erase|blank-test, avr read-flash|program-flash|"
                     "verify-flash FILE, avr read-eeprom|program-eeprom|verify-eeprom FILE, "
                     "avr read-fuses|program-fuses [NAME=0|1 ...] [--preset P], "
                     "avr read-lock|program-lock [NAME=0|1 ...]";

} // namespace

// avr ...: the AVR page's commands. Each run starts afresh, so the chip is identified first even
// where the window relies on the last identification; the file dialogs are answered with FILE.
int runAvr(Context& ctx, const QStringList& args)
{
    if (args.isEmpty())
        return usageError(QString::fromLatin1(kUsage));
    const QString action = args[0];
    if (const int status = runAvrBits(ctx, action, args.mid(1)); status >= 0)
        return status;
    const bool takesFile =
        action == QLatin1String("read-flash") || action == QLatin1String("program-flash") ||
        action == QLatin1String("verify-flash") || action == QLatin1String("read-eeprom") ||
        action == QLatin1String("program-eeprom") || action == QLatin1String("verify-eeprom");
    const bool bare = action == QLatin1String("identify") || action == QLatin1String("erase") ||
                      action == QLatin1String("blank-test");
    if (!takesFile && !bare)
        return usageError(QStringLiteral("unknown avr command '%1'").arg(action));
    if (args.size() != (takesFile ? 2 : 1))
        return usageError(QString::fromLatin1(kUsage));

    StopOnInterruptHost host(*ctx.host, ctx.lock);
    AvrPage page(*ctx.lines, ctx.board->clock(), host, ctx.lock);
    if (takesFile) {
        const std::string file = FileNameFromQString(args[1]);
        page.dialogs.save = [file] {
            return std::optional<std::string>(file);
        };
        page.dialogs.open = [file](const std::string&) {
            return std::optional<std::string>(file);
        };
    }

    using Outcome = AvrPage::Outcome;
    Outcome outcome = Outcome::Failed;
    if (action == QLatin1String("identify")) {
        outcome = page.btnTipoClick();
        if (outcome == Outcome::Done)
            std::printf("%s\n", page.model().lbTipo().c_str());
    } else if (action == QLatin1String("erase")) {
        // The erase needs no signature, and it is what unlocks a protected chip; only a chip that
        // does not answer at all ends the command here.
        outcome = page.btnTipoClick();
        if (page.lastIdentification() != AvrPage::Identification::NotDetected)
            outcome = page.btnBorrarClick();
    } else if (action == QLatin1String("blank-test")) {
        outcome = page.btnTestBlankClick();
    } else if (action == QLatin1String("read-flash")) {
        outcome = page.btnLeerFlashClick();
    } else if (action == QLatin1String("program-flash")) {
        outcome = page.btnProgFlashClick();
    } else if (action == QLatin1String("verify-flash")) {
        outcome = page.btnFLashVerifClick();
    } else if (action == QLatin1String("read-eeprom")) {
        outcome = page.btnLeerEEPIntClick();
    } else if (action == QLatin1String("program-eeprom")) {
        outcome = page.BitBtn1Click();
    } else if (action == QLatin1String("verify-eeprom")) {
        outcome = page.btnEEPIntClick();
    }
    return outcome == Outcome::Done ? Success : Failure;
}

} // namespace vardel::cli
