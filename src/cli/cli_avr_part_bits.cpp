#include "cli/cli_avr_bits.h"

#include "avr/part_bits.h"

#include <cstdio>

namespace vardel::cli {

namespace {

int Fail(const QString& message)
{
    std::fprintf(stderr, "vardel-cli: %s\n", message.toLocal8Bit().constData());
    return Failure;
}

} // namespace

int runPartBits(Context& ctx, AvrPage& page, const AvrPart& part, bool fuses, bool program,
                const std::vector<std::pair<QString, bool>>& named, const QString& preset)
{
    using Kind = PartBitsCommands::Kind;
    const Kind kind = fuses ? Kind::Fuses : Kind::Lock;
    const QString chip = QString::fromStdString(part.label());
    PartBits bits(part);
    std::vector<int> bytes;
    if (fuses) {
        for (int byte = 0; byte < part.fuseCount; ++byte)
            bytes.push_back(byte);
    } else if (part.instructions.lockWrite && bits.mask(bits.lockByte()) &&
               (program || part.instructions.lockRead)) {
        // A lock byte the part cannot read (AT90S1200) is still written, unchecked.
        bytes.push_back(bits.lockByte());
    }
    if (bytes.empty())
        return Fail(QStringLiteral("%1 has no %2 bits that serial programming reaches")
                        .arg(chip, fuses ? "fuse" : "lock"));
    if (!preset.isEmpty() && preset != QLatin1String("factory-default"))
        return usageError(QStringLiteral("%1 has only the preset factory-default").arg(chip));

    // Every name must be one of the bytes this command writes.
    std::vector<std::pair<PartBit, bool>> requests;
    for (const auto& [name, programmed] : named) {
        const std::optional<PartBit> bit = bits.find(name.toStdString());
        bool ours = false;
        for (const int byte : bytes)
            ours = ours || (bit && bit->byte == byte);
        if (!ours) {
            QStringList names;
            for (const int byte : bytes)
                for (int b = 0; b < 8; ++b)
                    if (const char* n = bits.bitName(byte, b))
                        names << QString::fromLatin1(n);
            return usageError(
                QStringLiteral("%1 is not a %2 bit of %3; it has %4")
                    .arg(name, fuses ? "fuse" : "lock", chip, names.join(QStringLiteral(", "))));
        }
        requests.emplace_back(*bit, programmed);
    }

    PartBitsCommands commands(page.serial(), part, bits, *ctx.host, ctx.lock);
    if (commands.read(kind) != AvrPage::Outcome::Done)
        return Failure;
    if (!program) {
        for (const int byte : bytes)
            for (int b = 0; b < 8; ++b)
                if (const char* n = bits.bitName(byte, b))
                    std::printf("%s=%d\n", n, bits.programmed({byte, b}) ? 0 : 1);
        return Success;
    }
    if (!preset.isEmpty())
        bits.factoryDefault();
    for (const auto& [bit, programmed] : requests) {
        // Only a chip erase takes a lock bit back.
        if (!fuses && !programmed && bits.programmed(bit))
            return UsageOnChip(
                page,
                CannotUnprogramLock(chip, QString::fromLatin1(bits.bitName(bit.byte, bit.bit))));
        // A bit that ends serial programming is written only when asked for twice over.
        if (bits.programmed(bit) != programmed && bits.endsSerialProgramming(bit, programmed) &&
            !ctx.allowLockout)
            return Fail(QStringLiteral("%1=%2 ends serial programming of the %3 for good (only a "
                                       "high-voltage programmer undoes it); refused without "
                                       "--allow-lockout")
                            .arg(QString::fromLatin1(bits.bitName(bit.byte, bit.bit)),
                                 programmed ? "0" : "1", chip));
        bits.setProgrammed(bit, programmed);
    }
    commands.allowLockout = ctx.allowLockout;
    commands.showChanges = [](const std::vector<BitChange>& changes) {
        for (const BitChange& c : changes)
            std::fprintf(stderr, "%s\n", ChangeText(c).c_str());
        std::fflush(stderr);
    };
    const AvrPage::Outcome written = commands.program(kind);
    NoteWritten(ctx, commands.wrote(), fuses);
    return written == AvrPage::Outcome::Done ? Success : Failure;
}

} // namespace vardel::cli
