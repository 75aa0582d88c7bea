#include "cli/cli_avr_bits.h"

#include "avr/avr_bits.h"
#include "avr/avr_page.h"
#include "avr/avr_session.h"
#include "hw/port_failure.h"
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

    // One session: the chip identified, its bits read, written and read back without a power
    // cycle between (the lines go low only while the confirmation is open).
    AvrPage page(*ctx.lines, ctx.board->clock(), *ctx.host, ctx.lock);
    ctx.avrPace.applyTo(page.serial());
    page.partChoice = ctx.part;
    AvrSession session(page.serial(), *ctx.host, ctx.lock, page.partChoice);
    if (page.openSession(session)) {
        ReportNoAvr(page);
        return Failure;
    }
    // Parts that share the signature but not their bits: the user names the one in the socket.
    if (const AvrIdentity& identity = session.identity(); identity.undecided())
        return UsageOnChip(
            page, QStringLiteral("the chip's signature is that of the %1, whose %2 "
                                 "bits differ: name the one in the socket with "
                                 "--part")
                      .arg(QString::fromStdString(ChoicesText(identity.choices)), kindName));
    std::unique_ptr<AvrBits> bits =
        std::make_unique<AvrBits>(page.serial(), session.part(), *ctx.host, ctx.lock);
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
    std::vector<std::pair<std::string, bool>> wanted;
    std::vector<QString> typed;
    for (const auto& [word, programmed] : words.named) {
        std::string name;
        for (const QString& n : names)
            if (word.compare(n, Qt::CaseInsensitive) == 0)
                name = n.toStdString();
        if (name.empty())
            return UsageOnChip(page,
                               QStringLiteral("%1 is not a %2 bit of %3; it has %4")
                                   .arg(word, kindName, chip, names.join(QStringLiteral(", "))));
        wanted.emplace_back(name, programmed);
        typed.push_back(word);
    }

    // Lock bits a part cannot report can only be written; lock bits are only ever programmed,
    // so starting from none programmed changes nothing the chip holds.
    const bool readable = bits->readable(kind);
    if (!program && !readable)
        return Fail(QStringLiteral("%1 cannot read its lock bits").arg(chip));
    try {
        if (readable)
            bits->readShown(kind);
    } catch (const PortError& error) {
        EndOnPortFailure(error, page.serial().lines(), *ctx.host);
        return Failure;
    }
    if (!program) {
        session.close();
        for (const QString& name : names)
            std::printf("%s=%d\n", name.toLocal8Bit().constData(),
                        bits->programmed(name.toStdString()) ? 0 : 1);
        for (const std::string& note : bits->notes(kind))
            std::printf("%s\n", note.c_str());
        return Success;
    }

    std::vector<bool> before;
    for (const QString& name : names)
        before.push_back(bits->programmed(name.toStdString()));
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const auto& [name, programmed] = wanted[i];
        // Only a chip erase takes a lock bit back; a part that cannot read its lock bits gets
        // no write that would look like it did.
        if (!fuses && !programmed && (!readable || bits->programmed(name)))
            return UsageOnChip(page, CannotUnprogramLock(chip, typed[i]));
        if (bits->programmed(name) == programmed)
            continue;
        if (!bits->changeable(name))
            return UsageOnChip(page,
                               QStringLiteral("%1 cannot be changed on %2").arg(typed[i], chip));
        // A bit that ends serial programming is written only when asked for twice over.
        if (bits->endsSerialProgramming(name, programmed) && !ctx.allowLockout)
            return Fail(QStringLiteral("%1=%2 ends serial programming of the %3 for good (only a "
                                       "high-voltage programmer undoes it); refused without "
                                       "--allow-lockout")
                            .arg(typed[i], programmed ? "0" : "1", chip));
    }
    if (!words.preset.isEmpty())
        bits->applyPreset(words.preset.toStdString());
    // Checked here, asked in the job: a guarded bit's warning is answered like any confirmation
    // (--yes).
    if (const std::optional<std::string> refused = bits->set(wanted, false))
        return UsageOnChip(page, QString::fromStdString(*refused));
    // The job sets the named bits and those the preset moves; every other stays as the chip
    // holds it.
    std::vector<std::pair<std::string, bool>> all = wanted;
    for (qsizetype i = 0; i < names.size(); ++i)
        if (const std::string name = names[i].toStdString();
            bits->programmed(name) != before[static_cast<std::size_t>(i)])
            all.emplace_back(name, bits->programmed(name));

    AvrJob job;
    job.steps.push_back(AvrStep::SetBits(!fuses, all));
    job.allowLockout = ctx.allowLockout;
    // The changes are listed here before the confirmation.
    job.showChanges = [](const std::vector<BitChange>& changes) {
        for (const BitChange& c : changes)
            std::fprintf(stderr, "%s\n", ChangeText(c).c_str());
        std::fflush(stderr);
    };
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    if (outcomes.front().holds != AvrStepOutcome::Holds::Unchanged)
        ctx.host->doneBeforeStop =
            fuses ? "after the fuses were written" : "after the lock bits were written";
    return ReportBitsWrite(*ctx.host, outcomes.front(), fuses) == AvrPage::Outcome::Done ? Success
                                                                                         : Failure;
}

} // namespace vardel::cli
