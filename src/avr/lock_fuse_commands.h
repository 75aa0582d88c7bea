#pragma once

#include "avr/avr_page.h"
#include "avr/avr_serial.h"
#include "avr/bits_write.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "hw/host.h"
#include "hw/operation_lock.h"
#include "parts/catalogue_parts.h"

#include <functional>
#include <vector>

namespace vardel {

// "Read Fuse Bits", "Program Fuse Bits", "Read Lock Bits" and "Program Lock Bits" of the window,
// for every part, through the part's one set of commands (PartBitsCommands), on the bytes of the
// editor (LockFuseEditor::bits(), the part it shows): a write sends them, a read sets them bit by
// bit as the boxes that show them would be clicked, the AT90S lock group by its LB1/LB2 rule.
class LockFuseCommands {
public:
    using Outcome = AvrPage::Outcome;

    LockFuseCommands(AvrSerial& serial, LockFuseEditor& editor, Host& host,
                     OperationLock& operations);

    // "Read Fuse Bits" or "Read Lock Bits": the bits of the shown chip into the editor.
    Outcome read(BitsWrite::Kind kind);
    // "Program Fuse Bits" or "Program Lock Bits"; Cancel at the confirmation returns Cancelled,
    // the editor then holding the bits as the chip was read before the question.
    Outcome program(BitsWrite::Kind kind);
    // The last program() was cancelled at its confirmation after reading the chip: the editor
    // holds the chip's bits of that kind.
    bool cancelledWithChipBits() const { return cancelledWithChipBits_; }
    // The last lock read found LB2 programmed without LB1, shown as no lock: LB2 counts only
    // together with LB1 on the AT90S parts.
    bool lb2WithoutLb1() const { return lb2WithoutLb1_; }
    Outcome btnReadFuseBitsClick() { return read(BitsWrite::Kind::Fuses); }
    Outcome btnFuseBitsClick() { return program(BitsWrite::Kind::Fuses); }
    // Refused (Failed, no port access) for the AT90S parts that have no lock read instruction.
    Outcome btnReadLockBitsClick() { return read(BitsWrite::Kind::Lock); }
    Outcome btnLockBitsClick() { return program(BitsWrite::Kind::Lock); }

    // The part the user chose where several answer the chip's signature (AvrPage::partChoice).
    std::string partChoice;

    // Called with the bits that change just before the confirmation is shown (the command line
    // prints them); the confirmation lists them as well.
    std::function<void(const std::vector<BitChange>&)> showChanges;

private:
    using Kind = BitsWrite::Kind;

    const SerialBits& serialBits() const;
    // The editor's bits of this kind set from the bytes.
    void show(const PartBits& bits, Kind kind);

    bool cancelledWithChipBits_ = false;
    bool lb2WithoutLb1_ = false;
    AvrSerial& serial_;
    LockFuseEditor& editor_;
    Host& host_;
    OperationLock& operations_;
};

} // namespace vardel
