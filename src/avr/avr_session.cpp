#include "avr/avr_session.h"

#include "avr/avr_bits.h"
#include "avr/part_bits.h"
#include "hw/outcome_text.h"
#include "hw/port_failure.h"
#include "parts/catalogue_parts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>

namespace vardel {

namespace {

constexpr std::array<std::uint8_t, 3> kProtectedSignature{0x00, 0x01, 0x02};
const char* kCommunicationError = "Atmel communication error...";

std::string ByteText(std::uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

bool SameChanges(const std::vector<BitChange>& a, const std::vector<BitChange>& b)
{
    return std::ranges::equal(a, b, [](const BitChange& x, const BitChange& y) {
        return x.name == y.name && x.programmed == y.programmed;
    });
}

using Kind = AvrStepOutcome::Kind;
using Holds = AvrStepOutcome::Holds;

} // namespace

AvrIdentity IdentifyAvr(AvrSerial& serial, const std::string& chosen)
{
    AvrIdentity identity;
    identity.chosen = chosen;
    if (!serial.ProgrammingEnable())
        return identity;
    identity.signature = serial.ReadSignature();
    const DeviceEntry* entry = FindDevice(identity.signature);
    const AvrPart* part = entry ? entry->part : FindPart(identity.signature);
    if (!part) {
        identity.result = identity.signature == kProtectedSignature ? AvrIdentification::Protected
                          : identity.signature[0] == 0x1E ? AvrIdentification::UnknownAtmel
                                                          : AvrIdentification::OtherSignature;
        return identity;
    }
    identity.result = AvrIdentification::Identified;
    identity.part = part;
    identity.entry = entry;
    const std::vector<const AvrPart*> answering = PartsAnswering(identity.signature);
    if (std::ranges::any_of(answering, [&](const AvrPart* p) { return !SameBits(*p, *part); }))
        identity.choices = answering;
    if (chosen.empty()) {
        identity.clock = PaceByChipClock(serial, *part);
        return identity;
    }
    const auto named = std::ranges::find(answering, FindPartByName(chosen));
    if (named == answering.end()) {
        identity.result = AvrIdentification::NotChosen;
        return identity;
    }
    // A part whose bits differ is taken as named; another name of the same chip changes nothing.
    if (!identity.choices.empty()) {
        identity.part = *named;
        identity.entry = entry && entry->part == *named ? entry : nullptr;
        identity.picked = true;
    }
    identity.clock = PaceByChipClock(serial, *identity.part);
    return identity;
}

ChipClock PaceByChipClock(AvrSerial& serial, const AvrPart& part)
{
    std::vector<std::uint8_t> fuses;
    if (ClockDependsOnFuses(part)) {
        // The fuses as the chip holds them; it took its clock from them at power-up, and this
        // session has written none since.
        PartBits bits(part);
        for (const BitsInstruction& read : SerialBitsOf(part).fuseReads) {
            const std::array<std::uint8_t, 4>& i = read.instruction;
            TakeAnswer(read,
                       serial.SendPacedInstruction(i[0], i[1], i[2],
                                                   i[3])[static_cast<std::size_t>(read.valueAt)],
                       bits);
        }
        for (int byte = 0; byte < part.fuseCount; ++byte)
            fuses.push_back(bits.value(byte));
    }
    const ChipClock clock = ClockOf(part, fuses);
    serial.usePace(serial.paceFor(clock));
    return clock;
}

std::string ChoicesText(const std::vector<const AvrPart*>& parts)
{
    std::string names;
    for (std::size_t i = 0; i < parts.size(); ++i)
        names += (i == 0                  ? ""
                  : i + 1 == parts.size() ? " or "
                                          : ", ") +
                 std::string(parts[i]->name);
    return names;
}

std::string IdentityLabel(const AvrIdentity& identity)
{
    if (!identity.undecided())
        return identity.part->label();
    return ChoicesText(identity.choices) + " (" + std::to_string(identity.part->flashBytes / 1024) +
           "kb flash)";
}

std::string IdentificationError(const AvrIdentity& identity)
{
    switch (identity.result) {
    case AvrIdentification::NotDetected:
        return "Processor not detected!!!";
    case AvrIdentification::Protected:
        return "Atmel is Read/Write protected (Received ID=00 01 02)";
    case AvrIdentification::UnknownAtmel:
        return "Unknown Atmel chip";
    case AvrIdentification::NotChosen: {
        char signature[16];
        std::snprintf(signature, sizeof signature, "%02X %02X %02X", identity.signature[0],
                      identity.signature[1], identity.signature[2]);
        return "The chip in the socket (signature " + std::string(signature) + ", " +
               ChoicesText(PartsAnswering(identity.signature)) + ") is not the " + identity.chosen +
               ".";
    }
    case AvrIdentification::Identified:
    case AvrIdentification::OtherSignature:
        break;
    }
    return {};
}

std::optional<int> ReadLockMode(AvrSerial& serial, AvrPartOps& ops)
{
    // The AT90S1200, 2313, 4414 and 8515 have no instruction to read their lock bits.
    const AvrPart& part = ops.part();
    if (!part.instructions.lockRead)
        return std::nullopt;
    PartBits bits(part);
    const std::optional<PartBit> lb1 = bits.find("LB1");
    const std::optional<PartBit> lb2 = bits.find("LB2");
    if (!lb1)
        return std::nullopt;
    // The bits where the part's lock read has them.
    for (const BitsInstruction& read : SerialBitsOf(part).lockReads) {
        const std::array<std::uint8_t, 4>& i = read.instruction;
        const std::uint8_t answer = serial.SendPacedInstruction(
            i[0], i[1], i[2], i[3])[static_cast<std::size_t>(read.valueAt)];
        TakeAnswer(read, answer, bits);
    }
    if (!bits.programmed(*lb1))
        return 1;
    return lb2 && bits.programmed(*lb2) ? 3 : 2;
}

AvrSession::AvrSession(AvrSerial& serial, Host& host, OperationLock& operations, std::string chosen)
    : serial_(serial), host_(host), operations_(operations), operation_(operations),
      chosen_(std::move(chosen))
{
}

AvrSession::~AvrSession()
{
    close();
}

void AvrSession::close()
{
    open_ = false;
    if (!touched_)
        return;
    touched_ = false;
    try {
        serial_.AllLinesLow();
    } catch (const PortError&) {
        // The port that failed under the job takes nothing more; its failure has been reported.
    }
}

AvrStepOutcome AvrSession::open()
{
    AvrStepOutcome out;
    if (!operation_.acquired()) {
        out.kind = Kind::Refused;
        out.reason = "Another chip operation is running.";
        return out;
    }
    touched_ = true;
    try {
        identity_ = IdentifyAvr(serial_, chosen_);
    } catch (const PortError& error) {
        AllLinesLowIfPortTakesIt(serial_.lines());
        touched_ = false;
        out.kind = Kind::PortFault;
        out.reason = PortFailureMessage(error);
        return out;
    }
    if (identity_.result != AvrIdentification::Identified) {
        close();
        out.kind = Kind::ChipFault;
        out.reason = IdentificationError(identity_);
        return out;
    }
    ops_.emplace(serial_, *identity_.part);
    open_ = true;
    out.kind = Kind::Done;
    return out;
}

bool AvrSession::stopping(const AvrJob& job) const
{
    return operations_.stopRequested() || (job.stopRequested && job.stopRequested());
}

std::uint32_t AvrSession::memorySize(AvrMemory memory) const
{
    return memory == AvrMemory::Flash ? identity_.part->flashBytes : identity_.part->eepromBytes;
}

std::uint8_t AvrSession::readByte(AvrMemory memory, std::uint32_t address)
{
    return memory == AvrMemory::Flash ? ops_->readFlash(address) : ops_->readEeprom(address);
}

bool AvrSession::reenter()
{
    if (!serial_.ProgrammingEnable() || serial_.ReadSignature() != identity_.signature)
        return false;
    // The power-up took the clock from the fuses as they are now.
    identity_.clock = PaceByChipClock(serial_, *identity_.part);
    return true;
}

std::optional<int> AvrSession::lockMode()
try {
    return open_ && ops_ ? ReadLockMode(serial_, *ops_) : std::nullopt;
} catch (const PortError&) {
    return std::nullopt;
}

std::optional<std::uint8_t> AvrSession::calibrationByte()
try {
    const char* read = open_ ? identity_.part->instructions.calibrationRead : nullptr;
    if (!read)
        return std::nullopt;
    const std::array<std::uint8_t, 4> i = EncodeInstruction(read, 0, 0);
    return DecodeAnswer(read, serial_.SendPacedInstruction(i[0], i[1], i[2], i[3]));
} catch (const PortError&) {
    return std::nullopt;
}

std::vector<AvrStepOutcome> AvrSession::run(const AvrJob& job)
{
    std::vector<AvrStepOutcome> outcomes(job.steps.size());
    if (!open_)
        return outcomes;
    std::size_t at = 0;
    try {
        erasedBefore_ = false;
        const auto [index, prepared] = prepare(job);
        if (prepared.kind != Kind::Done) {
            outcomes[index] = prepared;
            return outcomes;
        }
        for (; at < job.steps.size(); ++at) {
            const AvrStep& step = job.steps[at];
            AvrStepOutcome& out = outcomes[at];
            host_.ProcessMessages();
            if (stopping(job)) {
                out.kind = Kind::Stopped;
                out.reason = "stopped before it";
                break;
            }
            switch (step.kind) {
            case AvrStep::Kind::Erase:
                out.holds = Holds::MayBeErased;
                ops_->chipErase();
                out.holds = Holds::Erased;
                out.kind = Kind::Done;
                erasedBefore_ = true;
                break;
            case AvrStep::Kind::Write:
                write(job, step, out);
                break;
            case AvrStep::Kind::Verify:
                compare(job, step, step.bytes, Holds::Unchanged, out);
                break;
            case AvrStep::Kind::BlankCheck:
                compare(job, step, std::vector<std::uint8_t>(memorySize(step.memory), 0xFF),
                        Holds::Unchanged, out);
                break;
            case AvrStep::Kind::Read:
                out.kind = Kind::Done;
                if (!readMemory(job, step, out))
                    out.reason = "stopped at " + AddressText(out.at) + ": nothing was kept";
                break;
            case AvrStep::Kind::Fuses:
            case AvrStep::Kind::Lock:
                bits(job, step, at, out);
                break;
            }
            if (!out.ok())
                break;
        }
    } catch (const PortError& error) {
        AllLinesLowIfPortTakesIt(serial_.lines());
        touched_ = false;
        if (at < outcomes.size()) {
            outcomes[at].kind = Kind::PortFault;
            outcomes[at].reason = PortFailureMessage(error);
        }
        open_ = false;
    }
    return outcomes;
}

std::pair<std::size_t, AvrStepOutcome> AvrSession::prepare(const AvrJob& job)
{
    using Bits = BitsWrite::Kind;
    bits_.clear();
    bits_.resize(job.steps.size());
    confirmed_.assign(job.steps.size(), std::nullopt);
    bool erased = false;
    bool fuses = false;
    std::string question;
    std::vector<BitChange> changes;
    std::size_t first = 0;
    for (std::size_t i = 0; i < job.steps.size(); ++i) {
        const AvrStep& step = job.steps[i];
        if (step.kind == AvrStep::Kind::Erase)
            erased = true;
        if (step.kind != AvrStep::Kind::Fuses && step.kind != AvrStep::Kind::Lock)
            continue;
        const bool lock = step.kind == AvrStep::Kind::Lock;
        const Bits kind = lock ? Bits::Lock : Bits::Fuses;
        AvrStepOutcome out;
        out.kind = Kind::Refused;
        std::unique_ptr<AvrBits> b = std::make_unique<AvrBits>(serial_, part(), host_, operations_);
        b->allowLockout = job.allowLockout;
        b->lockoutRefusal = job.lockoutRefusal;
        // The bits the job does not name stay as the chip holds them; lock bits that the job's
        // erase releases start unprogrammed.
        if (lock && erased)
            b->erasedLock();
        else if (b->readable(kind))
            b->readNow(kind);
        if (const std::optional<std::string> refused = b->set(step.bits, !job.guardsAnswered)) {
            out.kind = refused->empty() ? Kind::Cancelled : Kind::Refused;
            out.reason = *refused;
            return {i, out};
        }
        BitsPlan plan;
        if (const std::string refused = b->planNow(kind, plan, lock && erased); !refused.empty()) {
            out.reason = refused;
            return {i, out};
        }
        if (!plan.nothingToDo()) {
            if (question.empty())
                first = i;
            fuses = fuses || !lock;
            const std::string head = "Are you sure?\r\r";
            question += question.empty() ? plan.question
                        : plan.question.starts_with(head)
                            ? "\r\r" + plan.question.substr(head.size())
                            : "\r\r" + plan.question;
            changes.insert(changes.end(), plan.changes.begin(), plan.changes.end());
        }
        confirmed_[i] = plan.changes;
        bits_[i] = std::move(b);
    }
    AvrStepOutcome done;
    done.kind = Kind::Done;
    if (question.empty())
        return {0, done};
    if (job.showChanges)
        job.showChanges(changes);
    // Nobody answers a question with the chip powered: the lines go low while it is open.
    serial_.AllLinesLow();
    host_.NormalCursor();
    AvrStepOutcome out;
    if (host_.MessageBox(question, fuses ? "Program Fuse Bits" : "Program Lock Bits",
                         Host::Kind::Question, Host::Buttons::OkCancelDefaultCancel,
                         Host::Icon::Exclamation) != Host::Result::Ok) {
        out.kind = Kind::Cancelled;
        out.reason = "the confirmation was cancelled";
        // The chip as the plan read it: the front end shows what it holds, not what it held.
        if (bits_[first])
            out.values = bits_[first]->readValues(
                job.steps[first].kind == AvrStep::Kind::Lock ? Bits::Lock : Bits::Fuses);
        return {first, out};
    }
    host_.BusyCursor();
    host_.ProcessMessages();
    if (stopping(job)) {
        out.kind = Kind::Stopped;
        out.reason = "stopped before it";
        return {0, out};
    }
    // The socket may have changed while the question was open; the power cycle has reset the
    // chip's extended address, so the next flash access selects it afresh.
    ops_.emplace(serial_, *identity_.part);
    if (!reenter()) {
        serial_.AllLinesLow();
        out.kind = Kind::ChipFault;
        out.reason = "The chip in the socket is not the one identified before the confirmation.";
        return {0, out};
    }
    return {0, done};
}

void AvrSession::write(const AvrJob& job, const AvrStep& step, AvrStepOutcome& out)
{
    const bool flash = step.memory == AvrMemory::Flash;
    const std::uint32_t n = memorySize(step.memory);
    out.kind = Kind::Refused;
    if (step.bytes.size() != n) {
        out.reason = "the image has " + std::to_string(step.bytes.size()) + " bytes, the memory " +
                     std::to_string(n);
        return;
    }
    if (flash && !erasedBefore_) {
        out.reason = "the flash is written only after an erase";
        return;
    }
    // Lock bits may forbid the write (an erase before it has released them: the read confirms
    // it took).
    if (const std::optional<int> mode = ReadLockMode(serial_, *ops_); mode && *mode > 1) {
        out.reason = std::string("The lock bits forbid programming the ") +
                     (flash ? "flash" : "EEPROM") + ": the chip is in lock mode " +
                     std::to_string(*mode) +
                     (*mode == 3 ? " (LB1 and LB2 programmed)" : " (LB1 programmed)") +
                     ".\rOnly \"Erase chip\" releases them, and it erases the flash and the "
                     "EEPROM with them.";
        return;
    }
    const AvrPart& p = part();
    const std::uint32_t unit =
        flash ? (p.flashPageBytes ? p.flashPageBytes : 1) : ops_->eepromWriteBytes();
    out.kind = Kind::Done;
    const auto [from, to] = step.only.value_or(std::pair<std::uint32_t, std::uint32_t>{0, n});
    if (from > to || to > n) {
        out.reason = "the bytes to write lie outside the memory";
        return;
    }
    for (std::uint32_t unitStart = from - from % unit; unitStart < to; unitStart += unit) {
        // A unit the written range cuts loads only the bytes in it; a page write alters only
        // the bytes loaded.
        const std::uint32_t start = std::max(unitStart, from);
        const std::span<const std::uint8_t> bytes(step.bytes.data() + start,
                                                  std::min(unitStart + unit, to) - start);
        // A stop that comes before a write instruction goes out cancels that write.
        if (start > from && stopping(job)) {
            out.kind = Kind::Stopped;
            out.at = start;
            out.atAddress = true;
            out.reason = "stopped before the write at " + AddressText(start);
            return;
        }
        // The erase left 0xFF everywhere: a flash page or byte of nothing else needs no write.
        const bool blank =
            flash && std::ranges::all_of(bytes, [](std::uint8_t b) { return b == 0xFF; });
        if (!blank) {
            out.holds = Holds::PartlyWritten;
            out.at = start;
            const AvrPartOps::Write written =
                flash ? (p.flashPageBytes ? ops_->writeFlashPage(start, bytes)
                                          : ops_->writeFlashByte(start, bytes[0]))
                      : (unit > 1 ? ops_->writeEepromPage(start, bytes)
                                  : ops_->writeEepromByte(start, bytes[0]));
            if (written == AvrPartOps::Write::Failed) {
                out.kind = Kind::ChipFault;
                out.atAddress = true;
                out.reason = kCommunicationError;
                return;
            }
            // A write that no poll of its own value confirmed is read back before the next one,
            // unless the job's verify reads every byte afterwards anyway.
            if (written != AvrPartOps::Write::Polled && !step.verify)
                for (std::uint32_t i = 0; i < bytes.size(); ++i)
                    if (const std::uint8_t held = readByte(step.memory, start + i);
                        held != bytes[i]) {
                        out.kind = Kind::ChipFault;
                        out.atAddress = true;
                        out.reason = "The chip did not take the write at " +
                                     AddressText(start + i) + ": " + ByteText(bytes[i]) +
                                     " written, " + ByteText(held) + " read back.";
                        return;
                    }
        }
        if (job.progress)
            job.progress(step, std::min(start + unit, n) - 1, n);
    }
    out.holds = Holds::Written;
    out.at = n;
    if (step.verify)
        compare(job, step, step.bytes, Holds::Written, out);
}

bool AvrSession::readMemory(const AvrJob& job, const AvrStep& step, AvrStepOutcome& out)
{
    const std::uint32_t n = memorySize(step.memory);
    out.chip.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        out.chip[i] = step.memory == AvrMemory::Flash ? ops_->readFlash(i) : ops_->readEeprom(i);
        if (job.progress)
            job.progress(step, i, n);
        // A stop after the last byte loses nothing: the memory has been read whole.
        if (i + 1 < n && stopping(job)) {
            out.kind = Kind::Stopped;
            out.at = i + 1;
            out.atAddress = true;
            out.chip.clear();
            return false;
        }
    }
    return true;
}

void AvrSession::compare(const AvrJob& job, const AvrStep& step,
                         const std::vector<std::uint8_t>& expected, Holds before,
                         AvrStepOutcome& out)
{
    const std::uint32_t n = memorySize(step.memory);
    out.holds = before;
    out.kind = Kind::Refused;
    if (expected.size() != n) {
        out.reason = "the image has " + std::to_string(expected.size()) + " bytes, the memory " +
                     std::to_string(n);
        return;
    }
    out.kind = Kind::Done;
    if (!readMemory(job, step, out)) {
        out.reason = "the compare stopped at " + AddressText(out.at) +
                     ": nothing from there on was compared";
        return;
    }
    const auto [from, to] = step.only.value_or(std::pair<std::uint32_t, std::uint32_t>{0, n});
    for (std::uint32_t i = from; i < to; ++i)
        if (out.chip[i] != expected[i]) {
            if (!out.differs)
                out.firstDifference = i;
            ++out.differs;
        }
    if (!out.differs && before == Holds::Written)
        out.holds = Holds::Verified;
}

void AvrSession::bits(const AvrJob& job, const AvrStep& step, std::size_t index,
                      AvrStepOutcome& out)
{
    using Bits = BitsWrite::Kind;
    const Bits kind = step.kind == AvrStep::Kind::Lock ? Bits::Lock : Bits::Fuses;
    AvrBits& b = *bits_[index];
    out.kind = Kind::Refused;
    // Planned again on the chip as it is now: the write goes out only as it was confirmed.
    BitsPlan plan;
    if (const std::string refused = b.planNow(kind, plan, false); !refused.empty()) {
        out.reason = refused;
        return;
    }
    if (!SameChanges(plan.changes, *confirmed_[index])) {
        out.reason = std::string("The chip's ") + (kind == Bits::Lock ? "lock" : "fuse") +
                     " bits are not as they were when the write was confirmed.";
        return;
    }
    out.kind = Kind::Done;
    if (!plan.nothingToDo()) {
        if (stopping(job)) {
            out.kind = Kind::Stopped;
            out.reason = "stopped before the write";
            return;
        }
        out.holds = Holds::PartlyWritten;
        // The read-back may power the chip up afresh (the parts that take a fuse only then).
        ops_.emplace(serial_, *identity_.part);
        if (const std::string failed = b.applyNow(kind, plan); !failed.empty()) {
            out.kind = Kind::ChipFault;
            out.reason = failed;
            return;
        }
    }
    out.holds = Holds::Written;
    out.values = b.values(kind);
}

void ShowProgress(Host& host, bool flash, std::uint32_t index, std::uint32_t size)
{
    if (index % 0x100 == 0 || index + 1 == size)
        host.StatusText(std::string(flash ? "Flash " : "Internal eeprom ") +
                        AddressText(index + 1 == size ? size : index) + " of " + AddressText(size));
}

int ProgressPercent(std::uint32_t index, std::uint32_t size)
{
    return static_cast<int>(std::ceil(index * 100.0 / size));
}

std::function<void(const AvrStep&, std::uint32_t, std::uint32_t)> GaugeProgress(Host& host)
{
    auto shown = std::make_shared<std::array<int, 2>>(std::array<int, 2>{-1, -1});
    return [&host, shown](const AvrStep& step, std::uint32_t index, std::uint32_t size) {
        const bool flash = step.memory == AvrMemory::Flash;
        ShowProgress(host, flash, index, size);
        const int percent = ProgressPercent(index, size);
        int& last = (*shown)[flash ? 0 : 1];
        if (percent != last) {
            last = percent;
            if (flash)
                host.FlashGauge(percent);
            else
                host.EepromGauge(percent);
        }
        host.ProcessMessages();
    };
}

bool Changed(const std::vector<AvrStepOutcome>& outcomes)
{
    return std::ranges::any_of(outcomes, [](const AvrStepOutcome& out) {
        return out.holds != AvrStepOutcome::Holds::Unchanged;
    });
}

std::string HoldsText(const std::vector<AvrStep>& steps,
                      const std::vector<AvrStepOutcome>& outcomes)
{
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < steps.size() && i < outcomes.size(); ++i) {
        const AvrStep& step = steps[i];
        const AvrStepOutcome& out = outcomes[i];
        const std::string memory =
            step.memory == AvrMemory::Flash ? "the flash" : std::string("the EEPROM");
        switch (step.kind) {
        case AvrStep::Kind::Erase:
            if (out.holds == Holds::Erased)
                parts.emplace_back("the chip is erased");
            else if (out.holds == Holds::MayBeErased)
                parts.emplace_back("the chip may be erased");
            break;
        case AvrStep::Kind::Write:
            if (out.holds == Holds::Verified)
                parts.push_back(memory + " is programmed and verified");
            else if (out.holds == Holds::Written)
                parts.push_back(memory + " is programmed" +
                                (step.verify && out.kind == Kind::Done && out.differs
                                     ? " but does not hold the image"
                                     : std::string()));
            else if (out.holds == Holds::PartlyWritten)
                parts.push_back(memory + " is partly written (up to " + AddressText(out.at) + ")");
            break;
        case AvrStep::Kind::Fuses:
        case AvrStep::Kind::Lock: {
            const std::string what =
                step.kind == AvrStep::Kind::Fuses ? "the fuses" : std::string("the lock bits");
            if (out.holds == Holds::Written)
                parts.push_back(what + " are written");
            else if (out.holds == Holds::PartlyWritten)
                parts.push_back(what + " may be partly written (read them back)");
            break;
        }
        case AvrStep::Kind::Verify:
        case AvrStep::Kind::Read:
        case AvrStep::Kind::BlankCheck:
            break;
        }
    }
    if (parts.empty())
        return "nothing was written";
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : "; ") + p;
    return text;
}

} // namespace vardel
