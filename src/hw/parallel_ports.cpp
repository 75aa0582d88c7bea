#include "hw/parallel_ports.h"

#include "hw/port_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/parport.h>
#include <linux/ppdev.h>
#endif
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define VARDEL_HAVE_IOPERM 1
#endif

namespace vardel {

namespace {
std::string hexAddress(unsigned value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", value);
    return buf;
}
} // namespace

std::unique_ptr<PpdevPort> PpdevPort::open(const std::string& device, std::string& error)
{
#if defined(__linux__)
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT)
            error = "Parallel port " + device +
                    " does not exist: is the parport_pc module loaded (modprobe parport_pc ppdev)? "
                    "Use --port sim to work with the simulated board.";
        else if (err == EACCES || err == EPERM)
            error = "Parallel port " + device +
                    " cannot be opened: permission denied. Add your "
                    "user to the 'lp' group (sudo adduser $USER lp) and log in again.";
        else if (err == ENXIO || err == ENODEV)
            error = "Parallel port " + device + " cannot be opened: " + std::strerror(err) +
                    ". Is the ppdev module loaded (modprobe ppdev)?";
        else
            error = "Parallel port " + device + " cannot be opened: " + std::strerror(err) + ".";
        return nullptr;
    }
    if (::ioctl(fd, PPCLAIM) != 0) {
        const int err = errno;
        ::close(fd);
        // ENOTTY (or EINVAL): the device takes no ppdev requests at all, so it is no parallel
        // port, and no driver is in the way.
        if (err == ENOTTY || err == EINVAL) {
            error = device +
                    " is not a parallel port: it does not answer the ppdev claim "
                    "request (PPCLAIM: " +
                    std::strerror(err) +
                    "). Run vardel-cli ports for the parallel ports of this machine.";
            return nullptr;
        }
        error = "Parallel port " + device + " cannot be claimed: " + std::strerror(err) +
                ". Another driver may hold the port: unload the printer driver (rmmod lp) or "
                "close the program that uses it.";
        return nullptr;
    }
    // The board needs the plain compatibility mode with the data lines driven by the port: a port
    // left in a bidirectional mode by another program reads its own data lines back as inputs
    // and drives nothing onto the board.
    int mode = IEEE1284_MODE_COMPAT;
    const char* failed = nullptr;
    if (::ioctl(fd, PPSETMODE, &mode) != 0)
        failed = " cannot be set to compatibility mode (PPSETMODE): ";
    int reverse = 0;
    if (!failed && ::ioctl(fd, PPDATADIR, &reverse) != 0)
        failed = " cannot drive its data lines forward (PPDATADIR): ";
    if (failed) {
        const int err = errno;
        ::ioctl(fd, PPRELEASE);
        ::close(fd);
        error = "Parallel port " + device + failed + std::strerror(err) +
                ". Is it a parallel port (a PCI card's port is often /dev/parport1)?";
        return nullptr;
    }
    auto port = std::unique_ptr<PpdevPort>(new PpdevPort(fd, device));
    // The kernel's parport information gives the base address, which tells an on-board port
    // from a card's.
    const std::string name = device.substr(device.rfind('/') + 1);
    for (const ParallelPortInfo& p :
         FindParallelPorts("/proc/sys/dev/parport", "/dev", [](const std::string&) { return 0; }))
        if (p.base && "parport" + std::to_string(p.number) == name)
            port->base_ = hexAddress(*p.base);
    return port;
#else
    error = "Parallel port " + device + " cannot be used: ppdev exists only on Linux.";
    return nullptr;
#endif
}

PpdevPort::~PpdevPort()
{
#if defined(__linux__)
    ::ioctl(fd_, PPRELEASE);
    ::close(fd_);
#endif
}

void PpdevPort::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value)
{
#if defined(__linux__)
    if (port == LptDataPort) {
        unsigned char v = value;
        if (::ioctl(fd_, PPWDATA, &v) != 0)
            throw PortError(describe(), std::string("writing the data lines failed (PPWDATA: ") +
                                            std::strerror(errno) + ")");
    }
#else
    (void)port;
    (void)value;
#endif
}

std::uint8_t PpdevPort::DlPortReadPortUchar(std::uint16_t port)
{
#if defined(__linux__)
    if (port == LptStatusPort) {
        unsigned char v = 0;
        if (::ioctl(fd_, PPRSTATUS, &v) != 0)
            throw PortError(describe(),
                            std::string("reading the status lines failed (PPRSTATUS: ") +
                                std::strerror(errno) + ")");
        return v;
    }
#endif
    (void)port;
    return 0xFF;
}

std::string PpdevPort::describe() const
{
    return "parallel port " + device_ + (base_.empty() ? "" : " at " + base_);
}

std::unique_ptr<DirectPort> DirectPort::open(std::uint16_t base, std::string& error)
{
#ifdef VARDEL_HAVE_IOPERM
    if (::ioperm(base, 3, 1) != 0) {
        const int err = errno;
        error = "Port " + hexAddress(base) + " cannot be reached directly: " + std::strerror(err) +
                ". Direct access needs root (or CAP_SYS_RAWIO); " +
                "--port ppdev:/dev/parport0 works for members of the 'lp' group.";
        return nullptr;
    }
    return std::unique_ptr<DirectPort>(new DirectPort(base));
#else
    error = "Port " + hexAddress(base) + " cannot be reached directly on this machine.";
    return nullptr;
#endif
}

DirectPort::~DirectPort()
{
#ifdef VARDEL_HAVE_IOPERM
    ::ioperm(base_, 3, 0);
#endif
}

// The registers keep their fixed numbers in the program; a board at another base address is
// reached by shifting them there. An I/O instruction has no way to fail: a base address where no
// port answers reads 0xFF, which the board check names.
void DirectPort::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value)
{
#ifdef VARDEL_HAVE_IOPERM
    outb(value, static_cast<std::uint16_t>(base_ + (port - LptDataPort)));
#else
    (void)port;
    (void)value;
#endif
}

std::uint8_t DirectPort::DlPortReadPortUchar(std::uint16_t port)
{
#ifdef VARDEL_HAVE_IOPERM
    return inb(static_cast<std::uint16_t>(base_ + (port - LptDataPort)));
#else
    (void)port;
    return 0xFF;
#endif
}

std::string DirectPort::describe() const
{
    return "parallel port at " + hexAddress(base_);
}

} // namespace vardel
