#pragma once

#include "avr/avr_page.h"
#include "avr/avr_serial.h"
#include "avr/avr_session.h"
#include "avr/bits_plan.h"
#include "hw/host.h"
#include "hw/operation_lock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// What a lock or fuse write needs to know of the bits it sets, whichever editor holds them.
class BitsTarget {
public:
    virtual ~BitsTarget() = default;
    // "ATmega128 (128kb flash)": the chip the editor shows.
    virtual std::string shownName() const = 0;
    // Why the write cannot start at all, before any port access.
    virtual std::optional<std::string> refusal() const = 0;
    // False for lock bits the chip cannot read back: they are written unchecked.
    virtual bool readable() const { return true; }
    // One read of the bits the write sets; without a read, none programmed and no port access.
    virtual std::vector<BitState> read() = 0;
    // The editor's state of a bit.
    virtual bool wanted(int box) const = 0;
    // The state of the bit that ends serial programming from the next power-up.
    virtual bool endsSerialProgramming(int box, bool programmed) const = 0;
    // Null when such a bit may be written; otherwise what the user must do first ("" for
    // nothing more to say).
    virtual std::optional<std::string> lockoutRefusal(int box) const = 0;
    // The confirmation's first line(s).
    virtual std::string confirmationHead() const { return "Are you sure?"; }
    // Sends the writes; `before` is what the chip held.
    virtual void write(const std::vector<BitState>& before) = 0;
};

// The write of lock or fuse bits inside a job's session (the chip in programming mode and known
// to be the target's part): the bits are read twice and must agree, each bit that changes is
// listed for the job's one confirmation, lock bits are only ever programmed, a bit that ends
// serial programming must have been allowed, and the chip is read back afterwards.
class BitsWrite {
public:
    enum class Kind { Fuses, Lock };

    explicit BitsWrite(AvrSerial& serial) : serial_(serial) {}

    // Reads the bits twice and finds what the write changes and whether each change is allowed.
    // `erased`: the job erases the chip before this write, so its lock bits start unprogrammed.
    // Empty, or why the write must not go out (the port is left as it is, nothing is shown,
    // nothing has been written).
    std::string plan(Kind kind, BitsTarget& target, BitsPlan& out, bool erased = false);
    // Sends the write of a plan, then reads the chip back in the same session (a part that takes
    // a new value only at power-up is read again after one). Empty when the chip holds every
    // bit, otherwise why not.
    std::string apply(Kind kind, BitsTarget& target, const BitsPlan& plan);

private:
    AvrSerial& serial_;
};

// How a lock or fuse write that ended early left the chip: "The fuses were written; read them
// back.", or empty before the write went out.
std::string WrittenText(bool wrote, bool fuses);
// How a job's write of lock or fuse bits ended, told as the window has always told it: "Fuse Bits
// set !!", or why not. Done, Failed, Cancelled (the question said enough) or Stopped.
AvrPage::Outcome ReportBitsWrite(Host& host, const AvrStepOutcome& out, bool fuses);

} // namespace vardel
