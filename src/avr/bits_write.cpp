#include "avr/bits_write.h"

#include "avr/device_catalogue.h"
#include "hw/port_failure.h"

namespace vardel {

namespace {

const char* kError = "ERROR";
const char* kNotDetected = "Processor not detected!!!";
const char* kNothingWritten = "Nothing was written.";

} // namespace

std::string WrittenText(bool wrote, bool fuses)
{
    if (!wrote)
        return {};
    return fuses ? "The fuses were written; read them back."
                 : "The lock bits were written; read them back.";
}

AvrPage::Outcome StoppedBeforeWrite(Host& host, bool fuses)
{
    host.MessageBox(std::string("Operation stopped before the write: the ") +
                        (fuses ? "fuses were" : "lock bits were") + " not written.",
                    "WARNING:", Host::Kind::Warning);
    return AvrPage::Outcome::Stopped;
}

std::string LockoutNote(const std::string& part)
{
    return "After this write the " + part +
           " will no longer answer this programmer: only a high-voltage programmer brings it "
           "back.";
}

std::string ChangeText(const BitChange& change)
{
    return change.name + (change.wasProgrammed ? " 0 -> " : " 1 -> ") +
           (change.programmed ? "0" : "1");
}

bool BitsWrite::enter()
{
    host_.BusyCursor();
    if (serial_.ProgrammingEnable())
        return true;
    host_.NormalCursor();
    host_.MessageBox(kNotDetected, kError, Host::Kind::Error);
    serial_.AllLinesLow();
    return false;
}

AvrPage::Outcome BitsWrite::fail(const std::string& text)
{
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox(text, kError, Host::Kind::Error);
    return AvrPage::Outcome::Failed;
}

bool BitsWrite::sameChip(const BitsTarget& target)
{
    const std::array<std::uint8_t, 3> signature = serial_.ReadSignature();
    if (target.isShown(signature))
        return true;
    const DeviceEntry* found = FindDevice(signature);
    fail(WrongChipText(signature, found ? found->label : nullptr, target.shownName()));
    return false;
}

std::string BitsWrite::plan(Kind kind, BitsTarget& target, BitsPlan& out, bool erased)
{
    const bool fuses = kind == Kind::Fuses;
    const char* what = fuses ? "fuse" : "lock";
    out = BitsPlan{};
    out.readable = target.readable();
    // What the chip holds, read twice: two reads that differ mean a connection that would not
    // write reliably either. Lock bits the job's erase releases first start unprogrammed.
    std::vector<BitState> before = target.read();
    if (target.read() != before)
        return std::string("The ") + what +
               " bits read differently twice: the connection to the chip is "
               "unreliable.\rCheck the cable and the supply.";
    if (erased && !fuses)
        for (BitState& bit : before)
            bit.programmed = false;
    out.before = before;
    for (const BitState& bit : before) {
        const bool wanted = target.wanted(bit.box);
        if (wanted == bit.programmed)
            continue;
        out.changes.push_back({bit.box, bit.name, bit.programmed, wanted});
        if (!fuses && bit.programmed)
            return bit.name + " is programmed on the chip: only \"Erase chip\" releases "
                              "lock bits.";
        if (!target.endsSerialProgramming(bit.box, wanted))
            continue;
        if (const std::optional<std::string> first = target.lockoutRefusal(bit.box))
            return bit.name + (wanted ? " programmed" : " unprogrammed") +
                   " ends serial programming: only a high-voltage programmer "
                   "undoes it." +
                   (first->empty() ? "" : " " + *first);
        out.lockout = true;
    }
    std::string question = target.confirmationHead();
    if (out.lockout)
        question += "\r\r" + LockoutNote(target.shownName());
    question += "\r\rBits that change on the " + target.shownName() + ":";
    for (const BitChange& c : out.changes)
        question += "\r" + ChangeText(c);
    if (!out.readable)
        question += "\rThis chip cannot read its lock bits: they cannot be checked afterwards.";
    out.question = question;
    return {};
}

std::string BitsWrite::apply(Kind kind, BitsTarget& target, const BitsPlan& plan, bool inSession)
{
    const bool fuses = kind == Kind::Fuses;
    const char* what = fuses ? "fuse" : "lock";
    wrote_ = true;
    target.write(plan.before);
    if (!plan.readable)
        return {};
    auto missed = [&] {
        std::string text;
        for (const BitState& bit : target.read())
            if (bit.programmed != target.wanted(bit.box))
                text +=
                    (text.empty() ? "" : ", ") + bit.name + " is " + (bit.programmed ? "0" : "1");
        return text;
    };
    auto afterPowerUp = [&]() -> std::optional<std::string> {
        serial_.AllLinesLow();
        if (!serial_.ProgrammingEnable())
            return std::string("The chip did not answer after the write: the ") + what +
                   " bits could not be read back.\r" + (fuses ? "Fuse" : "Lock") + " Bits NOT set.";
        return std::nullopt;
    };
    // Read back as the chip will start next time: the AT90S2323 and 2343 take a new fuse value
    // only at power-up. A write that has just ended serial programming on purpose can only be
    // read back now, before the supply goes off; so is every write inside a job, which a power
    // cycle would cost its next steps' time (the parts that take the value at power-up are read
    // again after one).
    if (!plan.lockout && !inSession)
        if (const auto failed = afterPowerUp())
            return *failed;
    std::string bits = missed();
    if (!bits.empty() && inSession && !plan.lockout) {
        if (const auto failed = afterPowerUp())
            return *failed;
        bits = missed();
    }
    if (!bits.empty())
        return "The chip did not take every " + std::string(what) + " bit: " + bits +
               " after the write.\r" + (fuses ? "Fuse" : "Lock") + " Bits NOT set.";
    return {};
}

AvrPage::Outcome BitsWrite::program(Kind kind, BitsTarget& target)
try {
    using Outcome = AvrPage::Outcome;
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    const bool fuses = kind == Kind::Fuses;
    wrote_ = false;
    if (const std::optional<std::string> refused = target.refusal()) {
        host_.MessageBox(*refused + "\r" + kNothingWritten, kError, Host::Kind::Error);
        return Outcome::Failed;
    }
    if (!enter() || !sameChip(target))
        return Outcome::Failed;
    BitsPlan planned;
    const std::string refused = plan(kind, target, planned);
    serial_.AllLinesLow();
    host_.NormalCursor();
    if (!refused.empty()) {
        host_.MessageBox(refused + "\r" + kNothingWritten, kError, Host::Kind::Error);
        return Outcome::Failed;
    }
    const char* done = fuses ? "Fuse Bits set !!" : "Lock Bits set !!";
    if (planned.nothingToDo()) {
        host_.MessageBox(done, "OK", Host::Kind::Success);
        return Outcome::Done;
    }

    if (showChanges)
        showChanges(planned.changes);
    if (host_.MessageBox(planned.question, fuses ? "Program Fuse Bits" : "Program Lock Bits",
                         Host::Kind::Question, Host::Buttons::OkCancelDefaultCancel,
                         Host::Icon::Exclamation) != Host::Result::Ok)
        return Outcome::Cancelled;
    // A stop that came while the question was open cancels the write.
    host_.ProcessMessages();
    if (operations_.stopRequested())
        return StoppedBeforeWrite(host_, fuses);

    // The socket may have changed while the question was open.
    if (!enter() || !sameChip(target))
        return Outcome::Failed;
    // A stop that came during the power-up's pauses still comes before the write.
    host_.ProcessMessages();
    if (operations_.stopRequested()) {
        serial_.AllLinesLow();
        host_.NormalCursor();
        return StoppedBeforeWrite(host_, fuses);
    }
    if (const std::string failed = apply(kind, target, planned, false); !failed.empty())
        return fail(failed);
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox(done, "OK", Host::Kind::Success);
    return Outcome::Done;
} catch (const PortError& error) {
    EndOnPortFailure(error, serial_.lines(), host_, {}, WrittenText(wrote_, kind == Kind::Fuses));
    return AvrPage::Outcome::Failed;
}

} // namespace vardel
