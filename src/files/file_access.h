#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vardel {

// Every file the program reads or writes goes through here: the readers and writers of the image
// formats work on bytes in memory.

enum class ReadFailure {
    None,
    CannotOpen,  // missing, no permission
    NotAFile,    // a folder, a device, a FIFO: nothing with a known end
    ReadError,   // the system failed part way
    TooLarge,    // more than the caller can take
    OutOfMemory, // the content does not fit in memory
};

struct FileBytes {
    std::vector<std::uint8_t> bytes;
    ReadFailure failure = ReadFailure::None;
    bool ok() const { return failure == ReadFailure::None; }
};

// What a failure means, for a message after the file's name ("is a folder").
const char* ReadFailureReason(ReadFailure failure);

// How much of a file a caller takes.
enum class ReadLimit {
    Whole,  // the whole file, TooLarge when it holds more than the limit
    AtMost, // its first bytes up to the limit (a longer binary image keeps its start)
};

// Reads a regular file from its start to its end, or to the limit. Anything that is not a regular
// file is refused before a byte is read, so a folder, a FIFO or /dev/zero never passes for an
// image; the file is opened without blocking, so a FIFO with no writer does not hang the program.
FileBytes ReadWholeFile(const std::string& fileName, std::size_t limit,
                        ReadLimit how = ReadLimit::Whole);

// Makes the bytes the whole content of the file, or leaves it as it was. A symbolic link is
// followed and its target replaced; an existing file keeps its mode, and its owner and group where
// the process may set them. The new content is written to a temporary file beside the target,
// synced, renamed over it, and the folder is synced after the rename. Where the folder cannot take
// a new file but the file itself is writable, the file is rewritten in place. False, with the
// reason in error when asked, on any failure; no temporary file is left behind. `held`: the
// descriptor of the file under an exclusive flock (FileHold), which passes to the new content
// before it takes the name, so that no other holder finds the file free in between.
bool ReplaceFileContent(const std::string& fileName, const void* data, std::size_t size,
                        std::string* error = nullptr, int* held = nullptr);

// Appends the text to the end of the file, created when missing (then beginning with `header`),
// and syncs it to disk. Only a regular file is written. False, with the reason in error when
// asked, on any failure.
bool AppendToFile(const std::string& fileName, const std::string& text, const std::string& header,
                  std::string* error = nullptr);

// The signals that end a run of the programs: Ctrl-C, kill and a closed terminal.
inline constexpr std::initializer_list<int> kStopSignals{SIGINT, SIGTERM, SIGHUP};

// Installs `handler` for each of the signals, with sigaction's `flags`; while it runs, the others
// wait.
void HandleSignals(std::initializer_list<int> signalNumbers, void (*handler)(int), int flags);

// Removes the temporaries of unfinished saves when one of the signals arrives, then ends the
// process by that signal as it would have ended without the handler.
void RemoveTemporariesOnSignals(std::initializer_list<int> signalNumbers = kStopSignals);

// Removes the temporaries of unfinished saves at once, so that those saves fail; safe to call
// from a signal handler that lets the program end in its own time.
void RemoveUnfinishedTemporaries();

} // namespace vardel
