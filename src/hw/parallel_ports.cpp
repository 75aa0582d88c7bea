#include "hw/parallel_ports.h"

#include "hw/clock.h"
#include "hw/port_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#if defined(__linux__)
#include <linux/parport.h>
#include <linux/ppdev.h>
#endif

namespace vardel {

namespace {
std::string hexAddress(unsigned value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", value);
    return buf;
}

// The first line of a kernel file, without its line end; empty when the file is gone.
std::string firstLine(Kernel& kernel, const std::string& path)
{
    std::string text = kernel.readFile(path).value_or("");
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

// The port's presence is looked at every so many accesses (a few bytes of a transfer): a card
// pulled out leaves the kernel's dummy operations behind, which take every write and read 0.
constexpr unsigned kPresenceCheckAccesses = 256;

// The ECP extended control register in PS/2 mode (mode bits 001), error interrupt and service
// off: data writes reach the latch and the direction bit works.
constexpr std::uint8_t kEcrPs2 = 0x34;

// Who holds a parport now, from its "devices/active" entry; empty when nobody does (or the
// kernel does not say).
std::string holderOf(Kernel& kernel, const std::string& procEntry)
{
    if (procEntry.empty())
        return {};
    const std::string active = firstLine(kernel, procEntry + "/devices/active");
    return active == "none" ? std::string() : active;
}

// Waits, on the port's clock, up to `limitMs` for the holder of a port to let it go. Empty when
// it is free; else the holder that kept it.
std::string waitForHolder(const RealPortContext& context, const std::string& procEntry,
                          const std::string& port, std::uint32_t limitMs)
{
    std::string holder = holderOf(context.kernel, procEntry);
    if (holder.empty() || limitMs == 0)
        return holder;
    if (context.notice)
        context.notice(port + " is held by " + PortHolderText(holder) + "; waiting up to " +
                       std::to_string(kPortClaimWaitMs / 1000) + " s for it");
    for (std::uint32_t waited = 0; waited < limitMs && !holder.empty(); waited += 100) {
        context.clock.Sleep(100);
        holder = holderOf(context.kernel, procEntry);
    }
    return holder;
}

// Takes the advisory lock on an open ppdev device, waiting up to `limitMs` for another Vardel
// program that is claiming the port. A file system without locks is no reason to refuse.
bool lockDevice(const RealPortContext& context, int fd, const std::string& port,
                std::uint32_t limitMs)
{
    int r = context.kernel.flock(fd, LOCK_EX | LOCK_NB);
    if (r != -EWOULDBLOCK || limitMs == 0)
        return r != -EWOULDBLOCK;
    if (context.notice)
        context.notice(port + " is being claimed by another Vardel program; waiting up to " +
                       std::to_string(kPortClaimWaitMs / 1000) + " s for it");
    for (std::uint32_t waited = 0; waited < limitMs && r == -EWOULDBLOCK; waited += 100) {
        context.clock.Sleep(100);
        r = context.kernel.flock(fd, LOCK_EX | LOCK_NB);
    }
    return r != -EWOULDBLOCK;
}
} // namespace

ParportClaim ClaimParport(const RealPortContext& context, int fd, const std::string& procEntry,
                          const std::string& port, std::uint32_t limitMs,
                          const std::function<void()>& beforeClaim)
{
#if defined(__linux__)
    if (!lockDevice(context, fd, port, limitMs))
        return {ParportClaim::Held, kAnotherVardel, 0};
    // PPCLAIM sleeps for as long as another holder keeps the port, and holds ppdev's own mutex
    // while it sleeps: wait here instead, a bounded time, and say for whom. Another Vardel
    // program checks and claims under the same lock; a driver that comes in between only makes
    // the claim wait, and the claim is woken when the time is out.
    ParportClaim result;
    std::string holder = waitForHolder(context, procEntry, port, limitMs);
    if (holder.empty() && beforeClaim)
        beforeClaim();
    if (!holder.empty()) {
        result = {ParportClaim::Held, std::move(holder), 0};
    } else if (const int r = context.kernel.ioctlWithin(fd, PPCLAIM, nullptr,
                                                        limitMs ? limitMs : kPortClaimMinMs);
               r == -EINTR) {
        std::string now = holderOf(context.kernel, procEntry);
        result = now.empty() ? ParportClaim{ParportClaim::Failed, {}, EINTR}
                             : ParportClaim{ParportClaim::Held, std::move(now), 0};
    } else if (r < 0) {
        result = {ParportClaim::Failed, {}, -r};
    }
    context.kernel.flock(fd, LOCK_UN);
    return result;
#else
    (void)context;
    (void)fd;
    (void)procEntry;
    (void)port;
    (void)limitMs;
    (void)beforeClaim;
    return {ParportClaim::Failed, {}, ENOSYS};
#endif
}

std::string ClaimErrorText(const std::string& device, int err)
{
    const std::string what =
        "Parallel port " + device + " cannot be claimed (PPCLAIM: " + std::strerror(err) + "): ";
    switch (err) {
    case ENXIO:
        return what + "the kernel has no parallel port behind the device (the card is gone or "
                      "its driver is not loaded: modprobe parport_pc), or another program has "
                      "registered the port for itself alone";
    case ENOTTY:
    case EINVAL:
        if (IsUsbPrinterAdapter(device))
            return UsbPrinterAdapterText(device);
        return device +
               " is not a parallel port: it does not answer the ppdev claim request "
               "(PPCLAIM: " +
               std::strerror(err) +
               "). Run vardel-cli ports for the parallel ports of this machine";
    case EINTR:
        return what + "the wait for the port was cut short (another holder kept it longer than " +
               std::to_string(kPortClaimWaitMs / 1000) + " s, or a signal came)";
    case ENOMEM:
        return what + "the kernel had no memory for the port's registration";
    default:
        return what + "the kernel refused the claim";
    }
}

void ParallelPort::access()
{
    if (!claimed_)
        throw PortError(describe(), "the port is not claimed by this program");
    if (++accesses_ % kPresenceCheckAccesses == 0 && !present())
        throw PortError(describe(),
                        "the port has gone (its card was removed or its driver unloaded)");
}

bool ParallelPort::claimedToClose()
{
    if (leaveLines_)
        return false;
    std::string ignored;
    waitMs_ = 0;
    return claimed_ || claim(ignored);
}

PpdevPort::PpdevPort(int fd, std::string device, const RealPortContext& context)
    : ParallelPort(context), fd_(fd), device_(std::move(device))
{
    // The kernel's parport entry belongs to the device's own name (a link is followed).
    const std::string real = context_.kernel.resolve(device_);
    const std::string base = real.substr(real.rfind('/') + 1);
    if (base.rfind("parport", 0) == 0 && base.size() > 7)
        name_ = base;
    const std::string address = firstLine(context_.kernel, procEntry() + "/base-addr");
    if (!name_.empty() && !address.empty()) {
        try {
            base_ = hexAddress(static_cast<unsigned>(std::stoul(address)));
        } catch (...) {
        }
    }
}

std::string PpdevPort::procEntry() const
{
    return name_.empty() ? std::string() : std::string(kParportProc) + "/" + name_;
}

std::unique_ptr<PpdevPort> PpdevPort::open(const std::string& device,
                                           const RealPortContext& context, std::string& error)
{
#if defined(__linux__)
    if (IsUsbPrinterAdapter(device)) {
        error = UsbPrinterAdapterText(device) + ".";
        return nullptr;
    }
    const int fd = context.kernel.open(device, O_RDWR);
    if (fd < 0) {
        const int err = -fd;
        if (err == ENOENT)
            error = "Parallel port " + device +
                    " does not exist: is the parport_pc module loaded (modprobe parport_pc ppdev)? "
                    "Use --port sim to work with the simulated board.";
        else if (err == EACCES || err == EPERM) {
            const std::string group = context.kernel.ownerGroup(device);
            error = "Parallel port " + device + " cannot be opened: permission denied. " +
                    (group.empty() || group == "root"
                         ? std::string("Only root may open it; a udev rule can give it to the "
                                       "group lp.")
                         : "The device belongs to the group " + group +
                               ": add your user to it (sudo adduser $USER " + group +
                               ") and log in again.");
        } else if (err == ENXIO || err == ENODEV)
            error = "Parallel port " + device + " cannot be opened: " + std::strerror(err) +
                    ". Is the ppdev module loaded (modprobe ppdev)?";
        else
            error = "Parallel port " + device + " cannot be opened: " + std::strerror(err) + ".";
        return nullptr;
    }
    auto port = std::unique_ptr<PpdevPort>(new PpdevPort(fd, device, context));
    if (!port->claim(error))
        return nullptr;
    return port;
#else
    (void)context;
    error = "Parallel port " + device + " cannot be used: ppdev exists only on Linux.";
    return nullptr;
#endif
}

bool PpdevPort::claim(std::string& error)
{
#if defined(__linux__)
    if (claimed_)
        return true;
    Kernel& kernel = context_.kernel;
    const ParportClaim got = ClaimParport(context_, fd_, procEntry(), describe(), waitMs_);
    if (got.outcome == ParportClaim::Held) {
        error = "Parallel port " + device_ + " is held by " + PortHolderText(got.holder) +
                "; it was not let go within " + std::to_string(kPortClaimWaitMs / 1000) + " s.";
        return false;
    }
    if (got.outcome == ParportClaim::Failed) {
        error = ClaimErrorText(device_, got.err) + ".";
        return false;
    }
    claimed_ = true;
    // The board needs the plain compatibility mode with the data lines driven by the port: a port
    // left in a bidirectional mode by another program reads its own data lines back as inputs
    // and drives nothing onto the board.
    int mode = IEEE1284_MODE_COMPAT;
    int reverse = 0;
    unsigned char low = 0;
    const char* failed = nullptr;
    int r = kernel.ioctl(fd_, PPSETMODE, &mode);
    if (r < 0)
        failed = " cannot be set to compatibility mode (PPSETMODE): ";
    else if ((r = kernel.ioctl(fd_, PPDATADIR, &reverse)) < 0)
        failed = " cannot drive its data lines forward (PPDATADIR): ";
    // The kernel leaves the data lines as the last holder (or its own probe, 0xFF) left them:
    // on this board that is the chip's supply.
    else if ((r = kernel.ioctl(fd_, PPWDATA, &low)) < 0)
        failed = " does not take its data lines low (PPWDATA): ";
    if (failed) {
        release();
        error = "Parallel port " + device_ + failed + std::strerror(-r) +
                ". Is it a parallel port (a PCI card's port is often /dev/parport1)?";
        return false;
    }
    accesses_ = 0;
    return true;
#else
    error = "ppdev exists only on Linux.";
    return false;
#endif
}

void PpdevPort::release()
{
#if defined(__linux__)
    if (claimed_)
        context_.kernel.ioctl(fd_, PPRELEASE, nullptr);
#endif
    claimed_ = false;
}

PpdevPort::~PpdevPort()
{
#if defined(__linux__)
    if (claimedToClose()) {
        unsigned char low = 0;
        context_.kernel.ioctl(fd_, PPWDATA, &low);
    }
    release();
    context_.kernel.close(fd_);
#endif
}

bool PpdevPort::present()
{
    if (!name_.empty())
        return context_.kernel.readFile(procEntry() + "/base-addr").has_value();
    return context_.kernel.exists(device_);
}

void PpdevPort::fail(const char* request, int err)
{
    throw PortError(describe(), std::string(request) + std::strerror(err) + ")");
}

void PpdevPort::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value)
{
#if defined(__linux__)
    if (port == LptDataPort) {
        access();
        unsigned char v = value;
        if (const int r = context_.kernel.ioctl(fd_, PPWDATA, &v); r < 0)
            fail("writing the data lines failed (PPWDATA: ", -r);
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
        access();
        unsigned char v = 0;
        if (const int r = context_.kernel.ioctl(fd_, PPRSTATUS, &v); r < 0)
            fail("reading the status lines failed (PPRSTATUS: ", -r);
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

std::unique_ptr<DirectPort> DirectPort::open(std::uint16_t base, const RealPortContext& context,
                                             std::string& error)
{
    Kernel& kernel = context.kernel;
    if (const int r = kernel.ioperm(base, 3, true); r < 0) {
        const int err = -r;
        const std::string what = "Port " + hexAddress(base) +
                                 " cannot be reached directly (ioperm: " + std::strerror(err) +
                                 "). ";
        // Under lockdown the kernel refuses I/O port access to root as well.
        const std::string lockdown = kernel.readFile("/sys/kernel/security/lockdown").value_or("");
        if (err == EPERM && kernel.root() &&
            (lockdown.find("[integrity]") != std::string::npos ||
             lockdown.find("[confidentiality]") != std::string::npos))
            error = what +
                    "The kernel is locked down (Secure Boot, or lockdown= on its command line), "
                    "which denies direct port access to root as well; use --port "
                    "ppdev:/dev/parportN.";
        else if (err == ENOSYS)
            error = "Port " + hexAddress(base) + " cannot be reached directly on this machine.";
        else
            error = what + "Direct access needs root (or CAP_SYS_RAWIO); --port "
                           "ppdev:/dev/parport0 works for members of the 'lp' group.";
        return nullptr;
    }
    auto port = std::unique_ptr<DirectPort>(new DirectPort(base, context));
    for (const ParallelPortInfo& p : FindParallelPorts(
             kParportProc, "/dev", [](const std::string&) { return 0; }, kernel)) {
        if (!p.base || *p.base != base)
            continue;
        port->procEntry_ = std::string(kParportProc) + "/parport" + std::to_string(p.number);
        port->ecp_ =
            p.modes.find("ECP") != std::string::npos && kernel.ioperm(port->ecr(), 1, true) == 0;
        port->device_ = p.device;
        if (const int fd = kernel.open(p.device, O_RDWR); fd >= 0)
            port->ppdevFd_ = fd;
        else if (context.notice)
            context.notice("Port " + hexAddress(base) + ": " + p.device + " cannot be opened (" +
                           std::strerror(-fd) +
                           "), so the port is not claimed from the kernel; load ppdev "
                           "(modprobe ppdev) so that no driver writes under direct access");
        break;
    }
    if (!port->claim(error))
        return nullptr;
    return port;
}

bool DirectPort::claim(std::string& error)
{
    if (claimed_)
        return true;
    Kernel& kernel = context_.kernel;
    // 0x00 into the latch while the data lines are not yet driven: the kernel's claim drives
    // them forward (its state for the port), and so does clearing control bit 5 below. In the
    // ECP port's FIFO modes a data write goes to the FIFO, not the latch: PS/2 mode first, with
    // its interrupts and DMA off, as the kernel's own claim sets it.
    bool latched = false;
    auto latchZero = [&] {
        if (ecp_) {
            savedEcr_ = kernel.inb(ecr());
            if (savedEcr_ != kEcrPs2)
                kernel.outb(kEcrPs2, ecr());
        }
        kernel.outb(0x00, base_);
        latched = true;
    };
    // Direct access goes past the kernel's sharing of the port: the port is claimed from the
    // kernel through ppdev where it can be, else a port a driver holds is left to it, after the
    // same bounded wait a ppdev claim has.
    if (ppdevFd_ >= 0) {
        const ParportClaim got =
            ClaimParport(context_, ppdevFd_, procEntry_, describe(), waitMs_, latchZero);
        if (got.outcome == ParportClaim::Held) {
            error = "Port " + hexAddress(base_) + " is in use by " + PortHolderText(got.holder) +
                    "; direct access would write under it.";
            return false;
        }
        if (got.outcome == ParportClaim::Failed) {
            error = ClaimErrorText(device_, got.err) + ".";
            return false;
        }
        ppdevClaimed_ = true;
    } else if (const std::string holder = waitForHolder(context_, procEntry_, describe(), waitMs_);
               !holder.empty()) {
        error = "Port " + hexAddress(base_) + " is in use by " + PortHolderText(holder) +
                "; direct access would write under it.";
        return false;
    }
    if (!latched)
        latchZero();
    // The kernel's claim may have put back a mode of its own.
    if (ecp_ && kernel.inb(ecr()) != kEcrPs2)
        kernel.outb(kEcrPs2, ecr());
    // Control bit 5 set turns the data lines into inputs on a bidirectional port.
    savedControl_ = kernel.inb(static_cast<std::uint16_t>(base_ + 2));
    kernel.outb(0x00, base_);
    if (savedControl_ & 0x20)
        kernel.outb(static_cast<std::uint8_t>(savedControl_ & ~0x20),
                    static_cast<std::uint16_t>(base_ + 2));
    claimed_ = true;
    return true;
}

void DirectPort::release()
{
    Kernel& kernel = context_.kernel;
    if (claimed_ && (savedControl_ & 0x20))
        kernel.outb(savedControl_, static_cast<std::uint16_t>(base_ + 2));
    if (claimed_ && ecp_ && savedEcr_ != kEcrPs2)
        kernel.outb(savedEcr_, ecr());
#if defined(__linux__)
    if (ppdevClaimed_)
        kernel.ioctl(ppdevFd_, PPRELEASE, nullptr);
#endif
    ppdevClaimed_ = false;
    claimed_ = false;
}

DirectPort::~DirectPort()
{
    if (claimedToClose())
        context_.kernel.outb(0x00, base_);
    release();
    if (ppdevFd_ >= 0)
        context_.kernel.close(ppdevFd_);
    if (ecp_)
        context_.kernel.ioperm(ecr(), 1, false);
    context_.kernel.ioperm(base_, 3, false);
}

// A card the kernel knew loses its /proc entry when it goes; its registers then read 0xFF.
bool DirectPort::present()
{
    return procEntry_.empty() || context_.kernel.readFile(procEntry_ + "/base-addr").has_value();
}

// The registers keep their fixed numbers in the program; a board at another base address is
// reached by shifting them there. An I/O instruction has no way to fail: a base address where no
// port answers reads 0xFF, which the board check names.
void DirectPort::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value)
{
    access();
    context_.kernel.outb(value, static_cast<std::uint16_t>(base_ + (port - LptDataPort)));
}

std::uint8_t DirectPort::DlPortReadPortUchar(std::uint16_t port)
{
    access();
    return context_.kernel.inb(static_cast<std::uint16_t>(base_ + (port - LptDataPort)));
}

std::string DirectPort::describe() const
{
    return "parallel port at " + hexAddress(base_);
}

} // namespace vardel
