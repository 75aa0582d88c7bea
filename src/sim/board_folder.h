#pragma once

#include "sim/sockets.h"

#include <memory>
#include <string>
#include <string_view>

namespace vardel::sim {

class SimBoard;

// The board keeps its chips in a folder between runs: "board.ini" names what sits in each socket
// (the keys of `sim show`) and the chips keep their memories beside it.
class BoardFolder {
public:
    // ~/.local/share/vardel/board (the user's data folder).
    static std::string defaultFolder();

    // Creates the folder when missing and puts the chips it describes into the board's sockets.
    static bool load(const std::string& dir, SimBoard& board, std::string& error);
    static bool save(const std::string& dir, const SimBoard& board, std::string& error);

    // The keys of a board.ini text: "key=value" lines; blank lines, "#" comments and "[section]"
    // lines are skipped, the last value of a key counts.
    static ChipKeys parseKeys(std::string_view text);
    // The chips the keys describe, memories all 0xFF until the chips load their own files.
    static bool chipsFromKeys(const ChipKeys& keys, std::unique_ptr<EepromSocketChip>& eeprom,
                              std::unique_ptr<AvrSocketChip>& avr, std::string& error);
};

} // namespace vardel::sim
