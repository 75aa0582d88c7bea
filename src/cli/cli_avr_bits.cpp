#include "cli/cli_avr_bits.h"

#include "avr/avr_bits.h"
#include "avr/avr_page.h"
#include "hw/port_io.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vardel::cli {

namespace {

int Fail(const QString& message)
{
    std::fprintf(stderr, "vardel-cli: %s\n", message.toLocal8Bit().constData());
    return Failure;
}

} // namespace

int UsageOnChip(AvrPage& page, const QString& message)
{
    try {
        page.serial().AllLinesLow();
    } catch (const PortError&) {
        // A port that fails here has nothing powered through it any more.
    }
    return usageError(message);
}

void NoteWritten(Context& ctx, bool wrote, bool fuses)
{
    if (wrote)
        ctx.host->doneBeforeStop =
            fuses ? "after the fuses were written" : "after the lock bits were written";
}

QString CannotUnprogramLock(const QString& chip, const QString& bit)
{
    return QStringLiteral("%1 cannot unprogram lock bit %2: only a chip erase (avr erase) clears "
                          "the lock bits")
        .arg(chip, bit);
}

int runAvrBits(Context& ctx, const QString& action, const QStringList& args)
{
    using Kind = AvrBits::Kind;
    Kind kind;
    bool program;
    if (action == QLatin1String("read-fuses"))
        kind = Kind::Fuses, program = false;
    else if (action == QLatin1String("program-fuses"))
        kind = Kind::Fuses, program = true;
    else if (action == QLatin1String("read-lock"))
        kind = Kind::Lock, program = false;
    else if (action == QLatin1String("program-lock"))
        kind = Kind::Lock, program = true;
    else
        return -1;
    const bool fuses = kind == Kind::Fuses;
    const char* kindName = fuses ? "fuse" : "lock";

    // The words were checked before the board was opened.
    BitWords words;
    if (const QString problem = ParseBitWords(fuses, program, args, words); !problem.isEmpty())
        return usageError(problem);

    AvrPage page(*ctx.lines, ctx.board->clock(), *ctx.host, ctx.lock);
    page.serial().setMinimumSckPhase(ctx.minSckPhaseNs);
    // Each run starts afresh: the commands rely on the last identification, so there must be one.
    std::unique_ptr<AvrBits> bits;
    if (page.Identify() == AvrPage::Outcome::Done)
        bits = AvrBits::Of(page, *ctx.host, ctx.lock);
    if (!bits) {
        ReportNoAvr(page);
        return Failure;
    }
    const QString chip = QString::fromStdString(bits->chip());
    QStringList names;
    for (const std::string& name : bits->names(kind))
        names << QString::fromStdString(name);
    if (names.isEmpty())
        return Fail(QStringLiteral("%1 has no %2 bits that serial programming reaches")
                        .arg(chip, kindName));
    if (!words.preset.isEmpty())
        if (const auto refusal = bits->presetRefusal(words.preset.toStdString()))
            return UsageOnChip(page, QString::fromStdString(*refusal));
    // NAME=0|1: the bit as the chip stores it, 0 programmed; `name` as the chip's editor has it.
    struct Request {
        QString typed;
        std::string name;
        bool programmed;
    };
    std::vector<Request> requests;
    for (const auto& [typed, programmed] : words.named) {
        Request r{typed, {}, programmed};
        for (const QString& name : names)
            if (typed.compare(name, Qt::CaseInsensitive) == 0)
                r.name = name.toStdString();
        if (r.name.empty())
            return UsageOnChip(page,
                               QStringLiteral("%1 is not a %2 bit of %3; it has %4")
                                   .arg(typed, kindName, chip, names.join(QStringLiteral(", "))));
        requests.push_back(r);
    }

    // Lock bits a part cannot report can only be written; lock bits are only ever programmed,
    // so starting from none programmed changes nothing the chip holds.
    const bool readable = bits->readable(kind);
    if (!program && !readable)
        return Fail(QStringLiteral("%1 cannot read its lock bits").arg(chip));
    if (readable && bits->read(kind) != AvrPage::Outcome::Done)
        return Failure;
    if (!program) {
        for (const QString& name : names)
            std::printf("%s=%d\n", name.toLocal8Bit().constData(),
                        bits->programmed(name.toStdString()) ? 0 : 1);
        for (const std::string& note : bits->notes(kind))
            std::printf("%s\n", note.c_str());
        return Success;
    }

    for (const Request& r : requests) {
        // Only a chip erase takes a lock bit back; a part that cannot read its lock bits gets
        // no write that would look like it did.
        if (!fuses && !r.programmed && (!readable || bits->programmed(r.name)))
            return UsageOnChip(page, CannotUnprogramLock(chip, r.typed));
        if (bits->programmed(r.name) == r.programmed)
            continue;
        if (!bits->changeable(r.name))
            return UsageOnChip(page,
                               QStringLiteral("%1 cannot be changed on %2").arg(r.typed, chip));
        // A bit that ends serial programming is written only when asked for twice over.
        if (bits->endsSerialProgramming(r.name, r.programmed) && !ctx.allowLockout)
            return Fail(QStringLiteral("%1=%2 ends serial programming of the %3 for good (only a "
                                       "high-voltage programmer undoes it); refused without "
                                       "--allow-lockout")
                            .arg(r.typed, r.programmed ? "0" : "1", chip));
    }
    if (!words.preset.isEmpty())
        bits->applyPreset(words.preset.toStdString());
    std::vector<std::pair<std::string, bool>> wanted;
    for (const Request& r : requests)
        wanted.emplace_back(r.name, r.programmed);
    // A guarded bit's warning is answered like any confirmation (--yes).
    if (const std::optional<std::string> refused = bits->set(wanted))
        return refused->empty() ? Failure : UsageOnChip(page, QString::fromStdString(*refused));

    // The command checks the chip, lists the changes here before its confirmation, writes and
    // reads back.
    bits->allowLockout = ctx.allowLockout;
    bits->showChanges = [](const std::vector<BitChange>& changes) {
        for (const BitChange& c : changes)
            std::fprintf(stderr, "%s\n", ChangeText(c).c_str());
        std::fflush(stderr);
    };
    const AvrPage::Outcome written = bits->program(kind);
    NoteWritten(ctx, bits->wrote(), fuses);
    return written == AvrPage::Outcome::Done ? Success : Failure;
}

} // namespace vardel::cli
