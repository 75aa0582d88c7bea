#pragma once

#include <cstdint>
#include <string>

namespace vardel {

// The two registers of the first parallel port that the board uses.
constexpr std::uint16_t LptDataPort = 0x378;
constexpr std::uint16_t LptStatusPort = 0x379;

// One way of reaching the port's registers. Exactly one backend is chosen when a program starts;
// only the line driver calls it.
class PortIo {
public:
    virtual ~PortIo() = default;
    virtual void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t DlPortReadPortUchar(std::uint16_t port) = 0;
    // What the user is told about the board in use ("parallel port /dev/parport0", ...).
    virtual std::string describe() const = 0;
};

} // namespace vardel
