#include "files/file_access.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

namespace fs = std::filesystem;

// ---- Temporaries that a signal may have to remove ----
//
// The handler may only use async-signal-safe calls: it reads fixed slots and unlinks the names in
// them. A slot is filled before it is marked in use and unmarked before it is reused.
constexpr int kTemporarySlots = 8;
struct TemporarySlot {
    std::atomic<int> inUse{0};
    char name[PATH_MAX];
};
TemporarySlot temporaries[kTemporarySlots];

int RegisterTemporary(const std::string& name)
{
    if (name.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kTemporarySlots; ++i) {
        int expected = 0;
        // 2 marks a slot being filled: the handler skips it, as the file does not exist yet.
        if (temporaries[i].inUse.compare_exchange_strong(expected, 2)) {
            std::memcpy(temporaries[i].name, name.c_str(), name.size() + 1);
            temporaries[i].inUse.store(1);
            return i;
        }
    }
    return -1;
}

void ReleaseTemporary(int slot)
{
    if (slot >= 0)
        temporaries[slot].inUse.store(0);
}

void UnlinkTemporaries()
{
    for (TemporarySlot& slot : temporaries)
        if (slot.inUse.load() == 1)
            ::unlink(slot.name);
}

extern "C" void RemoveTemporariesAndDie(int signal)
{
    UnlinkTemporaries();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// ---- Reading ----

bool ReadAll(int fd, std::vector<std::uint8_t>& bytes, std::size_t limit, ReadFailure& failure)
{
    constexpr std::size_t kBlock = 64 * 1024;
    for (;;) {
        if (bytes.size() > limit)
            return true;
        const std::size_t want = std::min(kBlock, limit + 1 - bytes.size());
        const std::size_t used = bytes.size();
        bytes.resize(used + want);
        const ssize_t got = ::read(fd, bytes.data() + used, want);
        if (got < 0) {
            bytes.resize(used);
            if (errno == EINTR)
                continue;
            failure = ReadFailure::ReadError;
            return false;
        }
        bytes.resize(used + static_cast<std::size_t>(got));
        if (got == 0)
            return true;
    }
}

// ---- Writing ----

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void SetError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

std::string Reason(const std::string& what, int code)
{
    return what + ": " + std::strerror(code);
}

// The file a name finally stands for: symbolic links are followed one by one (a dangling link
// gives the name it points to, so saving creates the file the link expects).
fs::path FinalTarget(const fs::path& name)
{
    fs::path current = name;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::error_code ec;
        const fs::path link = fs::read_symlink(current, ec);
        if (ec)
            return current;
        current = link.is_absolute() ? link : current.parent_path() / link;
    }
    return current;
}

std::string TemporaryNameBeside(const fs::path& target)
{
    static std::mt19937 generator{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".tmp%08X", static_cast<unsigned>(generator()));
    return target.string() + suffix;
}

void SyncFolderOf(const fs::path& file)
{
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Rewrites an existing file through its own name: used where no new file can be made beside it.
bool ReplaceInPlace(const fs::path& target, const std::uint8_t* data, std::size_t size,
                    std::string* error)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        SetError(error, Reason("cannot write " + target.string(), errno));
        return false;
    }
    bool ok = WriteAll(fd, data, size) && ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
              ::fsync(fd) == 0;
    const int code = errno;
    if (::close(fd) != 0)
        ok = false;
    if (!ok)
        SetError(error, Reason("writing " + target.string() + " in place failed", code));
    return ok;
}

} // namespace

const char* ReadFailureReason(ReadFailure failure)
{
    switch (failure) {
    case ReadFailure::None:
        return "was read";
    case ReadFailure::CannotOpen:
        return "cannot be opened";
    case ReadFailure::NotAFile:
        return "is not a regular file";
    case ReadFailure::ReadError:
        return "could not be read to its end";
    case ReadFailure::TooLarge:
        return "is too large";
    case ReadFailure::OutOfMemory:
        return "does not fit in memory";
    }
    return "cannot be read";
}

FileBytes ReadWholeFile(const std::string& fileName, std::size_t limit, ReadLimit how)
{
    FileBytes result;
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        result.failure = ReadFailure::CannotOpen;
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        result.failure = ReadFailure::NotAFile;
        return result;
    }
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    if (how == ReadLimit::Whole && size > limit) {
        ::close(fd);
        result.failure = ReadFailure::TooLarge;
        return result;
    }
    try {
        // The size is a hint only: the file may change while it is read.
        result.bytes.reserve(std::min(size, limit) + 1);
        if (ReadAll(fd, result.bytes, limit, result.failure) && result.bytes.size() > limit) {
            if (how == ReadLimit::Whole)
                result.failure = ReadFailure::TooLarge;
            else
                result.bytes.resize(limit);
        }
    } catch (const std::bad_alloc&) {
        result.failure = ReadFailure::OutOfMemory;
    }
    ::close(fd);
    if (!result.ok())
        std::vector<std::uint8_t>().swap(result.bytes);
    return result;
}

bool ReplaceFileContent(const std::string& fileName, const void* content, std::size_t size,
                        std::string* error, int* held)
{
    if (fileName.empty()) {
        SetError(error, "no file name");
        return false;
    }
    const auto* data = static_cast<const std::uint8_t*>(content);
    const fs::path target = FinalTarget(fs::path(fileName));
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        SetError(error, target.string() + " is not a regular file");
        return false;
    }

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = TemporaryNameBeside(target);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int code = errno;
        // A folder the user may not add files to, holding a file the user may write.
        if (exists && (code == EACCES || code == EPERM || code == EROFS) &&
            ::access(target.c_str(), W_OK) == 0)
            return ReplaceInPlace(target, data, size, error);
        SetError(error, Reason("cannot create a file beside " + target.string(), code));
        return false;
    }
    const int slot = RegisterTemporary(temporary);

    bool ok = WriteAll(fd, data, size);
    int code = errno;
    if (ok) {
        if (exists) {
            // Only root may give a file away; a group the user belongs to is kept either way.
            if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
                ::fchown(fd, existing.st_uid, existing.st_gid) != 0)
                (void)!::fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
            ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ok = ::fchmod(fd, 0666 & ~mask) == 0;
        }
        code = errno;
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        code = errno;
    }
    // The new content is held before it takes the name; the hold on the old one ends after.
    int hold = -1;
    if (ok && held) {
        hold = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        ok = hold >= 0 && ::flock(hold, LOCK_EX | LOCK_NB) == 0;
        code = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        if (hold >= 0)
            ::close(hold);
        ::unlink(temporary.c_str());
        ReleaseTemporary(slot);
        SetError(error, Reason("cannot write " + target.string(), code));
        return false;
    }
    if (held) {
        ::close(*held);
        *held = hold;
    }
    ReleaseTemporary(slot);
    SyncFolderOf(target);
    return true;
}

void RemoveUnfinishedTemporaries()
{
    UnlinkTemporaries();
}

void HandleSignals(std::initializer_list<int> signalNumbers, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (const int s : signalNumbers)
        sigaddset(&action.sa_mask, s);
    for (const int s : signalNumbers)
        ::sigaction(s, &action, nullptr);
}

void RemoveTemporariesOnSignals(std::initializer_list<int> signalNumbers)
{
    // Further signals wait until the temporaries are gone.
    HandleSignals(signalNumbers, RemoveTemporariesAndDie, SA_RESETHAND);
}

bool AppendToFile(const std::string& fileName, const std::string& text, const std::string& header,
                  std::string* error)
{
    int fd = ::open(fileName.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0 && errno == EACCES)
        fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        SetError(error, Reason("cannot open " + fileName, errno));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        SetError(error, fileName + " is not a regular file");
        return false;
    }
    const bool created = info.st_size == 0;
    // A line cut short before (a crash, a full disk) is ended, so the next one starts whole.
    char last = '\n';
    if (!created && ::pread(fd, &last, 1, info.st_size - 1) != 1)
        last = '\n';
    // One write for the whole line, so that two programs appending to the log never mix lines.
    const std::string all = (created ? header : std::string()) + (last == '\n' ? "" : "\n") + text;
    bool ok = WriteAll(fd, reinterpret_cast<const std::uint8_t*>(all.data()), all.size()) &&
              ::fsync(fd) == 0;
    const int code = errno;
    // A line written in part is taken back: the file holds whole lines or none of this one.
    if (!ok && ::ftruncate(fd, info.st_size) == 0)
        ::fsync(fd);
    if (::close(fd) != 0 && ok) {
        SetError(error, Reason("cannot write " + fileName, errno));
        return false;
    }
    if (!ok) {
        SetError(error, Reason("cannot write " + fileName, code));
        return false;
    }
    if (created)
        SyncFolderOf(fs::path(fileName));
    return true;
}

} // namespace vardel
