#include "files/file_hold.h"

#include "files/file_access.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vardel {

FileHold::~FileHold()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileHold::hold(const std::string& fileName, std::chrono::milliseconds wait, std::string& error)
{
    if (fd_ >= 0)
        return true;
    for (;;) {
        const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            error = fileName + " cannot be opened: " + std::strerror(errno);
            return false;
        }
        if (const int e = WaitForFlock(fd, wait)) {
            const std::string holder = e == EWOULDBLOCK ? FlockHolderOf(fd) : std::string();
            ::close(fd);
            error = e == EWOULDBLOCK
                        ? fileName + " is in use by " +
                              (holder.empty() ? std::string("another program") : holder) +
                              " (waited " +
                              std::to_string(
                                  std::chrono::duration_cast<std::chrono::seconds>(wait).count()) +
                              " s for it)"
                        : fileName + " cannot be held: " + std::strerror(e);
            return false;
        }
        // A holder that saved the file meanwhile gave the name to new content: hold that.
        struct stat opened {
        }, named{};
        if (::fstat(fd, &opened) == 0 && ::stat(fileName.c_str(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            fd_ = fd;
            name_ = fileName;
            return true;
        }
        ::close(fd);
    }
}

int WaitForFlock(int fd, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        if (e == EINTR)
            continue;
        if (e != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            return e;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

bool FileHold::replace(const void* data, std::size_t size, std::string* error)
{
    return ReplaceFileContent(name_, data, size, error, &fd_);
}

std::string FlockHolderOf(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"
        std::istringstream words(line);
        std::string number, kind, mode, access, pid, where;
        words >> number >> kind >> mode >> access >> pid >> where;
        if (kind != "FLOCK" || where != file || pid == std::to_string(::getpid()))
            continue;
        std::string name;
        std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
        return (name.empty() ? std::string("a program") : name) + " (process " + pid + ")";
    }
    return {};
}

} // namespace vardel
