// The EEPROM page's commands on an SPI NOR flash: SpiFlash does the work, the page keeps the
// image, the status line and the question about block protection.
#include "i2c/eeprom_page.h"

#include "hw/outcome_text.h"
#include "hw/port_failure.h"

#include <algorithm>

namespace vardel {

namespace {
std::string idText(const std::uint8_t* id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", id[0], id[1], id[2]);
    return text;
}
} // namespace

bool EepromPage::flashMatches(SpiFlash& flash, const std::string& command, bool sized)
{
    if (flash.Identify() != SpiFlash::Outcome::Done) {
        report(command + " failed: no chip answered");
        return false;
    }
    const SpiFlashPart& part = *flash.part();
    const bool autoDetect = typeIndex_ == kFlashAutoDetect;
    std::string error;
    if (!part.bytes)
        error = "The chip with JEDEC ID " + idText(flash.id()) +
                " is not a known part: its size cannot be known.";
    else if (!autoDetect && part.name != std::string(type().name))
        error = std::string("The chip is a ") + part.name + " (JEDEC ID " + idText(flash.id()) +
                "), not the " + type().name + " chosen: choose it, or SPI flash (auto-detect).";
    else if (sized && ChipSize == 0)
        error = std::string("The image holds nothing yet: read the ") + part.name +
                ", or choose it in the list and open a file for it first.";
    else if (sized && ChipSize != part.bytes)
        error = "The image holds " + std::to_string(ChipSize) + " bytes, the " + part.name +
                " holds " + std::to_string(part.bytes) +
                ": read the chip or open a file for it first.";
    if (!error.empty()) {
        host_.NormalCursor();
        host_.MessageBox(error, "ERROR", Host::Kind::Error);
        report(command + " failed: " +
               (part.bytes ? "the chip is a " + std::string(part.name) : "an unknown chip"));
        return false;
    }
    if (autoDetect) {
        detectedFlash_ = part.name;
        if (ChipSize != part.bytes) {
            setImageSize(part.bytes);
            std::fill_n(EepromImage.begin(), ChipSize, 0xFF);
            refresh();
        }
    }
    return true;
}

EepromPage::Outcome EepromPage::flashRead()
try {
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    SpiFlash flash(lines_, bus_.timing(), host_, operations_);
    host_.BusyCursor();
    if (!flashMatches(flash, "Read", false))
        return Outcome::Failed;
    std::vector<std::uint8_t> bytes;
    const SpiFlash::Outcome read = flash.Read(bytes);
    host_.NormalCursor();
    if (read == SpiFlash::Outcome::Cancelled) {
        report("Read cancelled: the chip's bytes were not taken into the image");
        return Outcome::Cancelled;
    }
    if (read != SpiFlash::Outcome::Done) {
        report("Read failed: the " + chipName() + " was not read");
        return Outcome::Failed;
    }
    std::copy(bytes.begin(), bytes.end(), EepromImage.begin());
    refresh();
    report("Read " + std::to_string(ChipSize) + " bytes from " + chipName() + " in " +
           elapsedSince(start));
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error, false);
}

void EepromPage::protectFlash(SpiFlash& flash, bool& asked, const char* does)
{
    flash.clearProtection = protection == Protection::Clear;
    if (protection == Protection::Ask)
        flash.askClearProtection = [this, &asked, does](const std::string& range) {
            asked = true;
            host_.NormalCursor();
            const bool clear = host_.MessageBox(range + "\rClear the block-protect bits and " +
                                                    does + " the chip?",
                                                "WARNING:", Host::Kind::Question,
                                                Host::Buttons::OkCancelDefaultCancel,
                                                Host::Icon::Exclamation) == Host::Result::Ok;
            host_.BusyCursor();
            return clear;
        };
}

EepromPage::Outcome EepromPage::flashProgram(bool verify)
try {
    programmed_ = false;
    refusedProtected_ = false;
    lastDifference_.reset();
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    SpiFlash flash(lines_, bus_.timing(), host_, operations_);
    bool asked = false;
    protectFlash(flash, asked, "program");
    host_.BusyCursor();
    if (!flashMatches(flash, "Programming", true))
        return Outcome::Failed;
    const std::vector<std::uint8_t> image(EepromImage.begin(), EepromImage.begin() + ChipSize);
    const SpiFlash::Outcome done = flash.Program(image, verify);
    host_.NormalCursor();
    const std::string work = std::to_string(flash.sectorsErased) + " sectors and " +
                             std::to_string(flash.blocksErased) + " blocks erased, " +
                             std::to_string(flash.pagesProgrammed) + " pages programmed";
    switch (done) {
    case SpiFlash::Outcome::Done:
        programmed_ = true;
        report("Programmed " + chipName() + " in " + elapsedSince(start) + ": " + work +
               (verify ? ", verified" : ", not verified"));
        return Outcome::Done;
    case SpiFlash::Outcome::Different: {
        programmed_ = true;
        Difference found;
        found.chip = flash.chipBytes();
        for (int i = 0; i < ChipSize; ++i)
            if (found.chip[static_cast<std::size_t>(i)] != EepromImage[i] && found.count++ == 0)
                found.first = i;
        lastDifference_ = std::move(found);
        report("Verify found " + std::to_string(lastDifference_->count) +
               " differing bytes after programming, the first at " +
               AddressText(static_cast<std::uint32_t>(lastDifference_->first)));
        return Outcome::Failed;
    }
    case SpiFlash::Outcome::Cancelled:
        report("Programming cancelled: chip partly programmed (" + work + ")");
        return Outcome::Cancelled;
    case SpiFlash::Outcome::Failed:
        break;
    }
    if (flash.refusedProtected) {
        refusedProtected_ = true;
        report("Programming refused: the chip is write-protected, nothing written");
        return asked ? Outcome::Cancelled : Outcome::Failed;
    }
    report("Programming failed: " + work);
    return Outcome::Failed;
} catch (const PortError& error) {
    return endOnPortFailure(error, false);
}

EepromPage::Outcome EepromPage::flashVerify()
try {
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    SpiFlash flash(lines_, bus_.timing(), host_, operations_);
    host_.BusyCursor();
    if (!flashMatches(flash, "Verify", true))
        return Outcome::Failed;
    const std::vector<std::uint8_t> image(EepromImage.begin(), EepromImage.begin() + ChipSize);
    const SpiFlash::Outcome done = flash.Verify(image);
    host_.NormalCursor();
    if (done == SpiFlash::Outcome::Cancelled) {
        report("Verify cancelled: nothing compared");
        return Outcome::Cancelled;
    }
    if (done == SpiFlash::Outcome::Failed) {
        report("Verify failed: the " + chipName() + " was not read");
        return Outcome::Failed;
    }
    if (done == SpiFlash::Outcome::Different) {
        Difference found;
        found.chip = flash.chipBytes();
        for (int i = 0; i < ChipSize; ++i)
            if (found.chip[static_cast<std::size_t>(i)] != EepromImage[i] && found.count++ == 0)
                found.first = i;
        lastDifference_ = std::move(found);
        report("Verify found " + std::to_string(lastDifference_->count) +
               (lastDifference_->count == 1 ? " differing byte" : " differing bytes") +
               ", the first at " + AddressText(static_cast<std::uint32_t>(lastDifference_->first)));
        return Outcome::Failed;
    }
    report("Verified " + std::to_string(ChipSize) + " bytes of " + chipName() + " in " +
           elapsedSince(start) + ": no difference");
    host_.MessageBox("Weryfikacja chipu przebiegła prawidłowo!!!", "VERIFICATION COMPLETE",
                     Host::Kind::Verdict);
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error, false);
}

EepromPage::Outcome EepromPage::flashErase()
try {
    refusedProtected_ = false;
    if (host_.MessageBox("Erase the whole " + chipName() + "? Every byte becomes FF.",
                         "WARNING:", Host::Kind::Question, Host::Buttons::OkCancelDefaultCancel,
                         Host::Icon::Exclamation) != Host::Result::Ok) {
        report("Erase cancelled: nothing done");
        return Outcome::Cancelled;
    }
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    SpiFlash flash(lines_, bus_.timing(), host_, operations_);
    bool asked = false;
    protectFlash(flash, asked, "erase");
    host_.BusyCursor();
    if (!flashMatches(flash, "Erase", false))
        return Outcome::Failed;
    const SpiFlash::Outcome done = flash.EraseChip();
    host_.NormalCursor();
    if (done == SpiFlash::Outcome::Done) {
        report("Erased all " + std::to_string(flash.size()) + " bytes of " + chipName() + " in " +
               elapsedSince(start));
        return Outcome::Done;
    }
    if (flash.refusedProtected) {
        refusedProtected_ = true;
        report("Erase refused: the chip is write-protected, nothing erased");
        return asked ? Outcome::Cancelled : Outcome::Failed;
    }
    report("Erase failed: the " + chipName() + " may be partly erased");
    return Outcome::Failed;
} catch (const PortError& error) {
    return endOnPortFailure(error, false);
}

} // namespace vardel
