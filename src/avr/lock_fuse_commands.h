#pragma once

#include "avr/avr_page.h"
#include "avr/avr_page_model.h"
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
// for every part, through the part's one set of commands (PartBitsCommands). The catalogue's lock
// and fuse editor is a view of its boxes over the bytes of the part the page identified last (by
// its processor-type text), each box one bit of them: the boxes give the bytes a write sends, and
// a read sets the boxes from the bytes, the AT90S lock group by its LB1/LB2 rule. A part of the
// generated table has its bytes on its own page (`tableBytes`).
class LockFuseCommands {
public:
    using Outcome = AvrPage::Outcome;

    LockFuseCommands(AvrSerial& serial, const AvrPageModel& page, LockFuseEditor& editor,
                     Host& host, OperationLock& operations);

    // "Read Fuse Bits" or "Read Lock Bits": the bits of the shown chip into the editor.
    Outcome read(BitsWrite::Kind kind);
    // "Program Fuse Bits" or "Program Lock Bits"; Cancel at the confirmation returns Cancelled.
    Outcome program(BitsWrite::Kind kind);
    Outcome btnReadFuseBitsClick() { return read(BitsWrite::Kind::Fuses); }
    Outcome btnFuseBitsClick() { return program(BitsWrite::Kind::Fuses); }
    // Refused (Failed, no port access) for the AT90S parts that have no lock read instruction.
    Outcome btnReadLockBitsClick() { return read(BitsWrite::Kind::Lock); }
    Outcome btnLockBitsClick() { return program(BitsWrite::Kind::Lock); }

    // The shown part's bytes as the boxes give them.
    PartBits bytes() const;

    // A part of the generated table: the bytes its editor page holds, which the commands read and
    // write directly, and whether a bit that ends serial programming may go (its warning was
    // answered). Null: the catalogue's boxes.
    PartBits* tableBytes = nullptr;
    bool allowLockout = false;
    // The part the user chose where several answer the chip's signature (AvrPage::partChoice).
    std::string partChoice;

    // Called with the bits that change just before the confirmation is shown (the command line
    // prints them); the confirmation lists them as well.
    std::function<void(const std::vector<BitChange>&)> showChanges;

private:
    using Kind = BitsWrite::Kind;

    const AvrPart& part() const;
    const SerialBits& serialBits() const;
    // The boxes of bits of this kind set from the bytes.
    void show(const PartBits& bits, Kind kind);

    AvrSerial& serial_;
    const AvrPageModel& page_;
    LockFuseEditor& editor_;
    Host& host_;
    OperationLock& operations_;
};

} // namespace vardel
