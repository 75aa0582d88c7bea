#pragma once

#include "avr/avr_page.h"
#include "avr/avr_part_ops.h"
#include "avr/bits_write.h"
#include "hw/host.h"
#include "hw/operation_lock.h"
#include "parts/avr_parts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// A bit of a part-table part's fuse or lock bytes: byte 0 .. fuseCount - 1 are the fuse bytes in
// the part's order, byte fuseCount is the lock byte.
struct PartBit {
    int byte;
    int bit;
};

// The fuse and lock bytes of a part-table part as the editor page and the command line hold
// them: the value the chip is to get, a programmed bit stored as 0. Bits the part does not have
// stay 1.
class PartBits {
public:
    explicit PartBits(const AvrPart& part);

    const AvrPart& part() const { return *part_; }
    int lockByte() const { return part_->fuseCount; }
    int byteCount() const { return part_->fuseCount + 1; }
    // "lfuse", "hfuse", "efuse", "fuse" or "lock".
    const char* byteName(int byte) const;
    // Name and description of a bit; null where the byte has no such bit.
    const char* bitName(int byte, int bit) const;
    const char* description(int byte, int bit) const;
    // The bits the byte has.
    std::uint8_t mask(int byte) const;
    std::optional<PartBit> find(std::string_view name) const;

    std::uint8_t value(int byte) const { return values_[byte]; }
    void setValue(int byte, std::uint8_t value);
    bool programmed(PartBit bit) const { return !(values_[bit.byte] >> bit.bit & 1); }
    void setProgrammed(PartBit bit, bool programmed);
    // The fuse bytes as the part leaves the factory; the lock byte is left alone.
    void factoryDefault();

    // SPIEN unprogrammed, RSTDISBL or DWEN programmed: the chip no longer enters serial
    // programming from its next power-up. True when `programmed` is that state of the bit.
    bool endsSerialProgramming(PartBit bit, bool programmed) const;

private:
    const AvrPart* part_;
    std::array<std::uint8_t, 4> values_{};
};

// "Read Fuse Bits", "Program Fuse Bits", "Read Lock Bits" and "Program Lock Bits" for a part of
// the part table, with the same care as for the catalogue parts: the chip in the socket must be
// the identified part, the bytes are read twice and must agree, each bit that changes is shown in
// the confirmation (Cancel the default), a bit that ends serial programming is written only when
// `allowLockout` is set, lock bits are only ever programmed, and the chip is read back afterwards.
class PartBitsCommands {
public:
    using Outcome = AvrPage::Outcome;
    using Kind = BitsWrite::Kind;

    PartBitsCommands(AvrSerial& serial, const AvrPart& part, PartBits& bits, Host& host,
                     OperationLock& operations);

    Outcome read(Kind kind);
    Outcome program(Kind kind);

    bool allowLockout = false;
    // Called with the bits that change just before the confirmation.
    std::function<void(const std::vector<BitChange>&)> showChanges;
    // Whether the last program command sent its write (a stop after that point lets it finish).
    bool wrote() const { return writer_.wrote(); }

    // The bytes a command of this kind reads and writes: the fuse bytes, or the lock byte where
    // serial programming reaches it.
    std::vector<int> bytesOf(Kind kind) const;

private:
    class Target;

    std::vector<std::uint8_t> readBytes(Kind kind);

    AvrSerial& serial_;
    AvrPartOps ops_;
    PartBits& bits_;
    Host& host_;
    OperationLock& operations_;
    BitsWrite writer_;
};

} // namespace vardel
