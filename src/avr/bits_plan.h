#pragma once

#include <string>
#include <vector>

namespace vardel {

// A bit that a lock or fuse write changes: programmed (0) or not (1) on the chip before, and as
// the editor has it. `box` names the bit in its editor.
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

// One bit that a write sets, as one read of the chip gives it.
struct BitState {
    int box;
    std::string name;
    bool programmed;
    bool operator==(const BitState&) const = default;
};

// What a lock or fuse write will do to the chip in the socket, found before it is confirmed: the
// bits as the chip held them, the ones that change, whether one ends serial programming, and the
// confirmation's text.
struct BitsPlan {
    std::vector<BitState> before;
    std::vector<BitChange> changes;
    bool lockout = false;
    bool readable = true;
    std::string question;
    // Nothing to write: the chip already holds the bits.
    bool nothingToDo() const { return changes.empty() && readable; }
};

} // namespace vardel
