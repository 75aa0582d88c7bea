#include "avr/lock_fuse_commands.h"

#include "avr/avr_bits.h"
#include "avr/avr_session.h"
#include "avr/device_catalogue.h"

#include <optional>
#include <string>

namespace vardel {

namespace {

using E = LockFuseEditor;

const char* kNotIdentified =
    "No chip has been identified: press \"Identify microprocessor\" before programming lock or "
    "fuse bits.";

} // namespace

LockFuseCommands::LockFuseCommands(AvrSerial& serial, const AvrPageModel& page,
                                   LockFuseEditor& editor, Host& host, OperationLock& operations)
    : serial_(serial), page_(page), editor_(editor), host_(host), operations_(operations)
{
}

// A chip not identified is read as the part the editor shows first and never written.
const AvrPart& LockFuseCommands::part() const
{
    const DeviceEntry* shown = FindDeviceByLabel(page_.lbTipo());
    return shown ? *shown->part : UnidentifiedPart();
}

const SerialBits& LockFuseCommands::serialBits() const
{
    const DeviceEntry* shown = FindDeviceByLabel(page_.lbTipo());
    return shown ? SerialBitsOf(*shown->part) : UnidentifiedSerialBits();
}

PartBits LockFuseCommands::bytes() const
{
    PartBits bits(part());
    for (const CatalogueBox& b : EditorBoxesOf(part()))
        bits.setProgrammed(b.bit, editor_.checked(b.box));
    return bits;
}

void LockFuseCommands::show(const PartBits& bits, Kind kind)
{
    // In the order the reads give the bits, as a user watching the labels sees them change.
    const SerialBits& serial = serialBits();
    std::optional<bool> lb1, lb2;
    for (const BitsInstruction& read : kind == Kind::Fuses ? serial.fuseReads : serial.lockReads)
        for (const CatalogueBit& r : read.bits)
            for (const CatalogueBox& b : EditorBoxesOf(part())) {
                if (b.bit != r.bit)
                    continue;
                const bool programmed = bits.programmed(b.bit);
                if (b.box == E::CheckBox1)
                    lb1 = programmed;
                else if (b.box == E::CheckBox2)
                    lb2 = programmed;
                else
                    editor_.setChecked(b.box, programmed);
            }
    if (!lb1 || !lb2)
        return;
    // LB2 is accepted only while LB1 is checked and LB1 released only while LB2 is not, so the
    // box that the rule would otherwise refuse goes second. The read gives LB2 only with LB1
    // (ShowLockMode), so both boxes end as read, whatever an earlier read left in them.
    if (*lb1) {
        editor_.setChecked(E::CheckBox1, true);
        editor_.setChecked(E::CheckBox2, *lb2);
    } else {
        editor_.setChecked(E::CheckBox2, false);
        editor_.setChecked(E::CheckBox1, false);
    }
}

LockFuseCommands::Outcome LockFuseCommands::read(Kind kind)
{
    if (tableBytes) {
        PartBitsCommands commands(serial_, tableBytes->part(), *tableBytes, host_, operations_);
        return commands.read(kind);
    }
    PartBits bits = bytes();
    PartBitsCommands commands(serial_, serialBits(), bits, host_, operations_);
    const Outcome outcome = commands.read(kind);
    if (outcome != Outcome::Done)
        return outcome;
    show(bits, kind);
    if (commands.calibration())
        editor_.setCalibration(*commands.calibration());
    return outcome;
}

LockFuseCommands::Outcome LockFuseCommands::program(Kind kind)
{
    const bool fuses = kind == Kind::Fuses;
    AvrSession session(serial_, host_, operations_, partChoice);
    if (!session.acquired())
        return Outcome::Busy;
    // The bits as the editor shows them.
    PartBits shown = tableBytes ? *tableBytes : bytes();
    const AvrPart& p = shown.part();
    const auto refuse = [this](const std::string& why) {
        host_.MessageBox(why + "\rNothing was written.", "ERROR", Host::Kind::Error);
        return Outcome::Failed;
    };
    // Whatever sequence the page would choose, a write to an unknown chip can be the one that
    // locks it out.
    if (!tableBytes && page_.lbTipo() == AvrPageModel::kUnknownType)
        return refuse(kNotIdentified);
    if (PartBitsCommands(serial_, p, shown, host_, operations_).writtenBits(kind).empty())
        return refuse("The " + p.label() + " has no " + (fuses ? "fuse" : "lock") +
                      " bits that serial programming reaches.");

    // One session: the chip must be the one the editor shows.
    host_.BusyCursor();
    const AvrStepOutcome opened = session.open();
    const AvrIdentity& found = session.identity();
    if (opened.kind == AvrStepOutcome::Kind::PortFault ||
        found.result == AvrIdentification::NotDetected)
        return ReportBitsWrite(host_, opened, fuses);
    if (found.result == AvrIdentification::Identified && found.undecided()) {
        session.close();
        host_.NormalCursor();
        return refuse("The chip's signature is that of the " + ChoicesText(found.choices) +
                      ", whose bits differ: choose the part in the socket first.");
    }
    if (found.result != AvrIdentification::Identified || found.signature != p.signature) {
        session.close();
        host_.NormalCursor();
        const DeviceEntry* device = FindDevice(found.signature);
        host_.MessageBox(
            WrongChipText(found.signature, device ? device->label : nullptr, p.label()), "ERROR",
            Host::Kind::Error);
        return Outcome::Failed;
    }

    AvrJob job;
    std::vector<std::pair<std::string, bool>> bits;
    for (const std::string& name : AvrBits::NamesOf(p, kind))
        if (const std::optional<PartBit> bit = shown.find(name))
            bits.emplace_back(name, shown.programmed(*bit));
    job.steps.push_back(AvrStep::SetBits(!fuses, bits));
    // A guarded box was released through its warning as it was clicked.
    job.guardsAnswered = true;
    if (tableBytes) {
        job.allowLockout = allowLockout;
    } else {
        job.lockoutRefusal = [this](PartBit bit) -> std::optional<std::string> {
            for (const CatalogueBox& b : EditorBoxesOf(part()))
                if (b.bit == bit && E::GuardOf(b.box)) {
                    if (editor_.enabled(b.box))
                        return std::nullopt;
                    return std::string("Press \"") + E::GuardOf(b.box)->button +
                           "\" first if that is what you want.";
                }
            return "";
        };
    }
    job.showChanges = showChanges;
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    return ReportBitsWrite(host_, outcomes.front(), fuses);
}

} // namespace vardel
