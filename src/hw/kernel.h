#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

// The few calls through which the real ports reach the kernel: a device's open, ioctl and close,
// reads of the kernel's /proc and /sys files, and the x86 port instructions of direct access. The
// ports use nothing else, so that tests put a double of the kernel behind them.
class Kernel {
public:
    virtual ~Kernel() = default;
    // A file descriptor, or -errno.
    virtual int open(const std::string& path, int flags) = 0;
    // The ioctl's result, or -errno.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    // An ioctl that may sleep in the kernel (PPCLAIM while another holds the port), woken by a
    // signal after `limitMs`: its result, -EINTR when the time ran out.
    virtual int ioctlWithin(int fd, unsigned long request, void* argument,
                            std::uint32_t limitMs) = 0;
    // flock(2) on an open device (LOCK_EX | LOCK_NB, LOCK_UN): 0 or -errno.
    virtual int flock(int fd, int operation) = 0;
    virtual void close(int fd) = 0;
    // A /proc or /sys file's text, or nothing when it cannot be read (gone, no such entry).
    virtual std::optional<std::string> readFile(const std::string& path) = 0;
    // The names in a folder (/dev, /dev/usb, /sys/...), sorted; empty when there is none.
    virtual std::vector<std::string> listFolder(const std::string& path) = 0;
    // Whether a path exists, and the name of the group that owns it (empty when unknown).
    virtual bool exists(const std::string& path) = 0;
    virtual std::string ownerGroup(const std::string& path) = 0;
    // The path with every link resolved (a /sys device link shows the bus the device sits on).
    virtual std::string resolve(const std::string& path) = 0;
    virtual bool root() = 0;
    // Direct port access: 0 or -errno; then the port instructions themselves.
    virtual int ioperm(unsigned long from, unsigned long count, bool on) = 0;
    virtual void outb(std::uint8_t value, std::uint16_t port) = 0;
    virtual std::uint8_t inb(std::uint16_t port) = 0;
};

// The machine's own kernel.
Kernel& SystemKernel();

} // namespace vardel
