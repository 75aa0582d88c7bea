#pragma once

#include "avr/avr_page.h"
#include "avr/avr_serial.h"
#include "avr/bits_plan.h"
#include "hw/host.h"
#include "hw/operation_lock.h"

#include <array>
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
    // The chip in the socket answers this signature: it is the one the editor shows.
    virtual bool isShown(const std::array<std::uint8_t, 3>& signature) const = 0;
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

// "Program Fuse Bits" and "Program Lock Bits" for every part: the chip must be the one the editor
// shows, the bits are read twice and must agree, each bit that changes is shown in the
// confirmation (Cancel the default), lock bits are only ever programmed, a bit that ends serial
// programming must have been allowed, and the chip is read back afterwards (in the same session
// when the write has just ended serial programming on purpose). Every way out leaves the lines
// low.
class BitsWrite {
public:
    enum class Kind { Fuses, Lock };

    BitsWrite(AvrSerial& serial, Host& host, OperationLock& operations)
        : serial_(serial), host_(host), operations_(operations)
    {
    }

    AvrPage::Outcome program(Kind kind, BitsTarget& target);
    // Called with the bits that change just before the confirmation is shown.
    std::function<void(const std::vector<BitChange>&)> showChanges;
    // Whether the last program command sent its write (a stop after that point lets it finish).
    bool wrote() const { return wrote_; }

    // With the chip in programming mode and known to be the target's: reads the bits twice and
    // finds what the write changes and whether each change is allowed. `erased`: the job erases
    // the chip before this write, so its lock bits start unprogrammed. Empty, or why the write
    // must not go out (the port is left as it is, nothing is shown, nothing has been written).
    std::string plan(Kind kind, BitsTarget& target, BitsPlan& out, bool erased = false);
    // Sends the write of a plan, then reads the chip back: after a fresh power-up, or in the same
    // session (`inSession`; a part that takes a new value only at power-up is read again after
    // one). Empty when the chip holds every bit, otherwise why not.
    std::string apply(Kind kind, BitsTarget& target, const BitsPlan& plan, bool inSession);

    // Busy cursor and Programming Enable; false after the failure has been reported.
    bool enter();
    // Lines low, normal cursor and the message: the one way out of a failed write.
    AvrPage::Outcome fail(const std::string& text);

private:
    bool sameChip(const BitsTarget& target);

    AvrSerial& serial_;
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
