#include "i2c/eeprom_page.h"

#include "files/binary_file.h"
#include "files/image_file.h"
#include "files/unHEX.h"
#include "hw/outcome_text.h"
#include "hw/port_failure.h"

#include <algorithm>
#include <cmath>

namespace vardel {

namespace {
const char* kReadSuffix = " bytes read...";
const char* kProgramSuffix = " bytes deleted...";
} // namespace

EepromPage::EepromPage(LineDriver& lines, BitTiming& timing, Host& host, OperationLock& operations)
    : EepromImage(kImageCapacity, 0), EepromBackup(kImageCapacity, 0), lines_(lines), host_(host),
      operations_(operations), bus_(lines, timing)
{
}

std::string EepromPage::AckMessage()
{
    return "Brak potwierdzenia odbioru danych przez chip!!!\r            (Didn't receive ACK)";
}

void EepromPage::refresh()
{
    if (RefreshGrid)
        RefreshGrid();
}

void EepromPage::report(std::string text)
{
    lastOutcome_ = std::move(text);
    host_.StatusText(lastOutcome_);
}

std::string EepromPage::elapsedSince(std::int64_t start)
{
    return DurationText(bus_.timing().clock().nanoseconds() - start);
}

void EepromPage::cbChipChange(int index)
{
    if (index < 0 || index >= static_cast<int>(EepromList().size()))
        return;
    typeIndex_ = index;
    detectedFlash_.clear();
    setImageSize(type().size);
    std::fill_n(EepromImage.begin(), ChipSize, 0xFF);
    refresh();
}

std::string EepromPage::chipName() const
{
    return detectedFlash_.empty() ? type().name : detectedFlash_;
}

std::size_t EepromPage::imageCapacity() const
{
    return std::max(kImageCapacity, static_cast<std::size_t>(ChipSize) + 1);
}

void EepromPage::setImageSize(int size)
{
    ChipSize = size;
    // A flash's image is its size; back on an EEPROM type the memory is given back.
    const std::size_t capacity = imageCapacity();
    EepromImage.resize(capacity, 0xFF);
    EepromBackup.resize(capacity, 0xFF);
    if (capacity == kImageCapacity) {
        EepromImage.shrink_to_fit();
        EepromBackup.shrink_to_fit();
    }
}

bool EepromPage::cancelRequested()
{
    return host_.CancelFlag() || operations_.stopRequested();
}

void EepromPage::progress(int position, const char* suffix)
{
    host_.ProgressLabel(std::to_string(position) + suffix);
    host_.ProgressGauge(static_cast<int>(std::ceil(position * 100.0 / ChipSize)));
}

bool EepromPage::addressForRead(unsigned address)
{
    const EepromType& t = type();
    bus_.I2CStart();
    bus_.Pause();
    bus_.I2CWriteByte(ControlByte(t, address, false));
    bool acked = bus_.I2CReadAck();
    for (int i = t.addressBytes - 1; acked && i >= 0; --i) {
        bus_.Pause();
        bus_.I2CWriteByte(static_cast<std::uint8_t>(address >> (8 * i)));
        acked = bus_.I2CReadAck();
    }
    if (acked) {
        bus_.Pause();
        bus_.I2CStart();
        bus_.Pause();
        bus_.I2CWriteByte(ControlByte(t, address, true));
        acked = bus_.I2CReadAck();
    }
    return acked;
}

bool EepromPage::EepromReadAll()
{
    bus_.I2CIdle();
    bus_.Pause();
    // A bus that stays low with both lines released would read as acknowledges and zero bytes:
    // a stuck SDA is no chip.
    if (!lines_.ReadI2CSda()) {
        bus_.I2CStop();
        return false;
    }
    if (!addressForRead(0)) {
        bus_.I2CStop();
        return false;
    }
    bus_.Pause();
    // The master acknowledges each byte as it asks for the next one.
    const bool read = readBytes([this](int i) -> std::optional<std::uint8_t> {
        if (i > 0 && i % kWordAddressSpan == 0) {
            // The end of the word address's reach: the read ends here as a cancelled one does,
            // and the next half is addressed with its own device address.
            bus_.I2CMasterNack();
            bus_.I2CStop();
            bus_.Pause();
            if (!addressForRead(static_cast<unsigned>(i)))
                return std::nullopt;
            bus_.Pause();
        } else if (i > 0) {
            bus_.I2CMasterAck();
        }
        return bus_.I2CReadByte();
    });
    // The last byte, or the byte in hand of a cancelled read, is not acknowledged: an
    // acknowledge would have the chip send the next byte, whose 0 bit would hold SDA low
    // through the STOP.
    if (read)
        bus_.I2CMasterNack();
    bus_.I2CStop();
    lines_.SetI2CLines(0, 0, 0);
    return read;
}

std::string EepromPage::NoAnswerMessage() const
{
    return std::string("No answer from the ") + type().name + " in the AVR socket" +
           (type().bus == EepromBus::Spi
                ? " (its status register reads FF: nothing drives SO)"
                : " (no 0 bit after the READ address: an empty socket, or a chip wired for the "
                  "other organisation, x8 or x16)");
}

SpiBus EepromPage::spiBus()
{
    return SpiBus(lines_, bus_.timing(), type().addressBytes, ChipSize);
}

MicrowireBus EepromPage::microwireBus()
{
    return MicrowireBus(lines_, bus_.timing(), type().addressBits, type().wordBits);
}

bool EepromPage::readChip()
{
    switch (type().bus) {
    case EepromBus::Spi:
        return spiReadAll();
    case EepromBus::Microwire:
        return microwireReadAll();
    case EepromBus::SpiFlash:
        // Read through SpiFlash (flashRead), never here.
        return false;
    case EepromBus::I2C:
        break;
    }
    return EepromReadAll();
}

bool EepromPage::readBytes(const std::function<std::optional<std::uint8_t>(int)>& next)
{
    host_.ProgressGauge(0);
    host_.ProgressShow();
    readCancelled_ = false;
    for (int i = 0; i < ChipSize; ++i) {
        const std::optional<std::uint8_t> byte = next(i);
        if (!byte) {
            host_.ProgressHide();
            return false;
        }
        EepromImage[i] = *byte;
        progress(i, kReadSuffix);
        host_.ProcessMessages();
        if (cancelRequested()) {
            readCancelled_ = true;
            readReached_ = i;
            break;
        }
    }
    host_.ProgressHide();
    return true;
}

bool EepromPage::spiReadAll()
{
    SpiBus spi = spiBus();
    spi.SpiIdle();
    bus_.timing().WaitMilliseconds(kPowerUpMs);
    // A write cycle still running (the supply went on moments after a write) ignores READ.
    const bool answered = spi.WaitWhileBusy(kBusyLimitMs, false).has_value();
    if (answered) {
        spi.BeginTransfer(SpiBus::kRead, 0);
        readBytes([&spi](int) { return spi.SpiTransfer(0); });
        spi.Deselect();
    }
    lines_.SetAvrLines(0, 0, 0, 0, 0);
    return answered;
}

bool EepromPage::microwireAnswers(MicrowireBus& wire)
{
    wire.MicrowireIdle();
    bus_.timing().WaitMilliseconds(kPowerUpMs);
    // A whole word read, so that the READ is a complete instruction on the wire.
    const bool answered = wire.BeginRead(0);
    wire.ReadWord();
    wire.Deselect();
    return answered;
}

std::optional<EepromPage::Difference> EepromPage::notErased(MicrowireBus& wire)
{
    Difference left;
    // No dummy 0: nothing drives DO, and its pull-up would read as erased words.
    if (!wire.BeginRead(0))
        left.count = ChipSize;
    const int bytesPerWord = wire.wordBits() / 8;
    for (int i = 0; left.count < ChipSize && i < ChipSize; i += bytesPerWord) {
        const std::uint32_t word = wire.ReadWord();
        for (int b = 0; b < bytesPerWord; ++b) {
            if (((word >> (8 * (bytesPerWord - 1 - b))) & 0xFF) == 0xFF)
                continue;
            if (left.count++ == 0)
                left.first = i + b;
        }
    }
    wire.Deselect();
    return left.count ? std::optional<Difference>(left) : std::nullopt;
}

bool EepromPage::wordReads(MicrowireBus& wire, int index, std::uint32_t word)
{
    const bool read = wire.BeginRead(static_cast<unsigned>(index)) && wire.ReadWord() == word;
    wire.Deselect();
    return read;
}

std::string EepromPage::OrganisationText() const
{
    return type().wordBits == 8 ? "organised in bytes (x8, ORG low)"
                                : "organised in 16-bit words (x16, ORG high)";
}

std::string EepromPage::OtherOrganisation() const
{
    // The x8 and x16 types of a size are named alike but for their ending.
    const std::string name = type().name;
    return name.substr(0, name.rfind('x')) + (type().wordBits == 8 ? "x16" : "x8");
}

std::string EepromPage::organisationMessage(int address) const
{
    const std::string name = type().name;
    const bool bytes = type().wordBits == 8;
    const std::string other = OtherOrganisation();
    return "The chip showed no write cycle after the write at byte no. " + std::to_string(address) +
           ": is it wired for " + (bytes ? "16-bit words (ORG high)" : "bytes (ORG low)") +
           "? Then it is a " + other + ", not a " + name + ".";
}

bool EepromPage::microwireReadAll()
{
    MicrowireBus wire = microwireBus();
    wire.MicrowireIdle();
    bus_.timing().WaitMilliseconds(kPowerUpMs);
    const bool answered = wire.BeginRead(0);
    organisationDoubt_ = wire.endedAddressEarly() && wire.wordBits() == 8;
    if (answered) {
        // A 16-bit word fills two bytes of the image, its high byte first, as it comes off DO.
        const int bytesPerWord = wire.wordBits() / 8;
        std::uint32_t word = 0;
        readBytes([&](int i) {
            if (i % bytesPerWord == 0)
                word = wire.ReadWord();
            return static_cast<std::uint8_t>(word >> (8 * (bytesPerWord - 1 - i % bytesPerWord)));
        });
    }
    wire.Deselect();
    lines_.SetAvrLines(0, 0, 0, 0, 0);
    return answered;
}

bool EepromPage::EepromWritePage(unsigned address)
{
    const EepromType& t = type();
    bus_.I2CIdle();
    if (!lines_.ReadI2CSda()) {
        bus_.I2CStop();
        return false;
    }
    bus_.I2CStart();
    bus_.I2CWriteByte(ControlByte(t, address, false));
    bool acked = bus_.I2CReadAck();
    if (acked && t.addressBytes == 2) {
        bus_.I2CWriteByte(static_cast<std::uint8_t>(address >> 8));
        acked = bus_.I2CReadAck();
    }
    if (acked) {
        bus_.I2CWriteByte(static_cast<std::uint8_t>(address & 0xFF));
        acked = bus_.I2CReadAck();
    }
    for (int i = 0; acked && i < t.pageSize; ++i) {
        bus_.I2CWriteByte(EepromImage[address + i]);
        acked = bus_.I2CReadAck();
    }
    bus_.I2CStop();
    return acked;
}

EepromPage::Outcome EepromPage::ReadChip()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    lastDifference_.reset();
    if (flashChosen())
        return flashRead();
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    host_.BusyCursor();
    // Kept aside for a port failure, which leaves the image as it was.
    std::copy_n(EepromImage.begin(), ChipSize, EepromBackup.begin());
    const bool read = readChipFor("Read");
    refresh();
    if (!read)
        return Outcome::Failed;
    if (readCancelled_) {
        report("Read cancelled at " + AddressText(static_cast<std::uint32_t>(readReached_)) +
               ": image partly updated");
        return Outcome::Cancelled;
    }
    if (type().bus == EepromBus::Microwire && organisationDoubt_) {
        const std::string text = "Read " + std::to_string(ChipSize) + " bytes from " + type().name +
                                 ", " + OrganisationText() +
                                 ", but the chip answers as one wired for 16-bit words (ORG "
                                 "high): these bytes are likely not its contents. Choose " +
                                 OtherOrganisation() + " and read again.";
        host_.MessageBox(text, "WARNING:", Host::Kind::Warning);
        report(text);
        return Outcome::Done;
    }
    report("Read " + std::to_string(ChipSize) + " bytes from " + type().name +
           (type().bus == EepromBus::Microwire ? ", " + OrganisationText() : std::string()) +
           " in " + elapsedSince(start));
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error, true);
}

bool EepromPage::readChipFor(const std::string& command)
{
    const bool read = readChip();
    const bool i2c = type().bus == EepromBus::I2C;
    // A chip that answered before the end of the address is of the other organisation, which
    // can be named.
    const bool early = type().bus == EepromBus::Microwire && organisationDoubt_;
    if (!read)
        host_.MessageBox(i2c     ? AckMessage()
                         : early ? std::string("No answer from the ") + type().name +
                                       ": the chip answers as one wired for 16-bit words (ORG "
                                       "high). Choose " +
                                       OtherOrganisation() + " and read again."
                                 : NoAnswerMessage(),
                         "ERROR", Host::Kind::Error);
    host_.NormalCursor();
    lines_.SetI2CLines(0, 0, 0);
    if (!read)
        report(command + (i2c ? " failed: the chip did not acknowledge"
                              : " failed: the chip did not answer"));
    return read;
}

EepromPage::Outcome EepromPage::programEnded(bool cancelled, int reached, std::int64_t start)
{
    if (cancelled) {
        report("Programming cancelled at " + AddressText(static_cast<std::uint32_t>(reached)) +
               ": chip partly programmed");
        return Outcome::Cancelled;
    }
    report("Programmed " + std::to_string(ChipSize) + " bytes in " + elapsedSince(start) +
           ", not verified");
    return Outcome::Done;
}

EepromPage::Outcome EepromPage::endOnPortFailure(const PortError& error, bool restoreImage)
{
    // Bytes from a port that failed are not the chip's: the image and the grid stay as they were.
    if (restoreImage)
        std::copy_n(EepromBackup.begin(), ChipSize, EepromImage.begin());
    host_.ProgressHide();
    EndOnPortFailure(error, lines_, host_);
    return Outcome::Failed;
}

EepromPage::Outcome EepromPage::ProgramChip(bool verify)
{
    // With the verify, one operation: nothing else starts between the write and the compare.
    programmed_ = false;
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    if (flashChosen())
        return flashProgram(verify);
    const Outcome written = program();
    programmed_ = written == Outcome::Done;
    return written == Outcome::Done && verify ? this->verify() : written;
}

EepromPage::Outcome EepromPage::VerifyChip()
{
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    return flashChosen() ? flashVerify() : verify();
}

EepromPage::Outcome EepromPage::program()
try {
    const int pageSize = type().pageSize;
    lastDifference_.reset();
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    if (type().bus != EepromBus::I2C)
        return programSerial(start);
    host_.BusyCursor();
    host_.ProgressGauge(0);
    host_.ProgressShow();
    bool cancelled = false;
    int reached = 0;
    for (int p = 0; p < ChipSize - 1; p += pageSize) {
        bool written = false;
        for (int attempt = 0; attempt < kAttemptsPerPage && !written; ++attempt)
            written = EepromWritePage(static_cast<unsigned>(p));
        if (!written) {
            host_.ProgressHide();
            host_.MessageBox("Brak potwierdzenia odbioru danych przez chip!!!\r(Didn't receive "
                             "ACK at byte no. " +
                                 std::to_string(p) + ")",
                             "ERROR", Host::Kind::Error);
            host_.NormalCursor();
            // A chip that stopped answering is not left powered in its socket.
            lines_.SetI2CLines(0, 0, 0);
            report("Programming failed at " + AddressText(static_cast<std::uint32_t>(p)) +
                   ": the chip did not acknowledge");
            return Outcome::Failed;
        }
        bus_.timing().WaitMilliseconds(kPagePauseMs);
        progress(p, kProgramSuffix);
        host_.ProcessMessages();
        if (cancelRequested()) {
            cancelled = true;
            reached = p;
            break;
        }
    }
    // The page pause covers a typical write cycle; the last page gets the longest one before
    // the supply goes off (a tick count of n+1 is more than n whole milliseconds).
    bus_.timing().WaitMilliseconds(kWriteCycleMs + 1);
    host_.ProgressHide();
    host_.NormalCursor();
    lines_.SetI2CLines(0, 0, 0);
    return programEnded(cancelled, reached, start);
} catch (const PortError& error) {
    return endOnPortFailure(error, false);
}

EepromPage::Outcome EepromPage::programFailed(int address, const std::string& message,
                                              const std::string& why)
{
    host_.ProgressHide();
    host_.NormalCursor();
    lines_.SetAvrLines(0, 0, 0, 0, 0);
    host_.MessageBox(message, "ERROR", Host::Kind::Error);
    report("Programming failed at " + AddressText(static_cast<std::uint32_t>(address)) + ": " +
           why);
    return Outcome::Failed;
}

bool EepromPage::releaseProtection(SpiBus& spi, std::uint8_t status, Outcome& ended)
{
    const std::optional<int> from = SpiBus::ProtectedFrom(status, ChipSize);
    if (!from)
        return true;
    const std::string range =
        std::string("The ") + type().name + " is write-protected from " +
        AddressText(static_cast<std::uint32_t>(*from)) + " to " +
        AddressText(static_cast<std::uint32_t>(ChipSize - 1)) +
        " (block-protect bits BP1 BP0 = " + std::to_string((status >> 3) & 1) +
        std::to_string((status >> 2) & 1) + ").";
    if (protection != Protection::Clear) {
        // Nothing is powered while the question is open.
        lines_.SetAvrLines(0, 0, 0, 0, 0);
        host_.NormalCursor();
        const bool clear =
            protection == Protection::Ask &&
            host_.MessageBox(range + "\rClear the block-protect bits and program the whole chip?",
                             "WARNING:", Host::Kind::Question, Host::Buttons::OkCancelDefaultCancel,
                             Host::Icon::Exclamation) == Host::Result::Ok;
        if (!clear) {
            if (protection == Protection::Refuse)
                host_.MessageBox(range + "\rNothing was written.", "ERROR", Host::Kind::Error);
            report("Programming refused: the chip is write-protected, nothing written");
            refusedProtected_ = true;
            ended = protection == Protection::Ask ? Outcome::Cancelled : Outcome::Failed;
            return false;
        }
        host_.BusyCursor();
        spi.SpiIdle();
        bus_.timing().WaitMilliseconds(kPowerUpMs);
    }
    // WPEN only locks the status register with /WP low, and /WP is tied high: it is kept where
    // there is one (bit 7 of the 25010 to 25040 is no WPEN, ST's read it as 1).
    const bool hasWpen = type().addressBytes > 1;
    spi.WriteStatus(static_cast<std::uint8_t>(hasWpen ? status & SpiBus::kWriteProtectEnable : 0));
    const std::optional<std::uint8_t> after = spi.WaitWhileBusy(kBusyLimitMs, true);
    if (!after || (*after & SpiBus::kBlockProtect)) {
        ended = programFailed(*from,
                              range + "\rThe chip kept its block-protect bits: nothing was "
                                      "written.",
                              "the block-protect bits could not be cleared");
        return false;
    }
    return true;
}

EepromPage::Outcome EepromPage::programSerial(std::int64_t start)
{
    const EepromType& t = type();
    const bool spiType = t.bus == EepromBus::Spi;
    refusedProtected_ = false;
    SpiBus spi = spiBus();
    MicrowireBus wire = microwireBus();
    host_.BusyCursor();
    if (spiType) {
        spi.SpiIdle();
        bus_.timing().WaitMilliseconds(kPowerUpMs);
        const std::optional<std::uint8_t> status = spi.WaitWhileBusy(kBusyLimitMs, false);
        if (!status)
            return programFailed(0, NoAnswerMessage(), "the chip did not answer");
        Outcome ended = Outcome::Failed;
        if (!releaseProtection(spi, *status, ended))
            return ended;
    } else {
        if (!microwireAnswers(wire))
            return programFailed(0, NoAnswerMessage(), "the chip did not answer");
        wire.WriteEnable();
    }
    host_.ProgressGauge(0);
    host_.ProgressShow();
    const int step = spiType ? t.pageSize : t.wordBits / 8;
    bool cancelled = false;
    int reached = 0;
    for (int p = 0; p < ChipSize; p += step) {
        std::uint32_t word = 0;
        if (spiType) {
            spi.WriteEnable();
            if (!(spi.ReadStatus() & SpiBus::kWriteEnableLatch))
                return programFailed(p,
                                     "The chip did not take the write enable (WREN) at byte no. " +
                                         std::to_string(p),
                                     "the chip did not take WREN");
            // A page never crosses the chip's page boundary: the type's page divides it.
            spi.BeginTransfer(SpiBus::kWrite, static_cast<unsigned>(p));
            for (int i = 0; i < step; ++i)
                spi.SpiTransfer(EepromImage[p + i]);
            spi.Deselect();
        } else {
            for (int i = 0; i < step; ++i)
                word = (word << 8) | EepromImage[p + i];
            wire.Write(static_cast<unsigned>(p / step), word);
        }
        const MicrowireBus::Cycle cycle =
            spiType ? (spi.WaitWhileBusy(kBusyLimitMs, true) ? MicrowireBus::Cycle::Done
                                                             : MicrowireBus::Cycle::StaysBusy)
                    : wire.WaitReady(kBusyLimitMs);
        if (cycle == MicrowireBus::Cycle::StaysBusy)
            return programFailed(
                p, "The chip stays busy after the write at byte no. " + std::to_string(p),
                "the chip stays busy");
        // A process descheduled between the write and its first look finds the cycle over: the
        // word read back tells.
        if (cycle == MicrowireBus::Cycle::NeverBusy && !wordReads(wire, p / step, word))
            return programFailed(p, organisationMessage(p),
                                 "the chip showed no write cycle (x8 or x16 organisation?)");
        progress(p, kProgramSuffix);
        host_.ProcessMessages();
        if (cancelRequested()) {
            cancelled = true;
            reached = p;
            break;
        }
    }
    if (!spiType)
        wire.WriteDisable();
    host_.ProgressHide();
    host_.NormalCursor();
    lines_.SetAvrLines(0, 0, 0, 0, 0);
    return programEnded(cancelled, reached, start);
}

EepromPage::Outcome EepromPage::EraseAll()
try {
    Operation operation(operations_);
    if (!operation.acquired())
        return Outcome::Busy;
    lastDifference_.reset();
    if (flashChosen())
        return flashErase();
    if (type().bus != EepromBus::Microwire) {
        host_.MessageBox(std::string("The ") + type().name +
                             " has no erase-all instruction: only the 93Cxx types and the SPI "
                             "flashes have one",
                         "ERROR", Host::Kind::Error);
        return Outcome::Failed;
    }
    if (host_.MessageBox(std::string("Erase every word of the ") + type().name +
                             " (ERAL)? Its whole memory becomes FF.",
                         "WARNING:", Host::Kind::Question, Host::Buttons::OkCancelDefaultCancel,
                         Host::Icon::Exclamation) != Host::Result::Ok) {
        report("Erase cancelled: nothing done");
        return Outcome::Cancelled;
    }
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    host_.BusyCursor();
    MicrowireBus wire = microwireBus();
    if (!microwireAnswers(wire))
        return programFailed(0, NoAnswerMessage(), "the chip did not answer");
    wire.WriteEnable();
    wire.EraseAll();
    const bool ready = wire.WaitReady(kBusyLimitMs) != MicrowireBus::Cycle::StaysBusy;
    wire.WriteDisable();
    // Some parts do ERAL only at a supply of 4.5 to 5.5 V and may ignore it below: the chip is
    // read back.
    const std::optional<Difference> left = ready ? notErased(wire) : std::nullopt;
    host_.NormalCursor();
    lines_.SetAvrLines(0, 0, 0, 0, 0);
    if (!ready) {
        host_.MessageBox("The chip stays busy after the erase-all (ERAL)", "ERROR",
                         Host::Kind::Error);
        report("Erase failed: the chip stays busy");
        return Outcome::Failed;
    }
    if (left) {
        const std::string first = AddressText(static_cast<std::uint32_t>(left->first));
        host_.MessageBox(std::string("The ") + type().name + " ignored the erase-all (ERAL): " +
                             std::to_string(left->count) + " bytes are not FF, the first at " +
                             first + ". Some parts do ERAL only at a supply of 4.5 to 5.5 V.",
                         "ERROR", Host::Kind::Error);
        report("Erase failed: the chip ignored ERAL, " + std::to_string(left->count) +
               " bytes are not FF, the first at " + first);
        return Outcome::Failed;
    }
    report(std::string("Erased all ") + std::to_string(ChipSize) + " bytes of " + type().name +
           " in " + elapsedSince(start));
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error, false);
}

EepromPage::Outcome EepromPage::verify()
try {
    lastDifference_.reset();
    const std::int64_t start = bus_.timing().clock().nanoseconds();
    host_.BusyCursor();
    std::copy_n(EepromImage.begin(), ChipSize, EepromBackup.begin());
    std::fill_n(EepromImage.begin(), ChipSize, 0xFF);
    const bool read = readChipFor("Verify");
    auto restore = [this] {
        std::copy_n(EepromBackup.begin(), ChipSize, EepromImage.begin());
    };
    if (!read) {
        restore();
        return Outcome::Failed;
    }
    // Bytes that were never read prove nothing: a cancelled verify gives no verdict.
    if (readCancelled_) {
        restore();
        report("Verify cancelled at " + AddressText(static_cast<std::uint32_t>(readReached_)) +
               ": nothing compared");
        return Outcome::Cancelled;
    }
    const auto diff =
        std::mismatch(EepromImage.begin(), EepromImage.begin() + ChipSize, EepromBackup.begin());
    if (diff.first != EepromImage.begin() + ChipSize) {
        const auto position = diff.first - EepromImage.begin();
        Difference found;
        found.first = static_cast<int>(position);
        for (int i = found.first; i < ChipSize; ++i)
            found.count += EepromImage[i] != EepromBackup[i] ? 1 : 0;
        found.chip.assign(EepromImage.begin(), EepromImage.begin() + ChipSize);
        lastDifference_ = std::move(found);
        // The status line is there before the message box, which the user reads beside it.
        report("Verify found " + std::to_string(lastDifference_->count) +
               (lastDifference_->count == 1 ? " differing byte" : " differing bytes") +
               ", the first at " + AddressText(static_cast<std::uint32_t>(lastDifference_->first)));
        host_.MessageBox("Defference found at byte no.: " + std::to_string(position),
                         "VERIFICATION ERROR", Host::Kind::Difference);
        restore();
        return Outcome::Failed;
    }
    restore();
    refresh();
    report("Verified " + std::to_string(ChipSize) + " bytes of " + type().name + " in " +
           elapsedSince(start) + ": no difference");
    host_.MessageBox("Weryfikacja chipu przebiegła prawidłowo!!!", "VERIFICATION COMPLETE",
                     Host::Kind::Verdict);
    return Outcome::Done;
} catch (const PortError& error) {
    return endOnPortFailure(error, true);
}

EepromPage::Outcome EepromPage::OpenImage(const std::string& fileName)
{
    const FileKind kind = FileKindOf(fileName);
    if (kind == FileKind::Other) {
        host_.MessageBox("Unknown file type: the name must end in BIN or HEX!!", "ERROR",
                         Host::Kind::Error);
        return Outcome::Failed;
    }
    // The file is read whole and checked aside first: an unreadable or damaged one leaves the
    // image as it was.
    if (ChipSize == 0)
        return unsized();
    // One byte more than the largest chip, so a file too long for it still gets its warning.
    const std::size_t capacity = imageCapacity();
    const ImageRead read = ReadImageFile(fileName, capacity);
    if (read.failure == ImageFailure::Unreadable) {
        host_.MessageBox("Can't open file!!", "ERROR", Host::Kind::Error);
        return Outcome::Failed;
    }
    if (!read.ok()) {
        host_.MessageBox(read.detail, "ERROR", Host::Kind::Error);
        return Outcome::Failed;
    }
    if (!read.warning.empty())
        host_.MessageBox(read.warning, "WARNING:", Host::Kind::Warning);
    std::vector<std::uint8_t> loaded(capacity, 0xFF);
    if (kind == FileKind::Bin) {
        const std::size_t n = read.file.bin.size();
        std::copy(read.file.bin.begin(), read.file.bin.end(), loaded.begin());
        EepromImage = std::move(loaded);
        // The sizes follow the warning's own text.
        const std::string sizes = "\rThe file holds " + std::to_string(n) + " bytes, the " +
                                  chipName() + " holds " + std::to_string(ChipSize) + ".";
        if (n > static_cast<std::size_t>(ChipSize))
            host_.MessageBox("File contains more data than processor can fit:\rData will be "
                             "truncated" +
                                 sizes,
                             "WARNING:", Host::Kind::Warning);
        else if (n < static_cast<std::size_t>(ChipSize))
            host_.MessageBox("File contains less data than processor can fit:\rFree space will "
                             "be filled by FF" +
                                 sizes,
                             "WARNING:", Host::Kind::Warning);
    } else {
        const HexPlacement placed =
            PlaceImageFile(read.file, std::span<std::uint8_t>(loaded.data(), ChipSize));
        if (placed.inside == 0) {
            host_.MessageBox(kNoDataForMemory, "ERROR", Host::Kind::Error);
            return Outcome::Failed;
        }
        EepromImage = std::move(loaded);
        if (placed.outside > 0)
            host_.MessageBox(OutsideMemoryWarning(placed), "WARNING:", Host::Kind::Warning);
    }
    refresh();
    return Outcome::Done;
}

EepromPage::Outcome EepromPage::unsized()
{
    host_.MessageBox("The size of the chip is not known yet: read the chip first, or choose its "
                     "part in the list.",
                     "ERROR", Host::Kind::Error);
    return Outcome::Failed;
}

EepromPage::Outcome EepromPage::SaveImage(const std::string& fileName)
{
    if (ChipSize == 0)
        return unsized();
    const FileKind kind = FileKindOf(fileName);
    bool written = false;
    if (kind == FileKind::Bin) {
        host_.BusyCursor();
        written = WriteBinaryFile(fileName, EepromImage.data(), ChipSize);
        host_.NormalCursor();
    } else if (kind == FileKind::Hex) {
        written = WriteIntelHexFile(fileName, EepromImage.data(), ChipSize);
    } else {
        host_.MessageBox("Unknown file type: the name must end in BIN or HEX!!", "ERROR",
                         Host::Kind::Error);
        return Outcome::Failed;
    }
    if (!written) {
        host_.MessageBox("Can't create file!!", "ERROR", Host::Kind::Error);
        return Outcome::Failed;
    }
    return Outcome::Done;
}

} // namespace vardel
