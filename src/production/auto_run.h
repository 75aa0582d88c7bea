#pragma once

#include "avr/lock_fuse_commands.h"
#include "files/file_hold.h"
#include "files/image_file.h"
#include "files/project_file.h"
#include "hw/bit_timing.h"
#include "hw/host.h"
#include "hw/line_driver.h"
#include "hw/operation_lock.h"
#include "i2c/eeprom_page.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// What an Auto run programs: a project file with the images it names, or a one-image HEX (flash
// at 0, EEPROM at 0x810000, fuses at 0x820000, lock at 0x830000) for whatever AVR is identified.
struct AutoJob {
    Project project;
    std::string fileName; // the project file or the one-image HEX
    std::string text;     // the project file's text as read (the serial number is saved into it)
    bool oneImage = false;
    std::optional<ImageFile> flash;
    std::optional<ImageFile> eeprom;
    // Each image file read, with the CRC-32 of its content: a batch stops when one changes.
    struct ImageStamp {
        std::string fileName;
        std::uint32_t crc;
    };
    std::vector<ImageStamp> images;
    // The part a whole-program HEX was built for (its .signature), checked against the chip.
    std::optional<std::array<std::uint8_t, 3>> signature;
    std::string logFile; // empty: no log
    // The project file held for the run (null: not held); its serial.next is saved through it.
    std::shared_ptr<FileHold> hold;
};

struct AutoJobLoad {
    AutoJob job;
    std::string error; // "FILE: line N: ..." or what could not be read
    // What the front end tells the user beside: bits of a fuse byte the part does not have.
    std::vector<std::string> notes;
    bool ok() const { return error.empty(); }
};

// How long a run waits for another that holds its project file.
inline constexpr std::chrono::milliseconds kProjectHoldWait{5000};

// Reads a project file (or, when the name ends in HEX, a one-image HEX) and every image file it
// names, and checks the part, its bits, the serial number's place and the log against the part
// data and the images, so that what the project can refuse is refused before any chip. With
// `hold` the project file is held first (waiting up to kProjectHoldWait for another run), until
// the job goes. Nothing touches a port.
AutoJobLoad LoadAutoJob(const std::string& fileName, bool hold = false);
// The file is a whole program (an Intel HEX or ELF file with flash bytes and bytes of the
// EEPROM's region or above), which a job takes memory by memory.
bool HoldsWholeProgram(const std::string& fileName);
// The image files as the batch started, "flash.hex CRC-32 0x0123ABCD" each; and the first one whose
// content has changed since (empty: none), for a batch to stop before its next chip.
std::vector<std::string> ImagesText(const AutoJob& job);
std::string ChangedImage(const AutoJob& job);
// Whether the log can take a line: empty, or why not. A missing log is created (empty).
std::string CheckLogFile(const std::string& fileName);

// The log's station: this computer's name and the board's port ("bench-2, parallel port
// /dev/parport0").
std::string StationName(const std::string& port);

// Whether a chip of the project's socket answers now: an AVR that takes Programming Enable, a
// 24Cxx that acknowledges its address, a 25xx whose status is not FF, a 93Cxx that gives its
// read's dummy 0 bit. Every line is low afterwards (the chip unpowered), on every way out; a port
// failure is thrown as PortError.
bool ChipAnswers(LineDriver& lines, Clock& clock, BitTiming& timing, const Project& project);

// One chip's Auto run: for an AVR identify (the project's part), erase, program flash, program
// EEPROM, verify both, write the fuses, then the lock bits; for a 24Cxx program and verify. Each
// step is the single command with its own guards; the run stops at the first step that fails,
// says which and what the chip now holds, and ends with every line low. The serial number is
// written into the image first and advanced (and saved into the project file) only after the
// whole run succeeded; each run appends a line to the log.
class AutoRun {
public:
    enum class Result {
        Ok,
        Refused,   // nothing was done to the chip (a serial number that does not fit, ...)
        Failed,    // a step failed; failedStep() names it
        Cancelled, // the user answered the confirmation with Cancel: nothing was written
    };

    AutoRun(LineDriver& lines, Clock& clock, BitTiming& timing, Host& host,
            OperationLock& operations);

    // The front end's own consent to a bit that ends serial programming (vardel-cli's
    // --allow-lockout); a project must allow it as well.
    bool allowLockout = false;
    // Bits that change, just before the confirmation of a fuse or lock write.
    std::function<void(const std::vector<BitChange>&)> showChanges;
    // Asked between steps: true ends the run there ("stopped").
    std::function<bool()> stopRequested;
    // What a 25xx's block protection gets: asked (the window), refused, or cleared
    // (--clear-protection), as in a single program command.
    EepromPage::Protection protection = EepromPage::Protection::Ask;
    // The AVR pace the user set (a floor on each SCK phase, the safe pace).
    AvrPaceSettings avrPace;

    // Where the run happens, for the log: "host port" (the computer's name and the board's port),
    // and the chip's place in its batch (1 for the first; 0: no batch).
    std::string station;
    int batchIndex = 0;

    Result run(AutoJob& job);

    // After a run: the step that failed ("" after Ok or Refused), the part identified ("" when
    // none was), and the serial number the chip got (or was refused).
    const std::string& failedStep() const { return failedStep_; }
    const std::string& partName() const { return partName_; }
    std::optional<std::uint64_t> serial() const { return serial_; }

    // The header of the CSV log. Each chip gets a line when it starts (kind "started") and one
    // when it ends, so that a run killed outright still leaves its start.
    static const char* const kLogHeader;

private:
    struct Record; // what the log line says
    Result runAvr(AutoJob& job, Record& record);
    Result runEeprom(AutoJob& job, Record& record);
    Result fail(const std::string& step, const std::string& holds, Record& record);
    // serial.next moved on to `next` in the project file, read again: empty, or why not.
    std::string saveNextSerial(AutoJob& job, std::uint64_t used, std::uint64_t next);
    Result refuse(const std::string& text);
    bool stopping() const { return stopRequested && stopRequested(); }
    bool writeLog(const AutoJob& job, const Record& record);

    LineDriver& lines_;
    Clock& clock_;
    BitTiming& timing_;
    Host& host_;
    OperationLock& operations_;
    std::string failedStep_;
    std::string partName_;
    std::optional<std::uint64_t> serial_;
};

} // namespace vardel
