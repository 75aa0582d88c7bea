#pragma once

#include "avr/avr_page.h"
#include "avr/avr_part_ops.h"
#include "avr/bits_write.h"
#include "hw/host.h"
#include "hw/operation_lock.h"
#include "parts/avr_parts.h"
#include "parts/catalogue_parts.h"
#include "parts/serial_bits.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

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

    // The part's data says the bit in this state ends serial programming from the chip's next
    // power-up (SPIEN unprogrammed; the external reset disabled or debugWIRE enabled, whatever
    // the part names them, programmed).
    bool endsSerialProgramming(PartBit bit, bool programmed) const;

private:
    const AvrPart* part_;
    std::array<std::uint8_t, 4> values_{};
};

// The bits a read instruction gives, from the byte it answered, into `bits`.
void TakeAnswer(const BitsInstruction& read, std::uint8_t answer, PartBits& bits);

// A part whose lock group takes LB2 only together with LB1 (`keepsLockModes`) shows LB2 without
// LB1, which is no lock mode, as no lock bit programmed. Nothing is written that way: a lock write
// starts from the bits the chip holds.
void ShowLockMode(PartBits& bits);

// The named bits of `bits`' part that a write of this kind sets (the AT90S4433's cannot reach
// SPIEN), in the order a read gives them; as `serial` sends them, or as the part's own description
// does.
std::vector<PartBit> BitsWritten(const PartBits& bits, BitsWrite::Kind kind,
                                 const SerialBits& serial);
std::vector<PartBit> BitsWritten(const PartBits& bits, BitsWrite::Kind kind);
// The fuse bytes, or the lock byte where serial programming reaches it.
std::vector<int> BytesOf(const PartBits& bits, BitsWrite::Kind kind);

// "Read Fuse Bits" and "Read Lock Bits" for every part, and the plan and the write of a job's lock
// or fuse step (BitsWrite): the bytes are read twice and must agree, a bit that ends serial
// programming is written only when `allowLockout` (or `lockoutRefusal`) lets it, lock bits are
// only ever programmed, and the chip is read back afterwards.
//
// The bits go over the line as the part's description (SerialBits) says: each instruction paced
// and followed by its settling, every write instruction or only those whose bits change.
class PartBitsCommands {
public:
    using Outcome = AvrPage::Outcome;
    using Kind = BitsWrite::Kind;

    PartBitsCommands(AvrSerial& serial, const AvrPart& part, PartBits& bits, Host& host,
                     OperationLock& operations);
    // Other instructions for `part` (the unidentified chip's for a read).
    PartBitsCommands(AvrSerial& serial, const SerialBits& sends, PartBits& bits, Host& host,
                     OperationLock& operations);

    // A read of lock bits the chip cannot report fails without port access.
    Outcome read(Kind kind);

    // Inside a job's session, the chip in programming mode and identified: one read of the
    // bits of this kind into the bytes; the plan of a write of the bytes as they stand (empty,
    // or why it must not go out); and its write with the read-back in the same session (empty,
    // or why the chip does not hold the bits).
    void readNow(Kind kind);
    // The same read as a person sees it: an AT90S's lock mode as its LB1 and LB2 give it, the
    // ATtiny12's calibration byte with its fuses.
    void readShown(Kind kind);
    std::string planNow(Kind kind, BitsPlan& plan, bool erased);
    std::string applyNow(Kind kind, const BitsPlan& plan);

    bool allowLockout = false;
    // What the user must do first before a bit that ends serial programming goes ("" for nothing
    // more to say), or null when it may; unset, `allowLockout` decides.
    std::function<std::optional<std::string>(PartBit)> lockoutRefusal;
    // The bits as a read in this session has just given them: a plan takes them as the first of
    // its two reads.
    std::optional<PartBits> held;
    // The ATtiny12's calibration byte, once a fuse read got it.
    std::optional<std::uint8_t> calibration() const { return calibration_; }
    // The last lock read found LB2 programmed without LB1, which a part that keeps lock modes
    // shows as no lock.
    bool lb2WithoutLb1() const { return lb2WithoutLb1_; }

    // The bytes a command of this kind reads and writes: the fuse bytes, or the lock byte where
    // serial programming reaches it.
    std::vector<int> bytesOf(Kind kind) const;
    // The bits a write of this kind sets, in the order a read gives them.
    std::vector<PartBit> writtenBits(Kind kind) const;
    bool readable(Kind kind) const
    {
        return kind == Kind::Fuses || bits_.part().instructions.lockRead;
    }

private:
    class Target;

    // One read of the bits of this kind into `into`.
    void readInto(Kind kind, PartBits& into);
    void write(Kind kind, const std::vector<BitState>& before);
    // The instruction, paced, with its settling clocks and time; the byte received at its
    // `valueAt`.
    std::uint8_t send(const BitsInstruction& instruction);
    std::array<std::uint8_t, 4> encode(const BitsInstruction& write) const;
    const std::vector<BitsInstruction>& reads(Kind kind) const;
    const std::vector<BitsInstruction>& writes(Kind kind) const;

    AvrSerial& serial_;
    const SerialBits& serialBits_;
    PartBits& bits_;
    Host& host_;
    OperationLock& operations_;
    BitsWrite writer_;
    std::optional<std::uint8_t> calibration_;
    bool lb2WithoutLb1_ = false;
    std::uint8_t lockAnswer_ = 0xFF;
};

} // namespace vardel
