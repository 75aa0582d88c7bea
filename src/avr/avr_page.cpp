#include "avr/avr_page.h"

#include "avr/part_bits.h"
#include "files/binary_file.h"
#include "files/unHEX.h"
#include "hw/outcome_text.h"
#include "hw/port_failure.h"
#include "parts/catalogue_parts.h"

#include <span>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vardel {

namespace {

const char* kError = "ERROR";
const char* kNotDetected = "Processor not detected!!!";
const char* kCantCreate = "Can't create file!!";
const char* kCantOpen = "Can't open file!!";
const char* kUnknownFileType = "Unknown file type: the name must end in BIN or HEX!!";
const char* kCommunicationError = "Atmel communication error...";
const char* kStoppedWriting = "Operation stopped: the chip may be partly written.";
const char* kStoppedReading = "Operation stopped: no file was written.";
const char* kStoppedChecking = "Operation stopped before the end: nothing was compared.";
const char* kStoppedBeforeWriting =
    "Operation stopped before the first write: nothing was written.";
const char* kStoppedBeforeErase = "Operation stopped before the erase: nothing was erased.";
const char* kStoppedCaption = "WARNING:";
const char* kWarning = "WARNING:";

std::string DifferenceMessage(std::uint32_t address)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(address));
    return std::string("VERIFICATION: ERROR (Difference at byte: $") + digits + ")";
}

} // namespace

AvrPage::AvrPage(LineDriver& lines, Clock& clock, Host& host, OperationLock& operations)
    : lines_(lines), host_(host), operations_(operations), serial_(lines, clock)
{
}

bool AvrPage::IdentifyDevice()
{
    forget();
    if (showIdentity(IdentifyAvr(serial_, partChoice)))
        return true;
    serial_.AllLinesLow();
    return false;
}

void AvrPage::forget()
{
    device_ = nullptr;
    part_ = nullptr;
    partOps_.reset();
    // Until the chip has answered, it has not been detected (a port failure may end this early).
    lastIdentification_ = Identification::NotDetected;
    lastSignature_ = {};
    choices_.clear();
    picked_ = false;
}

bool AvrPage::showIdentity(const AvrIdentity& identity)
{
    lastIdentification_ = identity.result;
    lastSignature_ = identity.signature;
    choices_ = identity.choices;
    picked_ = identity.picked;
    if (identity.result == Identification::NotDetected) {
        model_.selectPages(AvrPageModel::kPageEmpty);
        host_.MessageBox(kNotDetected, kError, Host::Kind::Error);
        return false;
    }
    model_.setDeviceClass(0);
    if (identity.result != Identification::Identified) {
        if (const std::string error = IdentificationError(identity); !error.empty())
            host_.MessageBox(error, kError, Host::Kind::Error);
        model_.selectPages(AvrPageModel::kPageEmpty);
        return false;
    }
    part_ = identity.part;
    device_ = identity.entry;
    partOps_.emplace(serial_, *part_);
    if (device_) {
        // A catalogue part: shown on its own editor pages.
        ShowIdentified(model_, *device_);
    } else {
        // Any other part: named by its data, its bits on the page "Part", and programmed as its
        // data says. One that cannot read its lock bits (AT90S1200) writes them unchecked, as
        // the catalogue's AT90S parts do.
        model_.setLbTipo(IdentityLabel(identity));
        model_.selectPages(AvrPageModel::kPagePart);
        model_.setReadLockBitsEnabled(part_->instructions.lockRead != nullptr);
    }
    return true;
}

std::optional<AvrPage::Outcome> AvrPage::openSession(AvrSession& session)
{
    forget();
    const AvrStepOutcome opened = session.open();
    if (opened.kind == AvrStepOutcome::Kind::PortFault) {
        host_.NormalCursor();
        host_.MessageBox(std::string(kCommunicationError) + "\r" + opened.reason, kError,
                         Host::Kind::Error);
        return Outcome::Failed;
    }
    if (opened.kind == AvrStepOutcome::Kind::Refused)
        return Outcome::Busy;
    if (showIdentity(session.identity()))
        return std::nullopt;
    host_.NormalCursor();
    return Outcome::Failed;
}

std::function<void(const AvrStep&, std::uint32_t, std::uint32_t)> AvrPage::jobProgress()
{
    // Every byte's address, as the single commands have always reported it, a write's pages
    // included.
    return [this, next = std::uint32_t{0}](const AvrStep& step, std::uint32_t index,
                                           std::uint32_t size) mutable {
        if (index + 1 < next)
            next = 0;
        const Memory memory = step.memory == AvrMemory::Flash ? Memory::Flash : Memory::Eeprom;
        for (; next <= index; ++next)
            progress(memory, next, size);
    };
}

void ShowIdentified(AvrPageModel& model, const DeviceEntry& entry)
{
    model.setLbTipo(entry.label);
    model.setDeviceClass(entry.deviceClass);
    if (entry.checkBox35)
        model.setCheckBox35Caption(entry.checkBox35);
    model.selectPages(entry.notebook1, entry.notebook2, entry.notebook3, entry.notebook4);
    if (entry.fuseGroup != FuseGroup::Unchanged)
        model.setGroupBox4Visible(entry.fuseGroup == FuseGroup::Shown);
    model.setReadLockBitsEnabled(entry.part->instructions.lockRead != nullptr);
}

AvrPage::Outcome AvrPage::btnTipoClick()
{
    return Identify();
}

AvrPage::Outcome AvrPage::Identify()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    model_.setLbTipo(AvrPageModel::kUnknownType);
    // The label repaints before the port work starts.
    host_.ProcessMessages();
    const bool identified = IdentifyDevice();
    serial_.AllLinesLow();
    return identified ? Outcome::Done : Outcome::Failed;
} catch (const PortError& error) {
    return endOnPortFailure(error);
}

std::uint32_t AvrPage::memorySize(Memory memory) const
{
    const AvrPart* part = identifiedPart();
    if (!part)
        return 0;
    return memory == Memory::Flash ? part->flashBytes : part->eepromBytes;
}

void AvrPage::progress(Memory memory, std::uint32_t index, std::uint32_t size)
{
    reached_ = index;
    reachedAt_ = serial_.clock().nanoseconds();
    ShowProgress(host_, memory == Memory::Flash, index, size);
    const int percent = ProgressPercent(index, size);
    // The gauge is only repainted when it moves: a 128 KiB flash would otherwise redraw it
    // 131,072 times for 101 different values.
    if (memory == Memory::Flash) {
        if (model_.setFlashGauge(percent))
            host_.FlashGauge(percent);
    } else {
        if (model_.setEepromGauge(percent))
            host_.EepromGauge(percent);
    }
    host_.ProcessMessages();
}

AvrPage::Outcome AvrPage::stop(const char* text)
{
    host_.NormalCursor();
    serial_.AllLinesLow();
    host_.MessageBox(text, kStoppedCaption, Host::Kind::Warning);
    return Outcome::Stopped;
}

bool AvrPage::loadImage(const std::string& fileName, ImageFile& file)
{
    // One byte more than the largest memory, so that a file too long for it gets its warning.
    ImageRead read = ReadImageFile(fileName, static_cast<std::size_t>(kPartFlashLoadLimit) + 1);
    switch (read.failure) {
    case ImageFailure::None:
        if (!read.warning.empty())
            host_.MessageBox(read.warning, kWarning, Host::Kind::Warning);
        file = std::move(read.file);
        return true;
    case ImageFailure::UnknownKind:
        // Programming an erased chip, or comparing with 0xFF, because of a mistyped name would
        // pass for success.
        host_.MessageBox(kUnknownFileType, kError, Host::Kind::Error);
        return false;
    case ImageFailure::Unreadable:
        host_.MessageBox(kCantOpen, kError, Host::Kind::Error);
        return false;
    case ImageFailure::Malformed:
    case ImageFailure::Empty:
        host_.MessageBox(read.detail, kError, Host::Kind::Error);
        return false;
    }
    return false;
}

bool AvrPage::placeImage(Memory memory, const ImageFile& file, std::vector<std::uint8_t>& buffer,
                         bool verifying)
{
    const bool flash = memory == Memory::Flash;
    // A part-table part may hold more than the catalogue's largest memories.
    const std::size_t size =
        std::max<std::size_t>(flash ? kFlashBufferSize : kEepromBufferSize, memorySize(memory) + 1);
    buffer.assign(size, 0xFF);
    if (file.kind == FileKind::Bin) {
        // A binary image fills the buffer from 0 whatever the chip: bytes past the memory are
        // simply never sent.
        const std::size_t limit = std::max<std::size_t>(
            static_cast<std::size_t>(flash ? kFlashLoadLimit : kEepromLoadLimit),
            memorySize(memory));
        PlaceImageFile(file, std::span<std::uint8_t>(buffer.data(), limit));
        const std::uint32_t n = memorySize(memory);
        placed_ = static_cast<std::uint32_t>(std::min<std::size_t>(file.bin.size(), n));
        if (file.bin.size() > n) {
            const bool cut = file.bin.size() > static_cast<std::size_t>(kPartFlashLoadLimit);
            host_.MessageBox(
                std::string("File contains more data than processor can fit: the file holds ") +
                    (cut ? "more than " + std::to_string(kPartFlashLoadLimit)
                         : std::to_string(file.bin.size())) +
                    " bytes, the " + (flash ? "flash " : "EEPROM ") + std::to_string(n) + ".\r" +
                    (verifying ? "Only the first " + std::to_string(n) + " bytes are compared"
                               : std::string("Data will be truncated")),
                kWarning, Host::Kind::Warning);
        }
        return true;
    }
    const AvrMemory which = flash ? AvrMemory::Flash : AvrMemory::Eeprom;
    const AvrPlacement split =
        PlaceAvrImage(file, which, std::span<std::uint8_t>(buffer.data(), memorySize(memory)));
    placed_ = static_cast<std::uint32_t>(split.placed.inside);
    if (split.placed.inside == 0) {
        host_.NormalCursor();
        serial_.AllLinesLow();
        host_.MessageBox(kNoDataForMemory, kError, Host::Kind::Error);
        return false;
    }
    // A whole program's file: the other memories' bytes are never taken for this one's.
    if (!split.others.empty())
        host_.MessageBox(OtherMemoriesWarning(split, which), kWarning, Host::Kind::Warning);
    if (split.placed.outside > 0)
        host_.MessageBox(OutsideMemoryWarning(split.placed), kWarning, Host::Kind::Warning);
    return true;
}

AvrPage::Outcome AvrPage::readToFile(Memory memory, const std::string& fileName)
{
    AvrSession session(serial_, host_, operations_, partChoice);
    if (!session.acquired())
        return Outcome::Busy;
    // A name that selects no format would have the whole read thrown away without a word.
    const FileKind kind = FileKindOf(fileName);
    if (kind == FileKind::Other) {
        host_.MessageBox(kUnknownFileType, kError, Host::Kind::Error);
        return Outcome::Failed;
    }

    host_.BusyCursor();
    if (const std::optional<Outcome> failed = openSession(session))
        return *failed;
    AvrJob job;
    job.progress = jobProgress();
    job.steps.push_back(AvrStep::ReadMemory(AvrMemoryOf(memory)));
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    if (const std::optional<Outcome> ended = endOfJob(job, outcomes, kStoppedReading))
        return *ended;
    host_.NormalCursor();

    const std::vector<std::uint8_t>& image = outcomes.front().chip;
    bool written = false;
    if (kind == FileKind::Bin) {
        host_.BusyCursor();
        written = WriteBinaryFile(fileName, image.data(), image.size());
        host_.NormalCursor();
    } else {
        written = WriteIntelHexFile(fileName, image.data(), image.size());
    }
    if (!written) {
        host_.MessageBox(kCantCreate, kError, Host::Kind::Error);
        return Outcome::Failed;
    }
    return Outcome::Done;
}

AvrPage::Outcome AvrPage::verifyWithFile(Memory memory, const std::string& fileName)
{
    AvrSession session(serial_, host_, operations_, partChoice);
    if (!session.acquired())
        return Outcome::Busy;
    lastDifference_.reset();
    // The file is read before the chip is powered: a file that cannot be read must not be
    // compared as if it were all 0xFF.
    ImageFile file;
    if (!loadImage(fileName, file))
        return Outcome::Failed;

    host_.BusyCursor();
    if (const std::optional<Outcome> failed = openSession(session))
        return *failed;
    std::vector<std::uint8_t> image;
    if (!placeImage(memory, file, image, true))
        return Outcome::Failed;
    image.resize(memorySize(memory));
    // The whole memory is compared, so that every difference can be shown, not only the first.
    AvrJob job;
    job.progress = jobProgress();
    job.steps.push_back(AvrStep::Compare(AvrMemoryOf(memory), image));
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    if (const std::optional<Outcome> ended = endOfJob(job, outcomes, kStoppedChecking))
        return *ended;
    host_.NormalCursor();
    host_.MessageBox("VERIFICATION: OK !!!!!", "Verification complete", Host::Kind::Verdict);
    return Outcome::Done;
}

AvrPage::Outcome AvrPage::reported(const Report& report, std::int64_t start, Outcome outcome)
{
    const std::string time = DurationText(serial_.clock().nanoseconds() - start);
    std::string text;
    switch (outcome) {
    case Outcome::Done: {
        text = report.done;
        const std::uint32_t n = report.memory ? memorySize(*report.memory) : 0;
        if (const auto at = text.find("{n}"); at != std::string::npos)
            text.replace(at, 3, std::to_string(n));
        if (const auto at = text.find("{t}"); at != std::string::npos)
            text.replace(at, 3, time);
        if (report.fromFile && placed_ < n)
            text += ": " + std::to_string(placed_) + " from the file, the rest erased (0xFF)";
        break;
    }
    case Outcome::Failed: {
        // The unit it failed on, when this command got into the memory and not through it.
        const bool inMemory =
            report.memory && reachedAt_ >= start && reached_ + 1 < memorySize(*report.memory);
        text = std::string(report.what) + " failed " +
               (inMemory ? "at " + AddressText(reached_ + 1) + " " : std::string()) + "after " +
               time;
        break;
    }
    case Outcome::Stopped:
        text = std::string(report.what) + " stopped at " + AddressText(reached_);
        break;
    case Outcome::Cancelled:
        text = std::string(report.what) + " cancelled: no file chosen";
        break;
    case Outcome::Busy:
        return outcome;
    }
    host_.StatusText(text);
    return outcome;
}

AvrPage::Report AvrPage::ReadReport(Memory memory)
{
    return memory == Memory::Flash
               ? Report{"Read {n} bytes of flash in {t}", "Reading flash", memory}
               : Report{"Read {n} bytes of internal eeprom in {t}", "Reading internal eeprom",
                        memory};
}

AvrPage::Report AvrPage::VerifyReport(Memory memory)
{
    return memory == Memory::Flash
               ? Report{"Verified {n} bytes of flash in {t}: no difference", "Verifying flash",
                        memory}
               : Report{"Verified {n} bytes of internal eeprom in {t}: no difference",
                        "Verifying internal eeprom", memory};
}

AvrPage::Report AvrPage::ProgramReport(Memory memory, bool verify)
{
    if (memory == Memory::Flash)
        return {verify ? "Programmed and verified {n} bytes of flash in {t}"
                       : "Programmed {n} bytes of flash in {t}, not verified",
                "Programming flash", memory, true};
    return {verify ? "Programmed and verified {n} bytes of internal eeprom in {t}"
                   : "Programmed {n} bytes of internal eeprom in {t}, not verified",
            "Programming internal eeprom", memory, true};
}

AvrPage::Outcome AvrPage::ReadMemory(Memory memory, const std::string& fileName)
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reported(ReadReport(memory), start, readToFile(memory, fileName));
}

AvrPage::Outcome AvrPage::VerifyMemory(Memory memory, const std::string& fileName)
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reportedVerify(reported(VerifyReport(memory), start, verifyWithFile(memory, fileName)));
}

AvrPage::Outcome AvrPage::ProgramMemory(Memory memory, const std::string& fileName, bool verify)
{
    const std::int64_t start = serial_.clock().nanoseconds();
    const Outcome outcome =
        reported(ProgramReport(memory, verify), start, programFromFile(memory, fileName, verify));
    return verify ? reportedVerify(outcome) : outcome;
}

AvrPage::Outcome AvrPage::withFile(const char* title, const Report& report,
                                   const std::function<Outcome(const std::string&)>& command)
{
    const std::int64_t start = serial_.clock().nanoseconds();
    // Nothing is asked while another chip operation runs.
    if (operations_.busy())
        return Outcome::Busy;
    const std::optional<std::string> fileName =
        title ? (dialogs.open ? dialogs.open(title) : std::nullopt)
              : (dialogs.save ? dialogs.save() : std::nullopt);
    if (!fileName)
        return reported(report, start, Outcome::Cancelled);
    return command(*fileName);
}

AvrPage::Outcome AvrPage::btnLeerFlashClick()
{
    return withFile(nullptr, ReadReport(Memory::Flash),
                    [this](const std::string& file) { return ReadMemory(Memory::Flash, file); });
}

AvrPage::Outcome AvrPage::btnLeerEEPIntClick()
{
    return withFile(nullptr, ReadReport(Memory::Eeprom),
                    [this](const std::string& file) { return ReadMemory(Memory::Eeprom, file); });
}

AvrPage::Outcome AvrPage::btnFLashVerifClick()
{
    if (!operations_.busy())
        lastDifference_.reset();
    return withFile(kVerifyFlashTitle, VerifyReport(Memory::Flash),
                    [this](const std::string& file) { return VerifyMemory(Memory::Flash, file); });
}

AvrPage::Outcome AvrPage::btnEEPIntClick()
{
    if (!operations_.busy())
        lastDifference_.reset();
    return withFile(kVerifyEepromTitle, VerifyReport(Memory::Eeprom),
                    [this](const std::string& file) { return VerifyMemory(Memory::Eeprom, file); });
}

AvrPage::Outcome AvrPage::btnProgFlashClick()
{
    return withFile(
        kOpenTitle, ProgramReport(Memory::Flash, false),
        [this](const std::string& file) { return ProgramMemory(Memory::Flash, file, false); });
}

AvrPage::Outcome AvrPage::BitBtn1Click()
{
    return withFile(
        kOpenTitle, ProgramReport(Memory::Eeprom, false),
        [this](const std::string& file) { return ProgramMemory(Memory::Eeprom, file, false); });
}

AvrPage::Outcome AvrPage::reportedVerify(Outcome outcome)
{
    if (outcome == Outcome::Failed && lastDifference_) {
        const std::uint32_t n = lastDifference_->count;
        host_.StatusText("Verify found " + std::to_string(n) +
                         (n == 1 ? " differing byte of " : " differing bytes of ") +
                         (lastDifference_->flash ? "flash" : "internal eeprom") +
                         ", the first at " + AddressText(lastDifference_->first));
    }
    return outcome;
}

AvrPage::Outcome AvrPage::programFromFile(Memory memory, const std::string& fileName, bool verify)
{
    AvrSession session(serial_, host_, operations_, partChoice);
    if (!session.acquired())
        return Outcome::Busy;
    if (verify)
        lastDifference_.reset();
    // Flash programming starts with an erase, and every EEPROM byte is written: a file that
    // cannot be read must stop the command before either.
    ImageFile file;
    if (!loadImage(fileName, file))
        return Outcome::Failed;

    host_.BusyCursor();
    if (const std::optional<Outcome> failed = openSession(session))
        return *failed;
    // Which addresses count as inside is known once the chip is: still before the erase.
    std::vector<std::uint8_t> image;
    if (!placeImage(memory, file, image))
        return Outcome::Failed;
    image.resize(memorySize(memory));
    AvrJob job;
    job.progress = jobProgress();
    // The erase also releases the lock bits: the write looks at them after it.
    if (memory == Memory::Flash)
        job.steps.push_back(AvrStep::EraseChip());
    job.steps.push_back(AvrStep::Program(AvrMemoryOf(memory), image, verify));
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    if (const std::optional<Outcome> ended = endOfJob(job, outcomes, kStoppedWriting))
        return *ended;
    host_.NormalCursor();
    if (verify)
        host_.MessageBox("VERIFICATION: OK !!!!!", "Verification complete", Host::Kind::Verdict);
    return Outcome::Done;
}

std::string AvrPage::LeftText(const AvrJob& job, const std::vector<AvrStepOutcome>& outcomes)
{
    using Holds = AvrStepOutcome::Holds;
    std::string text;
    for (std::size_t i = 0; i < job.steps.size() && i < outcomes.size(); ++i) {
        const AvrStep& step = job.steps[i];
        const AvrStepOutcome& out = outcomes[i];
        const bool flash = step.memory == AvrMemory::Flash;
        if (step.kind == AvrStep::Kind::Erase) {
            if (out.holds == Holds::MayBeErased)
                text = "The flash may be erased.";
            else if (out.holds == Holds::Erased)
                text = "The flash is erased.";
        } else if (step.kind == AvrStep::Kind::Write && out.holds == Holds::PartlyWritten) {
            text = flash ? "The flash is erased and partly written (up to " + AddressText(out.at) +
                               ")."
                         : "The EEPROM is partly written (up to " + AddressText(out.at) + ").";
        } else if (step.kind == AvrStep::Kind::Write && out.holds != Holds::Unchanged) {
            text = flash ? "The flash is programmed." : "The EEPROM is programmed.";
        }
    }
    return text;
}

std::optional<AvrPage::Outcome> AvrPage::endOfJob(const AvrJob& job,
                                                  const std::vector<AvrStepOutcome>& outcomes,
                                                  const char* stopped)
{
    using Kind = AvrStepOutcome::Kind;
    const auto failed =
        std::ranges::find_if(outcomes, [](const AvrStepOutcome& out) { return !out.ok(); });
    if (failed == outcomes.end())
        return std::nullopt;
    const AvrStepOutcome& out = *failed;
    const AvrStep& step = job.steps[static_cast<std::size_t>(failed - outcomes.begin())];
    const std::string left = LeftText(job, outcomes);
    const auto withLeft = [&left](const std::string& text) {
        return left.empty() ? text : text + "\r" + left;
    };
    host_.NormalCursor();
    switch (out.kind) {
    case Kind::Stopped:
        // A write stopped before it sent anything has not touched the chip; a verify stopped
        // part of the way has compared only what it read, and says so, never that it differs.
        if (step.kind == AvrStep::Kind::Write && out.holds == AvrStepOutcome::Holds::Written)
            host_.MessageBox("Operation stopped during the verify: " + out.reason + ".\r" + left,
                             kStoppedCaption, Host::Kind::Warning);
        else if (step.kind == AvrStep::Kind::Write && left.empty())
            host_.MessageBox(kStoppedBeforeWriting, kStoppedCaption, Host::Kind::Warning);
        else
            host_.MessageBox(stopped, kStoppedCaption, Host::Kind::Warning);
        return Outcome::Stopped;
    case Kind::PortFault:
        host_.MessageBox(withLeft(std::string(kCommunicationError) + "\r" + out.reason), kError,
                         Host::Kind::Error);
        return Outcome::Failed;
    case Kind::Refused:
        host_.MessageBox(left.empty() ? out.reason + "\rNothing was written."
                                      : withLeft(out.reason),
                         kError, Host::Kind::Error);
        return Outcome::Failed;
    case Kind::ChipFault:
    case Kind::Cancelled:
    case Kind::NotRun:
        host_.MessageBox(withLeft(out.reason), kError, Host::Kind::Error);
        return Outcome::Failed;
    case Kind::Done:
        break;
    }
    // A verify or a blank check that found a difference.
    if (step.kind == AvrStep::Kind::BlankCheck) {
        host_.MessageBox(step.memory == AvrMemory::Flash ? "Flash is not blank!!!"
                                                         : "EEPROM is not blank!!!",
                         "NO BLANK", Host::Kind::Difference);
        return Outcome::Failed;
    }
    lastDifference_ = Difference{step.memory == AvrMemory::Flash, out.firstDifference, out.differs,
                                 out.chip, step.bytes};
    host_.MessageBox(DifferenceMessage(out.firstDifference), "End verification",
                     Host::Kind::Difference);
    return Outcome::Failed;
}

AvrPage::Outcome AvrPage::endOnPortFailure(const PortError& error)
{
    EndOnPortFailure(error, lines_, host_, kCommunicationError, erasing_);
    return Outcome::Failed;
}

AvrPage::Outcome AvrPage::erase()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    erasing_.clear();
    host_.BusyCursor();
    // No identification: the erase is what unlocks a read and write protected chip.
    if (!serial_.ProgrammingEnable()) {
        host_.NormalCursor();
        host_.MessageBox(kNotDetected, kError, Host::Kind::Error);
        serial_.AllLinesLow();
        return Outcome::Failed;
    }
    // A stop that came before the erase went out cancels it.
    host_.ProcessMessages();
    if (operations_.stopRequested())
        return stop(kStoppedBeforeErase);
    // The chip is not identified (a protected one could not be): the wait covers the slowest
    // erase of every part.
    erasing_ = "The chip may be erased.";
    serial_.ChipErase(WaitCovering(AvrSerial::kChipEraseMs, SlowestOfCatalogue().chipEraseUs));
    erasing_ = "The chip is erased.";
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox("Chip erased !!", "OK", Host::Kind::Success);
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error);
}

AvrPage::Outcome AvrPage::blankTest()
{
    AvrSession session(serial_, host_, operations_, partChoice);
    if (!session.acquired())
        return Outcome::Busy;
    host_.BusyCursor();
    if (const std::optional<Outcome> failed = openSession(session))
        return *failed;
    AvrJob job;
    job.progress = jobProgress();
    job.steps.push_back(AvrStep::BlankMemory(AvrMemory::Flash));
    job.steps.push_back(AvrStep::BlankMemory(AvrMemory::Eeprom));
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    if (const std::optional<Outcome> ended = endOfJob(job, outcomes, kStoppedChecking))
        return *ended;
    host_.NormalCursor();
    host_.MessageBox("Flash and internal eeprom are blank", "BLANK-TEST", Host::Kind::Verdict);
    return Outcome::Done;
}

AvrPage::Outcome AvrPage::btnBorrarClick()
{
    return EraseChip();
}

AvrPage::Outcome AvrPage::EraseChip()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reported({"Chip erased in {t}", "Erasing the chip", std::nullopt}, start, erase());
}

AvrPage::Outcome AvrPage::btnTestBlankClick()
{
    return BlankTest();
}

AvrPage::Outcome AvrPage::BlankTest()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    const Outcome outcome = blankTest();
    // A chip that is not blank is an answer, not a fault.
    if (outcome == Outcome::Failed && lastIdentification_ == Identification::Identified) {
        host_.StatusText("Blank test in " + DurationText(serial_.clock().nanoseconds() - start) +
                         ": not blank");
        return outcome;
    }
    return reported(
        {"Blank test in {t}: flash and internal eeprom are blank", "Blank test", std::nullopt},
        start, outcome);
}

} // namespace vardel
