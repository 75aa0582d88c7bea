#pragma once

#include <chrono>
#include <map>
#include <string>

namespace vardel::sim {

class SimBoard;

// The board keeps its chips in a folder between runs: "board.ini" names what sits in each socket
// (the keys of `sim show`) and the chips keep their memories beside it. One process at a time
// uses a folder, as one program at a time claims a parallel port.
class BoardFolder {
public:
    // ~/.local/share/vardel/board (the user's data folder).
    static std::string defaultFolder();

    explicit BoardFolder(std::string dir);
    ~BoardFolder();
    BoardFolder(const BoardFolder&) = delete;
    BoardFolder& operator=(const BoardFolder&) = delete;

    const std::string& dir() const { return dir_; }

    // Creates the folder when missing and takes it for this process, waiting up to `wait` while
    // another process has it; false and a message naming the folder when it stays taken. The
    // claim ends with release() or with the process.
    bool claim(std::chrono::milliseconds wait, std::string& error);
    void release();
    bool claimed() const { return fd_ >= 0; }

    // Puts the chips the folder describes into the board's sockets; a folder without board.ini
    // starts with a 24C256 holding a greeting and a factory-fresh ATmega128. A chip the folder
    // holds as it was last loaded or saved stays in its socket as it is. On an error (naming the
    // file, and the line of board.ini) the board keeps its chips and nothing is written.
    bool load(SimBoard& board, std::string& error);
    // Writes the files whose content the board has changed since the folder was last loaded or
    // saved, and removes those of chips taken out; nothing when nothing changed.
    bool save(const SimBoard& board, std::string& error);

private:
    std::string dir_;
    int fd_ = -1;
    // The folder's files as last loaded or saved, by name.
    std::map<std::string, std::string> files_;
};

} // namespace vardel::sim
