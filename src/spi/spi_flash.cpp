#include "spi/spi_flash.h"

#include "hw/outcome_text.h"
#include "hw/port_io.h"

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
// scheme, smallest protected portion, page program / 4K erase / chip erase maximum in ms, and
// the SST25VF's block protection set at power-up. The W25Q256 has BP0-BP3 at bits 2-5 in place
// of TB and SEC. The parts over 16 MiB take the 4-byte opcodes 13, 12, 21, 5C and DC.
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
    {"SST25VF016B", "SST",        {0xBF, 0x25, 0x41}, 2 * kMiB,   true, true,  false, 3, O, 0, 0, 0, 0, true},
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

void SpiFlash::send(std::uint8_t out)
{
    // An opcode, address or data byte nothing is read back for: MOSI set with SCK low, then the
    // rising edge, two port accesses a bit.
    for (int bit = 7; bit >= 0; --bit) {
        const std::uint8_t level = (out >> bit) & 1;
        lines_.SetAvrLines(1, 0, level, 0, 0);
        lines_.SetAvrLines(1, 1, level, 0, 0);
    }
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
    send(op);
    // SCK falls before /CS rises: the chip counts a whole byte.
    lines_.SetAvrLines(1, 0, 0, 0, 0);
    deselect();
}

void SpiFlash::beginAddressed(std::uint8_t op, std::uint32_t address)
{
    select();
    send(op);
    if (addressing_ != Addressing::ThreeBytes)
        send(static_cast<std::uint8_t>(address >> 24));
    send(static_cast<std::uint8_t>(address >> 16));
    send(static_cast<std::uint8_t>(address >> 8));
    send(static_cast<std::uint8_t>(address));
}

std::uint16_t SpiFlash::readStatus()
{
    select();
    send(SpiBus::kReadStatus);
    std::uint16_t status = transfer(0);
    deselect();
    // 35h is a status read on the Winbond-style parts only (Micron's N25Q take it as ENTER QUAD).
    if (part_ && part_->protection == FlashProtection::WinbondStyle) {
        select();
        send(kReadStatus2);
        status = static_cast<std::uint16_t>(status | (transfer(0) << 8));
        deselect();
    }
    return status;
}

bool SpiFlash::writeEnable()
{
    command(SpiBus::kWriteEnable);
    select();
    send(SpiBus::kReadStatus);
    const std::uint8_t status = transfer(0);
    deselect();
    return (status & SpiBus::kWriteEnableLatch) && status != 0xFF;
}

bool SpiFlash::waitReady(int maxMs, const char* doing)
{
    Clock& clock = timing_.clock();
    const std::int64_t start = clock.nanoseconds();
    const std::int64_t deadline = start + std::int64_t{maxMs} * 1'000'000;
    std::int64_t shown = start;
    return PollUntil(clock, deadline, [&] {
        // A long wait (a whole-chip erase takes up to minutes) says how long it has lasted and
        // keeps the window painted.
        if (doing && clock.nanoseconds() - shown >= kWaitShownEveryNs) {
            shown = clock.nanoseconds();
            host_.ProgressLabel(std::string(doing) + ": " +
                                std::to_string((shown - start) / 1'000'000'000) + " s of at most " +
                                std::to_string(maxMs / 1000) + " s");
            host_.ProcessMessages();
        }
        select();
        send(SpiBus::kReadStatus);
        const std::uint8_t status = transfer(0);
        deselect();
        return !(status & SpiBus::kWriteInProgress);
    });
}

std::uint8_t SpiFlash::opcode(std::uint8_t op) const
{
    if (addressing_ != Addressing::FourByteOpcodes)
        return op;
    switch (op) {
    case SpiBus::kRead:
        return 0x13;
    case SpiBus::kWrite:
        return 0x12;
    case kSectorErase:
        return 0x21;
    case kBlockErase32:
        return 0x5C;
    case kBlockErase64:
        return 0xDC;
    default:
        return op;
    }
}

void SpiFlash::leaveFourByteMode()
{
    if (!inFourByteMode_)
        return;
    inFourByteMode_ = false;
    // Some makers want WREN before EX4B; WRDI ends the latch again. Nothing is read, so that a
    // port whose status reads failed still takes them.
    for (const std::uint8_t op : {SpiBus::kWriteEnable, kExit4Byte, SpiBus::kWriteDisable})
        command(op);
}

SpiFlash::ModeGuard::~ModeGuard()
{
    if (!flash.inFourByteMode_)
        return;
    try {
        flash.leaveFourByteMode();
        flash.linesLow();
    } catch (const PortError&) {
        // The port failed: what it still takes has been sent.
    }
}

void SpiFlash::linesLow()
{
    leaveFourByteMode();
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

void SpiFlash::sfdpBytes(std::uint32_t address, std::uint8_t* out, std::size_t count)
{
    // Three address bytes whatever the mode, then eight dummy clocks.
    select();
    send(kReadSfdp);
    send(static_cast<std::uint8_t>(address >> 16));
    send(static_cast<std::uint8_t>(address >> 8));
    send(static_cast<std::uint8_t>(address));
    send(0);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = transfer(0);
    deselect();
}

bool SpiFlash::readSfdp()
{
    std::uint8_t header[8];
    sfdpBytes(0, header, sizeof header);
    if (!std::equal(header, header + 4, "SFDP"))
        return false;
    // The JEDEC basic flash parameter table: ID LSB 00 and MSB FF among the parameter headers.
    std::uint32_t table = 0;
    int length = 0;
    for (int i = 0; i <= std::min<int>(header[6], 15) && !length; ++i) {
        std::uint8_t p[8];
        sfdpBytes(static_cast<std::uint32_t>(8 + 8 * i), p, sizeof p);
        if (p[0] == 0x00 && p[7] == 0xFF && p[3] >= 2) {
            table = p[4] | (p[5] << 8) | (std::uint32_t{p[6]} << 16);
            length = std::min<int>(p[3], 16);
        }
    }
    if (!length)
        return false;
    std::uint8_t bytes[64];
    sfdpBytes(table, bytes, static_cast<std::size_t>(4 * length));
    const auto dword = [&](int n) {
        const std::uint8_t* b = bytes + 4 * (n - 1);
        return n > length ? 0u : b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
    };
    const std::uint32_t first = dword(1), density = dword(2);
    std::uint64_t bits = 0;
    if (density & 0x80000000u)
        bits = (density & 0x7FFFFFFFu) < 40 ? std::uint64_t{1} << (density & 0x7FFFFFFFu) : 0;
    else
        bits = std::uint64_t{density} + 1;
    // Sizes from 64 KiB to 1 GiB, whole 64K blocks.
    if (bits < (std::uint64_t{8} << 16) || bits > (std::uint64_t{8} << 30) || bits % (8 << 16))
        return false;
    unknown_.bytes = static_cast<int>(bits / 8);
    unknown_.erase4k = (first & 3) == 1 && ((first >> 8) & 0xFF) == kSectorErase;
    // The erase types (size as a power of two, opcode): 32K by 52h, 64K by D8h; a table of
    // fewer than nine DWORDs gives none, and the usual 64K is taken.
    unknown_.erase32k = false;
    erase64k_ = length < 9;
    for (int type = 0; type < 4; ++type) {
        const std::uint32_t pair = (type < 2 ? dword(8) : dword(9)) >> (16 * (type % 2));
        const unsigned size = pair & 0xFF, op = (pair >> 8) & 0xFF;
        if (size == 0x0F && op == kBlockErase32)
            unknown_.erase32k = true;
        if (size == 0x10 && op == kBlockErase64)
            erase64k_ = true;
    }
    if (!unknown_.erase4k && !erase64k_)
        return false;
    // Pages from DWORD 11 (JESD216B), else 256 bytes where a 64-byte or larger buffer is said,
    // else byte by byte.
    const int pageShift = static_cast<int>((dword(11) >> 4) & 15);
    pageSize_ = length >= 11 && pageShift >= 0 && pageShift <= 8 ? 1 << pageShift
                : (first & 4)                                    ? kPageSize
                                                                 : 1;
    unknown_.pageProgram = true;
    const unsigned modes = (first >> 17) & 3;
    if (modes == 3)
        return false;
    unknown_.addressBytes = modes == 0 ? 3 : 4;
    if (modes == 1 && unknown_.bytes <= (16 << 20))
        unknown_.addressBytes = 3;
    addressing_ = unknown_.addressBytes == 3 ? Addressing::ThreeBytes
                  : modes == 2               ? Addressing::FourBytesOnly
                                             : Addressing::FourByteMode;
    if (unknown_.addressBytes == 3 && unknown_.bytes > (16 << 20))
        return false;
    unknown_.name = "SFDP part";
    return true;
}

bool SpiFlash::identify()
{
    part_ = nullptr;
    sfdpDescribed_ = false;
    addressing_ = Addressing::ThreeBytes;
    erase64k_ = true;
    pageSize_ = kPageSize;
    deselect();
    // The supply settles before the first instruction.
    timing_.WaitMilliseconds(1);
    // Release from deep power-down (RES); the chip needs a few microseconds before the next one.
    select();
    send(kRelease);
    for (int i = 0; i < 3; ++i)
        send(0);
    send(0);
    deselect();
    timing_.BitDelay();
    select();
    send(kReadId);
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
    if (part_ && part_->addressBytes == 4)
        addressing_ = Addressing::FourByteOpcodes;
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
        const auto maker = std::find_if(kParts.begin(), kParts.end(),
                                        [this](const auto& p) { return p.id[0] == id_[0]; });
        unknownMaker_ = maker != kParts.end() ? maker->maker : "unknown maker";
        unknown_.maker = unknownMaker_.c_str();
        part_ = &unknown_;
        // Sized from SFDP where the chip has it; else nothing but the ID is known.
        sfdpDescribed_ = readSfdp();
        if (!sfdpDescribed_) {
            unknown_.name = "unknown";
            unknown_.bytes = 0;
            unknown_.erase32k = false;
            unknown_.pageProgram = false;
            unknown_.addressBytes = 3;
            addressing_ = Addressing::ThreeBytes;
            pageSize_ = kPageSize;
            erase64k_ = true;
        }
    }
    status_ = readStatus();
    if (addressing_ == Addressing::FourByteMode) {
        // Some makers want WREN before EN4B; WRDI ends the latch again.
        command(SpiBus::kWriteEnable);
        command(kEnter4Byte);
        command(SpiBus::kWriteDisable);
        inFourByteMode_ = true;
    }
    return true;
}

SpiFlash::Outcome SpiFlash::Identify()
{
    const ModeGuard guard{*this};
    const bool found = identify();
    linesLow();
    return found ? Outcome::Done : Outcome::Failed;
}

bool SpiFlash::readInto(std::vector<std::uint8_t>& out, const char* what)
{
    return readInto(0, static_cast<std::size_t>(size()), out, what);
}

bool SpiFlash::readInto(std::uint32_t from, std::size_t length, std::vector<std::uint8_t>& out,
                        const char* what)
{
    out.assign(length, 0xFF);
    host_.ProgressGauge(0);
    host_.ProgressShow();
    beginAddressed(opcode(SpiBus::kRead), from);
    for (std::size_t i = 0; i < length; ++i) {
        if (i % kSector == 0) {
            progress(what, i, length);
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
    progress(what, length, length);
    host_.ProgressHide();
    return true;
}

SpiFlash::Outcome SpiFlash::Read(std::vector<std::uint8_t>& out)
{
    return Read(0, kToTheEnd, out);
}

SpiFlash::Outcome SpiFlash::Read(std::uint32_t from, std::size_t length,
                                 std::vector<std::uint8_t>& out)
{
    const ModeGuard guard{*this};
    if (!identify())
        return Outcome::Failed;
    if (!part_->bytes)
        return fail("The chip with JEDEC ID " + idText(id_) +
                    " is not a known part: its size cannot be known, so it is not read.");
    const auto total = static_cast<std::size_t>(size());
    if (length == kToTheEnd && from <= total)
        length = total - from;
    if (from > total || length > total - from)
        return fail("The range to read does not lie within the " + std::string(part_->name) +
                    "'s " + std::to_string(size()) + " bytes: nothing was read.");
    if (!readInto(from, length, out, "read"))
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

SpiFlash::Outcome SpiFlash::Verify(std::uint32_t from, const std::vector<std::uint8_t>& bytes)
{
    if (bytes.empty())
        return Outcome::Done;
    const Outcome read = Read(from, bytes.size(), chip_);
    if (read != Outcome::Done)
        return read;
    const auto diff = std::mismatch(chip_.begin(), chip_.end(), bytes.begin());
    if (diff.first == chip_.end())
        return Outcome::Done;
    host_.MessageBox(
        "Verify failed: the chip differs from the file at " +
            AddressText(from + static_cast<std::uint32_t>(diff.first - chip_.begin())) + ".",
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
    // Set again at every power-up: cleared for this session without a word.
    const bool powerUp = part_->protectedAtPowerUp;
    const std::string text = std::string("The ") + part_->name + " is write-protected from " +
                             AddressText(range->from) + " to " + AddressText(range->to - 1) + " (" +
                             bits + ").";
    if (!clearProtection && !powerUp) {
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
    send(SpiBus::kWriteStatus);
    send(sr1);
    if (part_->protection == FlashProtection::WinbondStyle)
        send(static_cast<std::uint8_t>(status_ >> 8));
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
    if (!powerUp)
        host_.MessageBox(text + "\rThe block-protect bits were cleared.", "WARNING",
                         Host::Kind::Warning);
    return true;
}

SpiFlash::Outcome SpiFlash::Program(const std::vector<std::uint8_t>& image, bool verify)
{
    return program(0, image, verify, true);
}

SpiFlash::Outcome SpiFlash::Program(std::uint32_t from, const std::vector<std::uint8_t>& bytes,
                                    bool verify)
{
    return program(from, bytes, verify, false);
}

std::string SpiFlash::programPage(std::uint32_t address, const std::uint8_t* data, int pageLimit)
{
    const std::string at = AddressText(address);
    if (!writeEnable())
        return "The chip did not set its write-enable latch before the page at " + at +
               ": the chip may be partly written.";
    if (part_->pageProgram) {
        beginAddressed(opcode(SpiBus::kWrite), address);
        for (int i = 0; i < pageSize_; ++i)
            send(data[i]);
        lines_.SetAvrLines(1, 0, 0, 0, 0);
        deselect();
        if (!waitReady(pageLimit))
            return "The page program at " + at + " did not end in time: the chip may be partly " +
                   "written.";
        return {};
    }
    // AAI word program: the address and two bytes, then two bytes a frame, each waited for; WRDI
    // ends it, on every way out.
    beginAddressed(kAaiProgram, address);
    for (int i = 0; i < pageSize_; i += 2) {
        if (i != 0) {
            select();
            send(kAaiProgram);
        }
        send(data[i]);
        send(data[i + 1]);
        lines_.SetAvrLines(1, 0, 0, 0, 0);
        deselect();
        if (!waitReady(pageLimit)) {
            command(SpiBus::kWriteDisable);
            return "The AAI program at " + AddressText(address + static_cast<std::uint32_t>(i)) +
                   " did not end in time: the chip may be partly written.";
        }
    }
    command(SpiBus::kWriteDisable);
    return {};
}

SpiFlash::Outcome SpiFlash::program(std::uint32_t from, const std::vector<std::uint8_t>& bytes,
                                    bool verify, bool whole)
{
    const ModeGuard guard{*this};
    sectorsErased = blocksErased = pagesProgrammed = 0;
    if (!identify())
        return Outcome::Failed;
    if (!part_->bytes)
        return fail("The chip with JEDEC ID " + idText(id_) +
                    " is not a known part: its size and erase sizes cannot be known, so it is "
                    "not written.");
    const auto total = static_cast<std::uint32_t>(size());
    if (whole && bytes.size() != total)
        return fail("The image is not the chip's size: nothing was written.");
    if (from > total || bytes.size() > total - from)
        return fail("The range to write does not lie within the " + std::string(part_->name) +
                    "'s " + std::to_string(total) + " bytes: nothing was written.");
    if (part_->pageProgram ? pageSize_ > kPageSize : pageSize_ % 2 != 0)
        return fail(std::string("The ") + part_->name + "'s pages of " + std::to_string(pageSize_) +
                    " bytes are not driven: nothing was written.");
    // The sectors (or 64K blocks, without 4K erase) that hold the range, read as they are, with
    // the bytes laid over them.
    const std::uint32_t unit = part_->erase4k ? kSector : kBlock64;
    const std::uint32_t base = from / unit * unit;
    const std::uint32_t end = std::min<std::uint32_t>(
        (from + static_cast<std::uint32_t>(bytes.size()) + unit - 1) / unit * unit, total);
    if (!readInto(base, end - base, chip_, "read"))
        return Outcome::Cancelled;
    std::vector<std::uint8_t> image = chip_;
    std::copy(bytes.begin(), bytes.end(), image.begin() + (from - base));

    const int sectors = static_cast<int>(end - base) / kSector;
    const int first = static_cast<int>(base) / kSector;
    std::vector<bool> needsErase(static_cast<std::size_t>(sectors), false);
    // By sector of the whole chip, for the protection check.
    std::vector<bool> touched(total / kSector, false);
    for (int s = 0; s < sectors; ++s)
        for (int i = s * kSector; i < (s + 1) * kSector; ++i) {
            const auto k = static_cast<std::size_t>(i);
            if (chip_[k] != image[k])
                touched[static_cast<std::size_t>(first + s)] = true;
            if ((chip_[k] & image[k]) != image[k]) {
                needsErase[static_cast<std::size_t>(s)] = true;
                break;
            }
        }
    // The fewest erases that cover the sectors that need one: a 64K or 32K block where every
    // sector of it does, else each sector.
    struct Erase {
        std::uint8_t op;
        int address; // within the blocks read
        int length;
    };
    std::vector<Erase> erases;
    const auto all = [&](int at, int count) {
        for (int s = at; s < at + count; ++s)
            if (!needsErase[static_cast<std::size_t>(s)])
                return false;
        return true;
    };
    // Blocks only where the whole block was read (sector indices are within the range read,
    // whose start `first` is a whole number of sectors into the chip).
    const int perBlock = kBlock64 / kSector;
    for (int s = 0; s < sectors;) {
        const int absolute = first + s;
        if (absolute % perBlock == 0 && s + perBlock <= sectors &&
            ((erase64k_ && all(s, perBlock)) || !part_->erase4k)) {
            if (std::any_of(needsErase.begin() + s, needsErase.begin() + s + perBlock,
                            [](bool e) { return e; }))
                erases.push_back({kBlockErase64, s * kSector, kBlock64});
            s += perBlock;
        } else if (absolute % (perBlock / 2) == 0 && s + perBlock / 2 <= sectors &&
                   part_->erase32k && all(s, perBlock / 2)) {
            erases.push_back({kBlockErase32, s * kSector, kBlock32});
            s += perBlock / 2;
        } else {
            if (needsErase[static_cast<std::size_t>(s)])
                erases.push_back({kSectorErase, s * kSector, kSector});
            ++s;
        }
    }
    for (const Erase& e : erases)
        for (int s = e.address / kSector; s < (e.address + e.length) / kSector; ++s)
            touched[static_cast<std::size_t>(first + s)] = true;
    if (!checkProtection(touched))
        return Outcome::Failed;

    const int sectorLimit = part_->sectorMaxMs ? part_->sectorMaxMs : kSectorLimitMs;
    const int pageLimit = part_->pageMaxMs ? part_->pageMaxMs : kPageLimitMs;
    const std::size_t length = end - base;
    host_.ProgressGauge(0);
    host_.ProgressShow();
    std::size_t done = 0;
    for (const Erase& e : erases) {
        const auto address = base + static_cast<std::uint32_t>(e.address);
        if (cancelled()) {
            linesLow();
            host_.ProgressHide();
            return Outcome::Cancelled;
        }
        progress("erased", done, length);
        if (!writeEnable())
            return fail("The chip did not set its write-enable latch before an erase at " +
                        AddressText(address) + ": the chip may be partly written.");
        beginAddressed(opcode(e.op), address);
        lines_.SetAvrLines(1, 0, 0, 0, 0);
        deselect();
        if (!waitReady(e.op == kSectorErase ? sectorLimit : kBlockLimitMs))
            return fail("The erase at " + AddressText(address) +
                        " did not end in time: the chip may be partly written.");
        std::fill_n(chip_.begin() + e.address, e.length, 0xFF);
        (e.op == kSectorErase ? sectorsErased : blocksErased) += 1;
        done += static_cast<std::size_t>(e.length);
    }
    for (int p = 0; p < static_cast<int>(length); p += pageSize_) {
        const auto at = static_cast<std::size_t>(p);
        if (std::equal(image.begin() + p, image.begin() + p + pageSize_, chip_.begin() + p))
            continue;
        if (p % kSector == 0 || pagesProgrammed == 0) {
            progress("programmed", at, length);
            if (cancelled()) {
                linesLow();
                host_.ProgressHide();
                return Outcome::Cancelled;
            }
        }
        const std::string failed =
            programPage(base + static_cast<std::uint32_t>(p), image.data() + p, pageLimit);
        if (!failed.empty())
            return fail(failed);
        ++pagesProgrammed;
    }
    host_.ProgressHide();
    linesLow();
    if (!verify)
        return Outcome::Done;
    return whole ? Verify(bytes) : Verify(from, bytes);
}

SpiFlash::Outcome SpiFlash::EraseChip()
{
    const ModeGuard guard{*this};
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
    if (!waitReady(part_->chipMaxMs ? part_->chipMaxMs : kChipLimitMs, "Erasing the whole chip"))
        return fail("The chip erase did not end in time.");
    linesLow();
    return Outcome::Done;
}

} // namespace vardel
