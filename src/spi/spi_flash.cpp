#include "spi/spi_flash.h"

#include "hw/outcome_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace vardel {

namespace {
constexpr int kKiB = 1024;
constexpr int kMiB = 1024 * 1024;
constexpr auto W = FlashProtection::WinbondStyle;
constexpr auto O = FlashProtection::Other;

// From the makers' datasheets. Times are maxima where a datasheet gives them, else 0.
// Columns: name, maker, JEDEC ID, size, 4K / 32K erase, page program, address bytes, protection
// scheme, smallest protected portion, page program / 4K erase / chip erase maximum in ms. The
// W25Q256 has BP0-BP3 at bits 2-5 in place of TB and SEC.
// clang-format off
constexpr std::array<SpiFlashPart, 24> kParts{{
    {"W25X40",      "Winbond",    {0xEF, 0x30, 0x13}, 512 * kKiB, true, true,  true,  3, W, 64 * kKiB,  0, 0,   0},
    {"W25Q16",      "Winbond",    {0xEF, 0x40, 0x15}, 2 * kMiB,   true, true,  true,  3, W, 64 * kKiB,  3, 400, 25'000},
    {"W25Q32",      "Winbond",    {0xEF, 0x40, 0x16}, 4 * kMiB,   true, true,  true,  3, W, 64 * kKiB,  3, 400, 50'000},
    {"W25Q64",      "Winbond",    {0xEF, 0x40, 0x17}, 8 * kMiB,   true, true,  true,  3, W, 128 * kKiB, 3, 400, 100'000},
    {"W25Q128",     "Winbond",    {0xEF, 0x40, 0x18}, 16 * kMiB,  true, true,  true,  3, W, 256 * kKiB, 3, 400, 200'000},
    {"W25Q256",     "Winbond",    {0xEF, 0x40, 0x19}, 32 * kMiB,  true, true,  true,  4, O, 0,          3, 400, 400'000},
    {"MX25L1606E",  "Macronix",   {0xC2, 0x20, 0x15}, 2 * kMiB,   true, true,  true,  3, O, 0, 0, 0, 0},
    {"MX25L3206E",  "Macronix",   {0xC2, 0x20, 0x16}, 4 * kMiB,   true, true,  true,  3, O, 0, 0, 0, 0},
    {"MX25L6406E",  "Macronix",   {0xC2, 0x20, 0x17}, 8 * kMiB,   true, true,  true,  3, O, 0, 0, 0, 0},
    {"MX25L12835F", "Macronix",   {0xC2, 0x20, 0x18}, 16 * kMiB,  true, true,  true,  3, O, 0, 0, 0, 0},
    {"MX25L25645G", "Macronix",   {0xC2, 0x20, 0x19}, 32 * kMiB,  true, true,  true,  4, O, 0, 0, 0, 0},
    {"GD25Q16",     "GigaDevice", {0xC8, 0x40, 0x15}, 2 * kMiB,   true, true,  true,  3, W, 64 * kKiB,  0, 0, 0},
    {"GD25Q32",     "GigaDevice", {0xC8, 0x40, 0x16}, 4 * kMiB,   true, true,  true,  3, W, 64 * kKiB,  0, 0, 0},
    {"GD25Q64",     "GigaDevice", {0xC8, 0x40, 0x17}, 8 * kMiB,   true, true,  true,  3, W, 128 * kKiB, 0, 0, 0},
    {"GD25Q128",    "GigaDevice", {0xC8, 0x40, 0x18}, 16 * kMiB,  true, true,  true,  3, W, 256 * kKiB, 0, 0, 0},
    {"IS25LP064",   "ISSI",       {0x9D, 0x60, 0x17}, 8 * kMiB,   true, true,  true,  3, O, 0, 0, 0, 0},
    {"S25FL116K",   "Spansion",   {0x01, 0x40, 0x15}, 2 * kMiB,   true, false, true,  3, O, 0, 0, 0, 0},
    {"S25FL064L",   "Spansion",   {0x01, 0x60, 0x17}, 8 * kMiB,   true, true,  true,  3, O, 0, 0, 0, 0},
    {"N25Q064A",    "Micron",     {0x20, 0xBA, 0x17}, 8 * kMiB,   true, false, true,  3, O, 0, 0, 0, 0},
    {"MT25QL128",   "Micron",     {0x20, 0xBA, 0x18}, 16 * kMiB,  true, true,  true,  3, O, 0, 0, 0, 0},
    {"AT25SF041",   "Adesto",     {0x1F, 0x84, 0x01}, 512 * kKiB, true, true,  true,  3, O, 0, 0, 0, 0},
    {"AT26DF081A",  "Adesto",     {0x1F, 0x45, 0x01}, 1 * kMiB,   true, true,  true,  3, O, 0, 0, 0, 0},
    {"EN25Q64",     "EON",        {0x1C, 0x30, 0x17}, 8 * kMiB,   true, false, true,  3, O, 0, 0, 0, 0},
    {"SST25VF016B", "SST",        {0xBF, 0x25, 0x41}, 2 * kMiB,   true, true,  false, 3, O, 0, 0, 0, 0},
}};
// clang-format on

// Limits where a datasheet gives no maximum: far beyond any part's.
constexpr int kPageLimitMs = 50;
constexpr int kSectorLimitMs = 2'000;
constexpr int kBlockLimitMs = 10'000;
constexpr int kChipLimitMs = 400'000;
constexpr int kStatusLimitMs = 1'000;
constexpr int kSector = 4 * kKiB;
constexpr int kBlock32 = 32 * kKiB;
constexpr int kBlock64 = 64 * kKiB;

std::string idText(const std::uint8_t id[3])
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", id[0], id[1], id[2]);
    return text;
}

std::string hex2(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}
} // namespace

std::span<const SpiFlashPart> SpiFlashParts()
{
    return kParts;
}

const SpiFlashPart* FindSpiFlashPart(const std::uint8_t id[3])
{
    for (const SpiFlashPart& p : kParts)
        if (std::equal(p.id, p.id + 3, id))
            return &p;
    return nullptr;
}

std::optional<FlashRange> WinbondProtectedRange(std::uint16_t status, int bytes,
                                                int smallestProtected)
{
    const unsigned bp = (status >> 2) & 7;
    const bool bottom = status & 0x20;
    const bool sector = status & 0x40;
    const bool complement = status & 0x4000;
    const auto total = static_cast<std::uint32_t>(bytes);
    std::uint32_t size = 0;
    if (bp == 7)
        size = total;
    else if (bp != 0 && sector)
        size = std::min<std::uint32_t>(std::uint32_t{4096} << (bp - 1), 32768);
    else if (bp != 0)
        size = std::min<std::uint32_t>(static_cast<std::uint32_t>(smallestProtected) << (bp - 1),
                                       total);
    FlashRange range = bottom ? FlashRange{0, size} : FlashRange{total - size, total};
    if (complement)
        range = bottom ? FlashRange{size, total} : FlashRange{0, total - size};
    if (range.from >= range.to)
        return std::nullopt;
    return range;
}

SpiFlash::SpiFlash(LineDriver& lines, BitTiming& timing, Host& host, OperationLock& operations)
    : lines_(lines), timing_(timing), host_(host), operations_(operations)
{
}

void SpiFlash::select()
{
    lines_.SetAvrLines(1, 0, 0, 0, 0);
}

void SpiFlash::deselect()
{
    lines_.SetAvrLines(1, 0, 0, 1, 0);
}

std::uint8_t SpiFlash::transfer(std::uint8_t out)
{
    // MOSI set with SCK low, MISO (moved by the chip on the last falling edge) read, then the
    // rising edge: three port accesses a bit. The next bit's first write is the falling edge.
    std::uint8_t in = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const std::uint8_t level = (out >> bit) & 1;
        lines_.SetAvrLines(1, 0, level, 0, 0);
        if (lines_.ReadAvrMiso())
            in = static_cast<std::uint8_t>(in | (1u << bit));
        lines_.SetAvrLines(1, 1, level, 0, 0);
    }
    return in;
}

void SpiFlash::command(std::uint8_t op)
{
    select();
    transfer(op);
    // SCK falls before /CS rises: the chip counts a whole byte.
    lines_.SetAvrLines(1, 0, 0, 0, 0);
    deselect();
}

void SpiFlash::beginAddressed(std::uint8_t op, std::uint32_t address)
{
    select();
    transfer(op);
    transfer(static_cast<std::uint8_t>(address >> 16));
    transfer(static_cast<std::uint8_t>(address >> 8));
    transfer(static_cast<std::uint8_t>(address));
}

std::uint16_t SpiFlash::readStatus()
{
    select();
    transfer(SpiBus::kReadStatus);
    std::uint16_t status = transfer(0);
    deselect();
    // 35h is a status read on the Winbond-style parts only (Micron's N25Q take it as ENTER QUAD).
    if (part_ && part_->protection == FlashProtection::WinbondStyle) {
        select();
        transfer(kReadStatus2);
        status = static_cast<std::uint16_t>(status | (transfer(0) << 8));
        deselect();
    }
    return status;
}

bool SpiFlash::writeEnable()
{
    command(SpiBus::kWriteEnable);
    select();
    transfer(SpiBus::kReadStatus);
    const std::uint8_t status = transfer(0);
    deselect();
    return (status & SpiBus::kWriteEnableLatch) && status != 0xFF;
}

bool SpiFlash::waitReady(int maxMs)
{
    Clock& clock = timing_.clock();
    const std::int64_t deadline = clock.nanoseconds() + std::int64_t{maxMs} * 1'000'000;
    return PollUntil(clock, deadline, [&] {
        select();
        transfer(SpiBus::kReadStatus);
        const std::uint8_t status = transfer(0);
        deselect();
        return !(status & SpiBus::kWriteInProgress);
    });
}

void SpiFlash::linesLow()
{
    lines_.SetAvrLines(0, 0, 0, 0, 0);
}

bool SpiFlash::cancelled()
{
    return host_.CancelFlag() || operations_.stopRequested();
}

void SpiFlash::progress(const std::string& what, std::size_t done, std::size_t total)
{
    // The speed of each phase (read, erase, program) is its own: "1.2 MiB of 8 MiB read, 45
    // KiB/s".
    const std::int64_t now = timing_.clock().nanoseconds();
    if (done == 0 || what != phase_) {
        phase_ = what;
        phaseStart_ = now;
    }
    const std::string speed = SpeedText(done, now - phaseStart_);
    host_.ProgressLabel(BytesText(done) + " of " + BytesText(total) + " " + what +
                        (speed.empty() ? "" : ", " + speed));
    host_.ProgressGauge(total ? static_cast<int>(done * 100 / total) : 100);
    // Repaints, and a click on Cancel or Stop, between the units of work.
    host_.ProcessMessages();
}

SpiFlash::Outcome SpiFlash::fail(const std::string& text)
{
    linesLow();
    host_.ProgressHide();
    host_.MessageBox(text, "ERROR", Host::Kind::Error);
    return Outcome::Failed;
}

bool SpiFlash::identify()
{
    part_ = nullptr;
    deselect();
    // The supply settles before the first instruction.
    timing_.WaitMilliseconds(1);
    // Release from deep power-down (RES); the chip needs a few microseconds before the next one.
    select();
    transfer(kRelease);
    for (int i = 0; i < 3; ++i)
        transfer(0);
    transfer(0);
    deselect();
    timing_.BitDelay();
    select();
    transfer(kReadId);
    for (std::uint8_t& b : id_)
        b = transfer(0);
    deselect();
    const bool ones = id_[0] == 0xFF && id_[1] == 0xFF && id_[2] == 0xFF;
    const bool zeros = id_[0] == 0 && id_[1] == 0 && id_[2] == 0;
    if (ones || zeros) {
        linesLow();
        host_.MessageBox("No chip: the JEDEC ID reads " + idText(id_) +
                             ".\rCheck that the flash sits in the AVR socket's place with pin 1 "
                             "where it belongs and that /CS, CLK, DI and DO reach RESET, SCK, "
                             "MOSI and MISO (DO " +
                             std::string(ones ? "never pulls low" : "is held low") + ").",
                         "ERROR", Host::Kind::Error);
        return false;
    }
    part_ = FindSpiFlashPart(id_);
    if (!part_) {
        unknown_ = SpiFlashPart{"unknown",
                                "unknown maker",
                                {id_[0], id_[1], id_[2]},
                                0,
                                true,
                                false,
                                false,
                                3,
                                FlashProtection::Other,
                                0,
                                0,
                                0,
                                0};
        part_ = &unknown_;
    }
    status_ = readStatus();
    return true;
}

SpiFlash::Outcome SpiFlash::Identify()
{
    const bool found = identify();
    linesLow();
    return found ? Outcome::Done : Outcome::Failed;
}

bool SpiFlash::readInto(std::vector<std::uint8_t>& out, const char* what)
{
    const auto total = static_cast<std::size_t>(size());
    out.assign(total, 0xFF);
    host_.ProgressGauge(0);
    host_.ProgressShow();
    beginAddressed(SpiBus::kRead, 0);
    for (std::size_t i = 0; i < total; ++i) {
        if (i % kSector == 0) {
            progress(what, i, total);
            if (cancelled()) {
                deselect();
                linesLow();
                host_.ProgressHide();
                return false;
            }
        }
        out[i] = transfer(0);
    }
    deselect();
    progress(what, total, total);
    host_.ProgressHide();
    return true;
}

SpiFlash::Outcome SpiFlash::Read(std::vector<std::uint8_t>& out)
{
    if (!identify())
        return Outcome::Failed;
    if (!part_->bytes)
        return fail("The chip with JEDEC ID " + idText(id_) +
                    " is not a known part: its size cannot be known, so it is not read.");
    if (part_->addressBytes != 3)
        return fail(std::string("The ") + part_->name +
                    " takes 4-byte addresses, which this version does not drive.");
    if (!readInto(out, "read"))
        return Outcome::Cancelled;
    linesLow();
    return Outcome::Done;
}

SpiFlash::Outcome SpiFlash::BlankTest()
{
    const Outcome read = Read(chip_);
    if (read != Outcome::Done)
        return read;
    const auto first =
        std::find_if(chip_.begin(), chip_.end(), [](std::uint8_t b) { return b != 0xFF; });
    if (first == chip_.end())
        return Outcome::Done;
    const auto count =
        std::count_if(chip_.begin(), chip_.end(), [](std::uint8_t b) { return b != 0xFF; });
    host_.MessageBox(std::string("The ") + part_->name + " is not blank: " + std::to_string(count) +
                         " bytes are not FF, the first at " +
                         AddressText(static_cast<std::uint32_t>(first - chip_.begin())) + ".",
                     "ERROR", Host::Kind::Difference);
    return Outcome::Different;
}

SpiFlash::Outcome SpiFlash::Verify(const std::vector<std::uint8_t>& image)
{
    const Outcome read = Read(chip_);
    if (read != Outcome::Done)
        return read;
    const std::size_t n = std::min(image.size(), chip_.size());
    const auto diff =
        std::mismatch(chip_.begin(), chip_.begin() + static_cast<long>(n), image.begin());
    if (diff.first == chip_.begin() + static_cast<long>(n) && image.size() == chip_.size())
        return Outcome::Done;
    host_.MessageBox("Verify failed: the chip differs from the file at " +
                         AddressText(static_cast<std::uint32_t>(diff.first - chip_.begin())) + ".",
                     "ERROR", Host::Kind::Difference);
    return Outcome::Different;
}

bool SpiFlash::checkProtection(const std::vector<bool>& touched)
{
    refusedProtected = false;
    const auto total = static_cast<std::uint32_t>(size());
    std::optional<FlashRange> range;
    std::string bits;
    // The BP bits of the other makers: Micron's BP0-BP2 and BP3 at bit 6 (TB at bit 5), else
    // BP0-BP3 at bits 2-5 (bit 6 is Macronix's and ISSI's QE, which is kept).
    const std::uint8_t bpMask = id_[0] == 0x20 ? 0x5C : 0x3C;
    const auto bit = [this](int n) {
        return std::to_string((status_ >> n) & 1);
    };
    if (part_->protection == FlashProtection::WinbondStyle) {
        range = WinbondProtectedRange(status_, size(), part_->smallestProtected);
        bits = "BP2 BP1 BP0 = " + bit(4) + bit(3) + bit(2) + ", TB = " + bit(5) +
               ", SEC = " + bit(6) + ", CMP = " + bit(14);
    } else {
        if (status_ & bpMask)
            range = FlashRange{0, total};
        bits = "status register " + hex2(status_) + ", whose protected range is not known here";
    }
    const auto hit = [&] {
        if (!range)
            return false;
        for (std::uint32_t s = range->from / kSector; s < (range->to + kSector - 1) / kSector; ++s)
            if (touched[s])
                return true;
        return false;
    };
    if (!hit())
        return true;
    const std::string text = std::string("The ") + part_->name + " is write-protected from " +
                             AddressText(range->from) + " to " + AddressText(range->to - 1) + " (" +
                             bits + ").";
    if (!clearProtection) {
        linesLow();
        if (!askClearProtection) {
            refusedProtected = true;
            host_.MessageBox(text + "\rNothing was written.", "ERROR", Host::Kind::Error);
            return false;
        }
        if (!askClearProtection(text)) {
            refusedProtected = true;
            return false;
        }
        // The chip went unpowered while the question was open: it must be the same part, and
        // its status is read again.
        std::uint8_t before[3];
        std::copy(id_, id_ + 3, before);
        if (!identify())
            return false;
        if (!std::equal(id_, id_ + 3, before)) {
            fail("The chip in the socket changed while the question was open: nothing was "
                 "written.");
            return false;
        }
    }
    // The block-protect bits cleared; SRP and status register 2 stay as they were (the
    // two-byte WRSR writes SR2 back as it was read).
    std::uint8_t sr1 = static_cast<std::uint8_t>(status_);
    if (part_->protection == FlashProtection::WinbondStyle)
        sr1 &= static_cast<std::uint8_t>(~0x7C);
    else
        sr1 &= static_cast<std::uint8_t>(id_[0] == 0x20 ? ~0x7C : ~0x3C);
    if (!writeEnable()) {
        fail(text + "\rThe chip did not set its write-enable latch: nothing was written.");
        return false;
    }
    select();
    transfer(SpiBus::kWriteStatus);
    transfer(sr1);
    if (part_->protection == FlashProtection::WinbondStyle)
        transfer(static_cast<std::uint8_t>(status_ >> 8));
    lines_.SetAvrLines(1, 0, 0, 0, 0);
    deselect();
    if (!waitReady(kStatusLimitMs)) {
        fail(text + "\rThe status register write did not end: nothing else was written.");
        return false;
    }
    status_ = readStatus();
    if (part_->protection == FlashProtection::WinbondStyle)
        range = WinbondProtectedRange(status_, size(), part_->smallestProtected);
    else
        range = (status_ & bpMask) ? std::optional<FlashRange>(FlashRange{0, total}) : std::nullopt;
    if (hit()) {
        fail(text + "\rThe chip kept its protection (status " + hex2(status_ >> 8) + hex2(status_) +
             "): nothing was written.");
        return false;
    }
    host_.MessageBox(text + "\rThe block-protect bits were cleared.", "WARNING",
                     Host::Kind::Warning);
    return true;
}

SpiFlash::Outcome SpiFlash::Program(const std::vector<std::uint8_t>& image, bool verify)
{
    sectorsErased = blocksErased = pagesProgrammed = 0;
    if (!identify())
        return Outcome::Failed;
    if (!part_->bytes)
        return fail("The chip with JEDEC ID " + idText(id_) +
                    " is not a known part: its size and erase sizes cannot be known, so it is "
                    "not written.");
    if (part_->addressBytes != 3 || !part_->pageProgram)
        return fail(
            std::string("The ") + part_->name +
            (part_->addressBytes != 3 ? " takes 4-byte addresses" : " has no page program") +
            ", which this version does not drive: nothing was written.");
    if (image.size() != static_cast<std::size_t>(size()))
        return fail("The image is not the chip's size: nothing was written.");
    if (!readInto(chip_, "read"))
        return Outcome::Cancelled;

    const int sectors = size() / kSector;
    std::vector<bool> needsErase(static_cast<std::size_t>(sectors), false);
    std::vector<bool> touched(static_cast<std::size_t>(sectors), false);
    for (int s = 0; s < sectors; ++s)
        for (int i = s * kSector; i < (s + 1) * kSector; ++i) {
            const auto k = static_cast<std::size_t>(i);
            if (chip_[k] != image[k])
                touched[static_cast<std::size_t>(s)] = true;
            if ((chip_[k] & image[k]) != image[k]) {
                needsErase[static_cast<std::size_t>(s)] = true;
                break;
            }
        }
    // The fewest erases that cover the sectors that need one: a 64K or 32K block where every
    // sector of it does, else each sector.
    struct Erase {
        std::uint8_t op;
        int address;
        int length;
    };
    std::vector<Erase> erases;
    const auto all = [&](int from, int count) {
        for (int s = from; s < from + count; ++s)
            if (!needsErase[static_cast<std::size_t>(s)])
                return false;
        return true;
    };
    const int perBlock = kBlock64 / kSector;
    for (int b = 0; b < sectors / perBlock; ++b) {
        const int first = b * perBlock;
        if (all(first, perBlock) || !part_->erase4k) {
            if (std::any_of(needsErase.begin() + first, needsErase.begin() + first + perBlock,
                            [](bool e) { return e; }))
                erases.push_back({kBlockErase64, first * kSector, kBlock64});
            continue;
        }
        for (int half = 0; half < 2; ++half) {
            const int h = first + half * perBlock / 2;
            if (part_->erase32k && all(h, perBlock / 2)) {
                erases.push_back({kBlockErase32, h * kSector, kBlock32});
                continue;
            }
            for (int s = h; s < h + perBlock / 2; ++s)
                if (needsErase[static_cast<std::size_t>(s)])
                    erases.push_back({kSectorErase, s * kSector, kSector});
        }
    }
    for (const Erase& e : erases)
        for (int s = e.address / kSector; s < (e.address + e.length) / kSector; ++s)
            touched[static_cast<std::size_t>(s)] = true;
    if (!checkProtection(touched))
        return Outcome::Failed;

    const int sectorLimit = part_->sectorMaxMs ? part_->sectorMaxMs : kSectorLimitMs;
    const int pageLimit = part_->pageMaxMs ? part_->pageMaxMs : kPageLimitMs;
    host_.ProgressGauge(0);
    host_.ProgressShow();
    std::size_t done = 0;
    for (const Erase& e : erases) {
        if (cancelled()) {
            linesLow();
            host_.ProgressHide();
            return Outcome::Cancelled;
        }
        progress("erased", done, static_cast<std::size_t>(size()));
        if (!writeEnable())
            return fail("The chip did not set its write-enable latch before an erase at " +
                        AddressText(static_cast<std::uint32_t>(e.address)) +
                        ": the chip may be partly written.");
        beginAddressed(e.op, static_cast<std::uint32_t>(e.address));
        lines_.SetAvrLines(1, 0, 0, 0, 0);
        deselect();
        if (!waitReady(e.op == kSectorErase ? sectorLimit : kBlockLimitMs))
            return fail("The erase at " + AddressText(static_cast<std::uint32_t>(e.address)) +
                        " did not end in time: the chip may be partly written.");
        std::fill_n(chip_.begin() + e.address, e.length, 0xFF);
        (e.op == kSectorErase ? sectorsErased : blocksErased) += 1;
        done += static_cast<std::size_t>(e.length);
    }
    for (int p = 0; p < size(); p += kPageSize) {
        const auto at = static_cast<std::size_t>(p);
        if (std::equal(image.begin() + p, image.begin() + p + kPageSize, chip_.begin() + p))
            continue;
        if (p % kSector == 0 || pagesProgrammed == 0) {
            progress("programmed", at, image.size());
            if (cancelled()) {
                linesLow();
                host_.ProgressHide();
                return Outcome::Cancelled;
            }
        }
        if (!writeEnable())
            return fail("The chip did not set its write-enable latch before the page at " +
                        AddressText(static_cast<std::uint32_t>(p)) +
                        ": the chip may be partly written.");
        beginAddressed(SpiBus::kWrite, static_cast<std::uint32_t>(p));
        for (int i = 0; i < kPageSize; ++i)
            transfer(image[at + static_cast<std::size_t>(i)]);
        lines_.SetAvrLines(1, 0, 0, 0, 0);
        deselect();
        if (!waitReady(pageLimit))
            return fail("The page program at " + AddressText(static_cast<std::uint32_t>(p)) +
                        " did not end in time: the chip may be partly written.");
        ++pagesProgrammed;
    }
    host_.ProgressHide();
    linesLow();
    return verify ? Verify(image) : Outcome::Done;
}

SpiFlash::Outcome SpiFlash::EraseChip()
{
    if (!identify())
        return Outcome::Failed;
    if (!part_->bytes)
        return fail("The chip with JEDEC ID " + idText(id_) +
                    " is not a known part: it is not erased.");
    std::vector<bool> touched(static_cast<std::size_t>(size() / kSector), true);
    if (!checkProtection(touched))
        return Outcome::Failed;
    if (!writeEnable())
        return fail("The chip did not set its write-enable latch: nothing was erased.");
    command(kChipErase);
    host_.ProgressLabel("Erasing the whole chip...");
    if (!waitReady(part_->chipMaxMs ? part_->chipMaxMs : kChipLimitMs))
        return fail("The chip erase did not end in time.");
    linesLow();
    return Outcome::Done;
}

} // namespace vardel
