#pragma once

#include <string>

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
};

} // namespace vardel::sim
