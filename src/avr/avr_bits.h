#pragma once

#include "avr/avr_page.h"
#include "avr/bits_write.h"
#include "hw/host.h"
#include "hw/operation_lock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vardel {

// The lock and fuse bits of the identified chip by their names, held as the part's bytes: what the
// command line and the production runs read, set and write. Reads and writes are the part's one
// set of commands (PartBitsCommands), so every guard of the write stays.
class AvrBits {
public:
    using Kind = BitsWrite::Kind;

    // The bits of `part`, read and written through `serial`.
    static std::unique_ptr<AvrBits> For(AvrSerial& serial, const AvrPart& part, Host& host,
                                        OperationLock& operations);
    virtual ~AvrBits() = default;

    // "ATmega163 (16kb flash)".
    virtual std::string chip() const = 0;
    // The bits of this kind a read shows and a write may set, in the order the part's editor shows
    // them.
    virtual std::vector<std::string> names(Kind kind) const = 0;
    // False for lock bits the chip cannot report: they are written unchecked.
    virtual bool readable(Kind) const { return true; }
    // Why a preset does not apply to the chip, or nothing.
    virtual std::optional<std::string> presetRefusal(const std::string& preset) const = 0;
    // The state of a bit named as names() gives it.
    virtual bool programmed(const std::string& name) const = 0;
    // False for a bit shown that serial programming cannot change.
    virtual bool changeable(const std::string&) const { return true; }
    // `programmed` is the state of the bit that ends serial programming.
    virtual bool endsSerialProgramming(const std::string& name, bool programmed) const = 0;
    virtual void applyPreset(const std::string& preset) = 0;
    // Sets the bits; a bit whose editor box is guarded is released through its warning first
    // (unless `askGuards` is false: a check of what the job will ask). Nothing when they are set,
    // otherwise why not (empty when a warning was answered Cancel: it said enough), and nothing
    // is set.
    virtual std::optional<std::string> set(const std::vector<std::pair<std::string, bool>>& wanted,
                                           bool askGuards = true) = 0;
    // What a read shows beyond the bits: the lock mode, the calibration byte.
    virtual std::vector<std::string> notes(Kind) const { return {}; }
    // The fuse bytes, or the lock byte, as they stand.
    virtual std::vector<std::uint8_t> values(Kind kind) const = 0;

    // Inside a job's session (the chip in programming mode, identified as this part): the bits as
    // the chip holds them, or as an erase leaves the lock bits; the plan of the write of the bits
    // as they stand; and that write, read back in the same session. The strings are empty, or why
    // not.
    virtual void readNow(Kind kind) = 0;
    // The same read as a person sees it (what notes() adds comes with it).
    virtual void readShown(Kind kind) = 0;
    virtual void erasedLock() = 0;
    virtual std::string planNow(Kind kind, BitsPlan& plan, bool erased) = 0;
    virtual std::string applyNow(Kind kind, const BitsPlan& plan) = 0;

    // The bits of this kind names() gives for the part, before any chip is read.
    static std::vector<std::string> NamesOf(const AvrPart& part, Kind kind);
    // The bit of this name (as NamesOf gives it) in this state ends serial programming.
    static bool EndsSerialProgramming(const AvrPart& part, const std::string& name,
                                      bool programmed);

    // Lets a bit that ends serial programming go; `lockoutRefusal`, where set, decides instead
    // (as PartBitsCommands has it).
    bool allowLockout = false;
    std::function<std::optional<std::string>(PartBit)> lockoutRefusal;
};

} // namespace vardel
