#include "cli/cli_avr_bits.h"

#include "avr/avr_page.h"
#include "avr/lock_fuse_commands.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "hw/port_io.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vardel::cli {

namespace {

using E = LockFuseEditor;

enum class Kind { Fuses, Lock };

// NAME=0|1: the bit as the chip stores it, 0 programmed (box checked).
struct Request {
    QString name;
    bool programmed;
    int box = 0;
};

// The boxes of the identified chip's page that a read fills, in the page's order.
std::vector<int> BoxesShown(const AvrPageModel& model, Kind kind)
{
    std::vector<int> boxes;
    for (const EditorSection section : ShownSections(model)) {
        const bool lock = std::string(E::Title(section)) == "Lock Bits";
        if (lock != (kind == Kind::Lock))
            continue;
        for (const int box : E::BoxesOf(section))
            if (!E::Info(box).inert)
                boxes.push_back(box);
    }
    return boxes;
}

bool ShowsSection(const AvrPageModel& model, EditorSection wanted)
{
    for (const EditorSection section : ShownSections(model))
        if (section == wanted)
            return true;
    return false;
}

QString Names(const AvrPageModel& model, const std::vector<int>& boxes)
{
    QStringList names;
    for (const int box : boxes)
        names << QString::fromStdString(CaptionOf(box, model));
    return names.join(QStringLiteral(", "));
}

int Fail(const QString& message)
{
    std::fprintf(stderr, "vardel-cli: %s\n", message.toLocal8Bit().constData());
    return Failure;
}

void PrintBoxes(const E& editor, const AvrPageModel& model, const std::vector<int>& boxes)
{
    for (const int box : boxes)
        std::printf("%s=%d\n", CaptionOf(box, model).c_str(), editor.checked(box) ? 0 : 1);
}

// Sets the named boxes. Two passes, because the AT90S lock group accepts LB2 only after LB1 and
// releases LB1 only after LB2, whatever order the names came in. A guarded box is released through
// its warning first (answered by --yes).
bool Apply(E& editor, const std::vector<Request>& requests, Host& host)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (const Request& r : requests) {
            if (editor.checked(r.box) == r.programmed)
                continue;
            if (E::GuardOf(r.box) && !editor.enabled(r.box) && !editor.releaseGuard(r.box, host))
                return false;
            editor.setChecked(r.box, r.programmed);
        }
    }
    return true;
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

    // The words were checked before the board was opened.
    BitWords words;
    if (const QString problem = ParseBitWords(kind == Kind::Fuses, program, args, words);
        !problem.isEmpty())
        return usageError(problem);
    std::vector<Request> requests;
    for (const auto& [name, programmed] : words.named)
        requests.push_back({name, programmed});
    const QString& presetName = words.preset;
    void (E::*preset)() = nullptr;
    if (presetName == QLatin1String("factory-default"))
        preset = &E::SpeedButton1Click;
    else if (presetName == QLatin1String("low-frequency"))
        preset = &E::SpeedButton2Click;
    else if (presetName == QLatin1String("high-frequency"))
        preset = &E::SpeedButton3Click;

    AvrPage page(*ctx.lines, ctx.board->clock(), *ctx.host, ctx.lock);
    page.serial().setMinimumSckPhase(ctx.minSckPhaseNs);
    // Each run starts afresh: the commands rely on the last identification, so there must be one.
    if (page.btnTipoClick() != AvrPage::Outcome::Done) {
        ReportNoAvr(page);
        return Failure;
    }
    // A part of the part table: its bits by their own names.
    if (const AvrPart* part = page.part()) {
        std::vector<std::pair<QString, bool>> named;
        for (const Request& r : requests)
            named.emplace_back(r.name, r.programmed);
        return runPartBits(ctx, page, *part, kind == Kind::Fuses, program, named, presetName);
    }
    const AvrPageModel& model = page.model();
    const QString chip = QString::fromStdString(model.lbTipo());
    const std::vector<int> boxes = BoxesShown(model, kind);
    if (boxes.empty())
        return Fail(QStringLiteral("%1 has no %2 bits that serial programming reaches")
                        .arg(chip, kind == Kind::Fuses ? "fuse" : "lock"));
    if (preset && !ShowsSection(model, EditorSection::Fuse128))
        return UsageOnChip(page, QStringLiteral("the presets are for the ATmega128"));
    for (Request& r : requests) {
        for (const int box : boxes)
            if (r.name.compare(QString::fromStdString(CaptionOf(box, model)),
                               Qt::CaseInsensitive) == 0)
                r.box = box;
        if (!r.box)
            return UsageOnChip(page, QStringLiteral("%1 is not a %2 bit of %3; it has %4")
                                         .arg(r.name, kind == Kind::Fuses ? "fuse" : "lock", chip,
                                              Names(model, boxes)));
    }

    E editor;
    LockFuseCommands commands(page.serial(), model, editor, *ctx.host, ctx.lock);
    // The AT90S parts without a lock read can only be written; lock bits are only ever
    // programmed, so starting from none programmed changes nothing the chip holds.
    const bool readable = kind == Kind::Fuses || model.btnReadLockBitsEnabled();
    if (!program && !readable)
        return Fail(QStringLiteral("%1 cannot read its lock bits").arg(chip));
    if (readable) {
        const AvrPage::Outcome read =
            kind == Kind::Fuses ? commands.btnReadFuseBitsClick() : commands.btnReadLockBitsClick();
        if (read != AvrPage::Outcome::Done)
            return Failure;
    }
    if (!program) {
        PrintBoxes(editor, model, boxes);
        if (kind == Kind::Lock && ShowsSection(model, EditorSection::LockAT90S)) {
            // The memo starts as two lines that read as one text.
            QString memo = QString::fromStdString(editor.Memo1());
            std::printf("%s\n", memo.remove(QLatin1Char('\n')).toLocal8Bit().constData());
        }
        if (kind == Kind::Fuses && ShowsSection(model, EditorSection::FuseATtiny) &&
            editor.calibration())
            std::printf("calibration=%d\n", *editor.calibration());
        return Success;
    }

    for (const Request& r : requests) {
        // Only a chip erase takes a lock bit back; a part that cannot read its lock bits gets
        // no write that would look like it did.
        if (kind == Kind::Lock && !r.programmed && (!readable || editor.checked(r.box)))
            return UsageOnChip(page, CannotUnprogramLock(chip, r.name));
        if (editor.checked(r.box) == r.programmed)
            continue;
        // A bit that ends serial programming is written only when asked for twice over.
        const FuseGuard* guard = E::GuardOf(r.box);
        if (guard && r.programmed == guard->lockoutChecked && !ctx.allowLockout)
            return Fail(QStringLiteral("%1=%2 ends serial programming of the %3 for good (only a "
                                       "high-voltage programmer undoes it); refused without "
                                       "--allow-lockout")
                            .arg(r.name, r.programmed ? "0" : "1", chip));
        // The other disabled boxes are the SPIEN bits that serial programming cannot reach.
        if (!guard && !E::Info(r.box).enabled)
            return UsageOnChip(page,
                               QStringLiteral("%1 cannot be changed on %2").arg(r.name, chip));
    }
    if (preset)
        (editor.*preset)();
    if (!Apply(editor, requests, *ctx.host))
        return Failure;
    for (const Request& r : requests)
        if (editor.checked(r.box) != r.programmed)
            return UsageOnChip(page,
                               QStringLiteral("LB2 can be programmed only together with LB1"));

    // The command checks the chip, lists the changes here before its confirmation, writes and
    // reads back.
    commands.showChanges = [](const std::vector<BitChange>& changes) {
        for (const BitChange& c : changes)
            std::fprintf(stderr, "%s\n", ChangeText(c).c_str());
        std::fflush(stderr);
    };
    const AvrPage::Outcome written =
        kind == Kind::Fuses ? commands.btnFuseBitsClick() : commands.btnLockBitsClick();
    NoteWritten(ctx, commands.wrote(), kind == Kind::Fuses);
    return written == AvrPage::Outcome::Done ? Success : Failure;
}

} // namespace vardel::cli
