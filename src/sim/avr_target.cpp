#include "sim/avr_target.h"

#include "files/binary_file.h"

#include "parts/part_clock.h"
#include "sim/chips.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vardel::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t ms(double milliseconds)
{
    return static_cast<std::int64_t>(milliseconds * 1'000'000.0);
}

// Flash (a byte or a page), EEPROM byte, chip erase and lock or fuse write, in milliseconds.
constexpr AvrTimes times(double flash, double eeprom, double erase, double fuse)
{
    return {ms(flash), ms(eeprom), ms(erase), ms(fuse)};
}

constexpr AvrFuseByte kNoFuse{0xFF, 0xFF, 0x00};
constexpr std::array<AvrFuseByte, 3> kNoFuses{kNoFuse, kNoFuse, kNoFuse};
constexpr std::array<std::uint8_t, 4> kNoCalibration{0xFF, 0xFF, 0xFF, 0xFF};

// How a fuse byte behaves: the bits the chip lacks, the bits serial mode cannot change and the
// lock-out bits (AvrFuseByte); its factory value comes with the part's facts.
constexpr AvrFuseByte fuseCells(std::uint8_t unused, std::uint8_t fixed = 0,
                                std::uint8_t lockoutWhenSet = 0, std::uint8_t lockoutWhenClear = 0)
{
    return {0xFF, unused, fixed, lockoutWhenSet, lockoutWhenClear};
}

// AT90S2323/2343/4434/8535: SPIEN bit 5, FSTRT (RCEN on the AT90S2343) bit 0; the other bits do
// not exist.
constexpr AvrFuseByte kAt90sFuse = fuseCells(0xDE, 0x20, 0x20);

// The chips of the first catalogue as serial programming sees them, by the layout of their lock
// and fuse instructions (one part each, or the AT90S of one form): the instruction family they
// decode, the XTAL clocks an SCK phase needs, their fuse cells and their calibration bytes (which
// differ from chip to chip; these are plausible values). Signature, sizes, write times, polling
// answers, factory values and when a new fuse acts are the part's facts.
struct ChipRow {
    AvrBitsLayout layout;
    AvrFamily family;
    int sckPhaseClocks;
    std::array<AvrFuseByte, 3> fuses;
    int calibrationCount;
    std::array<std::uint8_t, 4> calibration;
};

// clang-format off
constexpr ChipRow kLayoutChips[] = {
    {AvrBitsLayout::At90sLockOnly, AvrFamily::At90sLockOnly, 2, kNoFuses, 0, kNoCalibration},
    {AvrBitsLayout::At90sLockAndFuse, AvrFamily::At90sLockAndFuse, 2, {kAt90sFuse, kNoFuse, kNoFuse}, 0, kNoCalibration},
    // Fuse x x SPIEN x EESAVE x SUT1 SUT0.
    {AvrBitsLayout::ATmega103, AvrFamily::ATmega103, 2, {fuseCells(0xD4, 0x20, 0x20), kNoFuse, kNoFuse}, 0, kNoCalibration},
    // High: SPIEN (bit 5) out of serial reach; extended: bits 7..2 do not exist.
    {AvrBitsLayout::ATmega128, AvrFamily::ATmega128, 2, {fuseCells(0x00), fuseCells(0x00, 0x20, 0x20), fuseCells(0xFC)}, 4, {0xA3, 0xA7, 0xAB, 0xB0}},
    // Fuse x BOOTRST SPIEN BODLEVEL BODEN CKSEL2..0.
    {AvrBitsLayout::ATmega161, AvrFamily::ATmega161, 2, {fuseCells(0x80, 0x20, 0x20), kNoFuse, kNoFuse}, 0, kNoCalibration},
    // Low BODLEVEL BODEN SPIEN x CKSEL3..0, SPIEN out of reach of serial programming (which
    // answers bits 5 and 4 as 1); high x x x x 1 BOOTSZ1 BOOTSZ0 BOOTRST.
    {AvrBitsLayout::ATmega163, AvrFamily::ATmega163, 2, {fuseCells(0x10, 0x20, 0x20), fuseCells(0xF8), kNoFuse}, 1, {0xA8, 0xFF, 0xFF, 0xFF}},
    // Fuse BODLEVEL BODEN SPIEN RSTDISBL CKSEL3..0, every bit writable in low-voltage serial mode,
    // SPIEN included.
    {AvrBitsLayout::ATtiny12, AvrFamily::ATtiny12, 2, {fuseCells(0x00, 0x00, 0x20, 0x10), kNoFuse, kNoFuse}, 1, {0x4C, 0xFF, 0xFF, 0xFF}},
};
// clang-format on

// Both ends of each write time as the part data gives them; one time covers a lock or fuse byte
// (the data gives every part the same for both).
AvrTimes nanoseconds(const AvrPart::WriteTimes& us)
{
    return {std::int64_t(us.flashUs) * 1000, std::int64_t(us.eepromUs) * 1000,
            std::int64_t(us.chipEraseUs) * 1000,
            std::int64_t(std::max(us.fuseUs, us.lockUs)) * 1000};
}

// The catalogue's chips, each with its part's facts.
const std::vector<AvrDevice>& Catalogue()
{
    static const std::vector<AvrDevice> devices = [] {
        std::vector<AvrDevice> out;
        for (const AvrPart& part : AvrParts()) {
            const auto chip = std::ranges::find(kLayoutChips, part.bitsLayout, &ChipRow::layout);
            if (chip == std::end(kLayoutChips) || part.variantOf)
                continue;
            AvrDevice device{part.name,
                             part.signature,
                             chip->family,
                             part.flashBytes,
                             part.flashPageBytes / 2,
                             part.eepromBytes,
                             nanoseconds(part.fastest()),
                             nanoseconds(part.slowest()),
                             part.flashReadback,
                             part.eepromReadback,
                             chip->sckPhaseClocks,
                             part.fuseCount,
                             chip->fuses,
                             part.fuseAfterPowerUp,
                             chip->calibrationCount,
                             chip->calibration,
                             &part};
            for (int i = 0; i < part.fuseCount; ++i)
                device.fuses[i].factory = part.fuses[i].factory;
            out.push_back(device);
        }
        return out;
    }();
    return devices;
}

const char* const kFuseKeys[3] = {"avr.fuse.low", "avr.fuse.high", "avr.fuse.extended"};
const char* const kFlashFile = "flash.bin";
// Values of avr.timing: the write times of the slowest or the fastest chips of the part.
const char* const kSlowest = "slowest";
const char* const kFastest = "fastest";
const char* const kEepromFile = "avr-eeprom.bin";
// SCK edges the chip lost to phases shorter than its clock allows, each garbling an instruction.
const char* const kLostEdgesKey = "avr.sck_lost";

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string hex(const std::uint8_t* bytes, std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

std::string hex(std::uint8_t byte)
{
    return hex(&byte, 1);
}

// Exactly 2 * count hex digits, either case.
bool parseHex(const std::string& text, std::uint8_t* bytes, std::size_t count)
{
    if (text.size() != 2 * count)
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        int value = 0;
        for (std::size_t j = 0; j < 2; ++j) {
            const char c =
                static_cast<char>(std::toupper(static_cast<unsigned char>(text[2 * i + j])));
            if (c >= '0' && c <= '9')
                value = value * 16 + (c - '0');
            else if (c >= 'A' && c <= 'F')
                value = value * 16 + (c - 'A' + 10);
            else
                return false;
        }
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

bool hasLock(AvrFamily family)
{
    return family != AvrFamily::Generic;
}

// Bits of the lock key that exist: LB2 LB1 in bits 2..1, or the six bits 5..0 on the parts with
// boot lock bits.
std::uint8_t lockBits(const AvrDevice& device)
{
    switch (device.bitsLayout) {
    case AvrBitsLayout::At90s1200:
    case AvrBitsLayout::At90s4433:
    case AvrBitsLayout::Tiny15:
        return 0x06;
    case AvrBitsLayout::Tiny26:
        return 0x03;
    default:
        break;
    }
    if (device.family == AvrFamily::Table) {
        std::uint8_t bits = 0;
        for (int i = 0; i < 8; ++i)
            if (device.part->lockBits[i])
                bits = static_cast<std::uint8_t>(bits | (1u << i));
        return bits;
    }
    switch (device.family) {
    case AvrFamily::ATmega161:
    case AvrFamily::ATmega163:
    case AvrFamily::ATmega128:
        return 0x3F;
    case AvrFamily::Generic:
        return 0x00;
    default:
        return 0x06;
    }
}

// The bits of a table part's fuse byte named `name`, for each byte.
std::uint8_t namedBit(const AvrPartFuse& fuse, std::string_view name)
{
    for (int i = 0; i < 8; ++i)
        if (fuse.bits[i] && name == fuse.bits[i])
            return static_cast<std::uint8_t>(1u << i);
    return 0;
}

bool isAt90s(AvrFamily family)
{
    return family == AvrFamily::At90sLockOnly || family == AvrFamily::At90sLockAndFuse;
}

// Lock mode 3 hides the signature and the memories on the AT90S parts and the ATtiny12/15.
bool hidesInMode3(const AvrDevice& device)
{
    switch (device.bitsLayout) {
    case AvrBitsLayout::At90s1200:
    case AvrBitsLayout::At90s4433:
    case AvrBitsLayout::Tiny15:
        return true;
    default:
        return isAt90s(device.family) || device.family == AvrFamily::ATtiny12;
    }
}

} // namespace

std::span<const AvrDevice> AvrCatalogue()
{
    return Catalogue();
}

const AvrDevice* FindAvrDevice(std::string_view name)
{
    const std::string wanted = upper(name);
    for (const AvrDevice& device : Catalogue())
        if (upper(device.name) == wanted)
            return &device;
    return nullptr;
}

std::string AvrCatalogueNames()
{
    std::string names;
    for (const AvrDevice& device : Catalogue())
        names += (names.empty() ? "" : ", ") + std::string(device.name);
    return names;
}

namespace {

// The calibration bytes a part keeps, one for each value of its read's address bits; none
// without the read.
int CalibrationBytes(const AvrPart& part)
{
    const char* read = part.instructions.calibrationRead;
    return read ? 1 << std::count(read, read + 32, 'a') : 0;
}

} // namespace

AvrDevice DeviceFromPart(const AvrPart& part)
{
    AvrDevice device{part.name,
                     part.signature,
                     AvrFamily::Table,
                     part.flashBytes,
                     part.flashPageBytes / 2,
                     part.eepromBytes,
                     nanoseconds(part.fastest()),
                     nanoseconds(part.slowest()),
                     part.flashReadback,
                     part.eepromReadback,
                     2,
                     part.fuseCount,
                     kNoFuses,
                     false,
                     CalibrationBytes(part),
                     {0x9A, 0x9B, 0x9C, 0x9D},
                     &part,
                     part.bitsLayout};
    // The parts whose EEPROM is programmed by pages (bit 0 of its mode byte) have the EEPROM page
    // instructions, with the page of their data.
    if ((part.eepromMode & 0x01) != 0 && part.eepromPageBytes > 1)
        device.eepromPageBytes = part.eepromPageBytes;
    for (int i = 0; i < part.fuseCount; ++i) {
        const AvrPartFuse& fuse = part.fuses[i];
        AvrFuseByte& byte = device.fuses[i];
        byte.unused = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (!fuse.bits[bit])
                byte.unused = static_cast<std::uint8_t>(byte.unused | (1u << bit));
        byte.factory = fuse.factory | byte.unused;
        // SPIEN is out of reach of serial programming, except on the ATtiny15, which writes every
        // fuse bit in low-voltage serial mode (as the ATtiny12); unprogrammed, as RSTDISBL or
        // DWEN programmed, it ends serial programming from the next power-up.
        const std::uint8_t spien = part.endsWhenUnprogrammed[static_cast<std::size_t>(i)];
        byte.fixed = device.bitsLayout == AvrBitsLayout::Tiny15 ? 0 : spien;
        byte.lockoutWhenSet = spien;
        byte.lockoutWhenClear = part.endsWhenProgrammed[static_cast<std::size_t>(i)];
    }
    return device;
}

AvrDevice AvrTarget::Generic(const std::array<std::uint8_t, 3>& signature)
{
    // clang-format off
    return {"", signature, AvrFamily::Generic, 8192, 0, 512,
            times(9, 9, 20, 9), times(9, 9, 20, 9), {0xFF, 0xFF}, {0xFF, 0xFF}, 2,
            0, kNoFuses, false, 0, kNoCalibration};
    // clang-format on
}

AvrTarget::AvrTarget(const AvrDevice& device)
    : timing{device.slowest.flashWriteNs, device.slowest.eepromWriteNs, device.slowest.eraseNs,
             device.slowest.fuseWriteNs, device.sckPhaseClocks},
      device_(device), flash_(device.flashBytes, 0xFF), eeprom_(device.eepromBytes, 0xFF),
      pageBuffer_(device.pageWords * 2, 0xFF), eepromPage_(device.eepromPageBytes, 0xFF),
      eepromLoaded_(device.eepromPageBytes), eepromWriting_(device.eepromPageBytes),
      calibration_(device.calibration)
{
    for (int i = 0; i < 3; ++i)
        fuses_[i] = fusesLatched_[i] = device.fuses[i].factory | device.fuses[i].unused;
}

void AvrTarget::setSpeed(AvrSpeed speed)
{
    speed_ = speed;
    const AvrTimes& t = speed == AvrSpeed::Slowest ? device_.slowest : device_.fastest;
    timing.flashWriteNs = t.flashWriteNs;
    timing.eepromWriteNs = t.eepromWriteNs;
    timing.eraseNs = t.eraseNs;
    timing.fuseWriteNs = t.fuseWriteNs;
}

std::int64_t AvrTarget::internalClockNs() const
{
    if (!device_.part)
        return 0;
    // The clock the fuses, as latched at power-up, select: the board's XTAL line, or the chip's
    // own oscillator. A setting the part data does not tell runs on XTAL.
    const std::span<const std::uint8_t> fuses(fusesLatched_.data(),
                                              static_cast<std::size_t>(device_.fuseCount));
    const ChipClock clock = ClockOf(*device_.part, fuses);
    if (clock.source != ChipClock::Source::Own || clock.hz == 0)
        return 0;
    return (std::int64_t{1'000'000'000} + clock.hz - 1) / clock.hz;
}

bool AvrTarget::readyBusy(std::int64_t ns) const
{
    return busy_ != Busy::None && ns < busyEndNs_;
}

std::string AvrTarget::title() const
{
    if (named())
        return device_.name;
    return "the chip with signature " + hex(device_.signature.data(), 3);
}

// ---- pins -----------------------------------------------------------------------------------

void AvrTarget::pins(bool vcc, bool reset, bool xtal, bool sck, bool mosi, std::int64_t ns)
{
    if (vcc != vcc_) {
        vcc_ = vcc;
        if (vcc) {
            // The levels at power-up are where the chip starts from, not edges.
            reset_ = reset;
            xtal_ = xtal;
            sck_ = sck;
            mosi_ = mosi;
            powerUp(ns);
            return;
        } else {
            // The interface logic dies with the supply; the memories are non-volatile, but the
            // cells of a write cut short are left undefined (here: erased).
            if (busy_ != Busy::None && busy_ != Busy::Erase && ns < busyEndNs_ &&
                !faults.dropWrites) {
                const bool eeprom = busy_ == Busy::EepromByte || busy_ == Busy::EepromPage;
                auto& memory = eeprom ? eeprom_ : flash_;
                for (std::uint32_t i = 0; i < busyLength_; ++i)
                    if (beingWritten(busyAddress_ + i))
                        memory[busyAddress_ + i] = 0xFF;
            }
            programming_ = false;
            echoing_ = false;
            busy_ = Busy::None;
            clearPageBuffers();
        }
    }
    if (!vcc_) {
        reset_ = reset;
        xtal_ = xtal;
        sck_ = sck;
        mosi_ = mosi;
        return;
    }
    if (reset != reset_) {
        reset_ = reset;
        if (reset) {
            programming_ = false; // the chip starts running its program
            echoing_ = false;
        } else {
            startInterface(ns);
        }
    }
    mosi_ = mosi;
    if (xtal != xtal_) {
        xtal_ = xtal;
        if (xtal) {
            ++clocksSinceStart_;
            ++phaseClocks_;
            if (lastXtalRiseNs_ >= 0)
                xtalPeriodNs_ = ns - lastXtalRiseNs_;
            lastXtalRiseNs_ = ns;
        }
    }
    if (sck != sck_) {
        // A chip on its own oscillator needs each SCK phase to last two of its clocks (three
        // from 12 MHz on); XTAL pulses do not reach it.
        const int ownClocks = internalClockNs_ && internalClockNs_ * 12 < 1000 ? 3 : 2;
        const bool seen = internalClockNs_ ? ns - lastSckChangeNs_ >= ownClocks * internalClockNs_
                                           : phaseClocks_ >= phaseClocksNeeded();
        // An edge lost while the interface listens garbles the instruction it belongs to.
        if (!seen && !reset_)
            ++lostSckEdges_;
        lastSckChangeNs_ = ns;
        sck_ = sck;
        phaseClocks_ = 0;
        if (seen && sck != sckSeen_) {
            sckSeen_ = sck;
            if (!reset_) {
                if (sck)
                    sckRising(ns);
                else
                    misoBit_ = (shift_ & 0x80) != 0;
            }
        }
    }
}

bool AvrTarget::miso() const
{
    // Out of programming mode the pin is not driven and floats high on the board.
    if (!vcc_ || !(programming_ || echoing_) || reset_)
        return true;
    return misoBit_;
}

bool AvrTarget::lockoutFuses() const
{
    for (int i = 0; i < device_.fuseCount; ++i) {
        const AvrFuseByte& f = device_.fuses[i];
        if ((fuses_[i] & f.lockoutWhenSet) != 0 || (~fuses_[i] & f.lockoutWhenClear) != 0)
            return true;
    }
    return false;
}

void AvrTarget::powerUp(std::int64_t ns)
{
    fusesLatched_ = fuses_;
    lockedOut_ = lockoutFuses();
    internalClockNs_ = internalClockNs();
    lastSckChangeNs_ = ns;
    extendedAddress_ = 0;
    offsetPending_ = true;
    lastXtalRiseNs_ = -1;
    xtalPeriodNs_ = 0;
    startNs_ = ns;
    clocksSinceStart_ = 0;
    phaseClocks_ = 0;
    sckSeen_ = sck_;
    if (!reset_)
        startInterface(ns);
}

void AvrTarget::startInterface(std::int64_t ns)
{
    startNs_ = ns;
    clocksSinceStart_ = 0;
    phaseClocks_ = 0;
    sckSeen_ = sck_;
    shift_ = 0;
    misoBit_ = true;
    programming_ = false;
    echoing_ = false;
    frameBit_ = offsetPending_ ? ((syncOffsetBits % 32) + 32) % 32 : 0;
    offsetPending_ = false;
    clearPageBuffers();
}

int AvrTarget::phaseClocksNeeded() const
{
    // At 12 MHz and above the datasheets ask for 3 clocks in each phase.
    if (xtalPeriodNs_ > 0 && xtalPeriodNs_ * 12 < 1000)
        return std::max(timing.sckPhaseClocks, 3);
    return timing.sckPhaseClocks;
}

bool AvrTarget::enableAllowed(std::int64_t ns) const
{
    const long clocks = internalClockNs_ ? static_cast<long>((ns - startNs_) / internalClockNs_)
                                         : clocksSinceStart_;
    return !faults.neverEcho && !lockedOut_ && ns - startNs_ >= timing.enableDelayNs &&
           clocks >= timing.enableClocks;
}

void AvrTarget::sckRising(std::int64_t ns)
{
    shift_ = static_cast<std::uint8_t>((shift_ << 1) | (mosi_ ? 1 : 0));
    frameBit_ = (frameBit_ + 1) % 32;
    if (frameBit_ % 8 != 0)
        return;
    const int byte = (frameBit_ == 0 ? 32 : frameBit_) / 8 - 1;
    frame_[byte] = shift_;
    if (!programming_) {
        // A chip in step with the host starts answering once the first byte of its frame is the
        // AC of Programming Enable: the host then reads AC back in its second byte and 53 in its
        // third. Out of step, the chip never sees AC there and MISO stays undriven.
        if (byte == 0)
            echoing_ = frame_[0] == 0xAC && enableAllowed(ns);
        else if (byte == 1 && echoing_ && frame_[1] == 0x53)
            programming_ = true;
        else if (byte == 1)
            echoing_ = false;
        return;
    }
    if (byte == 2)
        loadDatum(ns);
    else if (byte == 3)
        execute(ns);
}

// ---- reads ----------------------------------------------------------------------------------

void AvrTarget::loadDatum(std::int64_t ns)
{
    if (busy_ == Busy::Erase && ns < busyEndNs_)
        return;
    std::uint8_t datum = 0;
    if (readDatum(ns, datum))
        shift_ = datum;
}

bool AvrTarget::readDatum(std::int64_t ns, std::uint8_t& datum) const
{
    const std::uint8_t op = frame_[0];
    const std::uint32_t address = (std::uint32_t(frame_[1]) << 8) | frame_[2];
    const bool locked = hidesInMode3(device_) && lockMode3();
    switch (op) {
    case 0x30: {
        if (locked)
            return false;
        const int index = frame_[2] & 0x03;
        datum = index < 3 ? device_.signature[index] : 0xFF;
        return true;
    }
    case 0x20:
    case 0x28: {
        if (locked)
            return false;
        const std::uint32_t word =
            ((std::uint32_t(extendedAddress_) << 16) | address) & (device_.flashBytes / 2 - 1);
        const std::uint32_t at = word * 2 + (op == 0x28 ? 1 : 0);
        datum = polled(true, at, flash_[at], ns);
        return true;
    }
    case 0xA0: {
        if (locked)
            return false;
        const std::uint32_t at = address & (device_.eepromBytes - 1);
        datum = polled(false, at, eeprom_[at], ns);
        return true;
    }
    case 0xF0:
        if (device_.family != AvrFamily::Table || !device_.part->pollsReadyBusy())
            return false;
        datum = readyBusy(ns) ? 0x01 : 0x00;
        return true;
    default:
        return readLockOrFuse(datum);
    }
}

std::uint8_t AvrTarget::fuseAsRead(int index) const
{
    return device_.fuseAfterPowerCycle ? fusesLatched_[index] : fuses_[index];
}

bool AvrTarget::readLockOrFuse(std::uint8_t& datum) const
{
    const std::uint8_t op = frame_[0];
    const bool second = (frame_[1] & 0x08) != 0; // 58 08 / 50 08 select the other fuse byte
    switch (device_.family) {
    case AvrFamily::At90sLockAndFuse:
        if (op != 0x58)
            return false;
        // 1 2 S x x x x F: LB1, LB2, SPIEN, ..., FSTRT/RCEN.
        datum = static_cast<std::uint8_t>(((lock_ & 0x02) ? 0x80 : 0) |
                                          ((lock_ & 0x04) ? 0x40 : 0) | (fuseAsRead(0) & 0x3F));
        return true;
    case AvrFamily::ATmega103:
    case AvrFamily::ATmega161:
    case AvrFamily::ATtiny12:
        if (op == 0x58)
            datum = lock_;
        else if (op == 0x50)
            datum = fuses_[0];
        else if (op == 0x38 && device_.calibrationCount > 0)
            datum = calibration_[0];
        else
            return false;
        return true;
    case AvrFamily::ATmega163:
        if (op == 0x58)
            datum = second ? fuses_[1] : lock_;
        else if (op == 0x50 && !second)
            datum = fuses_[0] | 0x30;
        else if (op == 0x38)
            datum = calibration_[0];
        else
            return false;
        return true;
    case AvrFamily::Table:
        if (device_.bitsLayout != AvrBitsLayout::Standard &&
            device_.bitsLayout != AvrBitsLayout::Tiny26) {
            // One lock byte and at most one fuse byte, each answered in its key's layout
            // whatever the other bytes hold; the AT90S1200 reads neither.
            if (op == 0x58 && device_.bitsLayout != AvrBitsLayout::At90s1200)
                datum = lock_;
            else if (op == 0x50 && device_.fuseCount > 0)
                datum = fuses_[0];
            else if (op == 0x38 && device_.calibrationCount > 0)
                datum = calibration_[frame_[2] & 0x03];
            else
                return false;
            return true;
        }
        [[fallthrough]];
    case AvrFamily::ATmega128:
        if (op == 0x58)
            datum = second ? fuses_[1] : lock_;
        else if (op == 0x50)
            datum = second ? fuses_[2] : fuses_[0];
        else if (op == 0x38)
            datum = calibration_[frame_[2] & 0x03];
        else
            return false;
        return true;
    default:
        return false; // no lock or fuse reads in serial mode: the read is only echoed
    }
}

bool AvrTarget::beingWritten(std::uint32_t address) const
{
    if (address < busyAddress_ || address >= busyAddress_ + busyLength_)
        return false;
    return busy_ != Busy::EepromPage || eepromWriting_[address - busyAddress_];
}

void AvrTarget::clearPageBuffers()
{
    std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
    std::fill(eepromPage_.begin(), eepromPage_.end(), 0xFF);
    std::fill(eepromLoaded_.begin(), eepromLoaded_.end(), false);
}

std::uint8_t AvrTarget::polled(bool flash, std::uint32_t address, std::uint8_t value,
                               std::int64_t ns) const
{
    const auto& polling = flash ? device_.flashPolling : device_.eepromPolling;
    const bool writingFlash = busy_ == Busy::FlashByte || busy_ == Busy::FlashPage;
    const bool writingEeprom = busy_ == Busy::EepromByte || busy_ == Busy::EepromPage;
    if ((flash ? writingFlash : writingEeprom) && ns < busyEndNs_ && beingWritten(address))
        return ns - busyStartNs_ < (busyEndNs_ - busyStartNs_) / 2 ? polling[0] : polling[1];
    const long last = flash ? lastFlashWrite_ : lastEepromWrite_;
    if (faults.pollingNeverDone && last == static_cast<long>(address))
        return polling[1];
    return value;
}

// ---- instructions ---------------------------------------------------------------------------

// LB1 and LB2: bits 0 and 1 on the parts with boot lock bits, 1 and 2 on the others; a table
// part has them as its lowest two lock bits.
static std::uint8_t lb1Bit(const AvrDevice& device)
{
    const std::uint8_t bits = lockBits(device);
    if (device.family == AvrFamily::Table)
        return static_cast<std::uint8_t>(bits & -bits);
    return bits == 0x3F ? 0x01 : 0x02;
}

bool AvrTarget::lockMode3() const
{
    const std::uint8_t lb1 = lb1Bit(device_);
    const std::uint8_t lb = static_cast<std::uint8_t>(lb1 | lb1 << 1);
    return hasLock(device_.family) && lb1 != 0 && (lock_ & lb) == 0;
}

bool AvrTarget::writesLocked() const
{
    // Lock modes 2 and 3 (LB1 programmed) stop further programming of flash and EEPROM.
    const std::uint8_t lb1 = lb1Bit(device_);
    return hasLock(device_.family) && lb1 != 0 && (lock_ & lb1) == 0;
}

void AvrTarget::startBusy(Busy kind, std::uint32_t address, std::uint32_t length,
                          std::int64_t duration, std::int64_t ns)
{
    busy_ = kind;
    busyStartNs_ = ns;
    busyEndNs_ = ns + duration;
    busyAddress_ = address;
    busyLength_ = length;
}

void AvrTarget::execute(std::int64_t ns)
{
    const bool busy = busy_ != Busy::None && ns < busyEndNs_;
    if (busy && busy_ == Busy::Erase)
        return;
    const std::uint8_t op = frame_[0];
    const std::uint32_t address = (std::uint32_t(frame_[1]) << 8) | frame_[2];
    const std::uint8_t data = frame_[3];

    if (op == 0xAC && (frame_[1] & 0xE0) == 0x80) {
        if (busy)
            return;
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        bool eesave = false;
        if (device_.family == AvrFamily::Table) {
            for (int i = 0; i < device_.fuseCount; ++i) {
                const std::uint8_t bit = namedBit(device_.part->fuses[i], "EESAVE");
                if (bit && !(fuses_[i] & bit))
                    eesave = true;
            }
        } else if (device_.family == AvrFamily::ATmega103)
            eesave = (fuses_[0] & 0x08) == 0;
        else if (device_.family == AvrFamily::ATmega128)
            eesave = (fuses_[1] & 0x08) == 0;
        if (!eesave)
            std::fill(eeprom_.begin(), eeprom_.end(), 0xFF);
        lock_ = 0xFF;
        clearPageBuffers();
        startBusy(Busy::Erase, 0, 0, timing.eraseNs, ns);
        return;
    }
    if (op == 0xAC) {
        if (frame_[1] != 0x53 && !busy && writeLockOrFuse())
            startBusy(Busy::LockOrFuse, 0, 0, timing.fuseWriteNs, ns);
        return;
    }

    if (op == 0x4D && device_.family == AvrFamily::Table) {
        extendedAddress_ = frame_[2];
        return;
    }
    const bool flashWrite = op == 0x40 || op == 0x48;
    const bool pageWrite = op == 0x4C && device_.pageWords != 0;
    const bool eepromWrite = op == 0xC0;
    const bool eepromPageLoad = op == 0xC1 && device_.eepromPageBytes != 0;
    const bool eepromPageWrite = op == 0xC2 && device_.eepromPageBytes != 0;
    if (!(flashWrite || pageWrite || eepromWrite || eepromPageLoad || eepromPageWrite) || busy ||
        writesLocked())
        return;

    if (eepromPageLoad) {
        // C1 00 aa ii: the byte's place in the page is the low bits of the third byte.
        const std::uint32_t place = frame_[2] & (device_.eepromPageBytes - 1);
        eepromPage_[place] = data;
        eepromLoaded_[place] = true;
        return;
    }
    if (eepromPageWrite) {
        // C2 aa aa xx: the page of the address; the bytes loaded are erased and written.
        const std::uint32_t start =
            address & (device_.eepromBytes - 1) & ~(device_.eepromPageBytes - 1);
        long first = -1;
        for (std::uint32_t i = 0; i < device_.eepromPageBytes; ++i) {
            if (!eepromLoaded_[i])
                continue;
            if (!faults.dropWrites)
                eeprom_[start + i] = eepromPage_[i];
            if (first < 0)
                first = static_cast<long>(start + i);
        }
        eepromWriting_ = eepromLoaded_;
        std::fill(eepromPage_.begin(), eepromPage_.end(), 0xFF);
        std::fill(eepromLoaded_.begin(), eepromLoaded_.end(), false);
        lastEepromWrite_ = first;
        startBusy(Busy::EepromPage, start, device_.eepromPageBytes, timing.eepromWriteNs, ns);
        return;
    }

    const std::uint32_t word =
        ((std::uint32_t(extendedAddress_) << 16) | address) & (device_.flashBytes / 2 - 1);
    if (flashWrite && device_.pageWords != 0) {
        // Page parts: the byte goes to the page buffer; only Write Page programs the flash.
        pageBuffer_[(word & (device_.pageWords - 1)) * 2 + (op == 0x48 ? 1 : 0)] = data;
    } else if (flashWrite) {
        const std::uint32_t at = word * 2 + (op == 0x48 ? 1 : 0);
        if (!faults.dropWrites)
            flash_[at] &= data;
        lastFlashWrite_ = at;
        startBusy(Busy::FlashByte, at, 1, timing.flashWriteNs, ns);
    } else if (pageWrite) {
        const std::uint32_t start = (word & ~(device_.pageWords - 1)) * 2;
        if (!faults.dropWrites)
            for (std::uint32_t i = 0; i < pageBuffer_.size(); ++i)
                flash_[start + i] &= pageBuffer_[i];
        std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
        lastFlashWrite_ = start;
        startBusy(Busy::FlashPage, start, device_.pageWords * 2, timing.flashWriteNs, ns);
    } else {
        const std::uint32_t at = address & (device_.eepromBytes - 1);
        if (!faults.dropWrites)
            eeprom_[at] = data;
        lastEepromWrite_ = at;
        startBusy(Busy::EepromByte, at, 1, timing.eepromWriteNs, ns);
    }
}

bool AvrTarget::writeLockOrFuse()
{
    const std::uint8_t b1 = frame_[1];
    const std::uint8_t b3 = frame_[3];
    int fuse = -1;          // fuse byte written
    std::uint8_t value = 0; // its new bits
    std::uint8_t mask = 0;  // the bits the instruction carries
    int lockFrom = -1;      // byte of the instruction that carries the lock bits
    switch (device_.family) {
    case AvrFamily::At90sLockOnly:
        if ((b1 & 0xE0) == 0xE0) // AC 111x x21x
            lockFrom = 1;
        break;
    case AvrFamily::At90sLockAndFuse:
        if ((b1 & 0xF9) == 0xF9) // AC 1111 1211
            lockFrom = 1;
        else if ((b1 & 0xFE) == 0xBE) // AC 1011 111F
            fuse = 0, value = b1 & 0x01, mask = 0x01;
        break;
    case AvrFamily::ATmega103:
        if ((b1 & 0xF9) == 0xF9)
            lockFrom = 1;
        else if ((b1 & 0xF4) == 0xB4) // AC 1011 E 1 T1 T0
            fuse = 0, value = b1 & 0x0B, mask = 0x0B;
        break;
    case AvrFamily::ATtiny12:
        if ((b1 & 0xE0) == 0xE0) // AC 111x x21x, whatever the don't-care bits hold
            lockFrom = 1;
        else if ((b1 & 0xE0) == 0xA0) // AC 101x xxxx
            fuse = 0, value = b3, mask = 0xFF;
        break;
    case AvrFamily::Table:
        if (device_.bitsLayout == AvrBitsLayout::Tiny26) {
            if ((b1 & 0xE0) == 0xE0) {
                if ((b1 & 0xFC) == 0xFC) // AC 1111 1121, the bits in the second byte
                    lockFrom = 1;
                break;
            }
        } else if (device_.bitsLayout != AvrBitsLayout::Standard) {
            if ((b1 & 0xF9) == 0xF9) // AC 1111 1211
                lockFrom = 1;
            else if ((b1 & 0xE0) == 0xA0 && device_.bitsLayout == AvrBitsLayout::At90s4433 &&
                     device_.fuseCount > 0) // AC 101A 9876: BODLEVEL BODEN CKSEL2..0
                fuse = 0, value = b1 & 0x1F, mask = 0x1F;
            else if ((b1 & 0xE0) == 0xA0 && device_.bitsLayout == AvrBitsLayout::Tiny15)
                fuse = 0, value = b3, mask = 0xF3; // AC 101x xxxx xxxx xxxx 8765 1121
            break;
        }
        [[fallthrough]];
    case AvrFamily::ATmega161:
    case AvrFamily::ATmega163:
    case AvrFamily::ATmega128:
        if ((b1 & 0xE0) == 0xE0) // AC 111x xxxx, the bits in the fourth byte
            lockFrom = 3;
        else if (b1 == 0xA0)
            fuse = 0, value = b3, mask = 0xFF;
        else if (b1 == 0xA8 && device_.fuseCount > 1)
            fuse = 1, value = b3, mask = 0xFF;
        else if (b1 == 0xA4 && device_.fuseCount > 2)
            fuse = 2, value = b3, mask = 0xFF;
        break;
    case AvrFamily::Generic:
        break;
    }
    if (lockFrom < 0 && fuse < 0)
        return false;
    if (faults.dropWrites)
        return true;
    if (lockFrom >= 0) {
        // Lock bits can only be programmed; a chip erase clears them.
        lock_ &= static_cast<std::uint8_t>(frame_[lockFrom] | ~lockBits(device_));
        return true;
    }
    // The AT90S parts keep their fuses open to serial programming in every lock mode.
    const bool at90sForm = device_.bitsLayout == AvrBitsLayout::At90s1200 ||
                           device_.bitsLayout == AvrBitsLayout::At90s4433;
    const bool bootLockParts =
        lockBits(device_) == 0x3F || (device_.family == AvrFamily::Table && !at90sForm);
    if (bootLockParts && writesLocked())
        return true; // lock mode 2 and 3 lock the fuses too
    const AvrFuseByte& layout = device_.fuses[fuse];
    const std::uint8_t change = mask & ~layout.fixed;
    fuses_[fuse] =
        static_cast<std::uint8_t>((fuses_[fuse] & ~change) | (value & change) | layout.unused);
    return true;
}

// ---- keys and files -------------------------------------------------------------------------

void AvrTarget::describe(ChipKeys& keys) const
{
    if (named())
        keys["avr"] = device_.name;
    keys["avr.signature"] = hex(device_.signature.data(), 3);
    for (int i = 0; i < device_.fuseCount; ++i)
        keys[kFuseKeys[i]] = hex(fuses_[i]);
    if (hasLock(device_.family))
        keys["avr.lock"] = hex(lock_);
    if (device_.calibrationCount > 0)
        keys["avr.calibration"] = hex(calibration_[0]);
    keys["avr.timing"] = speed_ == AvrSpeed::Slowest ? kSlowest : kFastest;
    // A fault, reported once there has been one.
    if (lostSckEdges_)
        keys[kLostEdgesKey] = std::to_string(lostSckEdges_);
}

bool AvrTarget::set(const std::string& key, const std::string& value, std::string& error)
{
    if (key == "avr" || key == "avr.signature") {
        ChipKeys keys;
        describe(keys);
        const auto it = keys.find(key);
        if (it != keys.end() && upper(value) == upper(it->second))
            return true;
        error = key + " cannot be changed: it is " + title() + "; insert another chip instead";
        return false;
    }
    if (key == kLostEdgesKey) {
        // The count the chip has kept of SCK edges it did not see; a test may reset it.
        if (value.empty() || value.size() > 9 ||
            !std::ranges::all_of(value, [](char c) { return c >= '0' && c <= '9'; })) {
            error = std::string("The value of ") + kLostEdgesKey + " must be a count, not \"" +
                    value + "\"";
            return false;
        }
        lostSckEdges_ = std::stol(value);
        return true;
    }
    if (key == "avr.timing") {
        const std::string speed = upper(value);
        if (speed != upper(kSlowest) && speed != upper(kFastest)) {
            error = "The value of avr.timing must be slowest or fastest, not \"" + value + "\"";
            return false;
        }
        setSpeed(speed == upper(kSlowest) ? AvrSpeed::Slowest : AvrSpeed::Fastest);
        return true;
    }
    int fuse = -1;
    for (int i = 0; i < device_.fuseCount; ++i)
        if (key == kFuseKeys[i])
            fuse = i;
    const bool lock = key == "avr.lock" && hasLock(device_.family);
    const bool calibration = key == "avr.calibration" && device_.calibrationCount > 0;
    if (fuse < 0 && !lock && !calibration) {
        ChipKeys keys;
        describe(keys);
        std::string known;
        for (const auto& [name, unused] : keys)
            if (name != "avr" && name != "avr.signature" && name != kLostEdgesKey)
                known += (known.empty() ? "" : ", ") + name;
        error = "The AVR key " + key + " does not exist on " + title() +
                (known.empty() ? std::string("; it has none to set") : "; it has " + known);
        return false;
    }
    std::uint8_t byte = 0;
    if (!parseHex(value, &byte, 1)) {
        error = "The value of " + key + " must be two hex digits, not \"" + value + "\"";
        return false;
    }
    if (fuse >= 0)
        fuses_[fuse] = fusesLatched_[fuse] = byte | device_.fuses[fuse].unused;
    else if (lock)
        lock_ = static_cast<std::uint8_t>(byte | ~lockBits(device_));
    else
        calibration_[0] = byte;
    return true;
}

std::vector<ChipMemoryFile> AvrTarget::memoryFiles()
{
    return {{kFlashFile, "the flash of " + title(), &flash_},
            {kEepromFile, "the EEPROM of " + title(), &eeprom_}};
}

std::unique_ptr<AvrSocketChip> MakeAvrChip(const std::string& device, const std::string& signature,
                                           std::string& error)
{
    std::array<std::uint8_t, 3> bytes{};
    const bool haveSignature = !signature.empty();
    if (haveSignature && !parseHex(signature, bytes.data(), 3)) {
        error = "An AVR signature is 6 hex digits, such as 1E9502, not \"" + signature + "\"";
        return nullptr;
    }
    if (device.empty()) {
        if (!haveSignature) {
            error = "Name an AVR device (" + AvrCatalogueNames() + ") or give its signature";
            return nullptr;
        }
        return std::make_unique<AvrTarget>(AvrTarget::Generic(bytes));
    }
    const AvrDevice* found = FindAvrDevice(device);
    const AvrPart* part = found ? nullptr : FindPartByName(device);
    // Another name of a chip of the first catalogue (the ATmega128A of the ATmega128) is that
    // chip.
    if (part && part->variantOf)
        found = FindAvrDevice(part->variantOf);
    if (!found) {
        if (!part) {
            error = "There is no AVR device \"" + device + "\"; the simulated board takes " +
                    AvrCatalogueNames() + " and the parts vardel-cli avr parts lists";
            return nullptr;
        }
        const AvrDevice fromPart = DeviceFromPart(*part);
        if (haveSignature && bytes != fromPart.signature) {
            error = std::string("The ") + part->name + " answers signature " +
                    hex(fromPart.signature.data(), 3) + ", not " + upper(signature);
            return nullptr;
        }
        return std::make_unique<AvrTarget>(fromPart);
    }
    if (haveSignature && bytes != found->signature) {
        error = std::string("The ") + found->name + " answers signature " +
                hex(found->signature.data(), 3) + ", not " + upper(signature);
        return nullptr;
    }
    return std::make_unique<AvrTarget>(*found);
}

} // namespace vardel::sim
