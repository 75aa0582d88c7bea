#pragma once

#include "hw/kernel.h"
#include "hw/port_io.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vardel {

class Clock;

// How long a claim waits for another holder of the port before it gives up.
inline constexpr std::uint32_t kPortClaimWaitMs = 5000;

// A claim at close does not wait for another holder, but PPCLAIM still gets this long.
inline constexpr std::uint32_t kPortClaimMinMs = 100;

// What a real port needs besides its name: the kernel it reaches the port through, the clock it
// waits on, and where it says that it waits for another holder.
struct RealPortContext {
    Kernel& kernel;
    Clock& clock;
    std::function<void(const std::string&)> notice;
};

// A port of this machine, reached through the kernel as the context says; closing it drives its
// lines low unless told to leave them.
class RealPort : public PortIo {
public:
    void leaveLinesAtClose() override { leaveLines_ = true; }

protected:
    explicit RealPort(const RealPortContext& context) : context_(context) {}

    RealPortContext context_;
    bool leaveLines_ = false;
};

// A parallel port, through ppdev or directly: claimed for each chip operation, and looked at every
// so many accesses for a card that has gone.
class ParallelPort : public RealPort {
protected:
    using RealPort::RealPort;
    // Throws PortError outside a claim, and at every check interval when the port has gone.
    void access();
    virtual bool present() = 0;
    // At close: whether the lines are to be driven low, the port claimed for it if it is free
    // now (a port someone else holds is left to them).
    bool claimedToClose();

    bool claimed_ = false;
    unsigned accesses_ = 0;
    std::uint32_t waitMs_ = kPortClaimWaitMs;
};

// Linux ppdev: the device is opened once; the port is claimed for each chip operation (PPCLAIM,
// compatibility mode, data lines forward, every line low) and released between them. The data
// register is written with PPWDATA and the status register read with PPRSTATUS. Closing drives
// the lines low (unless told to leave them) and releases the port.
class PpdevPort final : public ParallelPort {
public:
    // Opens and claims the device: empty result and a message naming the device and the cause
    // when it cannot be used.
    static std::unique_ptr<PpdevPort> open(const std::string& device,
                                           const RealPortContext& context, std::string& error);
    ~PpdevPort() override;

    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override;
    std::string describe() const override;
    bool claim(std::string& error) override;
    void release() override;

private:
    PpdevPort(int fd, std::string device, const RealPortContext& context);
    // The port's entry under /proc/sys/dev/parport, empty when the device name does not tell it.
    std::string procEntry() const;
    bool present() override;
    [[noreturn]] void fail(const char* request, int err);

    int fd_;
    std::string device_;
    std::string name_; // "parport0"
    std::string base_; // "0x378", when the kernel tells it
};

// Direct register access with ioperm and outb/inb (root, x86 only), at one of the base addresses
// DirectAddressAllowed accepts. Where the kernel lists the port at that base address, each claim
// first claims it from the kernel through its ppdev device (so that neither the printer driver nor
// a ppdev user drives it meanwhile), and an ECP port's extended control register (base + 0x402) is
// put in PS/2 mode, where data writes reach the latch. The claim writes 0x00 to the data register
// before it clears the control register's data-direction bit (bit 5), so a byte left in the latch
// never reaches the lines; the release puts both registers back and lets the kernel have the port.
class DirectPort final : public ParallelPort {
public:
    static std::unique_ptr<DirectPort> open(std::uint16_t base, const RealPortContext& context,
                                            std::string& error);
    ~DirectPort() override;

    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override;
    std::string describe() const override;
    bool claim(std::string& error) override;
    void release() override;

private:
    DirectPort(std::uint16_t base, const RealPortContext& context)
        : ParallelPort(context), base_(base)
    {
    }
    // Gone when the port's /proc entry has gone; a port the kernel does not list is taken as there.
    bool present() override;
    std::uint16_t ecr() const { return static_cast<std::uint16_t>(base_ + 0x402); }

    std::uint16_t base_;
    std::string procEntry_; // the kernel's entry for this base address, when it lists one
    std::string device_;    // its ppdev device, when that opens
    int ppdevFd_ = -1;
    bool ppdevClaimed_ = false;
    bool ecp_ = false; // the kernel found an extended control register
    std::uint8_t savedControl_ = 0;
    std::uint8_t savedEcr_ = 0;
};

// A claim of a parport through its open ppdev device `fd`: under an advisory lock on the device
// (which every Vardel program takes to claim), the holder check of the port's devices/active
// entry and PPCLAIM, each bounded by `limitMs`. `beforeClaim` runs once the port is found free,
// just before PPCLAIM.
struct ParportClaim {
    enum Outcome { Claimed, Held, Failed } outcome = Claimed;
    std::string holder; // Held: who keeps the port, as devices/active names it
    int err = 0;        // Failed: PPCLAIM's errno
};
ParportClaim ClaimParport(const RealPortContext& context, int fd, const std::string& procEntry,
                          const std::string& port, std::uint32_t limitMs,
                          const std::function<void()>& beforeClaim = {});

// What a failed PPCLAIM means, as the kernel's ppdev gives its errno values.
std::string ClaimErrorText(const std::string& device, int err);

} // namespace vardel
