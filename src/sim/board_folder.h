#pragma once

#include <chrono>
#include <map>
#include <string>

namespace vardel::sim {

class SimBoard;

// The board keeps its chips in a folder between runs: "board.ini" names what sits in each socket
// (the keys of `sim show`) and the chips keep their memories beside it. One process at a time
// uses a folder, as one program at a time claims a parallel port.
//
// The folder changes as one: a changed memory is written under a new name (flash-7.bin), and
// board.ini, which names the files it belongs with (file.flash.bin=flash-7.bin), replaces the old
// one in a single rename as the last step. Whatever stops a save, the folder holds the board as
// it was before or as it is after; files that no board.ini names are removed at the next save.
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

    // For tests of stopped saves: the process is killed (SIGKILL) once saves have written this
    // many files in all; -1: never.
    void killAfterWrites(long files) { killAfter_ = files; }

private:
    std::string dir_;
    int fd_ = -1;
    // The folder's content as last loaded or saved: the memories by their own names (flash.bin)
    // and board.ini's keys without the file names.
    std::map<std::string, std::string> files_;
    // The file that holds each memory in the folder (flash.bin -> flash-7.bin).
    std::map<std::string, std::string> stored_;
    long killAfter_ = -1;
};

} // namespace vardel::sim
