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

std::string ByteText(std::uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

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
    device_ = nullptr;
    part_ = nullptr;
    partOps_.reset();
    // Until the chip has answered, it has not been detected (a port failure may end this early).
    lastIdentification_ = Identification::NotDetected;
    lastSignature_ = {};
    const AvrIdentity identity = IdentifyAvr(serial_);
    lastIdentification_ = identity.result;
    lastSignature_ = identity.signature;
    if (identity.result == Identification::NotDetected) {
        model_.selectPages(AvrPageModel::kPageEmpty);
        host_.MessageBox(kNotDetected, kError);
        serial_.AllLinesLow();
        return false;
    }
    model_.setDeviceClass(0);
    if (identity.result != Identification::Identified) {
        if (const std::string error = IdentificationError(identity); !error.empty())
            host_.MessageBox(error, kError);
        model_.selectPages(AvrPageModel::kPageEmpty);
        serial_.AllLinesLow();
        return false;
    }
    part_ = identity.part;
    device_ = identity.entry;
    partOps_.emplace(serial_, *part_, PacingFor(identity));
    if (device_) {
        // A catalogue part: shown on its own editor pages.
        ShowIdentified(model_, *device_);
    } else {
        // Any other part: named by its data, its bits on the page "Part", and programmed as its
        // data says. One that cannot read its lock bits (AT90S1200) writes them unchecked, as
        // the catalogue's AT90S parts do.
        model_.setLbTipo(part_->label());
        model_.selectPages(AvrPageModel::kPagePart);
        model_.setReadLockBitsEnabled(part_->instructions.lockRead != nullptr);
    }
    return true;
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

std::uint8_t AvrPage::readByte(Memory memory, std::uint32_t address)
{
    return memory == Memory::Flash ? partOps_->readFlash(address) : partOps_->readEeprom(address);
}

void AvrPage::progress(Memory memory, std::uint32_t index, std::uint32_t size)
{
    reached_ = index;
    reachedAt_ = serial_.clock().nanoseconds();
    // The address reached, every 256 bytes and at the end: "Flash 0x1A00 of 0x20000".
    if (index % 0x100 == 0 || index + 1 == size)
        host_.StatusText(std::string(memory == Memory::Flash ? "Flash " : "Internal eeprom ") +
                         AddressText(index + 1 == size ? size : index) + " of " +
                         AddressText(size));
    const int percent = static_cast<int>(std::ceil(index * 100.0 / size));
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
    host_.MessageBox(text, kStoppedCaption);
    return Outcome::Stopped;
}

bool AvrPage::loadImage(const std::string& fileName, ImageFile& file)
{
    // One byte more than the largest memory, so that a file too long for it gets its warning.
    ImageRead read = ReadImageFile(fileName, static_cast<std::size_t>(kPartFlashLoadLimit) + 1);
    switch (read.failure) {
    case ImageFailure::None:
        if (!read.warning.empty())
            host_.MessageBox(read.warning, kWarning);
        file = std::move(read.file);
        return true;
    case ImageFailure::UnknownKind:
        // Programming an erased chip, or comparing with 0xFF, because of a mistyped name would
        // pass for success.
        host_.MessageBox(kUnknownFileType, kError);
        return false;
    case ImageFailure::Unreadable:
        host_.MessageBox(kCantOpen, kError);
        return false;
    case ImageFailure::Malformed:
    case ImageFailure::Empty:
        host_.MessageBox(read.detail, kError);
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
        if (file.bin.size() > n) {
            const bool cut = file.bin.size() > static_cast<std::size_t>(kPartFlashLoadLimit);
            host_.MessageBox(
                std::string("File contains more data than processor can fit: the file holds ") +
                    (cut ? "more than " + std::to_string(kPartFlashLoadLimit)
                         : std::to_string(file.bin.size())) +
                    " bytes, the " + (flash ? "flash " : "EEPROM ") + std::to_string(n) + ".\r" +
                    (verifying ? "Only the first " + std::to_string(n) + " bytes are compared"
                               : std::string("Data will be truncated")),
                kWarning);
        }
        return true;
    }
    const AvrMemory which = flash ? AvrMemory::Flash : AvrMemory::Eeprom;
    const AvrPlacement split =
        PlaceAvrImage(file, which, std::span<std::uint8_t>(buffer.data(), memorySize(memory)));
    if (split.placed.inside == 0) {
        host_.NormalCursor();
        serial_.AllLinesLow();
        host_.MessageBox(kNoDataForMemory, kError);
        return false;
    }
    // A whole program's file: the other memories' bytes are never taken for this one's.
    if (!split.others.empty())
        host_.MessageBox(OtherMemoriesWarning(split, which), kWarning);
    if (split.placed.outside > 0)
        host_.MessageBox(OutsideMemoryWarning(split.placed), kWarning);
    return true;
}

AvrPage::Outcome AvrPage::readToFile(Memory memory)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    const std::optional<std::string> fileName = dialogs.save ? dialogs.save() : std::nullopt;
    if (!fileName)
        return Outcome::Cancelled;
    // A name that selects no format would have the whole read thrown away without a word.
    const FileKind kind = FileKindOf(*fileName);
    if (kind == FileKind::Other) {
        host_.MessageBox(kUnknownFileType, kError);
        return Outcome::Failed;
    }

    host_.BusyCursor();
    if (!IdentifyDevice()) {
        host_.NormalCursor();
        return Outcome::Failed;
    }
    const std::uint32_t n = memorySize(memory);
    std::vector<std::uint8_t> image(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        image[i] = readByte(memory, i);
        progress(memory, i, n);
        if (stopRequested())
            return stop(kStoppedReading);
    }
    host_.NormalCursor();

    bool written = false;
    if (kind == FileKind::Bin) {
        host_.BusyCursor();
        written = WriteBinaryFile(*fileName, image.data(), image.size());
        host_.NormalCursor();
    } else {
        written = WriteIntelHexFile(*fileName, image.data(), image.size());
    }
    if (!written) {
        host_.MessageBox(kCantCreate, kError);
        serial_.AllLinesLow();
        return Outcome::Failed;
    }
    serial_.AllLinesLow();
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error);
}

AvrPage::Outcome AvrPage::verifyWithFile(Memory memory)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    lastDifference_.reset();
    const char* title = memory == Memory::Flash ? kVerifyFlashTitle : kVerifyEepromTitle;
    const std::optional<std::string> fileName = dialogs.open ? dialogs.open(title) : std::nullopt;
    if (!fileName)
        return Outcome::Cancelled;
    // The file is read before the chip is powered: a file that cannot be read must not be
    // compared as if it were all 0xFF.
    ImageFile file;
    if (!loadImage(*fileName, file))
        return Outcome::Failed;

    host_.BusyCursor();
    if (!IdentifyDevice()) {
        host_.NormalCursor();
        return Outcome::Failed;
    }
    std::vector<std::uint8_t> image;
    if (!placeImage(memory, file, image, true))
        return Outcome::Failed;
    const std::uint32_t n = memorySize(memory);
    // The whole memory is compared, so that every difference can be shown, not only the first.
    std::vector<std::uint8_t> chip(n);
    std::optional<std::uint32_t> difference;
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        chip[i] = readByte(memory, i);
        if (chip[i] != image[i]) {
            if (!difference)
                difference = i;
            ++count;
        }
        progress(memory, i, n);
        if (stopRequested())
            return stop(kStoppedChecking);
    }
    if (difference)
        lastDifference_ = Difference{memory == Memory::Flash, *difference, count, std::move(chip),
                                     std::vector<std::uint8_t>(image.begin(), image.begin() + n)};
    host_.NormalCursor();
    if (difference)
        host_.MessageBox(DifferenceMessage(*difference), "End verification");
    else
        host_.MessageBox("VERIFICATION: OK !!!!!", "Verification complete");
    serial_.AllLinesLow();
    return difference ? Outcome::Failed : Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error);
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

AvrPage::Outcome AvrPage::btnLeerFlashClick()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reported({"Read {n} bytes of flash in {t}", "Reading flash", Memory::Flash}, start,
                    readToFile(Memory::Flash));
}
AvrPage::Outcome AvrPage::btnLeerEEPIntClick()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reported(
        {"Read {n} bytes of internal eeprom in {t}", "Reading internal eeprom", Memory::Eeprom},
        start, readToFile(Memory::Eeprom));
}
AvrPage::Outcome AvrPage::btnFLashVerifClick()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reportedVerify(reported(
        {"Verified {n} bytes of flash in {t}: no difference", "Verifying flash", Memory::Flash},
        start, verifyWithFile(Memory::Flash)));
}
AvrPage::Outcome AvrPage::btnEEPIntClick()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reportedVerify(reported({"Verified {n} bytes of internal eeprom in {t}: no difference",
                                    "Verifying internal eeprom", Memory::Eeprom},
                                   start, verifyWithFile(Memory::Eeprom)));
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

AvrPage::Outcome AvrPage::btnProgFlashClick()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reported(
        {"Programmed {n} bytes of flash in {t}, not verified", "Programming flash", Memory::Flash},
        start, programFromFile(Memory::Flash));
}

AvrPage::Outcome AvrPage::BitBtn1Click()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reported({"Programmed {n} bytes of internal eeprom in {t}, not verified",
                     "Programming internal eeprom", Memory::Eeprom},
                    start, programFromFile(Memory::Eeprom));
}

AvrPage::Outcome AvrPage::programFromFile(Memory memory)
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    const std::optional<std::string> fileName =
        dialogs.open ? dialogs.open(kOpenTitle) : std::nullopt;
    if (!fileName)
        return Outcome::Cancelled;
    // Flash programming starts with an erase, and every EEPROM byte is written: a file that
    // cannot be read must stop the command before either.
    ImageFile file;
    if (!loadImage(*fileName, file))
        return Outcome::Failed;

    leaving(Left::Untouched);
    host_.BusyCursor();
    if (!IdentifyDevice()) {
        host_.NormalCursor();
        serial_.AllLinesLow();
        return Outcome::Failed;
    }
    // Which addresses count as inside is known once the chip is: still before the erase.
    std::vector<std::uint8_t> image;
    if (!placeImage(memory, file, image))
        return Outcome::Failed;
    // A stop that came while the file was checked ends the command before the chip changes.
    host_.ProcessMessages();
    if (stopRequested())
        return stop(kStoppedBeforeWriting);
    if (memory == Memory::Flash) {
        // The erase also releases the lock bits: they are looked at after it.
        leaving(Left::FlashErasing);
        partOps_->chipErase();
        leaving(Left::FlashErased);
    }
    if (const Outcome locked = refuseIfLocked(memory); locked != Outcome::Done)
        return locked;
    return memory == Memory::Eeprom ? programEeprom(image) : programFlash(image);
} catch (const PortError& error) {
    return endOnPortFailure(error);
}

AvrPage::Outcome AvrPage::ProgramVerifyFlash()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reportedVerify(reported(
        {"Programmed and verified {n} bytes of flash in {t}", "Programming flash", Memory::Flash},
        start, programVerified(Memory::Flash)));
}

AvrPage::Outcome AvrPage::ProgramVerifyEeprom()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reportedVerify(reported({"Programmed and verified {n} bytes of internal eeprom in {t}",
                                    "Programming internal eeprom", Memory::Eeprom},
                                   start, programVerified(Memory::Eeprom)));
}

AvrPage::Outcome AvrPage::programVerified(Memory memory)
{
    if (operations_.busy())
        return Outcome::Busy;
    lastDifference_.reset();
    const std::optional<std::string> fileName =
        dialogs.open ? dialogs.open(kOpenTitle) : std::nullopt;
    if (!fileName)
        return Outcome::Cancelled;
    ImageFile file;
    if (!loadImage(*fileName, file))
        return Outcome::Failed;
    AvrSession session(serial_, host_, operations_);
    host_.BusyCursor();
    const AvrStepOutcome opened = session.open();
    device_ = nullptr;
    part_ = nullptr;
    partOps_.reset();
    lastIdentification_ = session.identity().result;
    lastSignature_ = session.identity().signature;
    if (opened.kind != AvrStepOutcome::Kind::Done) {
        host_.NormalCursor();
        model_.selectPages(AvrPageModel::kPageEmpty);
        if (!opened.reason.empty())
            host_.MessageBox(opened.reason, kError);
        return opened.kind == AvrStepOutcome::Kind::Refused ? Outcome::Busy : Outcome::Failed;
    }
    part_ = &session.part();
    device_ = session.identity().entry;
    partOps_.emplace(serial_, *part_, PacingFor(session.identity()));
    if (device_) {
        ShowIdentified(model_, *device_);
    } else {
        model_.setLbTipo(part_->label());
        model_.selectPages(AvrPageModel::kPagePart);
        model_.setReadLockBitsEnabled(part_->instructions.lockRead != nullptr);
    }
    std::vector<std::uint8_t> image;
    if (!placeImage(memory, file, image))
        return Outcome::Failed;
    const std::uint32_t n = memorySize(memory);
    image.resize(n);
    const AvrMemory which = memory == Memory::Flash ? AvrMemory::Flash : AvrMemory::Eeprom;
    AvrJob job;
    job.progress = [this, memory](const AvrStep&, std::uint32_t index, std::uint32_t size) {
        progress(memory, index, size);
    };
    if (memory == Memory::Flash)
        job.steps.push_back(AvrStep::EraseChip());
    job.steps.push_back(AvrStep::Program(which, image, true));
    const std::vector<AvrStepOutcome> outcomes = session.run(job);
    session.close();
    host_.NormalCursor();
    const AvrStepOutcome& out = outcomes.back();
    using K = AvrStepOutcome::Kind;
    const std::string holds = HoldsText(job.steps, outcomes);
    if (outcomes.front().kind == K::PortFault || out.kind == K::PortFault) {
        host_.MessageBox((outcomes.front().kind == K::PortFault ? outcomes.front() : out).reason +
                             "\r" + "The chip: " + holds + ".",
                         kError);
        return Outcome::Failed;
    }
    if (out.kind == K::Stopped || outcomes.front().kind == K::Stopped) {
        host_.MessageBox(out.holds == AvrStepOutcome::Holds::Written
                             ? "Operation stopped during the verify: " + out.reason + "."
                             : std::string(out.holds == AvrStepOutcome::Holds::Unchanged &&
                                                   memory == Memory::Eeprom
                                               ? kStoppedBeforeWriting
                                               : kStoppedWriting),
                         kStoppedCaption);
        return Outcome::Stopped;
    }
    if (out.kind != K::Done) {
        host_.MessageBox(
            out.reason + (out.kind == K::ChipFault ? "\rThe chip: " + holds + "." : ""), kError);
        return Outcome::Failed;
    }
    if (out.differs) {
        lastDifference_ =
            Difference{memory == Memory::Flash, out.firstDifference, out.differs, out.chip, image};
        host_.MessageBox(DifferenceMessage(out.firstDifference), "End verification");
        return Outcome::Failed;
    }
    host_.MessageBox("VERIFICATION: OK !!!!!", "Verification complete");
    return Outcome::Done;
}

std::optional<int> AvrPage::readLockMode()
{
    return partOps_ ? ReadLockMode(serial_, *partOps_) : std::nullopt;
}

AvrPage::Outcome AvrPage::refuseIfLocked(Memory memory)
{
    const std::optional<int> mode = readLockMode();
    if (!mode || *mode == 1)
        return Outcome::Done;
    return failWrite(std::string("The lock bits forbid programming the ") +
                     (memory == Memory::Flash ? "flash" : "EEPROM") +
                     ": the chip is in lock mode " + std::to_string(*mode) +
                     (*mode == 3 ? " (LB1 and LB2 programmed)" : " (LB1 programmed)") +
                     ".\rOnly \"Erase chip\" releases them, and it erases the flash and the "
                     "EEPROM with them." +
                     (left_ == Left::Untouched ? "\rNothing was written." : ""));
}

bool AvrPage::readsBack(Memory memory, std::uint32_t start, std::span<const std::uint8_t> bytes)
{
    for (std::uint32_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t held = readByte(memory, start + i);
        if (held != bytes[i]) {
            failWrite("The chip did not take the write at " + AddressText(start + i) + ": " +
                      ByteText(bytes[i]) + " written, " + ByteText(held) + " read back.");
            return false;
        }
    }
    return true;
}

std::string AvrPage::leftText() const
{
    switch (left_) {
    case Left::Untouched:
        return {};
    case Left::ChipErasing:
        return "The chip may be erased.";
    case Left::ChipErased:
        return "The chip is erased.";
    case Left::FlashErasing:
        return "The flash may be erased.";
    case Left::FlashErased:
        return "The flash is erased.";
    case Left::Flash:
        return "The flash is erased and partly written (up to " + AddressText(leftAt_) + ").";
    case Left::Eeprom:
        return "The EEPROM is partly written (up to " + AddressText(leftAt_) + ").";
    }
    return {};
}

AvrPage::Outcome AvrPage::failWrite(const std::string& text)
{
    const std::string left = leftText();
    host_.NormalCursor();
    serial_.AllLinesLow();
    host_.MessageBox(left.empty() ? text : text + "\r" + left, kError);
    return Outcome::Failed;
}

AvrPage::Outcome AvrPage::endOnPortFailure(const PortError& error)
{
    EndOnPortFailure(error, lines_, host_, kCommunicationError, leftText());
    return Outcome::Failed;
}

AvrPage::Outcome AvrPage::communicationError()
{
    return failWrite(kCommunicationError);
}

AvrPage::Outcome AvrPage::programFlash(const std::vector<std::uint8_t>& image)
{
    const AvrPart& part = partOps_->part();
    const std::uint32_t n = part.flashBytes;
    const std::uint32_t unit = part.flashPageBytes ? part.flashPageBytes : 1;
    for (std::uint32_t start = 0; start < n; start += unit) {
        const std::span<const std::uint8_t> bytes(image.data() + start, unit);
        // The erase left 0xFF everywhere: a page or byte of nothing else needs no write.
        const bool blank =
            std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
        if (!blank) {
            leaving(Left::Flash, start);
            const AvrPartOps::Write written = part.flashPageBytes
                                                  ? partOps_->writeFlashPage(start, bytes)
                                                  : partOps_->writeFlashByte(start, bytes[0]);
            if (written == AvrPartOps::Write::Failed)
                return communicationError();
            // RDY/BSY, a fixed wait, or the poll of one byte of the page: none of them says the
            // chip holds the rest.
            if (written != AvrPartOps::Write::Polled && !readsBack(Memory::Flash, start, bytes))
                return Outcome::Failed;
        }
        // The address reached, byte by byte, as the window's status line shows it.
        for (std::uint32_t i = start; i < start + unit; ++i)
            progress(Memory::Flash, i, n);
        if (stopRequested())
            return stop(kStoppedWriting);
    }
    host_.NormalCursor();
    serial_.AllLinesLow();
    return Outcome::Done;
}

AvrPage::Outcome AvrPage::programEeprom(const std::vector<std::uint8_t>& image)
{
    const std::uint32_t n = partOps_->part().eepromBytes;
    // A page at a time where the part writes its EEPROM by pages, else a byte at a time.
    const std::uint32_t unit = partOps_->eepromWriteBytes();
    for (std::uint32_t start = 0; start < n; start += unit) {
        const std::span<const std::uint8_t> bytes(image.data() + start, std::min(unit, n - start));
        leaving(Left::Eeprom, start);
        const AvrPartOps::Write written = unit > 1 ? partOps_->writeEepromPage(start, bytes)
                                                   : partOps_->writeEepromByte(start, bytes[0]);
        if (written == AvrPartOps::Write::Failed)
            return communicationError();
        // A write the chip confirmed by answering the value has been read back already.
        if (written != AvrPartOps::Write::Polled && !readsBack(Memory::Eeprom, start, bytes))
            return Outcome::Failed;
        for (std::uint32_t i = start; i < start + bytes.size(); ++i)
            progress(Memory::Eeprom, i, n);
        if (stopRequested())
            return stop(kStoppedWriting);
    }
    host_.NormalCursor();
    serial_.AllLinesLow();
    return Outcome::Done;
}

AvrPage::Outcome AvrPage::erase()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    leaving(Left::Untouched);
    host_.BusyCursor();
    // No identification: the erase is what unlocks a read and write protected chip.
    if (!serial_.ProgrammingEnable()) {
        host_.NormalCursor();
        host_.MessageBox(kNotDetected, kError);
        serial_.AllLinesLow();
        return Outcome::Failed;
    }
    // A stop that came before the erase went out cancels it.
    host_.ProcessMessages();
    if (stopRequested())
        return stop(kStoppedBeforeErase);
    // The chip is not identified (a protected one could not be): the wait covers the slowest
    // erase of every part.
    leaving(Left::ChipErasing);
    serial_.ChipErase(WaitCovering(AvrSerial::kChipEraseMs, SlowestOfCatalogue().chipEraseUs));
    leaving(Left::ChipErased);
    serial_.AllLinesLow();
    host_.NormalCursor();
    host_.MessageBox("Chip erased !!", "OK");
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error);
}

AvrPage::Outcome AvrPage::blankTest()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    host_.BusyCursor();
    struct Phase {
        Memory memory;
        const char* notBlank;
    };
    for (const Phase phase : {Phase{Memory::Flash, "Flash is not blank!!!"},
                              Phase{Memory::Eeprom, "EEPROM is not blank!!!"}}) {
        // Each phase starts from a fresh power cycle.
        if (!IdentifyDevice()) {
            host_.NormalCursor();
            return Outcome::Failed;
        }
        const std::uint32_t n = memorySize(phase.memory);
        std::vector<std::uint8_t> image(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            image[i] = readByte(phase.memory, i);
            progress(phase.memory, i, n);
            if (stopRequested())
                return stop(kStoppedChecking);
        }
        if (std::any_of(image.begin(), image.end(), [](std::uint8_t b) { return b != 0xFF; })) {
            host_.NormalCursor();
            serial_.AllLinesLow();
            host_.MessageBox(phase.notBlank, "NO BLANK");
            return Outcome::Failed;
        }
        serial_.AllLinesLow();
    }
    host_.NormalCursor();
    serial_.AllLinesLow();
    host_.MessageBox("Flash and internal eeprom are blank", "BLANK-TEST");
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error);
}

AvrPage::Outcome AvrPage::btnBorrarClick()
{
    const std::int64_t start = serial_.clock().nanoseconds();
    return reported({"Chip erased in {t}", "Erasing the chip", std::nullopt}, start, erase());
}

AvrPage::Outcome AvrPage::btnTestBlankClick()
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
