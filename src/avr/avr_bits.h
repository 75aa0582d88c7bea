#pragma once

#include "avr/avr_page.h"
#include "avr/bits_write.h"
#include "avr/part_bits.h"
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

// The lock and fuse bits of the identified chip by their names, held as the part's bytes
// (PartBits): what the command line and the production runs read, set and write. Reads and writes
// are the part's one set of commands (PartBitsCommands), so every guard of the write stays; its
// description adds the lock modes and the presets, its editor page the order of the bits and the
// warnings of its guarded boxes.
class AvrBits {
public:
    using Kind = BitsWrite::Kind;

    // The bits of `part`, read and written through `serial`.
    AvrBits(AvrSerial& serial, const AvrPart& part, Host& host, OperationLock& operations);

    // "ATmega163 (16kb flash)".
    std::string chip() const { return bits_.part().label(); }
    // The bits of this kind a read shows and a write may set, in the order the part's editor shows
    // them.
    std::vector<std::string> names(Kind kind) const { return NamesOf(bits_.part(), kind); }
    // False for lock bits the chip cannot report: they are written unchecked.
    bool readable(Kind kind) const { return commands().readable(kind); }
    // Why a preset does not apply to the chip, or nothing.
    std::optional<std::string> presetRefusal(const std::string& preset) const;
    // The state of a bit named as names() gives it.
    bool programmed(const std::string& name) const;
    // False for a bit shown that serial programming cannot change.
    bool changeable(const std::string& name) const;
    // `programmed` is the state of the bit that ends serial programming.
    bool endsSerialProgramming(const std::string& name, bool programmed) const
    {
        return EndsSerialProgramming(bits_.part(), name, programmed);
    }
    void applyPreset(const std::string& preset);
    // Sets the bits; a bit whose editor box is guarded is released through its warning first
    // (unless `askGuards` is false: a check of what the job will ask). Nothing when they are set,
    // otherwise why not (empty when a warning was answered Cancel: it said enough), and nothing
    // is set.
    std::optional<std::string> set(const std::vector<std::pair<std::string, bool>>& wanted,
                                   bool askGuards = true);
    // What a read shows beyond the bits: the lock mode, the calibration byte.
    std::vector<std::string> notes(Kind kind) const;
    // The fuse bytes, or the lock byte, as they stand.
    std::vector<std::uint8_t> values(Kind kind) const;
    // The same bytes as readNow() found them in the chip; empty before a read.
    std::vector<std::uint8_t> readValues(Kind kind) const;

    // Inside a job's session (the chip in programming mode, identified as this part): the bits as
    // the chip holds them, or as an erase leaves the lock bits; the plan of the write of the bits
    // as they stand; and that write, read back in the same session. The strings are empty, or why
    // not.
    void readNow(Kind kind);
    // The same read as a person sees it (what notes() adds comes with it).
    void readShown(Kind kind);
    void erasedLock() { bits_.setValue(bits_.lockByte(), 0xFF); }
    std::string planNow(Kind kind, BitsPlan& plan, bool erased);
    std::string applyNow(Kind kind, const BitsPlan& plan);

    // The bits of this kind names() gives for the part, before any chip is read.
    static std::vector<std::string> NamesOf(const AvrPart& part, Kind kind);
    // The bit of this name (as NamesOf gives it) in this state ends serial programming.
    static bool EndsSerialProgramming(const AvrPart& part, const std::string& name,
                                      bool programmed);

    // Lets a bit that ends serial programming go; `lockoutRefusal`, where set, decides instead
    // (as PartBitsCommands has it).
    bool allowLockout = false;
    std::function<std::optional<std::string>(PartBit)> lockoutRefusal;

private:
    PartBitsCommands commands() const
    {
        return PartBitsCommands(serial_, bits_.part(), bits_, host_, operations_);
    }
    // A bit whose editor box is guarded changes only once the user answered its warning with OK,
    // as the box is clicked only once its button did.
    bool release(PartBit bit);

    AvrSerial& serial_;
    Host& host_;
    OperationLock& operations_;
    mutable PartBits bits_;
    std::vector<PartBit> released_;
    std::optional<PartBitsCommands> planned_;
    // The chip's bits as readNow() gave them, before set() changed any.
    std::optional<PartBits> read_;
    // The same, kept for readValues() once a plan has taken read_.
    std::optional<PartBits> found_;
    std::optional<std::uint8_t> calibration_;
};

} // namespace vardel
