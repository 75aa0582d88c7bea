#pragma once

#include "hw/port_io.h"

#include <memory>
#include <string>

namespace vardel {

// Linux ppdev: the port is opened and claimed once, the data register written with PPWDATA and
// the status register read with PPRSTATUS; released and closed when the object goes.
class PpdevPort final : public PortIo {
public:
    // Empty result and a message naming the device and the likely cause when it cannot be used.
    static std::unique_ptr<PpdevPort> open(const std::string& device, std::string& error);
    ~PpdevPort() override;

    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override;
    std::string describe() const override;

private:
    PpdevPort(int fd, std::string device) : fd_(fd), device_(std::move(device)) {}
    int fd_;
    std::string device_;
    std::string base_; // "0x378", when the kernel tells it
};

// Direct register access with ioperm and outb/inb (root, x86 only).
class DirectPort final : public PortIo {
public:
    static std::unique_ptr<DirectPort> open(std::uint16_t base, std::string& error);
    ~DirectPort() override;

    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override;
    std::string describe() const override;

private:
    explicit DirectPort(std::uint16_t base) : base_(base) {}
    std::uint16_t base_;
};

} // namespace vardel
