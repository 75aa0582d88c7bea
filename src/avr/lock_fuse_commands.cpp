#include "avr/lock_fuse_commands.h"

#include "avr/avr_bits.h"
#include "avr/avr_session.h"
#include "avr/device_catalogue.h"

#include <algorithm>
#include <optional>
#include <string>

namespace vardel {

namespace {

const char* kNotIdentified =
    "No chip has been identified: press \"Identify microprocessor\" before programming lock or "
    "fuse bits.";

} // namespace

LockFuseCommands::LockFuseCommands(AvrSerial& serial, LockFuseEditor& editor, Host& host,
                                   OperationLock& operations)
    : serial_(serial), editor_(editor), host_(host), operations_(operations)
{
}

// A chip not identified is read as the part the editor shows first and never written.
const SerialBits& LockFuseCommands::serialBits() const
{
    return editor_.shown() ? SerialBitsOf(*editor_.shown()) : UnidentifiedSerialBits();
}

void LockFuseCommands::show(const PartBits& bits, Kind kind)
{
    // In the order the reads give the bits, as a user watching the labels sees them change.
    const SerialBits& serial = serialBits();
    std::vector<PartBit> order;
    for (const BitsInstruction& read : kind == Kind::Fuses ? serial.fuseReads : serial.lockReads)
        for (const CatalogueBit& r : read.bits)
            if (bits.bitName(r.bit.byte, r.bit.bit) && !std::ranges::count(order, r.bit))
                order.push_back(r.bit);
    // LB2 is accepted only while LB1 is programmed and LB1 released only while LB2 is not, so the
    // bit that the rule would otherwise refuse goes second. The read gives LB2 only with LB1
    // (ShowLockMode), so both end as read, whatever an earlier read left.
    const std::optional<PartBit> lb1 = bits.find("LB1");
    const std::optional<PartBit> lb2 = bits.find("LB2");
    if (serial.keepsLockModes && lb1 && lb2 && std::ranges::count(order, *lb1) &&
        std::ranges::count(order, *lb2)) {
        std::erase(order, *lb1);
        std::erase(order, *lb2);
        const bool locked = bits.programmed(*lb1);
        order.push_back(locked ? *lb1 : *lb2);
        order.push_back(locked ? *lb2 : *lb1);
    }
    for (const PartBit& bit : order)
        editor_.setProgrammed(bit, bits.programmed(bit));
}

LockFuseCommands::Outcome LockFuseCommands::read(Kind kind)
{
    PartBits bits = editor_.bits();
    PartBitsCommands commands(serial_, serialBits(), bits, host_, operations_);
    const Outcome outcome = commands.read(kind);
    if (outcome != Outcome::Done)
        return outcome;
    if (kind == Kind::Lock)
        lb2WithoutLb1_ = commands.lb2WithoutLb1();
    show(bits, kind);
    if (commands.calibration())
        editor_.setCalibration(*commands.calibration());
    return outcome;
}

LockFuseCommands::Outcome LockFuseCommands::program(Kind kind)
{
    const bool fuses = kind == Kind::Fuses;
    cancelledWithChipBits_ = false;
    AvrSession session(serial_, host_, operations_, partChoice);
    if (!session.acquired())
        return Outcome::Busy;
    // The bits as the editor shows them.
    PartBits shown = editor_.bits();
    const AvrPart& p = shown.part();
    const auto refuse = [this](const std::string& why) {
        host_.MessageBox(why + "\rNothing was written.", "ERROR", Host::Kind::Error);
        return Outcome::Failed;
    };
    // Whatever sequence the page would choose, a write to an unknown chip can be the one that
    // locks it out.
    if (!editor_.shown())
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
        const bool named = found.result == AvrIdentification::Identified && found.part;
        host_.MessageBox(
            WrongChipText(found.signature, named ? found.part->label() : "", p.label()), "ERROR",
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
    job.lockoutRefusal = [this](PartBit bit) {
        return editor_.lockoutRefusal(bit);
    };
    job.showChanges = showChanges;
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    const AvrStepOutcome& out = outcomes.front();
    // Cancelled, the editor shows the bits as the chip was found to hold them before the question.
    const std::vector<int> bytes =
        PartBitsCommands(serial_, p, shown, host_, operations_).bytesOf(kind);
    if (out.kind == AvrStepOutcome::Kind::Cancelled && out.values.size() == bytes.size()) {
        PartBits chip = editor_.bits();
        for (std::size_t i = 0; i < bytes.size(); ++i)
            chip.setValue(bytes[i], out.values[i]);
        show(chip, kind);
        cancelledWithChipBits_ = true;
    }
    return ReportBitsWrite(host_, out, fuses);
}

} // namespace vardel
