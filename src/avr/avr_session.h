#pragma once

#include "avr/avr_part_ops.h"
#include "avr/avr_serial.h"
#include "avr/bits_plan.h"
#include "avr/device_catalogue.h"
#include "files/image_file.h"
#include "hw/host.h"
#include "hw/operation_lock.h"
#include "parts/avr_parts.h"
#include "parts/part_clock.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vardel {

class AvrBits;

// Why an identification ended as it did.
enum class AvrIdentification {
    Identified,
    NotDetected,
    Protected,
    UnknownAtmel,
    OtherSignature,
    NotChosen, // a known part, not the one the user named
};

// The chip in the socket as its signature names it.
struct AvrIdentity {
    AvrIdentification result = AvrIdentification::NotDetected;
    // All zero when the chip did not answer the programming enable.
    std::array<std::uint8_t, 3> signature{};
    const AvrPart* part = nullptr;
    // The catalogue's entry where the part has one: its pages and its pacing.
    const DeviceEntry* entry = nullptr;
    // The parts the signature may be whose lock or fuse bits differ (the AT90PWM1, AT90PWM2B and
    // AT90PWM3B); empty when the signature names one chip.
    std::vector<const AvrPart*> choices;
    // The part the user named (--part, the window's choice), or empty; `picked`: it is one of
    // the choices, and `part`.
    std::string chosen;
    bool picked = false;
    // What clocks the chip, from its fuses; the session is paced by it.
    ChipClock clock;
    // Several parts may be in the socket and none was named: a command that depends on the
    // difference waits for the choice.
    bool undecided() const { return !choices.empty() && !picked; }
};

// "AT90PWM1, AT90PWM2B or AT90PWM3B".
std::string ChoicesText(const std::vector<const AvrPart*>& parts);
// "AT90PWM1, AT90PWM2B or AT90PWM3B (8kb flash)" for a signature of several parts, the part's
// label otherwise.
std::string IdentityLabel(const AvrIdentity& identity);

// Programming Enable (powering the chip up), then the signature, looked up in the catalogue first
// (its entry names the part where another row has the same signature), then in the part table.
// On Identified the chip stays powered and in programming mode. `chosen`: the part the user
// named, one of those that answer the signature (NotChosen otherwise).
AvrIdentity IdentifyAvr(AvrSerial& serial, const std::string& chosen = {});
// Reads the fuses that choose the part's clock (none where its clock does not depend on them)
// and paces the serial interface by that clock from here on. The chip must be in programming
// mode.
ChipClock PaceByChipClock(AvrSerial& serial, const AvrPart& part);
// The ERROR that a failed identification shows ("Processor not detected!!!"); empty for a
// signature that names no maker at all (an empty socket), which has no message of its own.
std::string IdentificationError(const AvrIdentity& identity);
// The lock mode (1 to 3: LB1 and LB2 as the chip holds them) where the part can read its lock
// bits; nothing where it cannot. The chip must be in programming mode.
std::optional<int> ReadLockMode(AvrSerial& serial, AvrPartOps& ops);

// One step of a job. Each names the memory or the bits it works on; the images are bytes laid out
// for the identified part's memory (the job is built once the part is known).
struct AvrStep {
    enum class Kind {
        Erase,      // Chip Erase: flash and EEPROM to 0xFF, the lock bits released
        Write,      // `bytes` into `memory`; with `verify`, the whole memory compared afterwards
        Verify,     // the memory compared with `bytes`
        Read,       // the memory read into the outcome's `chip`
        BlankCheck, // the memory read and compared with 0xFF
        Fuses,      // the named fuse bits set, every other as the chip holds it
        Lock,       // the named lock bits set likewise
    };
    Kind kind = Kind::Erase;
    AvrMemory memory = AvrMemory::Flash;
    std::vector<std::uint8_t> bytes;
    bool verify = false;
    // Write: only these bytes, [first, second), are written and compared; the rest of the memory
    // stays as the chip holds it (an EEPROM that keeps a board's own data). Unset: all of it.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> only;
    // Fuses and Lock: each bit by the name the part's editor gives it, true for programmed.
    std::vector<std::pair<std::string, bool>> bits;

    static AvrStep EraseChip() { return AvrStep{}; }
    static AvrStep Program(AvrMemory memory, std::vector<std::uint8_t> bytes, bool verify)
    {
        AvrStep step;
        step.kind = Kind::Write;
        step.memory = memory;
        step.bytes = std::move(bytes);
        step.verify = verify;
        return step;
    }
    static AvrStep Compare(AvrMemory memory, std::vector<std::uint8_t> bytes)
    {
        AvrStep step = Program(memory, std::move(bytes), false);
        step.kind = Kind::Verify;
        return step;
    }
    static AvrStep ReadMemory(AvrMemory memory)
    {
        AvrStep step;
        step.kind = Kind::Read;
        step.memory = memory;
        return step;
    }
    static AvrStep BlankMemory(AvrMemory memory)
    {
        AvrStep step = ReadMemory(memory);
        step.kind = Kind::BlankCheck;
        return step;
    }
    static AvrStep SetBits(bool lock, std::vector<std::pair<std::string, bool>> bits)
    {
        AvrStep step;
        step.kind = lock ? Kind::Lock : Kind::Fuses;
        step.memory = lock ? AvrMemory::Lock : AvrMemory::Fuses;
        step.bits = std::move(bits);
        return step;
    }
};

// How a step ended, and what the chip holds after it.
struct AvrStepOutcome {
    enum class Kind {
        Done,      // a verify or blank check that found a difference is Done with `differs`
        Refused,   // before anything of the step was written: `reason`
        Cancelled, // the user answered a question with Cancel: nothing of the job was written
        Stopped,   // a stop request (Cancel, closing the window, a signal) ended it at `at`
        PortFault, // the port failed under it: `reason`
        ChipFault, // the chip did not do what it was told, at `at` where `atAddress`: `reason`
        NotRun,    // an earlier step ended the job
    };
    // What the chip holds of the step's memory or bits when it ended.
    enum class Holds {
        Unchanged,     // the step wrote nothing
        MayBeErased,   // the erase went out and did not end
        Erased,        // the erase ended
        PartlyWritten, // the write went out up to `at`
        Written,       // every byte or bit of the step went out
        Verified,      // written and compared: the chip holds the image
    };
    Kind kind = Kind::NotRun;
    Holds holds = Holds::Unchanged;
    std::string reason;
    std::uint32_t at = 0;
    bool atAddress = false;
    // Verify and blank check: how many bytes differ, and the first one.
    std::uint32_t differs = 0;
    std::uint32_t firstDifference = 0;
    // Read, and a verify or blank check: the chip's bytes as they were compared.
    std::vector<std::uint8_t> chip;
    // Fuses and Lock: the bytes the chip holds afterwards (fuse bytes in order, or the lock byte);
    // after a Cancel, as read before the question.
    std::vector<std::uint8_t> values;

    bool ok() const { return kind == Kind::Done && differs == 0; }
};

// An ordered list of steps, done in one session.
struct AvrJob {
    std::vector<AvrStep> steps;
    // The front end's consent to a bit that ends serial programming.
    bool allowLockout = false;
    // Where set, it decides instead for each such bit: null lets it go, otherwise what the user
    // must do first ("" for nothing more to say).
    std::function<std::optional<std::string>(PartBit)> lockoutRefusal;
    // The warnings of guarded bits were answered as the front end set them (the window asks as
    // a box is clicked); otherwise the job asks them.
    bool guardsAnswered = false;
    // The bits that change, before the one confirmation of the job's fuse and lock writes.
    std::function<void(const std::vector<BitChange>&)> showChanges;
    // Asked before each write and between units of work, besides the operation's stop request.
    std::function<bool()> stopRequested;
    // The address reached in a step's memory, after each unit of work.
    std::function<void(const AvrStep&, std::uint32_t index, std::uint32_t size)> progress;
};

// One programming session: it holds the operation, powers the chip up and enters programming once,
// identifies once, runs a job's steps in order and has one way out (every line low, one report by
// the caller from the typed outcomes). Nothing power-cycles the chip between steps, with two
// exceptions: the lines go low while the job's one confirmation is open, and a fuse write that the
// chip does not show in the same session is read again after a power-up (parts that take a new
// fuse value only then).
class AvrSession {
public:
    AvrSession(AvrSerial& serial, Host& host, OperationLock& operations, std::string chosen = {});
    ~AvrSession();
    AvrSession(const AvrSession&) = delete;
    AvrSession& operator=(const AvrSession&) = delete;

    // Claims the operation, powers the chip and identifies it. Done with the chip identified;
    // Refused when another operation runs; ChipFault when no known part answered (`identity()`
    // says why); PortFault.
    AvrStepOutcome open();
    // Whether the session holds the operation (false: another one runs, and open() refuses).
    bool acquired() const { return operation_.acquired(); }
    const AvrIdentity& identity() const { return identity_; }
    const AvrPart& part() const { return *identity_.part; }
    // The lock mode the open session's chip is in (1: no lock bit programmed), where the part can
    // tell; nothing where it cannot, or the port failed.
    std::optional<int> lockMode();
    // The open session's chip's oscillator calibration byte (the default frequency's), where the
    // part has one; nothing where it has not, or the port failed.
    std::optional<std::uint8_t> calibrationByte();

    // Runs the steps in order, the first that does not end Done ending the job; a verify that
    // finds a difference ends it too. One outcome per step. The fuse and lock writes are planned
    // before anything is written: a refusal, or a Cancel of their one confirmation, ends the job
    // with the chip unchanged.
    std::vector<AvrStepOutcome> run(const AvrJob& job);

    // Every AVR line low now: the chip loses its supply. The session is over.
    void close();

private:
    bool stopping(const AvrJob& job) const;
    // The step's memory read whole into `out.chip`; false when a stop ended it (`out` then says
    // where, and holds nothing read).
    bool readMemory(const AvrJob& job, const AvrStep& step, AvrStepOutcome& out);
    void write(const AvrJob& job, const AvrStep& step, AvrStepOutcome& out);
    // Reads the step's memory and compares it with `expected`; `before` is what the step's own
    // writes left (Verified once they compare equal).
    void compare(const AvrJob& job, const AvrStep& step, const std::vector<std::uint8_t>& expected,
                 AvrStepOutcome::Holds before, AvrStepOutcome& out);
    void bits(const AvrJob& job, const AvrStep& step, std::size_t index, AvrStepOutcome& out);
    std::uint8_t readByte(AvrMemory memory, std::uint32_t address);
    std::uint32_t memorySize(AvrMemory memory) const;
    // Before the first write: the fuse and lock writes planned and confirmed once. Done, or the
    // step it ended at with Refused, Cancelled, Stopped (a stop that came while the question was
    // open) or ChipFault (another chip in the socket after it).
    std::pair<std::size_t, AvrStepOutcome> prepare(const AvrJob& job);
    // Programming Enable again after the lines went low, and the same chip in the socket.
    bool reenter();

    AvrSerial& serial_;
    Host& host_;
    OperationLock& operations_;
    Operation operation_;
    std::string chosen_;
    AvrIdentity identity_;
    std::optional<AvrPartOps> ops_;
    // The bits of the job's fuse and lock steps, and the changes the user confirmed for each.
    std::vector<std::unique_ptr<AvrBits>> bits_;
    std::vector<std::optional<std::vector<BitChange>>> confirmed_;
    bool erasedBefore_ = false;
    bool open_ = false;
    // The session has driven the lines: its way out puts them low.
    bool touched_ = false;
};

// The address a job has reached, every 256 bytes and at the end, in the status line ("Flash 0x1A00
// of 0x20000"), and the gauge's percent at that address.
void ShowProgress(Host& host, bool flash, std::uint32_t index, std::uint32_t size);
int ProgressPercent(std::uint32_t index, std::uint32_t size);
// A job's progress as the AVR page shows it: the address reached every 256 bytes in the status
// line ("Flash 0x1A00 of 0x20000"), the memory's gauge when it moves, queued events run.
std::function<void(const AvrStep&, std::uint32_t, std::uint32_t)> GaugeProgress(Host& host);

// What the chip holds after a job that ended early, for a person: "the chip is erased; the flash
// is programmed and verified; the EEPROM is partly written (up to 0x01A0)". Step by step, from the
// steps that ran.
std::string HoldsText(const std::vector<AvrStep>& steps,
                      const std::vector<AvrStepOutcome>& outcomes);
// Whether any step of the job may have changed the chip.
bool Changed(const std::vector<AvrStepOutcome>& outcomes);

} // namespace vardel
