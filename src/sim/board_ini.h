#pragma once

#include "sim/sockets.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace vardel::sim {

// A key of board.ini with its value and the line it stands on, for messages.
struct BoardIniValue {
    std::string value;
    int line = 0;
};

// What board.ini says, or what is wrong with it: the first line (counted from 1) that cannot be
// understood and why; the keys are empty then.
struct BoardIni {
    std::map<std::string, BoardIniValue, std::less<>> keys;
    int errorLine = 0;
    std::string error;
    bool ok() const { return error.empty(); }
};

// board.ini holds one key=value a line, the keys of `sim show` and file.NAME for the file that
// holds a chip's memory NAME, each at most once. Blanks around
// the key and the value, blank lines and lines starting with '#' are allowed; the file is text of
// any line ending. Only the syntax and the names of the keys are checked here: whether a value
// fits is for the chips to say.
BoardIni ParseBoardIni(std::string_view text);

// The text the board writes for these keys: key=value lines in key order.
std::string BoardIniText(const ChipKeys& keys);

} // namespace vardel::sim
