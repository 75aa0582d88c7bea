#pragma once

#include "avr/avr_page.h"
#include "avr/avr_page_model.h"
#include "avr/avr_serial.h"
#include "avr/lock_fuse_editor.h"
#include "hw/host.h"
#include "hw/operation_lock.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace vardel {

// How the fuse commands reach a chip, chosen by the processor-type text. Any text that names none
// of these (the AT90S parts without fuses, "??" before any identification) takes the ATmega128
// sequences.
enum class FuseFamily { ATmega128, ATmega163, ATmega161, ATmega103, ATtiny12, AT90S };

FuseFamily FuseFamilyOf(const std::string& lbTipo);

using Instruction = std::array<std::uint8_t, 4>;

// A bit that a lock or fuse write changes, by its box: programmed (0) or not (1) on the chip
// before, and as the editor has it.
struct BitChange {
    int box;
    std::string name;
    bool wasProgrammed;
    bool programmed;
};
// "CKOPT 1 -> 0": the bit as the chip stores it, before and after.
std::string ChangeText(const BitChange& change);

// The line a confirmation puts above its change list when the write ends serial programming.
std::string LockoutNote(const std::string& part);

// The state of boxes as one read of the chip gives them, in the order a read sets them.
using BoxStates = std::vector<std::pair<int, bool>>;

// "Read Fuse Bits", "Program Fuse Bits", "Read Lock Bits" and "Program Lock Bits". They rely on
// the processor-type text and DeviceClass of the last identification, as the window keeps them.
// Each holds an Operation for its whole run, starts the chip with a fresh power cycle and ends with
// every AVR line low.
//
// A write is the one mistake a passive programmer cannot undo, so the two program commands first
// make sure of the chip: its signature must be the one the page shows, the bits are read twice and
// must agree, each bit that changes is shown in the confirmation (Cancel the default), a bit that
// would end serial programming must have been released by its guard, and the chip is read back
// afterwards: "Fuse Bits set !!" and "Lock Bits set !!" mean the chip holds what was written.
class LockFuseCommands {
public:
    using Outcome = AvrPage::Outcome;

    static constexpr int kSettleClocks = 1000;
    static constexpr std::uint32_t kSettleMs = 100;

    LockFuseCommands(AvrSerial& serial, const AvrPageModel& page, LockFuseEditor& editor,
                     Host& host, OperationLock& operations);

    Outcome btnReadFuseBitsClick();
    // Cancel at the confirmation returns Cancelled; the chip was only read.
    Outcome btnFuseBitsClick();
    // Refused (Failed, no port access) while "Read Lock Bits" is disabled: the AT90S parts that
    // have no lock read instruction.
    Outcome btnReadLockBitsClick();
    Outcome btnLockBitsClick();

    // The instructions "Program Fuse Bits" and "Program Lock Bits" would send for the editor as
    // it stands, in order.
    std::vector<Instruction> FuseWriteInstructions() const;
    Instruction LockWriteInstruction() const;

    // Called with the bits that change just before the confirmation is shown (the command line
    // prints them); the confirmation lists them as well.
    std::function<void(const std::vector<BitChange>&)> showChanges;
    // Whether the last program command sent its write (a stop after that point lets it finish).
    bool wrote() const { return wrote_; }

private:
    enum class Kind { Fuses, Lock };

    Outcome program(Kind kind);
    // Refuses, with a message, a chip other than the identified one; true when it is the same.
    bool sameChip();
    // One read of the chip's bits that the write of this kind sets.
    BoxStates readWritten(Kind kind);
    BoxStates readFuseStates();
    // The boxes that the lock write sets on the identified chip, with their bits in the lock read.
    std::vector<std::pair<int, int>> lockBoxes() const;
    std::vector<int> writtenBoxes(Kind kind) const;
    // Lines low, normal cursor and the message: the one way out of a failed write.
    Outcome fail(const std::string& text);
    // Sends one lock or fuse instruction, paced, and gives the chip its settling clocks and time;
    // the byte received during the fourth transfer.
    std::uint8_t send(const Instruction& instruction);
    // Busy cursor and Programming Enable; false after the failure has been reported.
    bool enter();
    void setFromBits(std::uint8_t value, std::initializer_list<std::pair<int, int>> bitBoxes);
    void readAT90SLockGroup(std::uint8_t lock, int lb1Bit, int lb2Bit);

    AvrSerial& serial_;
    const AvrPageModel& page_;
    LockFuseEditor& editor_;
    Host& host_;
    OperationLock& operations_;
    bool wrote_ = false;
};

// How a lock or fuse write that ended early left the chip: "The fuses were written; read them
// back.", or empty before the write went out.
std::string WrittenText(bool wrote, bool fuses);
// The way out of a lock or fuse write stopped before it went out: a WARNING that nothing was
// written; Stopped.
AvrPage::Outcome StoppedBeforeWrite(Host& host, bool fuses);

} // namespace vardel
