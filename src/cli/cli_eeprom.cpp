#include "cli/cli.h"
#include "hw/file_names.h"

#include "i2c/eeprom_page.h"

namespace vardel::cli {

// eeprom read|program|verify TYPE FILE: the EEPROM page's commands, with the type chosen from the
// list and the file opened or saved as the page's Open and Save do.
int runEeprom(Context& ctx, const QStringList& args)
{
    if (args.size() != 3)
        return usageError(QStringLiteral("usage: eeprom read|program|verify TYPE FILE"));
    const QString action = args[0];
    const int type = FindEepromType(args[1].toStdString());
    if (type < 0)
        return usageError(QStringLiteral("unknown EEPROM type '%1' (%2)")
                              .arg(args[1], QString::fromStdString(EepromTypeNames())));
    const std::string file = FileNameFromQString(args[2]);

    EepromPage page(*ctx.lines, *ctx.timing, *ctx.host, ctx.lock);
    page.cbChipChange(type);
    using Outcome = EepromPage::Outcome;
    if (action == QLatin1String("read")) {
        const Outcome read = page.Leerchip1Click();
        if (read == Outcome::Cancelled) {
            std::printf("Cancelled: nothing was saved.\n");
            return Failure;
        }
        if (read != Outcome::Done)
            return Failure;
        return page.Guardar1Click(file) == Outcome::Done ? Success : Failure;
    }
    if (action == QLatin1String("program") || action == QLatin1String("verify")) {
        if (page.Abrir1Click(file) != Outcome::Done)
            return Failure;
        const Outcome done =
            action == QLatin1String("program") ? page.Grabarchip1Click() : page.Verificar1Click();
        if (done == Outcome::Cancelled)
            std::printf("Cancelled.\n");
        return done == Outcome::Done ? Success : Failure;
    }
    return usageError(QStringLiteral("unknown eeprom command '%1'").arg(action));
}

} // namespace vardel::cli
