#pragma once

#include "avr/avr_page.h"
#include "avr/avr_page_model.h"
#include "avr/avr_serial.h"
#include "avr/lock_fuse_editor.h"
#include "hw/host.h"
#include "hw/operation_lock.h"

#include <array>
#include <cstdint>
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

// "Read Fuse Bits", "Program Fuse Bits", "Read Lock Bits" and "Program Lock Bits". None of them
// identifies the chip: they rely on the processor-type text and DeviceClass of the last
// identification, as the window keeps them. Each holds an Operation for its whole run, starts the
// chip with a fresh power cycle and ends with every AVR line low.
class LockFuseCommands {
public:
    using Outcome = AvrPage::Outcome;

    static constexpr int kSettleClocks = 1000;
    static constexpr std::uint32_t kSettleMs = 100;

    LockFuseCommands(AvrSerial& serial, const AvrPageModel& page, LockFuseEditor& editor,
                     Host& host, OperationLock& operations);

    Outcome btnReadFuseBitsClick();
    // On an ATmega128 asks first; Cancel returns Cancelled before any port access.
    Outcome btnFuseBitsClick();
    // Refused (Failed, no port access) while "Read Lock Bits" is disabled: the AT90S parts that
    // have no lock read instruction.
    Outcome btnReadLockBitsClick();
    Outcome btnLockBitsClick();

    // The instructions "Program Fuse Bits" and "Program Lock Bits" would send for the editor as
    // it stands, in order.
    std::vector<Instruction> FuseWriteInstructions() const;
    Instruction LockWriteInstruction() const;

private:
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
};

} // namespace vardel
