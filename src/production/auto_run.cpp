#include "production/auto_run.h"

#include "avr/avr_bits.h"
#include "avr/avr_page.h"
#include "avr/avr_session.h"
#include "avr/part_bits.h"
#include "files/binary_file.h"
#include "hw/outcome_text.h"
#include "hw/port_failure.h"
#include "i2c/eeprom_page.h"
#include "i2c/eeprom_types.h"
#include "i2c/i2c_bus.h"
#include "parts/catalogue_parts.h"
#include "parts/serial_bits.h"
#include "spi/microwire_bus.h"
#include "spi/spi_bus.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vardel {

namespace {

// The single commands report success in boxes of their own; inside an Auto run those become the
// status line, and only errors, warnings and questions stop for the user.
class AutoHost final : public Host {
public:
    explicit AutoHost(Host& host) : host_(host) {}
    Result MessageBox(const std::string& text, const std::string& caption, Kind kind,
                      Buttons buttons, Icon icon) override
    {
        if (kind == Kind::Success || kind == Kind::Verdict) {
            std::string line = text;
            std::replace(line.begin(), line.end(), '\r', ' ');
            host_.StatusText(line);
            return Result::Ok;
        }
        return host_.MessageBox(text, caption, kind, buttons, icon);
    }
    void BusyCursor() override { host_.BusyCursor(); }
    void NormalCursor() override { host_.NormalCursor(); }
    void ProgressShow() override { host_.ProgressShow(); }
    void ProgressHide() override { host_.ProgressHide(); }
    void ProgressLabel(const std::string& text) override { host_.ProgressLabel(text); }
    void ProgressGauge(int percent) override { host_.ProgressGauge(percent); }
    bool CancelFlag() override { return host_.CancelFlag(); }
    void FlashGauge(int percent) override { host_.FlashGauge(percent); }
    void EepromGauge(int percent) override { host_.EepromGauge(percent); }
    void ProcessMessages() override { host_.ProcessMessages(); }
    void StatusText(const std::string& text) override { host_.StatusText(text); }

private:
    Host& host_;
};

std::string Hex2(std::uint8_t byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

// A CRC as the log writes it, "0x0123ABCD": with its prefix no spreadsheet takes it for a number
// (12345678, or 1E345678 in scientific notation).
std::string CrcText(std::uint32_t value)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// A one-image HEX keeps the EEPROM from 0x810000 up and the fuses from 0x820000 up.
bool HasBytesIn(const HexImage& image, std::uint64_t from, std::uint64_t to)
{
    return std::any_of(image.runs.begin(), image.runs.end(), [&](const HexImage::Run& r) {
        return r.address < to && r.address + r.size > from;
    });
}

// Whether an image laid into a memory of `size` bytes gave it all it holds for that memory: a
// longer binary file, or HEX bytes past the memory's end, refuse the run. Empty, or why.
std::string CheckPlaced(const ImageFile& file, std::size_t size, const HexPlacement& placed,
                        const std::string& what)
{
    if (file.kind == FileKind::Bin && file.bin.size() > size)
        return "the image holds " + std::to_string(file.bin.size()) + " bytes, more than the " +
               what + "'s " + std::to_string(size);
    if (file.kind == FileKind::Hex && placed.outside)
        return std::to_string(placed.outside) + " bytes of the image lie past the end of the " +
               what + ", the first at " +
               AddressText(static_cast<std::uint32_t>(placed.firstOutside));
    if (file.kind == FileKind::Hex && placed.inside == 0)
        return std::string(kNoDataForMemory) + " (" + what + ")";
    return {};
}

// What the log must have free on its disk before a chip is started: many lines' worth.
constexpr unsigned long long kLogRoomBytes = 64 * 1024;

std::string ResolvedBeside(const std::string& projectFile, const std::string& name)
{
    const QString folder = QFileInfo(QString::fromStdString(projectFile)).absolutePath();
    return QDir(folder).absoluteFilePath(QString::fromStdString(name)).toStdString();
}

// The part's fuse byte for the project's low (0), high (1) or extended (2) byte, or -1.
int FuseByteOf(const PartBits& bits, int index)
{
    static const char* names[] = {"lfuse", "hfuse", "efuse"};
    for (int byte = 0; byte < bits.part().fuseCount; ++byte)
        if (std::string(bits.byteName(byte)) == names[index] ||
            (index == 0 && std::string(bits.byteName(byte)) == "fuse"))
            return byte;
    return -1;
}

// The fuse bits (0) and the lock bits (1) a job names, by the names the part's editor gives
// them, each with the state it is to get.
using JobBits = std::array<std::vector<std::pair<std::string, bool>>, 2>;

void Name(std::vector<std::pair<std::string, bool>>& bits, const std::string& name, bool programmed)
{
    for (auto& bit : bits)
        if (bit.first == name) {
            bit.second = programmed;
            return;
        }
    bits.emplace_back(name, programmed);
}

// The fuse and lock bits a job asks for; an error when a name or a byte does not fit the part,
// or when a bit ends serial programming and `allowed` is false.
std::string ApplyBits(const AvrPart& part, const Project& project, bool allowed, JobBits& out,
                      std::string& key, std::vector<std::string>& notes)
{
    using Kind = AvrBits::Kind;
    out = {};
    const std::optional<std::uint8_t>& lockByte = project.lockByte;
    const std::string chip = part.name;
    PartBits bits(part);
    // A byte sets the part's bits. Serial programming does not reach every bit some parts'
    // bytes have: such a bit is taken in the one state a chip that answers serial programming
    // holds it in (programmed where unprogrammed would end serial programming: SPIEN), and any
    // other state is refused.
    // Whether the bit is named for the write, or why it cannot be.
    auto reach = [&](PartBit bit, bool programmed, const std::string& what,
                     std::vector<std::pair<std::string, bool>>& into) -> std::string {
        const std::vector<PartBit> reached =
            BitsWritten(bits, bit.byte == bits.lockByte() ? Kind::Lock : Kind::Fuses);
        const std::string name = bits.bitName(bit.byte, bit.bit);
        const bool held = bits.endsSerialProgramming(bit, false);
        if (std::ranges::find(reached, bit) != reached.end())
            Name(into, name, programmed);
        else if (programmed != held)
            return what + " sets " + name + (programmed ? "=0" : "=1") +
                   ", which serial programming cannot change on the " + chip +
                   " (a chip that answers it holds " + name + "=" + (held ? "0" : "1") + ")";
        return {};
    };
    auto byBytes = [&](int byte, std::uint8_t value, const std::string& what,
                       std::vector<std::pair<std::string, bool>>& into) -> std::string {
        // Bits the part does not have are ignored, as other programmers ignore them (Arduino's
        // extended fuse CB for the ATmega32U4), and said; the part's own bits go as given.
        if (const auto absent = static_cast<std::uint8_t>(~(value | bits.mask(byte)))) {
            std::string list;
            for (int b = 7; b >= 0; --b)
                if (absent >> b & 1)
                    list += (list.empty() ? "" : ", ") + std::to_string(b);
            notes.push_back(what + " " + Hex2(value) + " programs bit" +
                            (std::popcount(absent) > 1 ? "s " : " ") + list + ", which the " +
                            chip + " does not have: ignored");
        }
        for (int b = 0; b < 8; ++b)
            if (bits.bitName(byte, b))
                if (const std::string e =
                        reach({byte, b}, !(value >> b & 1), what + " " + Hex2(value), into);
                    !e.empty())
                    return e;
        return {};
    };
    static const char* byteKeys[] = {"fuse.low", "fuse.high", "fuse.extended"};
    for (int i = 0; i < 3; ++i) {
        if (!project.fuseBytes[i])
            continue;
        key = byteKeys[i];
        const int byte = FuseByteOf(bits, i);
        if (byte < 0)
            return std::string("the ") + chip + " has no " + byteKeys[i] + " byte";
        if (const std::string e = byBytes(byte, *project.fuseBytes[i], byteKeys[i], out[0]);
            !e.empty())
            return e;
    }
    if (lockByte) {
        key.clear();
        const int byte = bits.lockByte();
        if (!bits.mask(byte) || !part.instructions.lockWrite)
            return "the " + chip + " has no lock bits that serial programming reaches";
        if (const std::string e = byBytes(byte, *lockByte, "the lock byte", out[1]); !e.empty())
            return e;
    }
    for (const bool lock : {false, true}) {
        key = lock ? "lock" : "fuses";
        const std::vector<std::string> names =
            AvrBits::NamesOf(part, lock ? Kind::Lock : Kind::Fuses);
        for (const auto& [name, programmed] : lock ? project.lockBits : project.fuseBits) {
            const auto known = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
                return QString::fromStdString(n).compare(QString::fromStdString(name),
                                                         Qt::CaseInsensitive) == 0;
            });
            if (known == names.end())
                return name + " is not a " + (lock ? "lock" : "fuse") + " bit of the " + chip;
            if (const std::string e =
                    reach(*bits.find(*known), programmed, "the project", out[lock]);
                !e.empty())
                return e;
        }
    }
    // The chip is erased first, which leaves no lock bit programmed.
    if (SerialBitsOf(part).keepsLockModes) {
        // The job names each bit as the part does.
        const auto programmed = [&](const char* name) {
            return std::ranges::count(out[1], std::pair<std::string, bool>(name, true)) > 0;
        };
        if (programmed("LB2") && !programmed("LB1"))
            return "the " + chip +
                   " takes LB2 only together with LB1: program both (lock mode 3) "
                   "or LB1 alone (lock mode 2)";
    }
    // A bit that ends serial programming, in the state the job leaves it.
    key = "allow-lockout";
    for (const auto& [name, programmed] : out[0])
        if (AvrBits::EndsSerialProgramming(part, name, programmed) && !allowed)
            return name + (programmed ? "=0" : "=1") + " ends serial programming of the " + chip +
                   " for good (only a high-voltage programmer undoes it); refused unless the "
                   "project has allow-lockout = yes and --allow-lockout is given";
    return {};
}

bool WritesBits(const AutoJob& job, bool lock)
{
    const Project& p = job.project;
    if (lock)
        return !p.lockBits.empty() || p.lockByte;
    return !p.fuseBits.empty() || p.fuseBytes[0] || p.fuseBytes[1] || p.fuseBytes[2];
}

// A message's lines joined into one, for a log line.
std::string Oneline(std::string text)
{
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// "the ATmega328P (signature 1E 95 0F)", or the signature alone for no known part.
std::string BuiltFor(const std::array<std::uint8_t, 3>& signature)
{
    const std::string text =
        "signature " + Hex2(signature[0]) + " " + Hex2(signature[1]) + " " + Hex2(signature[2]);
    const AvrPart* part = FindPart(signature);
    return part ? "the " + std::string(part->name) + " (" + text + ")" : "a part with " + text;
}

// What a whole-program HEX gives beyond the flash, taken into the job as the HEX does on its own:
// its EEPROM, fuse and lock regions and the signature of the part it was built for. What the job
// has already (a project's eeprom, fuse bytes; named bits go on top) stays. Empty, or why not,
// naming the fuse and lock regions as `regions`.
std::string TakeWholeProgram(AutoJob& job, const ImageFile& image, const char* regions)
{
    const HexImage& hex = image.hex;
    if (image.kind != FileKind::Hex || !HasBytesIn(hex, kAvrEepromHexBase, kAvrHexEnd))
        return {};
    Project& p = job.project;
    const AvrImageBits bits = ReadAvrImageBits(hex);
    if (bits.stray)
        return std::to_string(bits.stray) + " bytes of " + regions +
               " are neither fuse bytes (0x820000-0x820002) nor the lock byte (0x830000)";
    if (!job.eeprom && HasBytesIn(hex, kAvrEepromHexBase, AvrHexBase(AvrMemory::Fuses)))
        job.eeprom = image;
    for (std::size_t i = 0; i < bits.fuses.size(); ++i)
        if (!p.fuseBytes[i])
            p.fuseBytes[i] = bits.fuses[i];
    if (!p.lockByte)
        p.lockByte = bits.lock;
    job.signature = bits.signature;
    return {};
}

// An image file as a job reads it, and as a batch reads it again to see that it has not changed.
ImageRead ReadJobImage(const std::string& name)
{
    return ReadImageFile(name, static_cast<std::size_t>(AvrPage::kPartFlashLoadLimit));
}

} // namespace

const char* const AutoRun::kLogHeader = "time,project,part,signature,serial,flash_crc32,"
                                        "eeprom_crc32,fuses,lock,outcome,duration_s,kind,reason,"
                                        "station,batch_index\n";

AutoJobLoad LoadAutoJob(const std::string& fileName, bool hold)
{
    AutoJobLoad result;
    AutoJob& job = result.job;
    job.fileName = fileName;
    auto error = [&result, &fileName](const std::string& text) {
        result.job = AutoJob{};
        result.error = fileName + ": " + text;
        return result;
    };
    auto readImage = [&job](const std::string& name,
                            std::optional<ImageFile>& into) -> std::string {
        const ImageRead read = ReadJobImage(name);
        if (read.failure == ImageFailure::UnknownKind)
            return name + ": the name must end in BIN or HEX";
        if (read.failure == ImageFailure::Unreadable)
            return name + ": " + ReadFailureReason(read.readFailure);
        if (!read.ok())
            return name + ": " + read.detail;
        into = read.file;
        job.images.push_back({name, read.crc});
        return {};
    };

    if (FileKindOf(fileName) == FileKind::Hex || IsElfName(fileName)) {
        // A one-image HEX or an ELF program: the part is the chip identified.
        std::optional<ImageFile> image;
        if (const std::string e = readImage(fileName, image); !e.empty()) {
            result.error = e;
            return result;
        }
        job.oneImage = true;
        job.project.socket = ProjectSocket::Avr;
        if (HasBytesIn(image->hex, 0, kAvrEepromHexBase))
            job.flash = image;
        if (const std::string e =
                TakeWholeProgram(job, *image, "the fuses' and lock bits' regions");
            !e.empty())
            return error(e);
        if (!job.flash && !job.eeprom && !WritesBits(job, false) && !WritesBits(job, true))
            return error("the file holds nothing to program");
        return result;
    }

    // Held before it is read: another run's serial number is saved by then.
    std::shared_ptr<FileHold> held;
    if (hold) {
        held = std::make_shared<FileHold>();
        if (std::string why; !held->hold(fileName, kProjectHoldWait, why)) {
            result.error = why;
            return result;
        }
    }
    const FileBytes bytes = ReadWholeFile(fileName, 1 << 20);
    if (!bytes.ok())
        return error(ReadFailureReason(bytes.failure));
    ProjectParse parse = ParseProject(bytes.bytes);
    if (!parse.ok())
        return error(parse.error);
    job.project = std::move(parse.project);
    job.text.assign(bytes.bytes.begin(), bytes.bytes.end());
    const Project& p = job.project;
    const auto lineOf = [&p](std::string_view key) {
        const int line = p.lineOf(key);
        return line ? "line " + std::to_string(line) + ": " : std::string();
    };
    std::uint64_t flashSize = 0, eepromSize = 0;
    if (!p.flash.empty())
        if (const std::string e = readImage(ResolvedBeside(fileName, p.flash), job.flash);
            !e.empty())
            return error(e);
    if (!p.eeprom.empty())
        if (const std::string e = readImage(ResolvedBeside(fileName, p.eeprom), job.eeprom);
            !e.empty())
            return error(e);
    if (p.socket == ProjectSocket::Avr && job.flash)
        if (const std::string e =
                TakeWholeProgram(job, *job.flash, "the flash image's fuse and lock regions");
            !e.empty())
            return error(lineOf("flash") + e);
    if (p.socket == ProjectSocket::Avr) {
        const AvrPart* part = FindPartByName(p.part);
        if (!part)
            return error(lineOf("part") + "unknown AVR part '" + p.part +
                         "' (vardel-cli avr parts lists them)");
        if (job.signature && *job.signature != part->signature)
            return error(lineOf("flash") + "the image was built for " + BuiltFor(*job.signature) +
                         ", not for the project's " + part->name);
        JobBits named;
        std::string key;
        if (const std::string e = ApplyBits(*part, p, true, named, key, result.notes); !e.empty())
            return error(lineOf(key) + e);
        flashSize = part->flashBytes;
        eepromSize = part->eepromBytes;
    } else if (p.socket == ProjectSocket::SpiFlash) {
        // The image is checked against the part's size before any chip is touched: the part is
        // named, not detected.
        const int entry = FindFlashEntry(p.part);
        if (entry <= kFlashAutoDetect)
            return error(lineOf("part") + "unknown SPI flash part '" + p.part + "' (" +
                         FlashPartNames() + ")");
        flashSize = static_cast<std::uint64_t>(EepromList()[static_cast<std::size_t>(entry)].size);
    } else {
        const int type = FindEepromType(p.part);
        if (type < 0)
            return error(lineOf("part") + "unknown EEPROM type '" + p.part + "' (" +
                         EepromTypeNames() + ")");
        eepromSize = static_cast<std::uint64_t>(kEepromTypes[static_cast<std::size_t>(type)].size);
    }
    if (const auto& s = p.serial) {
        const std::uint64_t size = s->inFlash ? flashSize : eepromSize;
        if (s->address + static_cast<std::uint64_t>(s->length) > size)
            return error(
                lineOf("serial.address") + "the serial number (" + std::to_string(s->length) +
                " bytes at " + AddressText(s->address) + ") lies outside the " + p.part + "'s " +
                (s->inFlash ? "flash" : "EEPROM") + " (" + std::to_string(size) + " bytes)");
    }
    // What the images put into a memory, FF where they leave it blank.
    const auto imageIn = [&](bool inFlash) {
        std::vector<std::uint8_t> memory(inFlash ? flashSize : eepromSize, 0xFF);
        if (const std::optional<ImageFile>& image = inFlash ? job.flash : job.eeprom) {
            if (p.socket == ProjectSocket::Avr)
                PlaceAvrImage(*image, inFlash ? AvrMemory::Flash : AvrMemory::Eeprom, memory);
            else
                PlaceImageFile(*image, memory);
        }
        return memory;
    };
    if (const auto& s = p.serial) {
        // The number goes where the image leaves the memory blank, or it would replace the
        // image's own bytes.
        if (s->inFlash ? job.flash : job.eeprom) {
            const std::vector<std::uint8_t> memory = imageIn(s->inFlash);
            for (std::uint32_t at = s->address; at < s->address + s->length; ++at)
                if (memory[at] != 0xFF)
                    return error(lineOf("serial.address") + "the serial number (" +
                                 std::to_string(s->length) + " bytes at " +
                                 AddressText(s->address) +
                                 ") would replace bytes of the image, the first at " +
                                 AddressText(at) + ": place it where the image is blank (FF)");
        }
    }
    if (const auto& c = p.calibration) {
        const AvrPart* part = FindPartByName(p.part);
        const std::string where = "the calibration byte (at " + AddressText(c->address) + ")";
        const std::uint64_t size = c->inFlash ? flashSize : eepromSize;
        if (!part->instructions.calibrationRead)
            return error(lineOf("calibration.address") + "the " + part->name +
                         " has no oscillator calibration byte that serial programming reads");
        if (c->address >= size)
            return error(lineOf("calibration.address") + where + " lies outside the " + p.part +
                         "'s " + (c->inFlash ? "flash" : "EEPROM") + " (" + std::to_string(size) +
                         " bytes)");
        if (imageIn(c->inFlash)[c->address] != 0xFF)
            return error(lineOf("calibration.address") + where +
                         " would replace a byte of the image: place it where the image is blank "
                         "(FF)");
        if (const auto& s = p.serial;
            s && s->inFlash == c->inFlash && c->address >= s->address &&
            c->address < s->address + static_cast<std::uint64_t>(s->length))
            return error(lineOf("calibration.address") + where +
                         " lies among the serial number's bytes");
    }
    if (!p.log.empty())
        job.logFile = ResolvedBeside(fileName, p.log);
    job.hold = std::move(held);
    return result;
}

bool ChipAnswers(LineDriver& lines, Clock& clock, BitTiming& timing, const Project& project)
{
    struct AllLow {
        LineDriver& lines;
        ~AllLow()
        {
            try {
                lines.SetAvrLines(0, 0, 0, 0, 0);
                lines.SetI2CLines(0, 0, 0);
            } catch (const PortError&) {
            }
        }
    } low{lines};
    if (project.socket == ProjectSocket::Avr)
        return AvrSerial(lines, clock).ProgrammingEnable();
    if (project.socket == ProjectSocket::SpiFlash) {
        // A flash answers its JEDEC ID with something other than all ones or all zeros (after a
        // release from deep power-down).
        SpiBus bus(lines, timing, 3, 0);
        bus.SpiIdle();
        timing.WaitMilliseconds(1);
        bus.BeginTransfer(SpiFlash::kRelease, 0);
        bus.SpiTransfer(0);
        bus.Deselect();
        timing.BitDelay();
        bus.Select();
        bus.SpiTransfer(SpiFlash::kReadId);
        std::uint8_t id[3];
        for (std::uint8_t& b : id)
            b = bus.SpiTransfer(0);
        bus.Deselect();
        const bool ones = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
        return !ones && (id[0] | id[1] | id[2]) != 0;
    }
    const int index = FindEepromType(project.part);
    if (index < 0)
        return false;
    const EepromType& type = kEepromTypes[static_cast<std::size_t>(index)];
    switch (type.bus) {
    case EepromBus::I2C: {
        I2CBus bus(lines, timing);
        bus.I2CIdle();
        bus.I2CStart();
        bus.I2CWriteByte(0xA0);
        const bool ack = bus.I2CReadAck();
        bus.I2CStop();
        return ack;
    }
    case EepromBus::Spi: {
        SpiBus bus(lines, timing, type.addressBytes, type.size);
        bus.SpiIdle();
        return bus.ReadStatus() != 0xFF;
    }
    case EepromBus::SpiFlash:
        break;
    case EepromBus::Microwire: {
        MicrowireBus bus(lines, timing, type.addressBits, type.wordBits);
        bus.MicrowireIdle();
        const bool answered = bus.BeginRead(0);
        bus.Deselect();
        return answered;
    }
    }
    return false;
}

std::string StationName(const std::string& port)
{
    return QSysInfo::machineHostName().toStdString() + ", " + port;
}

bool HoldsWholeProgram(const std::string& fileName)
{
    const ImageRead read = ReadJobImage(fileName);
    return read.ok() && read.file.kind == FileKind::Hex &&
           HasBytesIn(read.file.hex, 0, kAvrEepromHexBase) &&
           HasBytesIn(read.file.hex, kAvrEepromHexBase, kAvrHexEnd);
}

std::vector<std::string> ImagesText(const AutoJob& job)
{
    std::vector<std::string> out;
    for (const AutoJob::ImageStamp& image : job.images)
        out.push_back(image.fileName + " CRC-32 " + CrcText(image.crc));
    return out;
}

std::string ChangedImage(const AutoJob& job)
{
    for (const AutoJob::ImageStamp& image : job.images) {
        const ImageRead read = ReadJobImage(image.fileName);
        if (!read.ok() || read.crc != image.crc)
            return image.fileName;
    }
    return {};
}

std::string CheckLogFile(const std::string& fileName)
{
    const int fd =
        ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return "the log " + fileName + " cannot be written: " + std::strerror(errno);
    struct stat info {};
    struct statvfs room {};
    std::string why;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        why = "the log " + fileName + " is not a regular file";
    else if (::fstatvfs(fd, &room) == 0 && room.f_bavail * room.f_frsize < kLogRoomBytes)
        why = "the log " + fileName + " has no room left on its disk";
    ::close(fd);
    return why;
}

struct AutoRun::Record {
    std::int64_t start = 0;
    std::string part;
    std::string signature;
    std::string flashCrc;
    std::string eepromCrc;
    std::string fuses;
    std::string lock;
    std::string outcome; // the step that failed, for the log's outcome column
    std::string kind;    // ok, failed, refused, stopped or cancelled
    std::string step;
    std::string reason;
    // Something was written into the chip: a serial number in the job may be in it.
    bool touched = false;
};

AutoRun::AutoRun(LineDriver& lines, Clock& clock, BitTiming& timing, Host& host,
                 OperationLock& operations)
    : lines_(lines), clock_(clock), timing_(timing), host_(host), operations_(operations)
{
}

AutoRun::Result AutoRun::refuse(const std::string& text)
{
    host_.MessageBox(text + ".\rNothing was written.", "ERROR", Host::Kind::Error);
    return Result::Refused;
}

AutoRun::Result AutoRun::fail(const std::string& step, const std::string& holds, Record& record)
{
    failedStep_ = step;
    record.outcome = step;
    record.step = step;
    if (record.kind.empty())
        record.kind = "failed";
    // The step has put the lines down itself, unless the port failed under it.
    try {
        lines_.SetAvrLines(0, 0, 0, 0, 0);
    } catch (const PortError&) {
    }
    host_.NormalCursor();
    host_.MessageBox("Auto run failed at the step \"" + step + "\": " + holds + ".", "ERROR",
                     Host::Kind::Error);
    return Result::Failed;
}

AutoRun::Result AutoRun::run(AutoJob& job)
{
    failedStep_.clear();
    partName_.clear();
    serial_.reset();
    Record record;
    record.start = clock_.nanoseconds();
    Result result = Result::Refused;
    const std::optional<SerialRule>& rule = job.project.serial;
    if (rule)
        serial_ = rule->next;
    // The chip's start is logged, with the number it is to get, before anything reaches it: a log
    // that cannot take it refuses the chip.
    record.outcome = record.kind = "started";
    if (!writeLog(job, record)) {
        failedStep_ = "log";
        return Result::Refused;
    }
    record.outcome.clear();
    record.kind.clear();
    // A number that does not fit is refused before the chip is touched.
    std::optional<std::vector<std::uint8_t>> serialBytes;
    if (rule) {
        std::string why;
        serialBytes = SerialBytes(*rule, rule->next, &why);
        if (!serialBytes) {
            record.outcome = "refused";
            record.kind = "refused";
            record.reason = why;
            result = refuse("Auto run refused: " + why);
            writeLog(job, record);
            return result;
        }
        if (rule->next > UINT64_MAX - rule->step) {
            record.outcome = "refused";
            record.kind = "refused";
            result = refuse("Auto run refused: the serial number after " +
                            std::to_string(rule->next) + " does not exist");
            writeLog(job, record);
            return result;
        }
    }
    result =
        job.project.socket == ProjectSocket::Avr ? runAvr(job, record) : runEeprom(job, record);
    if (result == Result::Refused) {
        record.outcome = "refused";
        record.kind = "refused";
    }
    if (result == Result::Cancelled)
        record.outcome = "cancelled";
    // A number that may be in a chip is spent, whatever came after its write: the next chip
    // gets the next one.
    if (rule && record.touched) {
        const std::uint64_t next = rule->next + rule->step;
        const std::string used = std::to_string(rule->next);
        if (const std::string error = saveNextSerial(job, rule->next, next); !error.empty()) {
            record.reason += (record.reason.empty() ? "" : "; ") + std::string("serial number ") +
                             used + " used; " + error;
            if (result == Result::Ok) {
                record.outcome = "saving the serial number";
                record.kind = "failed";
                failedStep_ = record.outcome;
                host_.MessageBox("The chip is programmed with the serial number " + used + ", " +
                                     error + ".",
                                 "ERROR", Host::Kind::Error);
                result = Result::Failed;
            }
        } else if (result != Result::Ok) {
            record.reason += (record.reason.empty() ? "" : "; ") + std::string("serial number ") +
                             used + " spent";
        }
    }
    if (result == Result::Ok) {
        record.outcome = "ok";
        record.kind = "ok";
    }
    if (!writeLog(job, record) && result == Result::Ok) {
        failedStep_ = "log";
        return Result::Failed;
    }
    return result;
}

std::string AutoRun::saveNextSerial(AutoJob& job, std::uint64_t used, std::uint64_t next)
{
    // Read again: only serial.next changes, and a change made to the file meanwhile stays.
    const FileBytes bytes = ReadWholeFile(job.fileName, 1 << 20);
    if (!bytes.ok())
        return "the next number could not be saved: " + job.fileName + " " +
               ReadFailureReason(bytes.failure);
    const ProjectParse now = ParseProject(bytes.bytes);
    if (!now.ok() || !now.project.serial || now.project.serial->next != used)
        return "the next number was not saved: " + job.fileName +
               (now.ok() && now.project.serial
                    ? " was given serial.next = " + std::to_string(now.project.serial->next) +
                          " meanwhile, which stays"
                    : " was changed meanwhile and no longer gives serial.next");
    const std::string text = WithNextSerial(
        std::string_view(reinterpret_cast<const char*>(bytes.bytes.data()), bytes.bytes.size()),
        next);
    std::string error;
    const bool saved = job.hold
                           ? job.hold->replace(text.data(), text.size(), &error)
                           : ReplaceFileContent(job.fileName, text.data(), text.size(), &error);
    if (!saved)
        return "the next number could not be saved: " + error;
    job.text = text;
    job.project.serial->next = next;
    return {};
}

namespace {

// The chip in the socket as a message names it: "the ATmega168", or "one with signature ...".
std::string ChipText(const AvrPart* part, const std::string& signature)
{
    return part ? std::string("the ") + part->name : "one with signature " + signature;
}

// How Auto names a step of its job, in its messages and its log.
std::string StepName(const AvrStep& step, const AvrStepOutcome& out)
{
    const bool flash = step.memory == AvrMemory::Flash;
    switch (step.kind) {
    case AvrStep::Kind::Erase:
        return "erase";
    case AvrStep::Kind::Write:
        // A write whose every byte went out failed in its verify.
        if (out.holds == AvrStepOutcome::Holds::Written)
            return flash ? "verify flash" : "verify eeprom";
        return flash ? "flash" : "eeprom";
    case AvrStep::Kind::Fuses:
        return "fuses";
    case AvrStep::Kind::Lock:
        return "lock";
    default:
        return flash ? "verify flash" : "verify eeprom";
    }
}

// A reason without its full stop, for the sentence Auto puts it in.
std::string WithoutFullStop(std::string text)
{
    while (text.ends_with("."))
        text.pop_back();
    return text;
}

} // namespace

AutoRun::Result AutoRun::runAvr(AutoJob& job, Record& record)
{
    const Project& project = job.project;
    AvrSerial serial(lines_, clock_);
    avrPace.applyTo(serial);
    // The project's part is the one in the socket, of the parts that answer its signature.
    AvrSession session(serial, host_, operations_, job.oneImage ? std::string() : project.part);

    host_.StatusText("Auto: identify");
    host_.BusyCursor();
    const AvrStepOutcome opened = session.open();
    // Another chip than the project's is named below, as a wrong chip.
    const bool other = session.identity().result == AvrIdentification::NotChosen;
    if (opened.kind != AvrStepOutcome::Kind::Done && !other) {
        host_.NormalCursor();
        if (!opened.reason.empty())
            host_.MessageBox(opened.reason, "ERROR", Host::Kind::Error);
        record.reason = opened.reason;
        return fail("identify", "nothing was written", record);
    }
    const std::array<std::uint8_t, 3> signature = session.identity().signature;
    record.signature = Hex2(signature[0]) + " " + Hex2(signature[1]) + " " + Hex2(signature[2]);
    // An image built for another part is refused before anything is written.
    if (job.signature && *job.signature != signature && !other) {
        session.close();
        host_.NormalCursor();
        const AvrPart* inSocket = FindPart(signature);
        record.reason = "the image was built for " + BuiltFor(*job.signature) +
                        "; the chip in the socket is " + ChipText(inSocket, record.signature) + ".";
        record.part = inSocket ? inSocket->name : "";
        return refuse("Auto run refused: " + WithoutFullStop(record.reason));
    }
    const AvrPart* part = job.oneImage ? &session.part() : FindPartByName(project.part);
    if (!part || part->signature != signature) {
        const AvrPart* other = FindPart(signature);
        session.close();
        host_.NormalCursor();
        // The log names the part found, whatever it is.
        record.part = other ? other->name : "";
        record.reason = "The chip in the socket is " + ChipText(other, record.signature) +
                        ", not the project's " + (part ? part->name : project.part) + ".";
        host_.MessageBox(record.reason, "ERROR", Host::Kind::Error);
        return fail("identify", "nothing was written", record);
    }
    partName_ = part->name;
    record.part = part->name;

    // blank-only: a chip that holds anything (a board run twice) is refused before it is touched.
    if (project.blankOnly) {
        std::string why;
        if (const std::optional<int> mode = session.lockMode(); mode && *mode > 1)
            why = "its lock bits are programmed (lock mode " + std::to_string(*mode) + ")";
        AvrJob blank;
        blank.steps = {AvrStep::BlankMemory(AvrMemory::Flash),
                       AvrStep::BlankMemory(AvrMemory::Eeprom)};
        const std::vector<AvrStepOutcome> found =
            why.empty() ? session.run(blank) : std::vector<AvrStepOutcome>{};
        for (std::size_t i = 0; i < found.size() && why.empty(); ++i) {
            const char* memory = i == 0 ? "flash" : "EEPROM";
            if (found[i].kind != AvrStepOutcome::Kind::Done)
                why = std::string("its ") + memory + " could not be checked: " + found[i].reason;
            else if (found[i].differs)
                why = std::string("its ") + memory + " holds " + std::to_string(found[i].differs) +
                      " bytes that are not FF, the first at " +
                      AddressText(found[i].firstDifference);
        }
        if (!why.empty()) {
            session.close();
            host_.NormalCursor();
            record.reason = "the chip is not blank: " + why + " (blank-only = yes)";
            return refuse("Auto run refused: " + record.reason);
        }
    }

    // The bits are checked against the part before anything is written.
    JobBits named;
    const bool writesFuses = WritesBits(job, false);
    const bool writesLock = WritesBits(job, true);
    const bool allowed = allowLockout && (job.oneImage || project.allowLockout);
    auto refused = [&](const std::string& why) {
        session.close();
        host_.NormalCursor();
        record.reason = why;
        return refuse("Auto run refused: " + why);
    };
    if (writesFuses || writesLock) {
        std::string key;
        std::vector<std::string> notes;
        if (const std::string e = ApplyBits(*part, project, allowed, named, key, notes); !e.empty())
            return refused(e);
        // A project's notes were given when it was read; a whole-program HEX's are given here.
        if (job.oneImage)
            for (const std::string& note : notes)
                host_.MessageBox(note + ".", "WARNING", Host::Kind::Warning);
    }

    std::vector<std::uint8_t> flash(part->flashBytes, 0xFF);
    std::vector<std::uint8_t> eeprom(part->eepromBytes, 0xFF);
    const std::string chip = part->name;
    if (job.flash)
        if (const std::string e = CheckPlaced(
                *job.flash, flash.size(), PlaceAvrImage(*job.flash, AvrMemory::Flash, flash).placed,
                chip + " flash");
            !e.empty())
            return refused(e);
    if (job.eeprom)
        if (const std::string e = CheckPlaced(
                *job.eeprom, eeprom.size(),
                PlaceAvrImage(*job.eeprom, AvrMemory::Eeprom, eeprom).placed, chip + " EEPROM");
            !e.empty())
            return refused(e);
    if (serial_) {
        const SerialRule& rule = *project.serial;
        std::vector<std::uint8_t>& memory = rule.inFlash ? flash : eeprom;
        if (rule.address + static_cast<std::uint64_t>(rule.length) > memory.size())
            return refused("the serial number lies outside the memory");
        const auto bytes = SerialBytes(rule, *serial_);
        std::copy(bytes->begin(), bytes->end(), memory.begin() + rule.address);
    }
    // The chip's own oscillator calibration byte, copied where the project says.
    const auto& calibration = project.calibration;
    if (calibration) {
        const std::optional<std::uint8_t> byte = session.calibrationByte();
        if (!byte)
            return refused("the " + chip + "'s calibration byte could not be read");
        (calibration->inFlash ? flash : eeprom)[calibration->address] = *byte;
    }
    const bool programsFlash =
        job.flash || (serial_ && project.serial->inFlash) || (calibration && calibration->inFlash);
    const bool programsEeprom = job.eeprom || (serial_ && !project.serial->inFlash) ||
                                (calibration && !calibration->inFlash);
    if (programsFlash)
        record.flashCrc = CrcText(Crc32(flash));
    if (programsEeprom)
        record.eepromCrc = CrcText(Crc32(eeprom));

    // One session: erase once, each memory written and verified in one pass, then the fuses, then
    // the lock bits, with no power cycle between them. A fuse that ends serial programming takes
    // effect only at the next power-up, so the lock write after it still reaches the chip.
    AvrJob avr;
    avr.allowLockout = allowed;
    avr.showChanges = showChanges;
    avr.stopRequested = [this] {
        return stopping();
    };
    const auto gauges = GaugeProgress(host_);
    avr.progress = [this, &gauges](const AvrStep& step, std::uint32_t index, std::uint32_t size) {
        if (index == 0)
            host_.StatusText(std::string("Auto: ") +
                             (step.memory == AvrMemory::Flash ? "flash" : "eeprom"));
        gauges(step, index, size);
    };
    // Only a job with an image to write erases the chip: fuses, lock bits and a serial number
    // alone leave the memories as they are.
    if (job.flash || job.eeprom || programsFlash)
        avr.steps.push_back(AvrStep::EraseChip());
    if (programsFlash)
        avr.steps.push_back(AvrStep::Program(AvrMemory::Flash, std::move(flash), true));
    if (job.eeprom) {
        avr.steps.push_back(AvrStep::Program(AvrMemory::Eeprom, std::move(eeprom), true));
    } else if (programsEeprom) {
        // A serial number and a calibration byte alone write their own bytes: the rest of an
        // EEPROM that the chip keeps through an erase (EESAVE) is the board's own data.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
        if (serial_ && !project.serial->inFlash)
            ranges.emplace_back(project.serial->address,
                                project.serial->address +
                                    static_cast<std::uint32_t>(project.serial->length));
        if (calibration && !calibration->inFlash)
            ranges.emplace_back(calibration->address, calibration->address + 1);
        for (const auto& range : ranges) {
            AvrStep step = AvrStep::Program(AvrMemory::Eeprom, eeprom, true);
            step.only = range;
            avr.steps.push_back(std::move(step));
        }
    }
    if (writesFuses)
        avr.steps.push_back(AvrStep::SetBits(false, named[0]));
    if (writesLock)
        avr.steps.push_back(AvrStep::SetBits(true, named[1]));
    host_.StatusText(avr.steps.empty() || avr.steps[0].kind != AvrStep::Kind::Erase
                         ? "Auto: program"
                         : "Auto: erase");
    const std::vector<AvrStepOutcome> outcomes = session.run(avr);
    session.close();
    host_.NormalCursor();
    record.touched = Changed(outcomes);

    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const AvrStepOutcome& out = outcomes[i];
        const AvrStep& step = avr.steps[i];
        if (out.ok()) {
            if (step.kind == AvrStep::Kind::Fuses)
                for (const std::uint8_t value : out.values)
                    record.fuses += (record.fuses.empty() ? "" : " ") + Hex2(value);
            if (step.kind == AvrStep::Kind::Lock)
                for (const std::uint8_t value : out.values)
                    record.lock = Hex2(value);
            continue;
        }
        const std::string name = StepName(step, out);
        const std::string holds = HoldsText(avr.steps, outcomes);
        const bool inMemory = step.memory == AvrMemory::Flash || step.memory == AvrMemory::Eeprom;
        const std::string memory = step.memory == AvrMemory::Flash ? "flash" : "EEPROM";
        using K = AvrStepOutcome::Kind;
        switch (out.kind) {
        case K::Cancelled:
            record.reason = out.reason;
            record.kind = "cancelled";
            failedStep_ = name;
            record.step = name;
            host_.StatusText("Auto run cancelled at the step \"" + name +
                             "\": nothing was written");
            return Result::Cancelled;
        case K::Refused:
            record.reason = WithoutFullStop(out.reason);
            // A refusal before the first write leaves the chip as it was; a later one names
            // what the steps before it wrote.
            if (!Changed(outcomes))
                return refuse("Auto run refused: " + record.reason);
            host_.MessageBox(record.reason + ".", "ERROR", Host::Kind::Error);
            return fail(name, holds, record);
        case K::Stopped:
            record.kind = "stopped";
            record.reason = out.reason;
            return fail(name, out.reason + "; " + holds, record);
        case K::PortFault:
            record.reason = out.reason;
            host_.MessageBox(out.reason, "ERROR", Host::Kind::Error);
            return fail(name, holds, record);
        case K::ChipFault:
            record.reason = out.reason;
            host_.MessageBox(out.reason +
                                 (out.atAddress && inMemory
                                      ? "\rAt " + AddressText(out.at) + " of the " + memory + "."
                                      : std::string()),
                             "ERROR", Host::Kind::Error);
            return fail(name, holds, record);
        case K::Done: // a verify that found a difference
            record.reason = std::to_string(out.differs) + " bytes of the " + memory +
                            " differ from the image, the first at " +
                            AddressText(out.firstDifference);
            return fail(name,
                        holds + "; the " + memory + " does not hold the image (" + record.reason +
                            ")",
                        record);
        case K::NotRun:
            break;
        }
    }
    return Result::Ok;
}

AutoRun::Result AutoRun::runEeprom(AutoJob& job, Record& record)
{
    AutoHost host(host_);
    EepromPage page(lines_, timing_, host, operations_);
    page.protection = protection;
    // An SPI flash goes through the same page, its image the project's flash.
    const bool flash = job.project.socket == ProjectSocket::SpiFlash;
    const int type = flash ? FindFlashEntry(job.project.part) : FindEepromType(job.project.part);
    page.cbChipChange(type);
    partName_ = page.type().name;
    record.part = partName_;
    const auto size = static_cast<std::size_t>(page.ChipSize);
    std::vector<std::uint8_t> image(size, 0xFF);
    const std::optional<ImageFile>& file = flash ? job.flash : job.eeprom;
    if (file)
        if (const std::string e =
                CheckPlaced(*file, image.size(), PlaceImageFile(*file, image), partName_);
            !e.empty())
            return refuse("Auto run refused: " + e);
    if (serial_) {
        const SerialRule& rule = *job.project.serial;
        const auto bytes = SerialBytes(rule, *serial_);
        std::copy(bytes->begin(), bytes->end(), image.begin() + rule.address);
    }
    (flash ? record.flashCrc : record.eepromCrc) = CrcText(Crc32(image));
    using Outcome = EepromPage::Outcome;
    // blank-only: a chip that holds anything (a board run twice) is refused before it is written.
    if (job.project.blankOnly) {
        host_.StatusText("Auto: blank check");
        if (page.ReadChip() != Outcome::Done)
            return fail("blank check", "nothing was written", record);
        const auto data = std::span(page.EepromImage).first(size);
        const auto notBlank = [](std::uint8_t b) {
            return b != 0xFF;
        };
        if (const auto first = std::ranges::find_if(data, notBlank); first != data.end()) {
            record.reason = "the chip is not blank: it holds " +
                            std::to_string(std::ranges::count_if(data, notBlank)) +
                            " bytes that are not FF, the first at " +
                            AddressText(static_cast<std::uint32_t>(first - data.begin())) +
                            " (blank-only = yes)";
            return refuse("Auto run refused: " + record.reason);
        }
    }
    std::copy(image.begin(), image.end(), page.EepromImage.begin());

    host_.StatusText("Auto: program");
    // The write and its verify, one job.
    record.touched = true;
    const Outcome done = page.ProgramChip(true);
    if (done == Outcome::Cancelled) {
        record.kind = "stopped";
        record.reason = page.lastOutcome();
    }
    if (!page.programmed())
        return fail("program", "the chip may be partly written", record);
    if (done == Outcome::Cancelled)
        return fail("verify", "stopped; the chip is programmed, not all of it compared", record);
    if (done != Outcome::Done)
        return fail("verify", "the chip is programmed but does not hold the image", record);
    return Result::Ok;
}

bool AutoRun::writeLog(const AutoJob& job, const Record& record)
{
    if (job.logFile.empty())
        return true;
    const QDateTime now = QDateTime::currentDateTime();
    const std::string time =
        now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toStdString();
    const double seconds = static_cast<double>(clock_.nanoseconds() - record.start) / 1e9;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", seconds);
    const std::string project =
        QFileInfo(QString::fromStdString(job.fileName)).fileName().toStdString();
    const std::string line =
        CsvField(time) + "," + CsvField(project) + "," + CsvField(record.part) + "," +
        CsvField(record.signature) + "," + (serial_ ? std::to_string(*serial_) : std::string()) +
        "," + record.flashCrc + "," + record.eepromCrc + "," + CsvField(record.fuses) + "," +
        CsvField(record.lock) + "," + CsvField(record.outcome) + "," + duration + "," +
        CsvField(record.kind) + "," + CsvField(Oneline(record.reason)) + "," + CsvField(station) +
        "," + (batchIndex > 0 ? std::to_string(batchIndex) : std::string()) + "\n";
    std::string error;
    if (AppendToFile(job.logFile, line, kLogHeader, &error))
        return true;
    host_.MessageBox("The log could not be written: " + error + ".", "ERROR", Host::Kind::Error);
    return false;
}

} // namespace vardel
