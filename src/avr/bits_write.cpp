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

AvrPage::Outcome ReportBitsWrite(Host& host, const AvrStepOutcome& out, bool fuses)
{
    using Kind = AvrStepOutcome::Kind;
    // A Cancel came with the normal cursor; every other end restores it.
    if (out.kind == Kind::Cancelled)
        return AvrPage::Outcome::Cancelled;
    host.NormalCursor();
    switch (out.kind) {
    case Kind::Done:
        host.MessageBox(fuses ? "Fuse Bits set !!" : "Lock Bits set !!", "OK", Host::Kind::Success);
        return AvrPage::Outcome::Done;
    case Kind::Refused:
        host.MessageBox(out.reason + "\r" + kNothingWritten, kError, Host::Kind::Error);
        return AvrPage::Outcome::Failed;
    case Kind::Cancelled:
        break;
    case Kind::Stopped:
        host.MessageBox(std::string("Operation stopped before the write: the ") +
                            (fuses ? "fuses were" : "lock bits were") + " not written.",
                        "WARNING:", Host::Kind::Warning);
        return AvrPage::Outcome::Stopped;
    case Kind::PortFault: {
        const bool wrote = out.holds != AvrStepOutcome::Holds::Unchanged;
        host.MessageBox(wrote ? out.reason + "\r" + WrittenText(true, fuses) : out.reason, kError,
                        Host::Kind::Error);
        return AvrPage::Outcome::Failed;
    }
    case Kind::ChipFault:
    case Kind::NotRun:
        host.MessageBox(out.reason.empty() ? kNotDetected : out.reason, kError, Host::Kind::Error);
        return AvrPage::Outcome::Failed;
    }
    return AvrPage::Outcome::Failed;
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

std::string BitsWrite::apply(Kind kind, BitsTarget& target, const BitsPlan& plan)
{
    const bool fuses = kind == Kind::Fuses;
    const char* what = fuses ? "fuse" : "lock";
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
    // Read back in the same session: a power cycle would cost the job's next steps their time,
    // and a write that has just ended serial programming on purpose can only be read back now.
    // The AT90S2323 and 2343 take a new fuse value only at power-up: a read that misses the
    // write is made again after one.
    std::string bits = missed();
    if (!bits.empty() && !plan.lockout) {
        serial_.AllLinesLow();
        if (!serial_.ProgrammingEnable())
            return std::string("The chip did not answer after the write: the ") + what +
                   " bits could not be read back.\r" + (fuses ? "Fuse" : "Lock") + " Bits NOT set.";
        bits = missed();
    }
    if (!bits.empty())
        return "The chip did not take every " + std::string(what) + " bit: " + bits +
               " after the write.\r" + (fuses ? "Fuse" : "Lock") + " Bits NOT set.";
    return {};
}

} // namespace vardel
