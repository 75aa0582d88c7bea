#pragma once

#include "avr/avr_page.h"
#include "avr/avr_page_model.h"
#include "avr/avr_serial.h"
#include "avr/bits_write.h"
#include "avr/lock_fuse_editor.h"
#include "hw/host.h"
#include "hw/operation_lock.h"
#include "parts/catalogue_bits.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace vardel {

using Instruction = std::array<std::uint8_t, 4>;

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

    LockFuseCommands(AvrSerial& serial, const AvrPageModel& page, LockFuseEditor& editor,
                     Host& host, OperationLock& operations);

    // "Read Fuse Bits" or "Read Lock Bits": the bits of the shown chip into the editor.
    Outcome read(BitsWrite::Kind kind);
    // "Program Fuse Bits" or "Program Lock Bits".
    Outcome program(BitsWrite::Kind kind);
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
    // The fuse bytes those instructions carry, in order; the lock bits they set in the layout of
    // the lock read.
    std::vector<std::uint8_t> fuseValues() const;
    std::uint8_t lockValue() const;

    // Called with the bits that change just before the confirmation is shown (the command line
    // prints them); the confirmation lists them as well.
    std::function<void(const std::vector<BitChange>&)> showChanges;
    // Whether the last program command sent its write (a stop after that point lets it finish).
    bool wrote() const { return writer_.wrote(); }

private:
    using Kind = BitsWrite::Kind;
    class Target;

    // One read of the chip's bits that the write of this kind sets.
    BoxStates readWritten(Kind kind);
    BoxStates readFuseStates();
    // How the shown chip's bits go over the line and where the editor shows them.
    const CatalogueBits& bits() const;
    std::vector<int> writtenBoxes(Kind kind) const;
    // Sends one lock or fuse instruction, paced, and gives the chip its settling clocks and time;
    // the byte received during the fourth transfer.
    std::uint8_t send(const Instruction& instruction);
    void readAT90SLockGroup(std::uint8_t lock, int lb1Bit, int lb2Bit);

    AvrSerial& serial_;
    const AvrPageModel& page_;
    LockFuseEditor& editor_;
    Host& host_;
    OperationLock& operations_;
    BitsWrite writer_;
};

} // namespace vardel
