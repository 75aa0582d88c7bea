#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace vardel {

// An exclusive hold on a file for as long as the object lives: an flock on the file itself, so it
// ends with the process however the process ends, and holds on a shared folder where the system
// passes flocks on. A second holder waits up to its limit, then fails naming the holder where this
// machine knows it. Saved through replace(), the new content is held before it takes the name.
class FileHold {
public:
    FileHold() = default;
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;
    ~FileHold();

    // False, with the reason in `error`, when the file cannot be opened or another holder keeps
    // it for longer than `wait`.
    bool hold(const std::string& fileName, std::chrono::milliseconds wait, std::string& error);
    bool held() const { return fd_ >= 0; }
    // The file's whole content replaced (ReplaceFileContent), the hold kept.
    bool replace(const void* data, std::size_t size, std::string* error);

private:
    std::string name_;
    int fd_ = -1;
};

// Takes an exclusive flock on the open file, waiting up to `wait` for another holder: 0, or the
// errno that ended the wait (EWOULDBLOCK: still held when the wait was over).
int WaitForFlock(int fd, std::chrono::milliseconds wait);

// "vardel-cli (process 1234)" for the process holding an flock on the open file, or "" when
// this machine does not know one.
std::string FlockHolderOf(int fd);

} // namespace vardel
